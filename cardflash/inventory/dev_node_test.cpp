#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "cardflash/inventory/alloc_test_data.h"
#include "cardflash/inventory/dev_node.h"
#include "cardflash/inventory/res_desc.h"
#include "winetest/registry.h"

namespace {

using namespace alloctest;

TEST(CResDescTest, LoadsTheProgramsOwnResource) {
    CResDesc d;
    ASSERT_EQ(d.LoadResource("ALLOC1"), 0);
    EXPECT_EQ(d.summary().ioCount, 1);
    EXPECT_EQ(d.summary().ioBase[0], 0x2F8);
    EXPECT_EQ(d.summary().ioLength[0], 7);
    EXPECT_EQ(d.summary().irq[0], 3);
    EXPECT_EQ(d.priority(), 5);
    EXPECT_EQ(d.LoadResource("NOPE"), 2);
}

TEST(CDevNodeTest, ReadsANodeAndWritesItsForcedConfig) {
    Bytes a = ModemAllocation();
    winetest::RegFixture reg(
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A0000]\n"
        "\"HardWareKey\"=\"PCMCIA\\\\OTHER-CARD\\\\1\"\n"
        "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A1000]\n"
        "\"HardWareKey\"=\"PCMCIA\\\\DORVEX-MODEM-1A2B\\\\1\"\n"
        "\"Child\"=dword:c29a2000\n"
        "\"Parent\"=dword:c2990000\n"
        "\"Problem\"=dword:00000000\n"
        "\"Status\"=dword:0000600a\n"
        "\"Allocation\"=hex:" + Hex(a) + "\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\DORVEX-MODEM-1A2B\\1]\n"
        "\"Class\"=\"Modem\"\n");

    CString name;
    EXPECT_FALSE(FindDevNode("PCMCIA\\dorvex-modem-1a2b\\1", &name));  // exact match only
    ASSERT_TRUE(FindDevNode("PCMCIA\\DORVEX-MODEM-1A2B\\1", &name));
    EXPECT_EQ(name, "C29A1000");

    CDevNode node;
    EXPECT_FALSE(node.Read(""));
    EXPECT_FALSE(node.Read("C29AFFFF"));
    ASSERT_TRUE(node.Read(name));
    EXPECT_EQ(node.m_Child, "C29A2000");
    EXPECT_EQ(node.m_Parent, "C2990000");
    EXPECT_EQ(node.m_Sibling, "");
    EXPECT_EQ(node.m_Status, 0x600Au);
    EXPECT_EQ(node.m_HardWareKey, "PCMCIA\\DORVEX-MODEM-1A2B\\1");
    ASSERT_EQ(node.m_AllocationLength, static_cast<int>(a.size()));

    CResDesc d;
    ASSERT_EQ(d.Parse(node.m_Allocation, node.m_AllocationLength), 0);
    CString table;
    d.FormatText(&table, nullptr);
    EXPECT_EQ(table.Left(21), "     02F8 - 02FF   01");

    ASSERT_EQ(d.SetIrq(0, 5), 0);
    ASSERT_EQ(d.WriteForcedConfig(node.m_HardWareKey), 0);
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCMCIA\\DORVEX-MODEM-1A2B\\1", 0, KEY_READ, &k), ERROR_SUCCESS);
    BYTE forced[1024];
    DWORD type = 0, size = sizeof(forced);
    ASSERT_EQ(RegQueryValueExA(k, "ForcedConfig", nullptr, &type, forced, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    Bytes expected = a;
    expected[4] = expected[5] = 0;  // the priority is cleared
    expected[44 + 2] = 5;  // the interrupt descriptor's data begins at 44
    expected[44 + 4] = 0x20;
    EXPECT_EQ(Bytes(forced, forced + size), expected);

    EXPECT_EQ(d.DeleteForcedConfig(node.m_HardWareKey), 0);
    size = sizeof(forced);
    EXPECT_EQ(RegQueryValueExA(k, "ForcedConfig", nullptr, &type, forced, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(k);
    EXPECT_EQ(d.WriteForcedConfig("PCMCIA\\NO-SUCH-CARD\\1"), 102);
}

}  // namespace
