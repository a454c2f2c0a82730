// The installed modems of Windows 95 OSR2 and Windows 98 from HKLM\Enum: the class test in any
// case, the port from PORTNAME or from the driver key's AttachedTo, OSR2's multi-function parent,
// and values that cannot be read.
#include "cardflash/inventory/modem_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

struct Row {
    std::string name, path, port;
    bool operator==(const Row& o) const { return name == o.name && path == o.path && port == o.port; }
};
std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name << " | " << r.path << " | " << r.port; }

std::vector<Row> Rows(const CModemList& list) {
    std::vector<Row> rows;
    for (int i = 0; i < list.GetCount(); ++i)
        rows.push_back({list.m_Names[i].str(), list.m_EnumPaths[i].str(), list.m_Ports[i].str()});
    return rows;
}

// Keys sort by name in Wine's registry, so the rows come in this order.
const char kMachine[] =
    "[HKLM\\Enum\\MF\\DORVEX-PARENT\\1]\n"
    "\"Class\"=\"Modem\"\n"
    "\"DeviceDesc\"=\"Dorvex parent\"\n"
    "\"PORTNAME\"=\"COM5\"\n"
    "[HKLM\\Enum\\MF\\DORVEX-PARENT\\1\\Child0000]\n"
    "[HKLM\\Enum\\PCMCIA\\DORVEX-MODEM\\1]\n"
    "\"Class\"=\"modem\"\n"
    "\"DeviceDesc\"=\"Dorvex 56K PC Card Modem\"\n"
    "\"PORTNAME\"=\"COM3\"\n"
    "[HKLM\\Enum\\PCMCIA\\DORVEX-MODEM\\2]\n"
    "\"Class\"=\"MODEM\"\n"
    "\"DeviceDesc\"=\"Dorvex second modem\"\n"
    "\"Driver\"=\"Modem\\\\0001\"\n"
    "[HKLM\\Enum\\PCMCIA\\DORVEX-NET\\1]\n"
    "\"Class\"=\"Net\"\n"
    "\"DeviceDesc\"=\"Dorvex Ethernet\"\n"
    "[HKLM\\Enum\\ROOT\\NOCLASS\\0000]\n"
    "\"DeviceDesc\"=\"No class at all\"\n"
    "[HKLM\\Enum\\ROOT\\UNNAMED\\0000]\n"
    "\"Class\"=\"Modem\"\n"
    "\"Driver\"=\"Modem\\\\0009\"\n"
    "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001]\n"
    "\"AttachedTo\"=\"COM4\"\n";

std::vector<Row> Expected() {
    std::vector<Row> rows;
    // Windows 95 OSR2 leaves out the parent of a multi-function card.
    if (winetest::RequestedVersion() != "winme") rows.push_back({"Dorvex parent", "MF\\DORVEX-PARENT\\1", "COM5"});
    rows.push_back({"Dorvex 56K PC Card Modem", "PCMCIA\\DORVEX-MODEM\\1", "COM3"});
    rows.push_back({"Dorvex second modem", "PCMCIA\\DORVEX-MODEM\\2", "COM4"});
    // No name, and a driver key that does not exist: both columns empty.
    rows.push_back({"", "ROOT\\UNNAMED\\0000", ""});
    return rows;
}

TEST(ModemList9x, ListsTheModemInstancesOfTheEnumTree) {
    winetest::RegFixture reg(kMachine);
    CModemList list;
    EXPECT_EQ(list.Fill(), static_cast<int>(Expected().size()));
    EXPECT_EQ(Rows(list), Expected());
    EXPECT_EQ(list.m_Spare.GetSize(), 0);  // not filled on Windows 9x

    // A second fill adds every modem again.
    std::vector<Row> twice = Expected();
    std::vector<Row> again = Expected();
    twice.insert(twice.end(), again.begin(), again.end());
    EXPECT_EQ(list.Fill(), static_cast<int>(twice.size()));
    EXPECT_EQ(Rows(list), twice);
}

TEST(ModemList9x, AValueLongerThanItsBufferLeavesTheColumnEmpty) {
    std::string longName(300, 'x');
    winetest::RegFixture reg("[HKLM\\Enum\\PCMCIA\\DORVEX-MODEM\\1]\n"
                             "\"Class\"=\"Modem\"\n"
                             "\"DeviceDesc\"=\"" + longName + "\"\n"
                             "\"PORTNAME\"=hex:43,4f,4d,37\n");  // no terminator
    CModemList list;
    ASSERT_EQ(list.Fill(), 1);
    EXPECT_EQ(Rows(list), (std::vector<Row>{{"", "PCMCIA\\DORVEX-MODEM\\1", "COM7"}}));
}

}  // namespace
