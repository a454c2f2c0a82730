// IsdnModem against the simulated ISDN Tamrisk on the far end of a real COM-port pair.
#include <gtest/gtest.h>

#include "dialconf/isdn_modem.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

namespace {

class IsdnModemTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair_ = winetest::GetPortPair(0);
        ASSERT_TRUE(sim_.Start(pair_.b));
        modem_.Init(pair_.a.c_str(), "fake pnp");
        sim_.ClearLog();
    }
    std::vector<std::string> Commands() { return sim_.Commands(); }

    winetest::PortPair pair_;
    isdnsim::IsdnSimulator sim_;
    IsdnModem modem_;
};

}  // namespace

TEST_F(IsdnModemTest, PresenceTellsTheAdapterFromAPlainModem) {
    EXPECT_EQ(modem_.presence(), IsdnModem::kPresent);
    EXPECT_EQ(modem_.IsPresent(), 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"AT\r", "ATI\r"}));
    EXPECT_FALSE(modem_.IsOpen());

    sim_.With([](isdnsim::IsdnAdapter& a) { a.behaviour().plain_modem = true; });
    EXPECT_EQ(modem_.IsPresent(), 0);

    IsdnModem gone;
    gone.Init("COM97", "fake pnp");
    EXPECT_EQ(gone.presence(), IsdnModem::kAbsent);
    EXPECT_EQ(gone.IsPresent(), 0);
}

TEST_F(IsdnModemTest, ThePortRunsAt115200Bits8N1) {
    EXPECT_EQ(modem_.IsPresent(), 1);
    EXPECT_EQ(winetest::LineSettings(pair_.a, "115200 8N1"), "115200 8N1");
}

TEST_F(IsdnModemTest, SettersSendTheirCommandsAndVerify) {
    EXPECT_EQ(modem_.SetSpid("2", ""), 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"AT\r", "AT**SPID2=-\r", "AT &W\r", "AT**SPID2\r"}));
    EXPECT_EQ(sim_.With([](isdnsim::IsdnAdapter& a) { return a.settings().spid[1]; }), "-");

    sim_.ClearLog();
    EXPECT_EQ(modem_.SetSwitchType(5), 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"AT\r", "AT ** ISDN=5\r", "AT &W\r", "AT ** RESET\r", "AT\r",
                                                    "AT ** ISDN\r"}));
    EXPECT_EQ(modem_.GetSwitchType(), 5);

    EXPECT_EQ(modem_.SetProtocolByName("ML-PPP"), 1);
    CString name;
    EXPECT_EQ(modem_.GetProtocol(&name), 1);
    EXPECT_EQ(name, "ML-PPP");
    EXPECT_EQ(modem_.SetProtocolByName("Fax"), 0);

    EXPECT_EQ(modem_.SetNumber("4930123"), 1);
    EXPECT_EQ(modem_.GetMsn(), "4930123");
    EXPECT_EQ(modem_.GetFirmwareVersion(), isdnsim::kDefaultFirmware);
}

TEST_F(IsdnModemTest, PointToPointAgreesOnlyWithWhatTheAdapterReports) {
    struct {
        const char* fixed;  // what AT **PTP reports ("" the real setting)
        int multipoint;
        int result;
    } cases[] = {{"", 1, 1}, {"", 0, 1}, {"1", 1, 0}, {"0", 0, 0}};
    for (const auto& c : cases) {
        sim_.With([&](isdnsim::IsdnAdapter& a) {
            a.behaviour().fixed.erase("PTP");
            if (*c.fixed) a.behaviour().fixed["PTP"] = c.fixed;
        });
        EXPECT_EQ(modem_.SetPointToPoint(c.multipoint), c.result) << c.fixed << " " << c.multipoint;
        EXPECT_EQ(modem_.GetPointToPoint(), (*c.fixed ? *c.fixed == '0' : c.multipoint == 1) ? "Point to Multipoint"
                                                                                               : "Point to Point");
    }
}

TEST_F(IsdnModemTest, EachPieceExtendsTheWaitButNeverShortensIt) {
    // The rule itself is ReplyDeadline's, on a clock of its test's own; these are the road through
    // the port, with gaps far from the one second a piece gives, and only lower bounds of time.
    CString reply;
    // Two-byte pieces 150 ms apart: the reply takes longer than the 1 s the transaction was given.
    sim_.SetPieces(2, 150);
    DWORD began = GetTickCount();
    EXPECT_EQ(modem_.Transact("AT **MSN\r", &reply, "OK\r", 1), IsdnModem::kOk);
    EXPECT_GE(GetTickCount() - began, 1000u);
    EXPECT_NE(reply.Find("OK\r"), -1);

    // The echo at once, the rest 1.5 s later: a 6 s wait does not end 1 s after the echo.
    sim_.SetPieces(10, 1500);
    EXPECT_EQ(modem_.Transact("AT**SPID1\r", &reply, "OK\r", 6), IsdnModem::kOk);
    // ... but a 3 s gap after the echo of a 1 s transaction is a time-out, and not before the
    // second after the echo.
    sim_.SetPieces(10, 3000);
    began = GetTickCount();
    EXPECT_EQ(modem_.Transact("AT**SPID1\r", &reply, "OK\r", 1), IsdnModem::kTimeOut);
    EXPECT_GE(GetTickCount() - began, 1000u);
}

TEST_F(IsdnModemTest, FailuresGiveZeroOrNotAvailable) {
    sim_.With([](isdnsim::IsdnAdapter& a) {
        a.behaviour().error_on = {"AT#Z="};
        a.behaviour().ignore_first = 1;
    });
    EXPECT_EQ(modem_.SetNumber("4930123"), 0);  // the first AT goes unanswered; the wake-up retries
    EXPECT_EQ(Commands().front(), "AT\r");
    EXPECT_EQ(Commands()[1], "AT\r");

    // An ERROR reply never holds the "OK" a transaction waits for.
    sim_.With([](isdnsim::IsdnAdapter& a) { a.behaviour().error_on = {"AT**MSN", "AT**ISDN"}; });
    EXPECT_EQ(modem_.GetMsn(), "Not available");
    EXPECT_EQ(modem_.GetSwitchType(), -1);
}
