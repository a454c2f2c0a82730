// CIS bytes of the inventory tests: tuple builders, a combined card's CIS and its CRC by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace cistest {

using Bytes = std::vector<uint8_t>;

inline Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

inline Bytes Tuple(uint8_t code, Bytes body) {
    Bytes t(body.size() + 2);
    t[0] = code;
    t[1] = static_cast<uint8_t>(body.size());
    std::copy(body.begin(), body.end(), t.begin() + 2);
    return t;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The reference CRC-16/ARC, bit by bit.
inline uint16_t BitwiseCrc(const Bytes& bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

const Bytes kDevice{0xD9, 0x01, 0xFF};
const Bytes kVers1 = Cat({{0x04, 0x01}, Text("Acme Corp"), Text("Net Card"), Text("Rev A"), {0xFF}});
const Bytes kConfig{0x01, 0x03, 0x00, 0x02, 0x0F};
const Bytes kCftable{0xC1, 0x01, 0x19, 0x76};
const Bytes kManfid{0x34, 0x12, 0x78, 0x56};
const Bytes kNodeId{0x04, 0x06, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// A combined card: every id tuple, a function id, two function extensions (a non-LAN one first),
// a no-link tuple and a null byte, ended by the end tuple.
inline Bytes CardCis() {
    return Cat({Tuple(0x01, kDevice), {0x00}, Tuple(0x15, kVers1), Tuple(0x21, {0x06, 0x00}),
                Tuple(0x22, {0x01, 0x02}), Tuple(0x22, kNodeId), Tuple(0x1A, kConfig), Tuple(0x1B, kCftable),
                Tuple(0x20, kManfid), Tuple(0x14, {}), {0xFF}});
}

// What the id's CRC covers, put together by hand: whole bodies, and of VERS_1 the version bytes
// and the first two strings with their zero bytes.
inline uint16_t CardCrcByHand() {
    return BitwiseCrc(Cat({kDevice, {0x04, 0x01}, Text("Acme Corp"), Text("Net Card"), kConfig, kCftable, kManfid}));
}

}  // namespace cistest
