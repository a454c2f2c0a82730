// Where TAPI32.DLL cannot be loaded the program still starts: CTapi gives up without a word, and
// the last-call monitor works without a line.
#include "cardflash/flash/tapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cardflash/flash/get_last_call.h"
#include "cardflash/flash/modem.h"
#include "winetest/ui.h"

namespace {

TEST(TapiMissing, NothingToInitialiseAndNothingShown) {
    ASSERT_EQ(LoadLibraryA("TAPI32.DLL"), nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> boxes{0};
    std::thread guard([&] {
        while (!stop) {
            HWND box = winetest::ui::WaitMessageBox(GetCurrentProcessId(), 100);
            if (box) {
                ++boxes;
                winetest::ui::Click(box, IDOK);
            }
        }
    });
    {
        CTapi t(FALSE);
        EXPECT_FALSE(t.Initialize(nullptr, CTapi::kModeDataModem));
        EXPECT_FALSE(t.MakeCall("5551234"));
        EXPECT_EQ(t.m_LineCount, 0);
    }
    {
        CModem modem;
        CGetLastCall monitor(&modem, nullptr, 100, 100);
        EXPECT_EQ(monitor.MonitoredLine(), 0u);
    }
    stop = true;
    guard.join();
    EXPECT_EQ(boxes, 0);
}

}  // namespace
