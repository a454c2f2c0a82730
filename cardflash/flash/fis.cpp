#include "cardflash/flash/fis.h"

#include <cstring>
#include <new>

#include "cardflash/flash/fw_codes.h"

namespace fis {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Entry {
    size_t pos;     // of the code byte
    uint8_t length;
    const uint8_t* body;
};

// The first entry with `code`. A directory that runs off the image without its 0xFF end, or an
// entry whose bytes pass the end, ends the walk as if the code were not there.
bool FindEntry(const uint8_t* image, size_t size, int code, Entry* entry) {
    size_t p = kDirectoryOffset;
    while (p + 2 <= size && image[p] != 0xFF) {
        const uint8_t length = image[p + 1];
        if (p + 2 + length > size) return false;
        if (image[p] == code) {
            *entry = {p, length, image + p + 2};
            return true;
        }
        p += 2 + static_cast<size_t>(length);
    }
    return false;
}

bool AreaInside(size_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

// An area descriptor: {u16 size, u32 offset} after `skip` unused bytes.
struct Area {
    size_t offset;
    size_t size;
};

bool TextArea(const Entry& e, Area* area) {
    if (e.length < 6) return false;
    area->size = Le16(e.body);
    area->offset = Le32(e.body + 2);
    return area->size > 0;
}

bool PairAreas(const Entry& e, Area* first, Area* second) {
    if (e.length < 12) return false;
    const size_t s = Le16(e.body + 2);
    *first = {Le32(e.body + 4), s};
    *second = {Le32(e.body + 8), s};
    return s > 0;
}

bool CisArea(const Entry& e, size_t* offset, size_t* used) {
    if (e.length < 10) return false;
    *used = Le16(e.body + 2);
    *offset = Le32(e.body + 6);
    return true;
}

// Characters of the text at `p`, up to its NUL and never more than `limit`.
size_t TextLength(const uint8_t* p, size_t limit) {
    const void* nul = std::memchr(p, 0, limit);
    return nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : limit;
}

int CheckHeld(const uint8_t* image, size_t size) {
    return IsFisImage(image, size) ? fwcode::kOk : fwcode::kFisNotFisImage;
}

}  // namespace

bool IsFisImage(const uint8_t* image, size_t size) {
    return image && size >= kDirectoryOffset + 8 && image[kDirectoryOffset] == 1 &&
           std::memcmp(image + kDirectoryOffset + 2, "FWINFO", 6) == 0;
}

uint16_t ImageChecksum(const uint8_t* image, size_t size) {
    uint32_t sum = 0;
    if (size < 2) return 0;
    for (size_t i = 0; i < size - 2; ++i) sum += image[i];
    return static_cast<uint16_t>(sum);
}

void StoreChecksum(uint8_t* image, size_t size) {
    if (size < 2) return;
    const uint16_t sum = ImageChecksum(image, size);
    image[size - 2] = static_cast<uint8_t>(sum);
    image[size - 1] = static_cast<uint8_t>(sum >> 8);
}

int GetItem(const uint8_t* image, size_t size, int code, uint8_t* out, size_t capacity,
            int* length) {
    if (int rc = CheckHeld(image, size)) return rc;
    Entry e;
    if (!FindEntry(image, size, code, &e)) return fwcode::kFisNoImage;
    int value_length = 0;
    switch (code) {
    case kCodeCis: {
        size_t offset, used;
        if (!CisArea(e, &offset, &used) || used > kCisAreaSize ||
            !AreaInside(size, offset, kCisAreaSize))
            return fwcode::kFisNoArea;
        if (used > capacity) return fwcode::kFisDoesNotFit;
        std::memcpy(out, image + offset, used);
        value_length = static_cast<int>(used);
        break;
    }
    case kCodeVersion: {
        if (e.length < 6) return fwcode::kFisNoArea;
        const size_t offset = Le32(e.body + 2);
        if (offset >= size) return fwcode::kFisNoArea;
        const size_t n = TextLength(image + offset, size - offset);
        if (n + 1 > capacity) return fwcode::kFisDoesNotFit;
        std::memcpy(out, image + offset, n);
        out[n] = 0;
        value_length = -1;
        break;
    }
    case kCodeText1:
    case kCodeText2:
    case kCodeText3:
    case kCodeText5: {
        Area a;
        if (!TextArea(e, &a) || !AreaInside(size, a.offset, a.size)) return fwcode::kFisNoArea;
        const size_t n = TextLength(image + a.offset, a.size - 1);
        if (n + 1 > capacity) return fwcode::kFisDoesNotFit;
        // Zero-filled up to the area size (as far as the caller's buffer goes), so a caller that
        // trusts the length reads the text and its padding, never stale bytes.
        const size_t fill = capacity < a.size ? capacity : a.size;
        std::memcpy(out, image + a.offset, n);
        std::memset(out + n, 0, fill - n);
        value_length = static_cast<int>(a.size) - 1;
        break;
    }
    case kCodeTextPair: {
        Area a1, a2;
        if (!PairAreas(e, &a1, &a2) || !AreaInside(size, a1.offset, a1.size) ||
            !AreaInside(size, a2.offset, a2.size))
            return fwcode::kFisNoArea;
        // Each text is at most 255 characters, so the value stays within two 256-byte texts.
        const size_t limit = a1.size < 256 ? a1.size : 255;
        const size_t n1 = TextLength(image + a1.offset, limit);
        const size_t n2 = TextLength(image + a2.offset, limit);
        if (n1 + n2 + 3 > capacity) return fwcode::kFisDoesNotFit;
        std::memcpy(out, image + a1.offset, n1);
        out[n1] = '@';
        out[n1 + 1] = '@';
        std::memcpy(out + n1 + 2, image + a2.offset, n2);
        out[n1 + 2 + n2] = 0;
        value_length = static_cast<int>(n1 + n2 + 2);
        break;
    }
    case kCodeSettings: {
        Area a;
        if (!TextArea(e, &a) || !AreaInside(size, a.offset, a.size)) return fwcode::kFisNoArea;
        if (a.size > capacity) return fwcode::kFisDoesNotFit;
        std::memcpy(out, image + a.offset, a.size);
        value_length = static_cast<int>(a.size);
        break;
    }
    default:
        if (e.length > capacity) return fwcode::kFisDoesNotFit;
        std::memcpy(out, e.body, e.length);
        value_length = e.length;
        break;
    }
    if (length) *length = value_length;
    return fwcode::kOk;
}

namespace {

// `text` may be null for an empty text (a caller clearing the item), which memcpy must not see.
void WriteText(uint8_t* image, const Area& a, const uint8_t* text, size_t n) {
    if (n) std::memcpy(image + a.offset, text, n);
    std::memset(image + a.offset + n, 0, a.size - n);
}

}  // namespace

int SetItem(uint8_t* image, size_t size, int code, const uint8_t* value, size_t length) {
    if (int rc = CheckHeld(image, size)) return rc;
    if (!value) length = 0;
    Entry e;
    if (!FindEntry(image, size, code, &e)) return fwcode::kFisCannotSet;
    switch (code) {
    case kCodeInline:
        return fwcode::kOk;
    case kCodeVersion:
        return e.length >= 6 && Le32(e.body + 2) < size ? fwcode::kOk : fwcode::kFisNoArea;
    case kCodeCis: {
        size_t offset, used;
        if (!CisArea(e, &offset, &used) || !AreaInside(size, offset, kCisAreaSize))
            return fwcode::kFisNoArea;
        if (length > kCisAreaSize) return fwcode::kFisDoesNotFit;
        if (length) std::memcpy(image + offset, value, length);
        std::memset(image + offset + length, 0xFF, kCisAreaSize - length);
        uint8_t* used_field = image + e.pos + 2 + 2;
        used_field[0] = static_cast<uint8_t>(length);
        used_field[1] = static_cast<uint8_t>(length >> 8);
        break;
    }
    case kCodeText1:
    case kCodeText2:
    case kCodeText3:
    case kCodeText5: {
        Area a;
        if (!TextArea(e, &a) || !AreaInside(size, a.offset, a.size)) return fwcode::kFisNoArea;
        const size_t n = length ? TextLength(value, length) : 0;
        if (n > a.size - 1) return fwcode::kFisDoesNotFit;
        WriteText(image, a, value, n);
        break;
    }
    case kCodeTextPair: {
        Area a1, a2;
        if (!PairAreas(e, &a1, &a2) || !AreaInside(size, a1.offset, a1.size) ||
            !AreaInside(size, a2.offset, a2.size))
            return fwcode::kFisNoArea;
        const size_t n = length ? TextLength(value, length) : 0;
        const uint8_t* text = value;
        size_t n1 = n;
        const uint8_t* second = nullptr;
        size_t n2 = 0;
        for (size_t i = 0; i + 1 < n; ++i) {
            if (text[i] == '@' && text[i + 1] == '@') {
                n1 = static_cast<size_t>(static_cast<const uint8_t*>(std::memchr(text, '@', n)) - text);
                second = text + i + 2;
                n2 = n - i - 2;
                break;
            }
        }
        if (n1 > a1.size - 1 || (second && n2 > a2.size - 1)) return fwcode::kFisDoesNotFit;
        WriteText(image, a1, text, n1);
        if (second) WriteText(image, a2, second, n2);
        break;
    }
    case kCodeSettings: {
        Area a;
        if (!TextArea(e, &a) || !AreaInside(size, a.offset, a.size)) return fwcode::kFisNoArea;
        // The field is copied whole: a shorter value would leave a mix of old and new settings.
        if (length < a.size) return fwcode::kFisDoesNotFit;
        for (size_t i = a.size; i < length; ++i)
            if (value[i] != 0) return fwcode::kFisDoesNotFit;
        std::memcpy(image + a.offset, value, a.size);
        break;
    }
    default:
        return fwcode::kFisCannotSet;
    }
    StoreChecksum(image, size);
    return fwcode::kOk;
}

}  // namespace fis

int CFis::Attach(const void* image, int size) {
    if (!image || size <= 0) return fwcode::kFisNoImage;
    try {
        image_.assign(static_cast<const uint8_t*>(image), static_cast<const uint8_t*>(image) + size);
    } catch (const std::bad_alloc&) {
        loaded_ = false;
        return fwcode::kFisNoImage;
    }
    loaded_ = true;
    return fwcode::kOk;
}

int CFis::CopyOut(void* buffer, int capacity) const {
    if (!loaded_) return fwcode::kFisNoImage;
    if (!buffer || capacity < 0 || static_cast<size_t>(capacity) < image_.size())
        return fwcode::kFisDoesNotFit;
    std::memcpy(buffer, image_.data(), image_.size());
    return fwcode::kOk;
}

int CFis::Get(int code, void* buffer, int capacity, int* length) const {
    if (!loaded_) return fwcode::kFisNoImage;
    if (!buffer || capacity < 0) return fwcode::kFisDoesNotFit;
    return fis::GetItem(image_.data(), image_.size(), code, static_cast<uint8_t*>(buffer),
                        static_cast<size_t>(capacity), length);
}

int CFis::Set(int code, const void* value, int length) {
    if (!loaded_) return fwcode::kFisNoImage;
    if (length < 0) return fwcode::kFisDoesNotFit;
    return fis::SetItem(image_.data(), image_.size(), code, static_cast<const uint8_t*>(value),
                        static_cast<size_t>(length));
}

bool CFis::IsFisImage(const void* image, int size) {
    return size > 0 && fis::IsFisImage(static_cast<const uint8_t*>(image), static_cast<size_t>(size));
}

void CFis::UpdateChecksum() {
    if (loaded_) fis::StoreChecksum(image_.data(), image_.size());
}
