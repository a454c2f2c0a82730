#include "cardflash/flash/modemreplies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "simulators/modem/modemlayout.h"

namespace ms = modemsim;

namespace {

// A string table of a few entries, standing in for the program's.
class FakeTexts : public IStringTable {
public:
    bool Load(unsigned id, CString& text) const override {
        auto it = texts_.find(id);
        if (it == texts_.end()) return false;
        text = it->second.c_str();
        return true;
    }

private:
    std::map<unsigned, std::string> texts_ = {
        {22000, "No Cable"},      {22001, "PSTN"},          {22005, "ISDN"},       {22020, "No previous call"},
        {22025, "Voice"},         {22027, "Data Call"},     {22040, "None"},       {22041, "V.42bis"},
        {22042, "MNP5"},          {22060, "Disabled/None"}, {22061, "V.42 LAPM"},  {22063, "MNP10"},
        {22080, "Unknown"},       {22096, "Cause 0x10"},    {22215, "Digital Line Protect Fault"},
        {24900, "No cable"},      {24901, "PSTN cable"},    {24916, "ISDN Tamrisk"},
        {29410, "Unknown"},       {29411, "PSTN"},          {29412, "AMPS"},       {29413, "GSM/PCS 1900"},
        {29414, "Voice"},         {29415, "ISDN"},          {29416, "PDC"},
        // Texts that a value out of its range must not borrow (22025 is a call setup text too).
        {24900 + 400, "not a cable"},
    };
};

const FakeTexts kTexts;

TEST(ModemReply, VersionLine) {
    CStringArray lines;
    std::string reply = ms::FirmwareVersionReply("1.80");
    SplitReplyLines(reply.data(), static_cast<int>(reply.size()), lines);
    CString version;
    ASSERT_TRUE(ParseVersionLines(lines, version));
    EXPECT_EQ(version, "1.80");

    CStringArray none;
    std::string plain = ms::Info("no version here");
    SplitReplyLines(plain.data(), static_cast<int>(plain.size()), none);
    EXPECT_FALSE(ParseVersionLines(none, version));

    // Only pieces that a "\r\n" ends are lines.
    CStringArray cut;
    SplitReplyLines("a\r\n\r\nb.c", 8, cut);
    ASSERT_EQ(cut.GetSize(), 2);
    EXPECT_EQ(cut[0], "a");
    EXPECT_EQ(cut[1], "");
    SplitReplyLines("x\r", 2, cut);
    EXPECT_EQ(cut.GetSize(), 2);
}

TEST(ModemReply, ReplyBufferKeepsItsTerminatorAndReportsFull) {
    CReplyBuffer buffer;
    const std::string reply = ms::FirmwareVersionReply("1.80");
    EXPECT_EQ(buffer.Append(reply.data(), static_cast<int>(reply.size())), static_cast<int>(reply.size()));
    EXPECT_TRUE(buffer.Contains("OK\r"));
    EXPECT_FALSE(buffer.IsFull());

    CReplyBuffer flood;
    const std::string noise(3000, 'x');
    EXPECT_EQ(flood.Append(noise.data(), 2000), 2000);
    EXPECT_EQ(flood.Append(noise.data(), 1000), CReplyBuffer::kCapacity - 2000);
    EXPECT_TRUE(flood.IsFull());
    EXPECT_EQ(flood.Append("OK\r", 3), 0);  // what comes after a full buffer is not taken
    EXPECT_FALSE(flood.Contains("OK\r"));
    EXPECT_EQ(flood.data()[CReplyBuffer::kCapacity], '\0');

    CReplyBuffer zeros;
    zeros.Append("\0\0OK\r", 5);
    EXPECT_TRUE(zeros.Contains("OK\r"));
}

// A port with a clock of its own: each look at the queue moves the clock on by 10 ms, and the
// script's pieces come at their times (kFail: the read of that piece fails).
class ScriptedPort : public IReplyPort {
public:
    static constexpr const char* kFail = "\x01<fail>";
    struct Piece {
        unsigned long atMs;
        std::string bytes;
    };
    explicit ScriptedPort(std::vector<Piece> script, unsigned long everyMs = 0, std::string talk = "")
        : script_(std::move(script)), everyMs_(everyMs), talk_(std::move(talk)) {}
    unsigned long now = 100000;  // the clock does not start at 0
    unsigned long start = now;

    unsigned long NowMs() override { return now; }
    long Queued() override {
        now += 10;
        // A talker that never stops: one more piece every `everyMs_`.
        if (everyMs_ && now - start >= next_) {
            next_ += everyMs_;
            script_.push_back({now - start, talk_});
        }
        if (index_ >= script_.size() || script_[index_].atMs > now - start) return 0;
        return static_cast<long>(script_[index_].bytes.size());
    }
    long Read(char* buffer, long max) override {
        Piece& p = script_[index_];
        if (p.bytes == kFail) return -1;
        const long n = std::min<long>(max, static_cast<long>(p.bytes.size()));
        p.bytes.copy(buffer, static_cast<size_t>(n));
        p.bytes.erase(0, static_cast<size_t>(n));
        if (p.bytes.empty()) ++index_;
        return n;
    }
    unsigned long Elapsed() const { return now - start; }

private:
    std::vector<Piece> script_;
    size_t index_ = 0;
    unsigned long everyMs_;
    unsigned long next_ = 0;
    std::string talk_;
};

// The command channel's wait: the expected text ends it, silence ends it after the seconds asked,
// each piece gives one more second but never past the cap, a failed read or a reply past its
// bound is a failure.
TEST(ModemReply, CollectReplyWaitsWithinItsBounds) {
    const std::string big(100, 'x');
    struct Case {
        const char* what;
        std::vector<ScriptedPort::Piece> script;
        unsigned long everyMs;  // a talker without end, one piece this often
        int seconds, limit;
        int result;
        std::string reply;
        unsigned long atLeastMs, atMostMs;  // when the wait ended
    } cases[] = {
        {"reply in time", {{500, "\r\nOK\r\n"}}, 0, 3, 100, 0, "\r\nOK\r\n", 500, 520},
        {"silence", {}, 0, 3, 100, 20, "", 3000, 3020},
        {"late reply", {{3500, "OK\r"}}, 0, 3, 100, 20, "", 3000, 3020},
        {"pieces keep it alive", {{900, "a"}, {1800, "b"}, {2700, "c"}, {3600, "d"}, {4500, "OK\r"}}, 0, 1, 100, 0,
         "abcdOK\r", 4500, 4520},
        {"a pause of more than a second", {{900, "a"}, {2000, "OK\r"}}, 0, 1, 100, 20, "a", 1900, 1920},
        {"talker without end", {}, 500, 3, 1000000, 20, "", 3000 + kReplyCapMs, 3000 + kReplyCapMs + 20},
        {"failed read", {{200, ScriptedPort::kFail}}, 0, 3, 100, 20, "", 200, 220},
        {"failed read after the reply", {{200, "OK\r"}, {210, ScriptedPort::kFail}}, 0, 3, 100, 0, "OK\r", 200, 220},
        {"reply past its bound", {{200, big}, {300, "OK\r"}}, 0, 3, 64, 20, big.substr(0, 64), 200, 220},
        {"reply that fills its bound exactly", {{200, big.substr(0, 61) + "OK\r"}}, 0, 3, 64, 0,
         big.substr(0, 61) + "OK\r", 200, 220},
        {"no seconds, nothing waiting", {}, 0, 0, 100, 20, "", 0, 20},
        {"no seconds, a reply waiting", {{0, "OK\r"}}, 0, 0, 100, 0, "OK\r", 0, 20},
    };
    for (const Case& c : cases) {
        ScriptedPort port(c.script, c.everyMs, "zz");
        std::string reply = "old";
        EXPECT_EQ(CollectReply(port, "OK\r", c.seconds, c.limit, reply), c.result) << c.what;
        if (!c.everyMs) {
            EXPECT_EQ(reply, c.reply) << c.what;
        }
        EXPECT_LE(reply.size(), static_cast<size_t>(c.limit)) << c.what;
        EXPECT_GE(port.Elapsed(), c.atLeastMs) << c.what;
        EXPECT_LE(port.Elapsed(), c.atMostMs) << c.what;
    }
}

TEST(ModemReply, AddOnVersionAndFirmwareLevel) {
    EXPECT_EQ(ParseAddOnVersion(ms::AddOnVersionReply("2.10")), "2.10");
    EXPECT_EQ(ParseAddOnVersion("  V1.5 \t\r\nOK\r\n"), "1.5");
    EXPECT_EQ(ParseAddOnVersion(""), "");

    const struct { const char* version; bool inPlace; } levels[] = {
        {"1.73", true}, {"1.72", false}, {"1.80", true}, {"2", true}, {"10.01", true},
        {"0.99", false}, {"", false}, {"BOOT LOADER ACTIVE", false},
    };
    for (const auto& l : levels) EXPECT_EQ(IsInPlaceLevel(l.version), l.inPlace) << l.version;
}

TEST(ModemReply, CountryCode) {
    int code = -1;
    ASSERT_TRUE(ParseCountryCode(ms::CountryCodeReply(0x3D), code));
    EXPECT_EQ(code, 0x3D);
    code = -1;
    for (const char* reply : {"\r\n+GCI:3D\r\nOK\r\n", "\r\n+GCI: ", "\r\nERROR\r\n", "", "+GCI: zz"})
        EXPECT_FALSE(ParseCountryCode(reply, code)) << reply;
    EXPECT_EQ(code, -1);

    CString command;
    ASSERT_TRUE(CountryCodeCommand(0x3D, command));
    EXPECT_EQ(command, "AT+GCI=3D\r");
    ASSERT_TRUE(CountryCodeCommand(0, command));
    EXPECT_EQ(command, "AT+GCI=00\r");
    ASSERT_TRUE(CountryCodeCommand(255, command));
    EXPECT_EQ(command, "AT+GCI=FF\r");
    EXPECT_FALSE(CountryCodeCommand(-1, command));  // no code read yet: nothing to send
    EXPECT_FALSE(CountryCodeCommand(256, command));
}

TEST(ModemReply, CountryList) {
    const struct { std::string reply; bool found; std::vector<uint32_t> codes; } cases[] = {
        {ms::CountryListReply({0x20, 0x3D, 0xB5}), true, {0x20, 0x3D, 0xB5}},
        {"+GCI: (20,3D,B5)", true, {0x20, 0x3D, 0xB5}},
        {"+GCI: 20,3D", true, {0x20}},  // the last item has no separator behind it
        {ms::CountryListReply({}), true, {}},
        {"+GCI: (", true, {}},
        {"\r\nERROR\r\n", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> list;
        EXPECT_EQ(ParseCountryList(c.reply.c_str(), list), c.found) << c.reply;
        EXPECT_EQ(list, c.codes) << c.reply;
    }
}

TEST(ModemReply, BoardCode) {
    EXPECT_EQ(ParseBoardCode(ms::HexDumpReply({0x01, 0x4B, 0x32})), "4B");
    EXPECT_EQ(ParseBoardCode("  ABCD"), "D");
    EXPECT_EQ(ParseBoardCode("\r\nOK\r\n"), "");
    EXPECT_EQ(ParseBoardCode(""), "");
}

TEST(ModemReply, ColonValueAndBeforeOk) {
    const struct { std::string reply; bool found; const char* value; } colon[] = {
        {ms::ModuleIdReply("CGSM"), true, "CGSM"},
        {ms::IdentityReply("SB2 56K V.90"), true, "SB2 56K V.90"},
        {ms::Info("ISDN Tamrisk"), true, "ISDN Tamrisk"},
        {"\r\nName: x\r\n", true, "x"},     // no OK behind the colon: up to the end
        {"OK: late\r\n", true, "late"},
        {"\r\nERROR\r\n", false, ""},
        {"", false, ""},
    };
    for (const auto& c : colon) {
        CString value;
        EXPECT_EQ(ParseColonValue(c.reply.c_str(), value), c.found) << c.reply;
        EXPECT_EQ(value, c.value) << c.reply;
    }
    EXPECT_EQ(ParseBeforeOk(ms::Info("Dorvex Inc.")), "Dorvex Inc.");
    EXPECT_EQ(ParseBeforeOk(" no answer \r\n"), "no answer");
    EXPECT_EQ(ParseBeforeOk(""), "");
}

TEST(ModemReply, CableTypes) {
    EXPECT_EQ(ParseCableTypes(ms::CableTypesReply(""), "CPST", kTexts), "Unknown");
    EXPECT_EQ(ParseCableTypes(ms::CableTypesReply("PSTN,AMPS"), "CGSM", kTexts), "AMPS");
    EXPECT_EQ(ParseCableTypes(ms::CableTypesReply("PSTN,AMPS"), "CPST", kTexts), "PSTN, AMPS");
}

TEST(ModemReply, AddOnFlag) {
    EXPECT_EQ(AddOnFlagFromReply(ms::Info("ISDN Tamrisk")), 1);
    EXPECT_EQ(AddOnFlagFromReply(ms::BootLoaderActive()), 1);
    EXPECT_EQ(AddOnFlagFromReply(ms::Info("Dorvex 56K PC Card Modem")), 0);
    EXPECT_EQ(AddOnFlagFromReply(""), 0);
    EXPECT_TRUE(IsBootLoaderReply(ms::BootLoaderActive()));
    EXPECT_FALSE(IsBootLoaderReply(ms::Error()));
}

TEST(KeyedReport, ItemsByKey) {
    const CString report = ms::KeyedReport({
        ms::ValueItem(1, "5"), ms::ValueItem(11, "7"), ms::ValueItem(121, "1"), ms::TextItem(110, "Connected 33600"),
        ms::ValueItem(2, "12>rest"), ms::TextItem(212, "1.80"),
    }).c_str();
    EXPECT_EQ(KeyedValue(report, 1), "5");
    EXPECT_EQ(KeyedValue(report, 11), "7");
    EXPECT_EQ(KeyedValue(report, 121), "1");    // found as " 0121="
    EXPECT_EQ(KeyedValue(report, 2), "12");      // ends at ">"
    EXPECT_EQ(KeyedText(report, 110), "Connected 33600");
    EXPECT_EQ(KeyedText(report, 212), "1.80");
    EXPECT_EQ(KeyedValue(report, 3), "");
    EXPECT_EQ(KeyedText(report, 62), "");
    // Cut reports: the value runs to the end; a text without any quotation mark behind is empty.
    EXPECT_EQ(KeyedValue(" 01=12", 1), "12");
    EXPECT_EQ(KeyedText(" 0110=\"open", 110), "open");
    EXPECT_EQ(KeyedText(" 0110=", 110), "");
}

TEST(KeyedReport, ModuleInfo) {
    ModuleInfo info = ParseModuleInfo(
        ms::KeyedReport({ms::ValueItem(202, "0010"), ms::ValueItem(203, "0026"), ms::TextItem(212, "1.80")}).c_str(),
        kTexts);
    EXPECT_EQ(info.cable, "ISDN Tamrisk");
    EXPECT_EQ(info.lineType, "PSTN, AMPS, ISDN");
    EXPECT_EQ(info.firmwareVersion, "1.80");

    info = ParseModuleInfo(ms::KeyedReport({ms::ValueItem(202, "0001"), ms::ValueItem(203, "007E")}).c_str(), kTexts);
    EXPECT_EQ(info.cable, "PSTN cable");
    EXPECT_EQ(info.lineType, "PSTN, AMPS, GSM/PCS 1900, Voice, ISDN, PDC");
    EXPECT_EQ(info.firmwareVersion, "");

    // Missing items, a cable without a text and a value far outside the table.
    info = ParseModuleInfo(ms::KeyedReport({ms::ValueItem(203, "0001")}).c_str(), kTexts);
    EXPECT_EQ(info.cable, "");
    EXPECT_EQ(info.lineType, "");
    EXPECT_EQ(ParseModuleInfo(" 0202=0003", kTexts).cable, "");
    EXPECT_EQ(ParseModuleInfo(" 0202=0190", kTexts).cable, "");
}

TEST(KeyedReport, CallReportConversions) {
    CallReport r = ParseCallReport(ms::KeyedReport({
        ms::ValueItem(1, "5"), ms::ValueItem(12, "2580"), ms::ValueItem(26, "0010"), ms::ValueItem(27, "FFFF"),
        ms::ValueItem(34, "0000"), ms::ValueItem(35, "7d00"), ms::ValueItem(40, "128"), ms::ValueItem(44, "80"),
        ms::ValueItem(60, "10"), ms::TextItem(62, "V.34"), ms::TextItem(110, "33600/31200"),
        ms::ValueItem(121, "1"), ms::TextItem(212, "1.80"),
    }).c_str(), kTexts);
    EXPECT_EQ(r.reportVersion, "1.80");
    EXPECT_EQ(r.connectionType, "PSTN");
    EXPECT_EQ(r.callSetupResult, "Voice");
    EXPECT_EQ(r.text110, "33600/31200");
    EXPECT_EQ(r.value26, "16");
    EXPECT_EQ(r.value27, "65535");
    EXPECT_EQ(r.value34, "0");
    EXPECT_EQ(r.value35, "32000");
    EXPECT_EQ(r.text62, "V.34");
    EXPECT_EQ(r.compression, "MNP5");      // 80 stands for 2
    EXPECT_EQ(r.errorControl, "MNP10");    // 128 stands for 3
    EXPECT_EQ(r.value12, "9600");
    EXPECT_EQ(r.terminationCause, "Cause 0x10");

    r = ParseCallReport(ms::KeyedReport({ms::ValueItem(44, "1"), ms::ValueItem(40, "1"), ms::ValueItem(60, "87"),
                                         ms::ValueItem(1, "0")}).c_str(), kTexts);
    EXPECT_EQ(r.compression, "V.42bis");
    EXPECT_EQ(r.errorControl, "V.42 LAPM");
    EXPECT_EQ(r.terminationCause, "Digital Line Protect Fault");
    EXPECT_EQ(r.callSetupResult, "No previous call");
    EXPECT_EQ(r.connectionType, "");  // no item 121
}

TEST(KeyedReport, MissingAndOutOfRangeItemsLeaveFieldsEmpty) {
    for (const std::string& report : {std::string(), ms::Ok(), ms::Error(),
                                      ms::KeyedReport({ms::ValueItem(121, "25"), ms::ValueItem(1, "-1"),
                                                       ms::ValueItem(60, "FF"), ms::ValueItem(26, "zz"),
                                                       ms::ValueItem(44, "x")})}) {
        CallReport r = ParseCallReport(report.c_str(), kTexts);
        for (const CString* field : {&r.reportVersion, &r.connectionType, &r.callSetupResult, &r.text110, &r.value26,
                                     &r.value27, &r.value34, &r.value35, &r.text62, &r.compression, &r.errorControl,
                                     &r.value12, &r.terminationCause})
            EXPECT_EQ(*field, "") << report;
    }
}

TEST(KeyedReport, EveryCutOfAReportParses) {
    const std::string report = ms::KeyedReport({
        ms::ValueItem(1, "5"), ms::ValueItem(12, "2580"), ms::TextItem(62, "V.34"), ms::TextItem(110, "33600"),
        ms::ValueItem(121, "1"), ms::ValueItem(202, "0010"), ms::ValueItem(203, "0026"), ms::TextItem(212, "1.80"),
    });
    for (size_t n = 0; n <= report.size(); ++n) {
        CString cut = report.substr(0, n).c_str();
        ParseCallReport(cut, kTexts);
        ParseModuleInfo(cut, kTexts);
        std::vector<uint32_t> list;
        int code = 0;
        CString value;
        ParseCountryList(cut, list);
        ParseCountryCode(cut, code);
        ParseColonValue(cut, value);
        ParseBoardCode(cut);
        ParseAddOnVersion(cut);
    }
}

TEST(TraceMask, CommandDigits) {
    EXPECT_EQ(TraceMaskCommand(0x3F), "AT**TRCMSK=0000000302020580\r");
    EXPECT_EQ(TraceMaskCommand(0x00), "AT**TRCMSK=0000000000000080\r");
    EXPECT_EQ(TraceMaskCommand(0x01), "AT**TRCMSK=0000000100000080\r");
    EXPECT_EQ(TraceMaskCommand(0x22), "AT**TRCMSK=0000000200000480\r");
    EXPECT_EQ(TraceMaskCommand(0xC0), "AT**TRCMSK=0000000000000080\r");  // classes the add-on does not trace
}

// The program's own string table (modemtext.rc, linked into the Win32 test).
TEST(ModemStringTable, AtCommandTable) {
    CStringArray table;
    ASSERT_TRUE(LoadAtCommands(CStringTableTexts(), 0, table));
    const char* expected[kAtCommandCount] = {
        "ATE0V1\r", "ATE1\r", "AT+GCI=?\r", "AT+GCI?\r", "AT+GCI=", "AT!XUD\r ", "AT+GMR\r", "AT!XMI\r",
        "AT&&XX\r", "AT!XCIS\r", "AT!XSAVE\r", "AT!XMA\r", "ATZ&F&W\r", "AT!XCBL=?\r", "AT+GMI\r", "ATI5\r",
        "ATI4\r", "ATI0\r", "ATCONF\r", "QUIT\r", "TRCREAD\r", "AT**TRCMSK=", "AT**TRCCLR\r", "ATI3\r", "AT**FLASH\r",
    };
    ASSERT_EQ(table.GetSize(), kAtCommandCount);
    for (int i = 0; i < kAtCommandCount; ++i) EXPECT_EQ(table[i], expected[i]) << i;

    CStringArray missing;
    EXPECT_FALSE(LoadAtCommands(CStringTableTexts(), 1, missing));  // only command set 0 exists
    EXPECT_EQ(missing.GetSize(), 0);
}

TEST(ModemStringTable, ReportTexts) {
    CStringTableTexts texts;
    CallReport r = ParseCallReport(ms::KeyedReport({ms::ValueItem(121, "5"), ms::ValueItem(1, "31"),
                                                    ms::ValueItem(44, "0"), ms::ValueItem(40, "131"),
                                                    ms::ValueItem(60, "0")}).c_str(), texts);
    EXPECT_EQ(r.connectionType, "ISDN");
    EXPECT_EQ(r.callSetupResult, "");  // 22051 is no call setup text
    EXPECT_EQ(r.compression, "None");
    EXPECT_EQ(r.errorControl, "RLP");
    EXPECT_EQ(r.terminationCause, "Unknown");
    EXPECT_EQ(ParseCallReport(" 01=11", texts).callSetupResult, "V.8bis");
    EXPECT_EQ(TableText(texts, kStrBootLoaderActive), "BOOT LOADER ACTIVE");
    EXPECT_EQ(TableText(texts, kStrLineUnknown), "Unknown");
    ModuleInfo info = ParseModuleInfo(" 0202=0008 0203=0040", texts);
    EXPECT_EQ(info.cable, "Telephony (voice) minidock");
    EXPECT_EQ(info.lineType, "PDC");
}

}  // namespace
