#include "cardflash/inventory/cis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cardflash/inventory/nt_pcmcia.h"
#include "cardflash/inventory/test_util.h"
#include "standins/drivers.h"
#include "winetest/version.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool IsNT() {
    std::string v = winetest::RequestedVersion();
    return v == "nt351" || v == "nt40" || v == "win2k";
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

Bytes Tuple(uint8_t code, Bytes body) {
    Bytes t(body.size() + 2);
    t[0] = code;
    t[1] = static_cast<uint8_t>(body.size());
    std::copy(body.begin(), body.end(), t.begin() + 2);
    return t;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The reference CRC-16/ARC, bit by bit.
uint16_t BitwiseCrc(const Bytes& bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

const Bytes kDevice{0xD9, 0x01, 0xFF};
const Bytes kVers1 = Cat({{0x04, 0x01}, Text("Acme Corp"), Text("Net Card"), Text("Rev A"), {0xFF}});
const Bytes kConfig{0x01, 0x03, 0x00, 0x02, 0x0F};
const Bytes kCftable{0xC1, 0x01, 0x19, 0x76};
const Bytes kManfid{0x34, 0x12, 0x78, 0x56};
const Bytes kNodeId{0x04, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// A combined card: every id tuple, a function id, two function extensions (a non-LAN one first),
// a no-link tuple and a null byte, ended by the end tuple.
Bytes CardCis() {
    return Cat({Tuple(0x01, kDevice), {0x00}, Tuple(0x15, kVers1), Tuple(0x21, {0x06, 0x00}),
                Tuple(0x22, {0x01, 0x02}), Tuple(0x22, kNodeId), Tuple(0x1A, kConfig), Tuple(0x1B, kCftable),
                Tuple(0x20, kManfid), Tuple(0x14, {}), {0xFF}});
}

// What the id's CRC covers, put together by hand: whole bodies, and of VERS_1 the version bytes
// and the first two strings with their zero bytes.
uint16_t CardCrcByHand() {
    return BitwiseCrc(Cat({kDevice, {0x04, 0x01}, Text("Acme Corp"), Text("Net Card"), kConfig, kCftable, kManfid}));
}

CCis Loaded(const Bytes& b) {
    CCis cis;
    cis.SetCisData(b.data(), static_cast<int>(b.size()));
    return cis;
}

TEST(CisCrcTest, CheckValueAndTable) {
    const char* digits = "123456789";
    EXPECT_EQ(CCis::Crc16(0, reinterpret_cast<const uint8_t*>(digits), 9), 0xBB3D);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(CCis::Crc16(0, all.data(), 256), BitwiseCrc(all));
}

TEST(CisTest, NamesFunctionIdCrcAndPnpId) {
    CCis cis = Loaded(CardCis());
    CString s;
    ASSERT_TRUE(cis.GetManufacturerName(&s));
    EXPECT_EQ(s, "Acme Corp");
    ASSERT_TRUE(cis.GetProductName(&s));
    EXPECT_EQ(s, "Net Card");
    ASSERT_TRUE(cis.GetAdditionalInfo(&s));
    EXPECT_EQ(s, "Rev A");
    EXPECT_EQ(cis.GetFunctionId(), 0x06);

    uint16_t crc = CardCrcByHand();
    EXPECT_EQ(cis.ComputeCrc(), crc);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", crc);
    cis.GetCrcText(&s);
    EXPECT_EQ(s, hex);
    cis.GetPnpId(&s);
    CString want = CString("PCMCIA\\ACME_CORP-NET_CARD-") + hex;
    EXPECT_EQ(s, want.MakeUpper());

    uint8_t t[CCis::kTupleMax];
    ASSERT_TRUE(cis.HasNodeIdTuple(t));  // the extension with body byte 4, not the first one
    EXPECT_EQ(Bytes(t, t + 10), Tuple(0x22, kNodeId));
}

TEST(CisTest, EndOnlyAndShortCrcTexts) {
    CCis end = Loaded({0xFF});
    CString s;
    EXPECT_EQ(end.ComputeCrc(), 0);
    end.GetPnpId(&s);
    EXPECT_EQ(s, "PCMCIA\\--0");
    EXPECT_FALSE(end.GetManufacturerName(&s));
    EXPECT_EQ(end.GetFunctionId(), 0xFF);

    // Find a device body whose CRC has fewer than four digits; its text has no leading zeros.
    for (int i = 0; i < 65536; ++i) {
        Bytes body{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
        if (BitwiseCrc(body) >= 0x1000) continue;
        Loaded(Cat({Tuple(0x01, body), {0xFF}})).GetCrcText(&s);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%x", BitwiseCrc(body));
        EXPECT_EQ(s, hex);
        EXPECT_LT(s.GetLength(), 4);
        break;
    }
    CCis invalid;
    uint8_t t[CCis::kTupleMax];
    EXPECT_FALSE(invalid.FindTuple(0x15, t));
}

TEST(CisTest, WalksStopAtTheHeldLength) {
    // A VERS_1 tuple whose link runs past the data, and data with no end tuple at all.
    CCis cut = Loaded({0x01, 0x02, 0xAA, 0xBB, 0x15, 0x40, 'A', 'c'});
    CString s = "kept";
    EXPECT_FALSE(cut.GetManufacturerName(&s));
    EXPECT_EQ(s, "kept");
    EXPECT_EQ(cut.ComputeCrc(), BitwiseCrc({0xAA, 0xBB}));
    Bytes full(CCis::kBufferSize, 0x01);  // device tuples of link 1 up to the last byte
    CCis no_end = Loaded(full);
    no_end.ComputeCrc();
    uint8_t t[CCis::kTupleMax];
    EXPECT_FALSE(no_end.FindTuple(0x20, t));
    Bytes replacement = Tuple(0x01, {0x01, 0x01, 0x01});
    EXPECT_FALSE(no_end.ReplaceTuple(replacement.data()));  // would not fit 1024 bytes
    EXPECT_EQ(no_end.GetLength(), CCis::kBufferSize);

    CCis more;
    Bytes big(2000, 0x11);
    more.SetCisData(big.data(), 2000);
    EXPECT_EQ(more.GetLength(), CCis::kBufferSize);
}

TEST(CisTest, ReplaceTupleKeepsTheOthersInOrder) {
    CCis cis = Loaded(CardCis());
    Bytes mac = Tuple(0x22, {0x04, 0x06, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x00});  // two bytes longer
    ASSERT_TRUE(cis.ReplaceTuple(mac.data()));
    Bytes expected = Cat({Tuple(0x01, kDevice), {0x00}, Tuple(0x15, kVers1), Tuple(0x21, {0x06, 0x00}),
                          Tuple(0x22, {0x01, 0x02}), mac, Tuple(0x1A, kConfig), Tuple(0x1B, kCftable),
                          Tuple(0x20, kManfid), Tuple(0x14, {}), {0xFF}});
    EXPECT_EQ(Bytes(cis.data(), cis.data() + cis.GetLength()), expected);

    Bytes before(cis.data(), cis.data() + cis.GetLength());
    Bytes absent = Tuple(0x10, {0x01, 0x02, 0x03, 0x04, 0x05});
    EXPECT_FALSE(cis.ReplaceTuple(absent.data()));
    EXPECT_EQ(Bytes(cis.data(), cis.data() + cis.GetLength()), before);
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
