// The terminal adapter's identity: the 148-byte record its identity reply carries (little-endian)
//
//   0 u16 CAPI major version, 2 u16 minor, 4 8 bytes kept (not read), 12 64 bytes manufacturer text,
//   76 64 bytes CAPI profile, 140 8 bytes serial number text
//
// which the adapter sends in its reply (0xFF, 0xC1, class word 0x1007) to the identity request,
// from offset 20. A reply counts only when its length field and the received bytes both hold the
// whole record; the texts come out bounded and terminated whatever the adapter sent (an
// 8-character serial number has no room for its NUL in the record). No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbprov {

constexpr size_t kIdentityRecordSize = 148;
constexpr size_t kIdentityReplyOffset = 20;
constexpr size_t kIdentityReplySize = kIdentityReplyOffset + kIdentityRecordSize;
constexpr uint16_t kIdentityClass = 0x1007;
constexpr size_t kResultBufferSize = 64;  // the client's buffer for texts and the profile

class CTaIdentity {
public:
    // The record is valid once its first word is non-zero.
    bool valid() const;
    void clear();
    // Takes the 148 bytes.
    void takeRecord(const uint8_t* record);

    uint16_t majorVersion() const;
    uint16_t minorVersion() const;
    // Texts into a buffer of `size` bytes (at least 1): at most size - 1 characters and a NUL.
    void manufacturer(char* out, size_t size) const;
    void serialNumber(char* out, size_t size) const;
    // The 64 profile bytes.
    const uint8_t* profile() const { return record_ + 76; }
    const uint8_t* record() const { return record_; }

private:
    uint8_t record_[kIdentityRecordSize] = {};
};

// True when the message is an identity reply (0xFF 0xC1, class 0x1007), whatever its length.
bool isIdentityReply(const uint8_t* message, size_t size);
// True when such a reply holds the whole record, by its length field and by the `size` bytes
// that came.
bool identityReplyComplete(const uint8_t* message, size_t size);

// Copies a text field of `fieldSize` bytes that may lack its NUL into `out` (size >= 1).
void copyBoundedText(const uint8_t* field, size_t fieldSize, char* out, size_t size);

}  // namespace pbprov
