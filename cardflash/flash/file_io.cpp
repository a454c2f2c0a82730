#include "cardflash/flash/file_io.h"

#include <new>

namespace fwio {

bool File::OpenRead(const char* path) {
    Close();
    h_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
}

bool File::OpenWrite(const char* path) {
    Close();
    h_ = CreateFileA(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
    return IsOpen();
}

bool File::Create(const char* path) {
    Close();
    h_ = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
}

void File::Close() {
    if (IsOpen()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
}

bool File::Size(uint32_t* size) const {
    DWORD high = 0;
    const DWORD low = GetFileSize(h_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0) return false;
    *size = low;
    return true;
}

bool File::Seek(uint32_t offset) {
    LONG high = 0;
    const DWORD pos = SetFilePointer(h_, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return !(pos == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool File::ReadExact(void* buffer, uint32_t length) {
    DWORD got = 0;
    return ReadFile(h_, buffer, length, &got, nullptr) && got == length;
}

uint32_t File::ReadUpTo(void* buffer, uint32_t length) {
    DWORD got = 0;
    return ReadFile(h_, buffer, length, &got, nullptr) ? got : 0;
}

bool File::WriteAll(const void* buffer, uint32_t length) {
    DWORD put = 0;
    return WriteFile(h_, buffer, length, &put, nullptr) && put == length;
}

bool File::Truncate() { return Seek(0) && SetEndOfFile(h_); }

bool ReadWholeFile(const char* path, std::vector<uint8_t>* data) {
    File f;
    uint32_t size = 0;
    if (!f.OpenRead(path) || !f.Size(&size) || size > kMaxFileSize) return false;
    try {
        data->assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return size == 0 || f.ReadExact(data->data(), size);
}

namespace {

class Find {
public:
    explicit Find(const char* pattern) : h_(FindFirstFileA(pattern, &data_)) {}
    ~Find() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    Find(const Find&) = delete;
    Find& operator=(const Find&) = delete;
    bool Found() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Next() { return FindNextFileA(h_, &data_) != 0; }
    const WIN32_FIND_DATAA& Data() const { return data_; }

private:
    WIN32_FIND_DATAA data_{};
    HANDLE h_;
};

}  // namespace

std::vector<std::string> FindFiles(const char* pattern) {
    std::vector<std::string> names;
    Find find(pattern);
    if (!find.Found()) return names;
    do {
        const WIN32_FIND_DATAA& d = find.Data();
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        names.emplace_back(d.cFileName);
    } while (find.Next());
    return names;
}

}  // namespace fwio
