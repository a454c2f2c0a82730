#include "cardflash/flash/pak_file.h"

#include <cstring>
#include <vector>

#include "cardflash/flash/file_io.h"
#include "cardflash/flash/fis.h"
#include "cardflash/flash/fw_codes.h"

bool CPakFile::ReadHeader(const char* path) {
    uint8_t block[pak::kHeaderBlockSize];
    fwio::File f;
    if (!f.OpenRead(path)) return false;
    // A small file is read as far as it goes; the decoder checks that everything lies inside it.
    const uint32_t got = f.ReadUpTo(block, sizeof block);
    pak::Header h;
    CString name, description;
    if (!pak::DecodeHeaderBlock(block, got, &h, &name, &description)) return false;
    header_ = h;
    name_ = name;
    description_ = description;
    version_text_ = pak::VersionText(h.version);
    loaded_ = true;
    return true;
}

namespace {

// The whole file and the start of its image.
bool LoadImageFile(const char* path, std::vector<uint8_t>* file, size_t* image_offset) {
    return fwio::ReadWholeFile(path, file) && pak::FindImage(file->data(), file->size(), image_offset);
}

}  // namespace

bool CPakFile::GetImageLength(const char* path, int* length) {
    *length = -1;
    std::vector<uint8_t> file;
    size_t offset = 0;
    if (!ReadHeader(path) || !LoadImageFile(path, &file, &offset)) return false;
    *length = static_cast<int>(file.size() - offset);
    return true;
}

int CPakFile::ReadImage(const char* path, void* buffer, int capacity) {
    std::vector<uint8_t> file;
    size_t offset = 0;
    if (!ReadHeader(path) || !LoadImageFile(path, &file, &offset)) return fwcode::kPakReadFailed;
    const size_t length = file.size() - offset;
    if (!buffer || capacity < 0 || static_cast<size_t>(capacity) < length) return fwcode::kPakReadFailed;
    if (length) std::memcpy(buffer, file.data() + offset, length);
    return fwcode::kOk;
}

int CPakFile::CheckImageInfo(const char* path) {
    std::vector<uint8_t> file;
    size_t offset = 0;
    if (!ReadHeader(path) || !LoadImageFile(path, &file, &offset)) return fwcode::kPakNoImageLength;
    CFis fis;
    const int length = static_cast<int>(file.size() - offset);
    if (fis.Attach(file.data() + offset, length) != 0 || !CFis::IsFisImage(file.data() + offset, length))
        return 1;
    // Item 0x30 is a binary field of up to 65535 bytes.
    std::vector<uint8_t> value(65536);
    int value_length = 0;
    return fis.Get(fis::kCodeSettings, value.data(), static_cast<int>(value.size()), &value_length) == 0
               ? fwcode::kOk
               : fwcode::kPakNoVersionItem;
}

bool CPakFile::ModelTableMatches(const CString& pnp_id, bool name_must_match) const {
    for (unsigned int id = kPakModelTableFirstRow;; ++id) {
        CString row;
        if (!row.LoadText(id)) return false;
        row.MakeUpper();
        if (pak::ModelRowMatches(row, name_, pnp_id, name_must_match)) return true;
    }
}

bool CPakFile::IsForCard(const char* path, const CString& pnp_id) {
    if (!loaded_ && !ReadHeader(path)) return false;
    return ModelTableMatches(pnp_id, true);
}

bool CPakFile::IsKnownModel(const CString& pnp_id) { return ModelTableMatches(pnp_id, false); }

int CPakList::Scan(const CString& folder) {
    folder_ = folder;
    if (folder_.GetLength() > 3) folder_ += '\\';
    for (const std::string& name : fwio::FindFiles(folder_ + "*.PAK")) files_.Add(CString(name));
    return 1;
}

bool ReadPakHeader(const char* path, pak::Header* header) {
    uint8_t bytes[pak::kHeaderSize];
    fwio::File f;
    return f.OpenRead(path) && f.ReadExact(bytes, sizeof bytes) &&
           pak::DecodeHeader(bytes, sizeof bytes, header);
}

uint32_t GetPakDataTotal(const char* path) {
    std::vector<uint8_t> file;
    uint32_t total = 0;
    if (!fwio::ReadWholeFile(path, &file) || !pak::DataTotal(file.data(), file.size(), &total)) return 0;
    return total;
}

bool ReadPakEntry(const char* path, const pak::Header& header, int index, pak::Entry* entry) {
    if (index < 0) return false;
    uint8_t bytes[pak::kEntrySize];
    fwio::File f;
    const uint64_t pos = header.table_offset + static_cast<uint64_t>(index) * pak::kEntrySize;
    if (pos > 0xFFFFFFFFu || !f.OpenRead(path) || !f.Seek(static_cast<uint32_t>(pos)) ||
        !f.ReadExact(bytes, sizeof bytes))
        return false;
    pak::DecodeEntry(bytes, entry);
    return true;
}
