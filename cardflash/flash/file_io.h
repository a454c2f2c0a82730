// Thin Win32 file handles for the firmware readers: every open is closed by its destructor, so a
// reader closes its file on every path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fwio {

// Files larger than this are not firmware files; refusing them keeps a bad path from eating memory.
constexpr uint32_t kMaxFileSize = 64u * 1024 * 1024;

class File {
public:
    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool OpenRead(const char* path);     // existing file, read-only, shared for reading
    bool OpenWrite(const char* path);    // existing file, write-only, truncated
    bool Create(const char* path);       // new or truncated file, write-only
    void Close();
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE; }

    bool Size(uint32_t* size) const;     // false for a file of 4 GiB or more
    bool Seek(uint32_t offset);
    bool ReadExact(void* buffer, uint32_t length);   // false on a short read
    uint32_t ReadUpTo(void* buffer, uint32_t length); // what was read; 0 on failure
    bool WriteAll(const void* buffer, uint32_t length);
    bool Truncate();                     // to zero length

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The whole file into `data`: false when it cannot be opened, sized (or is larger than
// kMaxFileSize), or read.
bool ReadWholeFile(const char* path, std::vector<uint8_t>* data);

// Names (without folder) of the files that match `pattern`, in the order the file system gives.
std::vector<std::string> FindFiles(const char* pattern);

}  // namespace fwio
