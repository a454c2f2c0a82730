// Any bytes as a Windows 9x allocation value: the record walk, every setter at every index (in
// range and one past), and the text forms stay inside the copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cardflash/inventory/res_desc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int length = size > 2048 ? 2048 : static_cast<int>(size);  // Parse cuts at 1024
    CResDesc d;
    if (d.Parse(data, length) != CResDesc::kOk) return 0;
    if (d.length() > CResDesc::kMaxValue) std::abort();
    const ResourceSummary& s = d.summary();
    if (s.memCount > ResourceSummary::kMaxMem || s.ioCount > ResourceSummary::kMaxIo ||
        s.irqCount > ResourceSummary::kMaxIrq || s.dmaCount > ResourceSummary::kMaxDma)
        std::abort();

    CString table, dump;
    d.FormatText(&table, &dump);
    for (int i = -1; i <= ResourceSummary::kMaxDma + 1; ++i) {
        d.SetIoAlloc(i, 0x300, 0x20);
        d.SetIoRange(i, 0x100, 0x3FF);
        d.SetMemAlloc(i, 0xD0000, 0x1000);
        d.SetMemRange(i, 0xC0000, 0xEFFFF);
        d.SetIrq(i, 5);
        d.SetDma(i, 3);
    }
    d.ClearType43Byte();
    d.SetPriority(0x1234);
    d.FormatText(&table, &dump);
    if (d.length() > CResDesc::kMaxValue) std::abort();
    return 0;
}
