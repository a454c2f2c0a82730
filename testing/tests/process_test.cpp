// Programs a test starts, when the test program is ended from outside.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "winetest/process.h"

namespace {

std::string Temp(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name + "." + std::to_string(GetCurrentProcessId());
}

}  // namespace

// ctest's time-out ends a test program without its destructors: what it started ends with it, and
// does not go on beside the cases that run next.
TEST(ProcessEnd, ProgramsATestStartedEndWithTheTestProgram) {
    const std::string pidFile = Temp("processholder-pid");
    DeleteFileA(pidFile.c_str());
    winetest::Process holder;
    ASSERT_TRUE(holder.Start(winetest::ProgramFolder() + "\\processholder.exe",
                             "\"" + winetest::ProgramFolder() + "\\uiprobe.exe\" \"" + pidFile + "\""))
        << holder.last_error();
    DWORD pid = 0;
    for (int i = 0; i < 200 && !pid; ++i) {
        std::ifstream in(pidFile);
        if (!(in >> pid)) Sleep(50);
    }
    DeleteFileA(pidFile.c_str());
    ASSERT_NE(pid, 0u) << "the holder did not start its program";
    HANDLE program = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(WaitForSingleObject(program, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the program ended by itself";

    holder.Terminate();
    const bool ended = WaitForSingleObject(program, 10000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the program outlived the test program that started it";
    if (!ended) TerminateProcess(program, 1);
    CloseHandle(program);
}
