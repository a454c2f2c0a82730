// The simulated card over a real COM-port pair: a client on the other end sends the commands that
// the modem code sends, and the modem code's parsers read the replies.
#include "simulators/modem/modemsim.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cardflash/flash/isdntrace.h"
#include "cardflash/flash/modemreplies.h"

namespace modemsim {
namespace {

class ModemSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        winetest::PortPair pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        ASSERT_TRUE(client.Open(pair.a, CBR_19200));
    }

    // One command and its reply, up to `expected` (as the modem code waits for it).
    CString Send(const std::string& command, const std::string& expected = "OK\r", DWORD ms = 3000) {
        sent += command;
        EXPECT_TRUE(client.Write(command));
        return client.ReadUntil(expected, ms).c_str();
    }

    ModemSimulator sim;
    winetest::SerialPort client;
    std::string sent;
    CStringTableTexts texts;
};

TEST_F(ModemSimTest, PlainCardAnswersEveryIdentityRead) {
    sim.Update([](ModemState& s) {
        s.moduleId = "CGSM";
        s.callReport = {ValueItem(1, "7"), ValueItem(121, "1"), TextItem(110, "14400/9600"), ValueItem(44, "80"),
                        ValueItem(40, "1"), ValueItem(60, "00"), TextItem(212, "1.80")};
        s.moduleInfo = {ValueItem(202, "0004"), ValueItem(203, "000A"), TextItem(212, "1.80")};
    });
    EXPECT_EQ(AddOnFlagFromReply(Send("ATI0\r")), 0);
    Send("ATE0V1\r");

    CString reply = Send("AT+GMR\r");
    CStringArray lines;
    SplitReplyLines(reply.c_str(), reply.GetLength(), lines);
    CString version;
    ASSERT_TRUE(ParseVersionLines(lines, version));
    EXPECT_EQ(version, "1.80");
    EXPECT_TRUE(IsInPlaceLevel(version));

    int code = -1;
    ASSERT_TRUE(ParseCountryCode(Send("AT+GCI?\r"), code));
    EXPECT_EQ(code, 0x3D);
    std::vector<uint32_t> list;
    ASSERT_TRUE(ParseCountryList(Send("AT+GCI=?\r"), list));
    EXPECT_EQ(list, (std::vector<uint32_t>{0x20, 0x3D, 0xB5}));
    CString command;
    ASSERT_TRUE(CountryCodeCommand(0x20, command));
    EXPECT_GE(Send(command.str()).Find("OK"), 0);
    Send("ATZ&F&W\r");
    Send("ATE0V1\r");
    ASSERT_TRUE(ParseCountryCode(Send("AT+GCI?\r"), code));
    EXPECT_EQ(code, 0x20);

    CString value;
    ASSERT_TRUE(ParseColonValue(Send("AT!XMA\r"), value));
    EXPECT_EQ(value, "CGSM");
    ASSERT_TRUE(ParseColonValue(Send("ATI5\r"), value));
    EXPECT_EQ(value, "SB2 56K V.90");
    EXPECT_EQ(ParseBeforeOk(Send("AT+GMI\r")), "Dorvex Inc.");
    EXPECT_EQ(ParseBoardCode(Send("AT!XSAVE\r")), "4B");
    EXPECT_EQ(ParseCableTypes(Send("AT!XCBL=?\r"), "CGSM", texts), "AMPS");

    ModuleInfo info = ParseModuleInfo(Send("AT!XMI\r"), texts);
    EXPECT_EQ(info.cable, "GSM cellular");
    EXPECT_EQ(info.lineType, "PSTN, GSM/PCS 1900");
    EXPECT_EQ(info.firmwareVersion, "1.80");

    CallReport r = ParseCallReport(Send("AT!XUD\r "), texts);
    EXPECT_EQ(r.connectionType, "PSTN");
    EXPECT_EQ(r.callSetupResult, "Data Call");
    EXPECT_EQ(r.text110, "14400/9600");
    EXPECT_EQ(r.compression, "MNP5");
    EXPECT_EQ(r.errorControl, "V.42 LAPM");
    EXPECT_EQ(r.terminationCause, "Unknown");
    EXPECT_EQ(r.reportVersion, "1.80");
    Send("ATE1\r");

    EXPECT_EQ(sim.Received(), sent);
    EXPECT_EQ(sim.State().factoryResets, 1);
    EXPECT_TRUE(sim.State().echo);
}

TEST_F(ModemSimTest, AddOnTraceIsReadDecodedAndCleared) {
    TraceText trace;
    trace.Data("L1 ", 500, 0x0501, {2})
        .Data("L2 ", 510, 0x0602, {0x00, 0x01, 0x7F})
        .Data("L3 ", 520, 0x8702, {0x08, 0x01, 0x85, 0x45, 0x08, 0x02, 0x82, 0x91})
        .CallLog("LOG", 530, 0x00, 0x11, "5551234");
    sim.Update([&](ModemState& s) {
        s.addOn = true;
        s.echo = false;
        s.trace = trace.str();
    });
    EXPECT_EQ(AddOnFlagFromReply(Send("ATI0\r")), 1);
    CString value;
    ASSERT_TRUE(ParseColonValue(Send("ATI0\r"), value));
    EXPECT_EQ(value, kAddOnName);
    EXPECT_EQ(ParseAddOnVersion(Send("ATI3\r")), "2.10");
    EXPECT_EQ(ParseBeforeOk(Send("ATI4\r")), kAddOnMaker);

    EXPECT_GE(Send("ATCONF\r", kConfigPrompt).Find(kConfigPrompt), 0);
    CString raw = Send("TRCREAD\r", kTracePrompt);
    CString text;
    EXPECT_TRUE(DecodeTrace(raw, text, 0x3F));
    EXPECT_EQ(text,
              "L1  00:00:00.000 Layer 1 activated\n"
              "L2  00:00:00.100 Layer 2 NT: SAPI=0 TEI=0 TYPE=SABME\n"
              "L3  00:00:00.200 Layer 3 TE: Disconnect\n"
              "                Cause: User busy\n"
              "                Cause Location: public network serving local user\n");
    EXPECT_EQ(LastTraceCallLog().callType, "Outgoing Call");
    EXPECT_EQ(LastTraceCallLog().cause, "User busy");
    EXPECT_EQ(LastTraceCallLog().callText, "5551234");
    EXPECT_EQ(Send("QUIT\r", "\r"), "\r");
    EXPECT_EQ(sim.Mode(), ModemEngine::Mode::Command);

    EXPECT_GE(Send("AT**TRCCLR\r").Find("OK"), 0);
    EXPECT_EQ(sim.State().trace, "");
    EXPECT_GE(Send(TraceMaskCommand(0x3F).str()).Find("OK"), 0);
    EXPECT_EQ(sim.State().traceMask, "0000000302020580");
    EXPECT_EQ(sim.Received(), sent);
}

TEST_F(ModemSimTest, BootLoaderAnswersEveryCommandWithItsError) {
    sim.Update([](ModemState& s) { s.bootLoaderActive = true; });
    CString reply = Send("ATI0\r", kBootLoaderActive, 2000);
    EXPECT_TRUE(IsBootLoaderReply(reply));
    EXPECT_EQ(AddOnFlagFromReply(reply), 1);
    EXPECT_TRUE(IsBootLoaderReply(Send("ATE0V1\r", kBootLoaderActive, 2000)));
}

TEST_F(ModemSimTest, MuteCardTakesCommandsAndAnswersNothing) {
    sim.Update([](ModemState& s) { s.mute = true; });
    EXPECT_EQ(Send("ATI0\r", "OK\r", 500), "");
    ASSERT_TRUE(sim.WaitForCommands(1, 1000));
    EXPECT_EQ(sim.Commands(), std::vector<std::string>{"ATI0"});

    sim.Update([](ModemState& s) {
        s.mute = false;
        s.echo = false;
        s.answerError = true;
    });
    EXPECT_EQ(Send("ATI0\r", "ERROR\r\n"), Error());
    sim.ClearReceived();
    sent.clear();
    sim.Update([](ModemState& s) { s.answerError = false; });
    EXPECT_EQ(Send("ATI5\r", "OK\r\n"), IdentityReply("SB2 56K V.90"));
    EXPECT_EQ(sim.Received(), "ATI5\r");
}

// The card writes its answer in pieces with a pause between them; the other end gets every byte in
// order. What the pieces and pauses are is taken from the card's own record of its writes, so a
// reader that a loaded machine holds back (and that then finds two pieces at once) proves the
// same.
TEST_F(ModemSimTest, AnswerInPiecesWithGaps) {
    sim.Update([](ModemState& s) {
        s.echo = false;
        s.chunkSize = 4;
        s.gapMs = 150;
    });
    sim.ClearReceived();
    ASSERT_TRUE(client.Write("ATI0\r"));
    const std::string whole = Info("Dorvex 56K PC Card Modem");
    const std::string got = client.ReadUntil(whole, 20000);
    EXPECT_EQ(got, whole);

    const std::vector<ModemSimulator::Write> writes = sim.Writes();
    ASSERT_EQ(writes.size(), (whole.size() + 3) / 4);
    std::string written;
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].bytes.size(), std::min<size_t>(4, whole.size() - 4 * i)) << "piece " << i;
        if (i > 0) {
            EXPECT_GE(writes[i].atMs - writes[i - 1].atMs, 149.0) << "piece " << i;
        }
        written += writes[i].bytes;
    }
    EXPECT_EQ(written, whole);
}

}  // namespace
}  // namespace modemsim
