// A Windows 9x logical configuration ("Allocation", "ForcedConfig"): parsed into a resource
// summary, changed one resource at a time in its own copy, written back as the device's forced
// configuration, and printed as text.
//
// Layout: a 4-byte header word, a 4-byte priority word, then records of a 4-byte length (low
// byte used, counting the record's 8 header bytes), a 4-byte type (low byte used: 1 memory, 2
// I/O, 3 DMA, 4 interrupt) and the descriptor; a length byte of 0 ends the list.
#pragma once

#include <cstdint>

#include "cardflash/inventory/resource_summary.h"
#include "framework/cstring.h"

class CResDesc {
public:
    static constexpr int kMaxValue = 1024;
    enum : int { kOk = 0, kNoResource = 2, kTooShort = 100, kNoDescriptor = 101, kWriteFailed = 102 };

    CResDesc() = default;
    virtual ~CResDesc() = default;

    // 100 for 8 bytes or fewer (nothing changes then). A longer value than 1024 bytes is cut.
    int Parse(const uint8_t* bytes, int length);
    int LoadResource(const CString& name);  // the program's own "RESD" resource

    int SetIoAlloc(int index, uint16_t base, uint16_t length);
    int SetIoRange(int index, uint16_t minimum, uint16_t maximum);
    int SetMemAlloc(int index, uint32_t base, uint32_t length);
    int SetMemRange(int index, uint32_t minimum, uint32_t maximum);
    int SetIrq(int index, uint8_t irq);
    int SetDma(int index, uint8_t channel);
    int ClearType43Byte();
    int SetPriority(uint16_t priority);

    int WriteForcedConfig(const CString& deviceKey);  // HKLM "Enum\<deviceKey>" "ForcedConfig"
    int DeleteForcedConfig(const CString& deviceKey);

    int FormatText(CString* table, CString* dump) const;

    const ResourceSummary& summary() const { return m_Summary; }
    const uint8_t* data() const { return m_Data; }
    int length() const { return m_Length; }
    uint8_t header() const { return m_Header; }
    uint16_t priority() const { return m_Priority; }
    uint16_t io_min(int i) const { return m_IoMin[i]; }
    uint16_t io_max(int i) const { return m_IoMax[i]; }
    uint32_t mem_min(int i) const { return m_MemMin[i]; }
    uint32_t mem_max(int i) const { return m_MemMax[i]; }
    uint16_t irq_flags(int i) const { return m_IrqFlags[i]; }
    uint16_t irq_mask(int i) const { return m_IrqMask[i]; }

private:
    // Offset of the index-th usable descriptor data of `type` in the copy, -1 when none.
    int FindDescriptor(uint8_t type, int index, int* data_size) const;

    uint8_t m_Header = 0;
    uint16_t m_Priority = 0;
    uint8_t m_Data[kMaxValue] = {};
    int m_Length = 0;
    uint16_t m_IoMin[ResourceSummary::kMaxIo] = {};
    uint16_t m_IoMax[ResourceSummary::kMaxIo] = {};
    uint32_t m_MemMin[ResourceSummary::kMaxMem] = {};
    uint32_t m_MemMax[ResourceSummary::kMaxMem] = {};
    uint16_t m_IrqFlags[ResourceSummary::kMaxIrq] = {};
    uint16_t m_IrqMask[ResourceSummary::kMaxIrq] = {};
    ResourceSummary m_Summary;
};
