// msgcore.dll as an ISDN application uses it, against the scripted CAPI 2.0 library loaded in
// place of the system's (the test runs with WINEDLLOVERRIDES=capi2032=n).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "msgcore/capi_port_win32.h"
#include "msgcore/capisim_client.h"
#include "msgcore/message_monitor.h"
#include "msgcore/msgcore.h"
#include "winetest/process.h"

namespace {

using capitest::Owner;
using capitest::Sim;
using capiwire::Bytes;
using capiwire::FromHex;
namespace cw = capiwire;

class MsgcoreApi : public ::testing::Test {
public:
    void SetUp() override {
        sim().Reset();
        ASSERT_EQ(isdnInit(&port, 2, 2048), 0u);
        ASSERT_EQ(isdnOpen(port, 1, Owner::Proc, &owner, &c), 0u);
    }
    void TearDown() override {
        if (port) {
            EXPECT_EQ(isdnDone(port), 0u);
        }
        EXPECT_EQ(sim().ViolationText(), "");
    }
    Sim& sim() { return Sim::Get(); }
    ISDN_PORT port = nullptr;
    ISDN_CONNECTION c = nullptr;
    Owner owner;
};

DWORD_PTR Str(const char* s) { return reinterpret_cast<DWORD_PTR>(s); }

bool Poll(const std::function<bool()>& done, int tries = 1000) {
    for (int i = 0; i < tries; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

uint16_t Word(const uint8_t* m) { return uint16_t(m[4] | (m[5] << 8)); }

// The index of the first put of `word` at or after `from`, or -1.
long FindPut(Sim& sim, uint16_t word, size_t from) {
    std::vector<uint16_t> w = sim.PutWords();
    for (size_t i = from; i < w.size(); ++i)
        if (w[i] == word) return long(i);
    return -1;
}

// Every message put after the application's release (nothing may go out then).
std::vector<uint16_t> PutsAfterRelease(Sim& sim) {
    std::vector<uint16_t> after;
    bool released = false;
    for (const Sim::Logged& l : sim.Log()) {
        if (l.e.kind == CAPISIM_RELEASE) released = true;
        else if (released && l.e.kind == CAPISIM_PUT) after.push_back(l.word());
    }
    return after;
}


TEST(MsgcoreApiInit, ConnectRequestIsAPortsFirstMessage) {
    Sim& sim = Sim::Get();
    sim.Reset();
    sim.SetMode(CAPISIM_MANUAL);
    sim.SetOption(CAPISIM_NEXT_APP, 0xAAAA);
    ISDN_PORT port;
    ISDN_CONNECTION c;
    ASSERT_EQ(isdnInit(&port, 1, 2048), 0u);
    ASSERT_EQ(isdnOpen(port, 1, nullptr, nullptr, &c), 0u);
    EXPECT_EQ(isdnSetProperty(c, 24, 0, 0), 0u);
    EXPECT_EQ(isdnSetProperty(c, 6, Str("12345"), 0), 0u);
    EXPECT_EQ(isdnConnect(c, "0987", nullptr, nullptr), 0u);
    std::vector<Sim::Logged> puts = sim.Puts();
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(cw::Hex(puts[0].bytes), "2C 00 AA AA 02 80 01 00 01 00 00 00 02 00 05 80 30 39 38 37 07 00 80 31 32 33 "
                                      "34 35 00 00 09 00 00 00 00 00 00 00 00 00 00 00 00 00");
    // The registration: 4 units of 1024 bytes per connection, 8 B3 blocks of the block size.
    std::vector<Sim::Logged> reg = sim.Log(CAPISIM_REGISTER);
    ASSERT_EQ(reg.size(), 1u);
    EXPECT_EQ(reg[0].e.arg[0], 4096u);
    EXPECT_EQ(reg[0].e.arg[1], 1u);
    EXPECT_EQ(reg[0].e.arg[2], 8u);
    EXPECT_EQ(reg[0].e.arg[3], 2048u);
    EXPECT_EQ(isdnDone(port), 0u);
}

TEST(MsgcoreApiInit, RegistrationResultsAreMapped) {
    const struct { DWORD capi, api; } cases[] = {
        {0x1001, 4}, {0x1109, 119}, {0xA000, 8}, {0x1108, 5}, {0x1002, 5}, {0x2002, 5},
    };
    Sim& sim = Sim::Get();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.capi);
        sim.Reset();
        sim.FailCall(CAPISIM_REGISTER, k.capi);
        ISDN_PORT port = reinterpret_cast<ISDN_PORT>(1);
        EXPECT_EQ(isdnInit(&port, 1, 2048), k.api);
        EXPECT_EQ(port, nullptr);
    }
}

// The probe ends with isdnInit's result. It inherits capi2032=n, so Wine's builtin never stands in:
// in nolibrary/ there is no CAPI2032.DLL at all, in noinstalled/ one without CAPI_INSTALLED.
DWORD RunProbe(const std::string& folder) {
    winetest::Process p;
    if (!p.Start(folder + "\\msgcore_probe.exe", "", folder) || !p.Wait(30000)) return 0xFFFFFFFF;
    return p.exit_code();
}

TEST(MsgcoreApiInit, LibraryMissingOrIncomplete) {
    const std::string here = winetest::ProgramFolder();
    EXPECT_EQ(RunProbe(here + "\\nolibrary"), 1157u);
    EXPECT_EQ(RunProbe(here + "\\noinstalled"), 127u);
    EXPECT_EQ(RunProbe(here), 0u);
}

TEST_F(MsgcoreApi, PresetsGiveTheirBProtocols) {
    sim().SetMode(CAPISIM_MANUAL);
    const struct {
        DWORD id;
        uint16_t cip;
        DWORD cipMask, infoMask;
        const char* bprotocol;
    } cases[] = {
        {23, 4, 0x10012, 0x35E, "09 01 00 01 00 00 00 00 00 00"},
        {24, 2, 4, 0x40, "09 00 00 00 00 00 00 00 00 00"},
        {25, 2, 4, 0x40, "09 00 00 01 00 00 00 00 00 00"},
        {26, 2, 4, 0x40, "19 00 00 00 00 02 00 00 00 10 00 00 00 00 00 00 00 00 00 00 00 00 08 00 02 00"},
        {28, 2, 4, 0x40, "09 00 00 09 00 00 00 00 00 00"},
        {29, 2, 4, 0x40, "1E 00 00 03 00 02 00 00 05 01 00 00 07 00 10 00 00 00 00 00 00 00 00 00 00 00 00 08 00 02 00"},
        {32, 2, 4, 0x40, "09 01 00 01 00 00 00 00 00 00"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.id);
        ISDN_CONNECTION h;
        ASSERT_EQ(isdnOpen(port, 1, nullptr, nullptr, &h), 0u);
        EXPECT_EQ(isdnSetProperty(h, k.id, 0, 0), 0u);
        DWORD v = 0;
        EXPECT_EQ(isdnGetProperty(h, 7, &v, 0), 0u);
        EXPECT_EQ(v, k.cipMask);
        EXPECT_EQ(isdnGetProperty(h, 3, &v, 0), 0u);
        EXPECT_EQ(v, k.infoMask);
        size_t before = sim().Puts().size();
        EXPECT_EQ(isdnConnect(h, "1", nullptr, nullptr), 0u);
        std::vector<Sim::Logged> puts = sim().Puts(before);
        ASSERT_EQ(puts.size(), 1u);
        const Bytes& m = puts[0].bytes;
        EXPECT_EQ(cw::Get16(&m[12]), k.cip);
        // controller, CIP, called "1" (3 bytes), calling (3), both subaddresses (1 + 1)
        Bytes bp(m.begin() + 22, m.begin() + 22 + m[22] + 1);
        EXPECT_EQ(cw::Hex(bp), k.bprotocol);
        EXPECT_EQ(isdnClose(h), 0u);
    }
}

TEST_F(MsgcoreApi, OutgoingCallCarriesDataAndClearsLocally) {
    sim().SetOption(CAPISIM_LOOPBACK, 1);
    owner.dataAnswer = 0;
    EXPECT_EQ(isdnConnect(c, "0987", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8002, 0x8303, 0x8082, 0x8383}));
    EXPECT_EQ(owner.ids(), (std::vector<uint32_t>{ieCallAccepted, ieConnection}));

    static const char payload[] = "hello";
    EXPECT_EQ(isdnSend(c, payload, 5, 0), 0u);
    EXPECT_EQ(isdnSend(c, payload, 4, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieB3Receive, 2));
    ASSERT_TRUE(owner.WaitFor(ieB3Transmit, 2));
    std::vector<Sim::Logged> puts = sim().Puts();
    ASSERT_EQ(puts.size(), 6u);
    EXPECT_EQ(cw::Get16(&puts[4].bytes[18]), 0);  // data handles count from 0
    EXPECT_EQ(cw::Get16(&puts[5].bytes[18]), 1);
    EXPECT_EQ(std::string(puts[4].data.begin(), puts[4].data.end()), "hello");
    std::vector<Owner::Event> ev = owner.events();
    std::vector<std::string> received;
    for (const Owner::Event& e : ev)
        if (e.event == ieB3Receive) received.push_back(e.text1);
    EXPECT_EQ(received, (std::vector<std::string>{"hello", "hell"}));

    // Left unanswered by the owner: answered oldest first, each with its own indication's number.
    EXPECT_EQ(isdnDataResponse(c), 0u);
    EXPECT_EQ(isdnDataResponse(c), 0u);
    EXPECT_EQ(isdnDataResponse(c), 1u);  // nothing outstanding: nothing sent
    std::vector<Sim::Logged> gets = sim().Log(CAPISIM_GET);
    std::vector<Bytes> inds;
    for (const Sim::Logged& g : gets)
        if (g.word() == 0x8286) inds.push_back(g.bytes);
    ASSERT_EQ(inds.size(), 2u);
    puts = sim().Puts(6);
    ASSERT_EQ(puts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(puts[i].word(), 0x8386);
        EXPECT_EQ(cw::Get16(&puts[i].bytes[6]), cw::Get16(&inds[i][6]));
        EXPECT_EQ(cw::Get16(&puts[i].bytes[12]), cw::Get16(&inds[i][18]));
    }

    EXPECT_EQ(isdnDisconnect(c, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieHangupDone));
    EXPECT_EQ(sim().PutWords(8), (std::vector<uint16_t>{0x8084, 0x8384, 0x8004, 0x8304}));
    // Every event but the traces came from the receive thread.
    for (const Owner::Event& e : owner.events()) EXPECT_NE(e.thread, GetCurrentThreadId()) << e.event;
    EXPECT_GT(owner.traces, 0);
}

TEST_F(MsgcoreApi, IncomingCallIsAcceptedAndClearedByTheFarEnd) {
    EXPECT_EQ(isdnListen(c, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieListenConfirmed));
    DWORD plci = sim().IncomingCall(2, "0987", "12345", "77", 0);  // CIP 2: in the default mask 4
    ASSERT_NE(plci, 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    std::vector<Owner::Event> ev = owner.events();
    ASSERT_GE(ev.size(), 2u);
    EXPECT_EQ(ev[1].event, uint32_t(ieIncomingCall));
    EXPECT_EQ(ev[1].text1, "0987");
    EXPECT_EQ(ev[1].text2, "12345");
    EXPECT_EQ(ev[1].text3, "77");
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8005, 0x8302, 0x8303, 0x8382, 0x8383}));
    DWORD cip = 0;
    EXPECT_EQ(isdnGetProperty(c, 14, &cip, 0), 0u);
    EXPECT_EQ(cip, 2u);

    // Data from the far end, acknowledged by the owner at once.
    const BYTE data[3] = {1, 2, 3};
    ASSERT_NE(sim().RemoteData(plci | 0x10000, data, 3, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieB3Receive));
    ASSERT_TRUE(sim().WaitForPuts(6));

    EXPECT_EQ(sim().RemoteDisconnect(plci, 0x3490), 0u);
    ASSERT_TRUE(owner.WaitFor(ieDisconnected));
    EXPECT_EQ(sim().PutWords(5), (std::vector<uint16_t>{0x8386, 0x8384, 0x8304}));
    for (const Owner::Event& e : owner.events())
        if (e.event == ieDisconnected) {
            EXPECT_EQ(e.p1, 0x3490u);
        }
    // Still listening: the next call is offered again.
    owner.incomingAnswer = 0;
    sim().IncomingCall(2, "1", "2", "", 0);
    ASSERT_TRUE(owner.WaitFor(ieIncomingCall, 2));
    ASSERT_TRUE(sim().WaitForPuts(9));
    std::vector<Sim::Logged> puts = sim().Puts(8);
    EXPECT_EQ(puts[0].word(), 0x8302);
    EXPECT_EQ(cw::Get16(&puts[0].bytes[12]), 7);  // reject value of an owner that said no
    ASSERT_TRUE(sim().WaitForPuts(10));           // the DISCONNECT_RESP of the rejected call
}

TEST_F(MsgcoreApi, FailedB3SetUpClearsTheCall) {
    sim().FailConf(0x8082, 0x3008);  // CONNECT_B3_REQ: protocol not supported
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieCallFailed));
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8002, 0x8303, 0x8082, 0x8004, 0x8304}));
    std::vector<Owner::Event> ev = owner.events();
    ASSERT_EQ(ev.back().event, uint32_t(ieCallFailed));
    EXPECT_EQ(ev.back().p2, 0x3008u);  // the B3 reason
    // A request the library refuses comes back to the caller unchanged, and the next one goes out.
    sim().SetMode(CAPISIM_MANUAL);
    const size_t before = sim().Puts().size();
    sim().FailPut(0x8002, 0x1108);
    EXPECT_EQ(isdnConnect(c, "2", nullptr, nullptr), 0x1108u);
    EXPECT_EQ(isdnConnect(c, "3", nullptr, nullptr), 0u);
    EXPECT_EQ(sim().PutWords(before), (std::vector<uint16_t>{0x8002, 0x8002}));
    std::vector<Sim::Logged> puts = sim().Puts(before);
    EXPECT_EQ(puts[0].e.result, 0x1108u);
    EXPECT_EQ(puts[1].e.result, 0u);
}

TEST_F(MsgcoreApi, HangupBeforeTheConfirmationWaitsForThePlci) {
    sim().SetMode(CAPISIM_DEFERRED);
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    EXPECT_EQ(isdnDisconnect(c, 0), 0u);
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8002}));
    EXPECT_EQ(sim().Flush(), 2u);  // CONNECT_CONF, CONNECT_ACTIVE_IND
    ASSERT_TRUE(sim().WaitForPuts(3));
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8002, 0x8004, 0x8303}));
    EXPECT_EQ(sim().Flush(), 2u);  // DISCONNECT_CONF, DISCONNECT_IND
    ASSERT_TRUE(owner.WaitFor(ieHangupDone));
    EXPECT_EQ(sim().PutWords(3), (std::vector<uint16_t>{0x8304}));
}

TEST_F(MsgcoreApi, CloseOfAConnectedCallClearsItFirst) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    EXPECT_EQ(isdnClose(c), 0u);
    // Both sides of the clearing went out before the connection was gone.
    EXPECT_EQ(sim().PutWords(4), (std::vector<uint16_t>{0x8084, 0x8384, 0x8004, 0x8304}));
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
}

TEST_F(MsgcoreApi, CloseClearsTheCallInEveryState) {
    const struct {
        const char* what;
        std::function<void(MsgcoreApi&)> reach;
        uint16_t clearing;  // the request or answer that ends the call
    } cases[] = {
        {"B3 being cleared (hangup, then close at once)",
         [](MsgcoreApi& t) {
             EXPECT_EQ(isdnConnect(t.c, "1", nullptr, nullptr), 0u);
             ASSERT_TRUE(t.owner.WaitFor(ieConnection));
             EXPECT_EQ(isdnDisconnect(t.c, 0), 0u);
         },
         0x8004},
        {"an offered call the owner left unanswered",
         [](MsgcoreApi& t) {
             t.owner.incomingAnswer = 2;
             EXPECT_EQ(isdnListen(t.c, 0), 0u);
             ASSERT_TRUE(t.owner.WaitFor(ieListenConfirmed));
             ASSERT_NE(t.sim().IncomingCall(2, "1", "2", "", 0), 0u);
             ASSERT_TRUE(t.owner.WaitFor(ieIncomingCall));
         },
         0x8302},
        {"an accepted call waiting for B3",
         [](MsgcoreApi& t) {
             t.sim().SetOption(CAPISIM_REMOTE_B3, 0);
             EXPECT_EQ(isdnListen(t.c, 0), 0u);
             ASSERT_TRUE(t.owner.WaitFor(ieListenConfirmed));
             ASSERT_NE(t.sim().IncomingCall(2, "1", "2", "", 0), 0u);
             ASSERT_TRUE(Poll([&] { return FindPut(t.sim(), 0x8303, 0) >= 0; }));  // CONNECT_ACTIVE_RESP
         },
         0x8004},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        sim().Reset();
        owner.incomingAnswer = 1;
        ISDN_CONNECTION h = nullptr;
        ASSERT_EQ(isdnOpen(port, 1, Owner::Proc, &owner, &h), 0u);
        std::swap(h, c);
        k.reach(*this);
        std::swap(h, c);
        const size_t before = sim().Puts().size();
        EXPECT_EQ(isdnClose(h), 0u);
        EXPECT_TRUE(Poll([&] { return FindPut(sim(), k.clearing, before) >= 0; })) << "the call was left up";
        EXPECT_TRUE(Poll([&] { return FindPut(sim(), 0x8304, before) >= 0; })) << "its end was not answered";
        if (k.clearing == 0x8302) {
            EXPECT_NE(cw::Get16(&sim().Puts()[size_t(FindPut(sim(), 0x8302, before))].bytes[12]), 0);
        }
        EXPECT_EQ(sim().ViolationText(), "");
    }
}

// A window on its own thread: the owner forwards every event to it with SendMessage, and that
// thread closes the connection.
struct ForwardingWindow {
    HWND hwnd = nullptr;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE forwarding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ISDN_CONNECTION c = nullptr;
    std::atomic<DWORD> closed{0xFFFF};
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        return m == WM_APP ? LRESULT(1) : DefWindowProcA(w, m, wp, lp);
    }
    static DWORD WINAPI Thread(void* self) {
        ForwardingWindow* f = static_cast<ForwardingWindow*>(self);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.lpszClassName = "MsgcoreForwardingWindow";
        RegisterClassA(&wc);
        f->hwnd = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetEvent(f->ready);
        // Closes while the receive thread is inside an event, blocked in its SendMessage to us.
        WaitForSingleObject(f->forwarding, 10000);
        f->closed = isdnClose(f->c);
        DestroyWindow(f->hwnd);
        return 0;
    }
};

TEST_F(MsgcoreApi, CloseWhileTheOwnerForwardsEventsToTheClosingThread) {
    ForwardingWindow fw;
    fw.c = c;
    HANDLE t = CreateThread(nullptr, 0, ForwardingWindow::Thread, &fw, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(fw.ready, 10000), WAIT_OBJECT_0);
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event != ieConnection) return;
        SetEvent(fw.forwarding);
        SendMessageA(fw.hwnd, WM_APP, 0, 0);
    };
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    // A close that waits for the dispatch (or waits without serving sent messages) never ends, or
    // only after its whole clearing wait.
    EXPECT_EQ(WaitForSingleObject(t, 8000), WAIT_OBJECT_0) << "isdnClose deadlocked with the owner's SendMessage";
    EXPECT_EQ(fw.closed.load(), 0u);
    EXPECT_TRUE(Poll([&] { return FindPut(sim(), 0x8304, 0) >= 0; }));
    owner.inside = nullptr;
    CloseHandle(t);
}

TEST_F(MsgcoreApi, DoneDuringTrafficSendsNothingAfterTheRelease) {
    sim().SetOption(CAPISIM_LOOPBACK, 1);
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr), go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event != ieB3Receive) return;
        SetEvent(inside);
        WaitForSingleObject(go, 10000);
    };
    EXPECT_EQ(isdnSend(c, "hello", 5, 0), 0u);
    ASSERT_EQ(WaitForSingleObject(inside, 10000), WAIT_OBJECT_0);
    struct Done {
        ISDN_PORT port;
        DWORD rc = 0xFFFF;
        static DWORD WINAPI Run(void* p) {
            Done* d = static_cast<Done*>(p);
            d->rc = isdnDone(d->port);
            return 0;
        }
    } d{port};
    HANDLE t = CreateThread(nullptr, 0, Done::Run, &d, 0, nullptr);
    // The receive thread goes on (acknowledging the data) only once the application is released.
    EXPECT_TRUE(Poll([&] { return !sim().Log(CAPISIM_RELEASE).empty(); }));
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(t, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(d.rc, 0u);
    EXPECT_EQ(PutsAfterRelease(sim()), std::vector<uint16_t>{});
    owner.inside = nullptr;
    CloseHandle(t);
    CloseHandle(inside);
    CloseHandle(go);
    port = nullptr;
    sim().Reset();  // the data indication was left to the release
}

TEST_F(MsgcoreApi, SendLongerThanTheBlockSizeIsRefused) {
    sim().SetMode(CAPISIM_MANUAL);
    static char block[70000];
    EXPECT_EQ(isdnSend(c, block, 2049, 0), 0x300Cu);
    EXPECT_EQ(isdnSend(c, block, 65536 + 5, 0), 0x300Cu);  // not cut to 5
    EXPECT_TRUE(sim().Puts().empty());
    EXPECT_EQ(isdnSend(c, block, 2048, 0), 0u);
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8086}));
}

TEST(MsgcoreApiInit, AFailingWaitForSignalStopsReceivingInsteadOfSpinning) {
    Sim& sim = Sim::Get();
    sim.Reset();
    sim.SetOption(CAPISIM_WAIT_FAILS, 0x1101);
    ISDN_PORT port;
    ASSERT_EQ(isdnInit(&port, 1, 2048), 0u);
    ASSERT_TRUE(Poll([&] { return !sim.Log(CAPISIM_WAIT).empty(); }));
    Sleep(300);  // a receive loop that asks again would have asked thousands of times by now
    EXPECT_EQ(sim.Log(CAPISIM_WAIT).size(), 1u);
    EXPECT_EQ(isdnDone(port), 0u);
    sim.Reset();
}

TEST_F(MsgcoreApi, CloseWhileListeningSendsNothing) {
    EXPECT_EQ(isdnListen(c, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieListenConfirmed));
    size_t before = sim().Puts().size();
    EXPECT_EQ(isdnClose(c), 0u);
    EXPECT_EQ(sim().Puts().size(), before);
}

TEST_F(MsgcoreApi, ErrorCodes) {
    sim().SetMode(CAPISIM_MANUAL);  // the call below stays unconfirmed
    void* bogus = reinterpret_cast<void*>(0x1234);
    ISDN_PORT p2;
    ISDN_CONNECTION out = bogus;
    DWORD v = 0xDEADBEEF;
    const struct {
        const char* what;
        DWORD got, want;
    } cases[] = {
        {"isdnDone", isdnDone(bogus), 6},
        {"isdnOpen", isdnOpen(bogus, 1, nullptr, nullptr, &out), 6},
        {"isdnOpen's handle", DWORD(reinterpret_cast<uintptr_t>(out)), 0},
        {"isdnClose", isdnClose(bogus), 6},
        {"isdnConnect", isdnConnect(bogus, "1", nullptr, nullptr), 6},
        {"isdnListen", isdnListen(bogus, 0), 6},
        {"isdnAcceptCall", isdnAcceptCall(bogus, 0), 6},
        {"isdnSend", isdnSend(bogus, "x", 1, 0), 6},
        {"isdnDataResponse", isdnDataResponse(bogus), 6},
        {"isdnDisconnect", isdnDisconnect(bogus, 0), 6},
        {"isdnCallControl", isdnCallControl(bogus, 0, 0, 0), 6},
        {"isdnCallControl valid", isdnCallControl(c, 0, 0, 0), 22},
        {"set on a port handle", isdnSetProperty(port, 0, 1, 0), 6},
        {"set unknown id, bad handle", isdnSetProperty(bogus, 99, 0, 0), 6},
        {"set unknown id", isdnSetProperty(c, 99, 0, 0), 13},
        {"set 11", isdnSetProperty(c, 11, 0, 0), 13},
        {"set 27", isdnSetProperty(c, 27, 0, 0), 13},
        {"set baud 57600", isdnSetProperty(c, 15, 57600, 0), 0x3004},
        {"set baud 9600", isdnSetProperty(c, 15, 9600, 0), 0},
        {"set parity 3", isdnSetProperty(c, 16, 3, 0), 0x3004},
        {"set bits 6", isdnSetProperty(c, 17, 6, 0), 0x3004},
        {"set stop bits 2", isdnSetProperty(c, 18, 2, 0), 0x3004},
        {"set 31 on a connection", isdnSetProperty(c, 31, 1024, 0), 6},
        {"get 15", isdnGetProperty(c, 15, &v, 0), 13},
        {"get 23", isdnGetProperty(c, 23, &v, 0), 13},
        {"get 33", isdnGetProperty(c, 33, &v, 0), 13},
        {"get 0 bad handle", isdnGetProperty(bogus, 0, &v, 0), 6},
        {"get 20 on a connection", isdnGetProperty(c, 20, &v, 0), 0},
        {"v left", v, 0xDEADBEEF},
        {"get 13 bad port", isdnGetProperty(bogus, 13, &v, 0), 6},
        {"isdnInit without an out pointer", isdnInit(nullptr, 1, 2048), 6},
        {"isdnDataResponse with nothing received", isdnDataResponse(c), 1},
        {"isdnConnect", isdnConnect(c, "1", nullptr, nullptr), 0},
        {"isdnConnect while calling", isdnConnect(c, "2", nullptr, nullptr), 1},
        {"isdnListen while calling", isdnListen(c, 0), 1},
    };
    for (const auto& k : cases) EXPECT_EQ(k.got, k.want) << k.what;
    (void)p2;
}

TEST_F(MsgcoreApi, PortProperties) {
    char text[64] = {};
    EXPECT_EQ(isdnGetProperty(port, 13, text, 0), 0u);
    EXPECT_STREQ(text, "CAPI 2.0, release 1.3");
    EXPECT_EQ(isdnGetProperty(port, 12, text, 0), 0u);
    EXPECT_STREQ(text, "Scripted CAPI controller");
    BYTE profile[64] = {1};
    EXPECT_EQ(isdnGetProperty(port, 11, profile, 0), 0u);
    EXPECT_EQ(profile[2], 2);  // B channels
    EXPECT_EQ(isdnSetProperty(port, 31, 1024, 0), 0u);  // registered again with 1024-byte blocks
    std::vector<Sim::Logged> reg = sim().Log(CAPISIM_REGISTER);
    ASSERT_EQ(reg.size(), 2u);
    EXPECT_EQ(reg[1].e.arg[3], 1024u);
    EXPECT_EQ(sim().Log(CAPISIM_RELEASE).size(), 1u);
    char msn[40];
    EXPECT_EQ(isdnSetProperty(c, 5, Str("4711"), 0), 0u);
    EXPECT_EQ(isdnGetProperty(c, 5, msn, 0), 0u);
    EXPECT_STREQ(msn, "4711");
}

TEST_F(MsgcoreApi, GlobalOptionsComeFromTheProfile) {
    BYTE profile[64] = {1, 0, 2, 0, 0x1E, 0, 0, 0};
    sim().SetProfile(1, profile);
    ISDN_PORT p2;
    ASSERT_EQ(isdnInit(&p2, 1, 2048), 0u);
    DWORD v = 0;
    EXPECT_EQ(isdnGetProperty(nullptr, 19, &v, 0), 0u);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(isdnGetProperty(nullptr, 21, &v, 0), 0u);
    EXPECT_EQ(v, 4u);
    EXPECT_EQ(isdnGetProperty(nullptr, 22, &v, 0), 0u);
    EXPECT_EQ(v, 8u);
    EXPECT_EQ(isdnGetProperty(p2, 20, &v, 0), 0u);
    EXPECT_EQ(v, 0x10u);
    EXPECT_EQ(isdnDone(p2), 0u);
}

TEST_F(MsgcoreApi, EleventhOpenIsRefused) {
    std::vector<ISDN_CONNECTION> more;
    for (int i = 1; i < 10; ++i) {
        ISDN_CONNECTION h;
        ASSERT_EQ(isdnOpen(port, 1, nullptr, nullptr, &h), 0u) << i;
        more.push_back(h);
    }
    ISDN_CONNECTION h = reinterpret_cast<ISDN_CONNECTION>(1);
    EXPECT_EQ(isdnOpen(port, 1, nullptr, nullptr, &h), 8u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(isdnClose(more.back()), 0u);
    EXPECT_EQ(isdnOpen(port, 1, nullptr, nullptr, &h), 0u);
    EXPECT_EQ(isdnCallControl(h, 0, 0, 0), 22u);
}

TEST_F(MsgcoreApi, X25AddressesOutOfRangeSendNothing) {
    sim().SetMode(CAPISIM_MANUAL);
    ISDN_X25_PARAMS x{"1234567890123456", "1", 0, nullptr, 0, nullptr};
    EXPECT_EQ(isdnConnect(c, "1", nullptr, &x), 0x2007u);  // illegal message parameter coding
    EXPECT_TRUE(sim().Puts().empty());
    ISDN_X25_PARAMS ok{"123", "45", 0, nullptr, 0, nullptr};
    EXPECT_EQ(isdnConnect(c, "1", nullptr, &ok), 0u);
    EXPECT_EQ(sim().PutWords(), (std::vector<uint16_t>{0x8002}));
}

struct SendCtx {
    ISDN_CONNECTION c;
    DWORD* rc;
};
DWORD WINAPI SendFromThread(void* p) {
    SendCtx* x = static_cast<SendCtx*>(p);
    *x->rc = isdnSend(x->c, "z", 1, 0);
    return 0;
}

TEST_F(MsgcoreApi, OwnerMayCallInFromAnotherThread) {
    // The owner hands a request to another thread and waits for it: the handler's lock is not held
    // while the owner runs, so the request goes through.
    DWORD sendResult = 0xFFFF;
    DWORD waited = 0xFFFF;
    SendCtx ctx{c, &sendResult};
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event != ieConnection) return;
        HANDLE t = CreateThread(nullptr, 0, SendFromThread, &ctx, 0, nullptr);
        waited = WaitForSingleObject(t, 10000);
        CloseHandle(t);
    };
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    ASSERT_TRUE(owner.WaitFor(ieB3Transmit));
    EXPECT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(sendResult, 0u);
    owner.inside = nullptr;
}

TEST_F(MsgcoreApi, CloseFromInsideItsOwnEvent) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    DWORD closed = 0xFFFF;
    ISDN_CONNECTION self = c;
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event == ieDisconnected) closed = isdnClose(self);
    };
    EXPECT_EQ(sim().RemoteDisconnect(0x0101, 0x3490), 0u);
    ASSERT_TRUE(owner.WaitFor(ieDisconnected));
    ASSERT_TRUE(sim().WaitForPuts(6));  // DISCONNECT_B3_RESP, DISCONNECT_RESP
    owner.inside = nullptr;
    EXPECT_EQ(closed, 0u);
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
    // The port serves a new connection.
    ISDN_CONNECTION next;
    ASSERT_EQ(isdnOpen(port, 1, Owner::Proc, &owner, &next), 0u);
    EXPECT_EQ(isdnConnect(next, "2", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection, 2));
    EXPECT_EQ(isdnDisconnect(next, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieHangupDone));
}

TEST_F(MsgcoreApi, PortDoneFromInsideACallback) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    DWORD done = 0xFFFF;
    ISDN_PORT p = port;
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event == ieDisconnected) done = isdnDone(p);
    };
    EXPECT_EQ(sim().RemoteDisconnect(0x0101, 0x3490), 0u);  // the first call's PLCI
    ASSERT_TRUE(owner.WaitFor(ieDisconnected));
    EXPECT_EQ(done, 0u);
    // The release went out and the receive thread left CAPI_WAIT_FOR_SIGNAL.
    for (int i = 0; i < 1000 && (sim().Log(CAPISIM_RELEASE).empty() || sim().Waiters() != 0); ++i) Sleep(10);
    EXPECT_EQ(sim().Log(CAPISIM_RELEASE).size(), 1u);
    EXPECT_EQ(sim().Waiters(), 0u);
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
    port = nullptr;
}

// --- close and done from inside the owner's events --------------------------------------------------

enum Scenario { kOutgoing, kData, kIncoming, kRemoteClear, kLocalClear, kFailed };

TEST(MsgcoreApiInsideEvents, CloseAndDoneFromEveryEvent) {
    const struct {
        const char* what;
        Scenario scenario;
        uint32_t event;
        uint16_t traceWord;  // with ieMessageTrace: the incoming message whose trace it is
        bool callUp;         // a call exists when the event comes
    } events[] = {
        {"0x100C", kOutgoing, ieCallAccepted, 0, true},
        {"0x1001", kOutgoing, ieConnection, 0, true},
        {"trace of CONNECT_ACTIVE_IND", kOutgoing, ieMessageTrace, 0x8203, true},
        {"0x1005", kData, ieB3Transmit, 0, true},
        {"0x1006", kData, ieB3Receive, 0, true},
        {"trace of DATA_B3_IND", kData, ieMessageTrace, 0x8286, true},
        {"0x100D", kIncoming, ieListenConfirmed, 0, false},
        {"0x1009", kIncoming, ieIncomingCall, 0, true},
        {"0x1003", kRemoteClear, ieDisconnected, 0, false},
        {"0x1004", kLocalClear, ieHangupDone, 0, false},
        {"0x1002", kFailed, ieCallFailed, 0, false},
    };
    Sim& sim = Sim::Get();
    for (const auto& k : events)
        for (int done = 0; done < 2; ++done) {
            SCOPED_TRACE(std::string(done ? "isdnDone in " : "isdnClose in ") + k.what);
            sim.Reset();
            sim.SetOption(CAPISIM_LOOPBACK, 1);
            ISDN_PORT port = nullptr;
            ISDN_CONNECTION c = nullptr;
            ASSERT_EQ(isdnInit(&port, 2, 2048), 0u);
            Owner owner;
            ASSERT_EQ(isdnOpen(port, 1, Owner::Proc, &owner, &c), 0u);
            std::atomic<int> acted{0};
            std::atomic<DWORD> result{0xFFFF};
            std::atomic<size_t> putsBefore{0};
            auto act = [&] {
                if (acted.exchange(1)) return;
                putsBefore = sim.Puts().size();
                result = done ? isdnDone(port) : isdnClose(c);
            };
            owner.inside = [&](uint32_t event, uintptr_t) {
                if (event == k.event) act();
            };
            owner.insideTrace = [&](const uint8_t* m) {
                if (k.event == ieMessageTrace && m[5] == 0x82 && Word(m) == k.traceWord) act();
            };
            switch (k.scenario) {
            case kOutgoing: EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u); break;
            case kData:
                EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
                ASSERT_TRUE(owner.WaitFor(ieConnection));
                EXPECT_EQ(isdnSend(c, "hello", 5, 0), 0u);
                break;
            case kIncoming:
                EXPECT_EQ(isdnListen(c, 0), 0u);
                if (k.event != ieListenConfirmed) {
                    ASSERT_TRUE(owner.WaitFor(ieListenConfirmed));
                    ASSERT_NE(sim.IncomingCall(2, "1", "2", "", 0), 0u);
                }
                break;
            case kRemoteClear:
                EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
                ASSERT_TRUE(owner.WaitFor(ieConnection));
                EXPECT_EQ(sim.RemoteDisconnect(0x0101, 0x3490), 0u);
                break;
            case kLocalClear:
                EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
                ASSERT_TRUE(owner.WaitFor(ieConnection));
                EXPECT_EQ(isdnDisconnect(c, 0), 0u);
                break;
            case kFailed:
                sim.FailConf(0x8002, 0x2003);
                EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
                break;
            }
            ASSERT_TRUE(Poll([&] { return acted.load() != 0 && result.load() != 0xFFFF; }));
            EXPECT_EQ(result.load(), 0u);
            if (done) {
                // The release went out, the receive thread left, and nothing was sent after.
                ASSERT_TRUE(Poll([&] { return !sim.Log(CAPISIM_RELEASE).empty() && sim.Waiters() == 0; }));
                EXPECT_EQ(PutsAfterRelease(sim), std::vector<uint16_t>{});
                // Indications a release leaves unanswered are the controller's to drop; nothing else.
                std::string v = sim.ViolationText();
                for (size_t at = 0; (at = v.find("indication", at)) != std::string::npos; ++at) {
                    size_t end = v.find('\n', at);
                    std::string line = v.substr(at, end == std::string::npos ? std::string::npos : end - at);
                    EXPECT_NE(line.find("unanswered at release"), std::string::npos) << line;
                }
                EXPECT_EQ(v.find("response"), std::string::npos) << v;
                owner.inside = nullptr;
                owner.insideTrace = nullptr;
                continue;
            }
            if (k.callUp) {
                // The call was cleared and its end answered, by the handler or by the port.
                EXPECT_TRUE(Poll([&] {
                    return FindPut(sim, 0x8004, putsBefore) >= 0 || FindPut(sim, 0x8302, putsBefore) >= 0;
                })) << "no clearing went out";
                EXPECT_TRUE(Poll([&] { return FindPut(sim, 0x8304, putsBefore) >= 0; })) << "the call's end unanswered";
            }
            owner.inside = nullptr;
            owner.insideTrace = nullptr;
            EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
            EXPECT_EQ(isdnDone(port), 0u);
            EXPECT_EQ(sim.ViolationText(), "");
        }
    sim.Reset();
}

// isdnDone from inside an event that a request raises on the application's own thread: the
// request goes on with its connection and its port, which must still be there until it returns.
TEST(MsgcoreApiInsideEvents, DoneInsideARequestOfTheApplicationsThread) {
    const struct {
        const char* what;
        uint32_t event;  // ieMessageTrace: the trace of the request's own message `traceWord`
        uint16_t traceWord;
        std::function<DWORD(ISDN_CONNECTION)> request;
        DWORD result;
    } cases[] = {
        {"0x1004 of a hangup with no call", ieHangupDone, 0, [](ISDN_CONNECTION c) { return isdnDisconnect(c, 0); },
         0},
        // The connection is gone when the trace returns: its request is not sent.
        {"trace of CONNECT_REQ", ieMessageTrace, 0x8002,
         [](ISDN_CONNECTION c) { return isdnConnect(c, "1", nullptr, nullptr); }, 0x1108},
        {"trace of LISTEN_REQ", ieMessageTrace, 0x8005, [](ISDN_CONNECTION c) { return isdnListen(c, 0); }, 0x1108},
    };
    Sim& sim = Sim::Get();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        sim.Reset();
        ISDN_PORT port = nullptr;
        ISDN_CONNECTION c = nullptr;
        ASSERT_EQ(isdnInit(&port, 2, 2048), 0u);
        Owner owner;
        ASSERT_EQ(isdnOpen(port, 1, Owner::Proc, &owner, &c), 0u);
        DWORD done = 0xFFFF;
        owner.inside = [&](uint32_t event, uintptr_t) {
            if (event == k.event && done == 0xFFFF) done = isdnDone(port);
        };
        owner.insideTrace = [&](const uint8_t* m) {
            if (k.event == ieMessageTrace && m[5] == 0x80 && Word(m) == k.traceWord && done == 0xFFFF)
                done = isdnDone(port);
        };
        EXPECT_EQ(k.request(c), k.result);
        EXPECT_EQ(done, 0u);
        owner.inside = nullptr;
        owner.insideTrace = nullptr;
        EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
        EXPECT_EQ(isdnDone(port), 6u);
        ASSERT_TRUE(Poll([&] { return !sim.Log(CAPISIM_RELEASE).empty() && sim.Waiters() == 0; }));
        EXPECT_EQ(PutsAfterRelease(sim), std::vector<uint16_t>{});
        EXPECT_EQ(sim.ViolationText(), "");
    }
    sim.Reset();
}

// Closed from inside the trace of its own DISCONNECT_B3_REQ: that request goes out only after the
// close has returned, so the close cannot wait for the B3 clearing; the D channel must still go.
TEST_F(MsgcoreApi, CloseInsideTheTraceOfItsOwnClearingClearsTheCall) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    DWORD closed = 0xFFFF;
    ISDN_CONNECTION self = c;
    owner.insideTrace = [&](const uint8_t* m) {
        if (m[5] == 0x80 && Word(m) == 0x8084 && closed == 0xFFFF) closed = isdnClose(self);
    };
    const size_t before = sim().Puts().size();
    EXPECT_EQ(isdnDisconnect(c, 0), 0x1108u);  // the connection went inside its trace: not sent
    owner.insideTrace = nullptr;
    EXPECT_EQ(closed, 0u);
    EXPECT_TRUE(Poll([&] { return FindPut(sim(), 0x8004, before) >= 0; })) << "the D channel was left up";
    EXPECT_TRUE(Poll([&] { return FindPut(sim(), 0x8304, before) >= 0; })) << "the call's end unanswered";
    EXPECT_EQ(FindPut(sim(), 0x8084, before), -1);
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
}

// The B3 clearing of a close is never answered: when the close's wait runs out the D channel is
// cleared, instead of being left up with nobody to clear it.
TEST_F(MsgcoreApi, CloseWhoseB3ClearingIsNotAnsweredClearsTheDChannel) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    sim().SetMode(CAPISIM_MANUAL);
    const size_t before = sim().Puts().size();
    EXPECT_EQ(isdnClose(c), 0u);  // after its whole wait
    EXPECT_EQ(sim().PutWords(before), (std::vector<uint16_t>{0x8084, 0x8004}));
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
    sim().Reset();  // nothing answered the clearing
}

// A clearing the library refuses: the caller learns it and keeps a connection it can still clear.
TEST_F(MsgcoreApi, CloseWhoseClearingIsRefusedKeepsTheConnection) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    sim().FailPut(0x8084, 0x1103);
    EXPECT_EQ(isdnClose(c), 0x1103u);
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 22u);
    // Its owner is still there, and the call can be cleared.
    EXPECT_EQ(isdnDisconnect(c, 0), 0u);
    ASSERT_TRUE(owner.WaitFor(ieHangupDone));
    EXPECT_EQ(isdnClose(c), 0u);
    EXPECT_EQ(isdnCallControl(c, 0, 0, 0), 6u);
}

// isdnDone from inside the trace of the DISCONNECT_RESP its handler sends: the owner has been told
// its port is gone, and hears nothing after.
TEST_F(MsgcoreApi, NoOwnerEventAfterDone) {
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_TRUE(owner.WaitFor(ieConnection));
    std::atomic<DWORD> done{0xFFFF};
    std::atomic<int> after{0};
    ISDN_PORT p = port;
    owner.insideTrace = [&](const uint8_t* m) {
        if (m[5] == 0x83 && Word(m) == 0x8304 && done == 0xFFFF) done = isdnDone(p);
    };
    owner.inside = [&](uint32_t, uintptr_t) {
        if (done != 0xFFFF) ++after;
    };
    EXPECT_EQ(sim().RemoteDisconnect(0x0101, 0x3490), 0u);
    ASSERT_TRUE(Poll([&] { return done != 0xFFFF && sim().Waiters() == 0; }));
    EXPECT_EQ(done.load(), 0u);
    EXPECT_EQ(after.load(), 0) << "an owner event came after isdnDone returned";
    owner.inside = nullptr;
    owner.insideTrace = nullptr;
    port = nullptr;
    sim().Reset();  // the DISCONNECT_IND was left to the release
}

// An owner that forwards its events with SendMessage to the thread that calls isdnDone: the join
// of the receive thread serves it, instead of both waiting until the join gives up.
struct SentCounter {
    static std::atomic<int> served;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_APP) {
            ++served;
            return 1;
        }
        return DefWindowProcA(w, m, wp, lp);
    }
};
std::atomic<int> SentCounter::served{0};

TEST_F(MsgcoreApi, DoneServesMessagesSentToItWhileItJoins) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SentCounter::Proc;
    wc.lpszClassName = "MsgcoreDoneWindow";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    HANDLE forwarding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SentCounter::served = 0;
    owner.inside = [&](uint32_t event, uintptr_t) {
        if (event != ieConnection) return;
        SetEvent(forwarding);
        SendMessageA(hwnd, WM_APP, 0, 0);
    };
    EXPECT_EQ(isdnConnect(c, "1", nullptr, nullptr), 0u);
    ASSERT_EQ(WaitForSingleObject(forwarding, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(isdnDone(port), 0u);
    EXPECT_EQ(SentCounter::served.load(), 1) << "the join left the owner's SendMessage waiting";
    EXPECT_TRUE(Poll([&] { return sim().Waiters() == 0; }));
    owner.inside = nullptr;
    DestroyWindow(hwnd);
    CloseHandle(forwarding);
    port = nullptr;
    sim().Reset();  // the call was left to the release
}

// The strict checks that every case above relies on, driven through the bare CAPI entry points.
TEST(MsgcoreScriptedCapi, StrictChecksCatchProtocolFaults) {
    Sim& sim = Sim::Get();
    sim.Reset();
    HMODULE m = GetModuleHandleA("capi2032.dll");
    ASSERT_NE(m, nullptr);
    typedef DWORD(WINAPI * Reg)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    typedef DWORD(WINAPI * Put)(DWORD, void*);
    typedef DWORD(WINAPI * Rel)(DWORD);
    Reg reg = reinterpret_cast<Reg>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_REGISTER")));
    Put put = reinterpret_cast<Put>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_PUT_MESSAGE")));
    Rel rel = reinterpret_cast<Rel>(reinterpret_cast<void*>(GetProcAddress(m, "CAPI_RELEASE")));
    DWORD app = 0;
    ASSERT_EQ(reg(1024, 1, 2, 2048, &app), 0u);
    Bytes listen = cw::Builder(uint16_t(app), cw::kListen, cw::kReq, 1).U32(1).U32(0).U32(4).U32(0).Empty().Empty().Done();
    ASSERT_EQ(put(app, listen.data()), 0u);
    DWORD plci = sim.IncomingCall(2, "1", "2", "", 0);
    // A response with a number no indication carried, then the right one twice.
    Bytes wrong = cw::Builder(uint16_t(app), cw::kConnect, cw::kResp, 0x1234).U32(plci).U16(1)
                      .Empty().Empty().Empty().Empty().Empty().Done();
    EXPECT_EQ(put(app, wrong.data()), 0u);
    EXPECT_EQ(sim.Queued(app), 2u);  // LISTEN_CONF, CONNECT_IND (nobody gets them here)
    std::string v = sim.ViolationText();
    EXPECT_NE(v.find("answers no outstanding indication"), std::string::npos) << v;
    // An unanswered CONNECT_IND at release.
    EXPECT_EQ(rel(app), 0u);
    v = sim.ViolationText();
    EXPECT_NE(v.find("unanswered at release"), std::string::npos) << v;
    EXPECT_EQ(sim.Violations(nullptr, 0), 2u);
    // A released application is told so.
    EXPECT_EQ(put(app, listen.data()), 0x1101u);
}

// --- the monitor ----------------------------------------------------------------------------------

struct MonitorLog {
    std::mutex m;
    std::vector<std::pair<void*, uint16_t>> calls;  // context, function
};

void WINAPI MonitorCallback(void* context, tagAPIMsg* message) {
    MonitorLog* log = static_cast<MonitorLog*>(*static_cast<void**>(context));
    const uint8_t* b = reinterpret_cast<const uint8_t*>(message);
    std::lock_guard<std::mutex> g(log->m);
    log->calls.push_back({context, cw::Get16(b + 16)});
}

std::vector<std::string> g_dump;
void CaptureDebug(const char* line) { g_dump.push_back(line); }

TEST(MsgcoreMonitor, RequestsAndRouting) {
    Sim& sim = Sim::Get();
    sim.Reset();
    // The controller's monitor protocol has no responses to its indications.
    sim.SetOption(CAPISIM_STRICT, 0);
    sim.SetMode(CAPISIM_MANUAL);
    sim.SetOption(CAPISIM_NEXT_APP, 0x21);
    MonitorLog log;
    void* ctx = &log;
    CCapiMessageMonitor mon;
    // A port that cannot register is given up at once: the next init tries again.
    sim.FailCall(CAPISIM_REGISTER, 0x1108);
    EXPECT_EQ(mon.init(1), 8);
    EXPECT_FALSE(mon.isValid());
    EXPECT_EQ(mon.getPort(), nullptr);
    ASSERT_EQ(mon.init(1), 0);
    EXPECT_TRUE(mon.isValid());
    std::vector<Sim::Logged> reg = sim.Log(CAPISIM_REGISTER);
    ASSERT_EQ(reg.size(), 2u);
    EXPECT_EQ(reg[1].e.arg[0], 4096u);  // 4 units, 1 connection, 6 blocks of 2048
    EXPECT_EQ(reg[1].e.arg[1], 1u);
    EXPECT_EQ(reg[1].e.arg[2], 6u);
    EXPECT_EQ(reg[1].e.arg[3], 2048u);

    EXPECT_EQ(mon.addMonitor(0x2400, nullptr, &ctx, 0x11223344), 0);
    EXPECT_EQ(mon.enableSystemTrace(0), 0);
    EXPECT_EQ(mon.deleteMonitor(0x2900, 5), 0);
    EXPECT_EQ(mon.enableTrace(1, 0x2200), 0);
    EXPECT_EQ(mon.getTrace(0x2100), 0);
    std::vector<Sim::Logged> puts = sim.Puts();
    ASSERT_EQ(puts.size(), 5u);
    EXPECT_EQ(cw::Hex(puts[0].bytes), "16 00 21 00 FF 80 01 00 01 00 00 00 6B 6F 6C 76 01 24 44 33 22 11");
    EXPECT_EQ(cw::Hex(puts[1].bytes), "16 00 21 00 FF 80 02 00 01 00 00 00 6B 6F 6C 76 03 24 02 00 00 00");
    EXPECT_EQ(cw::Hex(puts[2].bytes), "16 00 21 00 FF 80 03 00 01 00 00 00 6B 6F 6C 76 02 29 05 00 00 00");
    EXPECT_EQ(cw::Hex(puts[3].bytes), "16 00 21 00 FF 80 04 00 01 00 00 00 6B 6F 6C 76 03 22 08 00 00 00");
    EXPECT_EQ(cw::Hex(puts[4].bytes), "16 00 21 00 FF 80 05 00 01 00 00 00 6B 6F 6C 76 03 21 40 00 00 00");

    // Confirmations and indications reach the callback of their class.
    sim.SetMode(CAPISIM_AUTO);
    EXPECT_EQ(mon.addMonitor(0x2200, MonitorCallback, &ctx, 0), 0);
    auto count = [&] { std::lock_guard<std::mutex> g(log.m); return log.calls.size(); };
    for (int i = 0; i < 1000 && count() < 1; ++i) Sleep(10);
    debugCaptureOutput(CaptureDebug);
    const DWORD app = sim.LastApp();
    Bytes ind = cw::Builder(uint16_t(app), 0xFF, 0x82, 0x4001).U32(1).U32(0x766C6F6B).U16(0x2205).U16(0).Done();
    Bytes other = cw::Builder(uint16_t(app), 0xFF, 0x82, 0x4002).U32(1).U32(0x766C6F6B).U16(0x2305).U16(0).Done();
    Bytes cut = cw::Builder(uint16_t(app), 0xFF, 0x82, 0x4003).U32(1).U32(0x766C6F6B).Done();  // no function
    EXPECT_EQ(sim.Inject(app, other.data()), 0u);
    EXPECT_EQ(sim.Inject(app, cut.data()), 0u);
    EXPECT_EQ(sim.Inject(app, ind.data()), 0u);
    for (int i = 0; i < 1000 && count() < 2; ++i) Sleep(10);
    {
        std::lock_guard<std::mutex> g(log.m);
        ASSERT_EQ(log.calls.size(), 2u);
        EXPECT_EQ(log.calls[0].first, &ctx);
        EXPECT_EQ(log.calls[0].second, 0x2201);  // the confirmation of the registration
        EXPECT_EQ(log.calls[1].second, 0x2205);
    }
    debugCaptureOutput(nullptr);
    // The other class and the cut message were dumped, not given to a callback.
    int dumped = 0;
    for (const std::string& line : g_dump) dumped += line.find("FF 82 02 40") != std::string::npos ||
                                                     line.find("FF 82 03 40") != std::string::npos;
    EXPECT_EQ(dumped, 2);

    // Suspend gives up the port after the release of the last class; resume registers it again.
    const size_t before = sim.Puts().size();
    mon.suspend();
    EXPECT_EQ(mon.getPort(), nullptr);
    EXPECT_EQ(sim.Log(CAPISIM_RELEASE).size(), 1u);
    EXPECT_EQ(mon.resume(), 1);
    puts = sim.Puts(before);
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(cw::Get16(&puts[0].bytes[16]), 0x2202);
    EXPECT_EQ(cw::Get16(&puts[1].bytes[16]), 0x2201);
    mon.shutDown();
    EXPECT_EQ(sim.ViolationText(), "");
}

// A monitor whose memory, once deleted, reads as a handle the test watches: anything done with it
// after the deletion (a handle read and set) shows.
HANDLE g_touched = nullptr;
class FencedMonitor : public CCapiMessageMonitor {
public:
    static void* operator new(size_t n) {
        return VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    // Kept, not freed: the test frees it when the receive thread has ended.
    static void operator delete(void* p, size_t n) {
        HANDLE* words = static_cast<HANDLE*>(p);
        for (size_t i = 0; i < n / sizeof(HANDLE); ++i) words[i] = g_touched;
    }
    CCapiPort* createCapiPort() override {
        CCapiPortWin32* port = new CCapiPortWin32;
        port->setJoinTimeout(200);  // the destructor gives up waiting while the callback still runs
        return port;
    }
};

struct Blocker {
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;  // the receive thread the callback runs on
};
void WINAPI BlockOnRelease(void* context, tagAPIMsg* message) {
    Blocker* b = static_cast<Blocker*>(context);
    if (cw::Get16(reinterpret_cast<const uint8_t*>(message) + 16) != 0x2102) return;
    b->thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    SetEvent(b->inside);
    WaitForSingleObject(b->go, 30000);
}

TEST(MsgcoreMonitor, ACallbackThatOutlivesItsMonitorReturnsSafely) {
    Sim& sim = Sim::Get();
    sim.Reset();
    sim.SetOption(CAPISIM_STRICT, 0);
    Blocker blocker;
    g_touched = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    FencedMonitor* mon = new FencedMonitor;
    ASSERT_EQ(mon->init(1), 0);
    EXPECT_EQ(mon->addMonitor(0x2100, BlockOnRelease, &blocker, 0), 0);
    // The release of class 0x2100 is confirmed with 0x2102, the function suspend waits for.
    EXPECT_EQ(mon->releaseMonitor(0x2100, 0), 0);
    ASSERT_EQ(WaitForSingleObject(blocker.inside, 10000), WAIT_OBJECT_0);
    ASSERT_NE(blocker.thread, nullptr);
    delete mon;  // its join gives up: the callback is still running
    SetEvent(blocker.go);
    // The thread returns through the dispatch of a monitor that is gone, and ends.
    EXPECT_EQ(WaitForSingleObject(blocker.thread, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(sim.Log(CAPISIM_RELEASE).size(), 1u);
    CloseHandle(blocker.thread);
    CloseHandle(blocker.inside);
    CloseHandle(blocker.go);
    sim.Reset();
}

}  // namespace
