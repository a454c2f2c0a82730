#include "cmdline.h"

namespace watchsvc {

namespace {

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

}  // namespace

Switch FindSwitch(const char* cmdline, bool (*isLeadByte)(unsigned char)) {
    if (!cmdline) return Switch::None;
    for (const char* p = cmdline; *p;) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isLeadByte && isLeadByte(c) && p[1]) {
            p += 2;
            continue;
        }
        ++p;
        if (c != '-' && c != '/') continue;
        if (EqualsIgnoringCase(p, "UnregServer")) return Switch::UnregServer;
        if (EqualsIgnoringCase(p, "RegServer")) return Switch::RegServer;
        if (EqualsIgnoringCase(p, "Service")) return Switch::Service;
    }
    return Switch::None;
}

}  // namespace watchsvc
