// What the tests of the running remover share: a fixture installation under C:\rmtest (each case
// runs in a throw-away prefix of its own), shortcuts, registry fixtures, and the program driven
// through its boxes and its dialog; the restart question is always answered No.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "remover/resource.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/shortcut.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

namespace rmtest {

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline void Put(const std::string& path, const std::string& content = "x") {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void Dir(const std::string& path) {
    // Every level, as "mkdir -p".
    for (size_t at = 3; at <= path.size(); ++at)
        if (at == path.size() || path[at] == '\\') CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

using winetest::MakeShortcut;

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// A REG_DWORD, or -1 when the value is missing.
inline long DwordValue(HKEY root, const std::string& path, const std::string& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return -1;
    DWORD v = 0, size = sizeof(v), type = 0;
    LONG rc = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? static_cast<long>(v) : -1;
}

// The NT list of files to delete at the next start, one string per entry ("" between pairs).
inline std::vector<std::string> PendingRenames() {
    std::vector<std::string> out;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &k) !=
        ERROR_SUCCESS)
        return out;
    std::vector<char> buf(65536);
    DWORD size = static_cast<DWORD>(buf.size()), type = 0;
    if (RegQueryValueExA(k, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                         &size) == ERROR_SUCCESS) {
        for (DWORD at = 0; at < size;) {
            std::string s(buf.data() + at);
            out.push_back(s);
            at += static_cast<DWORD>(s.size()) + 1;
        }
    }
    RegCloseKey(k);
    return out;
}

inline std::string WindowsFolder() {
    char w[MAX_PATH];
    GetWindowsDirectoryA(w, sizeof(w));
    return w;
}

struct Box {
    std::string caption, text;
};

class RemoverTest : public ::testing::Test {
public:
    static constexpr const char* kRoot = "C:\\rmtest";

protected:

    static std::string Exe() { return winetest::ProgramFolder() + "\\remover.exe"; }
    static std::string Recorder() { return winetest::ProgramFolder() + "\\..\\standins\\startrecorder.exe"; }

    void SetUp() override {
        // The harness runs these cases in a prefix of their own; remover must never restart it.
        ASSERT_GT(GetEnvironmentVariableA("REMOVER_NO_RESTART", nullptr, 0), 0u);
        Dir(kRoot);
    }

    void Start(const std::string& args, const std::string& version = "win2k", const std::string& folder = "") {
        ASSERT_TRUE(winetest::SetProgramVersion("remover.exe", version));
        ASSERT_TRUE(p_.Start(Exe(), args, folder)) << p_.last_error();
    }

    // The next message box, answered with `answer`; caption "<none>" when none came.
    Box Answer(int answer = IDOK, DWORD timeout = 20000) {
        HWND box = ui::WaitMessageBox(p_.pid(), timeout);
        if (!box) return {"<none>", ""};
        Box b{ui::Text(box), ui::MessageBoxText(box)};
        ui::Click(box, answer);
        ui::WaitGone(box);
        return b;
    }

    // Presses Finish on the uninstall dialog and answers the report that follows with OK; gives
    // the report's text ("<no dialog>" when the dialog never came).
    std::string Finish() {
        HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall");
        if (!dlg) return "<no dialog>";
        ui::Click(dlg, IDOK);
        return Answer(IDOK, 30000).text;
    }

    DWORD ExitCode() {
        EXPECT_TRUE(p_.Wait(20000));
        return p_.exit_code();
    }

    winetest::Process p_;
};

}  // namespace rmtest
