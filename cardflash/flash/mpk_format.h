// The .MPK firmware package: a 433-byte header, then records of 208 bytes each followed by its
// 16-byte sub-records, which point at the sections (image, patch list, CIS block, add-on image,
// modem settings). Decoding, validation, the image build and the .PAK encoding work over bytes
// only and include no Windows header, so they also build natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/cstring.h"

namespace mpk {

constexpr size_t kHeaderSize = 433;
constexpr size_t kRecordSize = 208;
constexpr size_t kSubRecordSize = 16;
constexpr size_t kSettingsHeaderSize = 357;
constexpr uint16_t kFormatVersion = 2;

enum Kind : uint32_t {
    kKindNone = 0,
    kKindCis = 1,
    kKindPatchList = 2,
    kKindImage = 3,
    kKindSettings9x = 4,
    kKindSettingsNt = 5,
    kKindAddOnImage = 9,
};

struct SubRecord {
    uint32_t kind = 0;
    uint32_t length = 0;
    uint32_t offset = 0;  // absolute file offset of the section data
};

struct Record {
    uint8_t type = 0;
    CString name;          // the Plug and Play id the record serves, or a fixed name ("ISDN")
    uint16_t card_id = 0;  // for a written .PAK header
    uint8_t pak_variant = 0;  // byte 8 of a written .PAK header
    CString image_name;    // name of a written .PAK file
    CString description;
    std::vector<SubRecord> subs;

    // The first sub-record of `kind`, or null.
    const SubRecord* Find(uint32_t kind) const;
};

struct Directory {
    uint8_t sub_count = 0;
    std::vector<Record> records;
};

// The identifier "MPKFILEID" and format version 2 in the first 433 bytes.
bool IsPackageHeader(const uint8_t* data, size_t size);

// Bytes from the start of the file to the end of the last sub-record, from a checked header.
size_t DirectorySize(const uint8_t* header);

// Header and every record of a package whose first `size` bytes are `data` and whose whole length
// is `file_size`. Codes: 0; 150 not a package; 153 the records run past the bytes given, or a
// section lies outside the file, inside the header and records, over another section of its
// record, or (kinds 4 and 5) is shorter than its 357-byte header.
int DecodeDirectory(const uint8_t* data, size_t size, uint64_t file_size, Directory* directory);

// What a query looks for: a record name (compared without regard to case) or a record type.
struct Selection {
    CString name;           // empty: no name selected
    bool has_type = false;  // a type is selected only by SelectByType, so type 0 is a type too
    uint8_t type = 0;
};

// Index of the first record that the selection names, or -1.
int FindSelected(const Directory& directory, const Selection& selection);

// Builds the ready-to-flash image: the image's information block gets each patch-list item (codes
// 0x21 to 0x25; length 0 skipped) and the CIS block under code 0x10, with its checksum. Codes: 0;
// 153 a patch list that runs past its section; 159 a code that may not be patched; the
// information block's codes (65 to 69) as they come. `out` is written only on success.
int BuildImage(const std::vector<uint8_t>& image, const std::vector<uint8_t>& patch_list,
               const std::vector<uint8_t>& cis, std::vector<uint8_t>* out);

// Version of an add-on image from its record's description: from the digits before the first
// "." to the end ("ISDN Tamrisk V10.02" gives "10.02"); without a "." the whole description.
CString AddOnVersionText(const CString& description);

// A version text "major.minor" as the .PAK version word major * 256 + minor; 0 when the text is
// not two numbers around a ".".
uint16_t VersionWord(const CString& text);

// The .PAK file for a record: `head` gets the header, name, description and checksum, `body` the
// entries and their data (records of types 1 and 2: CIS block at 0x800 and image at 0x3000; types
// 3 and 5: image at 0x3000). False for any other record type, which carries no image entries.
bool EncodePak(const Record& record, uint16_t version, const std::vector<uint8_t>& cis,
               const std::vector<uint8_t>& image, std::vector<uint8_t>* head,
               std::vector<uint8_t>* body);

}  // namespace mpk
