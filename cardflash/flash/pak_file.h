// CPakFile reads one .PAK firmware image file, CPakList lists the .PAK files of a folder, and the
// plain functions below serve the flash engine. Every query opens the file again and closes it on
// every path; nothing throws.
#pragma once

#include <cstdint>

#include "cardflash/flash/pak_format.h"
#include "framework/cstring.h"

// First string-table row of the model table: "model code,Plug and Play id part", one row per
// supported modem model, read until a row is missing.
constexpr unsigned int kPakModelTableFirstRow = 31500;

class CPakFile {
public:
    CPakFile() = default;
    virtual ~CPakFile() = default;

    // Reads the header, name and description from the file's first 256 bytes; FALSE (and nothing
    // changed) when the file cannot be read or is not a .PAK file.
    bool ReadHeader(const char* path);
    // Length of the firmware image that the file carries; -1 and FALSE when it cannot be found.
    bool GetImageLength(const char* path, int* length);
    // That image into `buffer` (room for `capacity` bytes): 0, or 130.
    int ReadImage(const char* path, void* buffer, int capacity);
    // 0 when the image's information block holds item 0x30, 121 when not, 122 when the image
    // cannot be found, 1 when the image has no information block.
    int CheckImageInfo(const char* path);
    // Whether the image is meant for the adapter with this Plug and Play id (reads the header first
    // when none is loaded).
    bool IsForCard(const char* path, const CString& pnp_id);
    // Whether the adapter is one of the modem models the program knows.
    bool IsKnownModel(const CString& pnp_id);

    bool IsLoaded() const { return loaded_; }
    uint16_t GetMagic() const { return header_.magic; }
    uint16_t GetFormat() const { return header_.format; }
    uint16_t GetVersion() const { return header_.version; }
    uint16_t GetCardId() const { return header_.card_id; }
    uint8_t GetVariant() const { return header_.variant; }
    uint8_t GetOptions() const { return header_.options; }
    uint16_t GetTableOffset() const { return header_.table_offset; }
    const CString& GetName() const { return name_; }
    const CString& GetDescription() const { return description_; }
    const CString& GetVersionText() const { return version_text_; }

private:
    bool ModelTableMatches(const CString& pnp_id, bool name_must_match) const;

    pak::Header header_;
    CString name_;
    CString description_;
    CString version_text_;
    bool loaded_ = false;
};

class CPakList {
public:
    CPakList() = default;
    virtual ~CPakList() = default;

    // Appends the name of every "*.PAK" file of the folder (a backslash is added to a folder longer
    // than three characters); the list is not cleared first. Always 1.
    int Scan(const CString& folder);

    const CString& GetFolder() const { return folder_; }
    const CStringArray& GetFiles() const { return files_; }

private:
    CString folder_;
    CStringArray files_;
};

// The flash engine's readers.
bool ReadPakHeader(const char* path, pak::Header* header);
uint32_t GetPakDataTotal(const char* path);  // 0 when the file cannot be read or is damaged
bool ReadPakEntry(const char* path, const pak::Header& header, int index, pak::Entry* entry);
// The card's id and variant against a header: 0 fits, 2 another card, 3 another variant.
inline int CheckPakForCard(uint16_t card_id, uint8_t card_variant, const pak::Header& header) {
    return pak::CheckForCard(card_id, card_variant, header);
}
