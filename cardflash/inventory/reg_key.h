// An owned registry key handle, closed when the holder goes.
#pragma once

#include <windows.h>

class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG Open(HKEY root, const char* path, REGSAM access) {
        Close();
        return RegOpenKeyExA(root, path, 0, access, &key_);
    }
    void Reset(HKEY key) { Close(); key_ = key; }
    HKEY Release() { HKEY k = key_; key_ = nullptr; return k; }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};
