// Windows 9x allocation values over bytes: the record walk, the summary, the text forms and the
// setters.
#include "cardflash/inventory/res_desc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cardflash/inventory/alloc_test_data.h"

namespace {

using namespace alloctest;

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

// The table runs until every resource type has run out, interrupts and DMA channels included:
// each case has more of one of them than of anything else.
TEST(CResDescTest, TheTableEndsAfterTheLongestColumn) {
    struct {
        int irqs, dmas;
    } cases[] = {{3, 1}, {1, 4}};
    for (const auto& c : cases) {
        Bytes b;
        Put(b, 0x0400, 4);
        Put(b, 0x3000, 4);
        Record(b, 2, Io(0x2F8, 0x2FF, 0x100, 0x3FF));
        for (int i = 0; i < c.irqs; ++i) Record(b, 4, Irq(0x0001, static_cast<uint8_t>(3 + i), 0x0008));
        for (int i = 0; i < c.dmas; ++i) Record(b, 3, Dma(static_cast<uint8_t>(i)));
        Put(b, 0, 8);
        CResDesc d;
        ASSERT_EQ(d.Parse(b.data(), static_cast<int>(b.size())), 0);
        CString table;
        d.FormatText(&table, nullptr);
        const std::string text = table.str();
        const int longest = c.irqs > c.dmas ? c.irqs : c.dmas;
        // The filled rows, then one blank row.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), longest + 1) << c.irqs << " " << c.dmas;
        EXPECT_EQ(text.substr(text.size() - kBlankRow.size()), kBlankRow);
    }
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

}  // namespace
