// CFis: a private copy of one modem firmware image and the entries of its information block.
//
// The block is a directory of {code, length, bytes} entries at image offset 0x4000, ended by a code
// byte 0xFF; most entries point at an area elsewhere in the image. The image's last two bytes hold
// the 16-bit sum of all its other bytes, kept right after every change. Nothing here includes a
// Windows header except the file I/O (fis_file.cpp), so the decoding also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fis {

constexpr size_t kDirectoryOffset = 0x4000;
constexpr size_t kCisAreaSize = 256;

enum Code : int {
    kCodeFwInfo = 0x01,
    kCodeInline = 0x02,
    kCodeCis = 0x10,
    kCodeVersion = 0x20,
    kCodeText1 = 0x21,
    kCodeText2 = 0x22,
    kCodeText3 = 0x23,
    kCodeTextPair = 0x24,
    kCodeText5 = 0x25,
    kCodeSettings = 0x30,
};

// Byte 0x4000 is 1 and "FWINFO" stands at 0x4002.
bool IsFisImage(const uint8_t* image, size_t size);

// The sum of all bytes but the last two, modulo 65536; StoreChecksum writes it there (little-endian).
uint16_t ImageChecksum(const uint8_t* image, size_t size);
void StoreChecksum(uint8_t* image, size_t size);

// The value of the first entry with `code` into `out` (at most `capacity` bytes). `length` gets the
// value's length as the entry kind defines it: the used length (0x10), -1 (0x20), area size - 1
// (0x21 to 0x23, 0x25), both text lengths + 2 (0x24), the area size (0x30), else the entry length.
// Codes: 0, 65 no such entry, 66 not an information-block image, 68 the value does not fit
// `capacity`, 69 the entry describes no area inside the image. On failure nothing is written.
int GetItem(const uint8_t* image, size_t size, int code, uint8_t* out, size_t capacity, int* length);

// Rewrites the value of the first entry with `code` and stores the checksum. Codes: 0, 66, 67 no
// such entry or a code that cannot be set, 68 the value does not fit its item, 69 no area. A failed
// set leaves the image as it was. Codes 2 and 0x20 cannot be set: the request only checks the entry
// the way a get would and changes nothing.
int SetItem(uint8_t* image, size_t size, int code, const uint8_t* value, size_t length);

}  // namespace fis

class CFis {
public:
    CFis() = default;
    virtual ~CFis() = default;
    CFis(const CFis&) = delete;
    CFis& operator=(const CFis&) = delete;

    bool IsLoaded() const { return loaded_; }

    // Reads a whole information-block image file (opened read-only): 0, 66 not such an image, 65
    // the file cannot be opened, sized or read.
    int LoadFile(const char* path);
    // Takes a copy of `size` bytes of a caller's image: 0, or 65 for no data or no memory.
    int Attach(const void* image, int size);
    int GetSize() const { return loaded_ ? static_cast<int>(image_.size()) : -1; }
    // The whole image with all changes: 0, 65 nothing held, 68 `capacity` is smaller than the image.
    int CopyOut(void* buffer, int capacity) const;
    // Writes the image over an existing file: 0, 65 nothing held, 64 cannot be opened or written.
    int SaveFile(const char* path) const;

    int Get(int code, void* buffer, int capacity, int* length) const;
    int Set(int code, const void* value, int length);

    static bool IsFisImage(const void* image, int size);
    static bool IsFisFile(const char* path);
    void UpdateChecksum();

private:
    bool loaded_ = false;
    std::vector<uint8_t> image_;
};
