// The TAPI structures over bytes and the meaning of line events: what a line driver reports is
// read only inside the buffer, the query loop grows a structure to the size TAPI asks for, and
// every event gives its text and what the dialling side does next.
#include "cardflash/flash/tapi_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace tapi;

// A structure of `total` bytes with `text` at `offset`, named by its size and offset fields.
Bytes WithText(uint32_t total, uint32_t sizeField, uint32_t offsetField, uint32_t offset, const std::string& text,
               uint32_t size) {
    Bytes b(total, 0);
    Put32(b, kTotalSize, total);
    Put32(b, sizeField, size);
    Put32(b, offsetField, offset);
    if (offset + text.size() <= total) std::memcpy(b.data() + offset, text.data(), text.size());
    return b;
}

TEST(TapiLayout, TextsOnlyInsideTheBuffer) {
    using namespace devcaps;
    struct Case {
        const char* what;
        uint32_t total, offset, size;
        std::string want;
    } cases[] = {
        {"inside", 300, 250, 7, "Modem A"},
        {"terminator dropped", 300, 250, 8, "Modem A"},
        {"ends at the buffer's end", 257, 250, 7, "Modem A"},
        {"one byte past the end", 256, 250, 7, ""},
        {"offset far outside", 300, 0xFFFFFFF0u, 32, ""},
        {"size wraps the offset", 300, 250, 0xFFFFFFFFu, ""},
        {"no size", 300, 250, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = WithText(c.total < 257 ? 257 : c.total, kLineNameSize, kLineNameOffset, 250, "Modem A\0", c.size);
        Put32(b, kTotalSize, c.total);  // the total size TAPI claims, perhaps less than the buffer
        Put32(b, kLineNameOffset, c.offset);
        EXPECT_EQ(ReadDevCaps(b).lineName, c.want);
    }
    EXPECT_EQ(ReadDevCaps(Bytes(10, 0xFF)).lineName, "");  // shorter than the fixed part
}

TEST(TapiLayout, LocationsStopAtTheBuffersEnd) {
    using namespace translatecaps;
    Bytes b(kFixed + 3 * location::kSize + 40, 0);
    Put32(b, kTotalSize, static_cast<uint32_t>(b.size()));
    Put32(b, kNumLocations, 5);  // two more than fit
    Put32(b, kLocationListOffset, kFixed);
    Put32(b, kLocationListSize, 3 * location::kSize);
    Put32(b, kCurrentLocation, 7);
    const char* names[] = {"Office", "Home", "Away"};
    uint32_t text = kFixed + 3 * location::kSize;
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t e = kFixed + i * location::kSize;
        Put32(b, e + location::kPermanentId, 5 + i);
        size_t n = std::strlen(names[i]) + 1;
        Put32(b, e + location::kNameSize, static_cast<uint32_t>(n));
        Put32(b, e + location::kNameOffset, text);
        std::memcpy(b.data() + text, names[i], n);
        text += static_cast<uint32_t>(n);
    }
    TranslateCaps caps = ReadTranslateCaps(b);
    ASSERT_EQ(caps.locations.size(), 3u);
    EXPECT_EQ(caps.locations[1].id, 6u);
    EXPECT_EQ(caps.locations[2].name, "Away");
    EXPECT_EQ(caps.currentId, 7u);

    Put32(b, kLocationListOffset, 0xFFFFFF00u);  // a list that starts outside
    EXPECT_TRUE(ReadTranslateCaps(b).locations.empty());
}

TEST(TapiLayout, QueryGrowsToTheNeededSizeAndReusesWhatFits) {
    VarStruct s;
    std::vector<uint32_t> sizes;
    std::vector<std::string> debug;
    auto log = [&](const std::string& line) { debug.push_back(line); };
    auto asksFor = [&](uint32_t needed) {
        return [&, needed](uint8_t* data, uint32_t size) {
            Bytes view(data, data + size);
            sizes.push_back(Get32(view, kTotalSize));
            uint8_t* p = data + kNeededSize;
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(needed >> (8 * i));
            return 0;
        };
    };
    EXPECT_EQ(s.Query(1264, "lineGetDevCaps", log, asksFor(3000)), 0);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{1264, 3000}));
    EXPECT_EQ(debug, (std::vector<std::string>{"lineGetDevCapsReallocating structure\n"}));

    // The next query starts from the start size again, in the larger buffer, zero-filled.
    sizes.clear();
    debug.clear();
    s.bytes()[100] = 0xAA;
    EXPECT_EQ(s.Query(1264, "lineGetDevCaps", log, asksFor(1000)), 0);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{1264}));
    EXPECT_TRUE(debug.empty());
    EXPECT_EQ(s.bytes().size(), 3000u);
    EXPECT_EQ(s.bytes()[100], 0);

    // A failing query ends the loop with its result; a needed size beyond belief is not taken.
    EXPECT_EQ(s.Query(44, "lineGetTranslateCaps", log, [](uint8_t*, uint32_t) { return kErrStructureTooSmall; }),
              kErrStructureTooSmall);
    sizes.clear();
    EXPECT_EQ(s.Query(44, "x", log, asksFor(0x7FFFFFFF)), 0);
    EXPECT_EQ(sizes.size(), 1u);
    // A driver that always wants more gets a few rounds, not an endless loop.
    sizes.clear();
    uint32_t grow = 100;
    EXPECT_EQ(s.Query(44, "x", log,
                      [&](uint8_t* data, uint32_t size) {
                          Bytes view(data, data + size);
                          sizes.push_back(size);
                          grow += 100;
                          for (int i = 0; i < 4; ++i) data[kNeededSize + i] = uint8_t((size + grow) >> (8 * i));
                          return 0;
                      }),
              0);
    EXPECT_LE(sizes.size(), 4u);
}

TEST(TapiLayout, LineEventsTheirTextsAndWhatFollows) {
    struct Case {
        uint32_t msg, p1, p2, p3;
        const char* text;
        bool connected, close, redial;
    } cases[] = {
        {kLineCallState, kCallIdle, 0, 0, "Line is idle", false, true, false},
        {kLineCallState, kCallDialTone, 0, kPrivilegeOwner, "Dial Tone", false, false, false},
        {kLineCallState, kCallDialing, 0, 0, "Dialing Call", false, false, false},
        {kLineCallState, kCallRingBack, 0, 0, "RingBack", false, false, false},
        {kLineCallState, kCallBusy, 0, 0, "Line is busy", false, true, false},
        {kLineCallState, kCallConnected, 0, 0, "Connected to Dorvex Server", true, false, false},
        {kLineCallState, kCallDisconnected, 0x20, 0, "Disconnected: Busy", false, false, true},
        {kLineCallState, kCallDisconnected, 0x1000, 0, "Disconnected: No Dial Tone", false, false, true},
        {kLineCallState, kCallDisconnected, 0x3, 0, "", false, false, true},  // no text for a mixed mode
        {kLineCallState, kCallConnected, 0, kPrivilegeMonitor, "", false, false, false},
        {kLineCallState, 0x2, 0, 0, "", false, false, false},  // offering: ignored
        {kLineClose, 0, 0, 0, "Call was shutdown", false, true, false},
        {kLineDevState, kDevRinging, 0, 0, "Line Ringing", false, false, false},
        {kLineDevState, kDevDisconnected, 0, 0, "Line selected is now disconnected.", false, true, false},
        {kLineDevState, kDevOutOfService, 0, 0, "Line selected is now Out of Service", false, true, false},
        {kLineDevState, kDevMaintenance, 0, 0, "Line selected is in maintenance.", false, true, false},
        {kLineDevState, 0x4, 0, 0, "", false, false, false},
        {kLineReply, 7, 0, 0, "LINE_REPLY: Successfully replied", false, false, false},
        {kLineReply, 7, 0x80000005u, 0, "LINE_REPLY: Error", false, false, false},
        {kLineCreate, 3, 0, 0, "", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.msg) + "/" + std::to_string(c.p1) + "/" + std::to_string(c.p3));
        LineEvent e = InterpretLineEvent(c.msg, c.p1, c.p2, c.p3);
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.connected, c.connected);
        EXPECT_EQ(e.closeLine, c.close);
        EXPECT_EQ(e.askRedial, c.redial);
    }
    const char* modes[] = {"Remote Party Disconnected", "Disconnected: Unknown reason", "Remote Party rejected call",
                           "Disconnected: Local phone picked up", "Disconnected: Forwarded", "Disconnected: Busy",
                           "Disconnected: No Answer", "Disconnected: Bad Address", "Disconnected: Unreachable",
                           "Disconnected: Congestion", "Disconnected: Incompatible", "Disconnected: Unavail",
                           "Disconnected: No Dial Tone"};
    for (uint32_t i = 0; i < 13; ++i) EXPECT_EQ(DisconnectText(1u << i), modes[i]);
    EXPECT_EQ(DisconnectText(1u << 13), "");
}

}  // namespace
