#include "portbridge/profile_values.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace portbridge {

uint32_t profileHex(const char* text) {
    std::string t = text ? text : "";
    if (t.compare(0, 2, "0x") != 0) t = "0x" + t;
    unsigned int v = 0;
    if (std::sscanf(t.c_str(), "%X", &v) != 1) return 0;
    return v;
}

int32_t profileDecimal(const char* text, int32_t fallback) {
    if (!text || !*text) return fallback;
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

void copyCut(char* out, size_t size, const char* text) {
    if (!size) return;
    std::strncpy(out, text ? text : "", size - 1);
    out[size - 1] = 0;
}

}  // namespace portbridge
