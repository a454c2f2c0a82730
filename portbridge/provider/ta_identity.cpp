#include "portbridge/provider/ta_identity.h"

#include <cstring>

namespace pbprov {

namespace {
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

bool CTaIdentity::valid() const { return get16(record_) != 0; }

void CTaIdentity::clear() { std::memset(record_, 0, sizeof(record_)); }

bool isIdentityReply(const uint8_t* message, size_t size) {
    if (!message || size < 18) return false;
    return message[4] == 0xFF && message[5] == 0xC1 && get16(message + 16) == kIdentityClass;
}

bool CTaIdentity::takeReply(const uint8_t* message, size_t size) {
    if (!isIdentityReply(message, size)) return false;
    // Both the length the message claims and the bytes that came must hold the record.
    if (size < kIdentityReplySize || get16(message) < kIdentityReplySize) return false;
    std::memcpy(record_, message + kIdentityReplyOffset, kIdentityRecordSize);
    return true;
}

uint16_t CTaIdentity::majorVersion() const { return get16(record_); }
uint16_t CTaIdentity::minorVersion() const { return get16(record_ + 2); }

void copyBoundedText(const uint8_t* field, size_t fieldSize, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    while (n < fieldSize && n + 1 < size && field[n] != 0) {
        out[n] = static_cast<char>(field[n]);
        ++n;
    }
    out[n] = 0;
}

void CTaIdentity::manufacturer(char* out, size_t size) const { copyBoundedText(record_ + 12, 64, out, size); }

void CTaIdentity::serialNumber(char* out, size_t size) const { copyBoundedText(record_ + 140, 8, out, size); }

void buildIdentityRequest(uint16_t appId, uint32_t portIndex, uint8_t* out) {
    std::memset(out, 0, kIdentityRequestSize);
    put16(out + 0, kIdentityRequestSize);
    put16(out + 2, appId);
    out[4] = 0xFF;
    out[5] = 0xC0;
    put16(out + 6, 0xFFFF);
    for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(portIndex >> (8 * i));
    std::memcpy(out + 12, "kolv", 4);
    out[16] = 0x07;
    out[17] = 0x10;
}

}  // namespace pbprov
