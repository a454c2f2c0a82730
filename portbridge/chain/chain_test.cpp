// The whole ISDN chain under Wine: an ISDN application on msgcore.dll, the stand-in capi2032.dll
// beside this program, portbridge.exe in a process of its own, a pty pair, and the simulated ISDN
// Tamrisk on the far end (in this process). serlink.ini in the Windows folder names the port.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
        return Register && Release && Manufacturer && Profile;
    }
};

class Chain : public ::testing::Test {
protected:
    void SetUp() override {
        pair_ = winetest::GetPortPair(0);
        ASSERT_TRUE(winetest::SetProgramVersion("portbridge.exe", "win98"));
        ASSERT_TRUE(rig_.Start(winetest::ProgramFolder() + "\\..\\portbridge.exe", pair_.a, pair_.b));
    }
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

    winetest::PortPair pair_;
    chain::ChainRig rig_;
};

}  // namespace

// With nobody on the line the registration fails (0x1109 reaches the library as not installed);
// once the adapter answers, the next registration opens the port and registers with it.
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
}
