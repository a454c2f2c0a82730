#include "winetest/process.h"

#include <vector>

namespace winetest {

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

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
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        error_ = GetLastError();
        return false;
    }
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
