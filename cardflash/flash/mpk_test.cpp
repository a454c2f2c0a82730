// .MPK packages: the header check, damaged record tables and sections, record selection, the
// version text, the built image byte for byte, the .PAK writer and the folder scan.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "cardflash/flash/file_io.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/flash/pak_file.h"
#include "fw_test_files.h"

using fwtest::Bytes;
using fwtest::MpkRecordLayout;
using fwtest::MpkSection;

namespace {

const char kModemId[] = "PCMCIA\\DORVEX-MODEM56-1A2B";
const char kComboId[] = "PCMCIA\\DORVEX-LANMODEM-77";

// A modem image with the directory the package patches: texts 0x21 and 0x22, the CIS area and a
// version text.
Bytes ModemImage(const char* version = "2.04") {
    return fwtest::FisImage()
        .TextItem(0x21, 8, 0x4400)
        .TextItem(0x22, 16, 0x4410)
        .Cis(0, 0x4100)
        .Version(0x4300, version)
        .Build();
}

Bytes PatchList() {
    return fwtest::Cat({fwtest::Le16(3), Bytes{0x21, 3}, fwtest::Text("ABC"), Bytes{0x21, 0},
                        Bytes{0x22, 5}, fwtest::Text("HELLO")});
}

const Bytes kCis = {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C};

MpkRecordLayout ModemRecord(uint8_t type, const std::string& name) {
    return {type, name, 0x1143, 3, "MDM56K", "Modem firmware V2.04",
            {{mpk::kKindCis, kCis}, {mpk::kKindPatchList, PatchList()}, {mpk::kKindImage, ModemImage()}}};
}

MpkRecordLayout AddOnRecord() {
    return {5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V10.02", {{mpk::kKindAddOnImage, Bytes(2048, 0x1A)}}};
}

Bytes SettingsSection(uint8_t fill, size_t data) {
    Bytes b(mpk::kSettingsHeaderSize + data, fill);
    b[0] = 0x48;  // first header byte, to tell header from data
    return b;
}

// The package most tests use: a combined card, a modem card with settings, the add-on.
Bytes StandardPackage() {
    MpkRecordLayout modem = ModemRecord(3, kModemId);
    modem.sections.push_back({mpk::kKindSettings9x, SettingsSection(0x94, 40)});
    modem.sections.push_back({mpk::kKindSettingsNt, SettingsSection(0x4E, 20)});
    return fwtest::MpkFile(6, {ModemRecord(1, kComboId), modem, AddOnRecord()});
}

std::string Write(const fwtest::TempFolder& dir, const Bytes& b, const char* name = "p.mpk") {
    return dir.Write(name, b);
}

struct IdMap : CMpkIdResolver {
    CString to;
    int rc = 0;
    int ResolvePackageId(const CString&, CString* id) override {
        *id = to;
        return rc;
    }
};

}  // namespace

TEST(MpkFile, HeaderCheck) {
    const Bytes good = StandardPackage();
    auto with = [&](size_t at, const Bytes& bytes) {
        Bytes b = good;
        std::memcpy(&b[at], bytes.data(), bytes.size());
        return b;
    };
    struct Case {
        const char* what;
        Bytes file;
        bool ok;
    } cases[] = {
        {"well-formed", good, true},
        {"432 bytes", Bytes(good.begin(), good.begin() + 432), false},
        {"identifier in lower case", with(160, fwtest::Text("mpkfileid")), false},
        {"identifier without its NUL", with(169, {'X'}), false},
        {"version 1", with(170, fwtest::Le16(1)), false},
        {"version 3", with(170, fwtest::Le16(3)), false},
    };
    fwtest::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, c.file);
        EXPECT_EQ(CMPKFile::IsPackageFile(path.c_str()), c.ok);
        CMPKFile mpk;
        EXPECT_EQ(mpk.SetFile(path.c_str()), c.ok ? 0 : 150);
    }
    CMPKFile mpk;
    const std::string path = Write(dir, good);
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    EXPECT_EQ(mpk.SetFile(path.c_str()), 160);
    CMPKFile none;
    EXPECT_EQ(none.SelectForCard(kModemId), 151);
    EXPECT_EQ(none.WritePakFile(dir.File("x.pak").c_str()), 151);
}

TEST(MpkFile, DamagedRecordTablesAndSectionsGiveTheirCodes) {
    const Bytes good = StandardPackage();
    const size_t table_end = fwtest::kMpkRecordsAt + 3 * (208 + 6 * 16);
    auto record_sub = [](size_t record, size_t sub) {
        return fwtest::kMpkRecordsAt + record * (208 + 6 * 16) + 208 + sub * 16;
    };
    auto patched = [&](size_t at, uint32_t v) {
        Bytes b = good;
        fwtest::Put32(&b, at, v);
        return b;
    };
    MpkRecordLayout overlapping = ModemRecord(3, kModemId);
    overlapping.sections[1] = {mpk::kKindPatchList, {}, true, static_cast<uint32_t>(table_end + 2), 10};
    Bytes more_records = good;
    more_records[175] = 40;
    Bytes more_subs = good;
    more_subs[174] = 200;
    struct Case {
        const char* what;
        Bytes file;
        int rc;
    } cases[] = {
        {"cut in the records", Bytes(good.begin(), good.begin() + fwtest::kMpkRecordsAt + 300), 153},
        {"record count too large", more_records, 153},
        {"sub-record count too large", more_subs, 153},
        {"section offset past the end", patched(record_sub(0, 2) + 8, static_cast<uint32_t>(good.size())), 153},
        {"section length past the end", patched(record_sub(0, 2) + 4, 0x7FFFFFFF), 153},
        {"offset + length wraps 32 bits", [&] {
             Bytes b = patched(record_sub(0, 2) + 8, 0xFFFFFF00);
             fwtest::Put32(&b, record_sub(0, 2) + 4, 0x200);
             return b;
         }(), 153},
        {"section inside the header", patched(record_sub(1, 0) + 8, 100), 153},
        {"settings section shorter than its header", patched(record_sub(1, 3) + 4, 356), 153},
        {"overlapping sections of one record", fwtest::MpkFile(3, {overlapping}), 153},
    };
    fwtest::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, c.file);
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
        EXPECT_EQ(mpk.SelectForCard(kModemId), c.rc);
        CMPKFile by_type;
        ASSERT_EQ(by_type.SetFile(path.c_str()), 0);
        EXPECT_EQ(by_type.SelectByType(3), c.rc);
    }
}

TEST(MpkFile, SelectsTheRecordForAnAdapter) {
    fwtest::TempFolder dir;
    // A type-0 record comes first: it must not be taken for a card selected by name.
    MpkRecordLayout typeless = ModemRecord(0, "PCMCIA\\SOMETHING-ELSE");
    typeless.description = "wrong image";
    MpkRecordLayout modem = ModemRecord(3, "pcmcia\\dorvex-modem56-1a2b");
    const std::string path = Write(dir, fwtest::MpkFile(3, {typeless, modem, AddOnRecord()}));

    struct Case {
        const char* what;
        const char* id;
        int rc;
        const char* description;
    } cases[] = {
        {"modem card (record name in lower case)", kModemId, 0, "Modem firmware V2.04"},
        {"ISDN add-on", "ISDN", 0, "ISDN Tamrisk V10.02"},
        {"an id in lower case selects nothing", "pcmcia\\dorvex-modem56-1a2b", 154, nullptr},
        {"an id of no record", kComboId, 154, nullptr},
        {"empty id", "", 154, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
        ASSERT_EQ(mpk.SelectForCard(c.id), c.rc);
        CString description;
        if (c.rc == 0) {
            ASSERT_EQ(mpk.GetDescription(&description), 0);
            EXPECT_STREQ(description, c.description);
            EXPECT_EQ(mpk.SelectForCard(c.id), 160);
            EXPECT_EQ(mpk.SelectByType(3), 160);
        } else {
            EXPECT_EQ(mpk.GetDescription(&description), 161);
        }
    }

    // The device database may name another record for the adapter, or an empty one.
    IdMap map;
    map.to = "ISDN";
    CMPKFile mapped;
    ASSERT_EQ(mapped.SetFile(path.c_str()), 0);
    ASSERT_EQ(mapped.SelectForCard(kComboId, &map), 0);
    EXPECT_STREQ(mapped.GetSelectedName(), "ISDN");
    map.to = "";
    CMPKFile empty;
    ASSERT_EQ(empty.SetFile(path.c_str()), 0);
    EXPECT_EQ(empty.SelectForCard(kModemId, &map), 154);

    CMPKFile by_type;
    ASSERT_EQ(by_type.SetFile(path.c_str()), 0);
    EXPECT_EQ(by_type.SelectByType(7), 154);
    ASSERT_EQ(by_type.SelectByType(0), 0);
    CString description;
    ASSERT_EQ(by_type.GetDescription(&description), 0);
    EXPECT_STREQ(description, "wrong image");
}

TEST(MpkFile, SectionKindsAndVersionTexts) {
    fwtest::TempFolder dir;
    MpkRecordLayout no_image = ModemRecord(3, "PCMCIA\\NOIMAGE");
    no_image.sections.pop_back();
    MpkRecordLayout plain = ModemRecord(3, "PCMCIA\\PLAIN");
    plain.sections[2].data = Bytes(0x5000, 0);  // no information block
    MpkRecordLayout addon2 = AddOnRecord();
    addon2.name = "ISDN2";
    addon2.description = "Tamrisk 2.04";
    MpkRecordLayout addon3 = AddOnRecord();
    addon3.name = "ISDN3";
    addon3.description = "Tamrisk";
    const std::string path = Write(dir, fwtest::MpkFile(6, {fwtest::MpkRecordLayout(ModemRecord(3, kModemId)), no_image, plain, AddOnRecord(), addon2, addon3}));
    struct Case {
        const char* id;
        int rc;
        const char* version;
    } cases[] = {
        {kModemId, 0, "2.04"}, {"ISDN", 0, "10.02"}, {"ISDN2", 0, "2.04"}, {"ISDN3", 0, "Tamrisk"},
        {"PCMCIA\\NOIMAGE", 157, nullptr}, {"PCMCIA\\PLAIN", 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
        ASSERT_EQ(mpk.SelectForCard(c.id), 0);
        CString version;
        ASSERT_EQ(mpk.GetVersionText(&version), c.rc);
        if (c.version) {
            EXPECT_STREQ(version, c.version);
        }
    }
    CMPKFile mpk;
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    ASSERT_EQ(mpk.SelectForCard(kModemId), 0);
    std::vector<uint32_t> kinds = {99};
    ASSERT_EQ(mpk.GetSectionKinds(&kinds), 0);
    EXPECT_EQ(kinds, (std::vector<uint32_t>{99, 1, 2, 3}));  // appended, kind 0 slots left out

    EXPECT_EQ(mpk::VersionWord("2.04"), 0x0204);
    EXPECT_EQ(mpk::VersionWord("10.02"), 0x0A02);
    EXPECT_EQ(mpk::VersionWord("Tamrisk"), 0);
}

TEST(MpkFile, BuildsThePatchedImage) {
    fwtest::TempFolder dir;
    const std::string path = Write(dir, StandardPackage());
    fwtest::ReadHolder holder(path);  // the package is only read
    CMPKFile mpk;
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    ASSERT_EQ(mpk.SelectForCard(kModemId), 0);
    const unsigned char* image = nullptr;
    int length = 0;
    ASSERT_EQ(mpk.GetImage(&image, &length), 0);

    // By hand: 0x21 gets "ABC" (the empty second item is skipped), 0x22 "HELLO", each zero-filled
    // to its area; the CIS lands in its area, the rest 0xFF, its used length in the entry; then the
    // checksum.
    Bytes want = ModemImage();
    std::memcpy(&want[0x4400], "ABC\0\0\0\0\0", 8);
    std::memcpy(&want[0x4410], "HELLO\0\0\0\0\0\0\0\0\0\0\0", 16);
    std::memcpy(&want[0x4100], kCis.data(), kCis.size());
    std::memset(&want[0x4100 + kCis.size()], 0xFF, 256 - kCis.size());
    const size_t cis_entry = 0x4008 + 8 + 8;  // after FWINFO and the two text entries
    ASSERT_EQ(want[cis_entry], 0x10);
    fwtest::Put16(&want, cis_entry + 4, static_cast<uint16_t>(kCis.size()));
    fwtest::Put16(&want, want.size() - 2, fwtest::Sum16(want, 0, want.size() - 2));
    ASSERT_EQ(length, static_cast<int>(want.size()));
    EXPECT_EQ(Bytes(image, image + length), want);

    const unsigned char* again = nullptr;
    ASSERT_EQ(mpk.GetImage(&again, &length), 0);
    EXPECT_EQ(again, image);  // built once, kept
}

TEST(MpkFile, PatchListsThatStopTheBuild) {
    auto with_patches = [](const Bytes& patches, const Bytes& cis = kCis) {
        MpkRecordLayout r = ModemRecord(3, kModemId);
        r.sections[0].data = cis;
        r.sections[1].data = patches;
        return fwtest::MpkFile(3, {r});
    };
    struct Case {
        const char* what;
        Bytes file;
        int rc;
    } cases[] = {
        {"code 0x20", with_patches(fwtest::Cat({fwtest::Le16(1), Bytes{0x20, 1, 'X'}})), 159},
        {"code 0x26", with_patches(fwtest::Cat({fwtest::Le16(1), Bytes{0x26, 1, 'X'}})), 159},
        {"count larger than the list", with_patches(fwtest::Cat({fwtest::Le16(2), Bytes{0x21, 1, 'X'}})), 153},
        {"item longer than the list", with_patches(fwtest::Cat({fwtest::Le16(1), Bytes{0x21, 9, 'X'}})), 153},
        {"list without its count", with_patches({0x01}), 153},
        {"a code the image lacks", with_patches(fwtest::Cat({fwtest::Le16(1), Bytes{0x23, 1, 'X'}})), 67},
        {"a text too long for its area", with_patches(fwtest::Cat({fwtest::Le16(1), Bytes{0x21, 8}, fwtest::Text("12345678")})), 68},
        {"a CIS longer than 256 bytes", with_patches(fwtest::Le16(0), Bytes(257, 1)), 68},
    };
    fwtest::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, c.file);
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
        ASSERT_EQ(mpk.SelectForCard(kModemId), 0);
        const unsigned char* image = nullptr;
        int length = 0;
        EXPECT_EQ(mpk.GetImage(&image, &length), c.rc);
        EXPECT_EQ(mpk.WritePakFile(dir.File("out.pak").c_str()), 163);
    }
}

TEST(MpkFile, LoadsSettingsSectionsAndTheAddOnImage) {
    fwtest::TempFolder dir;
    const std::string path = Write(dir, StandardPackage());
    CMPKFile mpk;
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    ASSERT_EQ(mpk.SelectForCard(kModemId), 0);
    for (int kind : {4, 5}) {
        const unsigned char* data = nullptr;
        MpkSettingsHeader header{};
        int length = 0;
        ASSERT_EQ(mpk.LoadSection(&data, &header, &length, kind), 0);
        const uint8_t fill = kind == 4 ? 0x94 : 0x4E;
        EXPECT_EQ(length, kind == 4 ? 40 : 20);
        EXPECT_EQ(header.bytes[0], 0x48);
        EXPECT_EQ(header.bytes[356], fill);
        EXPECT_EQ(Bytes(data, data + length), Bytes(static_cast<size_t>(length), fill));
        int sub_length = 0;
        EXPECT_EQ(mpk.ReadSubRecordLength(static_cast<uint32_t>(kind), &sub_length), 0);
        EXPECT_EQ(sub_length, length);
    }
    const unsigned char* data = nullptr;
    MpkSettingsHeader header{};
    int length = 0;
    EXPECT_EQ(mpk.LoadSection(&data, &header, &length, 3), 157);
    EXPECT_EQ(mpk.GetAddOnImage(&data, &length), 157);

    CMPKFile addon;
    ASSERT_EQ(addon.SetFile(path.c_str()), 0);
    ASSERT_EQ(addon.SelectForCard("ISDN"), 0);
    ASSERT_EQ(addon.GetAddOnImage(&data, &length), 0);
    EXPECT_EQ(Bytes(data, data + length), Bytes(2048, 0x1A));
    EXPECT_EQ(addon.LoadSection(&data, &header, &length, 4), 157);
}

TEST(MpkFile, WritesAPakFileThatReadsBack) {
    fwtest::TempFolder dir;
    const std::string path = Write(dir, StandardPackage());
    for (const char* id : {kComboId, kModemId}) {
        SCOPED_TRACE(id);
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
        ASSERT_EQ(mpk.SelectForCard(id), 0);
        const std::string out = dir.Write("TEMP.PAK", Bytes(5000, 0x77));  // replaced whole
        ASSERT_EQ(mpk.WritePakFile(out.c_str()), 0);
        const unsigned char* image = nullptr;
        int image_length = 0;
        ASSERT_EQ(mpk.GetImage(&image, &image_length), 0);

        const bool two = id == kComboId;  // record type 1: CIS block and image
        const std::string name = "MDM56K", desc = "Modem firmware V2.04";
        const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(name, desc));
        std::vector<fwtest::PakEntryLayout> entries;
        Bytes data;
        if (two) {
            entries = {{0x0103, table + 28, 0x800, static_cast<uint32_t>(kCis.size())},
                       {0x8000, table + 28 + static_cast<uint32_t>(kCis.size()), 0x3000,
                        static_cast<uint32_t>(image_length)}};
            data = kCis;
        } else {
            entries = {{0x8000, table + 14, 0x3000, static_cast<uint32_t>(image_length)}};
        }
        data.insert(data.end(), image, image + image_length);
        Bytes want = fwtest::PakFile(0x0204, 0x1143, 3, 4, name, desc, entries, data);
        EXPECT_EQ(fwtest::ReadFileBytes(out), want);

        CPakFile pak;
        ASSERT_TRUE(pak.ReadHeader(out.c_str()));
        EXPECT_STREQ(pak.GetVersionText(), "2.4");
        EXPECT_STREQ(pak.GetName(), "MDM56K");
        int length = 0;
        ASSERT_TRUE(pak.GetImageLength(out.c_str(), &length));
        EXPECT_EQ(length, image_length);
    }
}

TEST(MpkFile, PakWriterRecordTypes) {
    fwtest::TempFolder dir;
    MpkRecordLayout forced = ModemRecord(2, "PCMCIA\\FORCED");
    MpkRecordLayout no_entries = ModemRecord(4, "PCMCIA\\TYPE4");
    const std::string path = Write(dir, fwtest::MpkFile(3, {forced, no_entries}));
    CMPKFile mpk;
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    ASSERT_EQ(mpk.SelectForCard("PCMCIA\\FORCED"), 0);
    const std::string out = dir.File("forced.pak");
    ASSERT_EQ(mpk.WritePakFile(out.c_str()), 0);
    pak::Header h;
    ASSERT_TRUE(ReadPakHeader(out.c_str(), &h));
    EXPECT_EQ(h.card_id, 0x1146);
    EXPECT_EQ(h.options, 4);

    // A record type that carries no image entries would give a .PAK nothing can flash.
    CMPKFile type4;
    ASSERT_EQ(type4.SetFile(path.c_str()), 0);
    ASSERT_EQ(type4.SelectForCard("PCMCIA\\TYPE4"), 0);
    const std::string kept = dir.Write("kept.pak", Bytes(64, 0x33));
    EXPECT_EQ(type4.WritePakFile(kept.c_str()), 163);
    EXPECT_EQ(fwtest::ReadFileBytes(kept), Bytes(64, 0x33));

    CMPKFile unselected;
    ASSERT_EQ(unselected.SetFile(path.c_str()), 0);
    EXPECT_EQ(unselected.WritePakFile(out.c_str()), 161);
    EXPECT_EQ(mpk.WritePakFile((dir.path() + "\\no such folder\\x.pak").c_str()), 152);
}

// The add-on's record gives a .PAK of its own image, its version taken from the description.
TEST(MpkFile, WritesAPakFileFromTheAddOnRecord) {
    fwtest::TempFolder dir;
    Bytes addon(3000);
    for (size_t i = 0; i < addon.size(); ++i) addon[i] = static_cast<uint8_t>(i * 13);
    const MpkRecordLayout record = {5, "ISDN", 0x2000, 1, "TAMRISK", "ISDN Tamrisk V2.04",
                                    {{mpk::kKindAddOnImage, addon}}};
    const std::string path = Write(dir, fwtest::MpkFile(2, {ModemRecord(3, kModemId), record}));
    CMPKFile mpk;
    ASSERT_EQ(mpk.SetFile(path.c_str()), 0);
    ASSERT_EQ(mpk.SelectForCard("ISDN"), 0);
    const std::string out = dir.File("isdn.pak");
    ASSERT_EQ(mpk.WritePakFile(out.c_str()), 0);
    const std::string name = "TAMRISK", desc = "ISDN Tamrisk V2.04";
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(name, desc));
    EXPECT_EQ(fwtest::ReadFileBytes(out),
              fwtest::PakFile(0x0204, 0x2000, 1, 4, name, desc,
                              {{0x8000, table + 14, 0x3000, static_cast<uint32_t>(addon.size())}}, addon));
    CPakFile pak;
    ASSERT_TRUE(pak.ReadHeader(out.c_str()));
    EXPECT_STREQ(pak.GetVersionText(), "2.4");
}

// Sections whose lengths no firmware file reaches (in a sparse file that really is that long):
// refused as out of memory, without a buffer of that size.
TEST(MpkFile, SectionsLargerThanAFirmwareFileAreRefused) {
    fwtest::TempFolder dir;
    const uint32_t huge = fwio::kMaxFileSize + 1;
    const uint32_t at = 0x10000;
    auto placed = [&](uint32_t kind, uint32_t length) { return MpkSection{kind, {}, true, at, length}; };
    const std::string path = Write(
        dir, fwtest::MpkFile(4, {{3, kModemId, 0x1143, 3, "MDM56K", "Modem firmware",
                                  {{mpk::kKindCis, kCis}, {mpk::kKindPatchList, PatchList()}, placed(mpk::kKindImage, huge)}},
                                 {5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V1.00", {placed(mpk::kKindAddOnImage, huge)}},
                                 {3, kComboId, 0x1143, 3, "MDM56K", "Settings",
                                  {placed(mpk::kKindSettings9x, huge + static_cast<uint32_t>(mpk::kSettingsHeaderSize))}}}));
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        LONG high = 0;
        SetFilePointer(f, static_cast<LONG>(at + huge + mpk::kSettingsHeaderSize), &high, FILE_BEGIN);
        EXPECT_TRUE(SetEndOfFile(f));
        CloseHandle(f);
    }
    CMPKFile modem;
    ASSERT_EQ(modem.SetFile(path.c_str()), 0);
    ASSERT_EQ(modem.SelectForCard(kModemId), 0);
    CString version;
    EXPECT_EQ(modem.GetVersionText(&version), 162);
    const unsigned char* data = nullptr;
    int length = 0;
    EXPECT_EQ(modem.GetImage(&data, &length), 162);

    CMPKFile settings;
    ASSERT_EQ(settings.SetFile(path.c_str()), 0);
    ASSERT_EQ(settings.SelectForCard(kComboId), 0);
    MpkSettingsHeader header{};
    EXPECT_EQ(settings.LoadSection(&data, &header, &length, 4), 162);

    CMPKFile addon;
    ASSERT_EQ(addon.SetFile(path.c_str()), 0);
    ASSERT_EQ(addon.SelectForCard("ISDN"), 0);
    EXPECT_EQ(addon.GetAddOnImage(&data, &length), 162);
}

TEST(MpkFile, WritesASectionFile) {
    fwtest::TempFolder dir;
    const std::string out = dir.Write("section.bin", Bytes(100, 9));
    const Bytes data = {1, 2, 3};
    EXPECT_TRUE(CMPKFile::WriteSectionFile(data.data(), out.c_str(), 3));
    EXPECT_EQ(fwtest::ReadFileBytes(out), data);
    EXPECT_FALSE(CMPKFile::WriteSectionFile(data.data(), (dir.path() + "\\none\\x.bin").c_str(), 3));
}

TEST(MpkList, ScansTheFolderForFittingPackages) {
    fwtest::TempFolder dir;
    dir.Write("std.mpk", StandardPackage());
    dir.Write("other.MPK", fwtest::MpkFile(3, {ModemRecord(3, "PCMCIA\\OTHER")}));
    dir.Write("junk.mpk", Bytes(500, 0));
    dir.Write("std.pak", StandardPackage());
    CMPKList list;
    EXPECT_EQ(list.Scan(dir.path().c_str(), kModemId, mpk::kKindImage), 1);
    ASSERT_EQ(list.GetFiles().GetSize(), 1);
    EXPECT_STREQ(list.GetFiles()[0], "std.mpk");
    EXPECT_STREQ(list.GetVersions()[0], "2.04");
    EXPECT_STREQ(list.GetDescriptions()[0], "Modem firmware V2.04");

    list.Scan(dir.path().c_str(), "ISDN", mpk::kKindAddOnImage);
    ASSERT_EQ(list.GetFiles().GetSize(), 2);  // appended
    EXPECT_STREQ(list.GetVersions()[1], "10.02");
    list.Scan(dir.path().c_str(), "ISDN", mpk::kKindImage);  // the add-on record has no kind 3
    EXPECT_EQ(list.GetFiles().GetSize(), 2);
}
