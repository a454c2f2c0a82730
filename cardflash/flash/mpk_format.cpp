#include "cardflash/flash/mpk_format.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/fw_codes.h"
#include "cardflash/flash/pak_format.h"

namespace mpk {
namespace {

constexpr size_t kIdOffset = 160;
constexpr size_t kVersionOffset = 170;
constexpr size_t kSubCountOffset = 174;
constexpr size_t kRecordCountOffset = 175;
const char kIdentifier[10] = "MPKFILEID";

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A NUL-terminated text in a fixed field, never read past the field.
CString FieldText(const uint8_t* p, size_t field) {
    const void* nul = std::memchr(p, 0, field);
    const size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : field;
    return CString(reinterpret_cast<const char*>(p), static_cast<int>(n));
}

}  // namespace

const SubRecord* Record::Find(uint32_t kind) const {
    for (const SubRecord& s : subs)
        if (s.kind == kind) return &s;
    return nullptr;
}

bool IsPackageHeader(const uint8_t* data, size_t size) {
    return data && size >= kHeaderSize && std::memcmp(data + kIdOffset, kIdentifier, 10) == 0 &&
           Le16(data + kVersionOffset) == kFormatVersion;
}

size_t DirectorySize(const uint8_t* header) {
    return kHeaderSize + static_cast<size_t>(header[kRecordCountOffset]) *
                             (kRecordSize + kSubRecordSize * header[kSubCountOffset]);
}

int DecodeDirectory(const uint8_t* data, size_t size, uint64_t file_size, Directory* directory) {
    if (!IsPackageHeader(data, size)) return fwcode::kMpkNotPackage;
    const size_t end = DirectorySize(data);
    if (size < end || file_size < end) return fwcode::kMpkReadFailed;
    Directory dir;
    dir.sub_count = data[kSubCountOffset];
    const size_t count = data[kRecordCountOffset];
    const uint8_t* p = data + kHeaderSize;
    for (size_t r = 0; r < count; ++r) {
        Record rec;
        rec.type = p[0];
        rec.name = FieldText(p + 1, 128);
        rec.card_id = Le16(p + 129);
        rec.pak_variant = p[131];
        rec.image_name = FieldText(p + 132, 16);
        rec.description = FieldText(p + 148, 60);
        p += kRecordSize;
        for (size_t i = 0; i < dir.sub_count; ++i, p += kSubRecordSize) {
            SubRecord s{Le32(p), Le32(p + 4), Le32(p + 8)};
            if (s.kind == kKindNone) continue;
            const uint64_t first = s.offset, last = first + s.length;
            if (first < end || last > file_size) return fwcode::kMpkReadFailed;
            if ((s.kind == kKindSettings9x || s.kind == kKindSettingsNt) && s.length < kSettingsHeaderSize)
                return fwcode::kMpkReadFailed;
            for (const SubRecord& o : rec.subs) {
                if (s.length == 0 || o.length == 0) continue;
                if (first < uint64_t{o.offset} + o.length && o.offset < last) return fwcode::kMpkReadFailed;
            }
            rec.subs.push_back(s);
        }
        dir.records.push_back(std::move(rec));
    }
    *directory = std::move(dir);
    return fwcode::kOk;
}

int FindSelected(const Directory& directory, const Selection& selection) {
    for (size_t i = 0; i < directory.records.size(); ++i) {
        const Record& r = directory.records[i];
        if (!selection.name.IsEmpty() && r.name.CompareNoCase(selection.name) == 0) return static_cast<int>(i);
        if (selection.has_type && r.type == selection.type) return static_cast<int>(i);
    }
    return -1;
}

int BuildImage(const std::vector<uint8_t>& image, const std::vector<uint8_t>& patch_list,
               const std::vector<uint8_t>& cis, std::vector<uint8_t>* out) {
    CFis fis;
    if (int rc = fis.Attach(image.data(), static_cast<int>(image.size()))) return rc;
    const uint8_t* p = patch_list.data();
    const size_t size = patch_list.size();
    if (size < 2) return fwcode::kMpkReadFailed;
    const size_t count = Le16(p);
    size_t pos = 2;
    for (size_t i = 0; i < count; ++i) {
        if (size - pos < 2) return fwcode::kMpkReadFailed;
        const uint8_t code = p[pos];
        const uint8_t length = p[pos + 1];
        pos += 2;
        if (code < fis::kCodeText1 || code > fis::kCodeText5) return fwcode::kMpkBadPatchCode;
        if (size - pos < length) return fwcode::kMpkReadFailed;
        if (length != 0) {
            if (int rc = fis.Set(code, p + pos, length)) return rc;
        }
        pos += length;
    }
    if (int rc = fis.Set(fis::kCodeCis, cis.data(), static_cast<int>(cis.size()))) return rc;
    std::vector<uint8_t> built;
    try {
        built.resize(image.size());
    } catch (const std::bad_alloc&) {
        return fwcode::kMpkOutOfMemory;
    }
    if (int rc = fis.CopyOut(built.data(), static_cast<int>(built.size()))) return rc;
    out->swap(built);
    return fwcode::kOk;
}

CString AddOnVersionText(const CString& description) {
    const int dot = description.Find('.');
    if (dot < 0) return description;
    int start = dot;
    while (start > 0 && description[start - 1] >= '0' && description[start - 1] <= '9') --start;
    if (start == dot && start > 0) --start;  // no digits: keep the character before the "."
    return description.Mid(start);
}

namespace {

// Digits as an unsigned 16-bit number (wrapping, as a 16-bit scan does); false when none.
bool ScanNumber(const CString& s, int* pos, uint16_t* value) {
    while (s[*pos] == ' ' || s[*pos] == '\t') ++*pos;
    int start = *pos;
    uint32_t v = 0;
    while (s[*pos] >= '0' && s[*pos] <= '9') v = (v * 10 + static_cast<uint32_t>(s[(*pos)++] - '0')) & 0xFFFF;
    *value = static_cast<uint16_t>(v);
    return *pos > start;
}

void Append16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

void AppendText(std::vector<uint8_t>* out, const CString& text) {
    out->insert(out->end(), text.c_str(), text.c_str() + text.GetLength() + 1);
}

void AppendEntry(std::vector<uint8_t>* out, uint16_t flags, uint32_t offset, uint32_t address,
                 uint32_t length) {
    uint8_t bytes[pak::kEntrySize];
    pak::EncodeEntry({flags, offset, address, length}, bytes);
    out->insert(out->end(), bytes, bytes + sizeof bytes);
}

}  // namespace

uint16_t VersionWord(const CString& text) {
    int pos = 0;
    uint16_t major = 0, minor = 0;
    if (!ScanNumber(text, &pos, &major) || text[pos] != '.') return 0;
    ++pos;
    if (!ScanNumber(text, &pos, &minor)) return 0;
    return static_cast<uint16_t>(major * 256 + minor);
}

bool EncodePak(const Record& record, uint16_t version, const std::vector<uint8_t>& cis,
               const std::vector<uint8_t>& image, std::vector<uint8_t>* head,
               std::vector<uint8_t>* body) {
    const bool with_cis = record.type == 1 || record.type == 2;
    if (!with_cis && record.type != 3 && record.type != 5) return false;

    const int n = record.image_name.GetLength() + 1;
    const int d = record.description.GetLength() + 1;
    pak::Header h;
    h.magic = pak::kMagic;
    h.format = pak::kFormatWord;
    h.version = version;
    h.card_id = record.type == 2 ? 0x1146 : record.card_id;
    h.variant = record.pak_variant;
    h.options = 4;
    h.table_offset = static_cast<uint16_t>(18 + n + d);
    uint8_t header[pak::kHeaderSize];
    pak::EncodeHeader(h, header);

    head->assign(header, header + sizeof header);
    Append16(head, static_cast<uint16_t>(n));
    AppendText(head, record.image_name);
    Append16(head, static_cast<uint16_t>(d));
    AppendText(head, record.description);
    Append16(head, pak::Checksum(header, record.image_name, record.description));

    body->clear();
    const uint32_t table = h.table_offset;
    const uint32_t image_length = static_cast<uint32_t>(image.size());
    if (with_cis) {
        const uint32_t cis_length = static_cast<uint32_t>(cis.size());
        AppendEntry(body, 0x0103, table + 28, 0x800, cis_length);
        AppendEntry(body, pak::kFlagLast, table + 28 + cis_length, 0x3000, image_length);
        body->insert(body->end(), cis.begin(), cis.end());
    } else {
        AppendEntry(body, pak::kFlagLast, table + 14, 0x3000, image_length);
    }
    body->insert(body->end(), image.begin(), image.end());
    return true;
}

}  // namespace mpk
