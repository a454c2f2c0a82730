// The fixed 20-byte message that the stack's tasks exchange, copied by value: a 16-bit id at
// offset 0, a 32-bit task address at offset 2 and 14 payload bytes whose layout belongs to the id.
// Fields are read and written byte by byte (little-endian, unaligned) so the layout is the same on
// every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace stack {

// The low byte of a task address is its task number.
enum TaskNumber : uint8_t {
    kSerialTask = 38,
    kHdlcTask = 48,
    kLayerManagementTask = 64,
    kTimerTask = 66,
    kLinkControlTask = 137,
};

inline uint8_t taskNumberOf(uint32_t address) { return static_cast<uint8_t>(address & 0xFF); }

struct RuntimeMessage {
    static constexpr size_t kSize = 20;
    // Where a message carries a pointer (a buffer, a configuration block): offsets 12 to 19 hold
    // it, wide enough for a pointer on every build.
    static constexpr size_t kPointerOffset = 12;

    uint8_t bytes[kSize] = {};

    RuntimeMessage() = default;
    explicit RuntimeMessage(uint16_t id, uint32_t address = 0) {
        setId(id);
        setAddress(address);
    }

    uint16_t id() const { return u16(0); }
    void setId(uint16_t id) { put16(0, id); }
    uint32_t address() const { return u32(2); }
    void setAddress(uint32_t a) { put32(2, a); }

    uint8_t u8(size_t off) const { return off < kSize ? bytes[off] : 0; }
    uint16_t u16(size_t off) const {
        return off + 2 <= kSize ? static_cast<uint16_t>(bytes[off] | bytes[off + 1] << 8) : 0;
    }
    uint32_t u32(size_t off) const {
        return off + 4 <= kSize ? static_cast<uint32_t>(bytes[off]) | static_cast<uint32_t>(bytes[off + 1]) << 8 |
                                      static_cast<uint32_t>(bytes[off + 2]) << 16 |
                                      static_cast<uint32_t>(bytes[off + 3]) << 24
                                : 0;
    }
    void put8(size_t off, uint8_t v) {
        if (off < kSize) bytes[off] = v;
    }
    void put16(size_t off, uint16_t v) {
        if (off + 2 > kSize) return;
        bytes[off] = static_cast<uint8_t>(v);
        bytes[off + 1] = static_cast<uint8_t>(v >> 8);
    }
    void put32(size_t off, uint32_t v) {
        if (off + 4 > kSize) return;
        for (int i = 0; i < 4; ++i) bytes[off + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void* pointer() const {
        void* p = nullptr;
        std::memcpy(&p, bytes + kPointerOffset, sizeof(p));
        return p;
    }
    void setPointer(const void* p) { std::memcpy(bytes + kPointerOffset, &p, sizeof(p)); }
};

static_assert(sizeof(RuntimeMessage) == RuntimeMessage::kSize, "the runtime message is 20 bytes");
static_assert(RuntimeMessage::kPointerOffset + sizeof(void*) <= RuntimeMessage::kSize, "a pointer fits");

}  // namespace stack
