// Any bytes as a CAPI message offered to msgcore's connection handler, in each state a call goes
// through, and as an X.25 NCPI: no read outside the message, every owner text terminated, every
// message the handler sends inside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/debug.h"
#include "msgcore/message_handler.h"
#include "msgcore/offline_port.h"
#include "msgcore/x25_ncpi.h"

namespace {

void Discard(const char*) {}

class SinkPort : public COfflineCapiPort {
public:
    SinkPort() : COfflineCapiPort(1) {}
    uint16_t putMessage(tagAPIMsg* m) override {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(m);
        if (uint16_t(p[0] | (p[1] << 8)) > kMessageBufferSize) std::abort();
        return 0;
    }
};

class FuzzHandler : public CCapiMessageHandler {
public:
    void force(TConnectionState s, uint32_t plci, uint32_t ncci) {
        state_ = s;
        plci_ = plci;
        ncci_ = ncci;
        b3Mode_ = 1;
        listenFlag_ = 1;
    }
};

uintptr_t MSGCORE_STDCALL Owner(void*, uint32_t event, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t p3,
                                uintptr_t) {
    if (event == ieIncomingCall) {
        if (std::strlen(reinterpret_cast<const char*>(p1)) > 38 || std::strlen(reinterpret_cast<const char*>(p2)) > 35 ||
            std::strlen(reinterpret_cast<const char*>(p3)) > 19)
            std::abort();
        return 1;
    }
    return event == ieB3Receive ? 0 : 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debugCaptureOutput(Discard);
    if (size < 8 || size > 0xFFFF) return 0;
    // A block of exactly the input's size with a true length field, so an overread is a report.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    std::memcpy(bytes.get(), data, size);
    bytes[0] = uint8_t(size);
    bytes[1] = uint8_t(size >> 8);
    const uint32_t id = uint32_t(bytes[8 % size]) | (uint32_t(size > 9 ? bytes[9] : 0) << 8);
    static const TConnectionState states[] = {csIdle, csOutgoingCall, csListening, csIncomingCall, csB3Requested,
                                              csB3SettingUp, csConnected, csAccepted, csB3Clearing, csWaitingForB3,
                                              csClearing, csDChannelUp, csState24};
    for (TConnectionState s : states) {
        SinkPort port;
        FuzzHandler h;
        if (h.init(&port, 1, 2048) != 0) std::abort();
        h.registerOwnerInstance(nullptr, Owner);
        h.force(s, id & 0xFFFF, id | 0x10000);
        port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(bytes.get()));
        char called[16], calling[16];
        uint8_t facilities[255], userData[255];
        uint16_t nf, nu;
        h.unpackNCPI(reinterpret_cast<const tagAPIMsg*>(bytes.get()), called, calling, &nf, facilities, &nu, userData);
        if (!std::memchr(called, 0, sizeof called) || !std::memchr(calling, 0, sizeof calling)) std::abort();
        uint8_t cause, diagnostic;
        h.getClearInfo(&cause, &diagnostic);
        h.shutDown();
    }
    x25::NcpiFields f;
    x25::unpack(bytes.get(), size, false, &f);
    x25::unpack(bytes.get(), size, true, &f);
    return 0;
}
