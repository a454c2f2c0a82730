// The flash dialogues driven directly: the XMODEM sender's answers, the boot loader's error
// words, the reply routines, and both roads against the simulated card's state machine.
#include "cardflash/flash/flash_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/flash_codes.h"
#include "cardflash/flash/flash_test_links.h"
#include "cardflash/flash/fw_test_files.h"

namespace {

using flash::CXmodemSender;
using flashtest::EngineLink;
using flashtest::ScriptLink;

std::vector<uint8_t> Pattern(size_t n, unsigned seed = 7) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 31 + seed + i / 251) & 0xFF);
    return v;
}

std::vector<int> g_progress;
void Record(int percent) { g_progress.push_back(percent); }

TEST(Crc16Xmodem, GivesTheCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(flash::Crc16Xmodem(reinterpret_cast<const uint8_t*>(text), 9), 0x31C3);
    EXPECT_EQ(flash::Crc16Xmodem(nullptr, 0), 0);
}

// The three packets of a 2500-byte image, byte for byte, as they go out.
TEST(UploadXmodem, SendsThreePaddedPacketsWithTheirCrcs) {
    const std::vector<uint8_t> image = Pattern(2500);
    ScriptLink link;
    link.reads = {"C", "\x06", "\x06", "\x06"};
    g_progress.clear();
    ASSERT_EQ(flash::UploadXmodem(link, image.data(), image.size(), Record), 0);
    ASSERT_EQ(link.writes.size(), 4u);
    for (int p = 0; p < 3; ++p) {
        const std::string& packet = link.writes[static_cast<size_t>(p)];
        ASSERT_EQ(packet.size(), 1029u);
        EXPECT_EQ(static_cast<uint8_t>(packet[0]), 0x02);
        EXPECT_EQ(static_cast<uint8_t>(packet[1]), p + 1);
        EXPECT_EQ(static_cast<uint8_t>(packet[2]), static_cast<uint8_t>(~(p + 1)));
        std::vector<uint8_t> data(1024, 0x1A);
        size_t n = std::min<size_t>(1024, image.size() - static_cast<size_t>(p) * 1024);
        std::copy_n(image.begin() + p * 1024, n, data.begin());
        EXPECT_EQ(0, std::memcmp(packet.data() + 3, data.data(), 1024)) << "packet " << p + 1;
        uint16_t crc = flash::Crc16Xmodem(data.data(), 1024);
        EXPECT_EQ(static_cast<uint8_t>(packet[1027]), crc >> 8);
        EXPECT_EQ(static_cast<uint8_t>(packet[1028]), crc & 0xFF);
    }
    EXPECT_EQ(link.writes[3], "\x04");
    EXPECT_EQ(g_progress, (std::vector<int>{0, 40, 81, 100}));
    EXPECT_EQ(link.opens, 1);
    EXPECT_EQ(link.closes, 1);
}

// What the sender reads, and how it ends: the result and the last byte it writes.
TEST(UploadXmodem, EndsAsTheAnswersSay) {
    const std::string fail = ScriptLink::kFail;
    auto repeat = [](const std::string& s, int n) {
        std::deque<std::string> d(static_cast<size_t>(n), s);
        return d;
    };
    auto cat = [](std::deque<std::string> a, const std::deque<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        std::deque<std::string> reads;
        int result;
        size_t packets;
    } cases[] = {
        {"nak instead of start", {"\x15"}, 33, 0},
        {"can instead of start", {"\x18"}, 34, 0},
        {"failed read at start", {fail}, 35, 0},
        {"20 misses, then start", cat(cat(repeat("x", 10), repeat("", 10)), {"C", "\x06", "\x06"}), 0, 2},
        {"21 misses", repeat("", 21), 37, 0},
        {"ten naks", cat({"C"}, repeat("\x15", 10)), 39, 10},
        {"nine naks, then ack", cat(cat({"C"}, repeat("\x15", 9)), {"\x06", "\x06"}), 0, 11},
        {"can during the transfer counts as a rejection", {"C", "\x18", "\x06", "\x06"}, 0, 3},
        {"five silent answers, then ack", cat(cat({"C"}, repeat("", 5)), {"\x06", "\x06"}), 0, 7},
        {"six silent answers", cat({"C"}, repeat("", 6)), 37, 6},
        {"failed read after a block", {"C", fail}, 35, 1},
        {"limits reset by an ack", cat(cat(cat({"C"}, repeat("\x15", 9)), {"\x06"}), repeat("\x15", 9)), 37, 25},
    };
    const std::vector<uint8_t> image = Pattern(1500);
    for (const Case& c : cases) {
        ScriptLink link;
        link.reads = c.reads;
        EXPECT_EQ(flash::UploadXmodem(link, image.data(), image.size(), nullptr), c.result) << c.name;
        ASSERT_FALSE(link.writes.empty()) << c.name;
        EXPECT_EQ(link.writes.back(), c.result ? "\x18" : "\x04") << c.name;
        EXPECT_EQ(link.writes.size() - 1, c.packets) << c.name;
        EXPECT_EQ(link.closes, 1) << c.name;
    }
}

TEST(UploadXmodem, PortThatDoesNotOpenGives38) {
    ScriptLink link;
    link.openFails = true;
    const std::vector<uint8_t> image = Pattern(10);
    EXPECT_EQ(flash::UploadXmodem(link, image.data(), image.size(), nullptr), 38);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_EQ(link.closes, 0);
}

// A short write is a block that did not go out: it is sent again, and never acknowledged as sent.
TEST(UploadXmodem, ShortWriteIsSentAgain) {
    const std::vector<uint8_t> image = Pattern(2048);
    CXmodemSender sender(image.data(), image.size());
    sender.OnRead('C');
    ASSERT_EQ(sender.Next(), CXmodemSender::Action::SendPacket);
    sender.OnPacketWritten(false);
    ASSERT_EQ(sender.Next(), CXmodemSender::Action::SendPacket);
    EXPECT_EQ(sender.Remaining(), 2048u);
    EXPECT_EQ(sender.Packet()[1], 1);
    sender.OnPacketWritten(true);
    sender.OnRead(flash::kAck);
    EXPECT_EQ(sender.Remaining(), 1024u);
    EXPECT_EQ(sender.Packet()[1], 2);
}

TEST(BootLoaderError, FindsTheWordsInEitherCase) {
    struct Case {
        const char* reply;
        int code;
        const char* upper;
    } cases[] = {
        {"\r\nTIMEOUT ERROR\r\n", 126, "\r\nTIMEOUT ERROR\r\n"},
        {"timeout error", 0, "TIMEOUT ERROR"},  // the time-out word counts only with its return
        {"erase error", 127, "ERASE ERROR"},
        {"Programming Error\r\n", 128, "PROGRAMMING ERROR\r\n"},
        {"\r\nchecksum error\r\n", 129, "\r\nCHECKSUM ERROR\r\n"},
        {"CHECKSUM ERROR ERASE ERROR", 127, "CHECKSUM ERROR ERASE ERROR"},
        {"UPLOAD\r\n", 0, "UPLOAD\r\n"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string reply = c.reply;
        EXPECT_EQ(flash::BootLoaderError(reply), c.code) << c.reply;
        EXPECT_EQ(reply, c.upper);
    }
}

TEST(ReplyRoutines, CleanAndDecode) {
    std::string cleaned;
    ASSERT_TRUE(flash::CleanReply("at!xcis\r\n\r\n01 02 0a\r\nFF\r\n\r\nOK\r\n", "AT!XCIS", &cleaned));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(flash::DecodeHex(cleaned, &bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 10, 0xFF}));
    // A last line without its line feed is still data.
    ASSERT_TRUE(flash::CleanReply("0102\r\nOK\r\n0304", "at!xsave", &cleaned));
    ASSERT_TRUE(flash::DecodeHex(cleaned, &bytes));
    EXPECT_EQ(bytes.size(), 4u);
    EXPECT_FALSE(flash::CleanReply(std::string(255, '0') + "\n", "x", &cleaned));
    std::string big;
    for (int i = 0; i < 30; ++i) big += std::string(200, '0') + "\n";
    EXPECT_FALSE(flash::CleanReply(big, "x", &cleaned));

    struct Case {
        const char* text;
        size_t size;  // bytes decoded, or 0 for a refused text
        bool ok;
    } cases[] = {
        {"01 02 03 04", 4, true}, {"0102030405", 5, true}, {"", 0, true},
        {"01 02 03 4", 0, false},  // odd count of digits
        {"01 02 0G 04", 0, false}, {"01 02 03 04 ERROR", 0, false},
    };
    for (const Case& c : cases) {
        bytes.clear();
        EXPECT_EQ(flash::DecodeHex(c.text, &bytes), c.ok) << c.text;
        EXPECT_EQ(bytes.size(), c.size) << c.text;
    }
}

// ---- Both roads against the simulated card ----------------------------------------------------

struct ModemImage {
    std::vector<uint8_t> image;     // as the file gives it
    std::vector<uint8_t> expected;  // as the card must receive it
};

ModemImage MakeModemImage(const std::vector<uint8_t>& cis, const std::vector<uint8_t>& settings) {
    fwtest::FisImage builder(0x4A10);
    builder.Cis(4, 0x4100).Put(0x4100, {1, 2, 3, 4}).TextItem(0x30, 8, 0x4600).Put(0x4600, {9, 9, 9, 9, 9, 9, 9, 9});
    ModemImage m;
    m.image = builder.Build();
    m.expected = m.image;
    std::copy(cis.begin(), cis.end(), m.expected.begin() + 0x4100);
    std::copy_n(settings.begin(), 8, m.expected.begin() + 0x4600);
    // The CIS entry records the length it holds now.
    size_t entry = 0x4000;
    while (m.expected[entry] != 0x10) entry += 2 + m.expected[entry + 1];
    m.expected[entry + 4] = 0x00;
    m.expected[entry + 5] = 0x01;
    fis::StoreChecksum(m.expected.data(), m.expected.size());
    return m;
}

modemsim::ModemState Card(const ModemImage& m) {
    modemsim::ModemState s;
    s.cis = flashtest::CardCis();
    s.savedSettings = flashtest::kCardSettings;
    s.bootImageSize = m.image.size();
    return s;
}

int Flash(EngineLink& link, const ModemImage& m) {
    CFis fis;
    EXPECT_EQ(fis.Attach(m.image.data(), static_cast<int>(m.image.size())), 0);
    return flash::FlashModemImage(link, fis, Record);
}

bool Sent(const EngineLink& link, const std::string& command) {
    const auto& c = link.engine.commands();
    return std::find(c.begin(), c.end(), command) != c.end();
}

TEST(FlashModemImage, CardReceivesTheImageWithItsCisAndSettings) {
    const ModemImage m = MakeModemImage(flashtest::CardCis(), {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40});
    EngineLink link(Card(m));
    g_progress.clear();
    ASSERT_EQ(Flash(link, m), 0);
    EXPECT_EQ(link.engine.state().bootStarts, 1);
    EXPECT_EQ(link.engine.state().bootReceived, m.expected);
    EXPECT_TRUE(link.engine.state().bootFlashed);
    EXPECT_EQ(link.engine.state().firmwareVersion, "1.90");
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.front(), 5);
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
    EXPECT_EQ(link.opens, link.closes);

    // A settings reply longer than the item is taken when its bytes past the item are zero.
    modemsim::ModemState longer = Card(m);
    longer.savedSettings.insert(longer.savedSettings.end(), {0x00, 0x00});
    EngineLink zeros(longer);
    ASSERT_EQ(Flash(zeros, m), 0);
    EXPECT_EQ(zeros.engine.state().bootReceived, m.expected);
}

// The loader's error words, wherever they come: what the flash gives and how often it started.
TEST(FlashModemImage, ErrorWordsRestartTheUploadAtMostThreeTimes) {
    using Fault = modemsim::ModemState::BootFault;
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        bool silentAfterError;
        int result;
        int starts;
    } cases[] = {
        {"checksum error once", {{1, 18, "\r\nCHECKSUM ERROR\r\n", false}}, false, 0, 2},
        {"lower case, split", {{1, 3, "\r\nchecksum error\r\n", true}}, false, 0, 2},
        {"erase error on the first block", {{1, 0, "\r\nErase Error\r\n", true}}, false, 0, 2},
        {"twice", {{1, 5, "\r\nPROGRAMMING ERROR\r\n", false}, {2, 7, "\r\nTIMEOUT ERROR\r\n", false}}, false, 0, 3},
        {"all three tries",
         {{1, 2, "\r\nCHECKSUM ERROR\r\n", false}, {2, 2, "\r\nCHECKSUM ERROR\r\n", false},
          {3, 2, "\r\nCHECKSUM ERROR\r\n", true}},
         false, 129, 3},
        {"no upload after the word", {{1, 4, "\r\nERASE ERROR\r\n", false}}, true, 127, 1},
    };
    const ModemImage m = MakeModemImage(flashtest::CardCis(), {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40});
    for (const Case& c : cases) {
        modemsim::ModemState s = Card(m);
        s.bootFaults = c.faults;
        s.bootSilentAfterError = c.silentAfterError;
        EngineLink link(s);
        EXPECT_EQ(Flash(link, m), c.result) << c.name;
        EXPECT_EQ(link.engine.state().bootStarts, c.starts) << c.name;
        EXPECT_EQ(link.engine.state().bootFlashed, c.result == 0) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(link.engine.state().bootReceived, m.expected) << c.name;
        }
        EXPECT_EQ(link.opens, link.closes) << c.name;
    }
}

// Replies that must stop the flash before the boot loader is started.
TEST(FlashModemImage, BadCardRepliesStopBeforeTheBootLoader) {
    const ModemImage m = MakeModemImage(flashtest::CardCis(), {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40});
    std::vector<uint8_t> no_names(256, 0xFF);
    std::vector<uint8_t> one_name = {0x15, 0x05, 0x04, 0x01, 'A', 0x00, 0xFF};
    one_name.resize(256, 0xFF);
    struct Case {
        const char* name;
        std::vector<uint8_t> cis;
        std::vector<uint8_t> settings;
        std::set<std::string> errors;
        int result;
    } cases[] = {
        {"255-byte cis", [] { auto v = flashtest::CardCis(); v.pop_back(); return v; }(), {1, 2, 3, 4, 5, 6, 7, 8}, {}, 124},
        {"257-byte cis", [] { auto v = flashtest::CardCis(); v.push_back(0xFF); return v; }(), {1, 2, 3, 4, 5, 6, 7, 8}, {}, 124},
        {"cis without version names", no_names, {1, 2, 3, 4, 5, 6, 7, 8}, {}, 124},
        {"cis with one name", one_name, {1, 2, 3, 4, 5, 6, 7, 8}, {}, 124},
        {"settings shorter than the item", flashtest::CardCis(), {1, 2, 3, 4, 5, 6, 7}, {}, 68},
        {"settings longer than the item", flashtest::CardCis(), {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, 68},
        {"no settings", flashtest::CardCis(), {}, {}, 68},
        {"xsave answers error", flashtest::CardCis(), {1, 2, 3, 4, 5, 6, 7, 8}, {"AT!XSAVE"}, 19},
        {"xcis answers error", flashtest::CardCis(), {1, 2, 3, 4, 5, 6, 7, 8}, {"AT!XCIS"}, 19},
        {"ate0v1 answers error", flashtest::CardCis(), {1, 2, 3, 4, 5, 6, 7, 8}, {"ATE0V1"}, 19},
    };
    for (const Case& c : cases) {
        modemsim::ModemState s = Card(m);
        s.cis = c.cis;
        s.savedSettings = c.settings;
        s.errorCommands = c.errors;
        EngineLink link(s);
        EXPECT_EQ(Flash(link, m), c.result) << c.name;
        EXPECT_FALSE(Sent(link, "AT&&XX")) << c.name;
        EXPECT_EQ(link.engine.state().bootStarts, 0) << c.name;
    }
}

TEST(FlashModemImage, SettingsWithNonHexCharactersStopBeforeTheBootLoader) {
    const ModemImage m = MakeModemImage(flashtest::CardCis(), {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40});
    ScriptLink link;
    std::string cis_reply = "\r\n";
    const std::vector<uint8_t> cis = flashtest::CardCis();
    for (size_t i = 0; i < cis.size(); ++i) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02X", cis[i]);
        cis_reply += hex;
        cis_reply += i % 16 == 15 ? "\r\n" : " ";
    }
    link.reads = {"\r\nOK\r\n", cis_reply + "\r\nOK\r\n", "\r\n01 02 03 04 05 06 07 0X\r\nOK\r\n"};
    CFis fis;
    ASSERT_EQ(fis.Attach(m.image.data(), static_cast<int>(m.image.size())), 0);
    EXPECT_EQ(flash::FlashModemImage(link, fis, nullptr), 19);
    EXPECT_EQ(link.writes, (std::vector<std::string>{"ATE0V1\r", "AT!XCIS\r", "AT!XSAVE\r"}));
}

TEST(FlashModemImage, ImageWithoutSettingsItemGives121) {
    fwtest::FisImage builder(0x4A10);
    builder.Cis(4, 0x4100);
    std::vector<uint8_t> image = builder.Build();
    CFis fis;
    ASSERT_EQ(fis.Attach(image.data(), static_cast<int>(image.size())), 0);
    ScriptLink link;
    EXPECT_EQ(flash::FlashModemImage(link, fis, nullptr), 121);
    EXPECT_TRUE(link.writes.empty());
}

// A block that went out short is not counted as sent: the upload starts again from its first
// block, and after the third short write the flash gives up.
struct AlwaysShort : EngineLink {
    using EngineLink::EngineLink;
    long Write(const void* data, size_t size) override {
        long n = EngineLink::Write(data, size);
        return size > 16 ? n - 1 : n;  // the commands and the mode code go out whole
    }
};

TEST(FlashModemImage, ShortBlockWriteStartsOver) {
    const ModemImage m = MakeModemImage(flashtest::CardCis(), {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40});
    {
        EngineLink link(Card(m));
        link.shortWriteAt = 9;  // four commands, the mode code, then the fifth block
        EXPECT_EQ(Flash(link, m), 0);
        EXPECT_GE(link.engine.state().bootStarts, 2);
        EXPECT_EQ(link.engine.state().bootReceived, m.expected);
    }
    AlwaysShort link(Card(m));
    EXPECT_EQ(Flash(link, m), 125);
    EXPECT_FALSE(link.engine.state().bootFlashed);
    EXPECT_EQ(link.opens, link.closes);
}

TEST(FlashAddOnImage, AddOnTakesTheImageThroughNakAndRepeat) {
    const std::vector<uint8_t> image = Pattern(2500);
    modemsim::ModemState s;
    s.addOn = true;
    s.addOnNakPackets = {2};
    s.addOnSilentPackets = {3};  // its ACK is lost: the block comes again and is not stored twice
    EngineLink link(s);
    g_progress.clear();
    ASSERT_EQ(flash::FlashAddOnImage(link, image.data(), image.size(), Record), 0);
    std::vector<uint8_t> expected = image;
    expected.resize(3072, 0x1A);
    EXPECT_EQ(link.engine.state().addOnReceived, expected);
    EXPECT_EQ(link.engine.state().addOnPackets, 5);
    EXPECT_TRUE(link.engine.state().addOnFlashed);
    EXPECT_EQ(link.engine.state().addOnVersion, "2.20");
    EXPECT_EQ(link.engine.mode(), modemsim::ModemEngine::Mode::Command);
    EXPECT_EQ(g_progress.back(), 100);
}

TEST(FlashAddOnImage, EndsWithTheSendersCode) {
    struct Case {
        const char* name;
        uint8_t startByte;
        std::set<int> naks;
        int result;
        bool aborted;
    } cases[] = {
        {"nak instead of start", 0x15, {}, 33, true},
        {"can instead of start", 0x18, {}, 34, true},
        {"ten naks", 'C', {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 39, true},
    };
    const std::vector<uint8_t> image = Pattern(3000);
    for (const Case& c : cases) {
        modemsim::ModemState s;
        s.addOn = true;
        s.addOnStartByte = c.startByte;
        s.addOnNakPackets = c.naks;
        EngineLink link(s);
        EXPECT_EQ(flash::FlashAddOnImage(link, image.data(), image.size(), nullptr), c.result) << c.name;
        EXPECT_EQ(link.engine.state().addOnAborted, c.aborted) << c.name;
        EXPECT_TRUE(link.engine.state().addOnReceived.empty()) << c.name;
    }
}

TEST(FlashAddOnImage, SilentAddOnGives40AfterTheUpload) {
    const std::vector<uint8_t> image = Pattern(100);
    ScriptLink link;
    link.reads = {"\r\nErasing\r\n(Ctrl-X aborts) ...\r\n", "C", "\x06"};
    EXPECT_EQ(flash::FlashAddOnImage(link, image.data(), image.size(), nullptr), 40);
    EXPECT_EQ(link.writes[0], "AT**");
    EXPECT_EQ(link.writes[1], "Flash\r");
    EXPECT_EQ(std::count(link.writes.begin(), link.writes.end(), std::string("\x04")), 1 + 16);
}

}  // namespace
