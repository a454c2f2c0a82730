#include "simulators/modem/modemengine.h"

#include <gtest/gtest.h>

namespace modemsim {
namespace {

TEST(ModemEngine, EchoFollowsTheEchoCommands) {
    ModemEngine m;
    EXPECT_EQ(m.Feed("ATI0\r"), "ATI0\r" + Info("Dorvex 56K PC Card Modem"));
    EXPECT_EQ(m.Feed("ATE0V1\r"), "ATE0V1\r" + Ok());  // echoed while echo was still on
    EXPECT_EQ(m.Feed("ATI0\r"), Info("Dorvex 56K PC Card Modem"));
    EXPECT_EQ(m.Feed("ATE1\r"), Ok());
    EXPECT_EQ(m.Feed("at+gci?\r"), "at+gci?\r" + CountryCodeReply(0x3D));
    m.Feed("ATE0V1\r");
    EXPECT_EQ(m.Feed("ATZ&F&W\r"), Ok());
    EXPECT_TRUE(m.state().echo);  // the factory settings have echo on
    EXPECT_EQ(m.state().factoryResets, 1);
}

TEST(ModemEngine, CommandsArriveInPiecesAndBlanksBetweenThemAreIgnored) {
    ModemEngine m;
    m.state().echo = false;
    m.state().callReport = {ValueItem(1, "5")};
    EXPECT_EQ(m.Feed("AT!X"), "");
    EXPECT_EQ(m.Feed("UD\r "), KeyedReport({ValueItem(1, "5")}));
    EXPECT_EQ(m.Feed("\nATI5\r"), IdentityReply("SB2 56K V.90"));
    EXPECT_EQ(m.Feed("\r\r"), "");
    EXPECT_EQ(m.commands(), (std::vector<std::string>{"AT!XUD", "ATI5"}));
}

TEST(ModemEngine, CountryCodeIsTakenOnlyFromTheList) {
    ModemEngine m;
    m.state().echo = false;
    EXPECT_EQ(m.Feed("AT+GCI=B5\r"), Ok());
    EXPECT_EQ(m.state().countryCode, 0xB5);
    EXPECT_EQ(m.Feed("AT+GCI=21\r"), Error());
    EXPECT_EQ(m.Feed("AT+GCI=B\r"), Error());
    EXPECT_EQ(m.state().countryCode, 0xB5);
}

TEST(ModemEngine, AddOnAnswersInFrontOfTheModem) {
    ModemEngine m;
    m.state().echo = false;
    EXPECT_EQ(m.Feed("ATCONF\r"), Error());
    EXPECT_EQ(m.Feed("AT**TRCCLR\r"), Error());
    m.state().addOn = true;
    m.state().trace = "1 L1  0000000000 0501 0001 02";
    EXPECT_EQ(m.Feed("ATI0\r"), Info("ISDN Tamrisk"));
    EXPECT_EQ(m.Feed("ATI3\r"), AddOnVersionReply("2.10"));
    EXPECT_EQ(m.Feed("ATI4\r"), Info("DORVEX, INC."));
    EXPECT_EQ(m.Feed("AT+GMR\r"), Error());
    EXPECT_EQ(m.Feed("AT!XMI\r"), Error());

    EXPECT_EQ(m.Feed("ATCONF\r"), ConfigModeReply());
    EXPECT_EQ(m.mode(), ModemEngine::Mode::AddOnConfig);
    EXPECT_EQ(m.Feed("TRCREAD\r"), TraceReadReply("1 L1  0000000000 0501 0001 02"));
    EXPECT_EQ(m.Feed("ATI0\r"), ConfigError());
    EXPECT_EQ(m.Feed("QUIT\r"), QuitReply());
    EXPECT_EQ(m.mode(), ModemEngine::Mode::Command);
    EXPECT_EQ(m.Feed("AT**TRCCLR\r"), Ok());
    EXPECT_EQ(m.state().trace, "");
    EXPECT_EQ(m.Feed("AT**TRCMSK=0000000302020580\r"), Ok());
    EXPECT_EQ(m.state().traceMask, "0000000302020580");
    EXPECT_EQ(m.Feed("AT**TRCMSK=12\r"), Error());
}

TEST(ModemEngine, BootLoaderMuteAndErrors) {
    ModemEngine m;
    m.state().bootLoaderActive = true;
    EXPECT_EQ(m.Feed("ATI0\r"), BootLoaderActive());
    EXPECT_EQ(m.Feed("ATE0V1\r"), BootLoaderActive());
    m.state().bootLoaderActive = false;
    m.state().echo = false;
    m.state().errorCommands = {"AT!XCBL=?"};
    EXPECT_EQ(m.Feed("at!xcbl=?\r"), Error());
    EXPECT_EQ(m.Feed("ATI4\r"), Info("Dorvex Inc."));
    m.state().answerError = true;
    EXPECT_EQ(m.Feed("ATI4\r"), Error());
    m.state().mute = true;
    EXPECT_EQ(m.Feed("ATI4\r"), "");
    EXPECT_EQ(m.commands().back(), "ATI4");
}

}  // namespace
}  // namespace modemsim
