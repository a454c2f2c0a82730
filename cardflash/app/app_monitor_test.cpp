// The Update page parked on a busy port and resumed by the last-call monitor: the application
// starts its monitor sticky for the selected modem, another program holds the port (the
// port-manager driver's stand-in says so) and lets it go, the monitor reads the last call from the
// simulated card, and the application stops the monitor and tells the page that the port is free
// again (WM_APP 6).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/flash/monitor_test_util.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"
#include "standins/tapi_standin.h"

namespace {

std::vector<std::pair<WPARAM, LPARAM>> g_pageNotes;

LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
        g_pageNotes.emplace_back(wp, lp);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

using monitortest::PumpUntil;

TEST(AppMonitor, AParkedPageResumesWhenTheCallEnds) {
    standins::TapiStandin tapi;
    ASSERT_TRUE(tapi.loaded());
    standins::StandinDrivers drivers;
    standins::PortManagerDriver manager;
    drivers.Add("\\\\.\\Wendlow.vxd", &manager);
    winetest::PortPair pair = winetest::GetPortPair(0);
    modemsim::ModemSimulator sim;
    ASSERT_TRUE(sim.Start(pair.b));
    const std::string path = "\\\\.\\" + pair.a;
    manager.SetPortFree(path, false);  // a dial-up connection holds the port

    WNDCLASSA wc{};
    wc.lpfnWndProc = PageProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UpdatePageStandIn";
    RegisterClassA(&wc);
    HWND page = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    CConfUtilApp::SetUpdatePage(page);

    CCardInfo card("PCMCIA\\DORVEX-MODEM_56K-77C2\\1", FALSE);
    card.m_Flags = CCardInfo::kFlagModem;
    card.m_ModemDesc = "Dorvex 56K PC Card Modem";
    {
        CConfUtilApp app;
        CModemInfo entry;
        entry.m_Card = &card;
        entry.m_Modem = std::make_unique<CModem>();
        ASSERT_EQ(entry.m_Modem->AttachCard(&card, pair.a.c_str()), 0);
        CModem* modem = entry.m_Modem.get();
        EXPECT_EQ(modem->m_PortState, CModem::kPortBusy);
        app.m_Modems.push_back(std::move(entry));

        // A modem operation found the port taken: the page parks and the monitor watches.
        app.StartMonitorSticky();
        ASSERT_TRUE(app.IsMonitorRunning());
        app.StopMonitorUnlessSticky();
        EXPECT_TRUE(app.IsMonitorRunning());
        ASSERT_TRUE(PumpUntil([&] { return app.Monitor()->GetState() == CGetLastCall::kPortBusy; }, 5000));
        EXPECT_TRUE(g_pageNotes.empty());

        manager.SetPortFree(path, true);  // the connection hangs up
        ASSERT_TRUE(PumpUntil([] { return !g_pageNotes.empty(); }, 15000));
        EXPECT_EQ(g_pageNotes, (std::vector<std::pair<WPARAM, LPARAM>>{{6, 1}}));
        EXPECT_FALSE(app.IsMonitorRunning());
        ASSERT_NE(app.Monitor(), nullptr);
        EXPECT_EQ(app.Monitor()->GetState(), CGetLastCall::kIdle);  // the read's poll ended free
        std::vector<std::string> commands = sim.Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT!XUD"), 1);

        // Stopped means stopped: no second note.
        PumpUntil([] { return false; }, 800);
        EXPECT_EQ(g_pageNotes.size(), 1u);
    }
    CConfUtilApp::SetUpdatePage(nullptr);
    DestroyWindow(page);
}

}  // namespace
