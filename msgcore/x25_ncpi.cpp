#include "msgcore/x25_ncpi.h"

#include <cstring>

namespace x25 {

namespace {

bool digitsOk(const char* s, size_t* n) {
    *n = 0;
    if (!s) return true;
    for (; s[*n]; ++*n) {
        if (*n >= kMaxDigits) return false;
        if (s[*n] < '0' || s[*n] > '9') return false;
    }
    return true;
}

}  // namespace

bool pack(const char* called, const char* calling, uint16_t facilitiesLength, const uint8_t* facilities,
          uint16_t userDataLength, const uint8_t* userData, const uint8_t* causeDiagnostic, uint8_t* out) {
    size_t nCalled, nCalling;
    if (!digitsOk(called, &nCalled) || !digitsOk(calling, &nCalling)) return false;
    if (!facilities) facilitiesLength = 0;
    if (!userData) userDataLength = 0;
    const size_t packed = (nCalled + nCalling + 1) / 2;
    const size_t total = size_t(userDataLength) + packed + facilitiesLength + 5 + (causeDiagnostic ? 2 : 0);
    if (total > 255 || facilitiesLength > 255) return false;
    uint8_t* p = out;
    *p++ = uint8_t(total);
    *p++ = 0;  // flags
    *p++ = 0;  // group
    *p++ = 0;  // channel
    if (causeDiagnostic) {
        *p++ = causeDiagnostic[0];
        *p++ = causeDiagnostic[1];
    }
    *p++ = uint8_t((nCalling << 4) | nCalled);
    memset(p, 0, packed);
    for (size_t i = 0; i < nCalled + nCalling; ++i) {
        char c = i < nCalled ? called[i] : calling[i - nCalled];
        uint8_t nibble = uint8_t(c - '0');
        p[i / 2] |= (i % 2) ? nibble : uint8_t(nibble << 4);
    }
    p += packed;
    *p++ = uint8_t(facilitiesLength);
    if (facilitiesLength) memcpy(p, facilities, facilitiesLength);
    p += facilitiesLength;
    if (userDataLength) memcpy(p, userData, userDataLength);
    return true;
}

bool unpack(const uint8_t* ncpi, size_t available, bool withCause, NcpiFields* out) {
    *out = NcpiFields();
    if (!ncpi || available == 0) return true;
    const size_t len = ncpi[0];
    if (len <= 1) return true;
    if (len + 1 > available) return false;
    const uint8_t* end = ncpi + 1 + len;
    const uint8_t* p = ncpi + 4;  // after flags, group, channel
    NcpiFields f;
    if (withCause) {
        if (p + 2 > end) return false;
        f.cause = p[0];
        f.diagnostic = p[1];
        p += 2;
    }
    if (p + 1 > end) return false;
    const size_t nCalled = *p & 0x0F, nCalling = *p >> 4;
    ++p;
    const size_t packed = (nCalled + nCalling + 1) / 2;
    if (p + packed > end) return false;
    for (size_t i = 0; i < nCalled + nCalling; ++i) {
        uint8_t nibble = (i % 2) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
        char c = char('0' + nibble);
        if (i < nCalled) f.called[i] = c;
        else f.calling[i - nCalled] = c;
    }
    p += packed;
    if (p + 1 > end) return false;
    f.facilitiesLength = *p++;
    if (p + f.facilitiesLength > end) return false;
    memcpy(f.facilities, p, f.facilitiesLength);
    p += f.facilitiesLength;
    f.userData = p;
    f.userDataLength = uint16_t(end - p);
    *out = f;
    return true;
}

}  // namespace x25
