// The inventory's text decoders that need no system: registry path texts, the Windows version
// index, and the name lists of the profile calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardflash/inventory/name_list.h"
#include "cardflash/inventory/os_index.h"
#include "cardflash/inventory/reg_path.h"

namespace {

TEST(RegPathTest, RootNamesAreCaseSensitiveAndDefaultToLocalMachine) {
    struct {
        const char* text;
        RegRootName root;
        const char* subkey;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Dorvex", RegRootName::LocalMachine, "SOFTWARE\\Dorvex"},
        {"HKEY_CURRENT_USER\\Software", RegRootName::CurrentUser, "Software"},
        {"HKEY_USERS\\.DEFAULT", RegRootName::Users, ".DEFAULT"},
        {"HKEY_CURRENT_CONFIG\\System", RegRootName::CurrentConfig, "System"},
        {"HKEY_DYN_DATA\\Config Manager\\Enum\\C29A0000", RegRootName::DynData, "Config Manager\\Enum\\C29A0000"},
        {"hkey_users\\Software", RegRootName::LocalMachine, "Software"},
        {"HKLM\\Software", RegRootName::LocalMachine, "Software"},
        {"SOFTWARE", RegRootName::LocalMachine, "SOFTWARE"},
        {"HKEY_USERS\\", RegRootName::Users, ""},
    };
    for (const auto& c : cases) {
        RegPath p = SplitRegPath(c.text);
        EXPECT_EQ(p.root, c.root) << c.text;
        EXPECT_EQ(p.subkey, c.subkey) << c.text;
    }
}

// Versions Wine cannot be made to report (a 95 build other than 950, NT 3.50, later NTs) go
// through the table directly.
TEST(COSInfoTest, VersionIndexTable) {
    struct Case {
        uint32_t platform, major, minor, build;
        int index;
        const char* name;
    } cases[] = {
        {1, 4, 0, 950, 0, "Windows 95"},
        {1, 4, 0, 0x04000457, 1, "Windows 95 OSR2"},  // build 1111 with the version in the high word
        {1, 4, 3, 1212, 1, "Windows 95 OSR2"},
        {1, 4, 10, 1998, 2, "Windows 98"},
        {1, 4, 10, 2222, 2, "Windows 98"},
        {2, 3, 50, 807, 3, "Windows NT 3.50"},
        {2, 3, 51, 1057, 4, "Windows NT 3.51"},
        {2, 4, 0, 1381, 5, "Windows NT 4.0"},
        {2, 5, 0, 2195, 8, "Windows 2000"},
        {2, 5, 1, 2600, 8, "Windows 2000"},
        {2, 3, 10, 528, OS_UNKNOWN_OLDER, "???"},
        {2, 6, 1, 7601, OS_UNKNOWN_LATER, "???"},
        {0, 1, 0, 0, OS_UNKNOWN_OLDER, "???"},
    };
    for (const Case& c : cases) {
        int index = ComputeOSIndex(c.platform, c.major, c.minor, c.build);
        EXPECT_EQ(index, c.index) << c.platform << " " << c.major << "." << c.minor << " build " << c.build;
        EXPECT_STREQ(OSIndexName(index), c.name);
    }
    EXPECT_LT(OS_UNKNOWN_OLDER, 7);
    EXPECT_GT(OS_UNKNOWN_LATER, 7);
}

TEST(NameListTest, ListsEndAtTheEmptyNameOrTheBuffer) {
    const char full[] = "one\0two\0\0junk";
    EXPECT_EQ(SplitNameList(full, sizeof(full)), (std::vector<std::string>{"one", "two"}));
    const char cut[] = {'a', 'b', '\0', 'c', 'd'};  // cut by the buffer in the middle of a name
    EXPECT_EQ(SplitNameList(cut, sizeof(cut)), (std::vector<std::string>{"ab", "cd"}));
    EXPECT_TRUE(SplitNameList("", 1).empty());
}

}  // namespace
