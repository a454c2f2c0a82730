// Test helper: the debug output captured through debugCaptureOutput into a list of lines, for the
// duration of one test. Lines keep their CR LF; TextOf() cuts a line at its text column.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/debug.h"

namespace commontest {

inline std::vector<std::string>& CapturedLines() {
    static std::vector<std::string> lines;
    return lines;
}

inline void CaptureLine(const char* text) { CapturedLines().push_back(text); }

// Each test starts from msgcore's start-up state, captures, and restores the system channel.
class DebugCapture : public testing::Test {
protected:
    void SetUp() override {
        debugInit("msgcore", 0xFFFFFFFFu);
        debugSetFormFlags(kDebugFormModuleName);
        while (debugGetDepth() > 0) debugPrint(kDebugLowerDepth | 1, "%s", "");
        debugCaptureOutput(CaptureLine);
        CapturedLines().clear();
    }
    void TearDown() override {
        debugCaptureOutput(nullptr);
        CapturedLines().clear();
    }
    static std::vector<std::string>& lines() { return CapturedLines(); }
};

// The text of a line from column `column` (20 with a short module name at depth 0), without CR LF.
inline std::string TextOf(const std::string& line, size_t column = 20) {
    if (line.size() < column + 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return "<malformed: " + line + ">";
    return line.substr(column, line.size() - 2 - column);
}

// Every captured line cut at the text column.
inline std::vector<std::string> CapturedTexts(size_t column = 20) {
    std::vector<std::string> texts;
    for (const std::string& line : CapturedLines()) texts.push_back(TextOf(line, column));
    return texts;
}

}  // namespace commontest
