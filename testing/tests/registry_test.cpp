// Registry fixtures against the real (Wine) registry, including the server-only hives.
#include <gtest/gtest.h>

#include <memory>

#include "winetest/registry.h"

using winetest::RegFixture;

namespace {

bool Exists(HKEY root, const char* path) {
    HKEY k;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// The value's type and bytes; type 0 when it is missing.
std::pair<DWORD, std::string> Value(HKEY root, const char* path, const char* name) {
    HKEY k;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return {0, ""};
    char buf[256];
    DWORD type = 0, size = sizeof(buf);
    LONG rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return {0, ""};
    return {type, std::string(buf, size)};
}

}  // namespace

TEST(RegFixture, WritesEveryRootAndTypeAndTakesItAllAway) {
    {
        RegFixture f(
            "[HKEY_DYN_DATA\\Config Manager\\Enum\\C7E50000]\n"
            "\"HardWareKey\"=\"PCMCIA\\\\DORVEX\\\\1\"\n"
            "\"Allocation\"=hex:00,01,02,03,fe,ff\n"
            "[HKEY_LOCAL_MACHINE\\HARDWARE\\WineTestFixture\\Deep\\Deeper]\n"
            "\"Count\"=dword:00000102\n"
            "[HKCU\\Software\\WineTestFixture]\n"
            "@=\"default\"\n");
        EXPECT_EQ(Value(HKEY_DYN_DATA, "Config Manager\\Enum\\C7E50000", "HardWareKey"),
                  std::make_pair(DWORD(REG_SZ), std::string("PCMCIA\\DORVEX\\1\0", 16)));
        EXPECT_EQ(Value(HKEY_DYN_DATA, "Config Manager\\Enum\\C7E50000", "Allocation"),
                  std::make_pair(DWORD(REG_BINARY), std::string("\x00\x01\x02\x03\xfe\xff", 6)));
        EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "HARDWARE\\WineTestFixture\\Deep\\Deeper", "Count"),
                  std::make_pair(DWORD(REG_DWORD), std::string("\x02\x01\x00\x00", 4)));
        EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestFixture", "").second, std::string("default\0", 8));
    }
    EXPECT_FALSE(Exists(HKEY_DYN_DATA, "Config Manager\\Enum\\C7E50000"));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, "HARDWARE\\WineTestFixture"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\WineTestFixture"));
    // What was there before stays.
    EXPECT_TRUE(Exists(HKEY_DYN_DATA, "Config Manager"));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, "HARDWARE"));
}

// Tests of other areas load fixtures under the same new parents (Enum\PCMCIA, Config Manager\Enum)
// at the same time: the one that created a parent must not take the other's keys with it.
TEST(RegFixture, ASharedParentStaysWhileAnotherFixtureUsesIt) {
    auto first = std::make_unique<RegFixture>("[HKCU\\Software\\WineTestShared\\Bus\\A]\n\"V\"=\"a\"\n");
    RegFixture second("[HKCU\\Software\\WineTestShared\\Bus\\B]\n\"V\"=\"b\"\n");
    // What the program under test writes below a fixture's own key goes with it.
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\WineTestShared\\Bus\\A\\Written", &k), ERROR_SUCCESS);
    RegCloseKey(k);
    first.reset();
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\WineTestShared\\Bus\\A"));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\WineTestShared\\Bus\\B"));
    second.Undo();
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\WineTestShared\\Bus\\B"));
    // The parents the first one made stay behind, empty.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\WineTestShared\\Bus");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\WineTestShared");
}

TEST(RegFixture, RestoresChangedAndDeletedValuesAndKeys) {
    RegFixture before(
        "[HKCU\\Software\\WineTestBefore]\n"
        "\"Keep\"=\"old\"\n"
        "\"Drop\"=dword:00000007\n"
        "[HKCU\\Software\\WineTestBefore\\Sub\\Leaf]\n"
        "\"Leaf\"=hex:aa,bb\n");
    {
        RegFixture f(
            "[HKCU\\Software\\WineTestBefore]\n"
            "\"Keep\"=\"new\"\n"
            "\"Drop\"=-\n"
            "\"Added\"=\"x\"\n"
            "[-HKCU\\Software\\WineTestBefore\\Sub]\n");
        EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore", "Keep").second, std::string("new\0", 4));
        EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore", "Drop").first, 0u);
        EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\WineTestBefore\\Sub"));
    }
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore", "Keep").second, std::string("old\0", 4));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore", "Drop"),
              std::make_pair(DWORD(REG_DWORD), std::string("\x07\x00\x00\x00", 4)));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore", "Added").first, 0u);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\WineTestBefore\\Sub\\Leaf", "Leaf"),
              std::make_pair(DWORD(REG_BINARY), std::string("\xaa\xbb", 2)));
}

TEST(RegFixture, BadTextIsAClearErrorAndWritesNothing) {
    try {
        RegFixture f("[HKCU\\Software\\WineTestBad]\n\"A\"=dword:xyz\n");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "registry fixture: line 2: bad value data 'dword:xyz'");
    }
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\WineTestBad"));
}
