// Helpers shared by the engine's source files: the lock guard and little-endian writers.
#pragma once

#include <cstdint>
#include <mutex>

#include "common/capimsg.h"

namespace capi_engine {

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

// The command word with bit 7 of the subcommand forced on, so CAPI 1.1 codings compare the same.
inline uint16_t commandWord(const uint8_t* m) { return uint16_t(m[4] | ((m[5] | 0x80) << 8)); }

// Field reads within a message of `length` bytes: 0 outside it.
inline uint16_t field16(const uint8_t* m, uint16_t length, unsigned offset) {
    return offset + 2 <= length ? capiGet16(m + offset) : 0;
}
inline uint32_t field32(const uint8_t* m, uint16_t length, unsigned offset) {
    return offset + 4 <= length ? capiGet32(m + offset) : 0;
}

// Holds the engine lock and counts how deep, so a wait can give it up entirely.
class Guard {
public:
    Guard(std::recursive_mutex& m, int& depth) : m_(m), depth_(depth) {
        m_.lock();
        ++depth_;
    }
    ~Guard() {
        --depth_;
        m_.unlock();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::recursive_mutex& m_;
    int& depth_;
};

}  // namespace capi_engine
