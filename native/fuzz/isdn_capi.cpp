// Any I-frame contents as the computer might send them to the adapter's CAPI side, between the
// network's doings and clock ticks: nothing reads outside a frame, and every message it sends
// has the 00 00 prefix and a length field inside its frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "simulators/isdn/capi_controller.h"

namespace {

void Check(isdnsim::CapiController& c) {
    for (const isdnsim::Bytes& f : c.TakeOutput()) {
        if (f.size() < 10 || f[0] || f[1]) std::abort();
        const size_t length = static_cast<size_t>(f[2] | f[3] << 8);
        if (length < 8 || length > f.size() - 2) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    isdnsim::CapiController c;
    uint32_t now = 0;
    // Each piece: a control byte (low 2 bits: what the network does meanwhile; the rest: the
    // clock step), a length byte, that many bytes of frame.
    for (size_t at = 0; at + 2 <= size;) {
        const uint8_t control = data[at];
        const size_t n = data[at + 1];
        at += 2;
        const size_t take = n < size - at ? n : size - at;
        c.Receive(isdnsim::Bytes(data + at, data + at + take), now);
        at += take;
        switch (control & 3) {
        case 1: c.IncomingCall("123", "45", control >> 2 & 31); break;
        case 2: c.SendData(isdnsim::Bytes(control, 0x55)); break;
        case 3: c.RemoteHangup(); break;
        default: break;
        }
        now += control >> 2;
        c.Tick(now);
        if (control == 0xFF) c.LinkDown();
        Check(c);
    }
    return 0;
}
