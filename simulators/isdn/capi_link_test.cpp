// The adapter's CAPI side as the computer reaches it: over a real pty pair, woken with "at",
// switched to framed mode with "atcm3", an HDLC link set up with SABM, and CAPI messages in I
// frames both ways. The test plays the computer's end itself, as small as it needs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/capi_test_messages.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

namespace {

using capitest::Msg;
using isdnsim::Bytes;

class CapiLink : public ::testing::Test {
protected:
    void SetUp() override {
        const winetest::PortPair pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        ASSERT_TRUE(port.Open(pair.a, 115200));
        ASSERT_NE(Command("at\n\r").find("OK"), std::string::npos);
        ASSERT_NE(Command("atcm3\n\r").find("OK"), std::string::npos);
        for (int i = 0; i < 500 && !sim.Framed(); ++i) Sleep(10);
        ASSERT_TRUE(sim.Framed());
        Send({1, 0x3F});  // SABM with P
        ASSERT_EQ(Next(), (Bytes{1, 0x73})) << "UA with F";
    }
    void TearDown() override { sim.Stop(); }

    std::string Command(const std::string& text) {
        port.Write(text);
        return port.ReadUntil("OK", 5000);
    }
    void Send(const Bytes& payload) {
        Bytes f = isdnsim::SerialFrames::Wrap(payload);
        ASSERT_TRUE(port.Write(f.data(), f.size()));
    }
    // The next HDLC frame from the adapter (empty after 10 s without one).
    Bytes Next() {
        const DWORD start = GetTickCount();
        while (frames.empty() && GetTickCount() - start < 10000) {
            std::string got = port.Read(4096, 50);
            rx.Take(reinterpret_cast<const uint8_t*>(got.data()), got.size(), &frames);
        }
        if (frames.empty()) return {};
        Bytes f = frames.front();
        frames.erase(frames.begin());
        return f;
    }
    // One CAPI message in an I frame, its acknowledgement taken.
    void Put(const Bytes& message) {
        Bytes p = {1, static_cast<uint8_t>(vs << 1 | vr << 5), 0x12, 0x34};
        p.insert(p.end(), message.begin(), message.end());
        vs = (vs + 1) & 7;
        Send(p);
    }
    // The next CAPI message from the adapter (its I frame acknowledged), with its prefix.
    Bytes Get() {
        for (;;) {
            Bytes f = Next();
            if (f.empty()) return {};
            if (f.size() < 2 || f[0] != 3 || (f[1] & 1) != 0) continue;  // acknowledgements
            if (((f[1] >> 1) & 7) != vr) continue;
            vr = (vr + 1) & 7;
            Send({3, static_cast<uint8_t>(0x01 | vr << 5)});
            return Bytes(f.begin() + 2, f.end());
        }
    }
    static Bytes Prefixed(const Bytes& message) {
        Bytes b = {0, 0};
        b.insert(b.end(), message.begin(), message.end());
        return b;
    }

    isdnsim::IsdnSimulator sim;
    winetest::SerialPort port;
    isdnsim::SerialFrames rx;
    std::vector<Bytes> frames;
    uint8_t vs = 0, vr = 0;
};

TEST_F(CapiLink, RegisterIdentityCallAndLinkLoss) {
    sim.WithCapi([](isdnsim::CapiController& c) { return c.knobs.identity.serial = "12345678"; });
    Put({0x10, 0x00, 0x01, 0x00, 0x01, 0xC0, 0x01, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x08, 0x4B, 0x4E});
    EXPECT_EQ(Get(), Prefixed({0x0A, 0x00, 0x01, 0x00, 0x01, 0xC1, 0x01, 0x00, 0x00, 0x00}));

    Put(Msg(0xC0FF, 1, 0xFFFF).U32(1).Text("kolv").U8(7).U8(16).Build());
    Bytes identity = Get();
    ASSERT_EQ(identity.size(), 2u + 168u);
    EXPECT_EQ(Bytes(identity.begin(), identity.begin() + 22),
              Prefixed(Msg(0xC1FF, 1, 0xFFFF).U32(1).Text("kolv").U16(0x1007).U16(0).Build(168)));
    EXPECT_EQ(std::string(identity.begin() + 22 + 140, identity.end()), "12345678") << "unterminated, as asked";

    Put(Msg(0x8005, 1, 2).U32(1).U32(0).U32(1 << 2).U32(0).Empty().Empty().Build());
    EXPECT_EQ(Get(), Prefixed(Msg(0x8105, 1, 2).U32(1).U16(0).Build()));
    ASSERT_TRUE(sim.WithCapi([](isdnsim::CapiController& c) { return c.IncomingCall("4930123", "77"); }));
    Bytes ind = Get();
    ASSERT_GE(ind.size(), 2u + 12u);
    EXPECT_EQ(ind[2 + 4], 0x02);
    EXPECT_EQ(ind[2 + 5], 0x82) << "CONNECT_IND";

    isdnsim::CapiCounters counters = sim.WithCapi([](isdnsim::CapiController& c) { return c.counters; });
    EXPECT_EQ(counters.identity_requests, 1u);
    EXPECT_EQ(counters.messages_in, 3u);
    EXPECT_EQ(counters.messages_out, 4u);
    EXPECT_EQ(counters.malformed, 0u);

    // The computer takes the link down: the call is gone, the registration stays.
    Send({1, 0x53});  // DISC with P
    Bytes ua;
    do ua = Next();
    while (!ua.empty() && ua != Bytes{1, 0x73});
    EXPECT_EQ(ua, (Bytes{1, 0x73}));
    size_t calls = 1;
    for (int i = 0; i < 200 && calls; ++i, Sleep(10))
        calls = sim.WithCapi([](isdnsim::CapiController& c) { return c.Calls(); });
    EXPECT_EQ(calls, 0u);
    EXPECT_EQ(sim.WithCapi([](isdnsim::CapiController& c) { return c.registrations().size(); }), 1u);
}

// A full block of data, flags inside, out and back in one I frame each way.
TEST_F(CapiLink, OutgoingCallEchoesAFullBlock) {
    Put(Msg(0xC001, 1, 1).U16(1).U16(2).U16(2048).U16(0x4E4B).Build());
    ASSERT_EQ(Get().size(), 12u);
    Put(Msg(0x8002, 1, 2).U32(1).U16(2).Struct(capitest::Number("0301234")).Empty().Empty().Empty().Empty().Empty()
            .Empty().Empty().Empty().Build());
    EXPECT_EQ(Get(), Prefixed(Msg(0x8102, 1, 2).U32(0x101).U16(0).Build()));
    ASSERT_GE(Get().size(), 8u) << "CONNECT_ACTIVE_IND";
    Put(Msg(0x8082, 1, 3).U32(0x101).Empty().Build());
    EXPECT_EQ(Get(), Prefixed(Msg(0x8182, 1, 3).U32(0x10101).U16(0).Build()));
    ASSERT_GE(Get().size(), 8u) << "CONNECT_B3_ACTIVE_IND";

    Bytes data(2048);
    for (size_t i = 0; i < data.size(); ++i) data[i] = i % 5 ? static_cast<uint8_t>(i * 13) : 0x7E;
    Bytes req = Msg(0x8086, 1, 4).U32(0x10101).U32(0).U16(2048).U16(77).U16(0).Build();
    req.insert(req.end(), data.begin(), data.end());
    Put(req);
    Bytes ind = Get();
    ASSERT_EQ(ind.size(), 2u + 22u + 2048u);
    EXPECT_EQ(ind[2 + 4], 0x86);
    EXPECT_EQ(ind[2 + 5], 0x82) << "DATA_B3_IND";
    EXPECT_EQ(Bytes(ind.begin() + 24, ind.end()), data);
    EXPECT_EQ(sim.WithCapi([](isdnsim::CapiController& c) { return c.data_in; }), data);
}

// A paced line carries the computer's frames one after the other: the adapter answers each when
// its own last byte has come, not when the last of a burst written at once has. No answer comes
// before the line could have carried its frame and the answer itself; the first comes before the
// burst as a whole could have arrived.
TEST_F(CapiLink, PacedLineAnswersEachFrameWhenItHasArrived) {
    sim.ServeCapi(false);  // bare I frames: only the link answers
    constexpr unsigned kRate = 2000;  // bytes a second: a frame here takes about 100 ms
    constexpr size_t kInfo = 200, kFrames = 4;
    sim.SetPacing(kRate);
    Bytes burst;
    for (size_t i = 0; i < kFrames; ++i) {
        Bytes p = {1, static_cast<uint8_t>(vs << 1 | vr << 5)};
        p.resize(2 + kInfo, static_cast<uint8_t>('a' + i));
        vs = (vs + 1) & 7;
        Bytes f = isdnsim::SerialFrames::Wrap(p);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    const double frameMs = 1000.0 * static_cast<double>(burst.size() / kFrames) / kRate;
    const double ackMs = 1000.0 * (2 + 6) / kRate;  // an RR in its serial frame
    LARGE_INTEGER f, t0;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    ASSERT_TRUE(port.Write(burst.data(), burst.size()));
    std::vector<std::pair<unsigned, double>> acks;  // N(R), ms after the write
    while (acks.empty() || acks.back().first < kFrames) {
        Bytes rr = Next();
        ASSERT_FALSE(rr.empty()) << "no acknowledgement of frame " << (acks.empty() ? 1 : acks.back().first + 1);
        if (rr.size() != 2 || (rr[1] & 0x0F) != 0x01) continue;
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        acks.emplace_back(rr[1] >> 5, 1000.0 * static_cast<double>(t.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart));
    }
    for (const auto& a : acks)
        EXPECT_GE(a.second + 1, a.first * frameMs + ackMs) << "N(R) " << a.first << " came before the line could carry it";
    EXPECT_LT(acks.front().first, kFrames) << "the first answer already acknowledges the whole burst";
    EXPECT_LT(acks.front().second, kFrames * frameMs) << "the first frame was answered only after the whole burst";
}

}  // namespace
