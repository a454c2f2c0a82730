// Where TAPI32.DLL cannot be loaded the program still starts: CTapi gives up without a word, and
// the last-call monitor works without a line.
#include "cardflash/flash/tapi.h"

#include <gtest/gtest.h>

#include "cardflash/flash/get_last_call.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/monitor_test_util.h"

namespace {

TEST(TapiMissing, NothingToInitialiseAndNothingShown) {
    ASSERT_EQ(LoadLibraryA("TAPI32.DLL"), nullptr);
    monitortest::BoxGuard boxes(IDOK);
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
    EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
