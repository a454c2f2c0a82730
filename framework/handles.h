// Thin owners of Win32 handles: each closes what it holds when it goes, and none can be copied.
#pragma once

#include <windows.h>

namespace fw {

// A kernel object opened with CreateFile and friends (closed = INVALID_HANDLE_VALUE).
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) { Close(); h_ = h; }
    void Close() {
        if (IsOpen()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// An open registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // False (and nothing held) when the key cannot be opened with that access.
    bool Open(HKEY parent, const char* path, REGSAM access) {
        Close();
        if (RegOpenKeyExA(parent, path, 0, access, &h_) == ERROR_SUCCESS) return true;
        h_ = nullptr;
        return false;
    }
    bool IsOpen() const { return h_ != nullptr; }
    HKEY get() const { return h_; }
    void Close() {
        if (h_) RegCloseKey(h_);
        h_ = nullptr;
    }

private:
    HKEY h_ = nullptr;
};

}  // namespace fw
