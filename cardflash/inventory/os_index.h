// The Windows version index that every part of cardflash branches on, worked out from what the
// system reports. No Windows header: the table is tested directly.
#pragma once

#include <cstdint>

enum OSIndex : int32_t {
    OS_WIN95 = 0,
    OS_WIN95_OSR2 = 1,
    OS_WIN98 = 2,
    OS_NT350 = 3,
    OS_NT351 = 4,
    OS_NT40 = 5,
    // An unknown platform or an NT older than 3.50 or between the known ones: below the
    // "2000 or later" line.
    OS_UNKNOWN_OLDER = 6,
    OS_WIN2000 = 8,
    // An NT after 5.x: on the "2000 or later" side, but none of the exact readers' values.
    OS_UNKNOWN_LATER = 9,
};

constexpr uint32_t kPlatformWin9x = 1;
constexpr uint32_t kPlatformNT = 2;

int32_t ComputeOSIndex(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build);
const char* OSIndexName(int32_t index);  // "Windows 95", ... "???"
