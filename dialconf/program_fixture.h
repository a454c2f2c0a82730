// What the tests of the running dialconf program share: its settings file beside it, serlink.ini
// in the Windows folder, the simulated adapter on a port pair, and starting the program as a
// given Windows version.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "dialconf/resource.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

using IniFile = std::map<std::string, std::map<std::string, std::string>>;

inline IniFile ReadIni(const std::string& path) {
    IniFile ini;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 1 && line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            ini[section];
        } else if (line.find('=') != std::string::npos) {
            ini[section][line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    return ini;
}

class DialconfTest : public ::testing::Test {
protected:
    static std::string Folder() { return winetest::ProgramFolder(); }
    static std::string Exe() { return Folder() + "\\dialconf.exe"; }
    static std::string Ini() { return Folder() + "\\dialconf.ini"; }
    static std::string Serlink() {
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, sizeof(windows));
        return std::string(windows) + "\\serlink.ini";
    }

    void SetUp() override {
        pairs_ = winetest::PortPairs();
        ASSERT_GE(pairs_.size(), 2u);
        DeleteFileA(Serlink().c_str());
        WriteIni("");
    }
    void TearDown() override {
        sim_.Stop();
        DeleteFileA(Ini().c_str());
        DeleteFileA(Serlink().c_str());
    }

    // The settings file as the installer leaves it, plus `more`.
    void WriteIni(const std::string& more) {
        std::ofstream out(Ini(), std::ios::trunc);
        out << "[Manufacturer]\n0=Dorvex Networks\n1=Q\n" << more;
    }
    IniFile Settings() { return ReadIni(Ini()); }

    // The adapter on port pair i (the program sees pairs_[i].a).
    void StartAdapter(size_t i = 0) { ASSERT_TRUE(sim_.Start(pairs_[i].b)); }
    const std::string& AdapterPort(size_t i = 0) const { return pairs_[i].a; }

    void Start(const std::string& version, const std::string& args = "") {
        ASSERT_TRUE(winetest::SetProgramVersion("dialconf.exe", version));
        ASSERT_TRUE(p_.Start(Exe(), args)) << p_.last_error();
    }
    // The next message box: its text; answered with OK.
    std::string AnswerMessageBox() {
        HWND box = ui::WaitMessageBox(p_.pid(), 30000);
        if (!box) return "<no message box>";
        std::string text = ui::MessageBoxText(box);
        ui::Click(box, IDOK);
        ui::WaitGone(box);
        return text;
    }
    DWORD ExitCode() {
        EXPECT_TRUE(p_.Wait(15000));
        return p_.exit_code();
    }
    // Start-up as far as the welcome dialog, with the adapter on the saved port.
    HWND OpenConfiguration(const std::string& version = "win98", const std::string& args = "") {
        StartAdapter();
        WriteIni("[COM PORT]\nPORT=" + AdapterPort() + "\n");
        Start(version, args);
        HWND welcome = ui::WaitDialog(p_.pid(), "Dorvex ISDN Configuration", 30000);
        if (!welcome) return nullptr;
        sim_.ClearLog();
        ui::Click(welcome, IDOK);
        return ui::WaitDialog(p_.pid(), "ISDN Tamrisk Configuration", 30000);
    }

    std::vector<winetest::PortPair> pairs_;
    isdnsim::IsdnSimulator sim_;
    winetest::Process p_;
};

constexpr DWORD kFailed = static_cast<DWORD>(-1);
