// CModem against the simulated card over a real COM-port pair: every identity read, the keyed
// report of the last call, the add-on and its trace, the boot loader, counted open and close.
#include "cardflash/flash/modem.h"

#include <gtest/gtest.h>

#include <thread>

#include "cardflash/flash/isdntrace.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "simulators/modem/modemlayout.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"

namespace {

using modemsim::ModemState;
using modemsim::TextItem;
using modemsim::ValueItem;

const char kDatabase[] =
    "[Version]\r\n"
    "Version=1.05\r\n"
    "[1]\r\n"
    "MODEM_SB2_1=4B\r\n"
    "GEN_SHORTNAME=SB2 Card\r\n"
    "[2]\r\n"
    "GEN_PNPID_1=DORVEX\\TVL\r\n"
    "GEN_SHORTNAME=Tamrisk\r\n";

class ModemTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.Write(kDatabase);
        CStaticCardInfo::SetIniFile(db.path().c_str());
        pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
        sim.ClearReceived();
    }
    void TearDown() override { CStaticCardInfo::SetIniFile(""); }

    std::vector<std::string> Commands() { return sim.Commands(); }

    standins::StandinDrivers drivers;  // no port-manager driver: the busy test opens the port
    invtest::TempFile db{"QorvDevices.ini"};
    winetest::PortPair pair;
    modemsim::ModemSimulator sim;
    CModem modem;
};

using Cmds = std::vector<std::string>;

TEST_F(ModemTest, EveryIdentityReadOfThePlainCard) {
    sim.Update([](ModemState& s) {
        s.moduleId = "CGSM";
        s.moduleInfo = {ValueItem(202, "0004"), ValueItem(203, "000A"), TextItem(212, "1.80")};
    });
    EXPECT_EQ(modem.m_LineType, "Unknown");

    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "1.80");
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT+GMR", "ATE1"}));

    EXPECT_EQ(modem.CheckFirmwareLevel(), 0);
    EXPECT_EQ(modem.m_InPlaceCapable, 1);

    sim.ClearReceived();
    EXPECT_EQ(modem.ReadCountryCode(), 0);
    EXPECT_EQ(modem.m_CountryCode, 0x3D);
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT+GCI?", "ATE1"}));

    EXPECT_EQ(modem.ReadCountryList(), 0);
    EXPECT_EQ(modem.m_CountryList, (std::vector<uint32_t>{0x20, 0x3D, 0xB5}));

    sim.ClearReceived();
    EXPECT_EQ(modem.SetCountryCode(0x20), 0);
    EXPECT_EQ(modem.m_CountryCode, 0x20);
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT+GCI=20", "ATZ&F&W", "ATE1"}));
    EXPECT_EQ(sim.State().countryCode, 0x20);

    // The "none read" code sends nothing, and above all no factory reset.
    sim.ClearReceived();
    EXPECT_NE(modem.SetCountryCode(-1), 0);
    EXPECT_NE(modem.SetCountryCode(256), 0);
    EXPECT_EQ(sim.Received(), "");
    EXPECT_EQ(sim.State().factoryResets, 1);
    EXPECT_EQ(modem.m_CountryCode, 0x20);

    EXPECT_EQ(modem.ReadModuleId(), 0);
    EXPECT_EQ(modem.m_ModuleId, "CGSM");
    EXPECT_EQ(modem.ReadIdentity(), 0);
    EXPECT_EQ(modem.m_Identity, "SB2 56K V.90");
    EXPECT_EQ(modem.ReadManufacturer(), 0);
    EXPECT_EQ(modem.m_Manufacturer, "Dorvex Inc.");
    EXPECT_EQ(modem.ReadBoardCode(), 0);
    EXPECT_EQ(modem.m_BoardCode, "4B");

    sim.ClearReceived();
    EXPECT_EQ(modem.ReadCableType(), 0);
    EXPECT_EQ(modem.m_LineType, "AMPS");
    // One open around both reads.
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT!XMA", "ATE1", "ATE0V1", "AT!XCBL=?", "ATE1"}));

    EXPECT_EQ(modem.ReadModuleInfo(), 0);
    EXPECT_EQ(modem.m_Cable, "GSM cellular");
    EXPECT_EQ(modem.m_LineType, "PSTN, GSM/PCS 1900");
    EXPECT_EQ(modem.m_FirmwareVersion, "1.80");
    EXPECT_EQ(modem.m_ReportVersion, "1.80");
    EXPECT_GE(modem.m_ModuleInfo.Find(" 0202=0004"), 0);
    EXPECT_FALSE(modem.IsPortOpen());
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

TEST_F(ModemTest, ReadsThatTheCardRefusesKeepTheirMembers) {
    sim.Update([](ModemState& s) {
        s.errorCommands = {"AT+GCI?", "AT!XMA", "AT!XCBL=?"};
        s.firmwareVersion = "180";  // no "." in the version line
    });
    modem.m_CountryCode = 7;
    EXPECT_EQ(modem.ReadCountryCode(), 20);
    EXPECT_EQ(modem.m_CountryCode, 7);
    EXPECT_EQ(modem.ReadFirmwareVersion(), 18);
    EXPECT_EQ(modem.m_FirmwareVersion, "");
    EXPECT_EQ(modem.CheckFirmwareLevel(), 18);
    EXPECT_EQ(modem.ReadCableType(), 20);
    EXPECT_EQ(modem.m_LineType, "Unknown");
}

TEST_F(ModemTest, ConfigurationWithoutACallReportStillReadsTheModule) {
    sim.Update([](ModemState& s) {
        s.errorCommands = {"AT!XUD"};
        s.moduleInfo = {ValueItem(202, "0001"), ValueItem(203, "0002"), TextItem(212, "1.81")};
    });
    EXPECT_EQ(modem.ReadConfiguration(), 0);
    EXPECT_EQ(modem.m_Cable, "PSTN cable");
    EXPECT_EQ(modem.m_ReportVersion, "1.81");
    EXPECT_EQ(modem.m_Report.connectionType, "");
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT!XUD", "ATE0V1", "AT!XMI", "ATE1", "ATE1"}));
}

TEST_F(ModemTest, KeyedLastCallReportEndToEnd) {
    sim.Update([](ModemState& s) {
        s.callReport = {ValueItem(1, "7"),    ValueItem(121, "1"),   TextItem(110, "14400/9600"),
                        ValueItem(26, "0010"), ValueItem(27, "00FF"), ValueItem(34, "0000"),
                        ValueItem(35, "1234"), TextItem(62, "V.34"),  ValueItem(44, "80"),
                        ValueItem(40, "129"), ValueItem(12, "000A"), ValueItem(60, "01"),
                        TextItem(212, "1.80")};
        s.moduleInfo = {ValueItem(202, "0001"), ValueItem(203, "0002"), TextItem(212, "1.81")};
    });
    EXPECT_EQ(modem.ReadConfiguration(), 0);
    const CallReport& r = modem.m_Report;
    EXPECT_EQ(r.connectionType, "PSTN");
    EXPECT_EQ(r.callSetupResult, "Data Call");
    EXPECT_EQ(r.text110, "14400/9600");
    EXPECT_EQ(r.value26, "16");
    EXPECT_EQ(r.value27, "255");
    EXPECT_EQ(r.value34, "0");
    EXPECT_EQ(r.value35, "4660");
    EXPECT_EQ(r.text62, "V.34");
    EXPECT_EQ(r.compression, "MNP5");
    EXPECT_EQ(r.errorControl, "ECP");  // above 127: n - 125
    EXPECT_EQ(r.value12, "10");
    EXPECT_EQ(r.terminationCause, TableText(CStringTableTexts(), kStrTermination + 1));
    EXPECT_GE(modem.m_DiagnosticReport.Find(" 0121=1"), 0);
    EXPECT_EQ(modem.m_BoardCode, "4B");
    EXPECT_EQ(modem.m_ShortName, "SB2 Card");
    // The module information block follows inside the same lock.
    EXPECT_EQ(modem.m_Cable, "PSTN cable");
    EXPECT_EQ(modem.m_ReportVersion, "1.81");
    EXPECT_EQ(modem.m_TraceRead, 0);
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "AT!XUD", "ATE0V1", "AT!XSAVE", "ATE1", "ATE0V1", "AT!XMI",
                                "ATE1", "ATE1"}));
}

TEST_F(ModemTest, MissingReportItemsLeaveTheirFieldsEmpty) {
    sim.Update([](ModemState& s) { s.callReport = {ValueItem(1, "0"), TextItem(212, "1.80")}; });
    modem.m_ShortName = "earlier";
    CStaticCardInfo::SetIniFile("");  // no database section: the short name stays
    EXPECT_EQ(modem.ReadConfiguration(), 0);
    EXPECT_EQ(modem.m_Report.connectionType, "");
    EXPECT_EQ(modem.m_Report.callSetupResult, "No previous call");
    EXPECT_EQ(modem.m_Report.compression, "");
    EXPECT_EQ(modem.m_Report.terminationCause, "");
    EXPECT_EQ(modem.m_Report.value26, "");
    EXPECT_EQ(modem.m_ShortName, "earlier");
}

TEST_F(ModemTest, AddOnReadsAndItsTrace) {
    modemsim::TraceText trace;
    trace.Data("L1 ", 500, 0x0501, {2}).CallLog("LOG", 530, 0x00, 0x11, "5551234");
    sim.Update([&](ModemState& s) {
        s.addOn = true;
        s.trace = trace.str();
    });
    int last = -1;
    EXPECT_EQ(modem.DetectIsdnAddOn(&last), 1);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(modem.m_AddOnChanged, 1);

    EXPECT_EQ(modem.ReadModuleId(), 0);
    EXPECT_EQ(modem.m_ModuleId, "ISDN Tamrisk");
    EXPECT_EQ(modem.ReadManufacturer(), 0);
    EXPECT_EQ(modem.m_Manufacturer, "DORVEX, INC.");
    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "2.10");
    sim.ClearReceived();
    EXPECT_EQ(modem.ReadBoardCode(), 3);
    EXPECT_EQ(modem.ReadCableType(), 0);
    EXPECT_EQ(modem.SetCountryCode(0x20), 0);
    // The module id only, and the fresh open before the country code finds the add-on.
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "ATI0", "ATE1", "ATI0"}));

    sim.ClearReceived();
    EXPECT_EQ(modem.ReadConfiguration(), 0);
    EXPECT_EQ(modem.m_TraceText, "L1  00:00:00.000 Layer 1 activated\n");
    EXPECT_EQ(modem.m_TraceRead, 1);
    EXPECT_EQ(modem.m_Report.callSetupResult, "Outgoing Call");
    EXPECT_EQ(modem.m_Report.text110, "5551234");
    EXPECT_EQ(modem.m_Report.terminationCause, "User busy");
    EXPECT_EQ(modem.m_Report.connectionType, "ISDN");
    EXPECT_EQ(modem.m_ReportVersion, "2.10");
    EXPECT_EQ(modem.m_ShortName, "Tamrisk");
    EXPECT_EQ(sim.State().trace, "");
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "ATE0V1", "ATCONF", "TRCREAD", "QUIT", "AT**TRCCLR", "ATE0V1", "ATI3",
                                "ATE1", "ATE1"}));

    // The mask opens the port itself.
    EXPECT_EQ(modem.SetTraceMask(0x3F), 0);
    EXPECT_EQ(sim.State().traceMask, "0000000302020580");
    EXPECT_FALSE(modem.IsPortOpen());
    EXPECT_EQ(modem.m_TraceMask, 0x3F);
}

// The boot loader answers no ATI0 with OK, so each fresh open would ask ten times: one open is
// held around all four reads.
TEST_F(ModemTest, ModemInItsBootLoader) {
    sim.Update([](ModemState& s) { s.bootLoaderActive = true; });
    ASSERT_TRUE(modem.OpenPort());
    EXPECT_EQ(Commands(), Cmds(10, "ATI0"));
    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "BOOT LOADER ACTIVE");
    EXPECT_EQ(modem.m_AddOn, 1);
    EXPECT_EQ(modem.ReadIdentity(), 0);
    EXPECT_EQ(modem.m_Identity, "ISDN Tamrisk");
    EXPECT_EQ(modem.ReadModuleId(), 0);
    EXPECT_EQ(modem.m_ModuleId, "ISDN Tamrisk");
    EXPECT_EQ(modem.ReadManufacturer(), 0);
    EXPECT_EQ(modem.m_Manufacturer, "DORVEX, INC.");
    EXPECT_TRUE(modem.ClosePort());
    EXPECT_FALSE(modem.IsPortOpen());
}

TEST_F(ModemTest, CountedOpenAndCloseWithAPendingOperation) {
    ASSERT_TRUE(modem.OpenPort());
    EXPECT_EQ(CModemProcess::OpenPorts(), 1);
    EXPECT_EQ(modem.BeginOperation(), 1);
    EXPECT_TRUE(modem.ClosePort());
    // The close waits for the operation: the port stays open, and a new open only counts.
    EXPECT_TRUE(modem.IsPortOpen());
    EXPECT_EQ(modem.m_CloseWhenIdle, 1);
    ASSERT_TRUE(modem.OpenPort());
    CString reply;
    EXPECT_EQ(modem.Exchange("AT+GMI\r", reply, "OK\r", 3), 0);
    EXPECT_TRUE(modem.ClosePort());
    EXPECT_TRUE(modem.IsPortOpen());
    EXPECT_EQ(modem.EndOperation(), 0);
    EXPECT_FALSE(modem.IsPortOpen());
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
    EXPECT_EQ(modem.m_Port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Commands(), (Cmds{"ATI0", "AT+GMI"}));
    // A close without an open changes nothing.
    EXPECT_FALSE(modem.ClosePort());
    EXPECT_EQ(modem.m_OpenCount, 0);
}

TEST_F(ModemTest, DestructionWaitsForPendingOperationsAndClosesThePort) {
    auto* late = new CModem;
    ASSERT_EQ(late->AttachCard(nullptr, pair.a.c_str()), 0);
    ASSERT_TRUE(late->OpenPort());
    late->BeginOperation();
    EXPECT_TRUE(late->ClosePort());  // deferred
    std::thread worker([late] {
        Sleep(300);
        late->EndOperation();
    });
    DWORD start = GetTickCount();
    delete late;
    EXPECT_GE(GetTickCount() - start, 250u);
    worker.join();
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

TEST_F(ModemTest, AttachCardTakesTheCardsPortAndNames) {
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", FALSE);
    card.m_ModemComPort = pair.a.c_str();
    card.m_ModemDesc = "Dorvex 56K Modem";
    card.m_DeviceDesc = "Dorvex 56K";
    CModem attached;
    ASSERT_EQ(attached.AttachCard(&card, ""), 0);
    EXPECT_EQ(attached.m_PortPath, CString("\\\\.\\") + pair.a.c_str());
    EXPECT_EQ(attached.m_CardDescription, "PCMCIA\\DORVEX-MODEM\\1");
    EXPECT_EQ(attached.m_DeviceDescription, "Dorvex 56K Modem");
    EXPECT_EQ(attached.m_AtCommands.GetSize(), kAtCommandCount);
    EXPECT_EQ(attached.m_AtCommands.GetAt(kAtCallReport), "AT!XUD\r ");
    EXPECT_EQ(attached.m_PortState, CModem::kPortFree);
    EXPECT_EQ(attached.ReadIdentity(), 0);
}

TEST_F(ModemTest, CommandChannelEdges) {
    CString reply;
    EXPECT_EQ(modem.Exchange("ATI0\r", reply, "OK\r", 3), 14);  // not open

    // Opened first: the open's own ATI0 is answered at once.
    ASSERT_TRUE(modem.OpenPort());
    // Eight pieces 300 ms apart: the reply takes twice the second asked for, and each piece keeps
    // the wait alive (a gap has 700 ms to spare on a loaded machine).
    sim.Update([](ModemState& s) {
        s.chunkSize = 4;
        s.gapMs = 300;
    });
    EXPECT_EQ(modem.Exchange("AT+GMI\r", reply, "OK\r", 1), 0);
    EXPECT_GE(reply.Find("Dorvex Inc."), 0);
    sim.Update([](ModemState& s) { s.chunkSize = 0; });

    // No seconds: only what already waits is taken. The card keeps quiet, so nothing can come
    // before the first look (a reply there would rightly keep the wait alive for a second).
    sim.Update([](ModemState& s) { s.mute = true; });
    DWORD start = GetTickCount();
    EXPECT_EQ(modem.Exchange("AT\r", reply, "NEVER", 0), 20);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(reply, "");
    sim.Update([](ModemState& s) { s.mute = false; });

    // A line-collecting reply that fills the buffer without the expected text is a failure.
    sim.Update([](ModemState& s) {
        s.addOn = true;
        s.trace = std::string(3000, 'x');
    });
    EXPECT_EQ(modem.Exchange("ATCONF\r", reply, kConfigPrompt, 3), 0);
    CStringArray lines;
    start = GetTickCount();
    EXPECT_EQ(modem.SendCommand("TRCREAD\r", lines, "NEVER", 10), 20);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(lines.GetSize(), 0);
    modem.Exchange("QUIT\r", reply, "\r", 3);

    // A text reply that keeps coming without its end is held to its bound, and is no reply.
    sim.Update([](ModemState& s) { s.trace = std::string(kTextReplyLimit + 5000, 'y'); });
    EXPECT_EQ(modem.Exchange("ATCONF\r", reply, kConfigPrompt, 3), 0);
    EXPECT_EQ(modem.Exchange("TRCREAD\r", reply, "NEVER", 3), 20);
    EXPECT_GT(reply.GetLength(), 1000);
    EXPECT_LE(reply.GetLength(), kTextReplyLimit);
    modem.Exchange("QUIT\r", reply, "\r", 3);
    EXPECT_TRUE(modem.ClosePort());
}

// A send that does not wait must not clear its own command from the output. With the line held
// behind more blanks than the far end buffers (the card skips blanks between commands), the
// command is still in the port's output when the send's purge comes, as it is on a slow line or
// in a driver that buffers writes.
TEST_F(ModemTest, ASendThatDoesNotWaitKeepsItsCommand) {
    ASSERT_TRUE(modem.OpenPort());
    sim.ClearReceived();
    ASSERT_TRUE(winetest::HoldLine(pair.a, true));
    const std::string blanks(6000, ' ');
    CString reply;
    modem.Exchange(CString(blanks), reply, "", 0);
    modem.Exchange("AT**", reply, "", 0);
    modem.Exchange("", reply, "", 0);
    ASSERT_TRUE(winetest::HoldLine(pair.a, false));
    const std::string want = blanks + "AT**";
    for (int i = 0; i < 300 && sim.Received().size() < want.size(); ++i) Sleep(10);
    const std::string got = sim.Received();
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(got.substr(got.size() > 4 ? got.size() - 4 : 0), "AT**");
    EXPECT_TRUE(modem.ClosePort());
}

// A port that does not open answers no ATI0: the add-on flag goes to 0 (and the change is noted).
TEST_F(ModemTest, AddOnDetectionOnAPortThatDoesNotOpenGivesNoAddOn) {
    CModem gone;
    ASSERT_EQ(gone.AttachCard(nullptr, "COM250"), 0);
    gone.m_AddOn = 1;
    gone.m_AddOnChanged = 0;
    int last = -1;
    EXPECT_EQ(gone.DetectIsdnAddOn(&last), 0);
    EXPECT_EQ(gone.m_AddOn, 0);
    EXPECT_EQ(gone.m_AddOnChanged, 1);
    EXPECT_EQ(last, 14);
}

TEST_F(ModemTest, NoPortGivesNotOpen) {
    CModem none;
    ASSERT_EQ(none.AttachCard(nullptr, ""), 0);
    EXPECT_EQ(none.m_PortPath, "\\\\.\\");
    EXPECT_EQ(none.m_PortState, CModem::kPortBusy);
    EXPECT_EQ(none.ReadIdentity(), 14);
    CStringArray lines;
    EXPECT_EQ(none.SendCommand("ATI0\r", lines, "OK\r", 1), 14);
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

// Slow: a mute card costs a second a try. The port is opened while the card still answers (the
// fresh open's own detection asks once), so the detection asks only its own ten times.
TEST_F(ModemTest, AddOnDetectionTriesTenTimesOnAMuteCard) {
    ASSERT_TRUE(modem.OpenPort());
    EXPECT_EQ(Commands(), Cmds(1, "ATI0"));
    sim.Update([](ModemState& s) { s.mute = true; });
    int last = -1;
    EXPECT_EQ(modem.DetectIsdnAddOn(&last), 0);
    EXPECT_EQ(last, 20);
    EXPECT_EQ(Commands(), Cmds(11, "ATI0"));
    EXPECT_TRUE(modem.ClosePort());
    EXPECT_FALSE(modem.IsPortOpen());
}

}  // namespace
