// Where a DATA_B3_REQ or DATA_B3_IND names its payload. A 32-bit platform puts the payload's
// address into Data (u32 at offset 12) and the message is 22 bytes long; a 64-bit platform puts it
// into Data64 (u64 at offset 22, after Flags), sets Data to 0 and makes the message 30 bytes long.
// Whoever receives such a message takes either form. Between processes, and on the line to the
// adapter, Data carries an index or an offset instead, and Data64 is 0: no address of one process
// reaches another. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/le_bytes.h"

namespace capib3 {

constexpr size_t kData = 12;
constexpr size_t kData64 = 22;
constexpr uint16_t kLength = 22;    // the message with Data only
constexpr uint16_t kLength64 = 30;  // the message with Data64

// True where this build's addresses need Data64.
constexpr bool kWideAddresses = sizeof(void*) > 4;

// The address the message names (`length` bytes readable at `m`): Data64 where the message is long
// enough to carry it and it is not 0, else Data; 0 for a message too short for Data.
inline uint64_t address(const uint8_t* m, size_t length) {
    if (length >= kLength64) {
        uint64_t wide = le::get64(m + kData64);
        if (wide) return wide;
    }
    return length >= kData + 4 ? le::get32(m + kData) : 0;
}

// The payload pointer of `address` on this build; null for an address this build cannot hold.
inline const uint8_t* pointer(uint64_t address) {
    if (address > UINTPTR_MAX) return nullptr;
    return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
}
inline uint64_t addressOf(const void* p) { return uint64_t(reinterpret_cast<uintptr_t>(p)); }

// Names `value` in the message of `length` bytes at `m` (room for `capacity`; both at least
// kLength) and returns its new length, also written at offset 0. `wide`: in Data64, with Data 0
// and the message grown to kLength64 (0 is returned, and nothing written, when there is no room);
// else in Data (the low 32 bits), with a Data64 the message carries set to 0.
inline uint16_t name(uint8_t* m, size_t capacity, uint16_t length, uint64_t value, bool wide) {
    if (length < kLength || capacity < length) return 0;
    if (wide) {
        if (capacity < kLength64) return 0;
        if (length < kLength64) length = kLength64;
        le::put32(m + kData, 0);
        le::put64(m + kData64, value);
    } else {
        le::put32(m + kData, uint32_t(value));
        if (length >= kLength64) le::put64(m + kData64, 0);
    }
    le::put16(m, length);
    return length;
}

}  // namespace capib3
