// Any bytes as a run of events at portbridge's CAPI engine: adapter messages (the decoding under
// test), puts, gets, link loss and return, pacing ticks and sent reports, on an engine with one
// registered application and a call with a B3 connection. No read outside an item, every message
// the engine sends or queues inside its buffer, every payload inside the application's block.
//
// Input: byte 0 options (bit 0 CAPI 1.1, bits 1-2 the B3 options), then records of
// [kind][length low][length high][bytes].
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/debug.h"
#include "portbridge/capi/capi_engine.h"

namespace {

void Discard(const char*) {}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

class Port : public CCapiPortLink {
public:
    CCapiAppTable* engine = nullptr;
    uint16_t sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                uint16_t payloadLength) override {
        if (length < 8 || length > kCapiMessageBufferSize || Get16(message) != length) std::abort();
        volatile uint8_t sink = 0;
        for (uint16_t i = 0; i < payloadLength; ++i) sink = sink + payload[i];  // the payload is readable
        if (message[4] == 0x01 && (message[5] & 0x40)) {
            uint8_t conf[8] = {8, 0, message[2], message[3], 0x01, 0xC1, message[6], message[7]};
            engine->adapterMessage(1, conf, sizeof conf);
        }
        return 0;
    }
};

class Host : public CCapiEngineHost {
public:
    void startPacingTimer() override {}
    void stopPacingTimer() override {}
    uint32_t nowMs() override { return clock; }
    uint32_t clock = 0;
};

// Feeds `bytes` as an item of exactly that size, so an overread is a report.
void Adapter(CCapiAppTable& e, const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> item(new uint8_t[size ? size : 1]);
    std::memcpy(item.get(), data, size);
    e.adapterMessage(1, item.get(), size);
}

void Msg(CCapiAppTable& e, uint16_t app, uint8_t command, uint8_t sub, uint16_t number, uint32_t ident,
         bool fromAdapter) {
    uint8_t m[16] = {16, 0, uint8_t(app), uint8_t(app >> 8), command, sub, uint8_t(number), uint8_t(number >> 8),
                     uint8_t(ident), uint8_t(ident >> 8), uint8_t(ident >> 16), uint8_t(ident >> 24)};
    if (fromAdapter)
        Adapter(e, m, sizeof m);
    else
        e.putMessage(app, m, sizeof m, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debugCaptureOutput(Discard);
    if (size < 1) return 0;
    CCapiAppTable engine;
    Port port;
    Host host;
    port.engine = &engine;
    if (engine.create(8, 8, 4, 50) != 0) std::abort();
    engine.setHost(&host);
    engine.setPort(1, &port);
    engine.setWaitTimes(0, 0, 0);
    engine.addB3Options((data[0] >> 1) & 3);
    engine.linkUp(1);
    CapiRegisterParams params;
    params.maxLogicalConnections = 2;
    params.maxB3Blocks = 3;
    params.maxB3DataLength = 128;
    params.versionWord = (data[0] & 1) ? 11 : 0;
    uint16_t app = 0;
    if (engine.registerApplication(params, &app) != 0 || app != 1) std::abort();
    // A call with a B3 connection: PLCI 0x0101, NCCI 0x00010101.
    Msg(engine, app, 0x02, 0x80, 1, 1, false);
    Msg(engine, app, 0x02, 0x81, 1, 0x0101, true);
    Msg(engine, app, 0x82, 0x80, 2, 0x0101, false);
    Msg(engine, app, 0x82, 0x81, 2, 0x00010101, true);

    size_t at = 1;
    while (at + 3 <= size) {
        const uint8_t kind = data[at];
        size_t length = Get16(data + at + 1);
        at += 3;
        if (length > size - at) length = size - at;
        const uint8_t* bytes = data + at;
        at += length;
        switch (kind % 7) {
        case 0:
            Adapter(engine, bytes, length);
            break;
        case 1: {
            std::unique_ptr<uint8_t[]> put(new uint8_t[length ? length : 1]);
            std::memcpy(put.get(), bytes, length);
            static const uint8_t payload[2048] = {};
            engine.putMessage(app, put.get(), length, payload);
            break;
        }
        case 2:
            engine.linkDown(1);
            break;
        case 3:
            engine.linkUp(1);
            break;
        case 4:
            host.clock += length * 10u;
            engine.pacingTick();
            break;
        case 5: {
            CapiGotMessage got;
            while (engine.getMessage(app, &got) == 0) {
                if (!got.message || got.length < 8 || got.length > kCapiMessageBufferSize ||
                    Get16(got.message) != got.length)
                    std::abort();
                if (got.b3Length > params.maxB3DataLength || (got.b3Length && !got.b3Data)) std::abort();
                volatile uint8_t sink = 0;
                for (uint16_t i = 0; i < got.b3Length; ++i) sink = sink + got.b3Data[i];
                engine.completeGet(app);
            }
            break;
        }
        default: {
            std::unique_ptr<uint8_t[]> report(new uint8_t[length ? length : 1]);
            std::memcpy(report.get(), bytes, length);
            engine.dataSent(report.get(), length);
            break;
        }
        }
    }
    engine.releaseApplication(app);
    if (engine.freeBuffers() != 50 || engine.freePlcis() != 8 || engine.freeNccis() != 4) std::abort();
    return 0;
}
