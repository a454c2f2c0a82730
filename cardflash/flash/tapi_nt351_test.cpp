// Windows NT 3.51 has no TAPI that cardflash can use: Initialize refuses before asking anything.
#include "cardflash/flash/tapi.h"

#include <gtest/gtest.h>

#include "standins/tapi_standin.h"

namespace {

TEST(TapiNt351, InitializeRefusesWithoutCallingTapi) {
    standins::TapiStandin tapi;
    ASSERT_TRUE(tapi.loaded());
    tapi.AddLine("Modem", 0x10);
    {
        CTapi t(FALSE);
        EXPECT_FALSE(t.Initialize(nullptr, CTapi::kModeDataModem));
        EXPECT_EQ(t.m_LineApp, 0u);
    }
    EXPECT_EQ(tapi.Log(), std::vector<std::string>{});
}

}  // namespace
