// .PAK image files: the header and texts, the image behind the entry table, the flash engine's
// readers, the model table, and the folder list.
#include <gtest/gtest.h>

#include <algorithm>

#include "cardflash/flash/pak_file.h"
#include "fw_test_files.h"

using fwtest::Bytes;
using fwtest::PakEntryLayout;

namespace {

const std::string kName = "MDM56K";
const std::string kDesc = "Modem firmware 2.4";

// A two-entry file: CIS block at 0x800, then the image at 0x3000.
Bytes TwoEntryPak(const Bytes& cis, const Bytes& image, uint16_t card_id = 0x1146) {
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(kName, kDesc));
    return fwtest::PakFile(0x0204, card_id, 2, 0, kName, kDesc,
                           {{0x0103, table + 28, 0x800, static_cast<uint32_t>(cis.size())},
                            {0x8000, table + 28 + static_cast<uint32_t>(cis.size()), 0x3000,
                             static_cast<uint32_t>(image.size())}},
                           fwtest::Cat({cis, image}));
}

Bytes OneEntryPak(const Bytes& image, const std::string& name = kName) {
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(name, kDesc));
    return fwtest::PakFile(0x0110, 0x1143, 0, 1, name, kDesc,
                           {{0x8000, table + 14, 0x3000, static_cast<uint32_t>(image.size())}}, image);
}

}  // namespace

TEST(PakFile, ReadsHeaderNameAndDescription) {
    fwtest::TempFolder dir;
    const std::string path = dir.Write("a.pak", TwoEntryPak(Bytes(8, 0xC1), Bytes(100, 0x5A)));
    CPakFile pak;
    ASSERT_TRUE(pak.ReadHeader(path.c_str()));
    EXPECT_TRUE(pak.IsLoaded());
    EXPECT_EQ(pak.GetMagic(), 0x4352);
    EXPECT_EQ(pak.GetFormat(), 0x0103);
    EXPECT_EQ(pak.GetVersion(), 0x0204);
    EXPECT_STREQ(pak.GetVersionText(), "2.4");
    EXPECT_EQ(pak.GetCardId(), 0x1146);
    EXPECT_EQ(pak.GetVariant(), 2);
    EXPECT_EQ(pak.GetTableOffset(), fwtest::PakTableOffset(kName, kDesc));
    EXPECT_STREQ(pak.GetName(), kName.c_str());
    EXPECT_STREQ(pak.GetDescription(), kDesc.c_str());
}

TEST(PakFile, DamagedHeadersAreNotPakFiles) {
    const Bytes good = OneEntryPak(Bytes(50, 1));
    const size_t name_at = 14, desc_at = 14 + kName.size() + 1 + 2;
    auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + n); };
    Bytes magic = good;
    magic[0] = 0x43;
    magic[1] = 0x52;
    Bytes long_name = good;  // the name's NUL is not within the first 256 bytes
    long_name.insert(long_name.begin() + name_at, 300, 'N');
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"magic bytes swapped", magic},
        {"cut in the header", cut(11)},
        {"cut before the name", cut(13)},
        {"cut in the name", cut(name_at + 3)},
        {"cut before the description", cut(desc_at - 1)},
        {"cut in the description", cut(desc_at + 4)},
        {"name runs past 256 bytes", long_name},
    };
    fwtest::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Write("bad.pak", c.file);
        CPakFile pak;
        EXPECT_FALSE(pak.ReadHeader(path.c_str()));
        EXPECT_FALSE(pak.IsLoaded());
        EXPECT_STREQ(pak.GetName(), "");
        pak::Header h;
        EXPECT_EQ(ReadPakHeader(path.c_str(), &h), c.file.size() >= 12 && c.file[0] == 0x52);
        int length = 0;
        EXPECT_FALSE(pak.GetImageLength(path.c_str(), &length));
        EXPECT_EQ(length, -1);
    }
    CPakFile pak;
    EXPECT_FALSE(pak.ReadHeader(dir.File("missing.pak").c_str()));
}

TEST(PakFile, TheImageIsTheDataOfTheLastEntry) {
    fwtest::TempFolder dir;
    Bytes image(300);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
    for (const Bytes& file : {TwoEntryPak(Bytes(20, 0xC1), image), OneEntryPak(image)}) {
        const std::string path = dir.Write("img.pak", file);
        fwtest::ReadHolder holder(path);
        CPakFile pak;
        int length = 0;
        ASSERT_TRUE(pak.GetImageLength(path.c_str(), &length));
        ASSERT_EQ(length, 300);
        Bytes got(300);
        EXPECT_EQ(pak.ReadImage(path.c_str(), got.data(), 300), 0);
        EXPECT_EQ(got, image);
        EXPECT_EQ(pak.ReadImage(path.c_str(), got.data(), 299), 130);
    }
}

TEST(PakFile, DamagedEntryTablesGiveNoImage) {
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(kName, kDesc));
    const Bytes data(40, 7);
    struct Case {
        const char* what;
        Bytes file;
        uint32_t data_total;
    } cases[] = {
        {"no entry with bit 15", fwtest::PakFile(0x100, 0x1143, 0, 0, kName, kDesc,
                                                 {{0x0103, table + 28, 0x800, 4}, {0x0001, table + 28, 0x3000, 4}}, {}), 0},
        {"last entry is not exactly 0x8000", fwtest::PakFile(0x100, 0x1143, 0, 0, kName, kDesc,
                                                             {{0x8010, table + 14, 0x3000, 40}}, data), 40},
        {"data offset past the end", fwtest::PakFile(0x100, 0x1143, 0, 0, kName, kDesc,
                                                     {{0x8000, 0x10000, 0x3000, 40}}, data), 0},
        {"entry cut short", fwtest::PakFile(0x100, 0x1143, 0, 0, kName, kDesc, {}, Bytes{0x00, 0x80, 1, 2}), 0},
        {"table offset past the end", [&] {
             Bytes b = fwtest::PakFile(0x100, 0x1143, 0, 0, kName, kDesc, {{0x8000, table + 14, 0x3000, 40}}, data);
             fwtest::Put16(&b, 10, 0xFFF0);
             return b;
         }(), 0},
    };
    fwtest::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Write("bad.pak", c.file);
        CPakFile pak;
        int length = 0;
        EXPECT_FALSE(pak.GetImageLength(path.c_str(), &length));
        Bytes buf(100);
        EXPECT_EQ(pak.ReadImage(path.c_str(), buf.data(), 100), 130);
        EXPECT_EQ(pak.CheckImageInfo(path.c_str()), 122);
        EXPECT_EQ(GetPakDataTotal(path.c_str()), c.data_total);
    }
}

TEST(PakFile, CheckImageInfoLooksForItem0x30) {
    fwtest::TempFolder dir;
    const Bytes with = fwtest::FisImage().TextItem(0x30, 4, 0x4100).Build();
    const Bytes without = fwtest::FisImage().Build();
    CPakFile pak;
    EXPECT_EQ(pak.CheckImageInfo(dir.Write("with.pak", TwoEntryPak(Bytes(4, 1), with)).c_str()), 0);
    EXPECT_EQ(pak.CheckImageInfo(dir.Write("without.pak", OneEntryPak(without)).c_str()), 121);
    EXPECT_EQ(pak.CheckImageInfo(dir.Write("plain.pak", OneEntryPak(Bytes(0x5000, 0))).c_str()), 1);
}

TEST(PakFile, FlashEngineReaders) {
    fwtest::TempFolder dir;
    const std::string path = dir.Write("e.pak", TwoEntryPak(Bytes(16, 1), Bytes(1000, 2)));
    pak::Header h;
    ASSERT_TRUE(ReadPakHeader(path.c_str(), &h));
    EXPECT_EQ(h.card_id, 0x1146);
    EXPECT_EQ(GetPakDataTotal(path.c_str()), 1016u);
    pak::Entry e;
    ASSERT_TRUE(ReadPakEntry(path.c_str(), h, 0, &e));
    EXPECT_EQ(e.flags, 0x0103);
    EXPECT_EQ(e.flash_address, 0x800u);
    EXPECT_EQ(e.length, 16u);
    ASSERT_TRUE(ReadPakEntry(path.c_str(), h, 1, &e));
    EXPECT_EQ(e.flags, 0x8000);
    EXPECT_EQ(e.data_offset, h.table_offset + 28u + 16u);
    EXPECT_EQ(e.flash_address, 0x3000u);
    EXPECT_FALSE(ReadPakEntry(path.c_str(), h, 100, &e));
    EXPECT_EQ(GetPakDataTotal(dir.File("missing.pak").c_str()), 0u);
}

TEST(PakFile, CheckPakForCardComparesIdAndVariant) {
    pak::Header h;
    h.card_id = 0x1146;
    h.variant = 2;
    struct Case {
        uint16_t card_id;
        uint8_t variant;
        uint8_t options;
        int rc;
    } cases[] = {
        {0x1146, 2, 0, 0}, {0x1046, 2, 0, 0}, {0x1246, 2, 0, 2}, {0x1143, 2, 0, 2},
        {0x1146, 1, 0, 3}, {0x1146, 1, 1, 0}, {0x1046, 5, 1, 0},
    };
    for (const Case& c : cases) {
        h.options = c.options;
        EXPECT_EQ(CheckPakForCard(c.card_id, c.variant, h), c.rc) << std::hex << c.card_id;
    }
}

TEST(PakFile, ModelTableMatchesNameAndIdPart) {
    fwtest::TempFolder dir;
    struct Case {
        std::string pak_name;
        const char* pnp_id;
        bool for_card;
    } cases[] = {
        {"M56K", "PCMCIA\\DORVEX-MODEM_56K-77C2", true},
        {"EM56", "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A", true},   // the row is upper-cased first
        {"Em56", "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A", false},  // the .PAK name is not
        {"M56K", "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A", false},  // the id part belongs to another model
        {"M56K", "pcmcia\\dorvex-modem_56k-77c2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pak_name + " " + c.pnp_id);
        const std::string path = dir.Write("m.pak", OneEntryPak(Bytes(10), c.pak_name));
        CPakFile pak;
        EXPECT_EQ(pak.IsForCard(path.c_str(), c.pnp_id), c.for_card);
    }
    CPakFile pak;
    EXPECT_TRUE(pak.IsKnownModel("PCMCIA\\DORVEX-MODEM_56K-77C2"));
    EXPECT_FALSE(pak.IsKnownModel("PCMCIA\\OTHER-MAKER"));
}

TEST(PakList, ScansTheFolderForPakFiles) {
    fwtest::TempFolder dir;
    dir.Write("one.PAK", {});
    dir.Write("two.pak", {});
    dir.Write("three.mpk", {});
    CPakList list;
    EXPECT_EQ(list.Scan(dir.path().c_str()), 1);
    EXPECT_STREQ(list.GetFolder(), (dir.path() + "\\").c_str());
    ASSERT_EQ(list.GetFiles().GetSize(), 2);
    std::vector<std::string> names = {list.GetFiles()[0].c_str(), list.GetFiles()[1].c_str()};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.PAK", "two.pak"}));
    list.Scan(dir.path().c_str());
    EXPECT_EQ(list.GetFiles().GetSize(), 4);  // appended, not cleared
}
