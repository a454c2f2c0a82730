// Any frames as the serial task hands them up, mixed with data requests and timer ticks: the link
// layer never crashes, and whatever it kept or passed on comes back, so no receive buffer is lost.
//
// Input: byte 0 picks the link-layer mode and the window, then records: a length byte L and L
// bytes of frame (address, control, information); L = 255 is a data request, L = 254 a second of
// ticks, L = 253 the port going down.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "portbridge/stack/hdlc.h"
#include "portbridge/stack/stack_test_support.h"

using namespace stack;

namespace {

struct Rig {
    testing::StackRig rig;
    testing::RecordingTask upper{rig.rt, kLinkControlTask}, lower{rig.rt, kSerialTask};
    uint16_t hdlcQueue = 0, rxPool = 0, defaultPool = 0;
    uint8_t block[config::kSize] = {};

    void send(RuntimeMessage m, uint32_t from) {
        m.setAddress(kHdlcTask);
        rig.rt.sendFrom(from, m);
        rig.step();
        drain();
    }
    // The neighbours give back what they were given.
    void drain() {
        for (const RuntimeMessage& m : lower.take())
            if (m.id() == kSerialSend && (m.u16(6) & 1)) rig.rt.freeBuffer(m.pointer());
        for (const RuntimeMessage& m : upper.take()) {
            if (m.id() == kDataIndication || m.id() == kUnitDataIndication) rig.rt.freeBuffer(m.pointer());
            if ((m.id() == kDataAcknowledged || m.id() == kDataReturned) && (m.u16(6) & 1))
                rig.rt.freeBuffer(m.pointer());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Rig r;
    r.rig.rt.createTask(&hdlcInit, 228, kHdlcTask, 0x101);
    r.rig.step();
    r.rig.rt.findQueue(kHdlcTask, &r.hdlcQueue);
    r.rig.rt.findDefaultPool(&r.defaultPool);
    r.rig.rt.createPool(0x2F0, 320, 10, &r.rxPool);
    RuntimeMessage bound(kBound);
    bound.put16(9, r.upper.queue());
    bound.put16(11, r.lower.queue());
    r.send(bound, kLinkControlTask);
    RuntimeMessage pool(kReceivePool);
    pool.put16(6, r.rxPool);
    r.send(pool, kLinkControlTask);

    static const uint16_t modes[] = {kLinkLayerFramed, kLinkLayerKeeping, kLinkLayerRaw};
    setBlock16(r.block, config::kMaxFrameLength, 250);
    setBlock16(r.block, config::kLinkLayerMode, modes[data[0] % 3]);
    r.block[22] = 8;
    r.block[23] = static_cast<uint8_t>(data[0] / 3 % 8);
    RuntimeMessage configure(kConfigure);
    configure.setPointer(r.block);
    r.send(configure, kLinkControlTask);
    setBlock16(r.block, config::kTransmitHeaderRoom, 5);
    RuntimeMessage done(kConfigured);
    done.setPointer(r.block);
    r.send(done, kSerialTask);
    RuntimeMessage open(kEstablishRequest);
    open.put8(6, data[0] & 0x80 ? 0 : 1);
    r.send(open, kLinkControlTask);
    r.send(RuntimeMessage(kPortUp), kSerialTask);

    for (size_t at = 1; at < size;) {
        const uint8_t len = data[at++];
        if (len == 255) {
            uint8_t* b = nullptr;
            if (r.rig.rt.getBuffer(r.defaultPool, 40, &b) == kOk) {
                RuntimeMessage m(kDataRequest);
                m.put16(6, 1);
                m.put16(8, 7);
                m.put16(10, 20);
                m.setPointer(b);
                r.send(m, kLinkControlTask);
            }
            continue;
        }
        if (len == 254) {
            r.rig.tick(100);
            r.drain();
            continue;
        }
        if (len == 253) {
            r.send(RuntimeMessage(kPortDown), kSerialTask);
            r.send(RuntimeMessage(kConfigurationDone), kLinkControlTask);
            r.send(RuntimeMessage(kPortUp), kSerialTask);
            r.send(open, kLinkControlTask);
            continue;
        }
        const size_t n = len < size - at ? len : size - at;
        uint8_t* b = nullptr;
        if (r.rig.rt.getBuffer(r.rxPool, 300, &b) != kOk) std::abort();  // a receive buffer was lost
        std::memcpy(b, data + at, n);
        at += n;
        RuntimeMessage m(kFrameReceived);
        m.put16(6, 1);
        m.put16(10, static_cast<uint16_t>(n));
        m.setPointer(b);
        r.send(m, kSerialTask);
    }
    r.send(RuntimeMessage(kPortDown), kSerialTask);
    if (r.rig.rt.poolHasBuffer(r.rxPool, 1) != 10) std::abort();
    return 0;
}
