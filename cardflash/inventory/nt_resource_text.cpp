#include "cardflash/inventory/nt_resource_text.h"

#include "cardflash/inventory/bytes.h"

namespace ntres {

namespace {

// CM_RESOURCE_LIST: list count (4), then the first CM_FULL_RESOURCE_DESCRIPTOR: interface type
// (4), bus number (4), partial list version (2), revision (2), partial count (4), and the partial
// descriptors of 16 bytes each: type (1), share disposition (1), flags (2), 12 bytes of union.
constexpr size_t kPartialCount = 16;
constexpr size_t kFirstPartial = 20;
constexpr size_t kPartialSize = 16;
constexpr uint8_t kTypePort = 1;
constexpr uint8_t kTypeInterrupt = 2;

}  // namespace

bool DecodeResourceList(const uint8_t* bytes, size_t length, PortAndInterrupt* out) {
    *out = PortAndInterrupt();
    if (!bytes || length < kFirstPartial || GetLE32(bytes) == 0) return false;
    const uint32_t count = GetLE32(bytes + kPartialCount);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kFirstPartial + kPartialSize * i;
        if (at + kPartialSize > length) break;
        const uint8_t* d = bytes + at;
        if (d[0] == kTypePort && !out->hasPort) {
            out->hasPort = true;
            out->portStart = GetLE32(d + 4);  // Start.LowPart; Start.HighPart at 8
            out->portLength = GetLE32(d + 12);
        } else if (d[0] == kTypeInterrupt && !out->hasInterrupt) {
            out->hasInterrupt = true;
            out->interruptLevel = GetLE32(d + 4);
        }
    }
    return true;
}

int ComPortNumber(const CString& portName) {
    if (portName.GetLength() < 4 || portName.Left(3).CompareNoCase("COM") != 0) return -1;
    int n = 0;
    for (int i = 3; i < portName.GetLength(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
        if (n > 256) return -1;  // no Windows numbers ports beyond COM256
    }
    return n == 0 ? -1 : n;
}

CString RawValueDevice(const CString& valueName) {
    CString upper = valueName;
    upper.MakeUpper();
    const int raw = upper.Find(".RAW");
    if (raw < 0) return CString();
    const CString front = valueName.Left(raw);
    return front.Mid(front.ReverseFind('\\') + 1);
}

CString RangeText(uint32_t first, uint32_t second) {
    CString text;
    text.Format("%X - %X", static_cast<unsigned>(first), static_cast<unsigned>(second));
    return text;
}

}  // namespace ntres
