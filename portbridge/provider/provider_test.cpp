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
    bool takeData = true;
    std::vector<uint8_t> identityReply;  // sent back for an identity request when not empty
    std::atomic<bool>* engineBusy = nullptr;

    int starts = 0, bringUps = 0, shutDowns = 0, connects = 0, identityRequests = 0;
    std::atomic<int> ticks{0};
    std::vector<std::vector<uint8_t>> sent;
    std::vector<std::string> commands;
    std::atomic<bool> dataSentUnderEngine{false};
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
    bool sendLinkData(const uint8_t* data, size_t length) override {
        if (engineBusy && engineBusy->load()) dataSentUnderEngine = true;
        sent.emplace_back(data, data + length);
        if (length >= 8 && data[2 + 4] == 0xFF && data[2 + 5] == 0xC0) {
            ++identityRequests;
            if (!identityReply.empty()) indicateData(identityReply);
        }
        return takeData;
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

// An engine that registers ids 1..8, queues what it is given, and notices being entered twice.
class FakeEngine : public CTaEngineOps {
public:
    CTaProvider* provider = nullptr;
    std::atomic<bool> busy{false};
    std::atomic<int> overlaps{0};
    std::atomic<int> adapterMessages{0};
    int linkUps = 0, linkDowns = 0;
    std::vector<uint32_t> refused;
    std::vector<uint16_t> ids;
    uint8_t got[64] = {};
    bool forwardPuts = true;

    struct Inside {
        FakeEngine* e;
        explicit Inside(FakeEngine* engine) : e(engine) {
            if (e->busy.exchange(true)) ++e->overlaps;
        }
        ~Inside() { e->busy = false; }
    };

    uint32_t createTable(unsigned, unsigned, unsigned, unsigned) override { return 0; }
    void destroyTable() override {}
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
    uint32_t putMessage(uint16_t, const uint8_t* message, size_t size) override {
        Inside in(this);
        std::this_thread::yield();
        if (forwardPuts) provider->sendToPort(1, message, size, nullptr, 0);
        return 0;
    }
    uint32_t getMessage(uint16_t, const uint8_t** message) override {
        Inside in(this);
        std::memset(got, 0, sizeof(got));
        got[0] = 14;
        got[4] = 0x05;
        got[5] = 0x81;
        *message = got;
        return 0;
    }
    uint32_t installSignal(uint16_t, CTaSignalFn, uint32_t) override { return 0; }
    bool knowsApplication(uint16_t appId) override {
        for (uint16_t id : ids)
            if (id == appId) return true;
        return false;
    }
    uint16_t anyApplicationId() override { return ids.empty() ? 1 : ids.front(); }
    void adapterMessage(const uint8_t*, size_t) override {
        Inside in(this);
        std::this_thread::yield();
        ++adapterMessages;
    }
    void linkUp(unsigned) override { ++linkUps; }
    void linkDown(unsigned) override { ++linkDowns; }
    void portRefused(const uint8_t*, size_t, uint32_t info) override { refused.push_back(info); }
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

// An identity reply: the record's version words, manufacturer, profile and serial fields.
std::vector<uint8_t> identityReply(const std::string& manufacturer, const std::string& serial, size_t length = 168) {
    std::vector<uint8_t> m(length, 0);
    m[0] = static_cast<uint8_t>(length);
    m[4] = 0xFF;
    m[5] = 0xC1;
    m[16] = 0x07;
    m[17] = 0x10;
    if (length >= 168) {
        m[20] = 2;  // major 2
        m[22] = 0;
        std::memcpy(&m[20 + 12], manufacturer.data(), std::min<size_t>(manufacturer.size(), 64));
        m[20 + 76] = 1;  // profile: one B channel count etc.
        m[20 + 77] = 0;
        m[20 + 78] = 2;
        std::memcpy(&m[20 + 140], serial.data(), std::min<size_t>(serial.size(), 8));
    }
    return m;
}

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine.provider = &provider;
        link.engineBusy = &engine.busy;
        ASSERT_EQ(provider.start(this), 0u);
        provider.setPortTiming(fastTiming());
        provider.setIdentityWaitMs(50);
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
        {{kLinkDown}, 88, CTaPort::kClosed},
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

// A put goes out only while connected, as prefix 00 00, the message and its payload.
TEST_F(ProviderTest, PutIsSentWhenConnectedAndRefusedOtherwise) {
    CTaPort* port = provider.port(1);
    std::vector<uint8_t> m = listenReq();
    const uint8_t payload[3] = {0xA1, 0xA2, 0xA3};
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoNotReachable);
    ASSERT_EQ(provider.openPort(1), 0u);
    EXPECT_EQ(port->putMessage(m.data(), m.size(), payload, 3), kInfoPending);
    ASSERT_EQ(link.sent.size(), 1u);
    std::vector<uint8_t> expected{0, 0};
    expected.insert(expected.end(), m.begin(), m.end());
    expected.insert(expected.end(), payload, payload + 3);
    EXPECT_EQ(link.sent[0], expected);
    link.takeData = false;
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoNotReachable);
    // A lost link: the port no longer sends, and the engine hears of it.
    link.takeData = true;
    link.indicate(kLinkDown);
    EXPECT_EQ(engine.linkDowns, 1);
    EXPECT_FALSE(provider.portOpen());
    EXPECT_EQ(port->putMessage(m.data(), m.size()), kInfoNotReachable);
}

// What the engine sends while it dispatches goes out after the lock; what the port refuses comes
// back to the engine as an error confirmation.
TEST_F(ProviderTest, EngineSendsLeaveTheLockAndRefusalsComeBack) {
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    size_t before = link.sent.size();
    EXPECT_EQ(put(id, listenReq()), 0u);
    EXPECT_EQ(link.sent.size(), before + 1);
    EXPECT_FALSE(link.dataSentUnderEngine);
    EXPECT_TRUE(engine.refused.empty());

    link.indicate(kLinkDown);
    EXPECT_EQ(put(id, listenReq()), 0u);
    EXPECT_EQ(engine.refused, std::vector<uint32_t>{kInfoNotReachable});
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
}

// Puts on the window thread and adapter messages on the runtime thread never meet in the engine.
TEST_F(ProviderTest, DispatchAndAdapterMessagesTakeOneLock) {
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    engine.forwardPuts = false;
    std::vector<uint8_t> conf{14, 0, 1, 0, 0x05, 0x81, 0, 0, 1, 0, 0, 0, 0, 0};
    std::thread runtime([&] {
        for (int i = 0; i < 2000; ++i) link.indicateData(conf);
    });
    for (int i = 0; i < 2000; ++i) put(id, listenReq());
    runtime.join();
    EXPECT_EQ(engine.adapterMessages, 2000);
    EXPECT_EQ(engine.overlaps, 0);
}

// Items from the adapter: too short for prefix and header, or a length field beyond the item or
// 512, never reach the engine.
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
    link.identityReply = identityReply(std::string(64, 'M'), "12345678");
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
    EXPECT_EQ(link.identityRequests, 1);
    // The request: MANUFACTURER 0xC0, length 18, number 0xFFFF, port 1, "kolv", class 0x1007.
    const std::vector<uint8_t>& req = link.sent.back();
    ASSERT_EQ(req.size(), 20u);
    EXPECT_EQ(std::vector<uint8_t>(req.begin() + 2, req.end()),
              (std::vector<uint8_t>{18, 0, 1, 0, 0xFF, 0xC0, 0xFF, 0xFF, 1, 0, 0, 0, 'k', 'o', 'l', 'v', 7, 0x10}));
    CCapiCall none;
    none.function = kFnManufacturer;
    EXPECT_EQ(provider.call(none), kInfoResources);
}

// A reply too short for the record is not taken: the texts stay empty and the next call asks again.
TEST_F(ProviderTest, ShortIdentityReplyIsNotTaken) {
    for (size_t length : {20u, 100u, 167u}) {
        link.identityReply = identityReply("Maker", "1", length);
        char out[64] = "junk";
        EXPECT_EQ(text(kFnManufacturer, out), 0u);
        EXPECT_STREQ(out, "");
        EXPECT_FALSE(provider.identity().valid());
    }
    EXPECT_EQ(link.identityRequests, 3);
    // A reply whose length field claims less than the record, though the bytes are there.
    std::vector<uint8_t> lying = identityReply("Maker", "1");
    lying[0] = 100;
    link.identityReply = lying;
    char out[64];
    text(kFnManufacturer, out);
    EXPECT_FALSE(provider.identity().valid());
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
void traceOn(CTaPortSettings* s) { s->traceMessages = true; }
}  // namespace

// With traceCapiMessage set, every put and every get is traced.
TEST(ProviderTrace, PutsAndGetsAreTracedWhenSwitchedOn) {
    FakeLink link;
    ManualTimers timers;
    FakeEngine engine;
    CTaProvider provider(&link, &timers, &engine, &traceOn, nullptr);
    engine.provider = &provider;
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
    const uint8_t* got = nullptr;
    CCapiCall get;
    get.function = kFnGet;
    get.appId = id;
    get.messageResult = &got;
    EXPECT_EQ(provider.call(get), 0u);
    EXPECT_EQ(got, engine.got);
    debugCaptureOutput(nullptr);
    std::string all;
    for (auto& l : traced) all += l;
    EXPECT_NE(all.find("listenRequest"), std::string::npos) << all;
    EXPECT_NE(all.find("listenConfirmation"), std::string::npos) << all;
}
