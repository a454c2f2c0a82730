// The provider and its port against a fake link control, a manual timer service and a fake CAPI
// engine: the open and connect rules, puts by port state, the identity and its checks, the
// deferred open, and the engine lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/debug.h"
#include "portbridge/provider/ta_provider.h"

using namespace pbprov;

namespace {

// Link control: records what it was asked, answers requests with configured indications.
class FakeLink : public CTaLinkOps {
public:
    bool startResult = true;
    bool bringUpResult = true;
    std::vector<uint16_t> connectAnswer{kLinkEstablished};  // indications that answer a 513
    std::vector<uint16_t> releaseAnswer{kLinkReleased};     // and a 514
    std::atomic<bool> takeData{true};
    std::atomic<bool> holdData{false};  // sendLinkData waits while set

    int starts = 0, bringUps = 0, shutDowns = 0, connects = 0;
    std::atomic<int> ticks{0};
    std::mutex sentMutex;
    std::vector<std::vector<uint8_t>> sent;
    std::vector<std::string> commands;
    CTaIndicationFn fn = nullptr;
    void* ctx = nullptr;

    bool startRuntime(const CTaPortSettings&, CTaIndicationFn f, void* c) override {
        ++starts;
        fn = f;
        ctx = c;
        return startResult;
    }
    bool bringUpLink(const CTaPortSettings& s) override {
        ++bringUps;
        commands.push_back(s.versionCommand);
        commands.push_back(s.nameCommand);
        return bringUpResult;
    }
    uint32_t connectLink(uint8_t) override {
        ++connects;
        for (uint16_t id : connectAnswer) indicate(id);
        return 0;
    }
    uint32_t sendLinkRequest(uint16_t id) override {
        if (id == kLinkRelease)
            for (uint16_t a : releaseAnswer) indicate(a);
        return 0;
    }
    std::atomic<int> handOvers{0};  // sendLinkData calls begun
    bool sendLinkData(const uint8_t* data, size_t length) override {
        ++handOvers;
        while (holdData) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> lock(sentMutex);
        sent.emplace_back(data, data + length);
        return takeData;
    }
    size_t sentCount() {
        std::lock_guard<std::mutex> lock(sentMutex);
        return sent.size();
    }
    void runtimeTick() override { ++ticks; }
    void shutDownLink() override { ++shutDowns; }

    void indicate(uint16_t id) {
        CTaIndication ind;
        ind.id = id;
        if (fn) fn(ctx, ind);
    }
    // A 643 item: 2-byte prefix, then the message.
    void indicateData(const std::vector<uint8_t>& message) {
        std::vector<uint8_t> item(2, 0);
        item.insert(item.end(), message.begin(), message.end());
        CTaIndication ind;
        ind.id = kLinkDataUp;
        ind.data = item.data();
        ind.dataLength = static_cast<uint16_t>(item.size());
        if (fn) fn(ctx, ind);
    }
};

// Timers that fire when the test says so.
class ManualTimers : public CTaTimerOps {
public:
    struct Timer {
        unsigned ms;
        CTaTimerFn fn;
        void* ctx;
        bool periodic;
        bool active;
    };
    std::vector<Timer> timers;
    std::mutex mutex;
    uint32_t startService(unsigned) override { return 0; }
    void stopService() override {}
    void* startTimer(unsigned ms, CTaTimerFn fn, void* ctx, bool periodic) override {
        std::lock_guard<std::mutex> lock(mutex);
        timers.reserve(64);
        timers.push_back({ms, fn, ctx, periodic, true});
        return &timers.back();
    }
    void cancelTimer(void* t) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (t) static_cast<Timer*>(t)->active = false;
    }
    // Fires every active timer of that time once.
    void fire(unsigned ms) {
        std::vector<Timer*> due;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto& t : timers)
                if (t.active && t.ms == ms) due.push_back(&t);
        }
        for (Timer* t : due) {
            if (!t->periodic) t->active = false;
            t->fn(t->ctx);
        }
    }
    int active(unsigned ms) {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (auto& t : timers) n += t.active && t.ms == ms;
        return n;
    }
};

// An engine that registers ids 1.. and forwards every put to the port, as the real one does.
class FakeEngine : public CTaEngineOps {
public:
    CTaPort* port = nullptr;
    std::atomic<int> adapterMessages{0};
    int linkUps = 0, linkDowns = 0, dataSents = 0, identityRequests = 0, completions = 0;
    std::vector<uint32_t> putResults;  // what the port answered each forwarded put
    std::vector<uint16_t> ids;
    std::vector<uint8_t> record;       // the identity the adapter gives; empty: no answer
    uint32_t b3Options = 0;
    uint8_t got[64] = {};

    uint32_t createTable(unsigned, unsigned, unsigned, unsigned) override { return 0; }
    void destroyTable() override {}
    void setPort(unsigned, CTaPort* p) override { port = p; }
    void addB3Options(uint32_t bits) override { b3Options |= bits; }
    uint32_t registerApplication(const CTaRegisterParams&, uint16_t* appId) override {
        uint16_t id = static_cast<uint16_t>(ids.size() + 1);
        ids.push_back(id);
        *appId = id;
        return 0;
    }
    uint32_t releaseApplication(uint16_t appId) override {
        for (auto it = ids.begin(); it != ids.end(); ++it)
            if (*it == appId) {
                ids.erase(it);
                return 0;
            }
        return kInfoUnknownApp;
    }
    uint32_t putMessage(uint16_t, const uint8_t* message, size_t size, const uint8_t*) override {
        putResults.push_back(port ? port->putMessage(message, size) : kInfoNotReachable);
        return 0;
    }
    uint32_t getMessage(uint16_t, CTaGot* out) override {
        std::memset(got, 0, sizeof(got));
        got[0] = 14;
        got[4] = 0x05;
        got[5] = 0x81;
        out->message = got;
        out->length = 14;
        return 0;
    }
    void completeGet(uint16_t) override { ++completions; }
    uint32_t installSignal(uint16_t, CTaSignalFn, uintptr_t) override { return 0; }
    bool knowsApplication(uint16_t appId) override {
        for (uint16_t id : ids)
            if (id == appId) return true;
        return false;
    }
    uint32_t requestIdentity(unsigned, uint8_t* out) override {
        ++identityRequests;
        if (record.empty()) return kInfoNotReachable;
        std::memcpy(out, record.data(), kIdentityRecordSize);
        return 0;
    }
    void adapterMessage(unsigned, const uint8_t* message, size_t size) override {
        lastAdapterMessage.assign(message, message + size);
        ++adapterMessages;
    }
    std::vector<uint8_t> lastAdapterMessage;
    void dataSent(const uint8_t* message, size_t size) override {
        ++dataSents;
        lastSent.assign(message, message + size);
    }
    std::vector<uint8_t> lastSent;
    void linkUp(unsigned) override { ++linkUps; }
    void linkDown(unsigned) override { ++linkDowns; }
};

CTaPort::Timing fastTiming() {
    CTaPort::Timing t;
    t.settleMs = 0;
    t.connectMs = 50;
    t.disconnectMs = 50;
    return t;
}

std::vector<uint8_t> listenReq() {
    std::vector<uint8_t> m(26, 0);
    m[0] = 26;
    m[2] = 1;
    m[4] = 0x05;
    m[5] = 0x80;
    return m;
}

// An identity record: version words, manufacturer, profile and serial fields.
std::vector<uint8_t> identityRecord(const std::string& manufacturer, const std::string& serial) {
    std::vector<uint8_t> r(kIdentityRecordSize, 0);
    r[0] = 2;  // CAPI 2.0
    std::memcpy(&r[12], manufacturer.data(), std::min<size_t>(manufacturer.size(), 64));
    r[76] = 1;
    r[78] = 2;
    std::memcpy(&r[140], serial.data(), std::min<size_t>(serial.size(), 8));
    return r;
}

// An identity reply of `length` bytes, its length field `claimed`.
std::vector<uint8_t> identityReply(size_t length, size_t claimed) {
    std::vector<uint8_t> m(length, 0);
    m[0] = static_cast<uint8_t>(claimed);
    m[1] = static_cast<uint8_t>(claimed >> 8);
    m[4] = 0xFF;
    m[5] = 0xC1;
    m[16] = 0x07;
    m[17] = 0x10;
    return m;
}

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(provider.start(this), 0u);
        provider.setPortTiming(fastTiming());
    }
    uint32_t registerApp(uint16_t* id) {
        CCapiCall c;
        c.function = kFnRegister;
        c.appIdResult = id;
        return provider.call(c);
    }
    uint32_t put(uint16_t id, const std::vector<uint8_t>& m) {
        CCapiCall c;
        c.function = kFnPut;
        c.appId = id;
        c.message = m.data();
        c.messageSize = m.size();
        return provider.call(c);
    }
    uint32_t text(uint32_t function, char* out, uint32_t controller = 0) {
        CCapiCall c;
        c.function = function;
        c.resultBuffer = reinterpret_cast<uint8_t*>(out);
        c.controller = controller;
        return provider.call(c);
    }
    // Port 1 open with three LISTEN_REQs put while link control holds the writer on the first.
    void threeListensBehindAHeldWriter(CTaPort** port) {
        ASSERT_EQ(provider.openPort(1), 0u);
        *port = provider.port(1);
        link.holdData = true;
        for (uint8_t i = 0; i < 3; ++i) {
            std::vector<uint8_t> m = listenReq();
            m[6] = i;
            ASSERT_EQ((*port)->putMessage(m.data(), m.size()), kInfoPending);
        }
        for (int i = 0; i < 500 && link.handOvers.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(link.handOvers.load(), 1) << "the writer holds the first";
    }
    static void post(void* window, uint32_t action, uint32_t port) {
        auto* self = static_cast<ProviderTest*>(window);
        self->posted.push_back({action, port});
    }

    FakeLink link;
    ManualTimers timers;
    FakeEngine engine;
    CTaProvider provider{&link, &timers, &engine, nullptr, &ProviderTest::post};
    std::vector<std::pair<uint32_t, uint32_t>> posted;
};

}  // namespace

// The open takes a good bring-up as success and connects; a failed one is shut down again.
TEST_F(ProviderTest, OpenSucceedsOnGoodBringUpAndFailsOtherwise) {
    struct Case {
        bool start, bringUp;
        uint32_t open;
        int state, shutDowns;
    } cases[] = {
        {true, true, 0, CTaPort::kConnected, 0},
        {true, false, 1, CTaPort::kFailed, 1},
        {false, true, 1, CTaPort::kFailed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " bring-up " << c.bringUp);
        link.startResult = c.start;
        link.bringUpResult = c.bringUp;
        link.shutDowns = 0;
        provider.closePort(1);
        link.shutDowns = 0;
        EXPECT_EQ(provider.openPort(1), c.open);
        EXPECT_EQ(provider.port(1)->state(), c.state);
        EXPECT_EQ(provider.portOpen(), c.open == 0);
        EXPECT_EQ(link.shutDowns, c.shutDowns);
    }
    EXPECT_EQ(provider.openPort(3), 4u);
}

// The connect wait ends with 0 only on link up; a release, a loss or a stop, or silence, is 88.
TEST_F(ProviderTest, ConnectCompletesOnLinkUpOnly) {
    struct Case {
        std::vector<uint16_t> answer;
        uint32_t result;
        int state;
    } cases[] = {
        {{kLinkEstablished}, 0, CTaPort::kConnected},
        {{kLinkReleased}, 88, CTaPort::kClosed},
        {{kLinkDown}, 88, CTaPort::kClosed},  // a reset ends nothing: time-out
        {{kLinkDown, kLinkEstablished}, 0, CTaPort::kConnected},
        {{kLinkStopped}, 88, CTaPort::kClosed},
        {{kLinkEstablishedUp, kLinkReleasedUp}, 88, CTaPort::kClosed},  // no answer: time-out
        {{}, 88, CTaPort::kClosed},
    };
    CTaPort* port = provider.port(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first answer " << (c.answer.empty() ? 0 : c.answer[0]));
        ASSERT_EQ(port->open(CTaPortSettings{}), 0u);
        link.connectAnswer = c.answer;
        EXPECT_EQ(port->connect(), c.result);
        EXPECT_EQ(port->state(), c.state);
    }
}

TEST_F(ProviderTest, DisconnectWaitsForTheRelease) {
    CTaPort* port = provider.port(1);
    ASSERT_EQ(provider.openPort(1), 0u);
    link.releaseAnswer = {};
    EXPECT_EQ(port->disconnect(), 88u);
    EXPECT_EQ(port->state(), CTaPort::kConnected);
    link.releaseAnswer = {kLinkReleased};
    EXPECT_EQ(port->disconnect(), 0u);
    EXPECT_EQ(port->state(), CTaPort::kClosed);
}

// A put is taken only while connected and goes out as prefix 00 00, the message and its payload.
TEST_F(ProviderTest, PutIsSentWhenConnectedAndRefusedOtherwise) {
    CTaPort* port = provider.port(1);
    std::vector<uint8_t> m = listenReq();
    const uint8_t payload[3] = {0xA1, 0xA2, 0xA3};
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoNotReachable);
    ASSERT_EQ(provider.openPort(1), 0u);
    EXPECT_EQ(port->putMessage(m.data(), m.size(), payload, 3), kInfoPending);
    ASSERT_TRUE(port->waitWritten(5000));
    ASSERT_EQ(link.sentCount(), 1u);
    std::vector<uint8_t> expected{0, 0};
    expected.insert(expected.end(), m.begin(), m.end());
    expected.insert(expected.end(), payload, payload + 3);
    EXPECT_EQ(link.sent[0], expected);
    // A link reset (645, then 641) is no loss: the calls stay, the port goes on taking puts.
    link.indicate(kLinkDown);
    link.indicate(kLinkEstablished);
    EXPECT_EQ(engine.linkDowns, 0);
    EXPECT_TRUE(provider.portOpen());
    EXPECT_EQ(port->state(), CTaPort::kConnected);
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoPending);
    ASSERT_TRUE(port->waitWritten(5000));
    // A lost link: the port takes nothing more, and the engine hears of it.
    link.indicate(kLinkReleased);
    EXPECT_EQ(engine.linkDowns, 1);
    EXPECT_FALSE(provider.portOpen());
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoNotReachable);
}

// The engine's put through the provider: refused by a port that is not connected, so the engine
// can answer it with an error confirmation instead of leaving it pending.
TEST_F(ProviderTest, PutWithoutConnectedPortIsRefusedToTheEngine) {
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    EXPECT_EQ(put(id, listenReq()), 0u);
    link.indicate(kLinkReleased);
    link.bringUpResult = false;  // the adapter is away
    EXPECT_EQ(put(id, listenReq()), 0u);
    EXPECT_EQ(engine.putResults, (std::vector<uint32_t>{kInfoPending, kInfoNotReachable}));
}

// After a lost link an application that stays registered calls or listens again: that opens the
// adapter again. Other puts (answers to the calls that are gone) do not.
TEST_F(ProviderTest, CallOrListenAfterALostLinkOpensTheAdapterAgain) {
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    link.indicate(kLinkReleased);
    ASSERT_FALSE(provider.portOpen());
    const int starts = link.starts;
    std::vector<uint8_t> answer = listenReq();
    answer[4] = 0x04, answer[5] = 0x83;  // DISCONNECT_RESP
    EXPECT_EQ(put(id, answer), 0u);
    EXPECT_EQ(link.starts, starts);
    std::vector<uint8_t> call = listenReq();
    call[4] = 0x02;  // CONNECT_REQ
    EXPECT_EQ(put(id, call), 0u);
    EXPECT_EQ(link.starts, starts + 1);
    EXPECT_TRUE(provider.portOpen());
    EXPECT_EQ(engine.putResults, (std::vector<uint32_t>{kInfoNotReachable, kInfoPending}));
}

// The port never makes its caller wait for link control: items are handed over in order by the
// writer while the caller goes on (the runtime thread that takes them may wait for the caller's
// engine lock).
TEST_F(ProviderTest, PutNeverWaitsForLinkControl) {
    ASSERT_EQ(provider.openPort(1), 0u);
    CTaPort* port = provider.port(1);
    link.holdData = true;
    for (uint8_t i = 0; i < 20; ++i) {
        std::vector<uint8_t> m = listenReq();
        m[6] = i;
        EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoPending);
    }
    EXPECT_LE(link.sentCount(), 1u);
    link.holdData = false;
    ASSERT_TRUE(port->waitWritten(5000));
    ASSERT_EQ(link.sentCount(), 20u);
    for (uint8_t i = 0; i < 20; ++i) EXPECT_EQ(link.sent[i][2 + 6], i);
    // A request that never reached link control is confirmed to the engine, with the reason: as
    // the adapter would confirm it, and a DATA_B3_REQ as link control confirms data.
    link.takeData = false;
    const int adapterMessages = engine.adapterMessages.load();
    std::vector<uint8_t> m = listenReq();
    port->putMessage(m.data(), m.size());
    ASSERT_TRUE(port->waitWritten(5000));
    EXPECT_EQ(port->refusedItems(), 1u);
    ASSERT_EQ(engine.adapterMessages.load(), adapterMessages + 1);
    EXPECT_EQ(engine.lastAdapterMessage[4], 0x05);
    EXPECT_EQ(engine.lastAdapterMessage[5], 0x81);
    EXPECT_EQ(engine.lastAdapterMessage[12] | engine.lastAdapterMessage[13] << 8, 0x1108);
    const std::vector<uint8_t> req = {22, 0, 3, 0, 0x86, 0x80, 0x21, 0, 1, 1, 1, 0, 0, 0, 0, 0, 4, 0, 0x55, 0, 0, 0};
    port->putMessage(req.data(), req.size());
    ASSERT_TRUE(port->waitWritten(5000));
    ASSERT_EQ(engine.dataSents, 1);
    EXPECT_EQ(engine.lastSent, (std::vector<uint8_t>{16, 0, 3, 0, 0x86, 0x81, 0x21, 0, 1, 1, 1, 0, 0x55, 0, 0x08, 0x11}));
}

// Requests the port took but had not handed over when it closes are confirmed with an error;
// the one link control has is its to answer.
TEST_F(ProviderTest, RequestsLeftInThePortAtCloseAreConfirmed) {
    CTaPort* port = nullptr;
    ASSERT_NO_FATAL_FAILURE(threeListensBehindAHeldWriter(&port));
    const int before = engine.adapterMessages.load();
    std::thread release([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        link.holdData = false;
    });
    port->close();
    release.join();
    EXPECT_EQ(link.sentCount(), 1u) << "the first was being handed over";
    ASSERT_EQ(engine.adapterMessages.load(), before + 2);
    EXPECT_EQ(engine.lastAdapterMessage[6], 2);
    EXPECT_EQ(engine.lastAdapterMessage[12] | engine.lastAdapterMessage[13] << 8, 0x2001);
}

// When the link is lost, requests still waiting for the writer are confirmed with an error before
// the engine hears of the loss, instead of going to a link control that only refuses them.
TEST_F(ProviderTest, RequestsWaitingAtALinkLossAreConfirmed) {
    CTaPort* port = nullptr;
    ASSERT_NO_FATAL_FAILURE(threeListensBehindAHeldWriter(&port));
    const int before = engine.adapterMessages.load();
    const int downs = engine.linkDowns;
    link.indicate(kLinkReleased);
    EXPECT_EQ(engine.adapterMessages.load(), before + 2);
    EXPECT_EQ(engine.lastAdapterMessage[6], 2);
    EXPECT_EQ(engine.lastAdapterMessage[12] | engine.lastAdapterMessage[13] << 8, 0x2001);
    EXPECT_EQ(engine.linkDowns, downs + 1);
    link.holdData = false;
    ASSERT_TRUE(port->waitWritten(5000));
    EXPECT_EQ(link.sentCount(), 1u) << "only the one in hand";
}

TEST_F(ProviderTest, PutLengthsOutsideTheAreaAreRefused) {
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    for (unsigned length : {0u, 11u, 283u, 600u}) {
        std::vector<uint8_t> m(300, 0);
        m[0] = static_cast<uint8_t>(length);
        m[1] = static_cast<uint8_t>(length >> 8);
        EXPECT_EQ(put(id, m), kInfoBadPut) << length;
    }
    std::vector<uint8_t> shortArea = listenReq();
    shortArea.resize(20);  // claims 26
    EXPECT_EQ(put(id, shortArea), kInfoBadPut);
    EXPECT_TRUE(engine.putResults.empty());
}

// Items from the adapter: too short for prefix and header, a length field beyond the item or 512,
// or an identity reply that cannot hold its record, never reach the engine; link control's own
// DATA_B3_CONF goes to the engine's data-sent report.
TEST_F(ProviderTest, MalformedAdapterItemsAreDropped) {
    ASSERT_EQ(provider.openPort(1), 0u);
    struct Case {
        std::vector<uint8_t> message;
        int delivered;
    } cases[] = {
        {{14, 0, 1, 0, 0x05, 0x81, 0, 0, 1, 0, 0, 0, 0, 0}, 1},
        {{8, 0, 1, 0, 0x05, 0x81, 0, 0}, 1},
        {{7, 0, 1, 0, 0x05, 0x81, 0}, 0},
        {{7, 0, 1, 0, 0x05, 0x81, 0, 0}, 0},
        {{40, 0, 1, 0, 0x05, 0x81, 0, 0, 1, 0}, 0},
        {{}, 0},
        {identityReply(168, 168), 1},
        {identityReply(167, 167), 0},
        {identityReply(168, 100), 0},
        {identityReply(100, 168), 0},
    };
    for (const Case& c : cases) {
        int before = engine.adapterMessages;
        link.indicateData(c.message);
        EXPECT_EQ(engine.adapterMessages - before, c.delivered) << c.message.size();
    }
    std::vector<uint8_t> big(600, 0);
    big[0] = 0x14;
    big[1] = 0x02;  // 532
    int before = engine.adapterMessages;
    link.indicateData(big);
    EXPECT_EQ(engine.adapterMessages, before);
    link.indicateData({16, 0, 1, 0, 0x86, 0x81, 1, 0x80, 1, 1, 1, 0, 5, 0, 0, 0});
    EXPECT_EQ(engine.dataSents, 1);
}

// The first registration opens the adapter; when that fails it answers 0x1109 and the next one
// tries again.
TEST_F(ProviderTest, FirstRegistrationOpensTheAdapterAndRetries) {
    uint16_t id = 77;
    link.bringUpResult = false;
    EXPECT_EQ(registerApp(&id), kInfoNotReachable);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(provider.registeredCount(), 0);
    link.bringUpResult = true;
    EXPECT_EQ(registerApp(&id), 0u);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(provider.registeredCount(), 1);
    EXPECT_EQ(link.starts, 2);
    uint16_t second = 0;
    EXPECT_EQ(registerApp(&second), 0u);
    EXPECT_EQ(link.starts, 2);  // already open

    CCapiCall release;
    release.function = kFnRelease;
    release.appId = 9;
    EXPECT_EQ(provider.call(release), kInfoUnknownApp);
    EXPECT_EQ(provider.registeredCount(), 2);
    release.appId = 1;
    EXPECT_EQ(provider.call(release), 0u);
    EXPECT_EQ(provider.registeredCount(), 1);
}

// The identity is asked for once; the texts come out bounded and terminated.
TEST_F(ProviderTest, IdentityIsFetchedOnceWithBoundedTexts) {
    engine.record = identityRecord(std::string(64, 'M'), "12345678");
    char out[64];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(text(kFnManufacturer, out), 0u);
    EXPECT_EQ(link.starts, 1);  // opened the port for it
    EXPECT_EQ(std::string(out), std::string(63, 'M'));
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(text(kFnSerialNumber, out), 0u);
    EXPECT_EQ(std::string(out), "12345678");
    EXPECT_EQ(text(kFnProfile, out, 0), 0u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(text(kFnProfile, out, 1), 0u);
    EXPECT_EQ(out[2], 2);
    CCapiCall v;
    v.function = kFnVersion;
    uint16_t major = 0, minor = 9;
    v.majorVersion = &major;
    v.minorVersion = &minor;
    EXPECT_EQ(provider.call(v), 0u);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(engine.identityRequests, 1);
    CCapiCall none;
    none.function = kFnManufacturer;
    EXPECT_EQ(provider.call(none), kInfoResources);
}

// Without an answer the texts are empty, the words zero, and the next call asks again.
TEST_F(ProviderTest, UnansweredIdentityLeavesEmptyResults) {
    char out[64] = "junk";
    EXPECT_EQ(text(kFnManufacturer, out), 0u);
    EXPECT_STREQ(out, "");
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(text(kFnProfile, out, 1), 0u);
    EXPECT_EQ(std::string(out, 64), std::string(64, '\0'));
    EXPECT_EQ(text(kFnSerialNumber, out), 0u);
    EXPECT_EQ(engine.identityRequests, 3);
}

// The deferred open fires on the timer thread but opens on the window's: it is posted.
TEST_F(ProviderTest, DeferredOpenIsPostedAndCancelledByRegistration) {
    provider.deferAction(kOpenPortAction, 300);
    provider.deferAction(kOpenPortAction, 300);  // ignored while one is pending
    EXPECT_EQ(timers.active(300), 1);
    timers.fire(300);
    EXPECT_EQ(link.starts, 0);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], std::make_pair(kOpenPortAction, 1u));
    EXPECT_FALSE(provider.deferredPending());

    provider.deferAction(kOpenPortAction, 300);
    uint16_t id = 0;
    registerApp(&id);
    EXPECT_FALSE(provider.deferredPending());
    timers.fire(300);
    EXPECT_EQ(posted.size(), 1u);
}

// The runtime tick runs from the port's 10 ms timer while the port is open, and stops with it.
TEST_F(ProviderTest, RuntimeTickRunsWhileOpen) {
    ASSERT_EQ(provider.openPort(1), 0u);
    timers.fire(10);
    timers.fire(10);
    EXPECT_EQ(link.ticks, 2);
    provider.closePort(1);
    timers.fire(10);
    EXPECT_EQ(link.ticks, 2);
}

namespace {
std::vector<std::string> traced;
void captureLine(const char* text) { traced.emplace_back(text); }
void traceOn(CTaPortSettings* s) {
    s->traceMessages = true;
    s->b3Options = 0x9;
}
}  // namespace

// With traceCapiMessage set, every put and every get is traced.
TEST(ProviderTrace, PutsAndGetsAreTracedWhenSwitchedOn) {
    FakeLink link;
    ManualTimers timers;
    FakeEngine engine;
    CTaProvider provider(&link, &timers, &engine, &traceOn, nullptr);
    ASSERT_EQ(provider.start(nullptr), 0u);
    provider.setPortTiming(fastTiming());
    debugInit("serlinksp", 0x7FFFFFFF);
    traced.clear();
    debugCaptureOutput(&captureLine);
    uint16_t id = 0;
    CCapiCall reg;
    reg.function = kFnRegister;
    reg.appIdResult = &id;
    ASSERT_EQ(provider.call(reg), 0u);
    std::vector<uint8_t> m = listenReq();
    CCapiCall put;
    put.function = kFnPut;
    put.appId = id;
    put.message = m.data();
    put.messageSize = m.size();
    provider.call(put);
    CTaGot got;
    CCapiCall get;
    get.function = kFnGet;
    get.appId = id;
    get.got = &got;
    EXPECT_EQ(provider.call(get), 0u);
    EXPECT_EQ(got.message, engine.got);
    provider.completeGet(id);
    EXPECT_EQ(engine.completions, 1);
    debugCaptureOutput(nullptr);
    std::string all;
    for (auto& l : traced) all += l;
    EXPECT_NE(all.find("listenRequest"), std::string::npos) << all;
    EXPECT_NE(all.find("listenConfirmation"), std::string::npos) << all;
    EXPECT_EQ(engine.b3Options, 0x9u);  // the settings' B3 options reach the engine
}
