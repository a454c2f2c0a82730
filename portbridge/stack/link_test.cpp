// The link control on the whole stack over a real pty port pair under Wine, against the
// simulated ISDN Tamrisk: bring-up with and without the raw identification phase, adapters that
// answer late, wrongly or not at all, paced data both ways, link loss and a re-open.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "portbridge/mm_timer.h"
#include "portbridge/stack/link_control.h"
#include "portbridge/stack/stack_test_support.h"
#include "portbridge/stack/transmit_history.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

namespace stack {
namespace {

using isdnsim::Bytes;

// Everything the callback was given, with the time it came.
class Indications {
public:
    static void Take(void* context, const RuntimeMessage& m) {
        Indications& self = *static_cast<Indications*>(context);
        std::lock_guard<std::mutex> hold(self.m_);
        self.ids_.push_back(m.id());
        if (m.id() == kDataIndication && m.pointer()) {
            const uint8_t* b = static_cast<const uint8_t*>(m.pointer()) + m.u16(8);
            self.data_.push_back(Bytes(b, b + m.u16(10)));
            self.dataTimes_.push_back(GetTickCount());
        }
    }
    std::vector<uint16_t> ids() {
        std::lock_guard<std::mutex> hold(m_);
        return ids_;
    }
    std::vector<Bytes> data() {
        std::lock_guard<std::mutex> hold(m_);
        return data_;
    }
    std::vector<DWORD> dataTimes() {
        std::lock_guard<std::mutex> hold(m_);
        return dataTimes_;
    }
    // Waits (the machine may be slow) until `id` came `count` times.
    bool WaitFor(uint16_t id, DWORD ms, size_t count = 1) {
        return testing::waitForId([this] { return ids(); }, id, ms, count);
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(m_);
        ids_.clear();
        data_.clear();
        dataTimes_.clear();
    }

private:
    std::mutex m_;
    std::vector<uint16_t> ids_;
    std::vector<Bytes> data_;
    std::vector<DWORD> dataTimes_;
};

// A DATA_B3_REQ behind its 2-byte prefix: application 1, NCCI 0x10101, `handle`, `n` data bytes.
Bytes DataB3Req(uint16_t handle, size_t n) {
    Bytes m(2 + 22, 0);
    uint8_t* p = m.data() + 2;
    p[0] = 22;
    p[2] = 1;
    p[4] = 0x86;
    p[5] = 0x80;
    p[6] = static_cast<uint8_t>(handle + 0x40);
    p[8] = 1, p[9] = 1, p[10] = 1;
    p[16] = static_cast<uint8_t>(n), p[17] = static_cast<uint8_t>(n >> 8);
    p[18] = static_cast<uint8_t>(handle), p[19] = static_cast<uint8_t>(handle >> 8);
    return m;
}

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        pair_ = winetest::GetPortPair(0);
        ASSERT_TRUE(sim_.Start(pair_.b));
        // The runtime tick as the provider runs it: a periodic 10 ms multimedia timer.
        ASSERT_EQ(timers_.start(10), 0u);
        ASSERT_NE(timers_.startTimer(10, 0, [](portbridge::CMmTimer*, uint32_t) { runtimeTick(); }, true), 0u);
        ASSERT_EQ(startRuntime(&Indications::Take, &got_), 0u);
        std::strcpy(settings_.portName, pair_.a.c_str());
    }
    void TearDown() override {
        shutDownLink();
        timers_.stop();
        sim_.Stop();
    }

    void SetExchange(const char* command, const isdnsim::AtExchange& x) {
        sim_.With([&](isdnsim::IsdnAdapter& a) {
            a.dialogue().Set(command, x);
            return 0;
        });
    }
    void AskIdentification() {
        std::strcpy(settings_.versionCommand, "ati3\n\r");
        std::strcpy(settings_.versionAnswer, "V2.14.07");
        std::strcpy(settings_.nameCommand, "ati\n\r");
        std::strcpy(settings_.nameAnswer, "ISDN Tamrisk");
    }
    // bringUpLink and its time in ms.
    uint32_t BringUp(DWORD* ms = nullptr) {
        const DWORD start = GetTickCount();
        const uint32_t r = bringUpLink(settings_);
        if (ms) *ms = GetTickCount() - start;
        return r;
    }
    void Connect() {
        ASSERT_EQ(BringUp(), 1u);
        ASSERT_EQ(connectLink(), 0u);
        ASSERT_TRUE(got_.WaitFor(kEstablishedInd, 10000));
        EXPECT_EQ(linkState(), static_cast<uint32_t>(kLinkConnected));
    }

    winetest::PortPair pair_;
    isdnsim::IsdnSimulator sim_;
    portbridge::CMmTimerList timers_;
    Indications got_;
    LinkSettings settings_;
};

// Without identification commands the raw phase is skipped: the serial task wakes the adapter
// and switches it to framed mode. The simulator answers within a millisecond, so a wait armed
// after its request would miss the answer and run out (5 or 10 s) instead of finishing at once.
TEST_F(Link, BringsUpTheFramedLinkWithoutRawPhase) {
    DWORD ms = 0;
    ASSERT_EQ(BringUp(&ms), 1u);
    EXPECT_EQ(settings_.failed, 0u);
    EXPECT_LT(ms, 4500u) << "a lost answer makes a wait run out";
    EXPECT_TRUE(sim_.Framed());
    EXPECT_EQ(sim_.Commands(), (std::vector<std::string>{"at\n\r", "atcm3\n\r"}));
    ASSERT_EQ(connectLink(), 0u);
    ASSERT_TRUE(got_.WaitFor(kEstablishedInd, 10000));
    EXPECT_EQ(linkState(), static_cast<uint32_t>(kLinkConnected));
}

// With identification commands the adapter is asked in raw mode first, then the framed link
// comes up on the same open port.
TEST_F(Link, RawPhaseAsksTheIdentificationFirst) {
    AskIdentification();
    DWORD ms = 0;
    ASSERT_EQ(BringUp(&ms), 1u);
    EXPECT_EQ(settings_.failed, 0u);
    EXPECT_LT(ms, 4500u) << "a lost answer makes a wait run out";
    EXPECT_EQ(sim_.Commands(),
              (std::vector<std::string>{"at\n\r", "at\n\r", "ati3\n\r", "ati\n\r", "at\n\r", "atcm3\n\r"}));
    EXPECT_TRUE(sim_.Framed());
    ASSERT_EQ(connectLink(), 0u);
    EXPECT_TRUE(got_.WaitFor(kEstablishedInd, 10000));
}

// Answers that come late but within the collect time, after junk, or wrongly.
TEST_F(Link, IdentificationAnswersThatPassAndFail) {
    struct Case {
        const char* what;
        isdnsim::AtExchange version;
        uint32_t result;
    };
    isdnsim::AtExchange slow, noisy, wrong, none;
    slow.answer = noisy.answer = "V2.14.07 Tamrisk BRI";
    slow.delay_ms = 300;
    noisy.junk = std::string(300, 'x') + "\r\n\x01\xff";
    wrong.answer = "V1.00.00 Tamrisk BRI";
    none.never = true;
    const Case cases[] = {
        {"answer after 300 ms", slow, 1}, {"junk before the answer", noisy, 1}, {"wrong version", wrong, 0},
        {"no answer", none, 0}};
    AskIdentification();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetExchange("ati3", c.version);
        EXPECT_EQ(BringUp(), c.result);
        EXPECT_EQ(settings_.failed, c.result ? 0u : 1u);
        // Start the next case from command mode, as a re-open after a failure does.
        shutDownLink();
        ASSERT_EQ(startRuntime(&Indications::Take, &got_), 0u);
    }
}

// The dialogue tries "at" ten times (1 s each): an adapter that answers the tenth still comes
// up, one that answers only the eleventh does not. Both wait out nine or ten tries by design.
TEST_F(Link, AdapterAnsweringAtTheTenthTryComesUp) {
    AskIdentification();
    isdnsim::AtExchange late;
    late.answered_first = 1;  // the serial task's wake-up
    late.answer_from = 10;
    SetExchange("at", late);
    EXPECT_EQ(BringUp(), 1u);
    EXPECT_EQ(sim_.With([](isdnsim::IsdnAdapter& a) { return a.dialogue().Arrivals("at"); }), 1u + 10u + 1u);
}

TEST_F(Link, AdapterAnsweringAfterTheTenthTryFails) {
    AskIdentification();
    isdnsim::AtExchange late;
    late.answered_first = 1;
    late.answer_from = 11;
    SetExchange("at", late);
    EXPECT_EQ(BringUp(), 0u);
    EXPECT_EQ(settings_.failed, 1u);
    EXPECT_EQ(sim_.With([](isdnsim::IsdnAdapter& a) { return a.dialogue().Arrivals("at"); }), 1u + 10u);
    EXPECT_FALSE(sim_.Framed());
}

// No answer to the mode command: the framed phase waits its 10 s for the port and fails.
TEST_F(Link, AdapterNotAnsweringTheModeCommandFails) {
    isdnsim::AtExchange none;
    none.never = true;
    SetExchange("atcm3", none);
    EXPECT_EQ(BringUp(), 0u);
    EXPECT_EQ(settings_.failed, 1u);
    EXPECT_FALSE(sim_.Framed());
}

// Data requests go out as I frames; their confirmations come paced to the B channel (2048 bytes
// take 256 ms), in order, with the requests' handles. Data from the adapter comes up whole.
TEST_F(Link, CarriesPacedDataBothWays) {
    Connect();
    const DWORD start = GetTickCount();
    std::vector<Bytes> sent;
    for (uint16_t h = 1; h <= 3; ++h) {
        Bytes req = DataB3Req(h, 2048), payload(2048);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * h + 7);
        ASSERT_EQ(sendLinkData(0, static_cast<uint16_t>(req.size()), req.data(), static_cast<uint16_t>(payload.size()),
                               payload.data()),
                  1u);
        req.insert(req.end(), payload.begin(), payload.end());
        sent.push_back(req);
    }
    Bytes up = {0, 0, 8, 0, 1, 0, 0x86, 0x82, 5, 0};
    sim_.WithLink([&](isdnsim::TamriskLink& l) {
        l.QueueData(up);
        return Bytes();
    });
    for (int i = 0; i < 1000 && got_.data().size() < 4; ++i) Sleep(10);
    const std::vector<Bytes> data = got_.data();
    const std::vector<DWORD> times = got_.dataTimes();
    ASSERT_EQ(data.size(), 4u);
    std::vector<Bytes> confs;
    std::vector<DWORD> confTimes;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == up) continue;
        confs.push_back(data[i]);
        confTimes.push_back(times[i]);
    }
    ASSERT_EQ(confs.size(), 3u) << "the adapter's message came up";
    for (uint16_t h = 1; h <= 3; ++h) {
        const Bytes& c = confs[h - 1];
        ASSERT_EQ(c.size(), 18u);
        EXPECT_EQ(c[2 + 4], 0x86);
        EXPECT_EQ(c[2 + 5], 0x81);
        EXPECT_EQ(c[2 + 12], h) << "in order";
        EXPECT_EQ(c[2 + 14] | c[2 + 15] << 8, 0) << "info";
        // Lower bounds only: a loaded machine makes them later, never earlier.
        EXPECT_GE(confTimes[h - 1] - start + 20, 256u * h) << "paced to 64 kbit/s";
    }
    const std::vector<Bytes> atAdapter = sim_.ReadLink([](const isdnsim::TamriskLink& l) { return l.received; });
    EXPECT_EQ(atAdapter, sent);
}

// A data request while the link is not up is confirmed at once with an error, never with 0.
TEST_F(Link, DataWhileTheLinkIsDownIsRefused) {
    ASSERT_EQ(BringUp(), 1u);  // port up, HDLC link not established
    Bytes req = DataB3Req(9, 16);
    Bytes payload(16, 0x55);
    ASSERT_EQ(sendLinkData(0, static_cast<uint16_t>(req.size()), req.data(), 16, payload.data()), 1u);
    ASSERT_TRUE(got_.WaitFor(kDataIndication, 5000));
    const Bytes c = got_.data().at(0);
    ASSERT_EQ(c.size(), 18u);
    EXPECT_EQ(c[2 + 12], 9);
    EXPECT_EQ(c[2 + 14] | c[2 + 15] << 8, 0x2001);
    EXPECT_TRUE(sim_.ReadLink([](const isdnsim::TamriskLink& l) { return l.received; }).empty());
}

// The adapter drops the link (DM): link down is reported. A shut-down and a fresh start bring
// it up again on the same port.
TEST_F(Link, ReportsLinkLossAndOpensAgain) {
    Connect();
    sim_.WithLink([](isdnsim::TamriskLink& l) { return l.SendDm(); });
    ASSERT_TRUE(got_.WaitFor(kReleasedInd, 10000));
    EXPECT_EQ(linkState(), static_cast<uint32_t>(kLinkDown));

    EXPECT_EQ(shutDownLink(), 0u);
    got_.Clear();
    ASSERT_EQ(startRuntime(&Indications::Take, &got_), 0u);
    Connect();
    EXPECT_EQ(shutDownLink(), 0u);
    EXPECT_TRUE(got_.WaitFor(kPortDownIndication, 1000)) << "the stop reported before the runtime ended";
}

}  // namespace
}  // namespace stack
