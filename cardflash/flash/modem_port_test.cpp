// The port-busy test on each Windows road: the port-manager driver on Windows 9x and NT 4.0, WMI
// on Windows 2000 (where Wine has no MSSerial_CommInfo, so the open test answers), and the open
// test when no driver answers.
#include <objbase.h>

#include <gtest/gtest.h>

#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"
#include "winetest/ports.h"
#include "winetest/version.h"

namespace {

using standins::PortManagerDriver;

bool IsNt() { return winetest::RequestedVersion() != "win98"; }
std::string DriverPath() { return IsNt() ? "\\\\.\\Wendlow" : "\\\\.\\Wendlow.vxd"; }
uint32_t QueryCode() { return IsNt() ? PortManagerDriver::kNtPortQuery : PortManagerDriver::k9xPortQuery; }
uint32_t RecordCode() { return IsNt() ? PortManagerDriver::kNtStatusWord : PortManagerDriver::k9xPortRecord; }

class PortFreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        path = "\\\\.\\" + pair.a;
    }
    void TearDown() override { CoUninitialize(); }

    bool DriverRoad() const { return winetest::RequestedVersion() != "win2k"; }

    standins::StandinDrivers drivers;
    PortManagerDriver manager;
    winetest::PortPair pair;
    std::string path;
    modemsim::ModemSimulator sim;
};

TEST_F(PortFreeTest, DriverAnswersOnWindows9xAndNt40) {
    if (!DriverRoad()) GTEST_SKIP() << "Windows 2000 asks WMI";
    drivers.Add(DriverPath(), &manager);
    CModem modem;
    ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
    EXPECT_EQ(modem.m_PortState, CModem::kPortFree);
    EXPECT_EQ(sim.Commands(), std::vector<std::string>{});  // the driver answered: no open

    struct Case {
        const char* what;
        bool free, inCall, failRecord;
        int answer, state, changed;
        bool recordAsked;
    } cases[] = {
        {"turns busy", false, false, false, 0, CModem::kPortBusy, 1, false},
        {"stays busy", false, false, false, 0, CModem::kPortBusy, 0, false},
        {"free but in a call", true, true, false, 0, CModem::kPortBusy, 0, true},
        {"record unreadable", true, false, true, 1, CModem::kPortBusy, 0, true},
        {"turns free", true, false, false, 1, CModem::kPortFree, 1, true},
        {"stays free", true, false, false, 1, CModem::kPortFree, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        manager.SetPortFree(path, c.free);
        manager.SetInCall(c.inCall);
        manager.FailRecord(c.failRecord);
        size_t before = manager.requests().size();
        EXPECT_EQ(modem.IsPortFree(), c.answer);
        EXPECT_EQ(modem.m_PortState, c.state);
        EXPECT_EQ(modem.m_PortStateChanged, c.changed);
        std::vector<standins::RecordedRequest> asked = manager.requests();
        ASSERT_EQ(asked.size(), before + (c.recordAsked ? 2 : 1));
        EXPECT_EQ(asked[before].code, QueryCode());
        std::string in(asked[before].input.begin(), asked[before].input.end());
        EXPECT_EQ(in, path + '\0');
        EXPECT_EQ(asked[before].out_size, 4u);
        if (c.recordAsked) {
            EXPECT_EQ(asked[before + 1].code, RecordCode());
        }
    }
    EXPECT_EQ(manager.open_handles(), 0);
    std::vector<drv::OpenRequest> opens = manager.opens();
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens[0].access, drv::win::kGenericRead | drv::win::kGenericWrite);
    EXPECT_EQ(opens[0].share, 0u);
    EXPECT_EQ(opens[0].disposition, drv::win::kOpenExisting);
    EXPECT_EQ(opens[0].attributes, IsNt() ? uint32_t(FILE_FLAG_NO_BUFFERING) : drv::win::kFlagDeleteOnClose);
}

TEST_F(PortFreeTest, APortOfThisProgramAnswersFromTheStoredState) {
    if (DriverRoad()) drivers.Add(DriverPath(), &manager);
    CModem modem, other;
    ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
    ASSERT_EQ(other.AttachCard(nullptr, "COM250"), 0);
    ASSERT_TRUE(modem.OpenPort());
    EXPECT_EQ(winetest::LineSettings(pair.a, "19200 8N1"), "19200 8N1");
    size_t before = manager.requests().size();
    other.m_PortState = CModem::kPortFree;
    EXPECT_EQ(other.IsPortFree(), 1);  // the missing port is not even tried
    other.m_PortState = CModem::kPortBusy;
    EXPECT_EQ(other.IsPortFree(), 0);
    EXPECT_EQ(manager.requests().size(), before);
    EXPECT_TRUE(modem.ClosePort());
}

TEST_F(PortFreeTest, WithoutAnAnswerTheOpenTestDecides) {
    // No driver on Windows 9x and NT 4.0 (or an answer of the wrong size); on Windows 2000 the
    // WMI class is missing.
    if (DriverRoad()) {
        drivers.Add(DriverPath(), &manager);
        manager.SetAnswerSize(2);
    }
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", FALSE);
    CModem modem;
    ASSERT_EQ(modem.AttachCard(&card, pair.a.c_str()), 0);
    EXPECT_EQ(modem.m_PortState, CModem::kPortFree);
    EXPECT_EQ(sim.Commands(), std::vector<std::string>{"ATI0"});  // the open test's fresh open
    EXPECT_EQ(modem.m_CardDescription, "PCMCIA\\DORVEX-MODEM\\1");
    if (winetest::RequestedVersion() == "win2k") {
        EXPECT_NE(modem.m_Wmi, nullptr);  // connected; the class is what is missing
        ASSERT_NE(modem.m_CommInfoPath, nullptr);
        EXPECT_STREQ(modem.m_CommInfoPath, L"MSSerial_CommInfo.InstanceName=\"PCMCIA\\\\DORVEX-MODEM\\\\1_0\"");
    }

    // A multi-function card: the port is the modem function's, whichever child the presence was
    // read from.
    CCardInfo mf("PCMCIA\\DORVEX-ETHERMODEM\\1", FALSE);
    mf.m_MFCard = TRUE;
    mf.m_ChildPath = "MF\\PCMCIA#DORVEX-ETHERMODEM\\1#Child0001";
    mf.m_ModemInstancePath = "MF\\PCMCIA#DORVEX-ETHERMODEM\\1#Child0000";
    CModem function;
    ASSERT_EQ(function.AttachCard(&mf, pair.a.c_str()), 0);
    if (winetest::RequestedVersion() == "win2k") {
        ASSERT_NE(function.m_CommInfoPath, nullptr);
        EXPECT_STREQ(function.m_CommInfoPath,
                     L"MSSerial_CommInfo.InstanceName=\"MF\\\\PCMCIA#DORVEX-ETHERMODEM\\\\1#Child0000_0\"");
    }

    CModem missing;
    ASSERT_EQ(missing.AttachCard(&card, "COM250"), 0);
    EXPECT_EQ(missing.m_PortState, CModem::kPortBusy);
    missing.m_PortState = CModem::kPortFree;
    EXPECT_EQ(missing.IsPortFree(), 0);
    EXPECT_EQ(missing.m_PortStateChanged, 1);
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

}  // namespace
