// Windows 9x allocation values of the inventory tests: record builders and a modem's allocation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace alloctest {

using Bytes = std::vector<uint8_t>;

// Bytes as a .reg fixture writes them after "hex:": "01,0a,ff".
inline std::string Hex(const Bytes& b) {
    std::string s;
    char x[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(x, sizeof x, "%s%02x", i ? "," : "", b[i]);
        s += x;
    }
    return s;
}

// Little-endian; sizes over 4 fill with zero bytes (a shift of 32 or more is undefined).
inline void Put(Bytes& b, uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(i < 4 ? static_cast<uint8_t>(v >> (8 * i)) : 0);
}

// Builders of allocation records: length and type words, then the descriptor.
inline void Record(Bytes& b, uint8_t type, const Bytes& data) {
    Put(b, static_cast<uint32_t>(8 + data.size()), 4);
    Put(b, type, 4);
    b.insert(b.end(), data.begin(), data.end());
}
inline Bytes Io(uint16_t base, uint16_t end, uint16_t min, uint16_t max) {
    Bytes d;
    Put(d, 1, 2); Put(d, 0, 2); Put(d, base, 2); Put(d, end, 2); Put(d, 0, 4);
    Put(d, 8, 2); Put(d, 8, 2); Put(d, min, 2); Put(d, max, 2);
    return d;
}
inline Bytes Mem(uint32_t base, uint32_t end, uint32_t min, uint32_t max) {
    Bytes d;
    Put(d, 1, 2); Put(d, 0, 2); Put(d, base, 4); Put(d, end, 4); Put(d, 0, 4);
    Put(d, 0x1000, 4); Put(d, 0x1000, 4); Put(d, min, 4); Put(d, max, 4);
    return d;
}
inline Bytes Irq(uint16_t flags, uint8_t irq, uint16_t mask) {
    Bytes d;
    Put(d, flags, 2); Put(d, irq, 2); Put(d, mask, 2); Put(d, 0, 2);
    return d;
}
inline Bytes Dma(uint8_t channel) { return Bytes{0, channel, 0x02, 0}; }

// A modem's allocation: one of each resource, then the closing record.
inline Bytes ModemAllocation() {
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

}  // namespace alloctest
