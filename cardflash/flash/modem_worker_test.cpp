// The worker operations of CModem against the simulated card over a real COM-port pair, reporting
// to a real hidden window of the test thread: the order of queued operations, the add-on notice,
// windows that are missing or gone, destruction while an operation waits, a silent card.
#include "cardflash/flash/modem.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"

namespace {

using modemsim::ModemState;
using Notices = std::vector<std::pair<WPARAM, LPARAM>>;
using Cmds = std::vector<std::string>;

LRESULT CALLBACK CollectNotices(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        auto* notices = reinterpret_cast<Notices*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (notices) notices->emplace_back(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(Notices* notices) {
    static const ATOM cls = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = CollectNotices;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ModemWorkerTestWindow";
        return RegisterClassA(&wc);
    }();
    HWND window = CreateWindowExA(0, MAKEINTATOM(cls), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(notices));
    return window;
}

class ModemWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = MakeWindow(&notices);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(sim.Start(winetest::GetPortPair(0).b));
        ASSERT_EQ(modem.AttachCard(nullptr, Port()), 0);
        sim.ClearReceived();
    }
    void TearDown() override {
        // Every operation gave the semaphore back.
        EXPECT_EQ(WaitForSingleObject(Semaphore(), 5000), WAIT_OBJECT_0);
        ReleaseSemaphore(Semaphore(), 1, nullptr);
        DestroyWindow(window);
    }

    static CString Port() { return winetest::GetPortPair(0).a.c_str(); }
    static HANDLE Semaphore() { return CModemProcess::OperationSemaphore(); }

    // Dispatches the test thread's messages until `count` notices have come (false after
    // `timeoutMs`).
    bool Pump(size_t count, DWORD timeoutMs) {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (notices.size() >= count) return true;
            if (GetTickCount() - start > timeoutMs) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    void PumpFor(DWORD ms) { Pump(static_cast<size_t>(-1), ms); }

    // Waits, without dispatching anything, until the modem has no operation left.
    static bool WaitIdle(CModem& m) {
        for (int i = 0; i < 400; ++i) {
            if (m.PendingOperations() == 0) return true;
            Sleep(25);
        }
        return false;
    }

    standins::StandinDrivers drivers;  // no port-manager driver: the busy test opens the port
    Notices notices;
    HWND window = nullptr;
    modemsim::ModemSimulator sim;
    CModem modem;
};

TEST_F(ModemWorkerTest, QueuedOperationsOfTwoModemsRunOneAfterAnotherInStartOrder) {
    CModem second;
    ASSERT_EQ(second.AttachCard(nullptr, Port()), 0);
    sim.ClearReceived();

    ASSERT_EQ(WaitForSingleObject(Semaphore(), 0), WAIT_OBJECT_0);  // all of them queue behind the test
    EXPECT_EQ(modem.StartSetCountryCode(window, 0x20), 0);
    EXPECT_EQ(second.StartReadCountryCode(window), 0);
    EXPECT_EQ(modem.StartReadFirmwareVersion(window), 0);
    EXPECT_EQ(second.StartReadCountryList(window), 0);
    EXPECT_EQ(modem.StartReadModuleInfo(window), 0);
    EXPECT_EQ(second.StartCheckFirmwareLevel(window), 0);
    EXPECT_EQ(modem.StartReadCableType(window), 0);
    EXPECT_EQ(second.StartReadConfiguration(window), 0);
    EXPECT_EQ(modem.StartSetTraceMask(window, 0x3F), 0);  // no add-on: nothing to set
    EXPECT_EQ(modem.PendingOperations(), 5);
    EXPECT_EQ(second.PendingOperations(), 4);
    Sleep(200);
    EXPECT_EQ(sim.Received(), "");
    ReleaseSemaphore(Semaphore(), 1, nullptr);

    ASSERT_TRUE(Pump(9, 30000));
    EXPECT_EQ(notices, (Notices{{kOpSetCountryCode, 0},
                                {kOpReadCountryCode, 0},
                                {kOpReadFirmwareVersion, 0},
                                {kOpReadCountryList, 0},
                                {kOpReadModuleInfo, 0},
                                {kOpCheckFirmwareLevel, 0},
                                {kOpReadCableType, 0},
                                {kOpReadConfiguration, 0},
                                {kOpSetTraceMask, 0}}));
    EXPECT_EQ(second.m_CountryCode, 0x20);  // read after the first modem set it
    EXPECT_EQ(second.m_InPlaceCapable, 1);
    EXPECT_EQ(sim.State().traceMask, "");
    EXPECT_TRUE(WaitIdle(modem));
    EXPECT_TRUE(WaitIdle(second));
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

TEST_F(ModemWorkerTest, AddOnNoticeFollowsTheOperationAndWaitsForAWindow) {
    sim.Update([](ModemState& s) { s.addOn = true; });  // plugged in after the modem was attached

    // No window: the operation runs and nobody is told. The open found the add-on, so the modem's
    // country code and factory reset stay unsent.
    EXPECT_EQ(modem.StartSetCountryCode(nullptr, 0x20), 0);
    ASSERT_TRUE(WaitIdle(modem));
    EXPECT_EQ(sim.Commands(), (Cmds{"ATI0"}));
    EXPECT_EQ(sim.State().factoryResets, 0);
    EXPECT_EQ(modem.m_AddOn, 1);
    EXPECT_EQ(modem.m_AddOnChanged, 1);

    // The trace mask for a window that has gone: set, and still nobody told.
    Notices lost;
    HWND gone = MakeWindow(&lost);
    DestroyWindow(gone);
    EXPECT_EQ(modem.StartSetTraceMask(gone, 0x3F), 0);
    ASSERT_TRUE(WaitIdle(modem));
    EXPECT_EQ(sim.State().traceMask, "0000000302020580");
    EXPECT_EQ(modem.m_AddOnChanged, 1);
    PumpFor(200);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(lost.empty());

    EXPECT_EQ(modem.StartReadFirmwareVersion(window), 0);
    ASSERT_TRUE(Pump(2, 10000));
    EXPECT_EQ(notices, (Notices{{kOpReadFirmwareVersion, 0}, {kOpAddOnChanged, 1}}));
    EXPECT_EQ(modem.m_FirmwareVersion, "2.10");
    EXPECT_EQ(modem.m_AddOnChanged, 0);
    // The port stays open while operations are pending, so the add-on is looked for again only
    // once this one has ended.
    ASSERT_TRUE(WaitIdle(modem));

    // The add-on goes: the level check reads the modem's own firmware, which is too old.
    sim.Update([](ModemState& s) {
        s.addOn = false;
        s.firmwareVersion = "1.60";
    });
    notices.clear();
    EXPECT_EQ(modem.StartCheckFirmwareLevel(window), 0);
    ASSERT_TRUE(Pump(2, 10000));
    EXPECT_EQ(notices, (Notices{{kOpCheckFirmwareLevel, kModemFirmwareOld}, {kOpAddOnChanged, 0}}));
    EXPECT_EQ(modem.m_InPlaceCapable, 0);
    PumpFor(200);
    EXPECT_EQ(notices.size(), 2u);
}

TEST_F(ModemWorkerTest, DestroyingTheModemWhileAnOperationWaits) {
    auto* late = new CModem;
    ASSERT_EQ(late->AttachCard(nullptr, Port()), 0);
    // A finished operation whose message still waits in the queue: the destructor delivers it.
    EXPECT_EQ(late->StartReadCountryCode(window), 0);
    ASSERT_TRUE(WaitIdle(*late));

    ASSERT_EQ(WaitForSingleObject(Semaphore(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(late->StartReadCountryList(window), 0);
    // Held open across the destruction: the close waits for the operation.
    ASSERT_TRUE(late->OpenPort());
    EXPECT_TRUE(late->ClosePort());
    EXPECT_TRUE(late->IsPortOpen());
    sim.ClearReceived();

    std::thread release([late] {
        while (!late->m_Closing) Sleep(10);
        ReleaseSemaphore(Semaphore(), 1, nullptr);
    });
    delete late;
    release.join();

    EXPECT_EQ(notices, (Notices{{kOpReadCountryCode, 0}}));
    PumpFor(300);
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(sim.Received(), "");
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

TEST_F(ModemWorkerTest, ACardThatFallsSilentReportsTimeOut) {
    ASSERT_TRUE(modem.OpenPort());  // answered while opening, silent afterwards
    sim.Update([](ModemState& s) { s.mute = true; });
    EXPECT_EQ(modem.StartReadCountryCode(window), 0);
    ASSERT_TRUE(Pump(1, 10000));
    EXPECT_EQ(notices, (Notices{{kOpReadCountryCode, kModemTimeout}}));
    EXPECT_TRUE(modem.ClosePort());
    ASSERT_TRUE(WaitIdle(modem));
    EXPECT_FALSE(modem.IsPortOpen());
}

}  // namespace
