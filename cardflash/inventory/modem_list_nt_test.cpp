// The installed modems of Windows NT 4.0 from the modem device class: port and name, "???" for
// what a key does not say, and the empty columns NT has no use for.
#include "cardflash/inventory/modem_list.h"

#include <gtest/gtest.h>

#include "winetest/registry.h"

namespace {

const char kClass[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

TEST(ModemListNt, ListsTheModemClassKeys) {
    std::string text = std::string("[") + kClass + "\\0000]\n"
                       "\"AttachedTo\"=\"COM3\"\n"
                       "\"DriverDesc\"=\"Dorvex 56K PC Card Modem\"\n"
                       "[" + kClass + "\\0001]\n"
                       "\"DriverDesc\"=\"Dorvex modem without a port\"\n"
                       "[" + kClass + "\\0002]\n"
                       "\"AttachedTo\"=\"COM4\"\n"
                       // The Windows 9x values mean nothing here.
                       "[HKLM\\Enum\\PCMCIA\\DORVEX-MODEM\\1]\n"
                       "\"Class\"=\"Modem\"\n"
                       "\"DeviceDesc\"=\"Dorvex 9x modem\"\n"
                       "\"PORTNAME\"=\"COM9\"\n";
    winetest::RegFixture reg(text);
    CModemList list;
    ASSERT_EQ(list.Fill(), 3);
    struct Want {
        const char *port, *name;
    } want[] = {{"COM3", "Dorvex 56K PC Card Modem"}, {"???", "Dorvex modem without a port"}, {"COM4", "???"}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.m_Ports[i], want[i].port);
        EXPECT_EQ(list.m_Names[i], want[i].name);
        EXPECT_EQ(list.m_EnumPaths[i], "");
        EXPECT_EQ(list.m_Spare[i], "");
    }
    EXPECT_EQ(list.m_Spare.GetSize(), 3);
}

TEST(ModemListNt, NoModemClassListsNothing) {
    winetest::RegFixture reg(std::string("[-") + kClass + "]\n");
    CModemList list;
    EXPECT_EQ(list.Fill(), 0);
    EXPECT_EQ(list.m_Ports.GetSize(), 0);
}

}  // namespace
