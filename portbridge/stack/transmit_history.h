// The pacing of DATA_B3 confirmations: the adapter's B channel carries 64 kbit/s (8 bytes per
// millisecond), while the serial line to it is faster. The link control keeps a copy of every
// DATA_B3_REQ it handed to the link and confirms it only when the B channel would have sent it:
// a request of n data bytes takes n / 8 ms, and a request waits for the one before it. Nor before
// the adapter acknowledged it: a confirmation with info 0 says the adapter has the data, and a
// frame still unacknowledged may yet be lost with the link.
//
// Pure bookkeeping over times the caller gives, so tests drive it with a manual clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stack {

// CAPI layout of the requests and confirmations handled here (offsets in the message, which
// follows a 2-byte prefix in the link's data).
namespace capi {
constexpr uint8_t kDataB3 = 0x86, kReq = 0x80, kConf = 0x81;
constexpr size_t kDataB3ReqHeader = 22;  // through Flags
constexpr size_t kDataB3ConfLength = 16;
constexpr size_t kPrefix = 2;
// True when `data` (prefix + message, `length` bytes) holds a DATA_B3_REQ up to its data handle,
// in the coding of CAPI 2.0 (subcommand 0x80) or of CAPI 1.1 (0x00), which the engine forwards
// as the application put it.
bool isDataB3Req(const uint8_t* data, size_t length);
}  // namespace capi

class CTransmitHistory {
public:
    static constexpr unsigned kSlots = 20;
    static constexpr size_t kCopyBytes = 284;
    static constexpr size_t kConfirmationBytes = capi::kPrefix + capi::kDataB3ConfLength;  // 18
    using ConfirmFn = void (*)(void* context, const uint8_t* confirmation /* kConfirmationBytes */);

    // Keeps a DATA_B3_REQ (the message without prefix, `available` bytes from its start, its data
    // included) sent at `nowMs` in the buffer `frame`. False, keeping nothing, when all 20 slots
    // are pending.
    bool add(const uint8_t* message, size_t available, uint32_t nowMs, const void* frame);
    // The link reported the I frame in `frame` acknowledged: marks that frame's slot. A frame
    // whose slot was confirmed already (by time) marks nothing: acknowledgements may come late,
    // and out of step with the slots when frames were lost.
    void markSent(const void* frame);
    // The link gave `frame` back unsent: its slot is confirmed at once with `info` and leaves the
    // history (it never took time on the B channel). False when no pending slot holds the frame.
    bool fail(const void* frame, uint16_t info, ConfirmFn fn, void* context);
    // Confirms, in order, every slot that is due at `nowMs` and marked sent. Returns how many.
    unsigned confirmDue(uint32_t nowMs, ConfirmFn fn, void* context);
    // Confirms every pending slot at once, in order: those the link acknowledged (marked sent)
    // with info 0, the others with `info`. Returns how many.
    unsigned flush(uint16_t info, ConfirmFn fn, void* context);
    unsigned pending() const { return pending_; }
    bool full() const { return pending_ >= kSlots; }
    void clear();

    // A DATA_B3_CONF for a DATA_B3_REQ (message without prefix, `length` bytes): the 2-byte prefix
    // (zero) and 16 bytes with the request's application, message number, NCCI and data handle.
    static void makeConfirmation(const uint8_t* request, size_t length, uint16_t info, uint8_t* out);

private:
    struct Slot {
        uint8_t copy[kCopyBytes];
        size_t copied;
        uint32_t stamp;
        uint32_t delay;
        const void* frame;  // the buffer that carries it down, until acknowledged; names it in the link's reports
        bool sent;
    };
    // The pending, unacknowledged slot of `frame`: its place counted from the read index, or
    // pending_ when none.
    unsigned find(const void* frame) const;
    Slot slots_[kSlots] = {};
    unsigned write_ = 0, read_ = 0, pending_ = 0;
};

}  // namespace stack
