// The HDLC link layer (task 48) between the link control above and the serial task below: a
// balanced link modulo 8 inside the serial frame's payload (SABM/UA/DISC/DM/FRMR, I frames with a
// send window, RR/RNR/REJ, T1 retransmission). In link-layer mode 130 it reports every
// acknowledged I frame upward and, answering a REJ, sends only the frame asked for again; frames
// that arrive out of sequence are never kept (modulo 8 a repeat looks like a frame after a gap
// unless the peer's window is known, and the adapter's is not); in raw mode it passes data through.
//
// No Windows header: the layer talks only by runtime messages, so tests drive it with fake tasks
// above and below and a hand-driven timer tick.
#pragma once

#include <cstdint>

namespace stack {

// The task's init function (a TaskInit). 1 when started.
uint32_t hdlcInit(void* instance, uint32_t address);

// HDLC control fields (P/F is 0x10).
namespace hdlc {
constexpr uint8_t kPF = 0x10;
constexpr uint8_t kRR = 0x01, kRNR = 0x05, kREJ = 0x09;
constexpr uint8_t kUI = 0x03, kSABM = 0x2F, kDISC = 0x43, kUA = 0x63, kDM = 0x0F, kFRMR = 0x87;
constexpr uint8_t kReasonUndefined = 1, kReasonInfoNotPermitted = 2, kReasonTooLong = 4, kReasonBadNr = 8;

enum State : uint8_t {
    kPortClosed = 0,
    kPortOpening = 1,
    kReleased = 2,
    kAwaitingEstablishment = 3,
    kEstablished = 4,
    kFrameRejected = 5,
    kReserved = 6,
    kAwaitingRelease = 7,
};

// What tests look at.
struct Snapshot {
    bool found;
    uint8_t state;
    uint8_t vs, va, vr;
    uint8_t outstanding;  // frames in the retransmit queue
    uint8_t window;
    uint8_t retries;
    uint16_t n200;
    uint16_t mode;
    uint32_t waiting;  // data requests in the I-frame queue
    bool originator, pollOutstanding, peerBusy, ownBusy, rejectCondition, t1Running;
    uint8_t frmr[3];
};
Snapshot snapshot(uint32_t address);
}  // namespace hdlc

}  // namespace stack
