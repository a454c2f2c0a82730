// The whole ISDN chain under Wine: an ISDN application on msgcore.dll, the stand-in capi2032.dll
// beside this program, portbridge.exe in a process of its own, a pty pair, and the simulated ISDN
// Tamrisk on the far end (in this process). serlink.ini in the Windows folder names the port.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/stage_clock_win32.h"
#include "portbridge/chain/chain_rig.h"
#include "portbridge/chain/isdn_app.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/version.h"

namespace {

using chain::IsdnApp;
using isdnsim::CapiController;

constexpr DWORD kCallMs = 20000;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    uint32_t x = seed;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

// The CAPI library beside this program, called directly.
struct CapiLibrary {
    HMODULE module = nullptr;
    DWORD(WINAPI* Register)(DWORD, DWORD, DWORD, DWORD, DWORD*) = nullptr;
    DWORD(WINAPI* Release)(DWORD) = nullptr;
    DWORD(WINAPI* Manufacturer)(char*) = nullptr;
    DWORD(WINAPI* Profile)(void*, DWORD) = nullptr;
    DWORD(WINAPI* Version)(DWORD*, DWORD*, DWORD*, DWORD*) = nullptr;
    DWORD(WINAPI* SerialNumber)(char*) = nullptr;
    template <typename F>
    void bind(F& f, const char* name) {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool load() {
        module = LoadLibraryA("capi2032.dll");
        if (!module) return false;
        bind(Register, "CAPI_REGISTER");
        bind(Release, "CAPI_RELEASE");
        bind(Manufacturer, "CAPI_GET_MANUFACTURER");
        bind(Profile, "CAPI_GET_PROFILE");
        bind(Version, "CAPI_GET_VERSION");
        bind(SerialNumber, "CAPI_GET_SERIAL_NUMBER");
        return Register && Release && Manufacturer && Profile && Version && SerialNumber;
    }
};

class Chain : public ::testing::Test {
protected:
    void SetUp() override {
        pair_ = winetest::GetPortPair(0);
        ASSERT_TRUE(winetest::SetProgramVersion("portbridge.exe", "win98"));
        ASSERT_TRUE(rig_.Start(winetest::ProgramFolder() + "\\..\\portbridge.exe", pair_.a, pair_.b, Settings()));
    }
    // More of serlink.ini.
    virtual std::string Settings() { return ""; }
    template <class F>
    auto Capi(F f) {
        return rig_.sim.WithCapi(f);
    }
    // The adapter has forgotten every call (its DISCONNECT_RESP may still be on its way).
    bool NoCallsLeft() {
        for (int i = 0; i < 200; ++i) {
            if (Capi([](CapiController& c) { return c.Calls(); }) == 0) return true;
            Sleep(50);
        }
        return false;
    }
    // The application registered and listening, or calling out; true when the call is up.
    bool Outgoing(IsdnApp& app) {
        return app.Connect("0987") == 0 && app.Await(ieConnection, app.Count(ieConnection) + 1, kCallMs);
    }
    // The simulator started with a controller that keeps the B3 data it gets (no echo), and `app`
    // open with a call out; true when the call is up.
    bool CallOutToASink(IsdnApp& app) {
        if (!rig_.StartSimulator()) return false;
        Capi([](CapiController& c) {
            c.knobs.data_mode = isdnsim::DataMode::kSink;
            return 0;
        });
        return app.Open() == 0 && Outgoing(app);
    }

    winetest::PortPair pair_;
    chain::ChainRig rig_;
};

}  // namespace

// With nobody on the line the registration fails (0x1109 reaches the library as not installed);
// once the adapter answers, the next registration opens the port and registers with it. The
// failed bring-up waits out link control's 10 s for the framed link.
TEST_F(Chain, RegistrationWithTheAdapterAbsentThenPresent) {
    CapiLibrary capi;
    ASSERT_TRUE(capi.load());
    DWORD id = 77;
    EXPECT_NE(capi.Register(1024 + 1024 * 2, 2, 7, 2048, &id), 0u);
    ASSERT_TRUE(rig_.StartSimulator());
    ASSERT_EQ(capi.Register(1024 + 1024 * 2, 2, 7, 2048, &id), 0u);
    EXPECT_EQ(Capi([](CapiController& c) { return c.counters.registrations; }), 1u);
    EXPECT_EQ(capi.Release(id), 0u);
    EXPECT_EQ(Capi([](CapiController& c) { return c.counters.releases; }), 1u);
}

// The identity is asked for once, by the first identity call, before any registration.
TEST_F(Chain, IdentityFetchedOnce) {
    ASSERT_TRUE(rig_.StartSimulator());
    CapiLibrary capi;
    ASSERT_TRUE(capi.load());
    char text[64];
    ASSERT_EQ(capi.Manufacturer(text), 0u);
    EXPECT_STREQ(text, "Quarnbeck A+R GmbH ISDN Tamrisk");
    uint8_t profile[64] = {};
    ASSERT_EQ(capi.Profile(profile, 0), 0u);
    EXPECT_EQ(profile[0] | profile[1] << 8, 1);
    DWORD v[4] = {};
    ASSERT_EQ(capi.Version(&v[0], &v[1], &v[2], &v[3]), 0u);
    EXPECT_EQ(std::vector<DWORD>(v, v + 4), (std::vector<DWORD>{2, 0, 2, 14})) << "CAPI 2.0, the adapter's 2.14";
    ASSERT_EQ(capi.SerialNumber(text), 0u);
    EXPECT_STREQ(text, "0004711");
    ASSERT_EQ(capi.Manufacturer(text), 0u);
    EXPECT_EQ(Capi([](CapiController& c) { return c.counters.identity_requests; }), 1u);
}

// An outgoing call carries 1 MiB each way (the adapter echoes what it gets), every byte checked
// at both ends, and is cleared from here. Link control confirms data at the B channel's 64 kbit/s,
// so the megabyte takes a little over two minutes.
TEST_F(Chain, OutgoingCallCarriesAMegabyteBothWays) {
    ASSERT_TRUE(rig_.StartSimulator());
    IsdnApp app;
    ASSERT_EQ(app.Open(), 0u);
    ASSERT_TRUE(Outgoing(app));
    const std::vector<uint8_t> data = Pattern(1 << 20, 7);
    ASSERT_TRUE(app.Send(data, 2048, 7, kCallMs));
    ASSERT_TRUE(app.AwaitReceived(data.size(), kCallMs));
    EXPECT_TRUE(Capi([&](CapiController& c) { return c.data_in == data; })) << "what the adapter got";
    EXPECT_TRUE(app.Received() == data) << "what came back";
    for (uint16_t info : app.TransmitInfos()) ASSERT_EQ(info, 0);
    ASSERT_EQ(app.Disconnect(), 0u);
    EXPECT_TRUE(app.Await(ieHangupDone, 1, kCallMs));
    EXPECT_TRUE(NoCallsLeft());
}

// Listening, an incoming call is accepted, carries data both ways and is cleared by the far end;
// then an outgoing call is cleared by the far end too.
TEST_F(Chain, IncomingCallAndHangUpFromTheFarEnd) {
    ASSERT_TRUE(rig_.StartSimulator());
    IsdnApp app;
    ASSERT_EQ(app.Open(), 0u);
    ASSERT_EQ(app.Listen(), 0u);
    ASSERT_TRUE(app.Await(ieListenConfirmed, 1, kCallMs));
    ASSERT_TRUE(Capi([](CapiController& c) { return c.IncomingCall("5555", "12345"); }));
    ASSERT_TRUE(app.Await(ieIncomingCall, 1, kCallMs));
    ASSERT_TRUE(app.Await(ieConnection, 1, kCallMs));
    const std::vector<uint8_t> out = Pattern(20000, 1), in = Pattern(20000, 2);
    ASSERT_TRUE(Capi([&](CapiController& c) { return c.SendData(in); }));
    ASSERT_TRUE(app.Send(out, 2048, 7, kCallMs));
    ASSERT_TRUE(app.AwaitReceived(in.size() + out.size(), kCallMs));
    std::vector<uint8_t> got = app.Received();
    // The echo of `out` and the far end's `in` interleave by block; each stream keeps its order.
    EXPECT_TRUE(Capi([&](CapiController& c) { return c.data_in == out; }));
    EXPECT_EQ(got.size(), in.size() + out.size());
    Capi([](CapiController& c) { return c.RemoteHangup(0x3490); });
    ASSERT_TRUE(app.Await(ieDisconnected, 1, kCallMs));

    ASSERT_TRUE(Outgoing(app));
    Capi([](CapiController& c) { return c.RemoteHangup(0x3490); });
    ASSERT_TRUE(app.Await(ieDisconnected, 2, kCallMs));
    EXPECT_TRUE(NoCallsLeft());
}

// The adapter's link drops during a call: the call ends with a disconnect for the lost link, and
// the application can call again once the link is back.
TEST_F(Chain, LinkLossDuringACall) {
    ASSERT_TRUE(rig_.StartSimulator());
    IsdnApp app;
    ASSERT_EQ(app.Open(), 0u);
    ASSERT_TRUE(Outgoing(app));
    rig_.sim.WithLink([](isdnsim::TamriskLink& l) { return l.SendDm(); });
    ASSERT_TRUE(app.Await(ieDisconnected, 1, kCallMs));
    EXPECT_EQ(app.LastReason(), 0x3301u);
    // Still registered, the application calls again: that opens the adapter again.
    ASSERT_TRUE(Outgoing(app));
    const std::vector<uint8_t> data = Pattern(8192, 5);
    ASSERT_TRUE(app.Send(data, 2048, 7, kCallMs));
    ASSERT_TRUE(app.AwaitReceived(data.size(), kCallMs));
    EXPECT_TRUE(app.Received() == data);
}

// The adapter resets the link (SABM) during a call while the computer's last I frames were lost
// on their way: the call stays up, the data HDLC dropped at the reset is confirmed with an error
// (the rest with 0), and the adapter holds exactly the blocks confirmed with 0.
TEST_F(Chain, LinkResetDuringACallKeepsTheCall) {
    IsdnApp app;
    ASSERT_TRUE(CallOutToASink(app));
    constexpr size_t kBlock = 2048, kBlocks = 24, kLost = 3;
    const std::vector<uint8_t> data = Pattern(kBlocks * kBlock, 9);
    ASSERT_TRUE(app.Send(std::vector<uint8_t>(data.begin(), data.begin() + 8 * kBlock), kBlock, 7, kCallMs));
    unsigned before = 0;
    rig_.sim.WithLink([&](isdnsim::TamriskLink& l) {
        before = l.FramesOfKind(isdnsim::kToAdapter, isdnsim::kIFrame);
        for (unsigned k = 1; k <= 1000; ++k) l.faults.frames[isdnsim::kToAdapter][isdnsim::kIFrame].lose.insert(before + k);
        return isdnsim::Bytes();
    });
    // Three blocks sent at once: long before link control's pacing confirms them, they are lost.
    for (size_t k = 8; k < 8 + kLost; ++k) ASSERT_EQ(isdnSend(app.connection(), data.data() + k * kBlock, kBlock, 0), 0u);
    bool arrived = false;
    for (int i = 0; i < 100 && !arrived; ++i) {
        rig_.sim.ReadLink([&](const isdnsim::TamriskLink& l) {
            return arrived = l.FramesOfKind(isdnsim::kToAdapter, isdnsim::kIFrame) >= before + kLost;
        });
        if (!arrived) Sleep(10);
    }
    ASSERT_TRUE(arrived);
    rig_.sim.WithLink([](isdnsim::TamriskLink& l) {
        l.faults.frames[isdnsim::kToAdapter][isdnsim::kIFrame].lose.clear();
        return l.StartSabm();
    });
    ASSERT_TRUE(app.Await(ieB3Transmit, 8 + kLost, kCallMs));
    const std::vector<uint8_t> rest(data.begin() + (8 + kLost) * kBlock, data.end());
    ASSERT_TRUE(app.Send(rest, kBlock, 7, kCallMs));
    EXPECT_EQ(app.Count(ieDisconnected), 0u) << "a reset is no lost link";
    const std::vector<uint16_t> infos = app.TransmitInfos();
    ASSERT_EQ(infos.size(), kBlocks);
    std::vector<uint8_t> confirmed;
    unsigned refused = 0;
    for (size_t i = 0; i < infos.size(); ++i) {
        if (infos[i] == 0)
            confirmed.insert(confirmed.end(), data.begin() + i * kBlock, data.begin() + (i + 1) * kBlock);
        else
            ++refused;
    }
    EXPECT_EQ(refused, kLost);
    for (int i = 0; i < 100 && Capi([](CapiController& c) { return c.data_in.size(); }) < confirmed.size(); ++i) Sleep(50);
    EXPECT_TRUE(Capi([&](CapiController& c) { return c.data_in == confirmed; })) << "what the adapter got";
    ASSERT_EQ(app.Disconnect(), 0u);
    EXPECT_TRUE(app.Await(ieHangupDone, 1, kCallMs));
}

// At window 7 (serlink.ini and the adapter alike) the link recovers by T1 from lost
// acknowledgements and a lost REJ, in both directions: every byte arrives once and in order.
class ChainWindowSeven : public Chain {
protected:
    std::string Settings() override { return "[HDLC]\r\nwindowSize=7\r\n"; }
    // Loses (or spoils) frames of a kind in a direction from the next one on.
    void Spoil(isdnsim::Direction d, isdnsim::FrameKind k, unsigned from, unsigned count, bool lose) {
        rig_.sim.WithLink([&](isdnsim::TamriskLink& l) {
            isdnsim::FrameFaults& f = l.faults.frames[d][k];
            const unsigned n = l.FramesOfKind(d, k);
            for (unsigned i = 0; i < count; ++i) (lose ? f.lose : f.spoil).insert(n + from + i);
            return isdnsim::Bytes();
        });
    }
    unsigned T1Resends() {
        unsigned n = 0;
        rig_.sim.ReadLink([&](const isdnsim::TamriskLink& l) { return n = l.t1_resends; });
        return n;
    }
};

TEST_F(ChainWindowSeven, LostAcknowledgementsAndRejectsCostOnlyATimeOut) {
    IsdnApp app;
    ASSERT_TRUE(CallOutToASink(app));
    // To the adapter: its acknowledgements of a window lost, then a spoiled I frame whose REJ is
    // lost; the computer's T1 polls.
    Spoil(isdnsim::kToComputer, isdnsim::kRrFrame, 3, 8, true);
    Spoil(isdnsim::kToAdapter, isdnsim::kIFrame, 15, 1, false);
    Spoil(isdnsim::kToComputer, isdnsim::kRejFrame, 1, 1, true);
    const std::vector<uint8_t> out = Pattern(48 * 2048, 11);
    ASSERT_TRUE(app.Send(out, 2048, 7, kCallMs));
    for (int i = 0; i < 100 && Capi([](CapiController& c) { return c.data_in.size(); }) < out.size(); ++i) Sleep(50);
    EXPECT_TRUE(Capi([&](CapiController& c) { return c.data_in == out; })) << "what the adapter got";
    for (uint16_t info : app.TransmitInfos()) ASSERT_EQ(info, 0);
    // To the computer, twice: first its acknowledgements of a window are lost (the adapter's T1
    // sends all of them again, which the computer has taken), then a spoiled I frame whose REJ
    // is lost (the adapter's T1 sends again from the gap).
    app.ClearReceived();
    std::vector<uint8_t> got;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const unsigned resends = T1Resends();
        if (round == 0) {
            // Its DATA_B3_RESP carry acknowledgements too, and its poll would fetch ours.
            Spoil(isdnsim::kToAdapter, isdnsim::kRrFrame, 3, 7, true);
            Spoil(isdnsim::kToAdapter, isdnsim::kIFrame, 3, 7, true);
            Spoil(isdnsim::kToAdapter, isdnsim::kPollFrame, 1, 1, true);
        } else {
            Spoil(isdnsim::kToComputer, isdnsim::kIFrame, 5, 1, false);
            Spoil(isdnsim::kToAdapter, isdnsim::kRejFrame, 1, 1, true);
        }
        const std::vector<uint8_t> in = Pattern(24 * 2048, 12 + round);
        got.insert(got.end(), in.begin(), in.end());
        Capi([&](CapiController& c) {
            for (size_t at = 0; at < in.size(); at += 2048)
                c.SendData(std::vector<uint8_t>(in.begin() + at, in.begin() + at + 2048));
            return 0;
        });
        ASSERT_TRUE(app.AwaitReceived(got.size(), 60000));
        Sleep(1500);  // a repeat taken for new data would come after
        EXPECT_TRUE(app.Received() == got) << "what the computer got, once each";
        EXPECT_GE(T1Resends(), resends + 1) << "the adapter's T1 sent its frames again";
    }
    ASSERT_EQ(app.Disconnect(), 0u);
    EXPECT_TRUE(app.Await(ieHangupDone, 1, kCallMs));
}

namespace {

// The CAPI library's message calls, for the round trip.
struct CapiMessages {
    DWORD(WINAPI* Register)(DWORD, DWORD, DWORD, DWORD, DWORD*) = nullptr;
    DWORD(WINAPI* Release)(DWORD) = nullptr;
    DWORD(WINAPI* Put)(DWORD, void*) = nullptr;
    DWORD(WINAPI* Get)(DWORD, void**) = nullptr;
    DWORD(WINAPI* Wait)(DWORD) = nullptr;
    bool load() {
        HMODULE m = LoadLibraryA("capi2032.dll");
        if (!m) return false;
        Register = reinterpret_cast<decltype(Register)>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_REGISTER")));
        Release = reinterpret_cast<decltype(Release)>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_RELEASE")));
        Put = reinterpret_cast<decltype(Put)>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_PUT_MESSAGE")));
        Get = reinterpret_cast<decltype(Get)>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_GET_MESSAGE")));
        Wait = reinterpret_cast<decltype(Wait)>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_WAIT_FOR_SIGNAL")));
        return Register && Release && Put && Get && Wait;
    }
};

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

}  // namespace

// The chain with the stage clock's section made before portbridge starts, so every process of it
// stamps the stages a request and its answer cross.
class ChainBenchmark : public Chain {
protected:
    void SetUp() override {
        if (!std::getenv("CHAIN_BENCHMARK")) GTEST_SKIP() << "set CHAIN_BENCHMARK=1 to run";
        ASSERT_TRUE(stages_.ok());
        Chain::SetUp();
    }
    stageclock::Section stages_;
};

// B3 throughput of one call and the round trip of a non-data request, with the simulated adapter
// pacing its line at 115200 bit/s (11520 bytes a second) and its B channel at 64 kbit/s. Each
// figure is printed as the honest limit over the measured time (1.0 is the limit): every byte at
// its rate plus each fixed wait once. The round trip's limit is the line time of the request and
// its confirmation (the runtime steps at once when a message is queued, so no fixed wait
// remains); with it the median time between the stages the request and its answer cross. A block
// out is confirmed when the B channel would have sent it, each after the one before: n blocks
// take n times a block's channel time (or line time, were the line the slower). A block in comes
// over the B channel and then over the line behind the ones before it (8 bytes of serial frame
// and HDLC header, the 2-byte prefix and the 22-byte DATA_B3 message with each block): the
// first block's time on both plus the others' on the slower one. Not a timed test: it runs only
// when asked for (CHAIN_BENCHMARK=1) and prints its figures.
TEST_F(ChainBenchmark, Benchmark) {
    constexpr double kLine = 11520, kChannel = 8000, kBlockOverhead = 8 + 2 + 22;
    ASSERT_TRUE(rig_.StartSimulator());
    rig_.sim.SetPacing(static_cast<unsigned>(kLine));
    Capi([](CapiController& c) {
        c.knobs.b_channel_bytes_per_second = 8000;
        c.knobs.data_mode = isdnsim::DataMode::kSink;
        return 0;
    });
    // The round trip of LISTEN_REQ (26 bytes) to its LISTEN_CONF (14 bytes), on an idle line.
    {
        CapiMessages capi;
        ASSERT_TRUE(capi.load());
        DWORD id = 0;
        ASSERT_EQ(capi.Register(1024 + 1024 * 2, 2, 7, 2048, &id), 0u);
        const double lineMs = 1000 * (2 * 8 + 2 * 2 + 26 + 14) / kLine;
        std::vector<double> ms;
        std::vector<std::vector<double>> stageMs(stageclock::kStages);
        unsigned incomplete = 0;
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        for (int i = 0; i < 200; ++i) {
            uint8_t listen[26] = {26, 0, uint8_t(id), uint8_t(id >> 8), 0x05, 0x80, uint8_t(i), 0, 1};
            // A quiet line between requests: nothing of the last one is still under way.
            Sleep(20);
            stages_.clear();
            LARGE_INTEGER t0, t1;
            QueryPerformanceCounter(&t0);
            stageclock::stamp(stageclock::kAppPut);
            ASSERT_EQ(capi.Put(id, listen), 0u);
            void* got = nullptr;
            for (;;) {
                if (capi.Get(id, &got) == 0) break;
                ASSERT_EQ(capi.Wait(id), 0u);
            }
            stageclock::stamp(stageclock::kAppGot);
            QueryPerformanceCounter(&t1);
            const uint8_t* m = static_cast<const uint8_t*>(got);
            ASSERT_EQ(m[4] | m[5] << 8, 0x8105);
            ms.push_back(1000 * Seconds(t0, t1));
            // Each stage's time after the one before it; a trip with a stage missing or out of
            // order (other traffic crossed it first) adds nothing to the table.
            std::vector<double> at(stageclock::kStages);
            bool whole = true;
            for (unsigned s = 0; s < stageclock::kStages; ++s) {
                const int64_t t = stages_.at(s);
                at[s] = 1000.0 * double(t - t0.QuadPart) / double(f.QuadPart);
                if (!t || (s && at[s] < at[s - 1])) whole = false;
            }
            if (!whole) {
                ++incomplete;
                continue;
            }
            for (unsigned s = 1; s < stageclock::kStages; ++s) stageMs[s].push_back(at[s] - at[s - 1]);
        }
        auto median = [](std::vector<double> v) {
            if (v.empty()) return 0.0;
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::sort(ms.begin(), ms.end());
        const double med = median(ms);
        std::printf("LISTEN_REQ to LISTEN_CONF: median %.1f ms, 90 %% %.1f ms, max %.1f ms; limit %.1f ms of line: "
                    "ratio %.2f; goal (1.5 times the line, %.1f ms) %s\n",
                    med, ms[ms.size() * 9 / 10], ms.back(), lineMs, lineMs / med, 1.5 * lineMs,
                    med <= 1.5 * lineMs ? "met" : "missed");
        std::printf("  stage (median ms after the one before, 90 %%), over %u of %u trips:\n",
                    unsigned(stageMs[1].size()), unsigned(ms.size()));
        for (unsigned s = 1; s < stageclock::kStages; ++s) {
            std::vector<double> v = stageMs[s];
            std::sort(v.begin(), v.end());
            std::printf("    %-18s %6.2f  %6.2f\n", stageclock::stageName(s), median(v),
                        v.empty() ? 0.0 : v[v.size() * 9 / 10]);
        }
        if (incomplete) std::printf("  %u trips had a stage missing or out of order\n", incomplete);
        capi.Release(id);
    }
    // CHAIN_BENCHMARK=rtt measures the round trip only.
    if (std::string(std::getenv("CHAIN_BENCHMARK")) != "rtt") {
        IsdnApp app;
        ASSERT_EQ(app.Open(), 0u);
        ASSERT_TRUE(Outgoing(app));
        for (size_t block : {size_t(2048), size_t(128)}) {
            const double channelMs = 1000 * double(block) / kChannel;
            const double lineMs = 1000 * (double(block) + kBlockOverhead) / kLine;
            // Out: from the first send to the last confirmation.
            const std::vector<uint8_t> out = Pattern(block > 1000 ? 192 * 1024 : 48 * 1024, 3);
            const double outBlocks = double((out.size() + block - 1) / block);
            const unsigned confirmed = app.Count(ieB3Transmit);
            LARGE_INTEGER t0, t1;
            QueryPerformanceCounter(&t0);
            ASSERT_TRUE(app.Send(out, block, 7, 60000));
            QueryPerformanceCounter(&t1);
            ASSERT_EQ(app.Count(ieB3Transmit) - confirmed, (out.size() + block - 1) / block);
            const double outMs = 1000 * Seconds(t0, t1);
            const double outLimit = outBlocks * std::max(channelMs, lineMs);
            // In: from handing the data to the far end to the last byte received.
            app.ClearReceived();
            const size_t inBytes = block > 1000 ? 192 * 1024 : 48 * 1024;
            const double inBlocks = double(inBytes / block);
            QueryPerformanceCounter(&t0);
            Capi([&](CapiController& c) {
                for (size_t sent = 0; sent < inBytes; sent += block) c.SendData(Pattern(block, unsigned(sent)));
                return 0;
            });
            ASSERT_TRUE(app.AwaitReceived(inBytes, 120000));
            QueryPerformanceCounter(&t1);
            const double inMs = 1000 * Seconds(t0, t1);
            const double inLimit = channelMs + lineMs + (inBlocks - 1) * std::max(channelMs, lineMs);
            std::printf("%4u-byte blocks: out %6.0f B/s, ratio %.3f (limit %.0f ms); in %6.0f B/s, ratio %.3f "
                        "(limit %.0f ms)\n",
                        unsigned(block), out.size() / outMs * 1000, outLimit / outMs, outLimit,
                        inBytes / inMs * 1000, inLimit / inMs, inLimit);
        }
        app.Disconnect();
        ASSERT_TRUE(app.Await(ieHangupDone, 1, kCallMs));
        app.Close();
    }
}
