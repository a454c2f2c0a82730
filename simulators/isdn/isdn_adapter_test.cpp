// The adapter model: settings survive across commands, and each way of misbehaving does what a
// test that asks for it relies on.
#include <gtest/gtest.h>

#include "simulators/isdn/isdn_adapter.h"
#include "simulators/isdn/isdn_replies.h"

using isdnsim::IsdnAdapter;

namespace {

std::string Send(IsdnAdapter& a, const std::string& command) {
    auto replies = a.Receive(command.data(), command.size());
    return replies.empty() ? "<none>" : replies.back();
}

}  // namespace

TEST(IsdnAdapter, KeepsSettingsAndEchoesEachCommand) {
    IsdnAdapter a;
    EXPECT_EQ(Send(a, "AT ** ISDN=7\r"), "AT ** ISDN=7\r\r\n\r\nOK\r\n");
    EXPECT_EQ(Send(a, "AT **ISDN\r"), "AT **ISDN\r\r\n" + isdnsim::SwitchTypeInfo(7) + "\r\nOK\r\n");
    Send(a, "AT #z=4930123\r");
    EXPECT_EQ(Send(a, "AT #H\r"), "AT #H\r\r\n4930123\r\nOK\r\n");
    Send(a, "AT**SPID2=-\r");
    EXPECT_EQ(Send(a, "AT**SPID2\r"), "AT**SPID2\r\r\n-\r\nOK\r\n");
    Send(a, "AT **PTP=1\r");
    EXPECT_EQ(a.settings().multipoint, false);
    EXPECT_EQ(Send(a, "AT ** ISDN=3\r"), "AT ** ISDN=3\r\r\n\r\nERROR\r\n");  // no such switch
    EXPECT_EQ(a.settings().switch_type, 7);
}

TEST(IsdnAdapter, CommandsArriveInAnyPiecesAndAreLoggedByteForByte) {
    IsdnAdapter a;
    EXPECT_TRUE(a.Receive("AT", 2).empty());
    auto replies = a.Receive("\rATI\r", 5);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_NE(replies[1].find("ISDN Tamrisk"), std::string::npos);
    EXPECT_EQ(a.Commands(), (std::vector<std::string>{"AT\r", "ATI\r"}));
}

TEST(IsdnAdapter, MisbehavesOnRequest) {
    IsdnAdapter deaf;
    deaf.behaviour().ignore_first = 2;
    EXPECT_EQ(Send(deaf, "AT\r"), "");
    EXPECT_EQ(Send(deaf, "AT\r"), "");
    EXPECT_EQ(Send(deaf, "AT\r"), "AT\r\r\n\r\nOK\r\n");

    IsdnAdapter modem;
    modem.behaviour().plain_modem = true;
    EXPECT_EQ(Send(modem, "ATI\r").find("ISDN Tamrisk"), std::string::npos);
    EXPECT_NE(Send(modem, "AT **PTP\r").find("ERROR"), std::string::npos);

    IsdnAdapter stuck;
    stuck.behaviour().fixed["ISDN"] = "0";
    stuck.behaviour().error_on = {"AT**PROT="};
    stuck.behaviour().omit_ok = true;
    Send(stuck, "AT ** ISDN=5\r");
    EXPECT_EQ(Send(stuck, "AT **ISDN\r"), "AT **ISDN\r\r\n" + isdnsim::SwitchTypeInfo(0));
    EXPECT_EQ(Send(stuck, "AT ** PROT=3\r"), "AT ** PROT=3\r\r\n");
    EXPECT_EQ(stuck.settings().switch_type, 5);
}
