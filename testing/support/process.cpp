#include "winetest/process.h"

#include <cstdio>
#include <vector>

namespace winetest {

BOOL CreateTestProcess(const char* application, char* command_line, BOOL inherit_handles, DWORD flags,
                       const char* folder, STARTUPINFOA* startup, PROCESS_INFORMATION* info) {
    // CreateProcess may change the command line it is given; the second try gets the same one.
    std::string line = command_line;
    if (CreateProcessA(application, command_line, nullptr, nullptr, inherit_handles, flags, nullptr, folder, startup,
                       info))
        return TRUE;
    if (GetLastError() != ERROR_INTERNAL_ERROR) return FALSE;
    std::fprintf(stderr, "winetest: Wine could not start %s (error 1359, the new process ended while starting); "
                         "starting it once more\n", application ? application : line.c_str());
    std::fflush(stderr);
    Sleep(200);
    std::vector<char> again(line.begin(), line.end());
    again.push_back(0);
    BOOL ok = CreateProcessA(application, again.data(), nullptr, nullptr, inherit_handles, flags, nullptr, folder,
                             startup, info);
    if (!ok) {
        DWORD error = GetLastError();
        std::fprintf(stderr, "winetest: the second start failed too (error %lu)\n", error);
        SetLastError(error);
    }
    return ok;
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

namespace {

// Every program a test starts, and every program those start, is in one job of the test program
// that ends them all when the test program ends. A test program ended from outside (ctest's
// time-out) runs no destructor, and a windowed program Wine starts is no child of it on the
// Linux side either: without the job such a program would go on in the shared prefix beside the
// cases that run next. The handle is never closed: the end of the test program closes it.
struct TestJob {
    HANDLE handle = nullptr;
    DWORD error = 0;  // why there is none
};

const TestJob& TheTestJob() {
    static const TestJob job = [] {
        TestJob j;
        j.handle = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!j.handle ||
            !SetInformationJobObject(j.handle, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
            j.error = GetLastError();
            if (j.handle) CloseHandle(j.handle);
            j.handle = nullptr;
        }
        return j;
    }();
    return job;
}

}  // namespace

Process::~Process() {
    if (running()) Terminate();
    if (process_) CloseHandle(process_);
}

bool Process::Start(const std::string& exe, const std::string& args, const std::string& folder) {
    if (process_) {
        if (running()) Terminate();
        CloseHandle(process_);
        process_ = nullptr;
    }
    std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    const HANDLE job = TheTestJob().handle;
    if (!job) {
        error_ = TheTestJob().error;
        return false;
    }
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateTestProcess(exe.c_str(), line.data(), FALSE, CREATE_SUSPENDED, folder.empty() ? nullptr : folder.c_str(),
                           &si, &pi)) {
        error_ = GetLastError();
        return false;
    }
    // In the job before its first instruction, so that whatever it starts is in the job too.
    if (!AssignProcessToJobObject(job, pi.hProcess)) {
        error_ = GetLastError();
        TerminateProcess(pi.hProcess, 0xDEAD);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return false;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    exit_code_ = STILL_ACTIVE;
    return true;
}

bool Process::Wait(DWORD timeout_ms) {
    if (!process_) return false;
    if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_, &exit_code_);
    return true;
}

void Process::Terminate() {
    if (!process_) return;
    TerminateProcess(process_, 0xDEAD);
    WaitForSingleObject(process_, 5000);
    GetExitCodeProcess(process_, &exit_code_);
}

bool Process::running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

}  // namespace winetest
