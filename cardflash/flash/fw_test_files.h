// Test-side builders of firmware files, written byte by byte from the file layouts (never through
// the readers), and a scratch folder for the files. The builders (fw_test_files.cpp) include no
// Windows header, so the native build makes its fuzz seeds with them; the folder and file helpers
// are Win32 (fw_test_folder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fwtest {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes* b, size_t at, uint16_t v);
void Put32(Bytes* b, size_t at, uint32_t v);
Bytes Le16(uint16_t v);
Bytes Le32(uint32_t v);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);  // without NUL
uint16_t Sum16(const Bytes& b, size_t begin, size_t end);

// A folder of its own under the temporary folder, emptied and removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    std::string Write(const std::string& name, const Bytes& bytes) const;  // returns the path

private:
    std::string path_;
};

Bytes ReadFileBytes(const std::string& path);  // empty when missing

// Holds a file open for reading and lets others only read it, as a reader on read-only media or
// another program would: while it lives, an open that asks for write access fails.
class ReadHolder {
public:
    explicit ReadHolder(const std::string& path);
    ~ReadHolder();
    ReadHolder(const ReadHolder&) = delete;
    ReadHolder& operator=(const ReadHolder&) = delete;

private:
    void* handle_;
};

// A firmware image with an information block at 0x4000: entry 1 "FWINFO" first, further entries
// in the order added, then 0xFF. The bytes below 0x4000 are a pattern, so the checksum covers
// something; Build() stores the checksum in the last two bytes.
class FisImage {
public:
    explicit FisImage(size_t size = 0x5000);
    FisImage& Entry(uint8_t code, const Bytes& body);
    FisImage& Cis(uint16_t used, uint32_t area);
    FisImage& Version(uint32_t at, const std::string& text);
    FisImage& TextItem(uint8_t code, uint16_t size, uint32_t area);  // 0x21-0x23, 0x25, 0x30
    FisImage& Pair(uint16_t size, uint32_t first, uint32_t second);
    FisImage& Put(uint32_t at, const Bytes& bytes);
    Bytes Build() const;
    size_t directory_end() const { return dir_; }

private:
    Bytes image_;
    size_t dir_;
};

// An image with one entry of every kind (0x02, 0x10, 0x20 to 0x25, 0x30 and an unknown 0x40);
// the areas sit in 0x4100-0x4FFF.
FisImage FullFisImage();

// A .PAK file: header (table offset computed), name, description, checksum, entries and data.
struct PakEntryLayout {
    uint16_t flags;
    uint32_t offset;
    uint32_t address;
    uint32_t length;
};
Bytes PakFile(uint16_t version, uint16_t card_id, uint8_t variant, uint8_t options,
              const std::string& name, const std::string& description,
              const std::vector<PakEntryLayout>& entries, const Bytes& data);
// Offset of the entry table of such a file.
inline size_t PakTableOffset(const std::string& name, const std::string& description) {
    return 18 + name.size() + 1 + description.size() + 1;
}

// An .MPK package. Sections are placed after the records in the order added, unless a sub-record
// is given an explicit offset and length.
struct MpkSection {
    uint32_t kind;
    Bytes data;
    bool explicit_place = false;
    uint32_t offset = 0;
    uint32_t length = 0;
};
struct MpkRecordLayout {
    uint8_t type;
    std::string name;
    uint16_t card_id;
    uint8_t variant;
    std::string image_name;
    std::string description;
    std::vector<MpkSection> sections;
};
Bytes MpkFile(uint8_t sub_count, const std::vector<MpkRecordLayout>& records);
constexpr size_t kMpkRecordsAt = 433;

}  // namespace fwtest
