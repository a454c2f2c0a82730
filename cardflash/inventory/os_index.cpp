#include "cardflash/inventory/os_index.h"

int32_t ComputeOSIndex(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build) {
    if (platform == kPlatformWin9x) {
        if (minor == 10) return OS_WIN98;
        return (build & 0xFFFF) == 950 ? OS_WIN95 : OS_WIN95_OSR2;
    }
    if (platform == kPlatformNT) {
        if (major == 3 && minor == 50) return OS_NT350;
        if (major == 3 && minor == 51) return OS_NT351;
        if (major == 4) return OS_NT40;
        if (major == 5) return OS_WIN2000;
        if (major > 5) return OS_UNKNOWN_LATER;
    }
    return OS_UNKNOWN_OLDER;
}

const char* OSIndexName(int32_t index) {
    switch (index) {
    case OS_WIN95: return "Windows 95";
    case OS_WIN95_OSR2: return "Windows 95 OSR2";
    case OS_WIN98: return "Windows 98";
    case OS_NT350: return "Windows NT 3.50";
    case OS_NT351: return "Windows NT 3.51";
    case OS_NT40: return "Windows NT 4.0";
    case OS_WIN2000: return "Windows 2000";
    default: return "???";
    }
}
