// The CAPI 2.0 message as it travels between applications, the CAPI library and the providers:
// little-endian, an 8-byte header and the command's parameters, some of them length-prefixed
// structures (a length byte and that many bytes; an empty structure is a single 0).
//
//   offset 0 u16 total length (header included), 2 u16 application id, 4 u8 command,
//   5 u8 subcommand (0x80 REQ, 0x81 CONF, 0x82 IND, 0x83 RESP), 6 u16 message number, 8 ...
//
// The command and subcommand read as one u16 form the command word (0x8002 CONNECT_REQ). The
// structure types below are views of a length byte; their contents follow it. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

struct tagAPIMsg {
    uint16_t length;
    uint16_t appId;
    uint8_t command;
    uint8_t subCommand;
    uint16_t number;
    // The parameters; a message is `length` bytes long, which may be less than this struct.
    uint8_t parameters[2040];
};
static_assert(offsetof(tagAPIMsg, parameters) == 8, "the header is 8 bytes");

constexpr size_t kCapiHeaderSize = 8;

// Command words.
enum : uint16_t {
    kCapiAlertReq = 0x8001,
    kCapiConnectReq = 0x8002,
    kCapiDisconnectReq = 0x8004,
    kCapiListenReq = 0x8005,
    kCapiInfoReq = 0x8008,
    kCapiSelectBProtocolReq = 0x8041,
    kCapiFacilityReq = 0x8080,
    kCapiConnectB3Req = 0x8082,
    kCapiDisconnectB3Req = 0x8084,
    kCapiDataB3Req = 0x8086,
    kCapiResetB3Req = 0x8087,
    kCapiManufacturerReq = 0x80FF,
    kCapiConnectInd = 0x8202,
    kCapiConnectActiveInd = 0x8203,
    kCapiDisconnectInd = 0x8204,
    kCapiInfoInd = 0x8208,
    kCapiFacilityInd = 0x8280,
    kCapiConnectB3Ind = 0x8282,
    kCapiConnectB3ActiveInd = 0x8283,
    kCapiDisconnectB3Ind = 0x8284,
    kCapiDataB3Ind = 0x8286,
    kCapiResetB3Ind = 0x8287,
    kCapiConnectB3T90ActiveInd = 0x8288,
    kCapiConnectResp = 0x8302,
};

// A length-prefixed CAPI structure; its contents follow the length byte.
struct tagCapiStruct {
    uint8_t length;
};

struct tagCalledPartyNumber : tagCapiStruct {};       // type, digits
struct tagCallingPartyNumber : tagCapiStruct {};      // type, presentation, digits
struct tagCalledPartySubaddress : tagCapiStruct {};   // type, digits
struct tagCallingPartySubaddress : tagCapiStruct {};  // type, digits
struct tagConnectedNumber : tagCapiStruct {};         // type, presentation, digits
struct tagConnectedSubaddress : tagCapiStruct {};     // type, digits
struct tagBProtocol : tagCapiStruct {};               // u16 B1, B2, B3, then the three configurations
struct tagB1Configuration : tagCapiStruct {};
struct tagB2Configuration : tagCapiStruct {};
struct tagB3Configuration : tagCapiStruct {};
struct tagBearerCapability : tagCapiStruct {};
struct tagLowLayerCompatibility : tagCapiStruct {};
struct tagHighLayerCompatibility : tagCapiStruct {};
struct tagAdditionalInfo : tagCapiStruct {};          // B channel info, keypad, user-user, facility
struct tagBChannelInformation : tagCapiStruct {};
struct tagKeypadFacility : tagCapiStruct {};
struct tagUserUserData : tagCapiStruct {};
struct tagFacilityDataArray : tagCapiStruct {};
struct tagNCPI : tagCapiStruct {};

// The bytes of a structure's contents (after its length byte).
inline const uint8_t* capiStructData(const tagCapiStruct* s) { return &s->length + 1; }

// Little-endian reads from a byte buffer.
inline uint16_t capiGet16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t capiGet32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
// The command word of a message whose header is readable.
inline uint16_t capiCommandWord(const tagAPIMsg* m) {
    return static_cast<uint16_t>(m->command | (m->subCommand << 8));
}
