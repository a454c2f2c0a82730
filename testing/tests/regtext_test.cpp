// The fixture text format, without the registry.
#include <gtest/gtest.h>

#include "winetest/regtext.h"

using winetest::ParseRegText;
using winetest::RegKeyText;
using winetest::RegRoot;

TEST(RegText, ParsesKeysValuesAndTypes) {
    std::vector<RegKeyText> keys;
    std::string error;
    ASSERT_TRUE(ParseRegText("REGEDIT4\n"
                             "; a comment\n"
                             "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1234]\n"
                             "\"HardWareKey\"=\"PCMCIA\\\\DORVEX-CARD\\\\1\"\n"
                             "@=\"default\"\r\n"
                             "\"Status\"=dword:0000000A\n"
                             "\"Allocation\"=hex:01,02,\\\n"
                             "  ff\n"
                             "\"Multi\"=hex(7):41,00,00\n"
                             "\"Old\"=-\n"
                             "[-HKCU\\Software\\Gone]\n",
                             &keys, &error))
        << error;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].root, RegRoot::DynData);
    EXPECT_EQ(keys[0].path, "Config Manager\\Enum\\C1234");
    ASSERT_EQ(keys[0].values.size(), 6u);
    EXPECT_EQ(keys[0].values[0].name, "HardWareKey");
    EXPECT_EQ(keys[0].values[0].type, 1u);
    EXPECT_EQ(std::string(keys[0].values[0].data.begin(), keys[0].values[0].data.end()),
              std::string("PCMCIA\\DORVEX-CARD\\1", 21));
    EXPECT_EQ(keys[0].values[1].name, "");
    EXPECT_EQ(keys[0].values[2].type, 4u);
    EXPECT_EQ(keys[0].values[2].data, (std::vector<uint8_t>{10, 0, 0, 0}));
    EXPECT_EQ(keys[0].values[3].type, 3u);
    EXPECT_EQ(keys[0].values[3].data, (std::vector<uint8_t>{1, 2, 0xff}));
    EXPECT_EQ(keys[0].values[4].type, 7u);
    EXPECT_TRUE(keys[0].values[5].remove);
    EXPECT_TRUE(keys[1].remove);
    EXPECT_EQ(keys[1].root, RegRoot::CurrentUser);
}

TEST(RegText, RejectsMalformedLinesWithTheirNumber) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"[HKEY_NOWHERE\\X]\n", "line 1: unknown root 'HKEY_NOWHERE'"},
        {"\"A\"=\"1\"\n", "line 1: value before the first key"},
        {"[HKLM\\X]\n\"A\"=dword:123456789\n", "line 2: bad value data 'dword:123456789'"},
        {"[HKLM\\X]\n\n\"A\"=hex:1,zz\n", "line 3: bad value data 'hex:1,zz'"},
        {"[HKLM\\X]\nA=\"1\"\n", "line 2: value name must be quoted or @"},
        {"[HKLM\\X\n", "line 1: key line without ']'"},
        {"[HKLM\\X]\n\"A\"\"1\"\n", "line 2: missing '=' after the value name"},
        {"[-HKLM\\X]\n\"A\"=\"1\"\n", "line 2: value under a key that is deleted"},
    };
    for (const auto& c : cases) {
        std::vector<RegKeyText> keys;
        std::string error;
        EXPECT_FALSE(ParseRegText(c.text, &keys, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}
