// How settings are read as numbers: always hexadecimal where the file says so (the digits of a
// decimal default too), decimal with its default for an empty text, and cut texts.
#include <gtest/gtest.h>

#include <cstring>

#include "portbridge/profile_values.h"

namespace portbridge {
namespace {

TEST(ProfileValues, HexadecimalAndDecimalReadings) {
    const struct {
        const char* text;
        uint32_t value;
    } hex[] = {{"10", 0x10}, {"0x10", 0x10}, {"1", 1}, {"0", 0}, {"115200", 0x115200}, {"", 0}, {"zz", 0}, {"0X1A", 0}};
    for (const auto& c : hex) EXPECT_EQ(profileHex(c.text), c.value) << c.text;
    EXPECT_EQ(profileHex(nullptr), 0u);
    EXPECT_EQ(profileDecimal("57600", 6), 57600);
    EXPECT_EQ(profileDecimal("", 6), 6);
    EXPECT_EQ(profileDecimal("12abc", 6), 12);
    char out[8];
    copyCut(out, sizeof(out), "ati3xxxxxxxx");
    EXPECT_STREQ(out, "ati3xxx");
    copyCut(out, sizeof(out), nullptr);
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace portbridge
