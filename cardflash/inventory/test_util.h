// Small helpers of the inventory tests.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "winetest/process.h"

namespace invtest {

// A copy of a file at a place for the length of a test.
class PlacedFile {
public:
    PlacedFile(const std::string& from, const std::string& to) : to_(to) {
        placed_ = CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
    }
    ~PlacedFile() {
        if (placed_) DeleteFileA(to_.c_str());
    }
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;
    bool placed() const { return placed_; }

private:
    std::string to_;
    bool placed_ = false;
};

// A file in the temporary folder, removed afterwards.
class TempFile {
public:
    explicit TempFile(const std::string& name) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        path_ = std::string(dir) + name + "." + std::to_string(GetCurrentProcessId());
        DeleteFileA(path_.c_str());
    }
    ~TempFile() {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

    void Write(const std::string& bytes) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string Read() const {
        std::string out;
        std::FILE* f = std::fopen(path_.c_str(), "rb");
        if (!f) return out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }

private:
    std::string path_;
};

inline std::string Fixture(const std::string& name) { return winetest::ProgramFolder() + "\\" + name; }

// A file of the fixture machine (cardflash/testdata/machine, copied beside the build's folders).
inline std::string Machine(const std::string& name) {
    return winetest::ProgramFolder() + "\\..\\testdata\\machine\\" + name;
}

}  // namespace invtest
