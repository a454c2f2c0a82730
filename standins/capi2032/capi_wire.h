// CAPI 2.0 messages as bytes, for the scripted CAPI library and the tests that talk to it: a builder
// that appends little-endian fields and length-prefixed structs, and bounded readers. No Windows
// header, so the same code runs in the library, in the tests and natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace capiwire {

using Bytes = std::vector<uint8_t>;

// Commands and subcommands of the CAPI 2.0 standard.
enum : uint8_t {
    kAlert = 0x01, kConnect = 0x02, kConnectActive = 0x03, kDisconnect = 0x04, kListen = 0x05,
    kInfo = 0x08, kFacility = 0x80, kSelectBProtocol = 0x41, kConnectB3 = 0x82,
    kConnectB3Active = 0x83, kDisconnectB3 = 0x84, kDataB3 = 0x86, kResetB3 = 0x87,
    kConnectB3T90Active = 0x88, kManufacturer = 0xFF,
};
enum : uint8_t { kReq = 0x80, kConf = 0x81, kInd = 0x82, kResp = 0x83 };

inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// A message under construction: header first, then the parameters in order. Bytes() fixes the
// total length.
class Builder {
public:
    Builder(uint16_t app, uint8_t command, uint8_t sub, uint16_t number) {
        b_.resize(8);
        Put16(&b_[2], app);
        b_[4] = command;
        b_[5] = sub;
        Put16(&b_[6], number);
    }
    Builder& U8(uint8_t v) { b_.push_back(v); return *this; }
    Builder& U16(uint16_t v) { b_.push_back(uint8_t(v)); b_.push_back(uint8_t(v >> 8)); return *this; }
    Builder& U32(uint32_t v) { for (int i = 0; i < 4; ++i) b_.push_back(uint8_t(v >> (8 * i))); return *this; }
    Builder& Raw(const Bytes& v) { b_.insert(b_.end(), v.begin(), v.end()); return *this; }
    // A struct: length byte, then the bytes (at most 254 of them are kept).
    Builder& Struct(const Bytes& v) {
        size_t n = v.size() > 254 ? 254 : v.size();
        b_.push_back(uint8_t(n));
        b_.insert(b_.end(), v.begin(), v.begin() + n);
        return *this;
    }
    Builder& Empty() { b_.push_back(0); return *this; }
    // A party number struct: the type byte (and a presentation byte), then the digits.
    Builder& Number(uint8_t type, const std::string& digits) {
        Bytes v{type};
        v.insert(v.end(), digits.begin(), digits.end());
        return Struct(v);
    }
    Builder& Number(uint8_t type, uint8_t presentation, const std::string& digits) {
        Bytes v{type, presentation};
        v.insert(v.end(), digits.begin(), digits.end());
        return Struct(v);
    }
    Bytes Done() const {
        Bytes out = b_;
        Put16(&out[0], uint16_t(out.size()));
        return out;
    }

private:
    Bytes b_;
};

// Reads fields of a received message without ever passing its end: out-of-range reads give 0.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    size_t size() const { return n_; }
    uint16_t Length() const { return U16(0); }
    uint16_t App() const { return U16(2); }
    uint8_t Command() const { return n_ > 4 ? p_[4] : 0; }
    uint8_t Sub() const { return n_ > 5 ? p_[5] : 0; }
    uint16_t Number() const { return U16(6); }
    uint8_t U8(size_t at) const { return at < n_ ? p_[at] : 0; }
    uint16_t U16(size_t at) const { return at + 2 <= n_ ? Get16(p_ + at) : 0; }
    uint32_t U32(size_t at) const { return at + 4 <= n_ ? Get32(p_ + at) : 0; }
    // Offset of the n-th (0-based) struct from `at`, or n_ when it would pass the end.
    size_t StructAt(size_t at, int n) const {
        for (int i = 0; i < n; ++i) {
            if (at >= n_) return n_;
            at += size_t(p_[at]) + 1;
        }
        return at <= n_ ? at : n_;
    }
    // Contents of the struct at `at` (without its length byte), cut at the message end.
    Bytes StructBytes(size_t at) const {
        if (at >= n_) return {};
        size_t len = p_[at];
        size_t end = at + 1 + len > n_ ? n_ : at + 1 + len;
        return Bytes(p_ + at + 1, p_ + end);
    }

private:
    const uint8_t* p_;
    size_t n_;
};

inline std::string Hex(const Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

// "2C 00 AA" -> bytes (blanks between bytes are optional).
inline Bytes FromHex(const std::string& text) {
    Bytes out;
    int nibble = -1;
    for (char c : text) {
        int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (v < 0) continue;
        if (nibble < 0) nibble = v;
        else { out.push_back(uint8_t(nibble * 16 + v)); nibble = -1; }
    }
    return out;
}

}  // namespace capiwire
