// Helpers shared by the engine's source files: the lock guard and little-endian writers.
#pragma once

#include <cstdint>
#include <mutex>

#include "common/capimsg.h"
#include "common/le_bytes.h"
#include "portbridge/capi/capi_engine.h"

namespace capi_engine {

using le::put16;
using le::put32;

// The command word with bit 7 of the subcommand forced on, so CAPI 1.1 codings compare the same.
inline uint16_t commandWord(const uint8_t* m) { return uint16_t(m[4] | ((m[5] | 0x80) << 8)); }

// Field reads within a message of `length` bytes: 0 outside it.
inline uint16_t field16(const uint8_t* m, uint16_t length, unsigned offset) {
    return offset + 2 <= length ? capiGet16(m + offset) : 0;
}
inline uint32_t field32(const uint8_t* m, uint16_t length, unsigned offset) {
    return offset + 4 <= length ? capiGet32(m + offset) : 0;
}


// Holds the engine lock for one entry point and counts how deep, so a wait can give it up
// entirely. Leaving the outermost level sends what the entry point left for the port, with the
// lock given up around each send.
class EngineGuard {
public:
    explicit EngineGuard(CCapiAppTable& table) : t_(table) {
        t_.lock_.lock();
        ++t_.lockDepth_;
    }
    ~EngineGuard() {
        if (t_.lockDepth_ == 1) t_.flushOutbox();
        --t_.lockDepth_;
        t_.lock_.unlock();
    }
    EngineGuard(const EngineGuard&) = delete;
    EngineGuard& operator=(const EngineGuard&) = delete;

private:
    CCapiAppTable& t_;
};

}  // namespace capi_engine
