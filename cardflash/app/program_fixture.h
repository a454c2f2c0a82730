// What the tests of the running cardflash program share: a program folder of its own per case
// (the exe and the device database copied into it), starting the program as a given Windows
// version, and reading what it leaves behind (its settings file, and the log of the start-up's
// test host).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "winetest/process.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

#ifndef CARDFLASH_MACHINE_DIR
#error "CARDFLASH_MACHINE_DIR: the fixture machine's folder"
#endif

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Deletes a folder with everything in it.
inline void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = f.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &f));
        FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
}

inline std::string MachineFile(const std::string& name) { return std::string(CARDFLASH_MACHINE_DIR) + "/" + name; }

class CardflashTest : public ::testing::Test {
protected:
    void SetUp() override { MakeFolder("run"); }
    void TearDown() override {
        p_.Terminate();
        RemoveTree(folder_);
    }

    // A fresh program folder named `name` (blanks allowed) beside the test.
    void MakeFolder(const std::string& name) {
        if (!folder_.empty()) RemoveTree(folder_);
        folder_ = winetest::ProgramFolder() + "\\" + name;
        // A local server that the program had COM start keeps the folder as its current folder
        // until it ends, a few seconds after its last object.
        for (int i = 0; i < 150 && GetFileAttributesA(folder_.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
            RemoveTree(folder_);
            Sleep(100);
        }
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
        // The start-up's tests read what it found from the log of the detection host, which runs
        // the same start-up and writes the log in place of the main window.
        ASSERT_TRUE(
            CopyFileA((winetest::ProgramFolder() + "\\cardflash_detect_host.exe").c_str(), Exe().c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(MachineFile("QorvDevices.ini").c_str(), (folder_ + "\\QorvDevices.ini").c_str(), FALSE));
    }

    // The program itself, with its main window.
    void UseProgram() {
        ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\cardflash.exe").c_str(), Exe().c_str(), FALSE));
    }
    // The detection host with the drivers' stand-ins in its process.
    void UseStandinHost() {
        ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\cardflash_standin_host.exe").c_str(), Exe().c_str(), FALSE));
    }
    // What the stand-in host reports about the drivers once the program has ended.
    std::string StandinReport() const { return ReadFileText(folder_ + "\\standins.txt"); }

    std::string Exe() const { return folder_ + "\\cardflash.exe"; }
    std::string Ini() const { return folder_ + "\\cardflash.INI"; }
    std::string LogFile() const { return folder_ + "\\cardflash.LOG"; }
    std::string Log() const { return ReadFileText(LogFile()); }
    std::string CurLanguage() const {
        char buf[256] = {};
        GetPrivateProfileStringA("Application", "CurLanguage", "<none>", buf, sizeof(buf), Ini().c_str());
        return buf;
    }

    void Start(const std::string& version, const std::string& args = "") {
        ASSERT_TRUE(winetest::SetProgramVersion("cardflash.exe", version));
        ASSERT_TRUE(p_.Start(Exe(), args, folder_)) << p_.last_error();
    }
    // Runs the program to its end; its exit code.
    DWORD Run(const std::string& version, const std::string& args = "") {
        Start(version, args);
        if (::testing::Test::HasFatalFailure()) return 0xFFFFFFFF;
        EXPECT_TRUE(p_.Wait(60000)) << "cardflash did not end";
        return p_.exit_code();
    }

    std::string folder_;
    winetest::Process p_;
};

// The log holds `line` as one whole line.
inline bool HasLine(const std::string& log, const std::string& line) {
    std::string text = "\n" + log;
    size_t at = 0;
    while ((at = text.find("\n" + line, at)) != std::string::npos) {
        size_t end = at + 1 + line.size();
        if (end == text.size() || text[end] == '\r' || text[end] == '\n') return true;
        at = end;
    }
    return false;
}
