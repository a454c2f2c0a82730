// The provider with the real link control and CAPI engine over a pty port pair to the simulated
// ISDN Tamrisk: registration with the adapter absent and then present, the identity fetched once,
// and a call carrying DATA_B3 both ways. The test stands where the window side does: it makes the
// calls the window procedure makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/debug.h"
#include "common/le_bytes.h"
#include "portbridge/provider/ta_bindings.h"
#include "portbridge/provider/ta_provider.h"
#include "portbridge/provider/thread_timers.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

using namespace pbprov;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}
using le::get16;
using le::get32;

// A CAPI message: header and parameters.
Bytes message(uint16_t app, uint8_t command, uint8_t sub, uint16_t number, const Bytes& params) {
    Bytes m;
    put16(m, static_cast<uint16_t>(8 + params.size()));
    put16(m, app);
    m.push_back(command);
    m.push_back(sub);
    put16(m, number);
    m.insert(m.end(), params.begin(), params.end());
    return m;
}

// CONNECT_REQ's parameters: controller 1, an unrestricted digital call to "123", the other
// structures empty.
Bytes connectParams() {
    Bytes connect;
    put32(connect, 1);   // controller
    put16(connect, 2);   // CIP: unrestricted digital
    connect.insert(connect.end(), {4, 0x80, '1', '2', '3'});  // called party
    for (int i = 0; i < 8; ++i) connect.push_back(0);           // the other structures, empty
    return connect;
}

unsigned g_comPort = 0;
uint8_t g_windowSize = 4;
void readSettings(CTaPortSettings* s) {
    s->comPort = g_comPort;
    s->windowSize = g_windowSize;
}
void printLine(const char* text) {
    if (getenv("PROVIDER_DEBUG")) std::printf("%s", text);
}

HANDLE g_signal = nullptr;
uint32_t signalProc(uint16_t, uintptr_t) {
    ReleaseSemaphore(g_signal, 1, nullptr);
    return 0;
}

struct Got {
    Bytes message;
    Bytes data;
    // In CAPI 2.0 coding, whatever coding the application registered for.
    uint16_t word() const { return static_cast<uint16_t>(message[4] | (message[5] | 0x80) << 8); }
};

class ProviderLink : public ::testing::Test {
protected:
    void SetUp() override {
        winetest::PortPair pair = winetest::GetPortPair(0);
        g_comPort = static_cast<unsigned>(std::stoul(pair.a.substr(3)));
        simPort_ = pair.b;
        g_signal = CreateSemaphoreA(nullptr, 0, 10000, nullptr);
        debugInit("serlinksp", 0x7FFFFFFF);
        debugCaptureOutput(&printLine);
        ASSERT_EQ(provider_.start(nullptr), 0u);
    }
    void TearDown() override {
        provider_.shutDown();
        sim_.Stop();
        CloseHandle(g_signal);
        g_windowSize = 4;
    }

    uint32_t registerApp(uint16_t* id) {
        CCapiCall c;
        c.function = kFnRegister;
        c.reg.maxLogicalConnections = 1;
        c.reg.maxB3Blocks = 7;
        c.reg.maxB3DataLength = 2048;
        c.reg.bufferSize = 1024 + 1024 * 1;
        c.reg.version = capi11_ ? 11 : 0;
        c.appIdResult = id;
        uint32_t r = provider_.call(c);
        if (r == 0) {
            CCapiCall s;
            s.function = kFnSignal;
            s.appId = *id;
            s.signal = &signalProc;
            provider_.call(s);
        }
        return r;
    }
    // Written in CAPI 2.0 coding; an application of CAPI 1.1 sends it in its own.
    uint32_t put(uint16_t id, Bytes m, const uint8_t* payload = nullptr) {
        if (capi11_) m[5] &= 0x7F;
        CCapiCall c;
        c.function = kFnPut;
        c.appId = id;
        c.message = m.data();
        c.messageSize = m.size();
        c.payload = payload;
        return provider_.call(c);
    }
    // The next message for the application within `ms`; answers the indications that need a
    // response on the way when `answer` is set.
    bool next(uint16_t id, Got* out, DWORD ms = 10000) {
        for (;;) {
            CTaGot got;
            CCapiCall c;
            c.function = kFnGet;
            c.appId = id;
            c.got = &got;
            if (provider_.call(c) == 0) {
                out->message.assign(got.message, got.message + got.length);
                out->data.assign(got.b3Data, got.b3Data + (got.b3Data ? got.b3Length : 0));
                provider_.completeGet(id);
                return true;
            }
            if (WaitForSingleObject(g_signal, ms) != WAIT_OBJECT_0) return false;
        }
    }
    // Waits for `word`, answering indications that need it; other messages are kept.
    bool await(uint16_t id, uint16_t word, Got* out, DWORD ms = 10000) {
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->word() == word) {
                *out = *it;
                kept_.erase(it);
                return true;
            }
        for (;;) {
            Got g;
            if (!next(id, &g, ms)) return false;
            answer(id, g);
            if (g.word() == word) {
                *out = g;
                return true;
            }
            kept_.push_back(g);
        }
    }
    void answer(uint16_t id, const Got& g) {
        const uint8_t* m = g.message.data();
        uint32_t ident = get32(m + 8);
        Bytes p;
        put32(p, ident);
        switch (g.word()) {
        case 0x8203:  // CONNECT_ACTIVE_IND
            put(id, message(id, 0x03, 0x83, get16(m + 6), p));
            break;
        case 0x8283:  // CONNECT_B3_ACTIVE_IND
            put(id, message(id, 0x83, 0x83, get16(m + 6), p));
            break;
        case 0x8286:  // DATA_B3_IND
            put16(p, get16(m + 18));
            put(id, message(id, 0x86, 0x83, get16(m + 6), p));
            break;
        case 0x8284:  // DISCONNECT_B3_IND
            put(id, message(id, 0x84, 0x83, get16(m + 6), p));
            break;
        case 0x8204:  // DISCONNECT_IND
            put(id, message(id, 0x04, 0x83, get16(m + 6), p));
            break;
        default:
            break;
        }
    }
    // An outgoing call (CONNECT_REQ with connectParams()) up to its CONNECT_ACTIVE_IND; its
    // CONNECT_CONF in *conf.
    void connectCall(uint16_t id, Got* conf) {
        ASSERT_EQ(put(id, message(id, 0x02, 0x80, 1, connectParams())), 0u);
        ASSERT_TRUE(await(id, 0x8102, conf));
        Got active;
        ASSERT_TRUE(await(id, 0x8203, &active));
    }
    // CONNECT_B3_REQ on `plci` up to its CONNECT_B3_ACTIVE_IND; the NCCI of its CONNECT_B3_CONF.
    void connectB3(uint16_t id, uint32_t plci, uint32_t* ncci) {
        Bytes b3;
        put32(b3, plci);
        b3.push_back(0);
        ASSERT_EQ(put(id, message(id, 0x82, 0x80, 2, b3)), 0u);
        Got conf, active;
        ASSERT_TRUE(await(id, 0x8182, &conf));
        *ncci = get32(conf.message.data() + 8);
        ASSERT_TRUE(await(id, 0x8283, &active));
    }
    // DISCONNECT_REQ on `plci` up to its DISCONNECT_IND.
    void hangUp(uint16_t id, uint32_t plci) {
        Bytes disc;
        put32(disc, plci);
        disc.push_back(0);
        ASSERT_EQ(put(id, message(id, 0x04, 0x80, 30, disc)), 0u);
        Got ind;
        ASSERT_TRUE(await(id, 0x8204, &ind));
    }
    // DATA_B3_REQ of `length` bytes on `ncci` (the payload travels beside the message).
    static Bytes dataB3(uint32_t ncci, size_t length, uint16_t handle) {
        Bytes d;
        put32(d, ncci);
        put32(d, 0);
        put16(d, static_cast<uint16_t>(length));
        put16(d, handle);
        put16(d, 0);
        return d;
    }

    CThreadTimers timers_;
    std::unique_ptr<CTaLinkOps> link_{createStackLink()};
    std::unique_ptr<CTaEngineOps> engine_{createCapiEngine(&timers_)};
    CTaProvider provider_{link_.get(), &timers_, engine_.get(), &readSettings, nullptr};
    isdnsim::IsdnSimulator sim_;
    std::string simPort_;
    std::deque<Got> kept_;
    bool capi11_ = false;
};

}  // namespace

// With nobody on the line the first registration fails with 0x1109 after the bring-up; once the
// adapter answers, the next one opens the port and registers with it. The failed bring-up waits out
// link control's 10 s for the framed link.
TEST_F(ProviderLink, RegistrationFailsWithoutTheAdapterAndSucceedsOnceItAnswers) {
    uint16_t id = 99;
    EXPECT_EQ(registerApp(&id), kInfoNotReachable);
    EXPECT_EQ(id, 0);
    EXPECT_FALSE(provider_.portOpen());
    ASSERT_TRUE(sim_.Start(simPort_));
    EXPECT_EQ(registerApp(&id), 0u);
    EXPECT_EQ(id, 1);
    EXPECT_TRUE(provider_.portOpen());
    EXPECT_EQ(sim_.WithCapi([](isdnsim::CapiController& c) { return c.counters.registrations; }), 1u);
}

// The identity is asked for at the first of the four identity calls and never again; an
// 8-character serial number comes back terminated.
TEST_F(ProviderLink, IdentityIsFetchedOnce) {
    ASSERT_TRUE(sim_.Start(simPort_));
    sim_.WithCapi([](isdnsim::CapiController& c) {
        c.knobs.identity.serial = "87654321";
        return 0;
    });
    char text[64];
    CCapiCall c;
    c.function = kFnManufacturer;
    c.resultBuffer = reinterpret_cast<uint8_t*>(text);
    ASSERT_EQ(provider_.call(c), 0u);
    EXPECT_STREQ(text, "Quarnbeck A+R GmbH ISDN Tamrisk");
    c.function = kFnSerialNumber;
    std::memset(text, 'x', sizeof(text));
    ASSERT_EQ(provider_.call(c), 0u);
    EXPECT_STREQ(text, "87654321");
    c.function = kFnProfile;
    c.controller = 0;
    ASSERT_EQ(provider_.call(c), 0u);
    EXPECT_EQ(get16(reinterpret_cast<uint8_t*>(text)), 1);
    c.function = kFnManufacturer;
    ASSERT_EQ(provider_.call(c), 0u);
    EXPECT_EQ(sim_.WithCapi([](isdnsim::CapiController& k) { return k.counters.identity_requests; }), 1u);
}

// An outgoing call with a B3 connection: data goes to the adapter and comes back (the simulator
// echoes), each DATA_B3_REQ is confirmed, and the call is cleared from here.
TEST_F(ProviderLink, CallCarriesDataBothWays) {
    ASSERT_TRUE(sim_.Start(simPort_));
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    Got conf;
    ASSERT_NO_FATAL_FAILURE(connectCall(id, &conf));
    EXPECT_EQ(get16(conf.message.data() + 12), 0);
    const uint32_t plci = get32(conf.message.data() + 8);
    uint32_t ncci = 0;
    ASSERT_NO_FATAL_FAILURE(connectB3(id, plci, &ncci));

    Bytes received;
    unsigned confirmed = 0;
    const unsigned kBlocks = 8;
    for (unsigned i = 0; i < kBlocks; ++i) {
        Bytes payload(1000);
        for (size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<uint8_t>(i * 7 + k);
        const Bytes d = dataB3(ncci, payload.size(), static_cast<uint16_t>(i));
        ASSERT_EQ(put(id, message(id, 0x86, 0x80, static_cast<uint16_t>(10 + i), d), payload.data()), 0u);
    }
    while (confirmed < kBlocks || received.size() < kBlocks * 1000) {
        Got g;
        ASSERT_TRUE(next(id, &g)) << confirmed << " confirmed, " << received.size() << " received, "
                                  << sim_.WithCapi([](isdnsim::CapiController& c) {
                                         return c.counters.data_bytes_out * 1000 + c.counters.out[0x8286];
                                     });
        answer(id, g);
        if (g.word() == 0x8186) {
            EXPECT_EQ(get16(g.message.data() + 14), 0);
            ++confirmed;
        }
        if (g.word() == 0x8286) received.insert(received.end(), g.data.begin(), g.data.end());
    }
    Bytes sent = sim_.WithCapi([](isdnsim::CapiController& c) { return c.data_in; });
    ASSERT_EQ(sent.size(), kBlocks * 1000u);
    EXPECT_EQ(received, sent);
    for (unsigned i = 0; i < kBlocks; ++i)
        for (size_t k = 0; k < 1000; k += 97) ASSERT_EQ(sent[i * 1000 + k], static_cast<uint8_t>(i * 7 + k));

    ASSERT_NO_FATAL_FAILURE(hangUp(id, plci));
}

// An application of CAPI 1.1 puts its requests with subcommand 0x00. Its data is confirmed as
// that of CAPI 2.0, each block once with info 0 (in its coding), well past the 32 requests an
// NCCI can have unconfirmed.
TEST_F(ProviderLink, Capi11DataIsConfirmed) {
    capi11_ = true;
    ASSERT_TRUE(sim_.Start(simPort_));
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    Got conf;
    ASSERT_NO_FATAL_FAILURE(connectCall(id, &conf));
    EXPECT_EQ(conf.message[5], 0x01) << "answered in its coding";
    ASSERT_EQ(get16(conf.message.data() + 12), 0);
    uint32_t ncci = 0;
    ASSERT_NO_FATAL_FAILURE(connectB3(id, get32(conf.message.data() + 8), &ncci));

    const unsigned kBlocks = 40, kWindow = 7;
    Bytes payload(200, 0x5A);
    unsigned sent = 0, confirmed = 0, outstanding = 0;
    while (confirmed < kBlocks) {
        while (sent < kBlocks && outstanding < kWindow) {
            const Bytes d = dataB3(ncci, payload.size(), static_cast<uint16_t>(sent));
            ASSERT_EQ(put(id, message(id, 0x86, 0x80, static_cast<uint16_t>(10 + sent), d), payload.data()), 0u) << sent;
            ++sent;
            ++outstanding;
        }
        Got g;
        ASSERT_TRUE(next(id, &g)) << confirmed << " of " << sent << " confirmed";
        answer(id, g);
        if (g.word() != 0x8186) continue;
        EXPECT_EQ(g.message[5], 0x01);
        EXPECT_EQ(get16(g.message.data() + 12), confirmed) << "in order";
        EXPECT_EQ(get16(g.message.data() + 14), 0);
        ++confirmed;
        --outstanding;
    }
    EXPECT_EQ(sim_.WithCapi([](isdnsim::CapiController& c) { return c.data_in.size(); }), kBlocks * 200u);
}

// After the adapter's link is lost a request is not left pending: the engine answers it with a
// confirmation that carries an error.
// After a lost link the application stays registered; its next listen opens the adapter again.
// While the adapter does not answer, that fails and the listen is confirmed with an error; once
// it answers, the listen goes through.
TEST_F(ProviderLink, ListenAfterLinkLossOpensTheAdapterAgain) {
    ASSERT_TRUE(sim_.Start(simPort_));
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    sim_.WithLink([](isdnsim::TamriskLink& l) { return l.SendDm(); });
    for (int i = 0; i < 200 && provider_.portOpen(); ++i) Sleep(50);
    ASSERT_FALSE(provider_.portOpen());
    Bytes listen;
    put32(listen, 1);
    for (int i = 0; i < 3; ++i) put32(listen, 0);
    listen.push_back(0);
    listen.push_back(0);
    sim_.With([](isdnsim::IsdnAdapter& a) { return a.behaviour().silent = true; });
    put(id, message(id, 0x05, 0x80, 5, listen));
    Got conf;
    ASSERT_TRUE(await(id, 0x8105, &conf, 30000));
    EXPECT_NE(get16(conf.message.data() + 12), 0) << "the adapter did not answer";
    EXPECT_FALSE(provider_.portOpen());
    sim_.With([](isdnsim::IsdnAdapter& a) { return a.behaviour().silent = false; });
    put(id, message(id, 0x05, 0x80, 6, listen));
    ASSERT_TRUE(await(id, 0x8105, &conf, 30000));
    EXPECT_EQ(get16(conf.message.data() + 12), 0) << "registered there again, and listening";
    EXPECT_TRUE(provider_.portOpen());
}

namespace {

double msSince(const LARGE_INTEGER& t0) {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
}

class ProviderLinkRate : public ProviderLink, public ::testing::WithParamInterface<uint8_t> {};

}  // namespace

// B3 goodput through the provider's whole path (CAPI engine, port, link control, HDLC, serial
// task) over the pty to the simulated adapter pacing its line at 115200 bit/s, with no B channel
// limit behind the adapter: out (the first DATA_B3_REQ put to the last DATA_B3_CONF got) and in
// (the adapter's hand-over to the last byte got), for one window on both ends. Printed against
// the honest limit, as limit / measured: every byte the line must carry at 11520 B/s (each block
// with its 2-byte HDLC header, 6 bytes of serial frame, the 2-byte prefix and the 22-byte
// DATA_B3 message; out also the RR of the last frame). Out has a second limit of its own: the
// provider confirms a block only when the B channel (8000 B/s) would have sent it, each after
// the one before, so out is held to the slower of the two. Not a timed test: it runs when
// LINK_BENCHMARK is set.
TEST_P(ProviderLinkRate, Benchmark) {
    if (!std::getenv("LINK_BENCHMARK")) GTEST_SKIP() << "set LINK_BENCHMARK=1 to run";
    constexpr double kLine = 11520, kChannel = 8000, kBlockOverhead = 2 + 6 + 2 + 22, kRr = 2 + 6;
    g_windowSize = GetParam();
    sim_.WithLink([](isdnsim::TamriskLink& l) {
        l.window = g_windowSize;
        // The adapter hands frames to a paced line that is busy for a window's worth of them
        // (7 of 2080 bytes: 1.26 s); a T1 shorter than that sends again what is still on the wire.
        l.t1_ms = 3000;
        return Bytes();
    });
    sim_.WithCapi([](isdnsim::CapiController& c) {
        c.knobs.data_mode = isdnsim::DataMode::kSink;
        return 0;
    });
    ASSERT_TRUE(sim_.Start(simPort_));
    sim_.SetPacing(static_cast<unsigned>(kLine));
    uint16_t id = 0;
    ASSERT_EQ(registerApp(&id), 0u);
    Got conf;
    ASSERT_NO_FATAL_FAILURE(connectCall(id, &conf));
    const uint32_t plci = get32(conf.message.data() + 8);
    uint32_t ncci = 0;
    ASSERT_NO_FATAL_FAILURE(connectB3(id, plci, &ncci));

    // I frames of 2072 and 256 bytes: the largest block, and the link benchmark's short frame.
    for (size_t block : {size_t(2048), size_t(232)}) {
        const unsigned blocks = block > 1000 ? 24 : 200;
        const double frameMs = 1000 * (static_cast<double>(block) + kBlockOverhead) / kLine;
        Bytes payload(block);
        for (size_t k = 0; k < block; ++k) payload[k] = static_cast<uint8_t>(k * 7);
        unsigned sent = 0, confirmed = 0;
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        while (confirmed < blocks) {
            // As many blocks outstanding as the registration allows (7).
            while (sent < blocks && sent - confirmed < 7) {
                const Bytes d = dataB3(ncci, block, static_cast<uint16_t>(sent));
                ASSERT_EQ(put(id, message(id, 0x86, 0x80, static_cast<uint16_t>(sent), d), payload.data()), 0u);
                ++sent;
            }
            Got g;
            ASSERT_TRUE(await(id, 0x8186, &g)) << confirmed << " of " << blocks << " confirmed";
            ASSERT_EQ(get16(g.message.data() + 14), 0);
            ++confirmed;
        }
        const double outMs = msSince(t0);
        const double outLimit =
            std::max(blocks * frameMs + 1000 * kRr / kLine, 1000.0 * blocks * static_cast<double>(block) / kChannel);

        size_t received = 0;
        QueryPerformanceCounter(&t0);
        sim_.WithCapi([&](isdnsim::CapiController& c) {
            for (unsigned i = 0; i < blocks; ++i) c.SendData(payload);
            return 0;
        });
        while (received < blocks * block) {
            Got g;
            ASSERT_TRUE(next(id, &g)) << received << " bytes received";
            answer(id, g);
            if (g.word() == 0x8286) received += g.data.size();
        }
        const double inMs = msSince(t0);
        // The adapter's wire also carries its RR for most DATA_B3_RESPs (8 bytes a block, those
        // of the last blocks after the data): a bound that counts none of them stays a bound.
        const double inLimit = blocks * frameMs;

        std::printf("window %u, %4u-byte I frames (%4u-byte blocks): out %5.0f B/s, ratio %.3f (limit %5.0f B/s); "
                    "in %5.0f B/s, ratio %.3f (limit %5.0f B/s)\n",
                    unsigned(GetParam()), unsigned(block + 24), unsigned(block), blocks * block / outMs * 1000,
                    outLimit / outMs, blocks * block / outLimit * 1000, blocks * block / inMs * 1000, inLimit / inMs,
                    blocks * block / inLimit * 1000);
    }
    ASSERT_NO_FATAL_FAILURE(hangUp(id, plci));
}

INSTANTIATE_TEST_SUITE_P(Windows, ProviderLinkRate, ::testing::Values(uint8_t(4), uint8_t(7)),
                         [](const ::testing::TestParamInfo<uint8_t>& w) { return "Window" + std::to_string(w.param); });
