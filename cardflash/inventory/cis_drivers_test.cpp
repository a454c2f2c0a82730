// The CIS through the card drivers and from files.
#include "cardflash/inventory/cis.h"

#include <gtest/gtest.h>

#include <string>

#include "cardflash/inventory/cis_test_data.h"
#include "cardflash/inventory/nt_pcmcia.h"
#include "cardflash/inventory/test_util.h"
#include "standins/drivers.h"
#include "winetest/version.h"

namespace {

using namespace cistest;

bool IsNT() {
    std::string v = winetest::RequestedVersion();
    return v == "nt351" || v == "nt40" || v == "win2k";
}

TEST(CisTest, FilesLoadAndSave) {
    invtest::TempFile file("card.cis");
    CCis cis;
    EXPECT_EQ(cis.LoadFromFile(file.path().c_str()), 60);
    EXPECT_EQ(cis.GetSocket(), -1);
    EXPECT_EQ(cis.SaveToFile(file.path().c_str()), 64);  // never created

    file.Write(std::string(1025, '\x01'));
    EXPECT_EQ(cis.LoadFromFile(file.path().c_str()), 62);
    EXPECT_FALSE(cis.IsValid());
    file.Write(std::string(1024, '\x02'));
    EXPECT_EQ(cis.LoadFromFile(file.path().c_str()), 0);
    EXPECT_TRUE(cis.IsValid());
    EXPECT_EQ(cis.GetLength(), 1024);

    Bytes card = CardCis();
    cis.SetCisData(card.data(), static_cast<int>(card.size()));
    EXPECT_EQ(cis.SaveToFile(file.path().c_str()), 0);
    EXPECT_EQ(file.Read(), std::string(card.begin(), card.end()));

}

class CisDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        drivers_.Add("\\\\.\\Quenby.VXD", &card_info_);
        drivers_.Add("\\\\.\\pcmcia0", &pcmcia_);
    }
    standins::StandinDrivers drivers_;
    standins::CardInfoDriver card_info_;
    standins::NtPcmciaDriver pcmcia_;
};

TEST_F(CisDrivers, Windows9xCardInformationDriver) {
    Bytes card = CardCis();
    card_info_.SetCard("PCMCIA\\ACME-NET\\1", card);
    CCis cis;
    ASSERT_TRUE(cis.ReadCis("PCMCIA\\ACME-NET\\1"));
    EXPECT_EQ(cis.GetSocket(), -2);
    EXPECT_EQ(cis.GetLength(), 256);
    EXPECT_EQ(Bytes(cis.data(), cis.data() + card.size()), card);
    CString id;
    cis.GetPnpId(&id);
    EXPECT_EQ(cis.ComputeCrc(), CardCrcByHand());

    ASSERT_EQ(card_info_.opens().size(), 1u);
    drv::OpenRequest o = card_info_.opens()[0];
    EXPECT_EQ(o.access, 0u);
    EXPECT_EQ(o.share, 0u);
    EXPECT_EQ(o.disposition, 0u);
    EXPECT_EQ(o.attributes, 4u);
    ASSERT_EQ(card_info_.requests().size(), 1u);
    standins::RecordedRequest r = card_info_.requests()[0];
    EXPECT_EQ(r.code, 1u);
    EXPECT_EQ(r.out_size, 736u);
    ASSERT_EQ(r.input.size(), 736u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.input[2])), "PCMCIA\\ACME-NET\\1");
    EXPECT_EQ(r.input[734], 0x46);
    EXPECT_EQ(r.input[735], 0x11);
    EXPECT_EQ(card_info_.open_handles(), 0);
}

TEST_F(CisDrivers, Windows9xDriverFailuresCloseTheDriver) {
    card_info_.SetCard("X", CardCis());
    card_info_.SetStatus(5);
    CCis cis;
    EXPECT_FALSE(cis.ReadCis("X"));
    EXPECT_FALSE(cis.IsValid());
    EXPECT_EQ(card_info_.open_handles(), 0);

    // An over-long id is cut to the field and still terminated inside it.
    card_info_.SetStatus(0);
    EXPECT_FALSE(cis.ReadCis(CString('I', 600)));
    standins::RecordedRequest r = card_info_.requests().back();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.input[2])), std::string(471, 'I'));
    EXPECT_EQ(r.input[734], 0x46);
    EXPECT_EQ(card_info_.open_handles(), 0);

    card_info_.FailOpens(2);
    EXPECT_FALSE(cis.ReadCis("X"));
}

TEST_F(CisDrivers, NtSocketReadThroughThePcmciaDriver) {
    Bytes card = CardCis();
    pcmcia_.SetCard(3, card);
    CCis cis;
    if (!IsNT()) {
        EXPECT_FALSE(cis.ReadCis("NT4:3"));
        EXPECT_TRUE(pcmcia_.opens().empty());
        EXPECT_TRUE(card_info_.opens().empty());
        EXPECT_TRUE(drivers_.unknown_opens().empty());
        return;
    }
    ASSERT_TRUE(cis.ReadCis("NT4:3"));
    EXPECT_EQ(cis.GetSocket(), 3);
    EXPECT_EQ(cis.GetLength(), 1024);
    EXPECT_EQ(cis.ComputeCrc(), CardCrcByHand());
    ASSERT_EQ(pcmcia_.opens().size(), 1u);
    drv::OpenRequest o = pcmcia_.opens()[0];
    EXPECT_EQ(o.access, 0xC0000000u);
    EXPECT_EQ(o.share, 3u);
    EXPECT_EQ(o.disposition, 3u);
    standins::RecordedRequest r = pcmcia_.requests()[0];
    EXPECT_EQ(r.code, 0x42EE0u);
    EXPECT_EQ(r.out_size, 1024u);
    Bytes block(80, 0);
    block[0] = 3;
    block[4] = 1;
    EXPECT_EQ(r.input, block);
    EXPECT_EQ(pcmcia_.open_handles(), 0);

    EXPECT_FALSE(cis.ReadCisNt4(5));  // no card there
    EXPECT_FALSE(cis.IsValid());
    EXPECT_EQ(pcmcia_.open_handles(), 0);
}

TEST_F(CisDrivers, NtConfigurationCountsAreHeldToTheReply) {
    standins::NtPcmciaDriver::Config c;
    c.irq = 9;
    c.io = {{0x300, 0x1F}, {0x2F8, 0x07}};
    c.io_count = 6;
    c.mem = {{0xD0000, 0x1000}, {0xD4000, 0x2000}};
    c.mem_count = 40;
    pcmcia_.SetConfig(1, c);
    CNTPcmcia nt;
    ResourceSummary s;
    ASSERT_TRUE(nt.GetConfiguration(1, &s));
    EXPECT_EQ(s.ioCount, 2);
    EXPECT_EQ(s.ioBase[0], 0x300);
    EXPECT_EQ(s.ioLength[0], 0x20);
    EXPECT_EQ(s.ioBase[1], 0x2F8);
    EXPECT_EQ(s.ioLength[1], 8);
    EXPECT_EQ(s.memCount, 5);
    EXPECT_EQ(s.memBase[1], 0xD4000u);
    EXPECT_EQ(s.memLength[1], 0x2000u);
    EXPECT_EQ(s.irqCount, 1);
    EXPECT_EQ(s.irq[0], 9);
    EXPECT_EQ(s.dmaCount, 0);
    EXPECT_EQ(pcmcia_.requests()[0].code, 0x42EE4u);
    EXPECT_EQ(pcmcia_.requests()[0].out_size, 80u);
    EXPECT_FALSE(nt.GetConfiguration(2, &s));
    EXPECT_EQ(pcmcia_.open_handles(), 0);
}

}  // namespace
