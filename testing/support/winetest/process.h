// A program started by a test: its handles, its exit, and its end when the test is over.
#pragma once

#include <windows.h>

#include <string>

namespace winetest {

// CreateProcessA for a test: when Wine refuses the start with ERROR_INTERNAL_ERROR (the new
// process ended before it finished starting, before any of its own code ran: Wine's trouble, seen
// under heavy load), it says so on standard error and tries once more. Any other failure, and a
// second refusal, is the caller's to report.
BOOL CreateTestProcess(const char* application, char* command_line, BOOL inherit_handles, DWORD flags,
                       const char* folder, STARTUPINFOA* startup, PROCESS_INFORMATION* info);

// The folder of the running test program ("Z:\...\build\testing\tests"), no trailing backslash.
std::string ProgramFolder();

class Process {
public:
    Process() = default;
    // A process still running is terminated. Whatever it started, and whatever is still running
    // of any program the test started, ends with the test program (one job for them all), also
    // when the test program itself is ended from outside.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts `exe` (a path) with the text after the program name; `folder` is the current
    // directory ("" for the test's own). False, with the Win32 error in last_error(), on failure.
    bool Start(const std::string& exe, const std::string& args = "", const std::string& folder = "");
    // Waits for the end; false on time-out. exit_code() is then valid.
    bool Wait(DWORD timeout_ms);
    void Terminate();
    bool running() const;

    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_; }
    DWORD exit_code() const { return exit_code_; }
    DWORD last_error() const { return error_; }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    DWORD exit_code_ = STILL_ACTIVE;
    DWORD error_ = 0;
};

}  // namespace winetest
