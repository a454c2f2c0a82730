// Reading the adapter's replies, built with the simulator's own reply layouts, and the rules of
// the configuration program that need no window.
#include <gtest/gtest.h>

#include <string>

#include "dialconf/adapter_replies.h"
#include "dialconf/config_rules.h"
#include "simulators/isdn/isdn_replies.h"

using isdnsim::Reply;

TEST(AdapterReplies, ReadFieldsAtTheirPositions) {
    CString n;
    ASSERT_TRUE(MsnFromReply(Reply("AT **MSN\r", isdnsim::MsnInfo("4930123")).c_str(), &n));
    EXPECT_EQ(n, "4930123");
    ASSERT_TRUE(MsnFromReply(Reply("AT **MSN\r", isdnsim::MsnInfo("*")).c_str(), &n));
    EXPECT_EQ(n, "*");

    CString spid;
    ASSERT_TRUE(SpidFromReply(Reply("AT**SPID1\r", isdnsim::SpidInfo("0155512340101")).c_str(), &spid));
    EXPECT_EQ(spid, "0155512340101");
    ASSERT_TRUE(SpidFromReply(Reply("AT**SPID2\r", isdnsim::SpidInfo("-")).c_str(), &spid));
    EXPECT_EQ(spid, "-");

    EXPECT_EQ(FirmwareFromReply(Reply("ATI3\r", isdnsim::FirmwareInfo("2.14.07")).c_str()), "2.14.07");
    // Whatever stands at positions 8 to 14 is the version.
    EXPECT_EQ(FirmwareFromReply("ATI3\r\r\nXabcdefghij"), "abcdefg");

    EXPECT_EQ(PointToPointFromReply(Reply("AT **PTP\r", isdnsim::PointToPointInfo(true)).c_str()), "Point to Multipoint");
    EXPECT_EQ(PointToPointFromReply(Reply("AT **PTP\r", isdnsim::PointToPointInfo(false)).c_str()), "Point to Point");
}

TEST(AdapterReplies, ShortRepliesGiveNothingAndNeverReadPastTheEnd) {
    CString n = "unchanged";
    EXPECT_FALSE(MsnFromReply("AT **MSN\r", &n));
    EXPECT_FALSE(MsnFromReply("AT **MSN\r\r\nMSN: \r\nOK\r\n", &n));  // no digit, no '*'
    EXPECT_FALSE(SpidFromReply("AT**SPID1\r\r", &n));
    EXPECT_EQ(n, "unchanged");
    EXPECT_EQ(FirmwareFromReply("ATI3\r"), "");
    EXPECT_EQ(FirmwareFromReply("ATI3\r\r\nV2.1"), "2.1");
}

TEST(AdapterReplies, NamesTestedInTheirOrder) {
    struct {
        int number;
        const char* name;
    } protocols[] = {{10, "X.75"}, {0, "V.110"}, {13, "V.120"}, {3, "HDLC-PPP"},
                     {31, "ML-PPP"}, {22, "T.70-BTX"}, {5, "Byte Transparent"}};
    for (const auto& p : protocols) {
        EXPECT_EQ(ProtocolFromName(p.name), p.number) << p.name;
        EXPECT_EQ(ProtocolNameFromReply(Reply("AT ** PROT\r", isdnsim::ProtocolInfo(p.number)).c_str()), p.name);
    }
    EXPECT_EQ(ProtocolFromName("ISDN-X"), -1);
    EXPECT_EQ(ProtocolNameFromReply("AT ** PROT\r\r\nV.110 over HDLC\r\nOK\r\n"), "HDLC-PPP");
    EXPECT_EQ(ProtocolNameFromReply("AT ** PROT\r\r\nPROT=99\r\nOK\r\n"), "");

    for (int type : {0, 5, 6, 7, 8})
        EXPECT_EQ(SwitchTypeFromReply(Reply("AT **ISDN\r", isdnsim::SwitchTypeInfo(type)).c_str()), type);
    EXPECT_EQ(SwitchTypeFromReply(Reply("AT **ISDN\r", "").c_str()), -1);
}

TEST(ReplyBuffer, StaysTerminatedAndBounded) {
    ReplyBuffer b;
    std::string big(3000, 'x');
    EXPECT_EQ(b.Append(big.data(), 1000), 1000);
    EXPECT_EQ(b.Append(big.data(), 2000), ReplyBuffer::kSize - 1 - 1000);
    EXPECT_TRUE(b.Full());
    EXPECT_EQ(b.Append("OK\r", 3), 0);
    EXPECT_EQ(b.Text().GetLength(), ReplyBuffer::kSize - 1);
    EXPECT_FALSE(b.Contains("OK\r"));
    b.Clear();
    b.Append("AT\r\0\r\nOK\r\n", 10);  // a NUL from line noise does not hide what follows
    EXPECT_TRUE(b.Contains("OK\r\n"));
}

TEST(ConfigRules, WindowsKinds) {
    struct {
        unsigned platform, major, minor, build;
        VersionVerdict verdict;
        int kind;
    } cases[] = {
        {1, 4, 0, 950, VersionVerdict::Run, 1},          {1, 4, 0, 0x040003B6, VersionVerdict::Run, 1},
        {1, 4, 0, 1111, VersionVerdict::Run, 2},         {1, 4, 10, 2222, VersionVerdict::Run, 3},
        {1, 4, 90, 3000, VersionVerdict::Run, 3},        {2, 4, 0, 1381, VersionVerdict::Run, 4},
        {2, 5, 0, 2195, VersionVerdict::Run, 5},         {2, 6, 1, 7601, VersionVerdict::Run, 0},
        {2, 3, 51, 1057, VersionVerdict::RefuseNt3, 0},  {0, 3, 10, 0, VersionVerdict::RefuseWin32s, 0},
    };
    for (const auto& c : cases) {
        int kind = -7;
        EXPECT_EQ(WindowsKindOf(c.platform, c.major, c.minor, c.build, &kind), c.verdict) << c.major << "." << c.minor;
        EXPECT_EQ(kind, c.kind) << c.major << "." << c.minor << " build " << c.build;
    }
}

TEST(ConfigRules, ManufacturerValueMustLieInsideTheEntry) {
    EXPECT_TRUE(ManufacturerMatches("Dorvex", "Dorvex Networks"));
    EXPECT_FALSE(ManufacturerMatches("Dorvex Networks Inc", "Dorvex Networks"));
    EXPECT_TRUE(ManufacturerMatches("", "Dorvex Networks"));
}

TEST(ConfigRules, SerlinkGetsTheWholePortNumber) {
    EXPECT_EQ(SerlinkComPort("COM3"), "3");
    EXPECT_EQ(SerlinkComPort("COM12"), "12");
    EXPECT_EQ(SerlinkComPort("COM"), "");
}

TEST(ConfigRules, NumbersAndSpids) {
    struct {
        const char* text;
        bool number, spid, spid_may_be_empty;
    } cases[] = {
        {"*", true, false, false},
        {"", false, false, true},
        {"4930123", true, true, true},
        {"12345678901234567890", true, true, true},
        {"123456789012345678901", false, false, false},
        {"12a", false, false, false},
        {" * ", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidNumber(c.text), c.number) << "'" << c.text << "'";
        EXPECT_EQ(IsValidSpid(c.text, false), c.spid) << "'" << c.text << "'";
        EXPECT_EQ(IsValidSpid(c.text, true), c.spid_may_be_empty) << "'" << c.text << "'";
    }
}

TEST(ConfigRules, SwitchTypesBothWays) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(DChannelNameOf(SwitchTypeFromName(kDChannelNames[i])), kDChannelNames[i]);
    EXPECT_EQ(SwitchTypeFromName(""), 255);
    EXPECT_FALSE(SwitchTypeUsesMsn(255));
    EXPECT_TRUE(SwitchTypeUsesMsn(8));
    EXPECT_EQ(DChannelNameOfStored(""), kDss1);
    EXPECT_EQ(DChannelNameOfStored("8"), "France - VN4");
    EXPECT_EQ(DChannelNameOfStored("5"), "USA - National1 and National2");
    EXPECT_EQ(DChannelNameOfStored("3"), "");
    EXPECT_EQ(DChannelNameOfStored("08"), "");
}
