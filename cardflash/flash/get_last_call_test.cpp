// The last-call monitor on Windows 98 over a real COM-port pair with the simulated card, the
// port-manager driver's stand-in saying whether another program holds the port, and the TAPI
// stand-in for the modem's line: a call that keeps the port busy for some seconds, then exactly
// one read of its report with its duration; six failed reads; a stop from inside a report; the
// data rate of a monitored call.
#include "cardflash/flash/get_last_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cardflash/flash/modem.h"
#include "cardflash/flash/monitor_test_util.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemlayout.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"
#include "standins/tapi_standin.h"

namespace {

using modemsim::ModemState;
using modemsim::TextItem;
using modemsim::ValueItem;
using standins::PortManagerDriver;

const char kModemName[] = "Dorvex 56K PC Card Modem";

struct Seen {
    int state;
    DWORD record[3];
    DWORD tick;
};
std::vector<Seen> g_seen;
std::function<void()> g_onReport;

void Callback() {
    CGetLastCall* m = CGetLastCall::Current();
    if (!m) return;
    g_seen.push_back({m->GetState(), {m->PortRecord(0), m->PortRecord(1), m->PortRecord(2)}, GetTickCount()});
    if (g_onReport) g_onReport();
}

using monitortest::PumpFor;
using monitortest::PumpUntil;

size_t Count(int state) {
    return static_cast<size_t>(std::count_if(g_seen.begin(), g_seen.end(), [&](const Seen& s) { return s.state == state; }));
}
std::vector<int> States() {
    std::vector<int> out;
    for (const Seen& s : g_seen) out.push_back(s.state);
    return out;
}
// The states with repeats of 1 and 2 folded: {2, 2, 0, 3, 1, 1} -> {2, 0, 3, 1}.
std::vector<int> Folded() {
    std::vector<int> out;
    for (int s : States())
        if (out.empty() || s != out.back() || (s != 1 && s != 2)) out.push_back(s);
    return out;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tapi.loaded()) << "TAPI32.DLL is not the stand-in";
        g_seen.clear();
        g_onReport = nullptr;
        pair = winetest::GetPortPair(0);
        sim.Update([](ModemState& s) {
            s.callReport = {ValueItem(1, "7"), ValueItem(121, "1"), TextItem(110, "33600/31200"),
                            TextItem(212, "1.80")};
        });
        ASSERT_TRUE(sim.Start(pair.b));
        path = "\\\\.\\" + pair.a;
        drivers.Add("\\\\.\\Wendlow.vxd", &manager);
        tapi.AddLine("Other line", tapi::kMediaDataModem);
        tapi.AddLine(kModemName, tapi::kMediaDataModem);
        card.m_ModemDesc = kModemName;
        ASSERT_EQ(modem.AttachCard(&card, pair.a.c_str()), 0);
        ASSERT_EQ(modem.m_PortState, CModem::kPortFree);
    }
    void TearDown() override { g_onReport = nullptr; }

    size_t Reads() const {
        std::vector<std::string> c = sim.Commands();
        return static_cast<size_t>(std::count(c.begin(), c.end(), "AT!XUD"));
    }

    standins::TapiStandin tapi;
    standins::StandinDrivers drivers;
    PortManagerDriver manager;
    winetest::PortPair pair;
    std::string path;
    modemsim::ModemSimulator sim;
    CCardInfo card{"PCMCIA\\DORVEX-MODEM_56K-77C2\\1", FALSE};
    CModem modem;
};

TEST_F(MonitorTest, ACallsEndIsReadOnceWithItsDuration) {
    const uint8_t record[12] = {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30, 0x40, 0xAA, 0xBB, 0xCC, 0xDD};
    manager.SetPortRecord(path, std::vector<uint8_t>(record, record + 12));
    CGetLastCall monitor(&modem, Callback, 100, 150);
    // Registered with the driver once: the port and the modem's description.
    EXPECT_EQ(manager.registered(), (std::vector<std::string>{path, kModemName}));
    // The modem's TAPI line is opened for monitoring.
    EXPECT_NE(monitor.MonitoredLine(), 0u);
    std::vector<std::string> opens = tapi.Calls("lineOpen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens[0].find("device=1, api=0x00010004, ext=0, instance=0, privileges=0x2, media=0x10, params=null"),
              std::string::npos);

    ASSERT_TRUE(monitor.Start());
    EXPECT_FALSE(monitor.Start());  // already running
    ASSERT_TRUE(PumpUntil([] { return Count(1) >= 2; }, 5000));  // a free port: nothing to read
    EXPECT_EQ(Reads(), 0u);

    // Another program takes the port for some seconds.
    sim.ClearReceived();
    manager.SetPortFree(path, false);
    DWORD busyFrom = GetTickCount();
    ASSERT_TRUE(PumpUntil([] { return Count(2) >= 1; }, 5000));
    std::time_t callStart = monitor.CallStart();
    PumpFor(2200);
    DWORD busyFor = GetTickCount() - busyFrom;
    EXPECT_EQ(sim.Commands(), std::vector<std::string>{});  // nobody touched the port meanwhile
    size_t busyReports = Count(2);
    EXPECT_GE(busyReports, 5u);  // every busy period, more or less
    for (const Seen& s : g_seen)
        if (s.state == 2) {
            EXPECT_EQ(s.record[0], 0x04030201u);
            EXPECT_EQ(s.record[1], 0x40302010u);
            EXPECT_EQ(s.record[2], 0xDDCCBBAAu);
        }
    manager.SetPortFree(path, true);
    ASSERT_TRUE(PumpUntil([] { return Count(3) >= 1; }, 10000));
    ASSERT_TRUE(PumpUntil([] { return !g_seen.empty() && g_seen.back().state == 1 && Count(1) >= 4; }, 5000));
    EXPECT_EQ(Folded(), (std::vector<int>{1, 2, 0, 3, 1}));
    EXPECT_EQ(Count(0), 1u);
    EXPECT_EQ(Count(3), 1u);
    EXPECT_EQ(Reads(), 1u);  // exactly one read of the last call
    EXPECT_EQ(modem.m_Report.callSetupResult, "Data Call");
    EXPECT_EQ(modem.m_Report.text110, "33600/31200");
    // The duration counts from the poll that saw the port turn busy, in whole seconds.
    EXPECT_GE(callStart, 1);
    DWORD untilRead = 0;
    for (const Seen& s : g_seen)
        if (s.state == 3) untilRead = s.tick - busyFrom;
    EXPECT_GE(modem.m_LastCallSeconds + 1, busyFor / 1000);
    EXPECT_LE(modem.m_LastCallSeconds, untilRead / 1000 + 1);
    EXPECT_TRUE(monitor.IsRunning());
    monitor.Stop();
    EXPECT_FALSE(monitor.IsRunning());
    size_t reports = g_seen.size();
    PumpFor(400);
    EXPECT_EQ(g_seen.size(), reports);  // stopped: no more polls
}

TEST_F(MonitorTest, SixFailedReadsAreReportedOnce) {
    sim.Update([](ModemState& s) { s.errorCommands = {"ATE0V1"}; });  // a modem that reads nothing
    modem.m_PortState = CModem::kPortBusy;
    manager.SetPortFree(path, false);
    CGetLastCall monitor(&modem, Callback, 50, 60);
    ASSERT_TRUE(monitor.Start());
    ASSERT_TRUE(PumpUntil([] { return Count(2) >= 2; }, 5000));
    manager.SetPortFree(path, true);
    ASSERT_TRUE(PumpUntil([] { return Count(6) >= 1; }, 30000));
    ASSERT_TRUE(PumpUntil([] { return Count(1) >= 3; }, 5000));
    EXPECT_EQ(Folded(), (std::vector<int>{2, 0, 0, 0, 0, 0, 0, 6, 1}));
    std::vector<std::string> c = sim.Commands();
    EXPECT_EQ(std::count(c.begin(), c.end(), "ATE0V1"), 6);
    EXPECT_EQ(Reads(), 0u);
}

// Each period belongs to its port state: polls come often while another program holds the port and
// seldom while it is free. A start on a port already held counts the call from that start.
TEST_F(MonitorTest, PeriodsFollowThePortAndABusyStartCountsTheCall) {
    modem.m_PortState = CModem::kPortBusy;
    manager.SetPortFree(path, false);
    CGetLastCall monitor(&modem, Callback, 100, 1500);
    const std::time_t started = std::time(nullptr);
    ASSERT_TRUE(monitor.Start());
    EXPECT_GE(monitor.CallStart(), started);
    EXPECT_LE(monitor.CallStart(), std::time(nullptr));
    PumpFor(1000);
    EXPECT_GE(Count(2), 1u);  // the first poll after 0.1 s, not 1.5 s
    PumpFor(2000);
    EXPECT_GE(Count(2), 6u);  // every 0.1 s: about 30

    manager.SetPortFree(path, true);
    ASSERT_TRUE(PumpUntil([] { return Count(3) >= 1; }, 10000));
    // Counted from the start, not from 1970.
    EXPECT_LE(modem.m_LastCallSeconds, static_cast<DWORD>(std::time(nullptr) - started + 1));
    const size_t freeFrom = Count(1);
    PumpFor(3000);
    EXPECT_LE(Count(1) - freeFrom, 3u);  // every 1.5 s: two

    // A start on a free port waits the free period for its first poll.
    monitor.Stop();
    const size_t before = g_seen.size();
    ASSERT_TRUE(monitor.Start());
    PumpFor(1000);
    EXPECT_EQ(g_seen.size(), before);
    EXPECT_EQ(Reads(), 1u);
}

TEST_F(MonitorTest, AStopFromAReportHoldsAndAStartArmsAgain) {
    // The owner stops the monitor once the call was read, as the application does.
    CGetLastCall* self = nullptr;
    g_onReport = [&] {
        if (CGetLastCall::Current()->GetState() == CGetLastCall::kCallRead) CGetLastCall::Current()->Stop();
    };
    modem.m_PortState = CModem::kPortBusy;
    CGetLastCall monitor(&modem, Callback, 50, 60);
    self = &monitor;
    ASSERT_TRUE(monitor.Start());
    ASSERT_TRUE(PumpUntil([] { return Count(3) >= 1; }, 10000));
    EXPECT_FALSE(self->IsRunning());
    size_t reports = g_seen.size();
    PumpFor(400);
    EXPECT_EQ(g_seen.size(), reports);  // the poll that read the call did not start the timer again
    EXPECT_EQ(g_seen.back().state, 1);  // its last report

    g_onReport = nullptr;
    ASSERT_TRUE(monitor.Start());
    ASSERT_TRUE(PumpUntil([&] { return g_seen.size() >= reports + 3; }, 5000));
    EXPECT_EQ(Reads(), 1u);  // nothing new to read
}

TEST_F(MonitorTest, AMonitoredCallGivesItsRateAndAsksNothing) {
    tapi.SetCallRate(28800);
    CGetLastCall monitor(&modem, Callback, 100, 150);
    ASSERT_NE(monitor.MonitoredLine(), 0u);
    const DWORD call = 0x777;
    // A redial question would block this thread: answer it, and count it.
    monitortest::BoxGuard boxes(IDNO);
    tapi.ClearLog();
    // The first state of a call seen by a monitor comes with the privilege it gives.
    tapi.PostEvent(call, tapi::kLineCallState, tapi::kCallConnected, 0, tapi::kPrivilegeMonitor);
    tapi.PostEvent(call, tapi::kLineCallState, tapi::kCallConnected, 0, 0);
    PumpFor(200);
    EXPECT_EQ(monitor.CallRate(), 28800u);
    EXPECT_EQ(tapi.Calls("lineGetCallInfo"),
              std::vector<std::string>{"lineGetCallInfo(call=" + std::to_string(call) + ", total=1000)"});
    tapi.PostEvent(call, tapi::kLineCallState, tapi::kCallDisconnected, 0x1, 0);
    tapi.PostEvent(call, tapi::kLineCallState, tapi::kCallIdle, 0, 0);
    PumpFor(300);
    EXPECT_EQ(boxes.Count(), 0);  // another program's call is not offered for redialling
    EXPECT_EQ(monitor.CallRate(), 0u);
    EXPECT_EQ(tapi.Calls("lineDeallocateCall"),
              std::vector<std::string>{"lineDeallocateCall(call=" + std::to_string(call) + ")"});
    EXPECT_EQ(tapi.Calls("lineMakeCall"), std::vector<std::string>{});
}

TEST_F(MonitorTest, AnOwnerMayDestroyTheMonitorFromAReport) {
    modem.m_PortState = CModem::kPortBusy;
    manager.SetPortFree(path, false);
    auto* monitor = new CGetLastCall(&modem, Callback, 30, 40);
    g_onReport = [&] {
        delete monitor;  // as a change of the selected modem does
        monitor = nullptr;
    };
    ASSERT_TRUE(monitor->Start());
    ASSERT_TRUE(PumpUntil([] { return !g_seen.empty(); }, 5000));
    g_onReport = nullptr;
    EXPECT_EQ(monitor, nullptr);
    EXPECT_EQ(CGetLastCall::Current(), nullptr);
    PumpFor(300);
    EXPECT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].state, 2);
}

TEST_F(MonitorTest, WithoutTheDriverTheOpenTestAnswers) {
    standins::StandinDrivers none;  // the port manager is not installed
    ASSERT_EQ(modem.AttachCard(&card, pair.a.c_str()), 0);
    sim.ClearReceived();
    CGetLastCall monitor(&modem, Callback, 50, 60);
    ASSERT_TRUE(monitor.Start());
    ASSERT_TRUE(PumpUntil([] { return Count(1) >= 3; }, 10000));
    EXPECT_EQ(Folded(), std::vector<int>{1});
    // Every poll opened the port: a fresh open asks for the add-on.
    std::vector<std::string> c = sim.Commands();
    EXPECT_GE(static_cast<size_t>(std::count(c.begin(), c.end(), "ATI0")), 3u);
    EXPECT_EQ(manager.registered(), std::vector<std::string>{});
    EXPECT_EQ(monitor.PortRecord(0), 0u);
}

TEST_F(MonitorTest, WithoutTheModemsLineNoLineIsOpened) {
    card.m_ModemDesc = "dorvex 56k pc card modem";  // the names compare with case
    ASSERT_EQ(modem.AttachCard(&card, pair.a.c_str()), 0);
    tapi.ClearLog();
    {
        CGetLastCall monitor(&modem, Callback, 100, 150);
        EXPECT_EQ(monitor.MonitoredLine(), 0u);
        EXPECT_EQ(monitor.CallRate(), 0u);
    }
    EXPECT_EQ(tapi.Calls("lineOpen"), std::vector<std::string>{});
    EXPECT_EQ(CGetLastCall::Current(), nullptr);
}

}  // namespace
