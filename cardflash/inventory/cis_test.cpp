// The CIS over bytes: the CRC, the names, function id and plug-and-play id, walks that stop at
// the held length, and tuple replacement.
#include "cardflash/inventory/cis.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "cardflash/inventory/cis_test_data.h"

namespace {

using namespace cistest;

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

// The end mark never lands on data: it follows a chain that runs to the end of the data, and a
// result that fills the buffer goes without one.
TEST(CisTest, ReplaceTupleWritesTheEndMarkOnlyWhereNoTupleIs) {
    const Bytes device = Tuple(0x01, {0xAA, 0xBB});
    const Bytes old_id = Tuple(0x21, {0x06, 0x00});
    const Bytes new_id = Tuple(0x21, {0x02, 0x00});
    Bytes full_chain = old_id;  // then device tuples up to the last byte of the buffer
    while (full_chain.size() < static_cast<size_t>(CCis::kBufferSize)) full_chain = Cat({full_chain, device});
    struct Case {
        const char* what;
        Bytes before;
        Bytes after;
    } cases[] = {
        {"replaced tuple ends the data", Cat({device, old_id}), Cat({device, new_id, {0xFF}})},
        {"tuple behind it ends the data", Cat({old_id, device}), Cat({new_id, device, {0xFF}})},
        {"end mark present", Cat({old_id, {0xFF}}), Cat({new_id, {0xFF}})},
        {"padding behind the end mark", Cat({old_id, {0xFF, 0x00, 0x00}}), Cat({new_id, {0xFF, 0x00, 0xFF}})},
        {"null bytes behind the data", Cat({old_id, {0x00, 0x00}}), Cat({new_id, {0x00, 0xFF}})},
        {"buffer full", full_chain, [&] {
             Bytes b = full_chain;
             std::copy(new_id.begin(), new_id.end(), b.begin());
             return b;
         }()},
    };
    for (const Case& c : cases) {
        CCis cis = Loaded(c.before);
        ASSERT_TRUE(cis.ReplaceTuple(new_id.data())) << c.what;
        EXPECT_EQ(Bytes(cis.data(), cis.data() + cis.GetLength()), c.after) << c.what;
    }
}

}  // namespace
