#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "cardflash/inventory/dev_node.h"
#include "cardflash/inventory/res_desc.h"
#include "winetest/registry.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Builders of allocation records: length and type words, then the descriptor.
void Record(Bytes& b, uint8_t type, const Bytes& data) {
    Put(b, static_cast<uint32_t>(8 + data.size()), 4);
    Put(b, type, 4);
    b.insert(b.end(), data.begin(), data.end());
}
Bytes Io(uint16_t base, uint16_t end, uint16_t min, uint16_t max) {
    Bytes d;
    Put(d, 1, 2); Put(d, 0, 2); Put(d, base, 2); Put(d, end, 2); Put(d, 0, 4);
    Put(d, 8, 2); Put(d, 8, 2); Put(d, min, 2); Put(d, max, 2);
    return d;
}
Bytes Mem(uint32_t base, uint32_t end, uint32_t min, uint32_t max) {
    Bytes d;
    Put(d, 1, 2); Put(d, 0, 2); Put(d, base, 4); Put(d, end, 4); Put(d, 0, 4);
    Put(d, 0x1000, 4); Put(d, 0x1000, 4); Put(d, min, 4); Put(d, max, 4);
    return d;
}
Bytes Irq(uint16_t flags, uint8_t irq, uint16_t mask) {
    Bytes d;
    Put(d, flags, 2); Put(d, irq, 2); Put(d, mask, 2); Put(d, 0, 2);
    return d;
}
Bytes Dma(uint8_t channel) { return Bytes{0, channel, 0x02, 0}; }

// A modem's allocation: one of each resource, then the closing record.
Bytes ModemAllocation() {
    Bytes b;
    Put(b, 0x0400, 4);
    Put(b, 0x3000, 4);
    Record(b, 2, Io(0x2F8, 0x2FF, 0x100, 0x3FF));
    Record(b, 4, Irq(0x0001, 3, 0x0008));
    Record(b, 1, Mem(0xD0000, 0xD0FFF, 0xC0000, 0xDFFFF));
    Record(b, 3, Dma(1));
    Put(b, 0, 8);
    return b;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char x[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(x, sizeof x, "%s%02x", i ? "," : "", b[i]);
        s += x;
    }
    return s;
}

const std::string kBlankRow = "     " + std::string(11, ' ') + "   " + std::string(11, ' ') + "   " +
                              std::string(19, ' ') + "   " + std::string(19, ' ') + "   " + std::string(13, ' ') +
                              "   " + "  " + "\n";

TEST(CResDescTest, ParsesEachResourceTypeAndPrintsTheTable) {
    Bytes a = ModemAllocation();
    CResDesc d;
    ASSERT_EQ(d.Parse(a.data(), static_cast<int>(a.size())), 0);
    const ResourceSummary& s = d.summary();
    EXPECT_EQ(d.header(), 0x00);
    EXPECT_EQ(d.priority(), 0x00);  // the fifth byte of 00 30 00 00
    ASSERT_EQ(s.ioCount, 1);
    EXPECT_EQ(s.ioBase[0], 0x2F8);
    EXPECT_EQ(s.ioLength[0], 7);
    ASSERT_EQ(s.memCount, 1);
    EXPECT_EQ(s.memBase[0], 0xD0000u);
    EXPECT_EQ(s.memLength[0], 0xFFFu);
    ASSERT_EQ(s.irqCount, 1);
    EXPECT_EQ(s.irq[0], 3);
    ASSERT_EQ(s.dmaCount, 1);
    EXPECT_EQ(s.dma[0], 1);

    CString table, dump;
    d.FormatText(&table, &dump);
    EXPECT_EQ(table, "     02F8 - 02FF   0100 - 03FF   000D0000 - 000D0FFF   000C0000 - 000DFFFF   03  0001 0008   01\n" +
                         kBlankRow);
    ASSERT_GT(dump.GetLength(), 40);
    EXPECT_EQ(dump.Left(42), " \n     00: 00 04 00 00 00 30 00 00  1C 00 ");
    EXPECT_EQ(dump.Mid(60, 11), " \n     10: ");
    EXPECT_EQ(dump.Right(2), "\n\n");
}

TEST(CResDescTest, EmptyAndShortValues) {
    CResDesc d;
    Bytes eight(8, 0x11);
    EXPECT_EQ(d.Parse(eight.data(), 8), 100);
    EXPECT_EQ(d.length(), 0);
    EXPECT_EQ(d.summary().ioCount, 0);
    CString table;
    d.FormatText(&table, nullptr);
    EXPECT_EQ(table, kBlankRow);  // an empty summary still prints one blank row
}

TEST(CResDescTest, MalformedRecordLengthsEndTheWalk) {
    struct Case {
        const char* what;
        Bytes value;
        int io, irq;
    };
    std::vector<Case> cases;
    {
        Bytes b(8, 0);
        Record(b, 2, Io(0x300, 0x31F, 0, 0));
        b.push_back(0x7F);  // a record that claims more bytes than the value has
        Put(b, 4, 7);
        cases.push_back({"oversized", b, 1, 0});
    }
    {
        Bytes b(8, 0);
        Put(b, 3, 4);  // shorter than its own header
        Put(b, 4, 4);
        Record(b, 4, Irq(0, 5, 0x20));
        cases.push_back({"too short", b, 0, 0});
    }
    {
        Bytes b(8, 0);
        for (int i = 0; i < 9; ++i) Record(b, 4, Irq(0, static_cast<uint8_t>(i), 0));
        cases.push_back({"more interrupts than the summary holds", b, 0, 7});
    }
    {
        Bytes b(8, 0);
        while (b.size() < 1100) Record(b, 2, Io(0x300, 0x307, 0, 0));
        cases.push_back({"longer than 1024 bytes", b, 20, 0});
    }
    for (const Case& c : cases) {
        CResDesc d;
        EXPECT_EQ(d.Parse(c.value.data(), static_cast<int>(c.value.size())), 0) << c.what;
        EXPECT_EQ(d.summary().ioCount, c.io) << c.what;
        EXPECT_EQ(d.summary().irqCount, c.irq) << c.what;
        EXPECT_LE(d.length(), CResDesc::kMaxValue) << c.what;
    }
}

TEST(CResDescTest, SettersChangeTheCopyAndTheSummary) {
    Bytes a = ModemAllocation();
    CResDesc d;
    ASSERT_EQ(d.Parse(a.data(), static_cast<int>(a.size())), 0);
    const int io = 16, irq = 16 + 28, mem = irq + 16, dma = mem + 40;  // descriptor data offsets

    EXPECT_EQ(d.SetIrq(0, 5), 0);
    EXPECT_EQ(d.data()[irq + 2], 5);
    EXPECT_EQ(d.data()[irq + 4], 0x20);
    EXPECT_EQ(d.irq_mask(0), 0x0020);
    EXPECT_EQ(d.summary().irq[0], 5);

    Bytes before(d.data(), d.data() + d.length());
    EXPECT_EQ(d.SetIoAlloc(1, 0x3E8, 7), 101);
    EXPECT_EQ(Bytes(d.data(), d.data() + d.length()), before);
    EXPECT_EQ(d.SetIoAlloc(0, 0x3E8, 7), 0);
    EXPECT_EQ(d.data()[io + 4], 0xE8);
    EXPECT_EQ(d.data()[io + 6], 0xEF);
    EXPECT_EQ(d.summary().ioBase[0], 0x3E8);
    EXPECT_EQ(d.SetIoRange(0, 0x200, 0x3FF), 0);
    EXPECT_EQ(d.io_min(0), 0x200);
    EXPECT_EQ(d.SetMemAlloc(0, 0xE0000, 0x2000), 0);
    EXPECT_EQ(d.data()[mem + 10], 0x0E);  // end 0xE2000
    EXPECT_EQ(d.data()[mem + 9], 0x20);
    EXPECT_EQ(d.SetMemRange(0, 0xA0000, 0xFFFFF), 0);
    EXPECT_EQ(d.mem_max(0), 0xFFFFFu);
    EXPECT_EQ(d.SetDma(0, 3), 0);
    EXPECT_EQ(d.data()[dma + 1], 3);
    EXPECT_EQ(d.SetDma(1, 3), 101);
    EXPECT_EQ(d.ClearType43Byte(), 101);

    Bytes b(8, 0);
    Record(b, 0x43, Bytes{0x5A});
    ASSERT_EQ(d.Parse(b.data(), static_cast<int>(b.size())), 0);
    EXPECT_EQ(d.ClearType43Byte(), 0);
    EXPECT_EQ(d.data()[16], 0);
}

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
