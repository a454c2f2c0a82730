// The crash guard of the test builds: a fault in our code ends the process with the exception's
// code and a line that names it, also inside callbacks that Wine would otherwise survive; the
// system's deliberate probing does not; freed heap memory reads as the free pattern.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "winetest/process.h"

namespace {

std::string Probe() { return winetest::ProgramFolder() + "\\crashprobe.exe"; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the probe with a crash log of the case's own: the line of a crash the case causes on
// purpose must not reach the run's own log (which fails the case).
class CrashGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string stem = std::string(temp) + "crashguard." + std::to_string(GetCurrentProcessId());
        log_ = stem + ".log";
        result_ = stem + ".txt";
        DeleteFileA(log_.c_str());
        DeleteFileA(result_.c_str());
        char run[MAX_PATH] = "";
        hadRunLog_ = GetEnvironmentVariableA("WINETEST_CRASH_LOG", run, MAX_PATH) > 0;
        runLog_ = run;
        SetEnvironmentVariableA("WINETEST_CRASH_LOG", log_.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("WINETEST_CRASH_LOG", hadRunLog_ ? runLog_.c_str() : nullptr);
        DeleteFileA(log_.c_str());
        DeleteFileA(result_.c_str());
    }
    DWORD Run(const std::string& mode) {
        winetest::Process p;
        if (!p.Start(Probe(), mode + " \"" + result_ + "\"")) return p.last_error();
        return p.Wait(30000) ? p.exit_code() : STILL_ACTIVE;
    }

    std::string log_, result_, runLog_;
    bool hadRunLog_ = false;
};

}  // namespace

TEST_F(CrashGuardTest, AFaultInOurCallbackEndsTheProcessAndSaysWhere) {
    struct Case {
        const char* mode;
        DWORD code;
        const char* line;
    } cases[] = {
        // A window procedure that another thread's SendMessage reaches: Wine's callback catches.
        {"window", 0xC0000005, "crash guard: access violation (0xc0000005) at 0x"},
        // The C runtime's memcpy with a bad source, called from a window procedure of ours.
        {"crt", 0xC0000005, "(in the C runtime, called from crashprobe.exe), reading 0x"},
        // A timer procedure that DispatchMessage calls.
        {"timer", 0xC0000094, "crash guard: integer division by zero (0xc0000094) at 0x"},
        // A use after free: the freed block reads as the heap's free pattern, which then faults.
        {"freed", 0xC0000005, "crash guard: access violation (0xc0000005) at 0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        DeleteFileA(log_.c_str());
        EXPECT_EQ(Run(c.mode), c.code);
        const std::string log = ReadAll(log_);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_NE(log.find("; the process ends"), std::string::npos) << log;
        if (std::string(c.mode) != "crt") {
            EXPECT_NE(log.find("(crashprobe.exe+0x"), std::string::npos) << log;
        }
    }
    EXPECT_EQ(ReadAll(result_), "feeefeee");
}

TEST_F(CrashGuardTest, TheSystemsOwnProbingGoesOn) {
    EXPECT_EQ(Run("probe"), 0u);
    EXPECT_EQ(ReadAll(result_), "probed");
    EXPECT_EQ(ReadAll(log_), "");
}
