#include "portbridge/provider/ta_identity.h"

#include <cstring>

#include "common/le_bytes.h"

namespace pbprov {

namespace {
using le::get16;
}  // namespace

bool CTaIdentity::valid() const { return get16(record_) != 0; }

void CTaIdentity::clear() { std::memset(record_, 0, sizeof(record_)); }

bool isIdentityReply(const uint8_t* message, size_t size) {
    if (!message || size < 18) return false;
    return message[4] == 0xFF && message[5] == 0xC1 && get16(message + 16) == kIdentityClass;
}

bool identityReplyComplete(const uint8_t* message, size_t size) {
    return isIdentityReply(message, size) && size >= kIdentityReplySize && get16(message) >= kIdentityReplySize;
}

void CTaIdentity::takeRecord(const uint8_t* record) { std::memcpy(record_, record, kIdentityRecordSize); }

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

}  // namespace pbprov
