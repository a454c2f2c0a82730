// The clean-up's rules over plain values.
#include "patchkit/cleanup_rules.h"

#include <gtest/gtest.h>

namespace patchkit {
namespace {

TEST(CleanupRules, TellsTheVersionCode) {
    const struct {
        unsigned long platform, major, minor, build;
        Start start;
        int code;
    } kCases[] = {
        {0, 3, 10, 0, Start::RefuseWin32s, 0},  {1, 4, 0, 950, Start::Run, 1},    {1, 4, 0, 0x040003B6, Start::Run, 1},
        {1, 4, 0, 1111, Start::Run, 2},         {1, 4, 10, 2222, Start::Run, 3},  {1, 4, 90, 3000, Start::Run, 3},
        {2, 3, 51, 1057, Start::RefuseNt3, 0},  {2, 4, 0, 1381, Start::Run, 4},   {2, 5, 0, 2195, Start::Run, 5},
        {2, 6, 1, 7601, Start::Run, 0},
    };
    for (const auto& c : kCases) {
        int code = -1;
        EXPECT_EQ(VersionCode(c.platform, c.major, c.minor, c.build, &code), c.start) << c.major << "." << c.minor;
        EXPECT_EQ(code, c.code) << c.major << "." << c.minor;
    }
}

TEST(CleanupRules, StaysOnlyWithNs) {
    EXPECT_TRUE(QuietFromCommandLine(""));
    EXPECT_TRUE(QuietFromCommandLine("/N S"));
    EXPECT_FALSE(QuietFromCommandLine("/NS"));
    EXPECT_FALSE(QuietFromCommandLine("x /ns y"));
    EXPECT_FALSE(QuietFromCommandLine("a/nSb"));
}

TEST(CleanupRules, NamesTheOldFiles) {
    EXPECT_EQ(FileGroup(1, true, false).front(), "c:\\Dorvex\\ISDN\\apremover.exe");
    EXPECT_EQ(FileGroup(1, false, false).front(), "c:\\Dorvex\\ISDN\\APREMOVER.EXE");
    EXPECT_EQ(FileGroup(2, false, false).back(), "c:\\Dorvex\\ISDN\\TVL5324A.MPK");
    EXPECT_EQ(FileGroup(2, true, true),
              (std::vector<std::string>{"CARDFLASH.EXE", "KWTEST32.DLL", "ZOVTEST.HPJ", "CARDFLASH.INI", "CARDFLASH.HLP",
                                        "TVL5324A.MPK"}));
    EXPECT_EQ(FileGroup(1, false, true).size(), 6u);
    EXPECT_TRUE(IsUninstaller("c:\\Dorvex\\ISDN\\apremover.exe"));
    EXPECT_TRUE(IsUninstaller("APREMOVER.EXE"));
    EXPECT_FALSE(IsUninstaller("c:\\Dorvex\\ISDN\\msgcore.dll"));
    EXPECT_EQ(DeviceSpecificKeys()[0],
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\Dorvex ISDN ML-PPP::Dorvex::Dorvex");
    EXPECT_EQ(DeviceSpecificKeys().size(), 6u);
}

TEST(CleanupRules, KnowsTheMakersEntries) {
    const struct {
        const char* value;
        std::size_t size;
        bool makers;
    } kCases[] = {
        {"Dorvex ISDN V.120", 18, true},
        {"Dorvex ISDN ", 13, true},
        {"Dorvex ISDN", 12, false},
        {"dorvex isdn v.120", 18, false},
        {"Dorvex ISDN V.120", 8, false},    // only the bytes read count
        {"ab\0Dorvex ISDN x", 17, false},   // nor anything past the first zero
        {"", 1, false},
    };
    for (const auto& c : kCases) EXPECT_EQ(IsMakersIsdnEntry(c.value, c.size), c.makers) << c.value;
    EXPECT_FALSE(IsMakersIsdnEntry(nullptr, 4));
}

TEST(CleanupRules, HandsOverListsInIsdnFolders) {
    EXPECT_TRUE(IsListToHandOver("APREMOVER.UNI", "D:\\Old\\ISDN\\APREMOVER.UNI"));
    EXPECT_TRUE(IsListToHandOver("APREMOVER.UNI", "D:\\Old Stuff\\ISDN Tools\\APREMOVER.UNI"));
    EXPECT_FALSE(IsListToHandOver("APREMOVER.UNI", "D:\\Old\\Isdn\\APREMOVER.UNI"));
    EXPECT_FALSE(IsListToHandOver("apremover.uni", "D:\\Old\\ISDN\\apremover.uni"));
    EXPECT_EQ(SearchCommandLine("D:\\Old Stuff\\ISDN Tools\\APREMOVER.UNI"),
              "APREMOVER.EXE D:\\Old Stuff\\ISDN Tools\\APREMOVER.UNI");
    EXPECT_EQ(SearchRoot("C:\\"), "C:");
    EXPECT_EQ(SearchRoot("D:"), "D:");
    EXPECT_TRUE(PathFits(std::string(259, 'a')));
    EXPECT_FALSE(PathFits(std::string(260, 'a')));
}

}  // namespace
}  // namespace patchkit
