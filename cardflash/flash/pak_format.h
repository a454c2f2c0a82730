// The .PAK firmware image file: a 12-byte header, name, description, checksum and a table of
// 14-byte entries, each a block of data with its flash address. Decoding over bytes only, no
// Windows header, so it also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/cstring.h"

namespace pak {

constexpr uint16_t kMagic = 0x4352;  // "RC"
constexpr uint16_t kFormatWord = 0x0103;
constexpr size_t kHeaderSize = 12;
constexpr size_t kEntrySize = 14;
constexpr size_t kHeaderBlockSize = 256;  // header, name and description lie within these bytes
constexpr uint16_t kFlagLast = 0x8000;
constexpr uint16_t kFlagCis = 0x0001;

struct Header {
    uint16_t magic = 0;
    uint16_t format = 0;
    uint16_t version = 0;   // major * 256 + minor
    uint16_t card_id = 0;
    uint8_t variant = 0;
    uint8_t options = 0;    // bit 0: fits every variant of the card
    uint16_t table_offset = 0;
};

struct Entry {
    uint16_t flags = 0;
    uint32_t data_offset = 0;
    uint32_t flash_address = 0;
    uint32_t length = 0;
};

// The 12 header bytes; false when fewer than 12 bytes are given or the magic is not 0x4352.
bool DecodeHeader(const uint8_t* data, size_t size, Header* header);
void EncodeHeader(const Header& header, uint8_t out[kHeaderSize]);
void DecodeEntry(const uint8_t* data, Entry* entry);  // 14 bytes
void EncodeEntry(const Entry& entry, uint8_t out[kEntrySize]);

// Header, name and description from the first bytes of a file (at most kHeaderBlockSize are
// looked at). The name is the text at offset 14, the description the text 3 bytes after the name's
// NUL; both must end inside the block. False for another magic or a block that does not hold them.
bool DecodeHeaderBlock(const uint8_t* data, size_t size, Header* header, CString* name,
                       CString* description);

// "major.minor" of a version word (0x0204 gives "2.4").
CString VersionText(uint16_t version);

// The checksum that follows the description: the sum of the header bytes, the name's bytes, the
// value n, the description's bytes and the value d (the texts without their NULs).
uint16_t Checksum(const uint8_t header[kHeaderSize], const CString& name, const CString& description);

// Start of the firmware image in a whole file: the data offset of the entry whose flags are exactly
// 0x8000. The walk ends at the first entry with bit 15 set, as the table does. False when the table
// has no such entry, runs past the file, or the offset lies past the end of the file.
bool FindImage(const uint8_t* file, size_t size, size_t* image_offset);

// The sum of the data lengths of the entries up to and including the first with bit 15 set; false
// when the table or an entry's data runs past the end of the file.
bool DataTotal(const uint8_t* file, size_t size, uint32_t* total);

// Whether a .PAK header fits a card: 0 yes; 2 another card (neither the header's id nor that id
// with bits 8-11 cleared); 3 another variant of the card, and the image is not for every variant.
int CheckForCard(uint16_t card_id, uint8_t card_variant, const Header& header);

// One row of the model table: "model code,Plug and Play id part", already upper-cased. With
// `name_must_match` the code must equal the .PAK name exactly; the id part must be contained in the
// adapter's id. Rows without a comma match nothing.
bool ModelRowMatches(const CString& row, const CString& pak_name, const CString& pnp_id,
                     bool name_must_match);

}  // namespace pak
