// The CAPI engine against a fake terminal-adapter port: registration and release with the
// adapter, put and get, local confirmations, the adapter's messages (good and malformed), link
// loss per call state, DATA_B3 both ways and the pacing of B3 data on a manual clock.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <initializer_list>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/capi_data_b3.h"
#include "common/debug.h"
#include "portbridge/capi/capi_engine.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Quiet(const char*) {}

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, uint16_t(v));
    Put16(b, at + 2, uint16_t(v >> 16));
}
uint16_t Get16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? uint16_t(b[at] | (b[at + 1] << 8)) : 0; }
uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | (uint32_t(Get16(b, at + 2)) << 16); }

// A CAPI message: header, then the parameter bytes.
Bytes Msg(uint16_t app, uint8_t command, uint8_t sub, uint16_t number, std::initializer_list<uint8_t> params) {
    Bytes m(8);
    m.insert(m.end(), params.begin(), params.end());
    Put16(m, 0, uint16_t(m.size()));
    Put16(m, 2, app);
    m[4] = command;
    m[5] = sub;
    Put16(m, 6, number);
    return m;
}
// One with a dword (controller, PLCI or NCCI) first.
Bytes Msg32(uint16_t app, uint8_t command, uint8_t sub, uint16_t number, uint32_t ident,
            std::initializer_list<uint8_t> rest = {}) {
    Bytes m = Msg(app, command, sub, number, {});
    Put32(m, 8, ident);
    m.insert(m.end(), rest.begin(), rest.end());
    Put16(m, 0, uint16_t(m.size()));
    return m;
}

uint16_t Command(const Bytes& m) { return Get16(m, 4); }

struct Sent {
    Bytes message;
    Bytes payload;
};

// The port: keeps what the engine sends; answers registration and release at once unless told
// not to; refuses sends with `refuse` when set.
class FakePort : public CCapiPortLink {
public:
    explicit FakePort(CCapiAppTable* engine) : engine_(engine) {}
    uint16_t sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                uint16_t payloadLength) override {
        Sent s{Bytes(message, message + length), Bytes(payload, payload + payloadLength)};
        sent.push_back(s);
        if (refuse) return refuse;
        const uint16_t app = Get16(s.message, 2);
        if (answerRegistration && s.message[4] == 0x01) Answer(app, 0x01, 0xC1, Get16(s.message, 6), {});
        if (answerRelease && s.message[4] == 0x02) Answer(app, 0x02, 0xC1, Get16(s.message, 6), {});
        if (onSend) onSend(s);
        return 0;
    }
    void Answer(uint16_t app, uint8_t command, uint8_t sub, uint16_t number, std::initializer_list<uint8_t> params) {
        Bytes m = Msg(app, command, sub, number, params);
        engine_->adapterMessage(1, m.data(), m.size());
    }
    // Sent messages with this command word.
    std::vector<Sent> With(uint16_t command) const {
        std::vector<Sent> r;
        for (const Sent& s : sent)
            if (Command(s.message) == command) r.push_back(s);
        return r;
    }

    std::vector<Sent> sent;
    bool answerRegistration = true;
    bool answerRelease = true;
    uint16_t refuse = 0;
    std::function<void(const Sent&)> onSend;

private:
    CCapiAppTable* engine_;
};

class ManualHost : public CCapiEngineHost {
public:
    void startPacingTimer() override { ++starts; running = true; }
    void stopPacingTimer() override { ++stops; running = false; }
    uint32_t nowMs() override { return clock; }
    uint32_t clock = 1000;
    int starts = 0;
    int stops = 0;
    bool running = false;
};

uint32_t CountSignal(uint16_t, uintptr_t context) {
    ++*reinterpret_cast<int*>(context);
    return 0;
}

class EngineTest : public ::testing::Test {
public:
    void SetUp() override {
        debugCaptureOutput(Quiet);
        ASSERT_EQ(0u, engine.create(8, 8, 4, 50));
        engine.setHost(&host);
        engine.setPort(1, &port);
        engine.setWaitTimes(kShortWait, kShortWait, kShortWait);
        engine.linkUp(1);
    }
    void TearDown() override { debugCaptureOutput(nullptr); }

    static CapiRegisterParams Params(uint16_t connections = 2, uint16_t blocks = 7, uint16_t length = 2048,
                                     uint16_t version = 0) {
        CapiRegisterParams p;
        p.messageBufferSize = 1024;
        p.maxLogicalConnections = connections;
        p.maxB3Blocks = blocks;
        p.maxB3DataLength = length;
        p.versionWord = version;
        return p;
    }
    uint16_t Register(const CapiRegisterParams& p = Params()) {
        uint16_t id = 0;
        EXPECT_EQ(0, engine.registerApplication(p, &id));
        engine.installSignal(id, CountSignal, reinterpret_cast<uintptr_t>(&signals));
        return id;
    }
    uint16_t Put(const Bytes& m, const uint8_t* payload = nullptr) {
        return engine.putMessage(Get16(m, 2), m.data(), m.size(), payload);
    }
    // Every queued message of `app`, in order.
    std::vector<Bytes> Drain(uint16_t app) {
        std::vector<Bytes> r;
        CapiGotMessage got;
        while (engine.getMessage(app, &got) == 0) {
            r.emplace_back(got.message, got.message + got.length);
            engine.completeGet(app);
        }
        return r;
    }
    void FromAdapter(const Bytes& m) { engine.adapterMessage(1, m.data(), m.size()); }

    // An outgoing call with a B3 connection up: PLCI 0x0101, NCCI 0x00010101.
    void ConnectWithB3(uint16_t app) {
        ASSERT_EQ(0, Put(Msg32(app, 0x02, 0x80, 1, 1, {0, 0})));
        FromAdapter(Msg32(app, 0x02, 0x81, 1, kPlci, {0, 0}));
        FromAdapter(Msg32(app, 0x03, 0x82, 2, kPlci, {0, 0, 0}));
        ASSERT_EQ(0, Put(Msg32(app, 0x82, 0x80, 2, kPlci, {0})));
        FromAdapter(Msg32(app, 0x82, 0x81, 2, kNcci, {0, 0}));
        FromAdapter(Msg32(app, 0x83, 0x82, 3, kNcci, {0}));
        Drain(app);
    }
    Bytes DataB3Req(uint16_t app, uint16_t number, uint16_t length, uint16_t handle) {
        Bytes m = Msg32(app, 0x86, 0x80, number, kNcci);
        Put32(m, 12, 0);
        Put16(m, 16, length);
        Put16(m, 18, handle);
        Put16(m, 20, 0);
        Put16(m, 0, 22);
        return m;
    }
    // A DATA_B3_IND as the adapter sends it: the payload `gap` bytes behind the 22-byte message.
    Bytes DataB3Ind(uint16_t app, uint16_t handle, const Bytes& payload, int32_t offset = 10) {
        Bytes m = Msg32(app, 0x86, 0x82, 0x4000, kNcci);
        Put32(m, 12, uint32_t(offset));
        Put16(m, 16, uint16_t(payload.size()));
        Put16(m, 18, handle);
        Put16(m, 20, 0);
        m.insert(m.end(), payload.begin(), payload.end());
        Put16(m, 0, 22);
        return m;
    }

    static constexpr uint32_t kShortWait = 50;
    static constexpr uint32_t kPlci = 0x0101;
    static constexpr uint32_t kNcci = 0x00010101;
    CCapiAppTable engine;
    FakePort port{&engine};
    ManualHost host;
    int signals = 0;
};

// ---- registration and release --------------------------------------------------------------------

TEST_F(EngineTest, FirstRegistrationSendsTheMarkedInternalMessage) {
    const uint16_t first = Register();
    ASSERT_EQ(1, first);
    ASSERT_EQ(1u, port.sent.size());
    EXPECT_EQ((Bytes{0x10, 0x00, 0x01, 0x00, 0x01, 0xC0, 0x01, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x08, 0x4B, 0x4E}),
              port.sent[0].message);
    EXPECT_EQ(kAppRegistered, engine.controller(first)->state());
    // Later registrations carry 0 in the last word; CAPI 1.1 registers with subcommand 0x40.
    Register(Params(1, 2, 128, 11));
    ASSERT_EQ(2u, port.sent.size());
    EXPECT_EQ((Bytes{0x10, 0x00, 0x02, 0x00, 0x01, 0x40, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x80, 0x00, 0x00, 0x00}),
              port.sent[1].message);
}

TEST_F(EngineTest, RegistrationFailuresLeaveNothingBehind) {
    struct Case {
        const char* what;
        bool noPort;
        bool silent;
        uint16_t refuse;
        uint16_t expected;
    } cases[] = {
        {"no port", true, false, 0, kCapiErrNotInstalled},
        {"adapter does not confirm", false, true, 0, kCapiErrNotInstalled},
        {"port refuses the message", false, false, 0x1109, kCapiErrNotInstalled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCapiAppTable e;
        FakePort p(&e);
        ASSERT_EQ(0u, e.create(8, 8, 4, 50));
        e.setWaitTimes(kShortWait, kShortWait, kShortWait);
        if (!c.noPort) e.setPort(1, &p);
        p.answerRegistration = !c.silent;
        p.refuse = c.refuse;
        uint16_t id = 77;
        EXPECT_EQ(c.expected, e.registerApplication(Params(), &id));
        EXPECT_EQ(0, id);
        EXPECT_EQ(50u, e.freeBuffers());
        EXPECT_EQ(8u, e.freePlcis());
        // The object is free again: eight registrations still fit once the adapter answers.
        p.answerRegistration = true;
        p.refuse = 0;
        e.setPort(1, &p);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(0, e.registerApplication(Params(1, 1, 64), &id));
    }
}

TEST_F(EngineTest, LateConfirmationOfAGivenUpRegistrationReleasesItAtTheAdapter) {
    port.answerRegistration = false;
    uint16_t id = 0;
    ASSERT_EQ(kCapiErrNotInstalled, engine.registerApplication(Params(), &id));
    const uint16_t asked = Get16(port.sent.at(0).message, 2);
    port.Answer(asked, 0x01, 0xC1, 1, {});
    const auto releases = port.With(0xC002);
    ASSERT_EQ(1u, releases.size());
    EXPECT_EQ((Bytes{0x08, 0x00, uint8_t(asked), 0x00, 0x02, 0xC0, 0x01, 0x00}), releases[0].message);
    EXPECT_EQ(kCapiErrUnknownApplication, engine.releaseApplication(asked));
}

TEST_F(EngineTest, RegistrationConfirmedFromAnotherThreadWhileTheEngineWaits) {
    port.answerRegistration = false;
    engine.setWaitTimes(20000, kShortWait, kShortWait);
    std::thread adapter;
    port.onSend = [this, &adapter](const Sent& s) {
        if (s.message[4] != 0x01) return;
        const uint16_t app = Get16(s.message, 2);
        adapter = std::thread([this, app] { port.Answer(app, 0x01, 0xC1, 1, {}); });
    };
    uint16_t id = 0;
    EXPECT_EQ(0, engine.registerApplication(Params(), &id));
    adapter.join();
    EXPECT_EQ(kAppRegistered, engine.controller(id)->state());
}

TEST_F(EngineTest, ThePortSendsWithoutTheEngineLock) {
    // A port that waits for the runtime thread to take a message, while that thread brings an
    // indication to the engine: the indication must get through while the put is being sent.
    const uint16_t id = Register();
    std::thread runtime;
    bool delivered = false;
    bool deliveredDuringSend = false;
    std::mutex m;
    std::condition_variable cv;
    port.onSend = [&](const Sent& s) {
        if (Command(s.message) != 0x8005) return;
        runtime = std::thread([&] {
            FromAdapter(Msg32(id, 0x08, 0x82, 0x4000, kPlci, {1, 2}));
            std::lock_guard<std::mutex> g(m);
            delivered = true;
            cv.notify_all();
        });
        std::unique_lock<std::mutex> g(m);
        deliveredDuringSend = cv.wait_for(g, std::chrono::seconds(10), [&] { return delivered; });
    };
    ASSERT_EQ(0, Put(Msg32(id, 0x05, 0x80, 4, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})));
    runtime.join();
    EXPECT_TRUE(deliveredDuringSend);
    EXPECT_EQ(1u, Drain(id).size());
}

TEST_F(EngineTest, NinthRegistrationFindsNoObject) {
    std::vector<uint16_t> ids;
    for (int i = 0; i < 8; ++i) ids.push_back(Register(Params(1, 1, 64)));
    EXPECT_EQ((std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}), ids);
    uint16_t id = 55;
    EXPECT_EQ(kCapiErrUnknownApplication, engine.registerApplication(Params(), &id));
    EXPECT_EQ(0, id);
    ASSERT_EQ(0, engine.releaseApplication(3));
    EXPECT_EQ(0, engine.registerApplication(Params(), &id));
    EXPECT_EQ(3, id);
}

TEST_F(EngineTest, B3BlocksAreCappedWhateverTheApplicationAsks) {
    struct Case {
        uint16_t connections, blocks, length;
        unsigned expectedBlocks;
        uint16_t expectedLength;
    } cases[] = {
        {0xFFFF, 0xFFFF, 0xFFFF, kCapiMaxB3BlocksPerApp, kCapiMaxB3DataLength},
        {30, 7, 2048, 7, 2048},
        {2, 3, 128, 3, 128},
        {1, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blocks);
        const uint16_t id = Register(Params(c.connections, c.blocks, c.length));
        EXPECT_EQ(c.expectedBlocks, engine.controller(id)->freeB3Blocks());
        EXPECT_EQ(c.expectedLength, engine.controller(id)->params().maxB3DataLength);
        // The adapter is told the blocks there are, or it sends DATA_B3_IND that find none.
        const auto registrations = port.With(0xC001);
        ASSERT_FALSE(registrations.empty());
        EXPECT_EQ(c.expectedBlocks, Get16(registrations.back().message, 10));
        ASSERT_EQ(0, engine.releaseApplication(id));
        EXPECT_EQ(50u, engine.freeBuffers());
    }
}

TEST_F(EngineTest, ReleaseCases) {
    const uint16_t id = Register();
    for (uint16_t unknown : {0, 2, 9, 17, 0xFFFF}) EXPECT_EQ(kCapiErrUnknownApplication, engine.releaseApplication(unknown));
    port.answerRelease = false;  // the release is local even when the adapter stays silent
    EXPECT_EQ(0, engine.releaseApplication(id));
    const auto releases = port.With(0xC002);
    ASSERT_EQ(1u, releases.size());
    EXPECT_EQ((Bytes{0x08, 0x00, 0x01, 0x00, 0x02, 0xC0, 0x01, 0x00}), releases[0].message);
    EXPECT_EQ(kCapiErrUnknownApplication, engine.releaseApplication(id));
    EXPECT_EQ(50u, engine.freeBuffers());
    EXPECT_EQ(8u, engine.freePlcis());
    CapiGotMessage got;
    EXPECT_EQ(kCapiErrUnknownApplication, engine.getMessage(id, &got));
}

// ---- put and get ---------------------------------------------------------------------------------

TEST_F(EngineTest, PutLengthsOutside12To282AreRefused) {
    const uint16_t id = Register();
    struct Case {
        uint16_t lengthField;
        size_t size;
        uint16_t expected;
    } cases[] = {
        {0, 282, kCapiErrIllegalMessage},   {8, 282, kCapiErrIllegalMessage},  {11, 282, kCapiErrIllegalMessage},
        {283, 300, kCapiErrIllegalMessage}, {0xFFFF, 282, kCapiErrIllegalMessage},
        {20, 19, kCapiErrIllegalMessage},  // claims more than was put
        {12, 282, kCapiErrIllegalCommand},  // well formed, unknown command
        {282, 282, kCapiErrIllegalCommand},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lengthField);
        Bytes m(c.size < 8 ? 8 : c.size, 0);
        Put16(m, 0, c.lengthField);
        Put16(m, 2, id);
        m[4] = 0x7E;
        m[5] = 0x80;
        EXPECT_EQ(c.expected, engine.putMessage(id, m.data(), c.size, nullptr));
    }
    EXPECT_TRUE(Drain(id).empty());
    const Bytes listen = Msg32(id, 0x05, 0x80, 9, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(kCapiErrUnknownApplication, engine.putMessage(5, listen.data(), listen.size(), nullptr));
}

TEST_F(EngineTest, GetCases) {
    const uint16_t id = Register();
    CapiGotMessage got;
    EXPECT_EQ(kCapiErrQueueEmpty, engine.getMessage(id, &got));
    EXPECT_EQ(nullptr, got.message);

    // A message from the adapter is queued, signalled and kept until its get is complete.
    FromAdapter(Msg32(id, 0x08, 0x82, 0x4001, kPlci, {1, 2}));
    EXPECT_EQ(1, signals);
    const unsigned free = engine.freeBuffers();
    ASSERT_EQ(0, engine.getMessage(id, &got));
    EXPECT_EQ(0x8208, Get16(Bytes(got.message, got.message + got.length), 4));
    EXPECT_EQ(free, engine.freeBuffers());
    engine.completeGet(id);
    EXPECT_EQ(free + 1, engine.freeBuffers());

    // A lost indication is reported once by the next get on an empty queue.
    ConnectWithB3(id);
    for (uint16_t h = 0; h < 8; ++h) FromAdapter(DataB3Ind(id, h, Bytes(16, uint8_t(h))));
    EXPECT_EQ(7u, Drain(id).size());
    EXPECT_EQ(kCapiErrQueueEmpty, engine.getMessage(id, &got));
    FromAdapter(DataB3Ind(id, 9, Bytes(16, 9)));  // every block still waits for its answer
    EXPECT_EQ(kCapiErrQueueOverflow, engine.getMessage(id, &got));
    EXPECT_EQ(kCapiErrQueueEmpty, engine.getMessage(id, &got));
}

TEST_F(EngineTest, WithThePoolEmpty) {
    CCapiAppTable e;
    FakePort p(&e);
    ASSERT_EQ(0u, e.create(8, 8, 4, 3));
    e.setPort(1, &p);
    uint16_t id = 0;
    ASSERT_EQ(0, e.registerApplication(Params(1, 0, 0), &id));
    for (uint16_t n = 0; n < 4; ++n) {
        const Bytes ind = Msg32(id, 0x08, 0x82, uint16_t(0x4000 + n), kPlci, {1, 2});
        e.adapterMessage(1, ind.data(), ind.size());
    }
    EXPECT_EQ(0u, e.freeBuffers());
    const Bytes listen = Msg32(id, 0x05, 0x80, 4, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(kCapiErrResources, e.putMessage(id, listen.data(), listen.size(), nullptr));
    const Bytes connect = Msg32(id, 0x02, 0x80, 5, 1, {0, 0});
    EXPECT_EQ(kCapiErrQueueFull, e.putMessage(id, connect.data(), connect.size(), nullptr));  // link down
    CapiGotMessage got;
    for (uint16_t n = 0; n < 3; ++n) {
        ASSERT_EQ(0, e.getMessage(id, &got));
        EXPECT_EQ(0x4000 + n, Get16(Bytes(got.message, got.message + got.length), 6));
    }
    EXPECT_EQ(kCapiErrQueueOverflow, e.getMessage(id, &got));
    EXPECT_EQ(kCapiErrQueueEmpty, e.getMessage(id, &got));
    EXPECT_EQ(3u, e.freeBuffers());
}

TEST_F(EngineTest, Capi11MessagesMadeByTheEngineCarryPlainSubcommands) {
    const uint16_t id = Register(Params(2, 7, 2048, 11));
    engine.linkDown(1);
    ASSERT_EQ(0, Put(Msg32(id, 0x02, 0x00, 5, 1, {0, 0})));
    const auto got = Drain(id);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0x0102, Command(got[0]));
    EXPECT_EQ(0x0204, Command(got[1]));
}

// ---- local confirmations -------------------------------------------------------------------------

TEST_F(EngineTest, LocalConfirmations) {
    struct Case {
        const char* what;
        Bytes request;
        bool linkDown;
        uint16_t putResult;
        std::vector<std::pair<uint16_t, uint16_t>> answers;  // command word, info or reason
        size_t infoAt;
    } cases[] = {
        {"CONNECT_REQ with the link down", Msg32(1, 0x02, 0x80, 7, 1, {0, 0}), true, 0,
         {{0x8102, 0}, {0x8204, kCapiReasonLinkLost}}, 12},
        {"CONNECT_REQ for an unknown controller", Msg32(1, 0x02, 0x80, 7, 3, {0, 0}), false, 0,
         {{0x8102, kCapiErrIllegalIdentifier}}, 12},
        {"DISCONNECT_REQ for an unknown PLCI", Msg32(1, 0x04, 0x80, 7, 0x0201, {0}), false, 0,
         {{0x8104, kCapiErrIllegalIdentifier}}, 12},
        {"CONNECT_B3_REQ for an unknown PLCI", Msg32(1, 0x82, 0x80, 7, 0x0201, {0}), false, 0,
         {{0x8182, kCapiErrIllegalIdentifier}}, 12},
        {"MANUFACTURER_REQ of another maker", Msg32(1, 0xFF, 0x80, 7, 1, {'a', 'b', 'c', 'd', 2, 0x10}), false, 0,
         {{0x81FF, kCapiErrIllegalMessage}}, 18},
        {"MANUFACTURER_REQ of class 0x1002", Msg32(1, 0xFF, 0x80, 7, 1, {'k', 'o', 'l', 'v', 2, 0x10}), false, 0,
         {{0x81FF, 0}}, 18},
        {"unknown request", Msg32(1, 0x7E, 0x80, 7, 1), false, kCapiErrIllegalCommand, {}, 12},
        {"FACILITY_RESP", Msg32(1, 0x80, 0x83, 7, 1, {0, 0}), false, kCapiErrIllegalCommand, {}, 12},
        {"unknown response", Msg32(1, 0x7E, 0x83, 7, 1), false, kCapiErrIllegalCommand, {}, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCapiAppTable e;
        FakePort p(&e);
        ASSERT_EQ(0u, e.create(8, 8, 4, 50));
        e.setPort(1, &p);
        uint16_t id = 0;
        ASSERT_EQ(0, e.registerApplication(Params(), &id));
        ASSERT_EQ(1, id);
        if (!c.linkDown) e.linkUp(1);
        const size_t sentBefore = p.sent.size();
        EXPECT_EQ(c.putResult, e.putMessage(id, c.request.data(), c.request.size(), nullptr));
        EXPECT_EQ(sentBefore, p.sent.size()) << "nothing reaches the adapter";
        EXPECT_EQ(8u - 1u, e.freePlcis()) << "only the registration holds a PLCI object";
        std::vector<Bytes> got;
        CapiGotMessage g;
        while (e.getMessage(id, &g) == 0) got.emplace_back(g.message, g.message + g.length);
        ASSERT_EQ(c.answers.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(c.answers[i].first, Command(got[i]));
            const size_t at = Command(got[i]) == 0x8204 ? 12 : c.infoAt;
            EXPECT_EQ(c.answers[i].second, Get16(got[i], at));
            if (Command(got[i]) != 0x8204) {
                EXPECT_EQ(7, Get16(got[i], 6)) << "the request's number";
            }
        }
        if (c.linkDown) {
            EXPECT_EQ(kCapiLinkDownPlci, Get32(got[0], 8));
            EXPECT_EQ(kCapiLinkDownPlci, Get32(got[1], 8));
        }
    }
}

TEST_F(EngineTest, RequestThePortCannotSendIsConfirmedWithItsError) {
    const uint16_t id = Register();
    port.refuse = 0x1109;
    EXPECT_EQ(0, Put(Msg32(id, 0x05, 0x80, 4, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})));
    const auto got = Drain(id);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(0x8105, Command(got[0]));
    EXPECT_EQ(0x1109, Get16(got[0], 12));
    EXPECT_EQ(4, Get16(got[0], 6));
}

// ---- from the adapter ----------------------------------------------------------------------------

TEST_F(EngineTest, ListenConfirmationOfAnIllegalControllerBecomes0x2002) {
    const uint16_t id = Register();
    ASSERT_EQ(0, Put(Msg32(id, 0x05, 0x80, 4, 1, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x1F, 0, 0, 0, 0, 0, 0})));
    ASSERT_EQ(1u, port.With(0x8005).size());
    EXPECT_EQ(6u, engine.freePlcis());  // registration and listen
    FromAdapter(Msg32(id, 0x05, 0x81, 4, 1, {0x08, 0x10}));
    const auto got = Drain(id);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(kCapiErrIllegalIdentifier, Get16(got[0], 12));
    EXPECT_EQ(7u, engine.freePlcis());  // the listen object went with the error
}

TEST_F(EngineTest, MalformedAdapterMessagesAreDropped) {
    const uint16_t id = Register();
    ConnectWithB3(id);
    const unsigned freeBuffers = engine.freeBuffers();
    std::vector<Bytes> items = {
        {},
        {0x08, 0x00, 0x01},                                   // shorter than a header
        {0x40, 0x00, 0x01, 0x00, 0x02, 0x82, 0x00, 0x40},     // claims 64 bytes, has 8
        {0x07, 0x00, 0x01, 0x00, 0x02, 0x82, 0x00, 0x40},     // length below the header
        {0x08, 0x00, 0x09, 0x00, 0x02, 0x82, 0x00, 0x40},     // unknown application
        {0x08, 0x00, 0x01, 0x00, 0x86, 0x82, 0x00, 0x40},     // DATA_B3_IND without its fields
        {0x08, 0x00, 0x01, 0x00, 0x01, 0xC1, 0x09, 0x00},     // registration of port 9
        {0x08, 0x00, 0x01, 0x00, 0xFF, 0xC1, 0xFF, 0xFF},     // identity reply without a record
    };
    Bytes huge(513, 0);
    Put16(huge, 0, 513);
    Put16(huge, 2, id);
    huge[4] = 0x08;
    huge[5] = 0x82;
    items.push_back(huge);  // more than an adapter item holds
    // DATA_B3_IND whose payload lies outside what arrived or over the message.
    items.push_back(DataB3Ind(id, 1, Bytes(16, 1), 0));             // payload at 32, item ends at 38: 16 fit? no, 6
    items.push_back(DataB3Ind(id, 1, Bytes(16, 1), 11));            // payload at 21, over the message
    items.push_back(DataB3Ind(id, 1, Bytes(16, 1), int32_t(0x80000000)));
    Bytes longData = DataB3Ind(id, 1, Bytes(16, 1));
    Put16(longData, 16, 17);  // one byte more than arrived
    items.push_back(longData);
    for (const Bytes& item : items) {
        SCOPED_TRACE(item.size());
        engine.adapterMessage(1, item.data(), item.size());
    }
    engine.adapterMessage(1, nullptr, 30);
    EXPECT_TRUE(Drain(id).empty());
    EXPECT_EQ(freeBuffers, engine.freeBuffers());
    EXPECT_EQ(0, engine.controller(id)->pendingError());
}

TEST_F(EngineTest, DataB3IndicationsAndTheirAnswers) {
    const uint16_t id = Register(Params(2, 3, 64));
    ConnectWithB3(id);
    Bytes a(40), b(64), cut(80);
    for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(0xA0 + i);
    for (size_t i = 0; i < cut.size(); ++i) cut[i] = uint8_t(i * 3);
    // The payload right behind the message (offset 10) and with a gap (offset -4: at 28).
    FromAdapter(DataB3Ind(id, 0x11, a));
    Bytes gapped = DataB3Ind(id, 0x12, Bytes(6, 0xEE));
    gapped.insert(gapped.end(), b.begin(), b.end());
    Put32(gapped, 12, uint32_t(-4));
    Put16(gapped, 16, 64);
    FromAdapter(gapped);
    FromAdapter(DataB3Ind(id, 0x13, cut));  // longer than the application's 64-byte blocks
    struct Expect {
        uint16_t handle;
        Bytes data;
    } expect[] = {{0x11, a}, {0x12, b}, {0x13, Bytes(cut.begin(), cut.begin() + 64)}};
    for (const Expect& e : expect) {
        CapiGotMessage got;
        ASSERT_EQ(0, engine.getMessage(id, &got));
        const Bytes m(got.message, got.message + got.length);
        // The block named as this platform names it: Data, or Data64 in 30 bytes on a 64-bit build.
        EXPECT_EQ(capib3::kWideAddresses ? 30u : 22u, m.size());
        EXPECT_EQ(capib3::addressOf(got.b3Data), capib3::address(m.data(), m.size()));
        EXPECT_EQ(e.handle, Get16(m, 18));
        EXPECT_EQ(e.data.size(), Get16(m, 16));
        ASSERT_EQ(e.data.size(), got.b3Length);
        EXPECT_EQ(e.data, Bytes(got.b3Data, got.b3Data + got.b3Length));
        engine.completeGet(id);
    }
    // All three blocks wait for answers; the answer of the second frees its own block, so one more
    // indication fits, and a second one is lost.
    EXPECT_EQ(0u, engine.controller(id)->freeB3Blocks());
    Bytes resp = Msg32(id, 0x86, 0x83, 0x4000, kNcci);
    Put16(resp, 12, 0x12);
    Put16(resp, 0, 14);
    ASSERT_EQ(0, Put(resp));
    EXPECT_EQ(1u, engine.controller(id)->freeB3Blocks());
    EXPECT_EQ(1u, port.With(0x8386).size());
    FromAdapter(DataB3Ind(id, 0x14, a));
    FromAdapter(DataB3Ind(id, 0x15, a));
    CapiGotMessage got;
    ASSERT_EQ(0, engine.getMessage(id, &got));
    EXPECT_EQ(0x14, Get16(Bytes(got.message, got.message + got.length), 18));
    EXPECT_EQ(kCapiErrQueueOverflow, engine.getMessage(id, &got));
    // The end of the B3 connection frees what was never answered.
    FromAdapter(Msg32(id, 0x84, 0x82, 0x4009, kNcci, {0, 0, 0}));
    Drain(id);
    ASSERT_EQ(0, Put(Msg32(id, 0x84, 0x83, 0x4009, kNcci)));
    EXPECT_EQ(3u, engine.controller(id)->freeB3Blocks());
}

// ---- link loss -----------------------------------------------------------------------------------

struct LinkDownCase {
    const char* what;
    void (*reach)(EngineTest& t, uint16_t id);
    std::vector<std::pair<uint16_t, uint32_t>> expected;  // command word, PLCI or NCCI
};

void PrintTo(const LinkDownCase& c, std::ostream* os) { *os << c.what; }

class LinkDownTest : public EngineTest, public ::testing::WithParamInterface<LinkDownCase> {};

constexpr uint32_t kPlci = EngineTest::kPlci;
constexpr uint32_t kNcci = EngineTest::kNcci;

const LinkDownCase kLinkDownCases[] = {
    {"ConnectReqSent", [](EngineTest& t, uint16_t id) { t.Put(Msg32(id, 0x02, 0x80, 1, 1, {0, 0})); },
     {{0x8102, kCapiLostCallPlci}, {0x8204, kCapiLostCallPlci}}},
    {"ConnectConfReceived",
     [](EngineTest& t, uint16_t id) {
         t.Put(Msg32(id, 0x02, 0x80, 1, 1, {0, 0}));
         t.FromAdapter(Msg32(id, 0x02, 0x81, 1, kPlci, {0, 0}));
     },
     {{0x8204, kPlci}}},
    {"ConnectIndReceived", [](EngineTest& t, uint16_t id) { t.FromAdapter(Msg32(id, 0x02, 0x82, 0x4000, kPlci, {1, 0})); },
     {{0x8204, kPlci}}},
    {"DisconnectIndReceived",
     [](EngineTest& t, uint16_t id) {
         t.FromAdapter(Msg32(id, 0x02, 0x82, 0x4000, kPlci, {1, 0}));
         t.FromAdapter(Msg32(id, 0x04, 0x82, 0x4001, kPlci, {0, 0}));
     },
     {}},
    {"DisconnectReqSent",
     [](EngineTest& t, uint16_t id) {
         t.FromAdapter(Msg32(id, 0x02, 0x82, 0x4000, kPlci, {1, 0}));
         t.Put(Msg32(id, 0x04, 0x80, 2, kPlci, {0}));
     },
     {{0x8204, kPlci}}},
    {"B3Up", [](EngineTest& t, uint16_t id) { t.ConnectWithB3(id); }, {{0x8284, kNcci}, {0x8204, kPlci}}},
    {"B3ClearedByTheAdapter",
     [](EngineTest& t, uint16_t id) {
         t.ConnectWithB3(id);
         t.FromAdapter(Msg32(id, 0x84, 0x82, 0x4009, kNcci, {0, 0, 0}));
     },
     {{0x8204, kPlci}}},
    {"ConnectB3ReqUnconfirmed",
     [](EngineTest& t, uint16_t id) {
         t.Put(Msg32(id, 0x02, 0x80, 1, 1, {0, 0}));
         t.FromAdapter(Msg32(id, 0x02, 0x81, 1, kPlci, {0, 0}));
         t.Put(Msg32(id, 0x82, 0x80, 2, kPlci, {0}));
     },
     {{0x8204, kPlci}}},
};

TEST_P(LinkDownTest, EndsTheCallByItsState) {
    const LinkDownCase& c = GetParam();
    const uint16_t id = Register();
    c.reach(*this, id);
    Drain(id);
    engine.linkDown(1);
    const auto got = Drain(id);
    ASSERT_EQ(c.expected.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(c.expected[i].first, Command(got[i]));
        EXPECT_EQ(c.expected[i].second, Get32(got[i], 8));
        if (Command(got[i]) == 0x8102) {
            EXPECT_EQ(1, Get16(got[i], 6)) << "the CONNECT_REQ's number";
            EXPECT_EQ(0, Get16(got[i], 12));
        }
        if (Command(got[i]) == 0x8204 || Command(got[i]) == 0x8284) {
            EXPECT_EQ(kCapiReasonLinkLost, Get16(got[i], 12));
        }
    }
    EXPECT_EQ(0, engine.controller(id)->registrationState(1));
    // The application clears what it was told of; then every object is free again.
    for (const Bytes& m : got) {
        if (Command(m) == 0x8284) {
            EXPECT_EQ(0, Put(Msg32(id, 0x84, 0x83, Get16(m, 6), Get32(m, 8))));
        }
        if (Command(m) == 0x8204) {
            EXPECT_EQ(0, Put(Msg32(id, 0x04, 0x83, Get16(m, 6), Get32(m, 8))));
        }
    }
    if (std::string(c.what) == "DisconnectIndReceived") Put(Msg32(id, 0x04, 0x83, 0x4001, kPlci));
    EXPECT_EQ(8u, engine.freePlcis());
    EXPECT_EQ(4u, engine.freeNccis());
}

INSTANTIATE_TEST_SUITE_P(PerState, LinkDownTest, ::testing::ValuesIn(kLinkDownCases),
                         [](const ::testing::TestParamInfo<LinkDownCase>& info) { return std::string(info.param.what); });

TEST_F(EngineTest, LinkDownWithCapi11EndsB3ConnectionsWithItsReason) {
    const uint16_t id = Register(Params(2, 7, 2048, 11));
    ConnectWithB3(id);
    engine.linkDown(1);
    const auto got = Drain(id);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0x0284, Command(got[0]));
    EXPECT_EQ(kCapiReasonLinkLostV11, Get16(got[0], 12));
}

TEST_F(EngineTest, CallOrListenAfterTheLinkCameBackRegistersAgain) {
    const uint16_t caller = Register();
    const uint16_t listener = Register();
    engine.linkDown(1);
    engine.linkUp(1);
    const Bytes requests[] = {Msg32(caller, 0x02, 0x80, 3, 1, {0, 0}),
                              Msg32(listener, 0x05, 0x80, 3, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})};
    for (const Bytes& request : requests) {
        SCOPED_TRACE(Command(request));
        port.sent.clear();
        ASSERT_EQ(0, Put(request));
        ASSERT_EQ(2u, port.sent.size());
        EXPECT_EQ(0xC001, Command(port.sent[0].message));
        EXPECT_EQ(Get16(request, 2), Get16(port.sent[0].message, 2));
        EXPECT_EQ(0, Get16(port.sent[0].message, 14)) << "not the first registration";
        EXPECT_EQ(Command(request), Command(port.sent[1].message));
        EXPECT_EQ(kAppRegistered, engine.controller(Get16(request, 2))->registrationState(1));
    }
}

TEST_F(EngineTest, RequestsPutDuringARegistrationWaitForIt) {
    // The application's signal procedure may put while the engine waits for the adapter.
    const Bytes listen = Msg32(1, 0x05, 0x80, 4, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    port.answerRegistration = false;
    port.onSend = [&](const Sent& s) {
        if (Command(s.message) != 0xC001) return;
        EXPECT_EQ(0, Put(listen));
        EXPECT_EQ(0u, port.With(0x8005).size());
        port.Answer(1, 0x01, 0xC1, 1, {});
    };
    const uint16_t id = Register();
    ASSERT_EQ(1, id);
    ASSERT_EQ(2u, port.sent.size());
    EXPECT_EQ(0x8005, Command(port.sent[1].message));

    // The link drops while the call's new registration waits: the waiting listen learns it, and
    // the call is confirmed with the failure.
    engine.linkDown(1);
    engine.linkUp(1);
    port.sent.clear();
    port.onSend = [&](const Sent& s) {
        if (Command(s.message) != 0xC001) return;
        EXPECT_EQ(0, Put(listen));
        engine.linkDown(1);
    };
    ASSERT_EQ(0, Put(Msg32(id, 0x02, 0x80, 5, 1, {0, 0})));
    const auto got = Drain(id);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0x8105, Command(got[0]));
    EXPECT_EQ(kCapiErrStateWaitingForListen, Get16(got[0], 12));
    EXPECT_EQ(0x8102, Command(got[1]));
    EXPECT_EQ(kCapiErrNotInstalled, Get16(got[1], 12));
    EXPECT_EQ(1u, port.sent.size()) << "only the registration reached the port";
    EXPECT_EQ(kAppRegistered, engine.controller(id)->state());
    EXPECT_EQ(7u, engine.freePlcis()) << "the listen object alone";
}

// ---- B3 data out ---------------------------------------------------------------------------------

TEST_F(EngineTest, DataB3ReqCarriesItsPayloadAndIsConfirmedOnceWhenSent) {
    const uint16_t id = Register();
    ConnectWithB3(id);
    const Bytes payload = {1, 2, 3, 4, 5};
    ASSERT_EQ(0, Put(DataB3Req(id, 0x21, 5, 0x77), payload.data()));
    const auto sent = port.With(0x8086);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(payload, sent[0].payload);
    EXPECT_EQ(10u, Get32(sent[0].message, 12)) << "the payload follows the 22-byte message";
    EXPECT_TRUE(Drain(id).empty()) << "no confirmation before it is sent";
    // Link control's paced confirmation, twice (a duplicate from the adapter is dropped).
    Bytes conf = Msg32(id, 0x86, 0x81, 0x21, kNcci, {0x77, 0, 0, 0});
    FromAdapter(conf);
    FromAdapter(conf);
    const auto got = Drain(id);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ((Bytes{16, 0, uint8_t(id), 0, 0x86, 0x81, 0x21, 0, 0x01, 0x01, 0x01, 0x00, 0x77, 0, 0, 0}), got[0]);
    // A DATA_B3_REQ without its payload, or for an unknown NCCI.
    EXPECT_EQ(kCapiErrIllegalMessage, Put(DataB3Req(id, 0x22, 5, 0x78)));
    const Bytes big(2049, 0);
    EXPECT_EQ(kCapiErrIllegalMessage, Put(DataB3Req(id, 0x22, 2049, 0x78), big.data()));
    Bytes unknown = DataB3Req(id, 0x23, 5, 0x79);
    Put32(unknown, 8, 0x00020101);
    ASSERT_EQ(0, Put(unknown, payload.data()));
    const auto refused = Drain(id);
    ASSERT_EQ(1u, refused.size());
    EXPECT_EQ(kCapiErrIllegalIdentifier, Get16(refused[0], 14));
    EXPECT_EQ(0x79, Get16(refused[0], 12));
    {
        // A 64-bit platform's request (30 bytes, the address in Data64) goes to the line in the
        // same 22-byte form: the adapter never sees the sender's address.
        Bytes wide = DataB3Req(id, 0x20, 5, 0x76);
        wide.resize(30);
        ASSERT_EQ(30, capib3::name(wide.data(), wide.size(), 22, 0x00007FF612345678ull, true));
        ASSERT_EQ(0, Put(wide, payload.data()));
        const auto both = port.With(0x8086);
        ASSERT_FALSE(both.empty());
        const Sent& last = both.back();
        EXPECT_EQ(22u, last.message.size());
        EXPECT_EQ(22u, Get16(last.message, 0));
        EXPECT_EQ(10u, Get32(last.message, 12));
        EXPECT_EQ(payload, last.payload);
        FromAdapter(Msg32(id, 0x86, 0x81, 0x20, kNcci, {0x76, 0, 0, 0}));
        ASSERT_EQ(1u, Drain(id).size());
    }
}

// Data that link control or the port could not send is confirmed with their reason, by either path
// a confirmation takes.
TEST_F(EngineTest, DataThatDidNotGoIsConfirmedWithItsReason) {
    const uint16_t id = Register();
    ConnectWithB3(id);
    const Bytes payload(4, 9);
    ASSERT_EQ(0, Put(DataB3Req(id, 0x40, 4, 0x41), payload.data()));
    ASSERT_EQ(0, Put(DataB3Req(id, 0x42, 4, 0x43), payload.data()));
    const Bytes refused = Msg32(id, 0x86, 0x81, 0x40, kNcci, {0x41, 0, 0x08, 0x11});
    engine.dataSent(refused.data(), refused.size());
    FromAdapter(Msg32(id, 0x86, 0x81, 0x42, kNcci, {0x43, 0, 0x01, 0x20}));
    const auto got = Drain(id);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0x41, Get16(got[0], 12));
    EXPECT_EQ(0x1108, Get16(got[0], 14));
    EXPECT_EQ(0x43, Get16(got[1], 12));
    EXPECT_EQ(0x2001, Get16(got[1], 14));
}

TEST_F(EngineTest, SentReportAfterTheB3ConnectionEnded) {
    struct Case {
        uint16_t version;
        size_t confirmations;
    } cases[] = {{0, 0}, {11, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const uint16_t id = Register(Params(2, 7, 2048, c.version));
        ConnectWithB3(id);
        const Bytes payload(10, 1);
        ASSERT_EQ(0, Put(DataB3Req(id, 0x30, 10, 0x31), payload.data()));
        FromAdapter(Msg32(id, 0x84, 0x82, 0x4009, kNcci, {0, 0, 0}));
        Drain(id);
        FromAdapter(Msg32(id, 0x86, 0x81, 0x30, kNcci, {0x31, 0, 0, 0}));
        const auto got = Drain(id);
        ASSERT_EQ(c.confirmations, got.size());
        if (!got.empty()) {
            EXPECT_EQ(kCapiErrNoB3Connection, Get16(got[0], 14));
        }
        ASSERT_EQ(0, engine.releaseApplication(id));
    }
}

TEST_F(EngineTest, PacingWindowHoldsTheEleventhRequest) {
    engine.addB3Options(kB3OptionWindow10);
    const uint16_t id = Register();
    ConnectWithB3(id);
    const Bytes payload(800, 0x5A);  // 100 ms on a 64 kbit/s channel
    for (uint16_t i = 0; i < 11; ++i) ASSERT_EQ(0, Put(DataB3Req(id, uint16_t(0x100 + i), 800, i), payload.data()));
    EXPECT_EQ(10u, port.With(0x8086).size());
    EXPECT_TRUE(host.running);
    host.clock += 99;
    engine.pacingTick();
    EXPECT_EQ(10u, port.With(0x8086).size());
    host.clock += 1;
    engine.pacingTick();
    const auto sent = port.With(0x8086);
    ASSERT_EQ(11u, sent.size());
    EXPECT_EQ(10, Get16(sent[10].message, 18));
    EXPECT_EQ(payload, sent[10].payload);
    // Each entry retires its own time after the one before, counted from when that one was due,
    // however late the tick: 95 ms later the second is not due, 105 ms later the second and the
    // third are.
    host.clock += 95;
    engine.pacingTick();
    for (uint16_t i = 0; i < 12; ++i) ASSERT_EQ(0, Put(DataB3Req(id, uint16_t(0x200 + i), 800, uint16_t(0x20 + i)), payload.data()));
    EXPECT_EQ(11u, port.With(0x8086).size());
    host.clock += 105;
    engine.pacingTick();
    EXPECT_EQ(13u, port.With(0x8086).size());
    for (int i = 0; i < 30 && host.running; ++i) {
        host.clock += 100;
        engine.pacingTick();
    }
    EXPECT_EQ(23u, port.With(0x8086).size());
    EXPECT_FALSE(host.running);
    EXPECT_EQ(1, host.starts);
}

TEST_F(EngineTest, WithoutPacingEveryRequestPasses) {
    const uint16_t id = Register();
    ConnectWithB3(id);
    const Bytes payload(2048, 1);
    for (uint16_t i = 0; i < 20; ++i) ASSERT_EQ(0, Put(DataB3Req(id, i, 2048, i), payload.data()));
    EXPECT_EQ(20u, port.With(0x8086).size());
    EXPECT_EQ(0, host.starts);
}

// ---- identity ------------------------------------------------------------------------------------

TEST_F(EngineTest, IdentityRequestThroughALentObject) {
    Bytes record(148);
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i + 1);
    port.onSend = [&](const Sent& s) {
        if (Command(s.message) != 0xC0FF) return;
        Bytes reply = Msg(Get16(s.message, 2), 0xFF, 0xC1, 0xFFFF, {1, 0, 0, 0, 'k', 'o', 'l', 'v', 7, 0x10, 0, 0});
        reply.insert(reply.end(), record.begin(), record.end());
        Put16(reply, 0, uint16_t(reply.size()));
        FromAdapter(reply);
    };
    uint8_t out[148] = {};
    ASSERT_EQ(0, engine.requestIdentity(1, out));
    EXPECT_EQ(record, Bytes(out, out + 148));
    const auto asked = port.With(0xC0FF);
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ((Bytes{18, 0, 1, 0, 0xFF, 0xC0, 0xFF, 0xFF, 1, 0, 0, 0, 'k', 'o', 'l', 'v', 7, 16}), asked[0].message);
    EXPECT_EQ(kAppFree, engine.controller(1)->state()) << "the lent object is free again";
    EXPECT_EQ(8u, engine.freePlcis());
    port.onSend = nullptr;
    EXPECT_EQ(kCapiErrNotInstalled, engine.requestIdentity(1, out));
    EXPECT_EQ(1, Register()) << "the first registration still gets object 1";
}

}  // namespace
