// The confirmation the computer makes itself for a CAPI request that never reached the adapter,
// so that its sender is not left waiting. Header only, no Windows header: the link control and the
// terminal-adapter port both use it, and the port's library links nothing of the stack.
//
// The layouts are those the CAPI engine makes for its own confirmations: DATA_B3_CONF 16 bytes
// (NCCI, data handle, info), MANUFACTURER_CONF 20 bytes (controller, manufacturer id and class of
// the request, info), every other confirmation 14 bytes (the request's controller, PLCI or NCCI
// and the info). The subcommand is 0x81 whatever coding the request used: the engine gives an
// application of CAPI 1.1 its messages with bit 7 cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace stack {
namespace capi {

constexpr size_t kHeaderBytes = 8;
constexpr size_t kMaxConfirmationBytes = 20;

// A request of either coding (subcommand 0x80 in CAPI 2.0, 0x00 in CAPI 1.1) that an application
// put; the provider's own messages (subcommand bit 6) carry their own time-outs.
inline bool isApplicationRequest(const uint8_t* m, size_t available) {
    if (!m || available < kHeaderBytes) return false;
    const size_t length = static_cast<size_t>(m[0] | m[1] << 8);
    return length >= kHeaderBytes && length <= available && (m[5] & 0x7F) == 0x00;
}

// Writes the confirmation of `request` (`available` readable bytes, its length field checked)
// with `info` into `out` (kMaxConfirmationBytes). Returns its length, or 0 when the message is
// no application request (responses and the provider's own messages get none).
inline size_t makeRequestConfirmation(const uint8_t* request, size_t available, uint16_t info, uint8_t* out) {
    if (!isApplicationRequest(request, available)) return 0;
    const size_t length = static_cast<size_t>(request[0] | request[1] << 8);
    std::memset(out, 0, kMaxConfirmationBytes);
    // Fields the request does not hold stay zero.
    auto copy = [&](size_t to, size_t from, size_t n) {
        if (from + n <= length) std::memcpy(out + to, request + from, n);
    };
    const uint8_t command = request[4];
    size_t size = 14;
    copy(2, 2, 2);  // application
    out[4] = command;
    out[5] = 0x81;
    copy(6, 6, 2);  // message number
    copy(8, 8, 4);  // controller, PLCI or NCCI
    size_t infoAt = 12;
    if (command == 0x86) {
        size = 16;
        copy(12, 18, 2);  // data handle
        infoAt = 14;
    } else if (command == 0xFF) {
        size = 20;
        copy(12, 12, 6);  // manufacturer id and class
        infoAt = 18;
    }
    out[0] = static_cast<uint8_t>(size);
    out[infoAt] = static_cast<uint8_t>(info);
    out[infoAt + 1] = static_cast<uint8_t>(info >> 8);
    return size;
}

}  // namespace capi
}  // namespace stack
