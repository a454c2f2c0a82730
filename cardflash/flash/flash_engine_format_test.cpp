// The flash engine's byte work on its own: the entry-table check, the card's values in a CIS with
// tuples that are too short or run off the data, the card-name rows, the progress arithmetic and
// the block writes against a driver that answers short. No Windows header: also runs natively.
#include "cardflash/flash/flash_engine_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cardflash/flash/fw_test_files.h"

namespace {

// A field of a packed driver layout as a value (gtest binds its arguments by reference).
template <typename T>
T Field(T v) {
    return v;
}

using fwtest::Bytes;

const std::string kName = "MDM56K", kDescription = "test image";

Bytes Pak(const std::vector<fwtest::PakEntryLayout>& entries, const Bytes& data) {
    return fwtest::PakFile(0x0190, 0x1143, 1, 4, kName, kDescription, entries, data);
}

TEST(FlashEngineFormat, EntryTableIsCheckedWhole) {
    const uint32_t t = static_cast<uint32_t>(fwtest::PakTableOffset(kName, kDescription));
    const Bytes data(64, 0);
    struct Case {
        const char* what;
        std::vector<fwtest::PakEntryLayout> entries;
        bool ok;
        int count;
    } cases[] = {
        {"one entry", {{0x8000, t + 14, 0x3000, 64}}, true, 1},
        {"two entries", {{0x0103, t + 28, 0x800, 16}, {0x8000, t + 44, 0x3000, 48}}, true, 2},
        {"empty last entry at the end of the file", {{0x8000, t + 14 + 64, 0x3000, 0}}, true, 1},
        {"no last entry", {{0x0000, t + 14, 0x3000, 64}}, false, 0},
        {"data one byte too long", {{0x8000, t + 14, 0x3000, 65}}, false, 0},
        {"length wraps past the offset", {{0x8000, t + 14, 0x3000, 0xFFFFFFF0u}}, false, 0},
        {"data in the table", {{0x0000, t + 14, 0x800, 8}, {0x8000, t + 28, 0x3000, 8}}, false, 0},
        {"flash range past 4 GiB", {{0x8000, t + 14, 0xFFFFFFFFu, 2}}, false, 0},
        {"CIS entry doubled past 4 GiB", {{0x8001, t + 14, 0xFFFFFF90u, 64}}, false, 0},
        {"CIS entry doubled up to 4 GiB", {{0x8001, t + 14, 0xFFFFFF80u, 64}}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes pak = Pak(c.entries, data);
        int count = -1;
        EXPECT_EQ(flashdrv::CheckEntryTable(pak.data(), pak.size(), &count), c.ok);
        if (c.ok) {
            EXPECT_EQ(count, c.count);
        }
    }
    // Every cut of a valid file fails without reading past it.
    const Bytes whole = Pak({{0x0103, t + 28, 0x800, 16}, {0x8000, t + 44, 0x3000, 48}}, data);
    for (size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + n);
        EXPECT_FALSE(flashdrv::CheckEntryTable(cut.data(), cut.size(), nullptr)) << n;
    }
    // A table offset that points into the header.
    Bytes early = whole;
    fwtest::Put16(&early, 10, 4);
    EXPECT_FALSE(flashdrv::CheckEntryTable(early.data(), early.size(), nullptr));
}

flashdrv::CardRecord Card() {
    flashdrv::CardRecord card;
    std::memset(&card, 0, sizeof card);
    card.tuple44First = 0x44332211;
    card.tuple44Second = 0x88776655;
    for (int i = 0; i < 8; ++i) card.tuple88[i] = static_cast<uint16_t>(0xB0 + i);
    for (int i = 0; i < 6; ++i) card.nodeAddress[i] = static_cast<uint16_t>(0xE0 + i);
    return card;
}

Bytes Words(const Bytes& cis) { return flashdrv::Widen(cis.data(), cis.size()); }

TEST(FlashEngineFormat, ValuesGoOnlyWhereTheTupleHoldsThem) {
    // A serial tuple with room for its first value only, a values tuple too short for any, then a
    // node tuple whose link runs off the end of the data.
    const Bytes cis = {0x44, 0x02, 0, 0, 0x88, 0x01, 0, 0x89, 0x20, 0, 0, 0};
    Bytes w = Words(cis);
    flashdrv::KeepCardValues(w.data(), w.size(), Card(), true);
    Bytes want = Words(cis);
    fwtest::Put32(&want, 4, 0x44332211);
    EXPECT_EQ(w, want);
}

TEST(FlashEngineFormat, WalkStopsAtTheEndTupleAndTheEndOfTheData) {
    // Tuples after the end tuple keep their bytes; so does data without any end tuple.
    const Bytes cis = {0x01, 0x00, 0xFF, 0x44, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes w = Words(cis);
    flashdrv::KeepCardValues(w.data(), w.size(), Card(), true);
    EXPECT_EQ(w, Words(cis));
    for (size_t n = 0; n < 8; ++n) {
        Bytes odd(n, 0x44);  // a code with no room for its link, and odd lengths
        flashdrv::KeepCardValues(odd.data(), odd.size(), Card(), true);
    }
}

TEST(FlashEngineFormat, NodeAddressFindsTheNetworkFunctionsNodeId) {
    struct Case {
        const char* what;
        Bytes cis;
        int node_at;  // byte offset of the tuple that takes the node address; -1: none
    } cases[] = {
        {"network function first", {0x21, 0x02, 0x06, 0, 0x22, 0x08, 0x04, 6, 0, 0, 0, 0, 0, 0, 0xFF}, 4},
        {"second function without id 6", {0x21, 0x02, 0x02, 0, 0x21, 0x02, 0x03, 0, 0x22, 0x08, 0x04, 6, 0, 0, 0, 0, 0, 0, 0xFF}, 8},
        {"node-id extension before the function", {0x22, 0x08, 0x04, 6, 0, 0, 0, 0, 0, 0, 0x21, 0x02, 0x06, 0, 0xFF}, -1},
        {"one function, not the network", {0x21, 0x02, 0x02, 0, 0x22, 0x08, 0x04, 6, 0, 0, 0, 0, 0, 0, 0xFF}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes w = Words(c.cis);
        flashdrv::KeepCardValues(w.data(), w.size(), Card(), true);
        Bytes want = Words(c.cis);
        if (c.node_at >= 0)
            for (int i = 0; i < 6; ++i) fwtest::Put16(&want, 2 * c.node_at + 8 + 2 * i, static_cast<uint16_t>(0xE0 + i));
        EXPECT_EQ(w, want);
    }
}

// The card's values go into the image's CIS only when it lies inside the data. Data whose last two
// bytes hold its checksum is a whole image: the checksum then covers the values. Other data may be
// one entry of an image that goes on: only the CIS changes, never its last two bytes.
TEST(FlashEngineFormat, ImageCisGetsTheCardsValuesAndAWholeImageItsChecksum) {
    struct Case {
        const char* what;
        uint32_t area;
        uint8_t first;
        bool whole;      // the data ends with its own checksum
        bool kept;
        bool summed;     // the last two bytes are the checksum afterwards
    } cases[] = {
        {"whole image", 0x4100, 1, true, true, true},
        {"part of an image", 0x4100, 1, false, true, false},
        {"not a CIS", 0x4100, 2, true, false, true},
        {"area ends with the data", 0x4400 - 256, 1, true, true, false},
        {"area runs past the data", 0x4400 - 256 + 1, 1, true, false, true},
        {"area past the end", 0xFFFFFF00u, 1, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fwtest::FisImage img(0x4400);
        img.Cis(16, c.area);
        if (c.area < 0x4400 - 4) img.Put(c.area, {c.first, 0x00, 0x44, 0x08});
        Bytes image = img.Build();
        if (!c.whole) image[image.size() - 2] ^= 0x5A;
        const Bytes before = image;
        EXPECT_EQ(flashdrv::KeepCardValuesInImage(image.data(), image.size(), Card()), c.kept);
        const size_t n = image.size();
        EXPECT_EQ(fwtest::Sum16(image, 0, n - 2) == (image[n - 2] | image[n - 1] << 8), c.summed);
        if (!c.kept) {
            EXPECT_EQ(image, before);
            continue;
        }
        EXPECT_EQ(image[c.area + 4], 0x11);  // low byte of each word of the first value
        EXPECT_EQ(image[c.area + 5], 0x33);
        for (size_t i = 0; i < n; ++i) {
            const bool cis = i >= c.area && i < c.area + 256;
            const bool checksum = c.summed && i >= n - 2;
            if (!cis && !checksum) {
                ASSERT_EQ(image[i], before[i]) << i;
            }
        }
    }
}

TEST(FlashEngineFormat, CardNameRows) {
    struct Case {
        const char* text;
        bool ok;
        const char* prefix;
        uint16_t id;
    } cases[] = {
        {"PCMCIA\\DORVEX-MODEM_56K 1146", true, "PCMCIA\\DORVEX-MODEM_56K", 0x1146},
        {"  PCMCIA\\X\t1a2b", true, "PCMCIA\\X", 0x1A2B},
        {"PCMCIA\\X 123456", true, "PCMCIA\\X", 0x1234},
        {"PCMCIA\\X", false, "", 0},
        {"PCMCIA\\X zz", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        flashdrv::CardNameRow row;
        ASSERT_EQ(flashdrv::ParseCardNameRow(c.text, &row), c.ok);
        if (c.ok) {
            EXPECT_EQ(row.prefix, c.prefix);
            EXPECT_EQ(row.card_id, c.id);
        }
    }
    flashdrv::CardRecord card = Card();
    flashdrv::SetCardName(&card, "PCMCIA\\DORVEX-MODEM_56K-77C2\\1");
    EXPECT_FALSE(flashdrv::MatchCardTable(&card, {{"PCMCIA\\DORVEX-MODEM_56K", 0x1046}}));  // no table row
    EXPECT_FALSE(flashdrv::MatchCardTable(&card, {{"PCMCIA\\OTHER", 0x1146}}));
    EXPECT_EQ(Field(card.matched), 0u);
    EXPECT_TRUE(flashdrv::MatchCardTable(&card, {{"PCMCIA\\OTHER", 0x1146}, {"PCMCIA\\DORVEX", 0x1146}}));
    EXPECT_EQ(Field(card.matched), 1u);
    EXPECT_EQ(card.tableRow[11], 0x10);
    EXPECT_EQ(flashdrv::CanBeFlashed(card), 1u);
    // A name as long as the field is cut to leave its terminator.
    flashdrv::SetCardName(&card, std::string(300, 'A'));
    EXPECT_EQ(flashdrv::CardName(card).size(), 255u);
}

std::vector<unsigned> g_percent;
void Percent(unsigned p) { g_percent.push_back(p); }

TEST(FlashEngineFormat, ProgressIsClampedAndNeverDividesByZero) {
    g_percent.clear();
    flashdrv::Progress p;
    p.callback = Percent;
    p.total = 0;
    p.Advance(512);
    p.total = 1000;
    p.Advance(512);   // 1024 of 1000: a CIS entry grows when widened
    p.total = 0xFFFFFFFFu;
    p.done = 0xFFFFFFF0u;
    p.Advance(512);
    EXPECT_EQ(g_percent, (std::vector<unsigned>{100, 100, 100}));
}

// Answers every write with the whole buffer, except the one it is told to cut short.
class Writer : public drv::DriverHandle {
public:
    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* returned) override {
        EXPECT_EQ(in, out);
        flashdrv::WriteRequest r;
        EXPECT_EQ(in_size, sizeof r);
        std::memcpy(&r, in, sizeof r);
        lengths.push_back(r.length);
        codes.push_back(code);
        r.status = static_cast<int>(lengths.size()) == bad_status ? 3 : 0;
        std::memcpy(out, &r, sizeof r);
        *returned = static_cast<int>(lengths.size()) == short_answer ? out_size - 2 : out_size;
        return true;
    }
    std::vector<uint32_t> lengths, codes;
    int short_answer = 0, bad_status = 0;
};

TEST(FlashEngineFormat, EveryBlockMustBeAnsweredWhole) {
    const Bytes data(1100, 0x5A);
    flashdrv::CardRecord card = Card();
    card.identity = flashdrv::IdentityWord(0x1146);
    struct Case {
        int short_answer, bad_status, result;
        std::vector<uint32_t> lengths;
    } cases[] = {
        {0, 0, 0, {512, 512, 76}},
        {2, 0, 5, {512, 512}},
        {0, 3, 5, {512, 512, 76}},
        {1, 0, 5, {512}},
    };
    for (const Case& c : cases) {
        Writer w;
        w.short_answer = c.short_answer;
        w.bad_status = c.bad_status;
        EXPECT_EQ(flashdrv::WriteFlashBlocks(w, data.data(), 1100, 0x3000, 0x8000, card, nullptr), c.result);
        EXPECT_EQ(w.lengths, c.lengths);
    }
    // A CIS entry of a card 0x1146 goes to the CIS memory.
    Writer w;
    EXPECT_EQ(flashdrv::WriteFlashBlocks(w, data.data(), 512, 0x800, 0x0001, card, nullptr), 0);
    EXPECT_EQ(w.codes, (std::vector<uint32_t>{16, 16}));
    EXPECT_EQ(w.lengths, (std::vector<uint32_t>{512, 0}));
}

}  // namespace
