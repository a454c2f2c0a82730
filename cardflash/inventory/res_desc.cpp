#include "cardflash/inventory/res_desc.h"

#include <cstring>

#include "cardflash/inventory/bytes.h"

namespace {

constexpr int kFirstRecord = 8;
constexpr int kRecordHeader = 8;
enum : uint8_t { kMem = 1, kIo = 2, kDma = 3, kIrq = 4 };

// Descriptor bytes a record must carry before its allocated resource is used; the first range
// record (memory and I/O) is read only when present.
int MinimumData(uint8_t type) {
    switch (type) {
    case kMem: return 12;
    case kIo: return 8;
    case kDma: return 2;
    case kIrq: return 6;
    default: return -1;
    }
}
constexpr int kMemWithRange = 32;
constexpr int kIoWithRange = 20;

// Walks the records of a value; the callback gets (record offset, record length, type). A length
// byte below the record header (0 included) or a record running past the value ends the walk.
template <typename F>
void WalkRecords(const uint8_t* data, int length, F&& f) {
    int off = kFirstRecord;
    while (off + kRecordHeader <= length) {
        int rec_len = data[off];
        if (rec_len < kRecordHeader || off + rec_len > length) break;
        if (!f(off, rec_len, data[off + 4])) break;
        off += rec_len;
    }
}

}  // namespace

int CResDesc::Parse(const uint8_t* bytes, int length) {
    if (!bytes || length <= kFirstRecord) return kTooShort;
    if (length > kMaxValue) length = kMaxValue;

    *this = CResDesc();
    std::memcpy(m_Data, bytes, static_cast<size_t>(length));
    m_Length = length;
    m_Header = m_Data[0];
    m_Priority = m_Data[4];

    ResourceSummary& s = m_Summary;
    WalkRecords(m_Data, m_Length, [&](int off, int rec_len, uint8_t type) {
        const uint8_t* d = m_Data + off + kRecordHeader;
        int size = rec_len - kRecordHeader;
        if (size < MinimumData(type) || MinimumData(type) < 0) return true;
        switch (type) {
        case kMem:
            if (s.memCount < ResourceSummary::kMaxMem) {
                uint32_t base = GetLE32(d + 4);
                s.memBase[s.memCount] = base;
                s.memLength[s.memCount] = GetLE32(d + 8) - base;
                if (size >= kMemWithRange) {
                    m_MemMin[s.memCount] = GetLE32(d + 24);
                    m_MemMax[s.memCount] = GetLE32(d + 28);
                }
                ++s.memCount;
            }
            break;
        case kIo:
            if (s.ioCount < ResourceSummary::kMaxIo) {
                uint16_t base = GetLE16(d + 4);
                s.ioBase[s.ioCount] = base;
                s.ioLength[s.ioCount] = static_cast<uint16_t>(GetLE16(d + 6) - base);
                if (size >= kIoWithRange) {
                    m_IoMin[s.ioCount] = GetLE16(d + 16);
                    m_IoMax[s.ioCount] = GetLE16(d + 18);
                }
                ++s.ioCount;
            }
            break;
        case kDma:
            if (s.dmaCount < ResourceSummary::kMaxDma) s.dma[s.dmaCount++] = d[1];
            break;
        case kIrq:
            if (s.irqCount < ResourceSummary::kMaxIrq) {
                m_IrqFlags[s.irqCount] = GetLE16(d);
                m_IrqMask[s.irqCount] = GetLE16(d + 4);
                s.irq[s.irqCount++] = d[2];
            }
            break;
        }
        return true;
    });
    return kOk;
}

int CResDesc::FindDescriptor(uint8_t type, int index, int* data_size) const {
    int found = -1, seen = 0;
    WalkRecords(m_Data, m_Length, [&](int off, int rec_len, uint8_t t) {
        if (t != type || rec_len - kRecordHeader < MinimumData(type)) return true;
        if (seen++ == index) {
            found = off + kRecordHeader;
            *data_size = rec_len - kRecordHeader;
            return false;
        }
        return true;
    });
    return found;
}

int CResDesc::SetIoAlloc(int index, uint16_t base, uint16_t length) {
    int size = 0, d = index >= 0 && index < m_Summary.ioCount ? FindDescriptor(kIo, index, &size) : -1;
    if (d < 0) return kNoDescriptor;
    PutLE16(m_Data + d + 4, base);
    PutLE16(m_Data + d + 6, static_cast<uint16_t>(base + length));
    m_Summary.ioBase[index] = base;
    m_Summary.ioLength[index] = length;
    return kOk;
}

int CResDesc::SetIoRange(int index, uint16_t minimum, uint16_t maximum) {
    int size = 0, d = index >= 0 && index < m_Summary.ioCount ? FindDescriptor(kIo, index, &size) : -1;
    if (d < 0 || size < kIoWithRange) return kNoDescriptor;
    PutLE16(m_Data + d + 16, minimum);
    PutLE16(m_Data + d + 18, maximum);
    m_IoMin[index] = minimum;
    m_IoMax[index] = maximum;
    return kOk;
}

int CResDesc::SetMemAlloc(int index, uint32_t base, uint32_t length) {
    int size = 0, d = index >= 0 && index < m_Summary.memCount ? FindDescriptor(kMem, index, &size) : -1;
    if (d < 0) return kNoDescriptor;
    PutLE32(m_Data + d + 4, base);
    PutLE32(m_Data + d + 8, base + length);
    m_Summary.memBase[index] = base;
    m_Summary.memLength[index] = length;
    return kOk;
}

int CResDesc::SetMemRange(int index, uint32_t minimum, uint32_t maximum) {
    int size = 0, d = index >= 0 && index < m_Summary.memCount ? FindDescriptor(kMem, index, &size) : -1;
    if (d < 0 || size < kMemWithRange) return kNoDescriptor;
    PutLE32(m_Data + d + 24, minimum);
    PutLE32(m_Data + d + 28, maximum);
    m_MemMin[index] = minimum;
    m_MemMax[index] = maximum;
    return kOk;
}

int CResDesc::SetIrq(int index, uint8_t irq) {
    int size = 0, d = index >= 0 && index < m_Summary.irqCount ? FindDescriptor(kIrq, index, &size) : -1;
    if (d < 0) return kNoDescriptor;
    uint16_t mask = irq < 16 ? static_cast<uint16_t>(1u << irq) : 0;
    m_Data[d + 2] = irq;
    PutLE16(m_Data + d + 4, mask);
    m_Summary.irq[index] = irq;
    m_IrqMask[index] = mask;
    return kOk;
}

int CResDesc::SetDma(int index, uint8_t channel) {
    int size = 0, d = index >= 0 && index < m_Summary.dmaCount ? FindDescriptor(kDma, index, &size) : -1;
    if (d < 0) return kNoDescriptor;
    m_Data[d + 1] = channel;
    m_Summary.dma[index] = channel;
    return kOk;
}

int CResDesc::ClearType43Byte() {
    int result = kNoDescriptor;
    WalkRecords(m_Data, m_Length, [&](int off, int rec_len, uint8_t type) {
        if (type == 0x43 && rec_len == 9) {
            m_Data[off + kRecordHeader] = 0;
            result = kOk;
            return false;
        }
        return true;
    });
    return result;
}

int CResDesc::SetPriority(uint16_t priority) {
    if (m_Length >= 6) PutLE16(m_Data + 4, priority);
    m_Priority = priority;
    return kOk;
}

int CResDesc::FormatText(CString* table, CString* dump) const {
    const ResourceSummary& s = m_Summary;
    CString t, cell;
    for (int i = 0; i < 10; ++i) {
        t += "     ";
        if (i < s.ioCount) {
            cell.Format("%4.4X - %4.4X", s.ioBase[i], static_cast<uint16_t>(s.ioBase[i] + s.ioLength[i]));
            t += cell + "   ";
            cell.Format("%4.4X - %4.4X", m_IoMin[i], m_IoMax[i]);
            t += cell + "   ";
        } else {
            t += CString(' ', 11) + "   " + CString(' ', 11) + "   ";
        }
        if (i < s.memCount) {
            cell.Format("%8.8X - %8.8X", static_cast<unsigned>(s.memBase[i]),
                        static_cast<unsigned>(s.memBase[i] + s.memLength[i]));
            t += cell + "   ";
            cell.Format("%8.8X - %8.8X", static_cast<unsigned>(m_MemMin[i]), static_cast<unsigned>(m_MemMax[i]));
            t += cell + "   ";
        } else {
            t += CString(' ', 19) + "   " + CString(' ', 19) + "   ";
        }
        if (i < s.irqCount) {
            cell.Format("%2.2X  %4.4X %4.4X", s.irq[i], m_IrqFlags[i], m_IrqMask[i]);
            t += cell + "   ";
        } else {
            t += CString(' ', 13) + "   ";
        }
        if (i < s.dmaCount) {
            cell.Format("%2.2d", s.dma[i]);
            t += cell;
        } else {
            t += "  ";
        }
        t += "\n";
        if (i >= s.ioCount && i >= s.memCount && i >= s.irqCount && i >= s.dmaCount) break;
    }
    if (table) *table = t;

    if (dump) {
        CString d;
        for (int i = 0; i < m_Length; ++i) {
            if (i % 8 == 0) d += " ";
            if (i % 16 == 0) {
                cell.Format("\n     %2.2X: ", i);
                d += cell;
            }
            cell.Format("%2.2X ", m_Data[i]);
            d += cell;
        }
        d += "\n\n";
        *dump = d;
    }
    return kOk;
}
