#include "cardflash/flash/pak_format.h"

#include <cstring>

namespace pak {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The text at `pos` when its NUL lies before `end`.
bool TextAt(const uint8_t* data, size_t pos, size_t end, CString* text, size_t* nul) {
    if (pos >= end) return false;
    const void* z = std::memchr(data + pos, 0, end - pos);
    if (!z) return false;
    *nul = static_cast<size_t>(static_cast<const uint8_t*>(z) - data);
    *text = CString(reinterpret_cast<const char*>(data + pos), static_cast<int>(*nul - pos));
    return true;
}

}  // namespace

bool DecodeHeader(const uint8_t* data, size_t size, Header* header) {
    if (!data || size < kHeaderSize || Le16(data) != kMagic) return false;
    header->magic = Le16(data);
    header->format = Le16(data + 2);
    header->version = Le16(data + 4);
    header->card_id = Le16(data + 6);
    header->variant = data[8];
    header->options = data[9];
    header->table_offset = Le16(data + 10);
    return true;
}

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    Put16(out, h.magic);
    Put16(out + 2, h.format);
    Put16(out + 4, h.version);
    Put16(out + 6, h.card_id);
    out[8] = h.variant;
    out[9] = h.options;
    Put16(out + 10, h.table_offset);
}

void DecodeEntry(const uint8_t* data, Entry* entry) {
    entry->flags = Le16(data);
    entry->data_offset = Le32(data + 2);
    entry->flash_address = Le32(data + 6);
    entry->length = Le32(data + 10);
}

void EncodeEntry(const Entry& e, uint8_t out[kEntrySize]) {
    Put16(out, e.flags);
    Put32(out + 2, e.data_offset);
    Put32(out + 6, e.flash_address);
    Put32(out + 10, e.length);
}

bool DecodeHeaderBlock(const uint8_t* data, size_t size, Header* header, CString* name,
                       CString* description) {
    const size_t end = size < kHeaderBlockSize ? size : kHeaderBlockSize;
    Header h;
    if (!DecodeHeader(data, end, &h)) return false;
    CString n, d;
    size_t name_nul = 0, desc_nul = 0;
    if (!TextAt(data, 14, end, &n, &name_nul) || !TextAt(data, name_nul + 3, end, &d, &desc_nul))
        return false;
    *header = h;
    *name = n;
    *description = d;
    return true;
}

CString VersionText(uint16_t version) {
    CString s;
    s.Format("%d.%d", version / 256, version % 256);
    return s;
}

uint16_t Checksum(const uint8_t header[kHeaderSize], const CString& name, const CString& description) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kHeaderSize; ++i) sum += header[i];
    for (int i = 0; i < name.GetLength(); ++i) sum += static_cast<uint8_t>(name[i]);
    sum += static_cast<uint32_t>(name.GetLength() + 1);
    for (int i = 0; i < description.GetLength(); ++i) sum += static_cast<uint8_t>(description[i]);
    sum += static_cast<uint32_t>(description.GetLength() + 1);
    return static_cast<uint16_t>(sum);
}

namespace {

// Walks the table to its last entry (bit 15); false when an entry runs past the file.
template <typename Visit>
bool WalkTable(const uint8_t* file, size_t size, Visit visit) {
    Header h;
    if (!DecodeHeader(file, size, &h)) return false;
    for (size_t pos = h.table_offset;; pos += kEntrySize) {
        if (pos > size || size - pos < kEntrySize) return false;
        Entry e;
        DecodeEntry(file + pos, &e);
        if (!visit(e)) return false;
        if (e.flags & kFlagLast) return true;
    }
}

}  // namespace

bool FindImage(const uint8_t* file, size_t size, size_t* image_offset) {
    bool found = false;
    size_t offset = 0;
    const bool walked = WalkTable(file, size, [&](const Entry& e) {
        if (e.flags == kFlagLast) {
            found = true;
            offset = e.data_offset;
        }
        return true;
    });
    if (!walked || !found || offset > size) return false;
    *image_offset = offset;
    return true;
}

bool DataTotal(const uint8_t* file, size_t size, uint32_t* total) {
    uint64_t sum = 0;
    const bool walked = WalkTable(file, size, [&](const Entry& e) {
        if (e.data_offset > size || e.length > size - e.data_offset) return false;
        sum += e.length;
        return true;
    });
    if (!walked || sum > 0xFFFFFFFFu) return false;
    *total = static_cast<uint32_t>(sum);
    return true;
}

int CheckForCard(uint16_t card_id, uint8_t card_variant, const Header& header) {
    if (card_id != header.card_id && card_id != (header.card_id & 0xF0FF)) return 2;
    if (card_variant == header.variant) return 0;
    if (header.options & 1) return 0;
    return 3;
}

bool ModelRowMatches(const CString& row, const CString& pak_name, const CString& pnp_id,
                     bool name_must_match) {
    const int comma = row.Find(',');
    if (comma < 0) return false;
    if (name_must_match && row.Left(comma) != pak_name) return false;
    return pnp_id.Find(row.Mid(comma + 1)) >= 0;
}

}  // namespace pak
