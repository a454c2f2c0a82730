// The flash-driver engine against the flash driver's stand-in on Windows 9x: the cards of
// Config Manager, the requests of one flash in their order with their buffers, the card's flash
// memory afterwards, the entry filters, the card's values kept in a CIS, and every refusal.
#include "cardflash/flash/flash_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cardflash/flash/fw_test_files.h"
#include "standins/flash_driver.h"
#include "winetest/registry.h"

namespace {

// A field of a packed driver layout as a value (gtest binds its arguments by reference).
template <typename T>
T Field(T v) {
    return v;
}

using fwtest::Bytes;
using standins::FlashDriver;
using Failure = standins::FlashDriver::Failure;

const char kModemCard[] = "PCMCIA\\DORVEX-MODEM_56K-77C2\\1";
const char kComboCard[] = "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1";

// Config Manager's nodes: the two cards, a CardBus bridge's PC Card entry and a non-PC Card node,
// which the enumeration passes over.
const char kNodes[] =
    "[HKDD\\Config Manager\\Enum\\C1000010]\n\"HardWareKey\"=\"ROOT\\\\PCI\\\\0000\"\n"
    "[HKDD\\Config Manager\\Enum\\C1000020]\n\"HardWareKey\"=\"PCMCIA\\\\PCCARD\\\\SLOT0\"\n"
    "[HKDD\\Config Manager\\Enum\\C1000030]\n\"HardWareKey\"=\"PCMCIA\\\\DORVEX-MODEM_56K-77C2\\\\1\"\n"
    "[HKDD\\Config Manager\\Enum\\C1000040]\n\"Problem\"=dword:00000000\n"
    // A key longer than the record's name field leaves no room for its terminator: no card.
    "[HKDD\\Config Manager\\Enum\\C1000045]\n\"HardWareKey\"=\"PCMCIA\\\\DORVEX-MODEM_56K-"
    "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
    "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
    "01234567890123456789012345678901234567890123456789\\\\1\"\n"
    "[HKDD\\Config Manager\\Enum\\C1000050]\n\"HardWareKey\"=\"PCMCIA\\\\DORVEX-ETHERMODEM_56-3F1A\\\\1\"\n";

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + i / 256);
    return b;
}

struct Block {
    uint16_t flags;
    uint32_t address;
    Bytes data;
};

// A .PAK with the blocks' data right after the table, in their order.
Bytes Pak(uint16_t card_id, uint8_t variant, uint8_t options, const std::vector<Block>& blocks) {
    const std::string name = "MDM56K", description = "test image";
    uint32_t at = static_cast<uint32_t>(fwtest::PakTableOffset(name, description) + 14 * blocks.size());
    std::vector<fwtest::PakEntryLayout> entries;
    Bytes data;
    for (const Block& b : blocks) {
        entries.push_back({b.flags, at, b.address, static_cast<uint32_t>(b.data.size())});
        data.insert(data.end(), b.data.begin(), b.data.end());
        at += static_cast<uint32_t>(b.data.size());
    }
    return fwtest::PakFile(0x0190, card_id, variant, options, name, description, entries, data);
}

std::vector<unsigned> g_progress;
void Record(unsigned percent) { g_progress.push_back(percent); }

uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

struct BlockWrite {
    uint32_t code, length, address;
    bool operator==(const BlockWrite& o) const { return code == o.code && length == o.length && address == o.address; }
};
std::ostream& operator<<(std::ostream& os, const BlockWrite& w) {
    return os << "{" << w.code << ", " << w.length << " @0x" << std::hex << w.address << std::dec << "}";
}

std::vector<BlockWrite> Writes(const FlashDriver& d) {
    std::vector<BlockWrite> out;
    for (const standins::RecordedRequest& r : d.requests())
        if ((r.code == flashdrv::kCodeWrite || r.code == flashdrv::kCodeWriteCis) && r.input.size() == 1078)
            out.push_back({r.code, Get32(r.input, 0), Get32(r.input, 516)});
    return out;
}

// A driver of a step's own with the one modem card, in place of the fixture's; the engine is
// closed again when the step ends.
struct OwnDriver {
    explicit OwnDriver(const FlashDriver::Card& card) {
        driver.AddCard(kModemCard, card);
        drivers.Add(flashdrv::kDriverPath, &driver);
    }
    ~OwnDriver() { CloseFlashDriver(); }
    OwnDriver(const OwnDriver&) = delete;
    OwnDriver& operator=(const OwnDriver&) = delete;
    bool Open() {
        flashdrv::InfoBlock block{};
        flashdrv::CardRecord* cards = nullptr;
        return OpenFlashDriver(&block, &cards, GetModuleHandleA(nullptr)) == 0;
    }

    FlashDriver driver;
    standins::StandinDrivers drivers;
};

class FlashEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        reg.Load(kNodes);
        drivers.Add(flashdrv::kDriverPath, &driver);
        driver.AddCard(kModemCard, FlashDriver::Card{});
        FlashDriver::Card combo;
        combo.id = 0x1046;
        driver.AddCard(kComboCard, combo);
        g_progress.clear();
    }
    void TearDown() override { CloseFlashDriver(); }

    // Opens the engine; the requests of the open are not part of what a case checks.
    void Open() {
        flashdrv::CardRecord* cards = nullptr;
        ASSERT_EQ(OpenFlashDriver(&info, &cards, GetModuleHandleA(nullptr)), 0);
        opened = driver.requests().size();
    }
    std::vector<uint32_t> CodesSinceOpen() const {
        std::vector<uint32_t> all = driver.codes();
        return std::vector<uint32_t>(all.begin() + opened, all.end());
    }
    std::string Write(const Bytes& pak) { return dir.Write("image.pak", pak); }

    winetest::RegFixture reg;
    standins::StandinDrivers drivers;
    FlashDriver driver;
    fwtest::TempFolder dir;
    flashdrv::InfoBlock info{};
    size_t opened = 0;
};

TEST_F(FlashEngineTest, OpenFindsThePcCardsAndLooksEachUp) {
    flashdrv::CardRecord* cards = nullptr;
    ASSERT_EQ(OpenFlashDriver(&info, &cards, GetModuleHandleA(nullptr)), 0);
    EXPECT_EQ(Field(info.status), 0);
    EXPECT_EQ(Field(info.cardsFound), 2);
    ASSERT_NE(cards, nullptr);
    struct {
        const char* name;
        uint16_t id, tableId;
    } want[] = {{kModemCard, 0x1146, 0x1146}, {kComboCard, 0x1046, 0x1143}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(flashdrv::CardName(cards[i]), want[i].name);
        EXPECT_EQ(Field(cards[i].found), 1u);
        EXPECT_EQ(Field(cards[i].matched), 1u);
        EXPECT_EQ(Field(cards[i].oneAtEnumeration), 1u);
        EXPECT_EQ(Field(cards[i].variantCopy), 1);
        EXPECT_EQ(cards[i].tableRow[0] | cards[i].tableRow[1] << 8, want[i].tableId);
        EXPECT_EQ(flashdrv::CanBeFlashed(cards[i]), 1u);
    }
    // The stand-in's card ids: the modem card is set to the default 0x1143, so only its name row
    // (0x1146) picked the table row above; the id the driver reports is another matter.
    EXPECT_EQ(flashdrv::CardId(cards[0]), 0x1143);
    EXPECT_EQ(flashdrv::CardId(cards[1]), 0x1046);
    EXPECT_EQ((std::vector<uint32_t>{1, 10, 4, 9, 11, 4, 9, 11}), driver.codes());

    const std::vector<drv::OpenRequest> opens = driver.opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].access, 0u);
    EXPECT_EQ(opens[0].share, 0u);
    EXPECT_EQ(opens[0].disposition, 0u);
    EXPECT_EQ(opens[0].attributes, drv::win::kFlagDeleteOnClose);
    CloseFlashDriver();
    EXPECT_EQ(driver.open_handles(), 0);
}

// A failed open hands out no card array; a driver that did open stays open until the engine is
// closed, so a flash after the open fails at its own step: 10 without the driver (or with one of
// another version), 4 when the card look-up finds no name rows.
TEST_F(FlashEngineTest, OpenFailuresHandOutNoCards) {
    struct Case {
        const char* what;
        int result;
        void (*setup)(FlashDriver&);
        bool ownRows;
        int flashed;       // FlashImage after the failed open
        int handlesOpen;   // until CloseFlashDriver
    } cases[] = {
        {"no driver", 5, [](FlashDriver& d) { d.FailOpens(2); }, true, 10, 0},
        {"driver 1.1", 4, [](FlashDriver& d) { d.SetVersion(0x0101); }, true, 10, 1},
        {"version request fails", 4, [](FlashDriver& d) { d.Refuse(1, Failure::kReturnFalse); }, true, 10, 1},
        {"driver not ready", 3, [](FlashDriver& d) { d.SetInfoStatus(1); }, true, 4, 1},
        {"short information block", 3, [](FlashDriver& d) { d.Refuse(10, Failure::kShortCount); }, true, 4, 1},
        {"no card-name rows", 6, [](FlashDriver&) {}, false, 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlashDriver d;
        d.AddCard(kModemCard, FlashDriver::Card{});
        c.setup(d);
        standins::StandinDrivers only;
        only.Add(flashdrv::kDriverPath, &d);
        flashdrv::InfoBlock block{};
        flashdrv::CardRecord* cards = nullptr;
        const HMODULE module = c.ownRows ? GetModuleHandleA(nullptr) : GetModuleHandleA("kernel32.dll");
        EXPECT_EQ(OpenFlashDriver(&block, &cards, module), c.result);
        EXPECT_NE(Field(block.status), 0);
        EXPECT_EQ(cards, nullptr);
        EXPECT_EQ(d.open_handles(), c.handlesOpen);
        // Nothing is erased or written.
        EXPECT_EQ(FlashImage(kModemCard, "C:\\none.pak", nullptr), c.flashed);
        for (const auto& r : d.requests()) EXPECT_TRUE(r.code != 5 && r.code != 7 && r.code != 16) << r.code;
        CloseFlashDriver();
        EXPECT_EQ(d.open_handles(), 0);
    }
    // No records to prepare: the open ends with 1; the look-up itself still works, so a flash
    // goes on to the file.
    FlashDriver d;
    d.AddCard(kModemCard, FlashDriver::Card{});
    d.SetRecordCount(0);
    standins::StandinDrivers only;
    only.Add(flashdrv::kDriverPath, &d);
    flashdrv::InfoBlock block{};
    flashdrv::CardRecord* cards = nullptr;
    EXPECT_EQ(OpenFlashDriver(&block, &cards, GetModuleHandleA(nullptr)), 1);
    EXPECT_EQ(cards, nullptr);
    EXPECT_EQ(FlashImage(kModemCard, "C:\\none.pak", nullptr), 1);
    CloseFlashDriver();
    EXPECT_EQ(d.open_handles(), 0);
}

TEST_F(FlashEngineTest, PlainEntryOf1000BytesInTwoBlocks) {
    const Bytes data = Pattern(1000, 5);
    const std::string path = Write(Pak(0x1143, 1, 4, {{0x8000, 0x3000, data}}));
    Open();
    ASSERT_EQ(FlashImage(kModemCard, path.c_str(), Record), 0);

    EXPECT_EQ(CodesSinceOpen(), (std::vector<uint32_t>{1, 4, 9, 11, 17, 7, 5, 5, 18}));
    EXPECT_EQ(Writes(driver), (std::vector<BlockWrite>{{5, 512, 0x3000}, {5, 488, 0x3200}}));
    EXPECT_EQ(g_progress, std::vector<unsigned>{51});
    const auto flash = driver.Flash(kModemCard);
    EXPECT_EQ(flash.size(), 1000u);
    EXPECT_EQ(FlashDriver::Range(flash, 0x3000, 1000), data);
    EXPECT_EQ(driver.erases(kModemCard), 1);
    EXPECT_FALSE(driver.flashing(kModemCard));

    // Every request carried the card's record, looked up afresh, with its status cleared.
    for (const standins::RecordedRequest& r : driver.requests()) {
        if (r.code == 5) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.input[520])), kModemCard);
            EXPECT_EQ(r.input[1076] | r.input[1077] << 8, 0);
        } else if (r.code == 7) {
            EXPECT_EQ(r.input[537] | r.input[538] << 8, 0);
        }
    }
}

TEST_F(FlashEngineTest, EntryOfWholeBlocksEndsWithAnEmptyRequest) {
    const Bytes data = Pattern(1024, 9);
    const std::string path = Write(Pak(0x1143, 1, 4, {{0x8000, 0x3000, data}}));
    Open();
    ASSERT_EQ(FlashImage(kModemCard, path.c_str(), Record), 0);
    EXPECT_EQ(Writes(driver), (std::vector<BlockWrite>{{5, 512, 0x3000}, {5, 512, 0x3200}, {5, 0, 0x3400}}));
    EXPECT_EQ(g_progress, (std::vector<unsigned>{50, 100}));
    EXPECT_EQ(FlashDriver::Range(driver.Flash(kModemCard), 0x3000, 1024), data);
}

TEST_F(FlashEngineTest, EntriesForAnotherVariantOrConfigurationArePassedOver) {
    // Flags 0x0002 | bit 8 pick the configuration, bits 4-7 the variant.
    struct Case {
        const char* what;
        uint16_t card_id;
        int configuration;
        uint8_t variant;
        uint16_t flags;
        bool written;
    } cases[] = {
        {"every variant", 0x1143, 1, 1, 0x0000, true},
        {"its variant", 0x1143, 1, 2, 0x0020, true},
        {"another variant", 0x1143, 1, 1, 0x0020, false},
        {"configuration 1 wanted, card has 1", 0x1143, 1, 1, 0x0102, true},
        {"configuration 1 wanted, card has 0", 0x1143, 0, 1, 0x0102, false},
        {"configuration 0 wanted, card has 0", 0x1143, 0, 1, 0x0002, true},
        {"configuration 0 wanted, card has 1", 0x1143, 1, 1, 0x0002, false},
        {"bit 8 without bit 1 is no filter", 0x1143, 0, 1, 0x0100, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlashDriver::Card card;
        card.id = c.card_id;
        card.configuration = c.configuration;
        card.variant = c.variant;
        OwnDriver own(card);
        ASSERT_TRUE(own.Open());
        FlashDriver& d = own.driver;
        const Bytes first = Pattern(300, 1), last = Pattern(200, 2);
        const std::string path = Write(Pak(c.card_id, c.variant, 4,
                                           {{c.flags, 0x1000, first}, {0x8000, 0x3000, last}}));
        EXPECT_EQ(FlashImage(kModemCard, path.c_str(), nullptr), 0);
        const auto flash = d.Flash(kModemCard);
        EXPECT_EQ(flash.count(0x1000), c.written ? 1u : 0u);
        if (c.written) {
            EXPECT_EQ(FlashDriver::Range(flash, 0x1000, 300), first);
        }
        EXPECT_EQ(FlashDriver::Range(flash, 0x3000, 200), last);
    }
}

// A CIS of tuples: DEVICE, a 0x44 serial tuple, a 0x88 values tuple, FUNCID modem, FUNCID network
// with its LAN node-id FUNCE, END.
Bytes CisBytes(bool node_tuple) {
    Bytes cis = {0x01, 0x02, 0xD9, 0xFF,
                 0x44, 0x08, 0, 0, 0, 0, 0, 0, 0, 0,
                 0x88, 0x08, 0, 0, 0, 0, 0, 0, 0, 0,
                 0x21, 0x02, 0x02, 0x00,
                 0x21, 0x02, 0x06, 0x00,
                 0x22, 0x02, 0x01, 0x07,                          // another FUNCE type: left alone
                 0x22, 0x08, 0x04, 0x06, 0, 0, 0, 0, 0, 0};
    if (node_tuple) cis.insert(cis.end(), {0x89, 0x08, 0, 0, 0, 0, 0, 0, 0, 0});
    cis.push_back(0xFF);
    return cis;
}

// What the card's values make of that CIS in word form, worked out by hand.
Bytes KeptWords(bool node_tuple, const FlashDriver::Card& c) {
    Bytes w;
    for (uint8_t b : CisBytes(node_tuple)) w.insert(w.end(), {b, b});
    auto put = [&](size_t at, const Bytes& v) { std::copy(v.begin(), v.end(), w.begin() + at); };
    put(2 * 4 + 4, fwtest::Le32(c.serialFirst));
    put(2 * 4 + 8, fwtest::Le32(c.serialSecond));
    Bytes values, node;
    for (uint16_t v : c.values88) values = fwtest::Cat({values, fwtest::Le16(v)});
    for (uint16_t v : c.node) node = fwtest::Cat({node, fwtest::Le16(v)});
    put(2 * 14 + 4, values);
    // The FUNCE tuple's body holds 8 bytes: the six node words fit from tuple offset 8 on.
    const size_t funce = 2 * 36;
    const size_t node_at = node_tuple ? 2 * 46 : funce;
    put(node_at + 8, node);
    return w;
}

TEST_F(FlashEngineTest, CisEntryIsWidenedWithTheCardsValues) {
    struct Case {
        const char* what;
        uint16_t id;
        bool node_tuple;
        uint32_t code;        // 0: passed over
    } cases[] = {
        {"node tuple", 0x1143, true, 5},
        {"node in the network function's FUNCE", 0x1143, false, 5},
        {"card 0x1146 takes the bytes narrowed back", 0x1146, false, 16},
        {"card 0x1046 passes over its CIS entry", 0x1046, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlashDriver::Card card;
        card.id = c.id;
        OwnDriver own(card);
        ASSERT_TRUE(own.Open());
        FlashDriver& d = own.driver;
        const Bytes cis = CisBytes(c.node_tuple), image = Pattern(600, 3);
        // The .PAK is for card 0x1146, which also fits a card 0x1046.
        const std::string path = Write(Pak(c.id == 0x1143 ? 0x1143 : 0x1146, 1, 4,
                                           {{0x0001, 0x800, cis}, {0x8000, 0x3000, image}}));
        ASSERT_EQ(FlashImage(kModemCard, path.c_str(), nullptr), 0);

        const Bytes words = KeptWords(c.node_tuple, card);
        std::vector<BlockWrite> writes = Writes(d);
        ASSERT_FALSE(writes.empty());
        if (c.code == 0) {
            EXPECT_EQ(writes[0].address, 0x3000u);  // the image first
        } else if (c.code == 5) {
            EXPECT_EQ(writes[0], (BlockWrite{5, static_cast<uint32_t>(words.size()), 0x800}));
            EXPECT_EQ(FlashDriver::Range(d.Flash(kModemCard), 0x800, words.size()), words);
        } else {
            Bytes narrowed;
            for (size_t i = 0; i < words.size(); i += 2) narrowed.push_back(words[i]);
            EXPECT_EQ(writes[0], (BlockWrite{16, static_cast<uint32_t>(cis.size()), 0x800}));
            EXPECT_EQ(FlashDriver::Range(d.Cis(kModemCard), 0x800, narrowed.size()), narrowed);
        }
        // A plain entry of a card 0x1146 goes to address 0.
        const uint32_t image_at = c.id == 0x1146 ? 0 : 0x3000;
        EXPECT_EQ(writes.back().address, image_at + 512);
        EXPECT_EQ(FlashDriver::Range(d.Flash(kModemCard), image_at, image.size()), image);
    }
}

// A card 0x1046 keeps its values in the CIS of the image's information block. An image in one
// entry ends with its checksum, which then covers those values; an image split over two entries
// has image bytes like any other at the end of its first entry, and they stay as they are.
TEST_F(FlashEngineTest, CardOf0x1046KeepsItsValuesInTheImagesCis) {
    FlashDriver::Card combo;
    combo.id = 0x1046;
    // The CIS area at 0x4100 holds byte-form tuples (flag 0 after the entry's length byte).
    const Bytes cis = CisBytes(false);
    const Bytes image = fwtest::FisImage(0x4400).Cis(static_cast<uint16_t>(cis.size()), 0x4100).Put(0x4100, cis).Build();
    // Byte form: each value word gives its low byte.
    Bytes kept = image;
    const Bytes serial = fwtest::Cat({fwtest::Le32(combo.serialFirst), fwtest::Le32(combo.serialSecond)});
    for (int i = 0; i < 4; ++i) kept[0x4100 + 4 + 2 + i] = serial[2 * i];
    for (int i = 0; i < 8; ++i) kept[0x4100 + 14 + 2 + i] = static_cast<uint8_t>(combo.values88[i]);

    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "two entries" : "one entry");
        std::string path;
        Bytes want = kept;
        if (split) {
            const size_t at = 0x4300;
            const Bytes head(image.begin(), image.begin() + at), tail(image.begin() + at, image.end());
            path = Write(Pak(0x1146, 1, 4, {{0x0000, 0x3000, head}, {0x8000, 0x3000 + at, tail}}));
        } else {
            path = Write(Pak(0x1146, 1, 4, {{0x8000, 0x3000, image}}));
            fwtest::Put16(&want, want.size() - 2, fwtest::Sum16(want, 0, want.size() - 2));
        }
        Open();
        ASSERT_EQ(FlashImage(kComboCard, path.c_str(), nullptr), 0);
        EXPECT_EQ(FlashDriver::Range(driver.Flash(kComboCard), 0x3000, want.size()), want);
        CloseFlashDriver();
    }
}

TEST_F(FlashEngineTest, PakForAnotherCardOrVariantIsRefusedBeforeTheErase) {
    struct Case {
        const char* what;
        uint16_t pak_id;
        uint8_t variant, options;
        int result;
    } cases[] = {
        {"another card", 0x1144, 1, 4, 2},
        {"another variant", 0x1143, 2, 4, 3},
        {"another variant, image for every variant", 0x1143, 2, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(Pak(c.pak_id, c.variant, c.options, {{0x8000, 0x3000, Pattern(10, 1)}}));
        Open();
        EXPECT_EQ(FlashImage(kModemCard, path.c_str(), nullptr), c.result);
        EXPECT_EQ(driver.erases(kModemCard), c.result ? 0 : 1);
        CloseFlashDriver();
    }
}

TEST_F(FlashEngineTest, RefusedRequestFailsItsStep) {
    struct Case {
        const char* what;
        uint32_t code;
        int nth;       // of that code during the flash
        int result;
        bool erased;
        bool ended;    // code 18 sent
    } cases[] = {
        {"version", 1, 1, 10, false, false},
        {"lookup", 4, 1, 4, false, false},
        {"configuration", 9, 1, 4, false, false},
        {"variant", 11, 1, 4, false, false},
        {"begin", 17, 1, 8, false, false},
        {"erase", 7, 1, 11, false, true},
        {"first block", 5, 1, 5, true, false},
        {"last block", 5, 2, 5, true, false},
        {"end", 18, 1, 8, true, true},
    };
    const Failure failures[] = {Failure::kReturnFalse, Failure::kShortCount, Failure::kStatus};
    const std::string path = Write(Pak(0x1143, 1, 4, {{0x8000, 0x3000, Pattern(1000, 4)}}));
    for (const Case& c : cases) {
        for (Failure how : failures) {
            // The version and begin requests carry no status of their own.
            if (how == Failure::kStatus && (c.code == 1 || c.code == 17 || c.code == 18)) continue;
            SCOPED_TRACE(std::string(c.what) + " / " + std::to_string(static_cast<int>(how)));
            OwnDriver own(FlashDriver::Card{});
            ASSERT_TRUE(own.Open());
            FlashDriver& d = own.driver;
            d.Refuse(c.code, how, c.nth);
            EXPECT_EQ(FlashImage(kModemCard, path.c_str(), nullptr), c.result);
            const std::vector<uint32_t> codes = d.codes();
            // A short answer to the erase still erased the card: the engine reports it as failed.
            const bool erased = c.erased || (c.code == 7 && how == Failure::kShortCount);
            EXPECT_EQ(d.erases(kModemCard), erased ? 1 : 0);
            EXPECT_EQ(codes.back() == 18, c.ended);
        }
    }
}

TEST_F(FlashEngineTest, DamagedEntryTableErasesNothing) {
    const std::string name = "MDM56K", description = "test image";
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(name, description));
    const Bytes data(100, 0);
    struct Case {
        const char* what;
        std::vector<fwtest::PakEntryLayout> entries;
        size_t cut;  // bytes taken off the end of the file
    } cases[] = {
        {"no last entry", {{0x0000, table + 28, 0x1000, 50}, {0x0000, table + 28 + 50, 0x3000, 50}}, 0},
        {"data past the end", {{0x8000, table + 14, 0x3000, 101}}, 0},
        {"data offset past the end", {{0x8000, table + 2000, 0x3000, 0}}, 0},
        {"data inside the table", {{0x0000, table + 14, 0x1000, 20}, {0x8000, table + 28, 0x3000, 72}}, 0},
        {"flash range past 4 GiB", {{0x8000, table + 14, 0xFFFFFFC0u, 100}}, 0},
        {"table cut short", {{0x0000, table + 28, 0x1000, 50}, {0x8000, table + 78, 0x3000, 50}}, 100 + 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes pak = fwtest::PakFile(0x0190, 0x1143, 1, 4, name, description, c.entries, data);
        pak.resize(pak.size() - c.cut);
        const std::string path = Write(pak);
        Open();
        EXPECT_EQ(FlashImage(kModemCard, path.c_str(), nullptr), 1);
        EXPECT_EQ(CodesSinceOpen(), (std::vector<uint32_t>{1, 4, 9, 11}));
        EXPECT_EQ(driver.erases(kModemCard), 0);
        CloseFlashDriver();
    }
}

TEST_F(FlashEngineTest, FileThatIsNoPakOrCardThatCannotBeFlashed) {
    Open();
    const std::string text = dir.Write("readme.pak", fwtest::Text("not an image at all"));
    EXPECT_EQ(FlashImage(kModemCard, text.c_str(), nullptr), 1);
    EXPECT_EQ(FlashImage(kModemCard, dir.File("missing.pak").c_str(), nullptr), 1);
    // A card whose name no row starts is not in the card table.
    EXPECT_EQ(FlashImage("PCMCIA\\OTHER-CARD\\1", text.c_str(), nullptr), 4);
    EXPECT_EQ(driver.erases(kModemCard), 0);
}

TEST_F(FlashEngineTest, FlashEngineObjectOpensFlashesAndCloses) {
    const Bytes data = Pattern(700, 2);
    const std::string path = Write(Pak(0x1143, 1, 4, {{0x8000, 0x3000, data}}));
    CFlashEngine engine;
    ASSERT_EQ(engine.m_Status, 0);
    EXPECT_EQ(Field(engine.m_Info.cardsFound), 2);
    ASSERT_NE(engine.m_Cards, nullptr);
    EXPECT_EQ(flashdrv::CardName(engine.m_Cards[1]), kComboCard);
    EXPECT_EQ(engine.Flash(kModemCard, path.c_str(), Record), 0);
    EXPECT_EQ(FlashDriver::Range(driver.Flash(kModemCard), 0x3000, data.size()), data);
    EXPECT_EQ(g_progress, std::vector<unsigned>{73});
    engine.Close();
    EXPECT_EQ(driver.open_handles(), 0);
    EXPECT_EQ(engine.m_Cards, nullptr);
}

}  // namespace
