// Test helper: CAPI messages built field by field, with the length field set to what was built
// (or to a lie). Shared by the cracker and tracer tests and the fuzz seeds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/capimsg.h"

namespace capitest {

using Bytes = std::vector<uint8_t>;

class Msg {
public:
    Msg(uint16_t command, uint16_t appId = 1, uint16_t number = 1) {
        U16(0).U16(appId).U16(command).U16(number);
    }
    Msg& U8(uint8_t v) {
        b_.push_back(v);
        return *this;
    }
    Msg& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    Msg& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Msg& Raw(std::initializer_list<uint8_t> bytes) {
        b_.insert(b_.end(), bytes);
        return *this;
    }
    Msg& Raw(const Bytes& bytes) {
        b_.insert(b_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Msg& Text(const std::string& text) {
        b_.insert(b_.end(), text.begin(), text.end());
        return *this;
    }
    // A structure: its length byte and the bytes.
    Msg& Struct(const Bytes& contents) { return U8(static_cast<uint8_t>(contents.size())).Raw(contents); }
    Msg& Empty() { return U8(0); }
    // The message with its length field; `claimed` (when not 0) replaces the real length.
    Bytes Build(uint16_t claimed = 0) const {
        Bytes out = b_;
        const uint16_t length = claimed ? claimed : static_cast<uint16_t>(out.size());
        out[0] = static_cast<uint8_t>(length);
        out[1] = static_cast<uint8_t>(length >> 8);
        return out;
    }

private:
    Bytes b_;
};

// Contents of a number structure: a type byte (and for calling and connected numbers a
// presentation byte) and the digits.
inline Bytes Number(const std::string& digits, bool presentation = false) {
    Bytes b{0x81};
    if (presentation) b.push_back(0x80);
    b.insert(b.end(), digits.begin(), digits.end());
    return b;
}

// Contents of a B protocol structure with the three configurations.
inline Bytes BProtocol(uint16_t b1, uint16_t b2, uint16_t b3, const Bytes& b1c = {}, const Bytes& b2c = {},
                       const Bytes& b3c = {}) {
    Bytes b{static_cast<uint8_t>(b1), static_cast<uint8_t>(b1 >> 8), static_cast<uint8_t>(b2),
            static_cast<uint8_t>(b2 >> 8), static_cast<uint8_t>(b3), static_cast<uint8_t>(b3 >> 8)};
    for (const Bytes* c : {&b1c, &b2c, &b3c}) {
        b.push_back(static_cast<uint8_t>(c->size()));
        b.insert(b.end(), c->begin(), c->end());
    }
    return b;
}

// A V.110 B1 configuration: rate, bits per character, parity, stop bits.
inline Bytes V110(uint16_t rate, uint16_t bits, uint16_t parity, uint16_t stop) {
    Bytes b;
    for (uint16_t v : {rate, bits, parity, stop}) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    return b;
}

inline const tagAPIMsg* AsMsg(const Bytes& b) { return reinterpret_cast<const tagAPIMsg*>(b.data()); }

// A CONNECT_IND with numbers, subaddresses, BC, LLC, HLC and additional info.
inline Bytes ConnectInd() {
    return Msg(kCapiConnectInd, 3, 42)
        .U32(0x00010101)
        .U16(16)
        .Struct(Number("5551234"))
        .Struct(Number("123", true))
        .Struct(Number("77"))
        .Struct(Number("88"))
        .Struct({0x80, 0x90, 0xA3})
        .Struct({0x88, 0x90})
        .Struct({0x91, 0x81})
        .Struct({3, 0x01, 0x02, 0x03, 0, 0, 0})
        .Build();
}

// A CONNECT_REQ with a V.110 B protocol; every structure has contents of its own, so a reader
// that takes one for another shows.
inline Bytes ConnectReqV110() {
    return Msg(kCapiConnectReq, 1, 7)
        .U32(1)
        .U16(2)
        .Struct(Number("0301234"))
        .Struct(Number("999", true))
        .Struct(Number("55"))
        .Struct(Number("66"))
        .Struct(BProtocol(2, 1, 0, V110(9600, 8, 0, 1)))
        .Struct({0x88, 0x90})
        .Struct({0x88, 0x90, 0x21})
        .Struct({0x91, 0x84})
        .Struct({0, 2, 0x31, 0x32, 0, 0})
        .Build();
}

// Messages of each command group as fuzz seeds (name, bytes).
inline std::vector<std::pair<std::string, Bytes>> SeedMessages() {
    Bytes lying = ConnectInd();
    lying[14 + 9] = 200;
    const Bytes x25{0x01, 0x02, 0x03, 0x23, 0x12, 0x34, 0x5F, 0x02, 0x42, 0x0A, 'a', 'b', 'c'};
    return {
        {"connect_ind", ConnectInd()},
        {"connect_ind_lying", lying},
        {"connect_req_v110", ConnectReqV110()},
        {"connect_resp", Msg(kCapiConnectResp).U32(0x101).U16(0).Struct(BProtocol(0, 0, 3)).Struct(Number("7", true))
                             .Empty().Empty().Struct({2, 1, 2, 0, 0, 0}).Build()},
        {"connect_active_ind", Msg(kCapiConnectActiveInd).U32(0x101).Struct(Number("42", true)).Empty().Struct({0x88}).Build()},
        {"listen_req", Msg(kCapiListenReq).U32(1).U32(0x3FF).U32(0x1FFF03FF).U32(0).Struct(Number("555", true)).Empty().Build()},
        {"info_req", Msg(kCapiInfoReq).U32(0x101).Struct(Number("12")).Struct({0, 0, 0, 1, 0x55}).Build()},
        {"info_ind", Msg(kCapiInfoInd).U32(0x101).U16(0x0018).Struct({0x89}).Build()},
        {"disconnect_ind", Msg(kCapiDisconnectInd).U32(0x101).U16(0x3490).Build()},
        {"facility_conf", Msg(0x8180).U32(0x101).U16(0).U16(3).Struct({2, 0, 2, 0x0E, 0x30}).Build()},
        {"facility_ind", Msg(kCapiFacilityInd).U32(0x101).U16(3).Struct({3, 0, 2, 0x01, 0x36}).Build()},
        {"connect_b3_ind_x25", Msg(kCapiConnectB3Ind).U32(0x10101).Struct(x25).Build()},
        {"disconnect_b3_ind", Msg(kCapiDisconnectB3Ind).U32(0x10101).U16(0).Struct({0, 1, 7, 0x05, 0x41}).Build()},
        {"connect_b3_resp", Msg(0x8382).U32(0x10101).U16(0).Struct(x25).Build()},
        {"data_b3_ind", Msg(kCapiDataB3Ind).U32(0x10101).U32(0).U16(10).U16(5).U16(0).Build()},
        {"kolv_assign_req", Msg(kCapiManufacturerReq).U32(1).Text("kolv").U16(0x1008).U16(0).U32(2).U32(1).Build()},
        {"kolv_free_conf", Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(1).U32(2).U16(0xE005).Build()},
        {"kolv_digit_ind", Msg(0x82FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32('7').Build()},
        {"manufacturer_req", Msg(kCapiManufacturerReq).U32(1).U32(0x12345678).U16(0x2101).U32(0).Build()},
    };
}

}  // namespace capitest
