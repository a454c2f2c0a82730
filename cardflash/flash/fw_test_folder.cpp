// The Win32 side of the test builders: the scratch folder and reading and holding its files.
#include <windows.h>

#include <stdexcept>

#include "fw_test_files.h"

namespace fwtest {

TempFolder::TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int serial = 0;
    for (;;) {
        char name[MAX_PATH];
        wsprintfA(name, "%sfwtest_%lu_%d", base, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no temporary folder");
    }
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string f = path_ + "\\" + d.cFileName;
            SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(f.c_str());
        } while (FindNextFileA(h, &d));
        FindClose(h);
    }
    RemoveDirectoryA(path_.c_str());
}

std::string TempFolder::Write(const std::string& name, const Bytes& bytes) const {
    const std::string p = File(name);
    HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + p);
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
    return p;
}

Bytes ReadFileBytes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    Bytes b(GetFileSize(h, nullptr));
    DWORD got = 0;
    if (!b.empty()) ReadFile(h, b.data(), static_cast<DWORD>(b.size()), &got, nullptr);
    CloseHandle(h);
    return b;
}

ReadHolder::ReadHolder(const std::string& path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + path);
}
ReadHolder::~ReadHolder() { CloseHandle(handle_); }

}  // namespace fwtest
