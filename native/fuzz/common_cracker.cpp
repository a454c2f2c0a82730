// Any bytes as a CAPI message for the cracker: every structure it hands out lies inside the
// message (or is the shared empty one), every string is terminated inside the caller's buffer,
// whether the bound comes from the bytes received or from the length field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "common/cracker.h"
#include "common/debug.h"

namespace {

void Discard(const char*) {}

void CheckInside(const tagCapiStruct* s, const uint8_t* data, unsigned bound) {
    if (!s || s == CMessageCracker::empty()) return;
    const uint8_t* p = &s->length;
    if (p < data || p >= data + bound || static_cast<unsigned>(p - data) + 1u + s->length > bound) std::abort();
}

void CheckString(char* (CMessageCracker::*getter)(char*, unsigned), CMessageCracker& c) {
    for (unsigned size : {1u, 3u, 17u, 256u}) {
        std::unique_ptr<char[]> out(new char[size]);
        (c.*getter)(out.get(), size);
        if (!std::memchr(out.get(), 0, size)) std::abort();
    }
}

void Crack(CMessageCracker& c, const uint8_t* data) {
    const unsigned bound = c.bound();
    CheckInside(c.getCalledPartyNumber(), data, bound);
    CheckInside(c.getCallingPartyNumber(), data, bound);
    CheckInside(c.getCalledPartySubAddress(), data, bound);
    CheckInside(c.getCallingPartySubAddress(), data, bound);
    CheckInside(c.getConnectedNumber(), data, bound);
    CheckInside(c.getConnectedSubAddress(), data, bound);
    CheckInside(c.getBProtocol(), data, bound);
    CheckInside(c.getB1Configuration(), data, bound);
    CheckInside(c.getB2Configuration(), data, bound);
    CheckInside(c.getB3Configuration(), data, bound);
    CheckInside(c.getBearerCapability(), data, bound);
    CheckInside(c.getLowLayerCompatibility(), data, bound);
    CheckInside(c.getHighLayerCompatibility(), data, bound);
    CheckInside(c.getAdditionalInfo(), data, bound);
    CheckInside(c.getBChannelInformation(), data, bound);
    CheckInside(c.getKeyPadFacility(), data, bound);
    CheckInside(c.getUserToUserData(), data, bound);
    CheckInside(c.getFacilityDataArray(), data, bound);
    for (unsigned start : {8u, 12u, 14u, 24u})
        for (int n = 1; n <= 10; ++n) CheckInside(c.getStructure(start, n), data, bound);
    CheckString(&CMessageCracker::getCalledPartyNumber, c);
    CheckString(&CMessageCracker::getCallingPartyNumber, c);
    CheckString(&CMessageCracker::getCalledPartySubAddress, c);
    CheckString(&CMessageCracker::getCallingPartySubAddress, c);
    CheckString(&CMessageCracker::getConnectedNumber, c);
    CheckString(&CMessageCracker::getConnectedSubAddress, c);
    for (unsigned size : {1u, 4u, 256u}) {
        std::unique_ptr<uint8_t[]> llc(new uint8_t[size]);
        const unsigned written = c.getLowLayerCompatibility(llc.get(), size);
        if (written == 0 || written > size || llc[0] + 1u != written) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debugCaptureOutput(Discard);
    const unsigned n = size > 0xFFFF ? 0xFFFF : static_cast<unsigned>(size);
    // A block of exactly the input's size, so an overread is a sanitizer report.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[n ? n : 1]);
    if (n) std::memcpy(bytes.get(), data, n);
    CMessageCracker c;
    c.init(reinterpret_cast<const tagAPIMsg*>(bytes.get()), n);
    Crack(c, bytes.get());

    // The same bytes as a message whose length field is true: the cracker bounded by that field.
    if (n >= kCapiHeaderSize) {
        bytes[0] = static_cast<uint8_t>(n);
        bytes[1] = static_cast<uint8_t>(n >> 8);
        c.init(reinterpret_cast<const tagAPIMsg*>(bytes.get()));
        if (c.bound() != n) std::abort();
        Crack(c, bytes.get());
        CMessageCracker copy(c);
        Crack(copy, bytes.get());
    }
    return 0;
}
