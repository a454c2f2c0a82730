// The X.25 NCPI of CAPI 2.0 (B3 protocol ISO 8208) as bytes: packing an outgoing one and reading a
// received one. Both check every length against its limits: an address has at most 15 digits (its
// count is a nibble), the NCPI's contents at most 255 bytes, and a received NCPI is read only
// inside its own length and the message that carries it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace x25 {

constexpr size_t kMaxDigits = 15;

struct NcpiFields {
    char called[kMaxDigits + 1] = {};   // digits as ASCII, terminated
    char calling[kMaxDigits + 1] = {};
    uint8_t facilities[255] = {};
    uint16_t facilitiesLength = 0;
    const uint8_t* userData = nullptr;  // inside the NCPI that was read
    uint16_t userDataLength = 0;
    uint8_t cause = 0, diagnostic = 0;
};

// Packs into `out` (256 bytes: length byte and contents). `causeDiagnostic` is null or the two bytes
// a clearing NCPI carries. False, with `out` untouched, when an address is longer than 15 digits or
// holds a non-digit, or the contents would pass 255 bytes.
bool pack(const char* called, const char* calling, uint16_t facilitiesLength, const uint8_t* facilities,
          uint16_t userDataLength, const uint8_t* userData, const uint8_t* causeDiagnostic, uint8_t* out);

// Reads the NCPI struct at `ncpi`, of which `available` bytes lie inside the message. With
// `withCause` (DISCONNECT_B3_IND) cause and diagnostic come before the address lengths. An NCPI of
// length 0 or 1 gives empty fields and true; one whose fields pass its length or the message gives
// empty fields and false.
bool unpack(const uint8_t* ncpi, size_t available, bool withCause, NcpiFields* out);

}  // namespace x25
