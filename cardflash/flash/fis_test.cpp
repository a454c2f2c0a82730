// The information block of a firmware image: the block test, each entry kind's get and set, the
// checksum, and damaged directories.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "cardflash/flash/fis.h"
#include "fw_test_files.h"

using fwtest::Bytes;
using fwtest::FisImage;

namespace {

std::unique_ptr<CFis> Held(const Bytes& image) {
    auto fis = std::make_unique<CFis>();
    EXPECT_EQ(fis->Attach(image.data(), static_cast<int>(image.size())), 0);
    return fis;
}

Bytes Out(const CFis& fis) {
    Bytes b(static_cast<size_t>(fis.GetSize()));
    EXPECT_EQ(fis.CopyOut(b.data(), static_cast<int>(b.size())), 0);
    return b;
}

bool ChecksumHolds(const Bytes& b) {
    return (b[b.size() - 2] | (b[b.size() - 1] << 8)) == fwtest::Sum16(b, 0, b.size() - 2);
}

}  // namespace

TEST(FisBlock, RecognisesTheBlockByItsFirstEntry) {
    Bytes good = FisImage().Build();
    Bytes wrong_code = good;
    wrong_code[0x4000] = 2;
    Bytes wrong_name = good;
    wrong_name[0x4007] = 'X';
    Bytes too_short(good.begin(), good.begin() + 0x4007);
    EXPECT_TRUE(CFis::IsFisImage(good.data(), static_cast<int>(good.size())));
    EXPECT_FALSE(CFis::IsFisImage(wrong_code.data(), static_cast<int>(wrong_code.size())));
    EXPECT_FALSE(CFis::IsFisImage(wrong_name.data(), static_cast<int>(wrong_name.size())));
    EXPECT_FALSE(CFis::IsFisImage(too_short.data(), static_cast<int>(too_short.size())));
}

TEST(FisBlock, GetsEachEntryKind) {
    auto fis_held = Held(fwtest::FullFisImage().Build());
    const CFis& fis = *fis_held;
    struct Case {
        int code;
        Bytes value;
        int length;
    } cases[] = {
        {0x01, fwtest::Text("FWINFO"), 6},
        {0x02, {0xAA, 0xBB, 0xCC}, 3},
        {0x10, {1, 2, 3, 4}, 4},
        {0x20, fwtest::Text(std::string("1.75\0", 5)), -1},
        {0x21, fwtest::Text(std::string("OLD\0\0\0\0\0", 8)), 7},
        {0x24, fwtest::Text(std::string("ONE@@TWO\0", 9)), 8},
        {0x30, {9, 8, 7, 6}, 4},
        {0x40, {0x11, 0x22}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Bytes buf(300, 0xCD);
        int length = 12345;
        ASSERT_EQ(fis.Get(c.code, buf.data(), static_cast<int>(buf.size()), &length), 0);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + c.value.size()), c.value);
    }
    char buf[16];
    int length = 0;
    EXPECT_EQ(fis.Get(0x50, buf, sizeof buf, &length), 65);
    EXPECT_EQ(fis.Get(0x24, buf, 8, &length), 68);  // "ONE@@TWO" and its NUL need 9
    EXPECT_EQ(fis.Get(0x01, buf, 5, &length), 68);
    CFis empty;
    EXPECT_EQ(empty.Get(0x01, buf, sizeof buf, &length), 65);
}

TEST(FisBlock, SetsEachSettableKindAndKeepsTheChecksum) {
    const Bytes original = fwtest::FullFisImage().Build();
    {
        auto fis_held = Held(original);
    CFis& fis = *fis_held;
        const Bytes cis(10, 0x42);
        ASSERT_EQ(fis.Set(0x10, cis.data(), 10), 0);
        Bytes want = original;
        std::memcpy(&want[0x4100], cis.data(), 10);
        std::memset(&want[0x410A], 0xFF, 246);
        const size_t entry = 0x4008 + 2 + 3;  // after FWINFO and the 3-byte inline entry
        fwtest::Put16(&want, entry + 2 + 2, 10);
        fwtest::Put16(&want, want.size() - 2, fwtest::Sum16(want, 0, want.size() - 2));
        EXPECT_EQ(Out(fis), want);
    }
    {
        auto fis_held = Held(original);
    CFis& fis = *fis_held;
        ASSERT_EQ(fis.Set(0x24, "AB@@CD", 6), 0);
        char buf[32];
        int length = 0;
        ASSERT_EQ(fis.Get(0x24, buf, sizeof buf, &length), 0);
        EXPECT_STREQ(buf, "AB@@CD");
        EXPECT_EQ(length, 6);
        const Bytes b = Out(fis);
        EXPECT_EQ(Bytes(b.begin() + 0x4500, b.begin() + 0x4508), fwtest::Text(std::string("AB\0\0\0\0\0\0", 8)));
        EXPECT_TRUE(ChecksumHolds(b));
        ASSERT_EQ(fis.Set(0x24, "XY", 2), 0);  // without "@@" the second text stays
        ASSERT_EQ(fis.Get(0x24, buf, sizeof buf, &length), 0);
        EXPECT_STREQ(buf, "XY@@CD");
    }
    {
        auto fis_held = Held(original);
    CFis& fis = *fis_held;
        EXPECT_EQ(fis.Set(0x21, "1234567", 7), 0);  // s - 1 characters fit
        const Bytes b = Out(fis);
        EXPECT_EQ(Bytes(b.begin() + 0x4400, b.begin() + 0x4408), fwtest::Text(std::string("1234567\0", 8)));
        EXPECT_TRUE(ChecksumHolds(b));
        ASSERT_EQ(fis.Set(0x21, "AB", 2), 0);  // the rest of the area is zero-filled
        const Bytes c = Out(fis);
        EXPECT_EQ(Bytes(c.begin() + 0x4400, c.begin() + 0x4408), fwtest::Text(std::string("AB\0\0\0\0\0\0", 8)));
    }
    {
        auto fis_held = Held(original);
    CFis& fis = *fis_held;
        const uint8_t settings[6] = {1, 2, 3, 4, 0, 0};
        ASSERT_EQ(fis.Set(0x30, settings, 6), 0);  // bytes beyond the field are zero
        const Bytes b = Out(fis);
        EXPECT_EQ(Bytes(b.begin() + 0x4600, b.begin() + 0x4604), (Bytes{1, 2, 3, 4}));
        EXPECT_TRUE(ChecksumHolds(b));
    }
}

// A caller clearing an item passes no value at all: the texts become empty, the CIS area unused.
TEST(FisBlock, NoValueClearsTextsAndTheCisArea) {
    const Bytes original = fwtest::FullFisImage().Build();
    struct Case {
        int code;
        size_t area;
        size_t area_size;
        uint8_t fill;
    } cases[] = {
        {0x21, 0x4400, 8, 0},
        {0x24, 0x4500, 8, 0},
        {0x10, 0x4100, 256, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        auto fis_held = Held(original);
        CFis& fis = *fis_held;
        ASSERT_EQ(fis.Set(c.code, nullptr, 0), 0);
        const Bytes b = Out(fis);
        EXPECT_EQ(Bytes(b.begin() + c.area, b.begin() + c.area + c.area_size), Bytes(c.area_size, c.fill));
        EXPECT_TRUE(ChecksumHolds(b));
    }
    auto fis_held = Held(original);
    EXPECT_EQ(fis_held->Set(0x30, nullptr, 0), 68);  // the settings field is only ever set whole
    EXPECT_EQ(Out(*fis_held), original);
}

TEST(FisBlock, RefusedSetsLeaveTheImageAsItWas) {
    const Bytes original = fwtest::FullFisImage().Build();
    const Bytes cis300(300, 1);
    const uint8_t long_settings[6] = {1, 2, 3, 4, 0, 5};
    const uint8_t short_settings[3] = {1, 2, 3};
    struct Case {
        const char* what;
        int code;
        const void* value;
        int length;
        int rc;
    } cases[] = {
        {"CIS longer than its area", 0x10, cis300.data(), 300, 68},
        {"text of the area's size", 0x21, "12345678", 8, 68},
        {"first text too long", 0x24, "12345678@@A", 11, 68},
        {"second text too long", 0x24, "A@@12345678", 11, 68},
        {"non-zero byte beyond the field", 0x30, long_settings, 6, 68},
        {"settings shorter than the field", 0x30, short_settings, 3, 68},
        {"the FWINFO entry", 0x01, "X", 1, 67},
        {"an inline entry of another code", 0x40, "X", 1, 67},
        {"a code the directory lacks", 0x22 + 0x30, "X", 1, 67},
        {"the version text", 0x20, "9.99", 4, 0},
        {"the inline entry 2", 0x02, "Q", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto fis_held = Held(original);
    CFis& fis = *fis_held;
        EXPECT_EQ(fis.Set(c.code, c.value, c.length), c.rc);
        EXPECT_EQ(Out(fis), original);
    }
}

TEST(FisBlock, DamagedDirectoriesAndAreasGiveTheirCodes) {
    const size_t size = 0x5000;
    struct Case {
        const char* what;
        Bytes image;
        int code;
        int get_rc;
        int set_rc;
    } cases[] = {
        {"text area past the end", FisImage(size).TextItem(0x21, 16, size - 8).Build(), 0x21, 69, 69},
        {"text area offset far past the end", FisImage(size).TextItem(0x22, 16, 0xFFFFFFF0).Build(), 0x22, 69, 69},
        {"zero-sized text area", FisImage(size).TextItem(0x23, 0, 0x4100).Build(), 0x23, 69, 69},
        {"CIS area past the end", FisImage(size).Cis(4, size - 100).Build(), 0x10, 69, 69},
        {"CIS used length over 256", FisImage(size).Cis(300, 0x4100).Build(), 0x10, 69, 0},
        {"second text area past the end", FisImage(size).Pair(8, 0x4100, size).Build(), 0x24, 69, 69},
        {"descriptor too short", FisImage(size).Entry(0x25, {8, 0, 0}).Build(), 0x25, 69, 69},
        {"version text offset past the end", FisImage(size).Entry(0x20, fwtest::Cat({fwtest::Le16(0), fwtest::Le32(size)})).Build(), 0x20, 69, 69},
        {"settings area past the end", FisImage(size).TextItem(0x30, 4, size - 2).Build(), 0x30, 69, 69},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto fis_held = Held(c.image);
    CFis& fis = *fis_held;
        Bytes buf(400);
        int length = 0;
        EXPECT_EQ(fis.Get(c.code, buf.data(), static_cast<int>(buf.size()), &length), c.get_rc);
        const Bytes value(4, 0);
        EXPECT_EQ(fis.Set(c.code, value.data(), 4), c.set_rc);
    }

    // A directory without its 0xFF end that runs to the end of the image, and an entry whose
    // length passes the end: the walk stops at the image's end.
    Bytes open_end(0x4010, 0x21);
    std::memcpy(&open_end[0x4000], "\x01\x06" "FWINFO", 8);
    Bytes past_end = open_end;
    past_end[0x4008] = 0x22;
    past_end[0x4009] = 0xF0;
    for (const Bytes& image : {open_end, past_end}) {
        auto fis_held = Held(image);
    CFis& fis = *fis_held;
        char buf[64];
        int length = 0;
        EXPECT_EQ(fis.Get(0x30, buf, sizeof buf, &length), 65);
        EXPECT_EQ(fis.Set(0x30, "X", 1), 67);
    }
    // Not an information-block image at all.
    auto plain_held = Held(Bytes(0x5000, 0));
    CFis& plain = *plain_held;
    char buf[8];
    int length = 0;
    EXPECT_EQ(plain.Get(0x01, buf, sizeof buf, &length), 66);
    EXPECT_EQ(plain.Set(0x21, "X", 1), 66);
}

TEST(FisBlock, ChecksumIsTheSumOfAllOtherBytes) {
    Bytes image = FisImage(0x4100).Build();
    image[0x10] = 0xFF;
    image[0x4050] = 0x80;
    auto fis_held = Held(image);
    CFis& fis = *fis_held;
    fis.UpdateChecksum();
    const Bytes b = Out(fis);
    uint32_t sum = 0;
    for (size_t i = 0; i + 2 < b.size(); ++i) sum += b[i];
    EXPECT_EQ(b[b.size() - 2], sum & 0xFF);
    EXPECT_EQ(b[b.size() - 1], (sum >> 8) & 0xFF);
    EXPECT_EQ(fis.CopyOut(Bytes(10).data(), 10), 68);
}
