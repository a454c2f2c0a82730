// The adapter model: settings survive across commands, and each way of misbehaving does what a
// test that asks for it relies on.
#include <gtest/gtest.h>

#include <cstring>

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

// The raw-mode exchanges a test sets: each arrival of a command answered or not as its exchange
// says, with its junk and delay, and "ATCM3" left unanswered keeps the adapter out of framed mode.
TEST(IsdnAdapter, RawDialogueAnswersAsItsExchangesSay) {
    IsdnAdapter a;
    isdnsim::AtExchange late;
    late.answered_first = 1;
    late.answer_from = 3;
    a.dialogue().Set("at", late);
    isdnsim::AtExchange version;
    version.answer = "V9.99";
    version.junk = "\x01garbage\r\n";
    version.delay_ms = 300;
    a.dialogue().Set("ATI3", version);
    isdnsim::AtExchange mute;
    mute.never = true;
    a.dialogue().Set("atcm3", mute);

    struct Case {
        const char* command;
        const char* reply;
        unsigned delay;
    } cases[] = {
        {"at\n\r", "at\n\r\r\n\r\nOK\r\n", 0},  // the wake-up
        {"at\n\r", "", 0},                       // deaf: the first after it
        {"at\n\r", "", 0},                       // and the second
        {"at\n\r", "at\n\r\r\n\r\nOK\r\n", 0},  // answered from the third
        {"ati3\n\r", "\x01garbage\r\nati3\n\r\r\nV9.99\r\nOK\r\n", 300},
        {"atcm3\n\r", "", 0},
        {"ati\n\r", nullptr, 0},  // no exchange: the usual reply
    };
    for (const Case& c : cases) {
        std::vector<unsigned> delays;
        auto replies = a.Receive(c.command, std::strlen(c.command), &delays);
        ASSERT_EQ(replies.size(), 1u) << c.command;
        ASSERT_EQ(delays.size(), 1u);
        if (c.reply)
            EXPECT_EQ(replies[0], c.reply) << c.command;
        else
            EXPECT_NE(replies[0].find(isdnsim::kIdentity), std::string::npos);
        EXPECT_EQ(delays[0], c.delay) << c.command;
    }
    EXPECT_FALSE(a.TakeFramedRequest());
    EXPECT_EQ(a.dialogue().Arrivals("AT"), 4u);
}
