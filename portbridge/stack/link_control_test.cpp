// The link control's blocks byte for byte, the pacing of DATA_B3 confirmations on a manual clock,
// and its operations over a stand-in stack that answers every request within the same scheduler
// step (so a wait armed after its request would miss the answer).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/debug.h"
#include "portbridge/stack/link_control.h"
#include "portbridge/stack/transmit_history.h"

namespace stack {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(LinkBlocks, PortConfigurationForBothModes) {
    uint8_t raw[kPortConfigurationSize], framed[kPortConfigurationSize];
    buildPortConfiguration(raw, 255, 115200, 4);
    buildPortConfiguration(framed, 8, 57600, 4);
    Bytes expectRaw(kPortConfigurationSize, 0), expectFramed(kPortConfigurationSize, 0);
    const uint8_t rawHead[] = {0, 0, 0, 0, 0xFE, 0x08, 255, 0, 1, 0, 0, 0, 9, 0, 8, 0, 0, 0, 1, 0};
    const uint8_t framedHead[] = {0, 0, 2, 0, 0xFE, 0x08, 130, 0, 130, 0, 0, 0, 8, 0, 8, 0, 0, 0, 1, 0, 3, 1, 8, 4};
    std::memcpy(expectRaw.data(), rawHead, sizeof(rawHead));
    std::memcpy(expectFramed.data(), framedHead, sizeof(framedHead));
    EXPECT_EQ(Bytes(raw, raw + sizeof(raw)), expectRaw);
    EXPECT_EQ(Bytes(framed, framed + sizeof(framed)), expectFramed);
}

TEST(LinkBlocks, BaudCodesAndWindow) {
    const struct {
        uint32_t rate;
        uint16_t code;
    } rates[] = {{1200, 2},  {2400, 3},  {4800, 4},   {9600, 5},   {19200, 6}, {38400, 7},
                 {57600, 8}, {115200, 9}, {230400, 10}, {14400, 9}, {0, 9},     {460800, 9}};
    for (const auto& r : rates) EXPECT_EQ(baudCodeOf(r.rate), r.code) << r.rate;
    const struct {
        uint8_t given, used;
    } windows[] = {{0, 7}, {1, 1}, {4, 4}, {7, 7}, {8, 7}, {200, 7}};
    for (const auto& w : windows) {
        uint8_t b[kPortConfigurationSize];
        buildPortConfiguration(b, 8, 115200, w.given);
        EXPECT_EQ(b[23], w.used) << int(w.given);
    }
}

TEST(LinkBlocks, BuildStackRequest) {
    uint8_t b[kBuildRequestWords * 2];
    buildStackRequest(b, 0x1234);
    const uint16_t words[kBuildRequestWords] = {1, 3, 0, 48, 0, 0x1234, 0, 8, 8, 8, 8, 16, 140, 16, 0, 0, 0};
    for (size_t i = 0; i < kBuildRequestWords; ++i) EXPECT_EQ(b[2 * i] | b[2 * i + 1] << 8, words[i]) << i;
}

// --- pacing

// A DATA_B3_REQ (no prefix) with `n` data bytes behind it, in a buffer of exactly that size.
Bytes request(uint16_t handle, uint16_t n) {
    Bytes m(22 + n, 0);
    m[0] = 22;
    m[2] = 3;
    m[4] = 0x86;
    m[5] = 0x80;
    m[6] = 0x21;
    m[8] = 0x01, m[9] = 0x01, m[10] = 0x01;
    m[16] = static_cast<uint8_t>(n), m[17] = static_cast<uint8_t>(n >> 8);
    m[18] = static_cast<uint8_t>(handle), m[19] = static_cast<uint8_t>(handle >> 8);
    return m;
}

struct Confirmed {
    std::vector<Bytes> confs;
    static void take(void* c, const uint8_t* conf) {
        static_cast<Confirmed*>(c)->confs.emplace_back(conf, conf + CTransmitHistory::kConfirmationBytes);
    }
};

// Runs the clock from `from` to `to` in 10 ms ticks; the tick of each confirmation.
std::vector<uint32_t> confirmTimes(CTransmitHistory& h, uint32_t from, uint32_t to, Confirmed* got) {
    std::vector<uint32_t> at;
    for (uint32_t t = from; t <= to; t += 10) {
        const unsigned n = h.confirmDue(t, &Confirmed::take, got);
        for (unsigned i = 0; i < n; ++i) at.push_back(t);
    }
    return at;
}

TEST(TransmitHistory, ConfirmsAtTheBChannelsRate) {
    CTransmitHistory h;
    Confirmed got;
    Bytes r = request(7, 2048);
    int frames[5];
    ASSERT_TRUE(h.add(r.data(), r.size(), 1000, &frames[0]));
    h.markSent(&frames[0]);
    EXPECT_EQ(confirmTimes(h, 1000, 2000, &got), (std::vector<uint32_t>{1260})) << "2048 bytes take 256 ms";
    ASSERT_EQ(got.confs.size(), 1u);
    const Bytes expect = {0, 0, 16, 0, 3, 0, 0x86, 0x81, 0x21, 0, 1, 1, 1, 0, 7, 0, 0, 0};
    EXPECT_EQ(got.confs[0], expect);

    // Three back to back: 256, 512 and 768 ms; one sent after the line was idle waits only for itself.
    for (uint16_t k = 1; k <= 3; ++k) {
        ASSERT_TRUE(h.add(r.data(), r.size(), 5000, &frames[k]));
        h.markSent(&frames[k]);
    }
    EXPECT_EQ(confirmTimes(h, 5000, 6000, &got), (std::vector<uint32_t>{5260, 5520, 5770}));
    ASSERT_TRUE(h.add(r.data(), r.size(), 9000, &frames[4]));
    h.markSent(&frames[4]);
    EXPECT_EQ(confirmTimes(h, 9000, 10000, &got), (std::vector<uint32_t>{9260}));
}

TEST(TransmitHistory, TwentySlotsAreNeverOverwritten) {
    CTransmitHistory h;
    int frames[21];
    for (uint16_t k = 0; k < 20; ++k) {
        Bytes r = request(k, 8);
        ASSERT_TRUE(h.add(r.data(), r.size(), 0, &frames[k]));
        h.markSent(&frames[k]);
    }
    Bytes r = request(99, 8);
    EXPECT_FALSE(h.add(r.data(), r.size(), 0, &frames[20]));
    Confirmed got;
    EXPECT_EQ(h.confirmDue(100, &Confirmed::take, &got), 20u);
    for (uint16_t k = 0; k < 20; ++k) EXPECT_EQ(got.confs[k][2 + 12], k) << "the first twenty, in order";
}

// A slot is confirmed only once the link reported it acknowledged, however long it is due.
TEST(TransmitHistory, ConfirmsOnlyWhatTheLinkAcknowledged) {
    CTransmitHistory h;
    Confirmed got;
    Bytes r = request(1, 80);
    int frames[2];
    h.add(r.data(), r.size(), 0, &frames[0]);
    h.add(r.data(), r.size(), 0, &frames[1]);
    EXPECT_EQ(h.confirmDue(100000, &Confirmed::take, &got), 0u);
    h.markSent(&frames[0]);
    EXPECT_EQ(h.confirmDue(100000, &Confirmed::take, &got), 1u);
    EXPECT_EQ(h.pending(), 1u);
}

// A reset or lost link confirms every pending slot at once: what the link acknowledged with 0,
// the rest (freed by HDLC unsent) with the error; nothing is left to be confirmed by time.
TEST(TransmitHistory, FlushConfirmsEverySlotAtOnce) {
    CTransmitHistory h;
    Confirmed got;
    int frames[3];
    for (uint16_t k = 1; k <= 3; ++k) {
        Bytes r = request(k, 2048);
        h.add(r.data(), r.size(), 0, &frames[k - 1]);
    }
    h.markSent(&frames[0]);
    EXPECT_EQ(h.flush(0x2001, &Confirmed::take, &got), 3u);
    ASSERT_EQ(got.confs.size(), 3u);
    const uint16_t infos[] = {0, 0x2001, 0x2001};
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(got.confs[i][2 + 12], i + 1);
        EXPECT_EQ(got.confs[i][2 + 14] | got.confs[i][2 + 15] << 8, infos[i]);
    }
    EXPECT_EQ(h.pending(), 0u);
    EXPECT_EQ(h.confirmDue(100000, &Confirmed::take, &got), 0u);
}

// A frame the link gives back leaves the history at once with the error; the others keep their
// order and their B channel times.
TEST(TransmitHistory, AFrameGivenBackLeavesItsPlace) {
    CTransmitHistory h;
    Confirmed got;
    int frames[3];
    for (uint16_t k = 1; k <= 3; ++k) {
        Bytes r = request(k, 800);  // 100 ms each
        ASSERT_TRUE(h.add(r.data(), r.size(), 0, &frames[k - 1]));
    }
    h.markSent(&frames[0]);
    h.markSent(&frames[2]);
    EXPECT_TRUE(h.fail(&frames[1], 0x2001, &Confirmed::take, &got));
    EXPECT_FALSE(h.fail(&frames[1], 0x2001, &Confirmed::take, &got)) << "once";
    ASSERT_EQ(got.confs.size(), 1u);
    EXPECT_EQ(got.confs[0][2 + 12], 2);
    EXPECT_EQ(got.confs[0][2 + 14] | got.confs[0][2 + 15] << 8, 0x2001);
    EXPECT_EQ(confirmTimes(h, 0, 300, &got), (std::vector<uint32_t>{100, 200}));
    EXPECT_EQ(got.confs[1][2 + 12], 1);
    EXPECT_EQ(got.confs[2][2 + 12], 3);
}

// An acknowledged frame's buffer goes back to the pool and may carry the next request while the
// first slot still waits for its time: its next acknowledgement is that request's.
TEST(TransmitHistory, AReusedBufferNamesItsNewSlot) {
    CTransmitHistory h;
    Confirmed got;
    int buffer = 0;
    Bytes r = request(1, 800);
    ASSERT_TRUE(h.add(r.data(), r.size(), 0, &buffer));
    h.markSent(&buffer);
    r[18] = 2;
    ASSERT_TRUE(h.add(r.data(), r.size(), 0, &buffer));
    h.markSent(&buffer);
    EXPECT_EQ(confirmTimes(h, 0, 300, &got), (std::vector<uint32_t>{100, 200}));
}

// Only the message is copied, never more than it says or than there is (a short request in a
// buffer of its own size: the sanitizer build sees any read beyond it).
TEST(TransmitHistory, CopiesNoMoreThanTheMessage) {
    CTransmitHistory h;
    Bytes r = request(5, 0);
    r[0] = 200;  // claims more than there is
    Bytes exact(r.begin(), r.end());
    int frame = 0;
    ASSERT_TRUE(h.add(exact.data(), exact.size(), 0, &frame));
    h.markSent(&frame);
    Bytes tooShort(exact.begin(), exact.begin() + 19);
    EXPECT_FALSE(h.add(tooShort.data(), tooShort.size(), 0, nullptr));
    Confirmed got;
    EXPECT_EQ(h.confirmDue(0, &Confirmed::take, &got), 1u);
    EXPECT_EQ(got.confs[0][2 + 12], 5);
}

// --- operations over a stand-in stack

// Stands for HDLC and the serial task at once: answers every request at once, from the same
// scheduler step, as a fast adapter would.
struct FastStack {
    uint16_t queue = 0, upper = 0;
    bool raw = false;
    // Framed data is held as HDLC holds its I frames until the peer acknowledged them.
    std::atomic<bool> holdData{false};
    std::vector<RuntimeMessage> held;
    // The next data request finds the link just reset: 645 and 641 go up first, and the request
    // is queued on the new link (held).
    std::atomic<bool> resetBeforeNextData{false};
    std::atomic<unsigned> dataDown{0};
    std::atomic<unsigned> atCommands{0};
    std::string version = "V2.14.07";
};
FastStack* g_fast = nullptr;

void upFromFast(RuntimeMessage m) {
    m.setAddress(kHdlcTask);
    osRuntime().sendMessage(g_fast->upper, m);
}

void textUp(const std::string& text) {
    uint16_t pool = 0;
    uint8_t* b = nullptr;
    osRuntime().findDefaultPool(&pool);
    if (osRuntime().getBuffer(pool, static_cast<uint16_t>(text.size()), &b) != kOk) return;
    std::memcpy(b, text.data(), text.size());
    RuntimeMessage m(kDataIndication);
    m.put16(6, 1);
    m.put16(8, 0);
    m.put16(10, static_cast<uint16_t>(text.size()));
    m.setPointer(b);
    upFromFast(m);
}

// Messages the test sends to the stand-in stack (through linkRuntime(), from its own thread).
constexpr uint16_t kAcknowledgeHeld = 3901, kResetLink = 3902, kLoseLink = 3903, kAcknowledgeFirst = 3904,
                   kTextUp = 3905;

// 579 as HDLC reports it: the I frame, its two header bytes in front of the data.
void acknowledge(const RuntimeMessage& d) {
    RuntimeMessage ack(kDataAcknowledged);
    ack.put16(6, d.u16(6));
    ack.put16(8, static_cast<uint16_t>(d.u16(8) - 2));
    ack.put16(10, static_cast<uint16_t>(d.u16(10) + 2));
    ack.setPointer(d.pointer());
    upFromFast(ack);
}

// As HDLC at a reset or a loss: every frame it held goes back up unsent (580), as it came down.
void giveBackHeld() {
    for (const RuntimeMessage& d : g_fast->held) {
        RuntimeMessage back(kDataReturned);
        back.put16(6, d.u16(6));
        back.put16(8, d.u16(8));
        back.put16(10, d.u16(10));
        back.setPointer(d.pointer());
        upFromFast(back);
    }
    g_fast->held.clear();
}

void fastHandle(void*) {
    FastStack& f = *g_fast;
    RuntimeMessage m;
    while (osRuntime().receiveMessage(f.queue, &m) == kOk) {
        switch (m.id()) {
        case kBound:
            if (m.u16(9)) f.upper = m.u16(9);
            break;
        case kConfigure: {
            uint8_t* block = static_cast<uint8_t*>(m.pointer());
            f.raw = block16(block, config::kLinkMode) == kLinkModeRaw;
            setBlock16(block, config::kTransmitHeaderRoom, f.raw ? 2 : 7);
            RuntimeMessage r(kConfigured);
            r.setPointer(block);
            upFromFast(r);
            break;
        }
        case kConfigurationDone:
            upFromFast(RuntimeMessage(kPortUpIndication));
            break;
        case kEstablishRequest:
            upFromFast(RuntimeMessage(kEstablishedInd));
            break;
        case kReleaseRequest:
        case kSerialClose:
            upFromFast(RuntimeMessage(kPortDownIndication));
            upFromFast(RuntimeMessage(kReleasedInd));
            break;
        case kDataRequest: {
            const uint8_t* b = static_cast<const uint8_t*>(m.pointer());
            const std::string text(reinterpret_cast<const char*>(b + m.u16(8)), m.u16(10));
            if (f.raw) {
                ++f.atCommands;
                textUp(text + "\r\n" + (text.find("ati3") == 0 ? f.version + "\r\n" : "") + "OK\r\n");
            } else {
                ++f.dataDown;
                if (f.resetBeforeNextData.exchange(false)) {
                    giveBackHeld();
                    upFromFast(RuntimeMessage(kLinkReset));
                    upFromFast(RuntimeMessage(kEstablishedInd));
                    f.held.push_back(m);
                    break;
                }
                if (f.holdData) {
                    f.held.push_back(m);
                    break;
                }
                acknowledge(m);  // the buffer goes back with it
                break;
            }
            if (m.u16(6) & 1) osRuntime().freeBuffer(m.pointer());
            break;
        }
        case kAcknowledgeHeld:
            for (const RuntimeMessage& d : f.held) acknowledge(d);
            f.held.clear();
            break;
        case kAcknowledgeFirst:
            if (!f.held.empty()) {
                acknowledge(f.held.front());
                f.held.erase(f.held.begin());
            }
            break;
        case kResetLink:
            giveBackHeld();
            upFromFast(RuntimeMessage(kLinkReset));
            upFromFast(RuntimeMessage(kEstablishedInd));
            break;
        case kLoseLink:
            // As HDLC when T1 ran out: it keeps its frames until its next reset.
            upFromFast(RuntimeMessage(kReleasedInd));
            break;
        case kTextUp:
            textUp("ring");
            break;
        default:
            break;
        }
    }
}

// The one queue serves both entities: the first start makes it, the second names it again.
uint32_t fastInit(void*, uint32_t address) {
    if (g_fast->queue) return osRuntime().addQueueAddress(g_fast->queue, address) == kOk ? 1 : 0;
    return osRuntime().createTaskQueue(address, &fastHandle, nullptr, &g_fast->queue) == kOk ? 1 : 0;
}

void idle(void*) {}

// In place of the timer service: only its registration of the serial task.
uint32_t noTimerInit(void*, uint32_t address) {
    uint16_t q = 0;
    osRuntime().createTaskQueue(address, &idle, nullptr, &q);
    RuntimeMessage m(253, address);
    m.put8(6, kSerialTask);
    m.put8(7, 3);
    osRuntime().sendToAddress(kLayerManagementTask, m);
    return 1;
}

class Indications {
public:
    static void take(void* c, const RuntimeMessage& m) {
        Indications& self = *static_cast<Indications*>(c);
        // Holds the runtime thread, as a slow receiver of the callback would.
        if (m.id() == kDataIndication && self.holdNextData.exchange(false))
            while (!self.release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> hold(self.m_);
        self.ids_.push_back(m.id());
        if (m.id() == kDataIndication)
            self.data_.emplace_back(static_cast<const uint8_t*>(m.pointer()) + m.u16(8),
                                    static_cast<const uint8_t*>(m.pointer()) + m.u16(8) + m.u16(10));
    }
    std::vector<Bytes> data() {
        std::lock_guard<std::mutex> hold(m_);
        return data_;
    }
    std::vector<uint16_t> ids() {
        std::lock_guard<std::mutex> hold(m_);
        return ids_;
    }
    std::atomic<bool> holdNextData{false}, release{false};

private:
    std::mutex m_;
    std::vector<uint16_t> ids_;
    std::vector<Bytes> data_;
};

std::vector<std::string> g_debugLines;
void keepDebugLine(const char* text) { g_debugLines.push_back(text); }

// The pacing's clock: it moves only when a test moves it.
std::atomic<uint32_t> g_clockMs{1000};
uint32_t manualClock() { return g_clockMs.load(); }

class LinkOverFastStack : public ::testing::Test {
protected:
    void SetUp() override {
        g_fast = &fast;
        g_clockMs = 1000;
        const StackTaskInits inits{&noTimerInit, &fastInit, &fastInit, &linkControlInit};
        LinkPlatform platform{nullptr, nullptr};
        platform.nowMs = &manualClock;
        platform.dataTakenMs = 300;
        ASSERT_EQ(startRuntimeWith(inits, platform, &Indications::take, &got), 0u);
        ticker = std::thread([this] {
            while (!stop) {
                runtimeTick();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void TearDown() override {
        shutDownLink();
        stop = true;
        ticker.join();
        got.release = true;
        for (const RuntimeMessage& d : fast.held)
            if (linkRuntime()) linkRuntime()->freeBuffer(d.pointer());
        g_fast = nullptr;
    }
    void toStack(uint16_t id) { ASSERT_EQ(linkRuntime()->sendMessage(fast.queue, RuntimeMessage(id)), kOk); }
    void connect() {
        ASSERT_EQ(connectLink(), 0u);
        for (int i = 0; i < 200 && linkState() != kLinkConnected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(linkState(), static_cast<uint32_t>(kLinkConnected));
    }
    // A DATA_B3_REQ with its data, as the port hands it over (2-byte prefix first), in the
    // coding of CAPI 2.0 or of CAPI 1.1 (subcommand 0x00).
    uint32_t sendDataB3(uint16_t handle, uint16_t n, bool capi11 = false) {
        Bytes d(2, 0);
        Bytes r = request(handle, n);
        if (capi11) r[5] = 0x00;
        d.insert(d.end(), r.begin(), r.end());
        return sendLinkData(0, static_cast<uint16_t>(d.size()), d.data(), 0, nullptr);
    }
    // A LISTEN_REQ (number 0x21 of application 3, controller 1).
    uint32_t sendListen() {
        Bytes listen(2, 0);
        Bytes l = request(0, 0);
        l[4] = 0x05;
        l[8] = 1, l[9] = 0, l[10] = 0;
        listen.insert(listen.end(), l.begin(), l.end());
        return sendLinkData(0, static_cast<uint16_t>(listen.size()), listen.data(), 0, nullptr);
    }
    static uint16_t infoOf(const Bytes& conf) {
        const size_t at = conf[2 + 4] == 0x86 ? 2 + 14 : 2 + 12;
        return static_cast<uint16_t>(conf[at] | conf[at + 1] << 8);
    }
    // Waits (bounded) until `n` data indications came.
    std::vector<Bytes> awaitData(size_t n) {
        for (int i = 0; i < 300 && got.data().size() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return got.data();
    }
    // Lets the ticker run a few pacing checks.
    static void someTicks() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }
    static uint32_t elapsedMs(std::chrono::steady_clock::time_point since) {
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
    }
    FastStack fast;
    Indications got;
    std::thread ticker;
    std::atomic<bool> stop{false};
};

// Every answer comes in the scheduler step of its request: each wait must already be armed.
TEST_F(LinkOverFastStack, AnswersWithinTheSameStepAreNotLost) {
    LinkSettings s;
    std::strcpy(s.versionCommand, "ati3\n\r");
    std::strcpy(s.versionAnswer, "V2.14.07");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bringUpLink(s), 1u);
    EXPECT_EQ(s.failed, 0u);
    EXPECT_LT(elapsedMs(start), 4500u) << "a lost answer makes a wait run out (5 or 10 s)";
    EXPECT_EQ(fast.atCommands.load(), 2u) << "one \"at\", then the version command";

    // A fresh start, as the port makes after closing.
    shutDownLink();
    fast.queue = 0;
    fast.version = "V1.00";
    ASSERT_EQ(startRuntimeWith(StackTaskInits{&noTimerInit, &fastInit, &fastInit, &linkControlInit},
                               LinkPlatform{nullptr, nullptr}, &Indications::take, &got),
              0u);
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(bringUpLink(s), 0u);
    EXPECT_EQ(s.failed, 1u);
    EXPECT_GE(elapsedMs(again) + 20, 1000u) << "the version answer was waited for";
}

// Data checks: the header room, the data and the serial sum byte must fit one buffer; a
// DATA_B3_REQ while the link is down, or a 21st pending one, is confirmed at once with an error.
TEST_F(LinkOverFastStack, DataRequestsThatCannotGoAreRefused) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);  // framed: header room 7
    uint8_t big[2350] = {};
    EXPECT_EQ(sendLinkData(0, 2342, big, 0, nullptr), 1u) << "7 + 2342 + 1 fit";
    EXPECT_EQ(sendLinkData(0, 2342, big, 1, big), 0u) << "one byte more does not";

    Bytes req(2, 0);
    Bytes m = request(42, 16);
    req.insert(req.end(), m.begin(), m.end());
    ASSERT_EQ(sendLinkData(0, static_cast<uint16_t>(req.size()), req.data(), 0, nullptr), 1u);
    ASSERT_EQ(got.data().size(), 1u) << "confirmed at once";
    EXPECT_EQ(got.data()[0][2 + 12], 42);
    EXPECT_EQ(got.data()[0][2 + 14] | got.data()[0][2 + 15] << 8, 0x2001) << "link not up";

    connect();
    Bytes large = request(0, 2048);
    for (uint16_t k = 1; k <= 21; ++k) {
        large[18] = static_cast<uint8_t>(k);
        Bytes d(2, 0);
        d.insert(d.end(), large.begin(), large.end());
        ASSERT_EQ(sendLinkData(0, 24, d.data(), 2048, d.data() + 24), 1u);
    }
    const std::vector<Bytes> confs = got.data();
    ASSERT_GE(confs.size(), 2u);
    EXPECT_EQ(confs[1][2 + 12], 21) << "the 21st is refused, not written over the first";
    EXPECT_EQ(confs[1][2 + 14] | confs[1][2 + 15] << 8, 0x1107);
    EXPECT_EQ(fast.dataDown.load(), 1u + 20u);
}

// Short of transmit buffers, a slot is confirmed only once HDLC reported its I frame acknowledged
// (579); another request that finds no buffer is confirmed with an error by link control.
TEST_F(LinkOverFastStack, ShortOfBuffersConfirmsWhatTheLinkAcknowledged) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    fast.holdData = true;
    // Until the transmit pool has no spare buffer left: the last request may find none at all,
    // and is refused at once.
    uint16_t taken = 0;
    for (uint16_t k = 1; k <= 20 && got.data().empty(); ++k) {
        ASSERT_EQ(sendDataB3(k, 16), 1u) << k;
        if (got.data().empty()) taken = k;
    }
    ASSERT_GE(taken, 18u);
    EXPECT_EQ(sendListen(), 1u) << "handed over: link control answers for it";
    const std::vector<Bytes> listenConf = awaitData(got.data().size() + 1);
    ASSERT_FALSE(listenConf.empty());
    EXPECT_EQ(listenConf.back(), (Bytes{0, 0, 14, 0, 3, 0, 0x05, 0x81, 0x21, 0, 1, 0, 0, 0, 0x08, 0x11}))
        << "LISTEN_CONF, no buffer";
    const size_t refused = got.data().size();
    g_clockMs += 1000;
    someTicks();
    EXPECT_EQ(got.data().size(), refused) << "due, but not yet acknowledged";
    toStack(kAcknowledgeHeld);
    const std::vector<Bytes> confs = awaitData(refused + taken);
    ASSERT_EQ(confs.size(), refused + taken);
    for (uint16_t k = 1; k <= taken; ++k) {
        EXPECT_EQ(confs[refused + k - 1][2 + 12], k);
        EXPECT_EQ(confs[refused + k - 1][2 + 14] | confs[refused + k - 1][2 + 15] << 8, 0);
    }
}

// A link reset (645, then 641) or a lost link (642) takes the frames HDLC held: their data is
// confirmed with an error at once, and never again by time.
TEST_F(LinkOverFastStack, DataInFlightAtAResetOrLossIsConfirmedWithAnError) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    size_t seen = 0;
    fast.holdData = true;
    for (uint16_t event : {kResetLink, kLoseLink}) {
        SCOPED_TRACE(event);
        connect();
        ASSERT_EQ(sendDataB3(1, 2048), 1u);
        ASSERT_EQ(sendDataB3(2, 2048), 1u);
        toStack(event);
        std::vector<Bytes> confs = awaitData(seen + 2);
        ASSERT_EQ(confs.size(), seen + 2);
        for (size_t i = seen; i < seen + 2; ++i)
            EXPECT_EQ(confs[i][2 + 14] | confs[i][2 + 15] << 8, 0x2001);
        seen += 2;
        g_clockMs += 5000;
        someTicks();
        EXPECT_EQ(got.data().size(), seen) << "nothing confirmed twice";
    }
}

// A slot is confirmed when it is due and the adapter acknowledged its frame, not before: a frame
// still unacknowledged may be lost with the link. Each acknowledgement marks its own slot; the one
// after it, never acknowledged, is confirmed with an error when the link goes.
TEST_F(LinkOverFastStack, OnlyAnAcknowledgedSlotIsConfirmed) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    fast.holdData = true;
    ASSERT_EQ(sendDataB3(1, 8), 1u);     // due after 1 ms
    ASSERT_EQ(sendDataB3(2, 2048), 1u);  // due 256 ms later
    g_clockMs += 20;
    someTicks();
    EXPECT_TRUE(got.data().empty()) << "due, but not acknowledged";
    toStack(kAcknowledgeFirst);
    std::vector<Bytes> confs = awaitData(1);
    ASSERT_EQ(confs.size(), 1u);
    EXPECT_EQ(confs[0][2 + 12], 1);
    EXPECT_EQ(infoOf(confs[0]), 0);
    toStack(kLoseLink);
    confs = awaitData(2);
    ASSERT_EQ(confs.size(), 2u);
    EXPECT_EQ(confs[1][2 + 12], 2);
    EXPECT_EQ(infoOf(confs[1]), 0x2001) << "never acknowledged";
}

// A DATA_B3_REQ that reaches HDLC after its reset (SABM, UA) but before link control hears of it
// (645) goes out on the new link: it is confirmed once, by time, with 0.
TEST_F(LinkOverFastStack, ARequestThatPassesTheResetIsNotReportedLost) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    fast.resetBeforeNextData = true;
    ASSERT_EQ(sendDataB3(5, 16), 1u);
    auto established = [this] {
        const std::vector<uint16_t> ids = got.ids();
        return std::count(ids.begin(), ids.end(), kEstablishedInd);
    };
    for (int i = 0; i < 300 && established() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(established(), 2) << "the reset came";
    toStack(kAcknowledgeHeld);
    g_clockMs += 100;
    const std::vector<Bytes> confs = awaitData(1);
    ASSERT_EQ(confs.size(), 1u);
    EXPECT_EQ(confs[0][2 + 12], 5);
    EXPECT_EQ(infoOf(confs[0]), 0);
    someTicks();
    EXPECT_EQ(got.data().size(), 1u) << "confirmed once";
}

// Any request of an application that HDLC gives back unsent is confirmed with an error, in the
// form the engine reads from the adapter; a response is not.
TEST_F(LinkOverFastStack, RequestsHdlcGivesBackAreConfirmedWithAnError) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    fast.holdData = true;
    ASSERT_EQ(sendListen(), 1u);
    Bytes resp(2, 0);
    Bytes r = request(0, 0);
    r[4] = 0x04, r[5] = 0x83;  // DISCONNECT_RESP
    resp.insert(resp.end(), r.begin(), r.end());
    ASSERT_EQ(sendLinkData(0, static_cast<uint16_t>(resp.size()), resp.data(), 0, nullptr), 1u);
    ASSERT_EQ(sendDataB3(9, 16, true), 1u);
    toStack(kResetLink);
    const std::vector<Bytes> confs = awaitData(2);
    ASSERT_EQ(confs.size(), 2u);
    EXPECT_EQ(confs[0], (Bytes{0, 0, 14, 0, 3, 0, 0x05, 0x81, 0x21, 0, 1, 0, 0, 0, 0x01, 0x20}));
    EXPECT_EQ(confs[1], (Bytes{0, 0, 16, 0, 3, 0, 0x86, 0x81, 0x21, 0, 1, 1, 1, 0, 9, 0, 0x01, 0x20}))
        << "the CAPI 1.1 DATA_B3_REQ's slot";
    someTicks();
    EXPECT_EQ(got.data().size(), 2u);
}

// A hand-over that outlasts the sender's wait still belongs to link control: the data goes out
// and is confirmed once, and the sender is told it was taken.
TEST_F(LinkOverFastStack, AHandOverThatOutlastsTheWaitIsStillTaken) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    got.holdNextData = true;
    toStack(kTextUp);  // the runtime thread now waits in the callback
    for (int i = 0; i < 300 && got.holdNextData.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(got.holdNextData.load());
    const unsigned down = fast.dataDown.load();
    EXPECT_EQ(sendDataB3(3, 16), 1u) << "its wait (300 ms) ran out, the request is still queued";
    EXPECT_EQ(sendDataB3(4, 16), 1u);
    got.release = true;
    for (int i = 0; i < 300 && fast.dataDown.load() < down + 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(fast.dataDown.load(), down + 2) << "both went out";
    g_clockMs += 100;
    const std::vector<Bytes> confs = awaitData(3);
    ASSERT_EQ(confs.size(), 3u) << "the text, then one confirmation each";
    for (unsigned i = 1; i < 3; ++i) {
        EXPECT_EQ(confs[i][2 + 12], i + 2);
        EXPECT_EQ(infoOf(confs[i]), 0);
    }
}

// A DATA_B3_REQ in the coding of CAPI 1.1 (subcommand 0x00) is paced and confirmed as any other.
TEST_F(LinkOverFastStack, Capi11DataIsConfirmed) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    connect();
    for (uint16_t k = 1; k <= 5; ++k) ASSERT_EQ(sendDataB3(k, 16, true), 1u);
    g_clockMs += 1000;
    const std::vector<Bytes> confs = awaitData(5);
    ASSERT_EQ(confs.size(), 5u) << "no slot, no confirmation";
    for (uint16_t k = 1; k <= 5; ++k) {
        EXPECT_EQ(confs[k - 1][2 + 12], k);
        EXPECT_EQ(infoOf(confs[k - 1]), 0);
    }
}

// A reply collector of any size keeps to its buffer (the text is cut, always NUL-terminated).
TEST_F(LinkOverFastStack, ReplyCollectorKeepsToItsBuffer) {
    ASSERT_EQ(sendPortConfiguration(255), 0u);  // raw: the stand-in answers every command
    for (size_t maximum : {1u, 2u, 5u}) {
        SCOPED_TRACE(maximum);
        char buffer[8];
        std::memset(buffer, '#', sizeof(buffer));
        std::thread command([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sendAtCommand("at\n\r");
        });
        collectAtReply(300, buffer + 1, maximum, "never");
        command.join();
        EXPECT_EQ(buffer[0], '#');
        EXPECT_EQ(buffer[1 + maximum], '#') << "nothing past the buffer";
        EXPECT_NE(std::memchr(buffer + 1, 0, maximum), nullptr) << "terminated within it";
    }
}

TEST_F(LinkOverFastStack, WindowOutsideItsRangeIsClampedWithADebugLine) {
    g_debugLines.clear();
    debugInit("serlinksp", 0xFFFFFFFF);
    debugSetOutputProc(&keepDebugLine);
    LinkSettings s;
    s.windowSize = 0;
    EXPECT_EQ(bringUpLink(s), 1u);
    debugSetOutputProc(nullptr);
    bool said = false;
    for (const std::string& l : g_debugLines) said = said || l.find("windowSize 0") != std::string::npos;
    EXPECT_TRUE(said);
}

// The stop is reported and no indication comes after shutDownLink returned.
TEST_F(LinkOverFastStack, ShutDownReportsTheStopAndEndsTheRuntime) {
    LinkSettings s;
    ASSERT_EQ(bringUpLink(s), 1u);
    EXPECT_EQ(shutDownLink(), 0u);
    const std::vector<uint16_t> ids = got.ids();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.back(), kPortDownIndication);
    EXPECT_EQ(sendLinkRequest(kEstablishRequest), 3u) << "no link control any more";
    EXPECT_EQ(got.ids().size(), ids.size());
}

}  // namespace
}  // namespace stack
