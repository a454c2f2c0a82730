#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cardflash/inventory/log.h"
#include "cardflash/inventory/qorv_error.h"
#include "cardflash/inventory/test_util.h"
#include "winetest/ui.h"

namespace {

TEST(QorvErrorTest, TextsOfTheTableAndTheFallback) {
    struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "No error"},
        {7, "No static info for given PnPID"},
        {9, "Error code 9"},
        {10, "Unable to open network driver"},
        {13, "Error code 13"},
        {20, "Timeout waiting for response."},
        {21, "Error code 21"},
        {25, "Unable to access card's configuration information"},
        {32, "Problem erasing firmware"},
        {33, "Error code 33"},
        {60, "Error code 60"},
        {126, "Error code 126"},
        {144, "Error code 144"},  // 25444 is a label of the program, never an error text
        {-1, "Error code -1"},
    };
    for (const auto& c : cases) {
        QorvError e;
        EXPECT_EQ(e.SetCode(c.code), c.text) << c.code;
        EXPECT_EQ(e.GetMessage(), c.text) << c.code;
        EXPECT_EQ(QorvError(c.code).GetMessage(), c.text) << c.code;
    }
    EXPECT_EQ(QorvError().GetMessage(), "");
}

TEST(CLogTest, MasksSelectTheChannelsAndLinesEndInCrLf) {
    invtest::TempFile file("clog1.txt");
    CLog log;
    ASSERT_TRUE(log.Open(file.path().c_str(), TRUE, 3));
    log.Write(1, "plain\n");
    log.Write(2, "debug\n");
    log.Write(3, "both\n");
    log.Write(4, "box only, not wanted by the log\n");
    log.Printf(1, "m_PnPID\t\t= %s\n", "PCMCIA\\DORVEX-MODEM-1A2B");
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(file.Read(), "plain\r\nDBG:debug\r\nboth\r\nDBG:both\r\nm_PnPID\t\t= PCMCIA\\DORVEX-MODEM-1A2B\r\n");

    // Appending keeps what is there; starting anew empties the file.
    ASSERT_TRUE(log.Open(file.path().c_str(), FALSE, 1));
    log.Write(2, "not selected\n");
    log.Write(1, "more\n");
    log.Close();
    EXPECT_EQ(file.Read().substr(file.Read().size() - 6), "more\r\n");
    ASSERT_TRUE(log.Open(file.path().c_str(), TRUE, 2));
    log.Write(2, "x");
    log.Close();
    EXPECT_EQ(file.Read(), "DBG:x");
}

TEST(CLogTest, ClosedOrFailedLogWritesNothing) {
    invtest::TempFile file("clog2.txt");
    CLog log;
    log.Write(7, "never\n");  // not open: no file, no message box
    log.Printf(7, "%s", "never");
    EXPECT_FALSE(log.Open("Z:\\no\\such\\folder\\log.txt", TRUE, 1));
    EXPECT_FALSE(log.is_open());
    log.Write(1, "lost\n");
    EXPECT_TRUE(log.Close());
}

TEST(CLogTest, LongFormattedLinesAreCutAtTheBuffer) {
    invtest::TempFile file("clog3.txt");
    CLog log;
    ASSERT_TRUE(log.Open(file.path().c_str(), TRUE, 1));
    std::string long_text(2000, 'q');
    log.Printf(1, "%s|tail", long_text.c_str());
    log.Close();
    EXPECT_EQ(file.Read(), std::string(CLog::kPrintfBuffer - 1, 'q'));
}

TEST(CLogTest, MaskFourShowsTheLineInAMessageBox) {
    invtest::TempFile file("clog4.txt");
    CLog log;
    ASSERT_TRUE(log.Open(file.path().c_str(), TRUE, 5));
    std::string seen;
    std::atomic<bool> answered{false};
    std::thread answer([&] {
        HWND box = winetest::ui::WaitMessageBox(GetCurrentProcessId());
        if (!box) return;
        seen = winetest::ui::MessageBoxText(box);
        answered = winetest::ui::Click(box, IDOK);
    });
    log.Write(4, "Card found");  // returns once the box is answered
    answer.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(seen, "Card found");
    log.Close();
    EXPECT_EQ(file.Read(), "");  // mask 4 alone writes nothing to the file
}

}  // namespace
