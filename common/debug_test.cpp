// The debug output's line layout and hex dump, read back through debugCaptureOutput.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/debug.h"
#include "common/debug_capture_test.h"
#include "common/variant.h"

namespace {

using commontest::DebugCapture;

class commonDebugOutput : public DebugCapture {};

// Checks the stamp field of a line with the module name: "%8s: " then "%9lu " (the last blank may
// be overwritten by the text when the name is longer than 8).
void ExpectStamp(const std::string& line, size_t nameField) {
    ASSERT_GE(line.size(), nameField + 2 + 9);
    EXPECT_EQ(line.substr(nameField, 2), ": ");
    const std::string stamp = line.substr(nameField + 2, 9);
    size_t first = stamp.find_first_not_of(' ');
    ASSERT_NE(first, std::string::npos) << line;
    for (size_t i = first; i < stamp.size(); ++i) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << line;
    // Milliseconds since the capture began: a test takes far less than a day.
    EXPECT_LT(std::stoul(stamp.substr(first)), 86400000ul);
}

// One step of a case: a line of `traceClass`; its text expected at `column` (-1: no line).
struct Step {
    uint32_t traceClass;
    int column;
};

struct LayoutCase {
    const char* what;
    uint32_t mask;   // given to debugInit
    uint32_t flags;  // form flags
    std::vector<Step> steps;
    int depthAfter;
};

TEST_F(commonDebugOutput, LineLayoutByMaskClassAndDepth) {
    const LayoutCase cases[] = {
        {"plain line", 0xFFFFFFFF, 1, {{0xA5, 20}}, 0},
        {"class 0 never prints", 0xFFFFFFFF, 1, {{0, -1}}, 0},
        {"bit 31 is never in the mask", 0xFFFFFFFF, 1, {{0x80000000u, -1}, {0x80000001u, 20}}, 0},
        {"a narrow mask", 0x0F, 1, {{0x10, -1}, {0x11, 20}}, 0},
        {"raise before, lower after", 0xFFFFFFFF, 1,
         {{0x40000001, 21}, {0x40000001, 22}, {1, 22}, {0x20000001, 22}, {1, 21}}, 1},
        {"lower at depth 0 stays at 0", 0xFFFFFFFF, 1, {{0x20000001, 20}, {0x20000001, 20}, {1, 20}}, 0},
        {"a masked line keeps the depth", 0x0F, 1, {{0x40000010, -1}, {1, 20}}, 0},
        {"without the module name", 0xFFFFFFFF, 0, {{1, 10}, {0x40000001, 11}, {0x20000001, 11}, {1, 10}}, 0},
        // Past the prefix's 19 trailing blanks the text stays at the prefix's end.
        {"deep indentation stops at the prefix's end", 0xFFFFFFFF, 1,
         {{0x40000001, 21}, {0x40000001, 22}, {0x40000001, 23}, {0x40000001, 24}, {0x40000001, 25},
          {0x40000001, 26}, {0x40000001, 27}, {0x40000001, 28}, {0x40000001, 29}, {0x40000001, 30},
          {0x40000001, 31}, {0x40000001, 32}, {0x40000001, 33}, {0x40000001, 34}, {0x40000001, 35},
          {0x40000001, 36}, {0x40000001, 37}, {0x40000001, 38}, {0x40000001, 39}, {0x40000001, 39}},
         20},
        {"deep indentation without the name", 0xFFFFFFFF, 0,
         {{0x40000001, 11}, {0x40000001, 12}, {0x40000001, 13}, {0x40000001, 14}, {0x40000001, 15},
          {0x40000001, 16}, {0x40000001, 17}, {0x40000001, 18}, {0x40000001, 19}, {0x40000001, 20},
          {0x40000001, 21}, {0x40000001, 22}, {0x40000001, 23}, {0x40000001, 24}, {0x40000001, 25},
          {0x40000001, 26}, {0x40000001, 27}, {0x40000001, 28}, {0x40000001, 29}, {0x40000001, 30},
          {0x40000001, 31}, {0x40000001, 32}, {0x40000001, 33}, {0x40000001, 33}},
         24},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        debugInit("msgcore", c.mask);
        debugSetFormFlags(c.flags);
        int number = 0;
        for (const Step& step : c.steps) {
            lines().clear();
            const std::string text = "line " + std::to_string(++number);
            debugPrint(step.traceClass, "line %d", number);
            if (step.column < 0) {
                EXPECT_TRUE(lines().empty()) << text;
                continue;
            }
            ASSERT_EQ(lines().size(), 1u) << text;
            const std::string& line = lines()[0];
            EXPECT_EQ(commontest::TextOf(line, step.column), text) << line;
            EXPECT_EQ(line.find_first_not_of(" 0123456789:msgcore"), static_cast<size_t>(step.column)) << line;
            if (c.flags) {
                EXPECT_EQ(line.substr(0, 8), " msgcore");
                ExpectStamp(line, 8);
            }
        }
        EXPECT_EQ(debugGetDepth(), c.depthAfter);
        while (debugGetDepth() > 0) debugPrint(kDebugLowerDepth | 1, "%s", "");
    }
}

TEST_F(commonDebugOutput, NineCharacterNameStartsTheTextInTheStampsBlank) {
    debugInit("serlinksp", 0xFFFFFFFF);
    debugPrint(0x08000000, "%s", "error text");
    ASSERT_EQ(lines().size(), 1u);
    const std::string& line = lines()[0];
    EXPECT_EQ(line.substr(0, 11), "serlinksp: ");
    // The stamp's nine digit columns are 11..19; its trailing blank (20) holds the text.
    EXPECT_EQ(commontest::TextOf(line, 20), "error text");
    EXPECT_NE(line[19], ' ');
}

TEST_F(commonDebugOutput, VariantAfterInitKeepsTheModuleName) {
    commonSetVariant(CommonVariant::portbridge);
    debugPrint(1, "%s", "after");
    commonSetVariant(CommonVariant::msgcore);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].substr(0, 10), " msgcore: ");
}

TEST_F(commonDebugOutput, LongLinesAreCutBeforeTheirLineEnd) {
    const std::string longText(400, 'x');
    debugPrint(1, "%s", longText.c_str());
    debugSetFormFlags(0);
    debugPrint(1, "%s%%d %s", longText.c_str(), "tail");
    ASSERT_EQ(lines().size(), 2u);
    for (const std::string& line : lines()) {
        EXPECT_EQ(line.size(), static_cast<size_t>(kDebugLineSize - 1)) << line;
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
    EXPECT_EQ(commontest::TextOf(lines()[0]), std::string(157 - 20, 'x'));
    EXPECT_EQ(commontest::TextOf(lines()[1], 10), std::string(157 - 10, 'x'));
}

TEST_F(commonDebugOutput, HexDumpOfTwentyBytes) {
    unsigned char bytes[20];
    const char text[] = "ABCDEFGHIJ";
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i < 10 ? text[i] : i * 16 + 1);
    bytes[10] = 0x7F;
    bytes[11] = 0x1F;
    bytes[12] = 0x20;
    // No stamp, and no class test: a mask without the line classes still dumps.
    debugInit("msgcore", 0);
    debugHexDump(bytes, 20);
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[0], "41 42 43 44 45 46 47 48 49 4A 7F 1F 20 D1 E1 F1  - ABCDEFGHIJ\x7F. ...\r\n");
    EXPECT_EQ(lines()[1], "01 11 21 31                                      - ..!1\r\n");
    lines().clear();
    debugHexDump(bytes, 0);
    debugHexDump(nullptr, 4);
    EXPECT_TRUE(lines().empty());
}

TEST_F(commonDebugOutput, CaptureRestartsTheTimeBaseAndNullRestoresTheChannel) {
    // The time base of SetUp lies well in the past; a capture made between `before` and `after`
    // restarts it there, so a line's stamp cannot exceed the time between the two.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint32_t before = common_platform::tickCount();
    debugCaptureOutput(commontest::CaptureLine);
    debugPrint(1, "%s", "first");
    const uint32_t after = common_platform::tickCount();
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_LE(std::stoul(lines()[0].substr(10, 9)), static_cast<unsigned long>(after - before));
    debugCaptureOutput(nullptr);
    debugPrint(1, "%s", "to the system channel");
    debugCaptureOutput(commontest::CaptureLine);
    debugPrint(1, "%s", "back");
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(commontest::TextOf(lines()[1]), "back");
    EXPECT_EQ(debugGetMask(), 0x7FFFFFFFu);
}

}  // namespace
