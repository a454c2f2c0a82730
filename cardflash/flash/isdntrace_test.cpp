#include "cardflash/flash/isdntrace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulators/modem/modemlayout.h"

using modemsim::TraceText;
using Bytes = std::vector<uint8_t>;

namespace {

const int kAll = 0x7F;
const int kAllButDetail = 0x3F;

std::string Decode(const std::string& raw, int mask) {
    CString out;
    DecodeTrace(raw, out, mask);
    return out.str();
}

// The decoded text of one data record (the line head "L1  00:00:00.000 " removed).
std::string One(unsigned code, const Bytes& bytes, int mask) {
    std::string out = Decode(TraceText().Data("L1 ", 1234, code, bytes).str(), mask);
    const std::string head = "L1  00:00:00.000 ";
    if (out.empty()) return out;
    EXPECT_EQ(out.substr(0, head.size()), head);
    return out.substr(head.size());
}

const std::string kIndent(16, ' ');

struct EventCase {
    const char* name;
    unsigned code;
    Bytes bytes;
    int mask;
    std::string text;
    friend void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }
};

class TraceEvent : public ::testing::TestWithParam<EventCase> {};

TEST_P(TraceEvent, DecodesToItsText) {
    const EventCase& c = GetParam();
    EXPECT_EQ(One(c.code, c.bytes, c.mask), c.text);
}

const EventCase kEvents[] = {
    {"L1Deactivated", 0x0501, {0}, kAll, "Layer 1 deactivated\n"},
    {"L1Activated", 0x8501, {2}, kAll, "Layer 1 activated\n"},
    {"L1DeactivationPending", 0x0501, {3}, kAll, "Layer 1 deactivation pending\n"},
    {"L1UnknownToDump", 0x0501, {7}, kAll, "0501 000107 \n"},
    {"L1UnknownHiddenWithoutDetail", 0x0501, {7}, kAllButDetail, ""},
    {"L1MaskedOff", 0x0501, {2}, kAll & ~kTraceLayer1, ""},
    {"CIPowerUp", 0x0502, {0x1C}, kAll, "Layer 1 C/I power up\n"},
    {"CIPriority10", 0x8502, {0x34}, kAll, "Layer 1 C/I activate ind priority 10\n"},
    {"CIUnknownToDump", 0x0502, {0x04}, kAll, "0502 000104 \n"},
    {"LapdSabme", 0x0602, {0x00, 0x01, 0x7F}, kAll, "Layer 2 NT: SAPI=0 TEI=0 TYPE=SABME\n"},
    {"LapdTeIFrame", 0x8602, {0x02, 0xFF, 0x00, 0x02}, kAll, "Layer 2 TE: SAPI=0 TEI=7f TYPE=I\n"},
    {"LapdUi", 0x0602, {0xFC, 0xFF, 0x03}, kAll, "Layer 2 NT: SAPI=3f TEI=7f TYPE=UI\n"},
    {"LapdUnknownControl", 0x0602, {0x00, 0x01, 0x0B}, kAll, "Layer 2 NT: SAPI=0 TEI=0 TYPE=0x0b\n"},
    {"LapdTooShortToDump", 0x0602, {0x00, 0x01}, kAll, "0602 000200 01 \n"},
    {"LapdMaskedOff", 0x0602, {0x00, 0x01, 0x7F}, kAll & ~kTraceLapd, ""},
    {"Q931Setup", 0x0702,
     {0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x89, 0x70, 0x04, 0x81, '1', '2', '3'},
     kAllButDetail,
     "Layer 3 NT: Setup\n" + kIndent + "Bearer capability: speech, A-law\n" + kIndent +
         "Channel identification: not D, B1" + kIndent + "Called party number: 123"},
    {"Q931DisconnectWithCause", 0x8702, {0x08, 0x01, 0x85, 0x45, 0x08, 0x02, 0x82, 0x90}, kAllButDetail,
     "Layer 3 TE: Disconnect\n" + kIndent + "Cause: Normal call clearing\n" + kIndent +
         "Cause Location: public network serving local user\n"},
    {"Q931CauseOfTwoLines", 0x8702, {0x08, 0x01, 0x85, 0x5A, 0x08, 0x02, 0x8A, 0xE2}, kAllButDetail,
     "Layer 3 TE: Release complete\n" + kIndent +
         "Cause: Message not compatible with call state or message type\n"
         "                       non-existent or not implemented\n" +
         kIndent + "Cause Location: network beyond interworking point\n"},
    {"Q931UnknownCauseAndLocation", 0x0702, {0x08, 0x01, 0x05, 0x4D, 0x08, 0x02, 0x86, 0x84}, kAllButDetail,
     "Layer 3 NT: Release\n" + kIndent + "Cause: Unknown cause value 04\n" + kIndent + "Cause Location: unknown\n"},
    {"Q931CauseWithRecommendationOctet", 0x0702, {0x08, 0x01, 0x05, 0x45, 0x08, 0x03, 0x04, 0x81, 0x91}, kAllButDetail,
     "Layer 3 NT: Disconnect\n" + kIndent + "Cause: User busy\n" + kIndent + "Cause Location: public network serving remote user\n"},
    {"Q931UnknownMessageType", 0x0702, {0x08, 0x01, 0x05, 0x77}, kAllButDetail, "Layer 3 NT: Unknown message type 77\n"},
    {"Q931DateTimeAndCallingNumber", 0x0702,
     {0x08, 0x01, 0x05, 0x07, 0x29, 0x05, 0x24, 0x01, 0x02, 0x0A, 0x0B, 0x6C, 0x05, 0x21, 0x83, '5', '5', '5'},
     kAllButDetail,
     "Layer 3 NT: Connect\n" + kIndent + "Date/time: 24/01/02 0a:0b\n" + kIndent + "Calling party number: 555"},
    {"Q931BearerDigitalPacketV110", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x88, 0xC0, 0xA1}, kAllButDetail,
     "Layer 3 NT: Setup\n" + kIndent + "Bearer capability: unrestricted digital information, packet mode, V.110\n"},
    {"Q931LowLayerV110", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x7C, 0x05, 0x88, 0x90, 0x21, 0x48, 0x3B}, kAllButDetail,
     "Layer 3 NT: Setup\n" + kIndent + "Low layer compatibility: V.110 96008N1\n"},
    {"Q931LowLayerV120RateOnly", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x7C, 0x04, 0x88, 0x90, 0x28, 0x0B}, kAllButDetail,
     "Layer 3 NT: Setup\n" + kIndent + "Low layer compatibility: V.120 19200\n"},
    {"Q931LowLayerUnknownProtocol", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x7C, 0x03, 0x88, 0x90, 0xA2}, kAllButDetail,
     "Layer 3 NT: Setup\n" + kIndent + "Low layer compatibility: Unknown protocol\n"},
    {"Q931ShortElementInvalid", 0x0702, {0x08, 0x01, 0x05, 0x45, 0x08, 0x01, 0x82, 0x29, 0x02, 0x24, 0x01},
     kAllButDetail, "Layer 3 NT: Disconnect\n" + kIndent + "Cause: Invalid IE\n" + kIndent + "Date/time: Invalid IE\n"},
    {"Q931ElementRunningPastTheEnd", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x04, 0x05, 0x80, 0x90}, kAllButDetail,
     "Layer 3 NT: Setup\nIncomplete IE\n"},
    {"Q931LengthByteMissing", 0x0702, {0x08, 0x01, 0x05, 0x05, 0x04}, kAllButDetail, "Layer 3 NT: Setup\nIncomplete IE\n"},
    {"Q931Detail", 0x0702, {0x08, 0x01, 0x05, 0x05, 0xA1, 0x04, 0x03, 0x80, 0x90, 0xA3}, kAll,
     "Layer 3 NT: 08 01 05: Setup\n" + kIndent + "IE: a1\n" + kIndent + "IE: 04 03 80 90 a3\n" + kIndent +
         "Bearer capability: speech, A-law\n"},
    {"Q931LongElementDetail", 0x0702,
     {0x08, 0x01, 0x05, 0x05, 0x7E, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, kAll,
     "Layer 3 NT: 08 01 05: Setup\n" + kIndent +
         "IE: 7e 10 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d\n                  : 0e 0f\n"},
    {"Q931OtherDiscriminatorToDump", 0x0702, {0x09, 0x01, 0x05, 0x05}, kAll, "0702 000409 01 05 05 \n"},
    {"Q931OtherDiscriminatorHidden", 0x0702, {0x09, 0x01, 0x05, 0x05}, kAllButDetail, ""},
    {"Q931MaskedOff", 0x0702, {0x08, 0x01, 0x05, 0x05}, kAll & ~kTraceQ931, ""},
    {"SerialControl", 0x0901, {0x25}, kAll,
     "Serial Ctrl: DSR:ON  DCD:OFF CTS:ON  RI:OFF RTS:OFF DTR:ON  DCD:OFF DCD:OFF \n"},
    {"SerialControlHighBits", 0x8901, {0xC0}, kAll,
     "Serial Ctrl: DSR:OFF DCD:OFF CTS:OFF RI:OFF RTS:OFF DTR:OFF DCD:ON  DCD:ON  \n"},
    {"SerialTx", 0x0904, {'A', 'T', '\r', '\n', 0x07, '\b', 0xFF}, kAll, "Serial Tx: \"AT\\r\\n\\007\\b\\377\"\n"},
    {"SerialRx", 0x8904, {'O', 'K'}, kAll, "Serial Rx: \"OK\"\n"},
    {"SerialDataMaskedOff", 0x8904, {'O', 'K'}, kAll & ~kTraceSerialData, ""},
    {"LongDump", 0x0501, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, kAll,
     "0501 001100 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n                        >10 \n"},
};

INSTANTIATE_TEST_SUITE_P(Trace, TraceEvent, ::testing::ValuesIn(kEvents),
                         [](const ::testing::TestParamInfo<EventCase>& info) { return info.param.name; });

TEST(Trace, TimeIsRelativeToTheFirstRecord) {
    TraceText t;
    t.Data("L1 ", 5000, 0x0501, {2})
        .Data("L1 ", 5000 + 6123, 0x0501, {0})
        .Data("D  ", 5000 + 360000, 0x0501, {1});
    EXPECT_EQ(Decode(t.str(), kAll),
              "L1  00:00:00.000 Layer 1 activated\n"
              "L1  00:01:01.230 Layer 1 deactivated\n"
              "D   01:00:00.000 Layer 1 activation pending\n");
}

TEST(Trace, EventsWithoutDecoderArePassedOverWithTheirContinuationLines) {
    TraceText t;
    t.Event("SYS", 10, 0x0A01, "watchdog 1234", {"5678 9ABC", "0000"})
        .Data("L1 ", 20, 0x0501, {2});
    EXPECT_EQ(Decode(t.str(), kAll), "L1  00:00:00.100 Layer 1 activated\n");
}

TEST(Trace, CallLogRecordGivesTheLastCall) {
    TraceText t;
    t.Data("L1 ", 0, 0x0501, {2})
        .CallLog("LOG", 100, 0x00, 0x90, "5551234 64000   ")
        .Data("L1 ", 200, 0x0501, {0});
    CString out;
    EXPECT_TRUE(DecodeTrace(t.str(), out, kAll));
    EXPECT_EQ(out, "L1  00:00:00.000 Layer 1 activated\nL1  00:00:02.000 Layer 1 deactivated\n");
    EXPECT_TRUE(TraceCallLogFound());
    TraceCallLog log = LastTraceCallLog();
    EXPECT_EQ(log.callType, "Outgoing Call");
    EXPECT_EQ(log.cause, "Normal call clearing");
    EXPECT_EQ(log.callText, "5551234 64000");

    // A later record replaces it; a decoding without one clears only the found flag.
    EXPECT_TRUE(DecodeTrace(TraceText().CallLog("LOG", 0, 0x03, 0x11, "x", 0x8A80).str(), out, kAll));
    EXPECT_EQ(LastTraceCallLog().callType, "Incoming Call");
    EXPECT_EQ(LastTraceCallLog().cause, "User busy");
    EXPECT_FALSE(DecodeTrace(TraceText().Data("L1 ", 0, 0x0501, {2}).str(), out, kAll));
    EXPECT_FALSE(TraceCallLogFound());
    EXPECT_EQ(LastTraceCallLog().callText, "x");

    EXPECT_TRUE(DecodeTrace(TraceText().CallLog("LOG", 0, 0x42, 0x00, "y").str(), out, kAll));
    EXPECT_EQ(LastTraceCallLog().callType, "");
    EXPECT_EQ(LastTraceCallLog().cause, "");
    EXPECT_TRUE(DecodeTrace(TraceText().CallLog("LOG", 0, 0xFF, 0x7F, "").str(), out, kAll));
    EXPECT_EQ(LastTraceCallLog().callType, "Call Busy");
    EXPECT_EQ(LastTraceCallLog().cause, "Interworking, unspecified");
}

struct CutCase {
    const char* name;
    std::string raw;
    std::string text;
    friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }
};

class TraceCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(TraceCut, EndsDecodingWithItsMessage) {
    EXPECT_EQ(Decode(GetParam().raw, kAll), GetParam().text);
}

const std::string kFirst = TraceText().Data("L1 ", 0, 0x0501, {2}).str();
const std::string kFirstText = "L1  00:00:00.000 Layer 1 activated\n";
const std::string kCutHead = "S   00:00:00.010 \nError Processing Trace Information - ";

const CutCase kCuts[] = {
    {"TenBytesPromisedNineCarried",
     kFirst + "1 S   0000000001 0904 000A 41 42 43 44 45 46 47 48 49\r\n",
     kFirstText + kCutHead + "Incomplete data line (0)!\n"},
    {"NoByteAfterTheCount", kFirst + "1 S   0000000001 0904 0002 \r\n", kFirstText + kCutHead + "Incomplete data line (1)!\n"},
    {"LoneDigitAtTheEnd", kFirst + "1 S   0000000001 0904 0002 41 4", kFirstText + kCutHead + "Incomplete data line (2)!\n"},
    {"CallLogCut", kFirst + "1 S   0000000001 0A80 0030 0000", kFirstText + kCutHead + "Incomplete call log data (3)!\n"},
    {"CallLogTextRunningPastTheEnd", kFirst + "1 S   0000000001 0A80 0050 0000 0000 0000 0000 0000 0000 00 0010 0000 short",
     kFirstText + kCutHead + "Incomplete call log data (3)!\n"},
    {"CallLogLengthTooSmall",
     kFirst + "1 S   0000000001 0A80 0020 0000 0000 0000 0000 0000 0000 00 0010 0000 text\r\n" + kFirst,
     kFirstText + kCutHead + "Incomplete call log data (3)!\n"},
    {"ShortTailIsIgnored", kFirst + "1 S   00000000", kFirstText},
};

INSTANTIATE_TEST_SUITE_P(Trace, TraceCut, ::testing::ValuesIn(kCuts),
                         [](const ::testing::TestParamInfo<CutCase>& info) { return info.param.name; });

TEST(Trace, EveryCutOfARecordedTraceStaysInsideTheText) {
    TraceText t;
    t.Data("L1 ", 100, 0x0501, {2})
        .Data("L1 ", 110, 0x0502, {0x1C})
        .Data("L2 ", 120, 0x0602, {0x00, 0x01, 0x7F})
        .Data("L3 ", 130, 0x0702, {0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x89,
                                   0x70, 0x04, 0x81, '1', '2', '3', 0x7C, 0x05, 0x88, 0x90, 0x21, 0x48, 0x3B})
        .Event("SYS", 140, 0x0A01, "reset", {"1 2 3"})
        .Data("SER", 150, 0x0901, {0x25})
        .Data("SER", 160, 0x8904, {'O', 'K', '\r', '\n'})
        .CallLog("LOG", 170, 0x03, 0x10, "5551234");
    const std::string raw = t.str();
    CString full;
    ASSERT_TRUE(DecodeTrace(raw, full, kAll));
    for (size_t n = 0; n <= raw.size(); ++n) {
        CString out;
        DecodeTrace(raw.substr(0, n), out, kAll);
        // Every line decoded from a cut trace was decoded from the whole trace too, up to where
        // the cut shows.
        std::string head = out.str().substr(0, out.str().find("\nError Processing"));
        head = head.substr(0, head.rfind('\n') == std::string::npos ? 0 : head.rfind('\n') + 1);
        EXPECT_EQ(full.str().substr(0, head.size()), head) << "cut at " << n;
    }
}

TEST(Trace, NameTables) {
    EXPECT_EQ(Q931MessageName(0x01), "Alerting");
    EXPECT_EQ(Q931MessageName(0x7D), "Status");
    EXPECT_EQ(Q931MessageName(0x37), "");
    EXPECT_EQ(Q931MessageName(0x7E), "");
    EXPECT_EQ(Q931ElementName(0x4C), "Connected party number");
    EXPECT_EQ(Q850CauseText(0x01), "Unassigned (unallocated) number");
    EXPECT_EQ(Q850CauseText(0x00), "");
    EXPECT_EQ(TraceCallTypeText(0x01), "");
}

}  // namespace
