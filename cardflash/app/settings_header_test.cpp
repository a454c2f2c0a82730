// The file status of a package's settings section: the INF's name is always a bare file name.
#include "cardflash/app/settings_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
constexpr size_t kHeaderSize = 357;
}

TEST(SettingsHeader, NamesThatAreNoBareFileName) {
    struct Case {
        std::string field;
        bool ok;
        std::string name;
    } cases[] = {
        {"DVXUPG.INF", true, "DVXUPG.INF"},
        {"C:\\WINDOWS\\INF\\DVXUPG.INF", true, "DVXUPG.INF"},
        {"..\\..\\DVXUPG.INF", true, "DVXUPG.INF"},
        {"a/b/UP.INF", true, "UP.INF"},
        {"D:UP.INF", true, "UP.INF"},
        {"", false, ""},
        {"C:\\WINDOWS\\", false, ""},
        {"..", false, ""},
        // Device names, with or without an extension, in any case: never a file.
        {"NUL", false, ""},
        {"COM3", false, ""},
        {"aux.inf", false, ""},
        {"C:\\TEMP\\Lpt1.INF", false, ""},
        {"CON .INF", false, ""},
        {"CONOUT$", false, ""},
        {"COM10.INF", true, "COM10.INF"},
        {"NULL.INF", true, "NULL.INF"},
        {"UP?.INF", false, ""},
        {std::string(260, 'A'), false, ""},  // not terminated inside its field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        std::vector<uint8_t> header(kHeaderSize, 0);
        header[16] = 0x21;
        std::copy(c.field.begin(), c.field.end(), header.begin() + 17);
        SettingsFileStatus status;
        EXPECT_EQ(ParseSettingsHeader(header.data(), header.size(), &status), c.ok);
        if (c.ok) {
            EXPECT_EQ(status.infName, c.name);
            EXPECT_EQ(status.attributes, 0x21);
        }
    }
    std::vector<uint8_t> shortHeader(100, 0);
    SettingsFileStatus status;
    EXPECT_FALSE(ParseSettingsHeader(shortHeader.data(), shortHeader.size(), &status));
}
