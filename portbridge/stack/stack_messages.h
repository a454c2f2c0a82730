// Message ids between the stack's layers (the runtime's 192, the timer's 240 to 253 are with
// their owners).
#pragma once

#include <cstdint>

namespace stack {

enum StackMessage : uint16_t {
    kOwnBusyEnded = 0,
    kBound = 193,
    kConfigure = 194,
    kConfigured = 195,
    kReceivePool = 209,
    kLineControl = 226,
    kSerialSend = 259,
    kSerialOpen = 264,
    kSerialClose = 265,
    kFrameReceived = 387,
    kPortUp = 392,
    kPortDown = 393,
    kEstablishRequest = 513,
    kReleaseRequest = 514,
    kDataRequest = 515,
    kUnitDataRequest = 516,
    kConfigurationDone = 520,
    kReleaseConfirm = 578,
    kDataAcknowledged = 579,
    // Mode 130: a data request handed back unsent (the link was not established, or was reset or
    // lost before the peer acknowledged it). Offset 6 flags, 8 and 10 the data as it was handed
    // down (without this layer's header), 12 the buffer, which goes with it.
    kDataReturned = 580,
    kConfiguredIndication = 584,
    kEstablishedInd = 641,
    kReleasedInd = 642,
    kDataIndication = 643,
    kUnitDataIndication = 644,
    kLinkReset = 645,
    kPortUpIndication = 648,
    kPortDownIndication = 649,
};

// The port-configuration block that message 194 points to (offsets in bytes).
namespace config {
constexpr unsigned kSize = 141;
constexpr unsigned kTransmitHeaderRoom = 0;
constexpr unsigned kReceiveHeaderRoom = 2;
constexpr unsigned kMaxFrameLength = 4;
constexpr unsigned kLinkMode = 6;
constexpr unsigned kLinkLayerMode = 8;
constexpr unsigned kBaudCode = 12;
constexpr unsigned kDataBits = 14;
constexpr unsigned kParity = 16;
constexpr unsigned kStopBits = 18;
constexpr unsigned kPeerCommandAddress = 20;
constexpr unsigned kOwnCommandAddress = 21;
constexpr unsigned kModulus = 22;
constexpr unsigned kWindow = 23;
}  // namespace config

// Link modes of the serial task and link-layer modes of the HDLC layer.
enum : uint16_t { kLinkModeSilent = 128, kLinkModeFramed = 130, kLinkModeRaw = 255 };
enum : uint16_t { kLinkLayerFramed = 0, kLinkLayerRaw = 1, kLinkLayerKeeping = 130 };

inline uint16_t block16(const uint8_t* b, unsigned off) { return static_cast<uint16_t>(b[off] | b[off + 1] << 8); }
inline void setBlock16(uint8_t* b, unsigned off, uint16_t v) {
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace stack
