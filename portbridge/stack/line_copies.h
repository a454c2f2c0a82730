// The stack's pool of line copies. A frame whose sender keeps its buffer (the HDLC layer holds
// its I frames for retransmission, rewrites their headers and hands them up when acknowledged)
// goes to the serial writer as a copy of its own, so what is written is what was handed down.
// The HDLC layer and the serial task draw on one pool, a window's worth of the longest frame;
// whichever of the two starts first creates it.
#pragma once

#include <cstdint>

#include "portbridge/stack/os_runtime.h"

namespace stack {

constexpr uint16_t kLineCopySize = 2320;
constexpr uint16_t kLineCopies = 8;

inline uint16_t lineCopyPool(COSRuntime& rt, uint32_t taskAddress) {
    const uint32_t address = (taskAddress & ~0xFFFu) | 0x3F0u;
    uint16_t pool = 0;
    if (rt.findPoolByAddress(address, &pool) == kOk) return pool;
    if (rt.createPool(address, kLineCopySize, kLineCopies, &pool) == kOk) return pool;
    rt.findDefaultPool(&pool);
    return pool;
}

}  // namespace stack
