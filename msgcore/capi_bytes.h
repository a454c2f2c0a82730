// CAPI 2.0 messages as bytes: the header fields, the command words msgcore handles and little-endian
// access. Every reader takes the message's own length so nothing is read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/le_bytes.h"

struct tagAPIMsg;

namespace capi {

enum : uint8_t {
    kAlert = 0x01, kConnect = 0x02, kConnectActive = 0x03, kDisconnect = 0x04, kListen = 0x05,
    kInfo = 0x08, kFacility = 0x80, kSelectBProtocol = 0x41, kConnectB3 = 0x82,
    kConnectB3Active = 0x83, kDisconnectB3 = 0x84, kDataB3 = 0x86, kResetB3 = 0x87,
    kConnectB3T90Active = 0x88, kManufacturer = 0xFF,
};
enum : uint8_t { kReq = 0x80, kConf = 0x81, kInd = 0x82, kResp = 0x83 };

constexpr size_t kHeader = 8;

inline uint8_t* bytes(tagAPIMsg* m) { return reinterpret_cast<uint8_t*>(m); }
inline const uint8_t* bytes(const tagAPIMsg* m) { return reinterpret_cast<const uint8_t*>(m); }
using le::get16;
using le::get32;
using le::put16;
using le::put32;

// A received message: its length field bounds every read (0 beyond it).
class View {
public:
    explicit View(const tagAPIMsg* m) : p_(bytes(m)), n_(m ? get16(bytes(m)) : 0) {
        if (n_ < kHeader) n_ = 0;
    }
    View(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    const uint8_t* data() const { return p_; }
    size_t size() const { return n_; }
    uint8_t command() const { return u8(4); }
    uint8_t sub() const { return u8(5); }
    uint16_t number() const { return u16(6); }
    uint8_t u8(size_t at) const { return at < n_ ? p_[at] : 0; }
    uint16_t u16(size_t at) const { return at + 2 <= n_ ? get16(p_ + at) : 0; }
    uint32_t u32(size_t at) const { return at + 4 <= n_ ? get32(p_ + at) : 0; }
    // Length of the struct at `at`, or 0 when it does not lie inside the message.
    size_t structLength(size_t at) const {
        if (at >= n_) return 0;
        size_t len = p_[at];
        return at + 1 + len <= n_ ? len : 0;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// Appends parameters after the header of a buffer of `capacity` bytes. An append that would pass
// the end is dropped and marks the writer as overflowed, so nothing half-built is ever sent.
class Writer {
public:
    Writer(uint8_t* buffer, size_t capacity) : p_(buffer), cap_(capacity), at_(kHeader) {}
    void u8(uint8_t v) { if (room(1)) p_[at_++] = v; }
    void u16(uint16_t v) { if (room(2)) { put16(p_ + at_, v); at_ += 2; } }
    void u32(uint32_t v) { if (room(4)) { put32(p_ + at_, v); at_ += 4; } }
    void raw(const void* v, size_t n) {
        if (n && room(n)) { memcpy(p_ + at_, v, n); at_ += n; }
    }
    // A length-prefixed struct; null, or one whose length byte is 0xFF, is written empty.
    size_t structure(const uint8_t* s) {
        if (!s || s[0] == 0xFF) { u8(0); return 1; }
        raw(s, size_t(s[0]) + 1);
        return size_t(s[0]) + 1;
    }
    void empty() { u8(0); }
    size_t length() const { return at_; }
    bool overflowed() const { return overflow_; }
    uint8_t* at() { return p_ ? p_ + at_ : nullptr; }

private:
    bool room(size_t n) {
        // A closed connection has no buffer: nothing is written, nothing goes out.
        if (!p_ || at_ + n > cap_) { overflow_ = true; return false; }
        return true;
    }
    uint8_t* p_;
    size_t cap_;
    size_t at_;
    bool overflow_ = false;
};

}  // namespace capi
