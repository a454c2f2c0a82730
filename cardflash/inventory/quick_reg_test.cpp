#include "cardflash/inventory/quick_reg.h"

#include <gtest/gtest.h>

#include "winetest/registry.h"

namespace {

TEST(CQuickRegTest, EachRootOpensItsKey) {
    winetest::RegFixture reg(
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A0000]\n"
        "\"HardWareKey\"=\"PCMCIA\\\\DORVEX-MODEM-1A2B\\\\1\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\DorvexQuickReg]\n"
        "\"Root\"=\"HKLM\"\n"
        "[HKEY_CURRENT_USER\\Software\\DorvexQuickReg]\n"
        "\"Root\"=\"HKCU\"\n"
        "[HKEY_USERS\\.DEFAULT\\Software\\DorvexQuickReg]\n"
        "\"Root\"=\"HKU\"\n"
        "[HKEY_CURRENT_CONFIG\\Software\\DorvexQuickReg]\n"
        "\"Root\"=\"HKCC\"\n");
    CString node;
    node.Format("HKEY_DYN_DATA\\Config Manager\\Enum\\%X", 0xC29A0000u);
    CString text;
    CQuickReg dyn(node);
    ASSERT_TRUE(dyn.m_Open);
    ASSERT_TRUE(dyn.QueryString("HardWareKey", &text));
    EXPECT_EQ(text, "PCMCIA\\DORVEX-MODEM-1A2B\\1");

    struct {
        const char* path;
        const char* root;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\Software\\DorvexQuickReg", "HKLM"},
        {"HKEY_CURRENT_USER\\Software\\DorvexQuickReg", "HKCU"},
        {"HKEY_USERS\\.DEFAULT\\Software\\DorvexQuickReg", "HKU"},
        {"HKEY_CURRENT_CONFIG\\Software\\DorvexQuickReg", "HKCC"},
        {"hkey_users\\Software\\DorvexQuickReg", "HKLM"},  // an unknown root name is HKLM
    };
    for (const auto& c : cases) {
        CQuickReg q(c.path);
        ASSERT_TRUE(q.m_Open) << c.path;
        text.Empty();
        EXPECT_TRUE(q.QueryString("Root", &text));
        EXPECT_EQ(text, c.root) << c.path;
    }
    EXPECT_FALSE(CQuickReg("HKEY_CURRENT_USER\\Software\\DorvexQuickReg\\Missing").m_Open);
}

TEST(CQuickRegTest, CreatesEveryMissingLevelAndWritesValues) {
    winetest::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\DorvexQuickRegNew");
    {
        CQuickReg no(FALSE, "HKEY_CURRENT_USER\\Software\\DorvexQuickRegNew\\A\\B");
        EXPECT_FALSE(no.m_Open);
        CQuickReg q(TRUE, "HKEY_CURRENT_USER\\Software\\DorvexQuickRegNew\\A\\B");
        ASSERT_TRUE(q.m_Open);
        EXPECT_TRUE(q.SetString("Name", "Ulmaro"));
        EXPECT_TRUE(q.SetExpandString("Path", "%WINDIR%\\x"));
        EXPECT_TRUE(q.SetDWORD("Count", 0x1234));
        DWORD v = 0;
        EXPECT_TRUE(q.QueryDWORD("Count", &v));
        EXPECT_EQ(v, 0x1234u);
        v = 7;
        EXPECT_FALSE(q.QueryDWORD("Missing", &v));
        EXPECT_EQ(v, 7u);
    }
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\DorvexQuickRegNew\\A\\B", 0, KEY_READ, &k), ERROR_SUCCESS);
    char buf[64];
    DWORD type = 0, size = sizeof(buf);
    ASSERT_EQ(RegQueryValueExA(k, "Name", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 7u);  // the terminator counts
    size = sizeof(buf);
    ASSERT_EQ(RegQueryValueExA(k, "Path", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_STREQ(buf, "%WINDIR%\\x");
    size = sizeof(buf);
    ASSERT_EQ(RegQueryValueExA(k, "Count", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(k);
    EXPECT_TRUE(winetest::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\DorvexQuickRegNew"));
}

TEST(CQuickRegTest, EmptyPathIsTheProgramsOwnKey) {
    bool existed = false;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dorvex", 0, KEY_READ, &k) == ERROR_SUCCESS) {
        existed = true;
        RegCloseKey(k);
    }
    {
        CQuickReg q(TRUE, "");
        ASSERT_TRUE(q.m_Open);
        EXPECT_TRUE(q.SetDWORD("Probe", 1));
    }
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dorvex\\Ulmaro", 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, existed ? "SOFTWARE\\Dorvex\\Ulmaro" : "SOFTWARE\\Dorvex");
}

TEST(CQuickRegTest, QueryStringTakesTheBytesUpToTheFirstZero) {
    std::string big(300, 'a');
    winetest::RegFixture reg(
        "[HKEY_CURRENT_USER\\Software\\DorvexQuickReg]\n"
        "\"Number\"=dword:00414243\n"
        "\"Unterminated\"=hex:41,42,43\n"
        "\"Filler\"=\"" + std::string(250, 'x') + "\"\n"
        "\"Big\"=\"" + big + "\"\n");
    CQuickReg q("HKEY_CURRENT_USER\\Software\\DorvexQuickReg");
    ASSERT_TRUE(q.m_Open);
    CString text;
    EXPECT_TRUE(q.QueryString("Number", &text));
    EXPECT_EQ(text, "CBA");
    // Right after a long text, whose bytes the read buffer may still hold past the three.
    EXPECT_TRUE(q.QueryString("Filler", &text));
    EXPECT_EQ(text.GetLength(), 250);
    EXPECT_TRUE(q.QueryString("Unterminated", &text));
    EXPECT_EQ(text, "ABC");
    text = "kept";
    EXPECT_FALSE(q.QueryString("Big", &text));
    EXPECT_FALSE(q.QueryString("Missing", &text));
    EXPECT_EQ(text, "kept");
}

}  // namespace
