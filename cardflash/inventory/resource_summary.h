// The memory, I/O, interrupt and DMA resources of one adapter. Filled on Windows 9x from the
// device node's allocation and on Windows NT from the PCMCIA driver's configuration. No Windows
// header.
#pragma once

#include <cstdint>

struct ResourceSummary {
    static constexpr int kMaxMem = 9;
    static constexpr int kMaxIo = 20;
    static constexpr int kMaxIrq = 7;
    static constexpr int kMaxDma = 24;

    uint16_t memCount = 0;
    uint32_t memBase[kMaxMem] = {};
    uint32_t memLength[kMaxMem] = {};
    uint16_t ioCount = 0;
    uint16_t ioBase[kMaxIo] = {};
    uint16_t ioLength[kMaxIo] = {};
    uint16_t irqCount = 0;
    uint8_t irq[kMaxIrq] = {};
    uint16_t dmaCount = 0;
    uint8_t dma[kMaxDma] = {};
};
