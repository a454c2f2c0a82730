#include "portbridge/stack/hdlc.h"

#include <cstring>
#include <new>

#include "common/stage_clock.h"
#include "portbridge/stack/line_copies.h"
#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/serial_frame.h"
#include "portbridge/stack/stack_messages.h"
#include "portbridge/stack/timer_service.h"

namespace stack {

using namespace hdlc;

namespace {

constexpr uint8_t kT1 = 0, kT2 = 1;
constexpr uint16_t kT1Units = 20;  // of 50 ms
constexpr uint16_t kN200 = 9, kN200Keeping = 20;
constexpr unsigned kMinFreeReceive = 4;
constexpr uint16_t kDefaultHeaderOffset = 5;
constexpr uint32_t kIFrameQueueBits = 0x400;
constexpr unsigned kMaxInstances = 8;

// A frame handed down or kept: the buffer, where the two header bytes are, the length from there
// and whether its owner asked for it to be freed after use.
struct Frame {
    uint8_t* buffer = nullptr;
    uint16_t offset = 0;
    uint16_t length = 0;
    uint16_t flags = 0;
};

struct Hdlc {
    COSRuntime* rt = nullptr;
    uint32_t address = 0;
    uint16_t queue = 0, upper = 0, lower = 0, iQueue = 0, timerQueue = 0;
    uint16_t defaultPool = 0, receivePool = 0, copyPool = 0;
    uint16_t mode = kLinkLayerFramed;
    bool configured = false;
    uint8_t state = kPortClosed;
    uint8_t vs = 0, va = 0, vr = 0;
    uint8_t unacked = 0;
    uint8_t k = 7;
    uint16_t n200 = kN200;
    uint16_t retries = 0;
    uint16_t t1 = kT1Units, t2 = 0;
    uint8_t ackThreshold = 1;
    bool originator = false, pollOutstanding = false, peerBusy = false, ownBusy = false, reject = false;
    bool t1Running = false, t2Running = false, ackPending = false;
    uint8_t ownCommand = 1, peerCommand = 3;
    uint16_t headerOffset = kDefaultHeaderOffset;
    uint16_t maxFrame = 0;
    uint8_t frmr[3] = {};
    // T1 and T2 requests carry a generation so an expiry that was already on its way when the
    // timer was stopped or restarted is recognised as stale.
    uint16_t t1Generation = 0, t2Generation = 0;
    // The retransmit queue: frames V(A) .. V(S)-1 in order (at most 7).
    Frame retx[8];
    uint8_t retxCount = 0;
};

// Instances by address, for tests to look at; an entry of an older runtime is never touched.
struct InstanceEntry {
    uint32_t runtime;
    uint32_t address;
    Hdlc* h;
};
InstanceEntry g_instances[kMaxInstances];

Hdlc* instanceAt(uint32_t address) {
    if (!hasOsRuntime()) return nullptr;
    for (const InstanceEntry& e : g_instances)
        if (e.h && e.runtime == osRuntime().generation() && e.address == address) return e.h;
    return nullptr;
}

void freeFrame(Hdlc& h, const Frame& f) {
    if (f.buffer && (f.flags & 1)) h.rt->freeBuffer(f.buffer);
}

// --- messages to the neighbours

void up(Hdlc& h, RuntimeMessage m) {
    m.setAddress(h.address);
    if (h.rt->sendMessage(h.upper, m) != kOk) STACK_ASSERT_REPORT();
}

void indicate(Hdlc& h, uint16_t id) { up(h, RuntimeMessage(id)); }

// A message that carries a buffer: its flags (bit 0: the receiver frees it), the data's offset and
// length in it.
RuntimeMessage bufferMessage(uint16_t id, uint8_t* buffer, uint16_t offset, uint16_t length, uint16_t flags) {
    RuntimeMessage m(id);
    m.put16(6, flags);
    m.put16(8, offset);
    m.put16(10, length);
    m.setPointer(buffer);
    return m;
}

void indicateBuffer(Hdlc& h, uint16_t id, uint8_t* buffer, uint16_t offset, uint16_t length) {
    up(h, bufferMessage(id, buffer, offset, length, 1));
}

void down(Hdlc& h, RuntimeMessage m) {
    m.setAddress(h.address);
    if (h.rt->sendMessage(h.lower, m) != kOk) STACK_ASSERT_REPORT();
}

void sendDown(Hdlc& h, uint8_t* buffer, uint16_t offset, uint16_t length, uint16_t flags) {
    stageclock::stamp(stageclock::kHdlcSend);
    down(h, bufferMessage(kSerialSend, buffer, offset, length, flags));
}

void timer(Hdlc& h, uint16_t id, uint8_t number) {
    RuntimeMessage m = timerRequest(id, number, 0, kTimer50ms, number == kT1 ? h.t1 : h.t2);
    m.put16(11, number == kT1 ? h.t1Generation : h.t2Generation);
    m.setAddress(h.address);
    if (h.rt->sendMessage(h.timerQueue, m) != kOk) STACK_ASSERT_REPORT();
}

void startT1(Hdlc& h) {
    if (h.t1Running) return;
    ++h.t1Generation;
    h.t1Running = true;
    timer(h, kTimerStart, kT1);
}
void stopT1(Hdlc& h) {
    if (!h.t1Running) return;
    h.t1Running = false;
    timer(h, kTimerStop, kT1);
    ++h.t1Generation;
}
void restartT1(Hdlc& h) {
    ++h.t1Generation;
    timer(h, h.t1Running ? kTimerRestart : kTimerStart, kT1);
    h.t1Running = true;
}
void startT2(Hdlc& h) {
    if (h.t2 == 0 || h.t2Running) return;
    ++h.t2Generation;
    h.t2Running = true;
    timer(h, kTimerStart, kT2);
}
void stopT2(Hdlc& h) {
    if (!h.t2Running) return;
    h.t2Running = false;
    timer(h, kTimerStop, kT2);
    ++h.t2Generation;
}

void setRetries(Hdlc& h) { h.retries = static_cast<uint16_t>(h.mode == kLinkLayerRaw ? h.n200 : h.n200 - 1); }

// An S or U frame of this side: a small buffer of the default pool, freed by the serial task.
void sendControl(Hdlc& h, bool command, uint8_t control, const uint8_t* info = nullptr, uint16_t infoLength = 0) {
    uint8_t* b = nullptr;
    const uint16_t off = h.headerOffset;
    if (h.rt->getBuffer(h.defaultPool, static_cast<uint16_t>(off + 2 + infoLength + 1), &b) != kOk) return;
    b[off] = command ? h.ownCommand : h.peerCommand;
    b[off + 1] = control;
    if (infoLength) std::memcpy(b + off + 2, info, infoLength);
    sendDown(h, b, off, static_cast<uint16_t>(2 + infoLength), 1);
}

uint8_t sControl(uint8_t type, bool pf, uint8_t nr) {
    return static_cast<uint8_t>(type | (pf ? kPF : 0) | (nr & 7) << 5);
}

void sendSabm(Hdlc& h) { sendControl(h, true, kSABM | kPF); }
void sendDisc(Hdlc& h) { sendControl(h, true, kDISC | kPF); }
void sendUa(Hdlc& h, bool f) { sendControl(h, false, static_cast<uint8_t>(kUA | (f ? kPF : 0))); }
void sendDm(Hdlc& h, bool f) { sendControl(h, false, static_cast<uint8_t>(kDM | (f ? kPF : 0))); }
void sendSupervisory(Hdlc& h, bool command, uint8_t type, bool pf) {
    sendControl(h, command, sControl(type, pf, h.vr));
    if (command && pf) h.pollOutstanding = true;
}
void sendReadiness(Hdlc& h, bool command, bool pf) { sendSupervisory(h, command, h.ownBusy ? kRNR : kRR, pf); }

// --- queues

// Mode 130 reports every data request back: acknowledged (579) or, here, unsent (580), so the
// layer above can tell its sender the truth. `offset` and `length` are the data's as it came.
void giveBack(Hdlc& h, uint8_t* buffer, uint16_t offset, uint16_t length, uint16_t flags) {
    if (!buffer) return;
    if (h.mode != kLinkLayerKeeping) {
        if (flags & 1) h.rt->freeBuffer(buffer);
        return;
    }
    up(h, bufferMessage(kDataReturned, buffer, offset, length, flags));
}

// A queued or sent I frame: its two header bytes lie in front of the data.
void giveBackFrame(Hdlc& h, const Frame& f) {
    giveBack(h, f.buffer, static_cast<uint16_t>(f.offset + 2), static_cast<uint16_t>(f.length - 2), f.flags);
}

void emptyQueues(Hdlc& h) {
    RuntimeMessage m;
    while (h.rt->receiveMessage(h.iQueue, &m) == kOk) {
        Frame f{static_cast<uint8_t*>(m.pointer()), m.u16(8), m.u16(10), m.u16(6)};
        giveBackFrame(h, f);
    }
    for (uint8_t i = 0; i < h.retxCount; ++i) giveBackFrame(h, h.retx[i]);
    h.retxCount = 0;
}

uint32_t waitingRequests(Hdlc& h) {
    uint32_t n = 0;
    h.rt->queuePending(h.iQueue, &n);
    return n;
}

void reset(Hdlc& h) {
    stopT1(h);
    stopT2(h);
    h.vs = h.va = h.vr = 0;
    h.unacked = 0;
    h.retries = 0;
    h.pollOutstanding = h.peerBusy = h.ownBusy = h.reject = h.ackPending = false;
    emptyQueues(h);
}

void establish(Hdlc& h) {
    if (h.mode == kLinkLayerRaw) {
        setRetries(h);
        indicate(h, kEstablishedInd);
        h.state = kEstablished;
        return;
    }
    setRetries(h);
    if (h.originator) {
        sendSabm(h);
        restartT1(h);
    }
    h.state = kAwaitingEstablishment;
}

void setRole(Hdlc& h, bool originator) {
    h.originator = originator;
    h.ownCommand = originator ? 1 : 3;
    h.peerCommand = originator ? 3 : 1;
}

void rejectFrame(Hdlc& h, uint8_t control, bool wasResponse, uint8_t reason, bool f) {
    h.frmr[0] = control;
    h.frmr[1] = static_cast<uint8_t>((h.vr & 7) << 5 | (wasResponse ? 0x10 : 0) | (h.vs & 7) << 1);
    h.frmr[2] = reason;
    sendControl(h, false, static_cast<uint8_t>(kFRMR | (f ? kPF : 0)), h.frmr, 3);
    h.state = kFrameRejected;
}

// --- sending I frames

// An I frame stays in the retransmit queue after it is handed down: a resend writes its header
// again and an acknowledgement hands it up or frees it. The serial task may handle the send only
// after this layer has done either (a burst of received frames is handled first), and would then
// write a newer N(R) behind older ones on the line, or a buffer no longer ours. So what goes down
// is a copy taken now. Without a copy buffer the frame is not written this time; T1 sends it
// again, as after a loss on the line.
void sendIFrame(Hdlc& h, const Frame& f) {
    const size_t room = h.headerOffset;
    const size_t size = room + f.length + kSerialTrailer;
    uint8_t* copy = nullptr;
    if (size > 0xFFFF || h.rt->getBuffer(h.copyPool, static_cast<uint16_t>(size), &copy) != kOk) return;
    std::memcpy(copy + room, f.buffer + f.offset, f.length);
    sendDown(h, copy, static_cast<uint16_t>(room), f.length, 1);
}

void writeIHeader(Hdlc& h, Frame& f) {
    f.buffer[f.offset] = h.ownCommand;
    f.buffer[f.offset + 1] = static_cast<uint8_t>((h.vs & 7) << 1 | (h.vr & 7) << 5);
}

void transmit(Hdlc& h) {
    while (!h.pollOutstanding && !h.peerBusy && h.retxCount < h.k) {
        RuntimeMessage m;
        if (h.rt->receiveMessage(h.iQueue, &m) != kOk) break;
        Frame f{static_cast<uint8_t*>(m.pointer()), m.u16(8), m.u16(10), m.u16(6)};
        writeIHeader(h, f);
        h.retx[h.retxCount++] = f;
        sendIFrame(h, f);
        h.unacked = 0;
        h.ackPending = false;
        stopT2(h);
        startT1(h);
        setRetries(h);
        h.vs = static_cast<uint8_t>((h.vs + 1) & 7);
    }
}

// Sends the retransmit queue again from V(A). After a REJ in mode 130 the peer keeps what came
// after the gap, so only the first frame goes again; V(S) still moves past every frame kept here,
// or the peer's later acknowledgements would look invalid.
void retransmit(Hdlc& h, bool afterReject) {
    h.vs = h.va;
    const uint8_t count = (afterReject && h.mode == kLinkLayerKeeping && h.retxCount) ? 1 : h.retxCount;
    for (uint8_t i = 0; i < count; ++i) {
        Frame& f = h.retx[i];
        writeIHeader(h, f);
        sendIFrame(h, f);
        h.vs = static_cast<uint8_t>((h.vs + 1) & 7);
    }
    h.vs = static_cast<uint8_t>((h.va + h.retxCount) & 7);
    if (h.retxCount) {
        h.unacked = 0;
        startT1(h);
        setRetries(h);
    }
}

// V(A) <= N(R) <= V(S), modulo 8. The line does not reorder frames (a repeat follows its original
// at once, with the same N(R)), and a peer's V(R) never goes back, so any N(R) in that span is a
// real acknowledgement.
bool nrValid(const Hdlc& h, uint8_t nr) {
    const uint8_t outstanding = static_cast<uint8_t>((h.vs - h.va) & 7);
    return ((nr - h.va) & 7) <= outstanding;
}

void processNr(Hdlc& h, uint8_t nr, bool f, bool keepT1) {
    uint8_t n = static_cast<uint8_t>((nr - h.va) & 7);
    if (n > h.retxCount) n = h.retxCount;
    for (uint8_t i = 0; i < n; ++i) {
        Frame& fr = h.retx[i];
        if (h.mode == kLinkLayerKeeping) {
            RuntimeMessage m(kDataAcknowledged);
            m.put16(6, fr.flags);
            m.put16(8, fr.offset);
            m.put16(10, fr.length);
            m.setPointer(fr.buffer);
            up(h, m);
        } else {
            freeFrame(h, fr);
        }
    }
    for (uint8_t i = n; i < h.retxCount; ++i) h.retx[i - n] = h.retx[i];
    h.retxCount = static_cast<uint8_t>(h.retxCount - n);
    h.va = static_cast<uint8_t>(nr & 7);
    if (keepT1) return;
    if (h.pollOutstanding && !f)
        startT1(h);
    else if (h.va == h.vs && !h.peerBusy)
        stopT1(h);
    else if (n)
        restartT1(h);
    else
        startT1(h);
}

void ownBusyCheck(void* context, uint16_t, uint16_t);

// A frame with P is answered at once with F, whatever else waits: the peer's poll would go
// unanswered otherwise and its T1 run out until the link is reset.
void acknowledge(Hdlc& h, bool pf) {
    if (h.pollOutstanding && !pf) {
        h.ackPending = true;
        return;
    }
    if (!h.ownBusy && h.receivePool && h.rt->poolHasBuffer(h.receivePool, h.maxFrame) < kMinFreeReceive) {
        h.ownBusy = true;
        h.rt->setPoolRelease(h.receivePool, &ownBusyCheck, &h);
    }
    if (h.ownBusy) {
        sendSupervisory(h, false, kRNR, pf);
        h.unacked = 0;
        return;
    }
    if (!pf && waitingRequests(h) && !h.peerBusy && h.retxCount < h.k) return;  // the next I frame carries it
    if (!pf && h.ackThreshold > h.unacked) {
        startT2(h);
        return;
    }
    sendSupervisory(h, false, kRR, pf);
    h.unacked = 0;
}

void ownBusyCheck(void* context, uint16_t pool, uint16_t) {
    Hdlc& h = *static_cast<Hdlc*>(context);
    if (h.rt->poolHasBuffer(pool, h.maxFrame) < kMinFreeReceive) return;
    h.rt->setPoolRelease(pool, nullptr, nullptr);
    RuntimeMessage m(kOwnBusyEnded);
    m.setAddress(h.address);
    h.rt->sendMessage(h.queue, m);
}

// --- received frames

struct Received {
    uint8_t* buffer;
    uint16_t offset;   // of the address byte
    uint16_t length;   // from the address byte
    uint8_t address, control;
    bool command;
};

void iFrame(Hdlc& h, const Received& r) {
    stageclock::stamp(stageclock::kHdlcReceive);
    const uint8_t c = r.control;
    const uint8_t ns = (c >> 1) & 7;
    const bool p = c & kPF;
    const uint8_t nr = static_cast<uint8_t>(c >> 5);
    if (!nrValid(h, nr)) {
        if (p) sendReadiness(h, false, true);
        h.rt->freeBuffer(r.buffer);
        rejectFrame(h, c, !r.command, kReasonBadNr, false);
        return;
    }
    if (ns == h.vr) {
        h.reject = false;
        h.vr = static_cast<uint8_t>((h.vr + 1) & 7);
        processNr(h, nr, false, h.peerBusy);
        indicateBuffer(h, kDataIndication, r.buffer, static_cast<uint16_t>(r.offset + 2),
                       static_cast<uint16_t>(r.length - 2));
        ++h.unacked;
        acknowledge(h, p);
        transmit(h);
        return;
    }
    // Out of sequence: a frame after a gap, or a repeat of one taken already whose acknowledgement
    // the peer missed. Modulo 8 the two cannot be told apart without the peer's window, and
    // nothing on this link tells us that window (SABM carries none, nor do the AT commands), so
    // no such frame is kept: a repeat kept as new would be passed up a second time once the gap
    // is filled. The information is dropped and the first one of a gap is answered with REJ,
    // which asks for everything from V(R) again and acknowledges what came before.
    processNr(h, nr, false, h.peerBusy);
    if (!h.reject) {
        h.reject = true;
        sendSupervisory(h, false, kREJ, p);
        restartT1(h);
        setRetries(h);
    } else if (p) {
        sendReadiness(h, false, true);
    }
    h.rt->freeBuffer(r.buffer);
    transmit(h);
}

void supervisory(Hdlc& h, const Received& r) {
    const uint8_t c = r.control;
    const uint8_t type = c & 0x0F, nr = c >> 5;
    const bool pf = c & kPF;
    if (!nrValid(h, nr)) {
        if (pf && r.command) sendReadiness(h, false, true);
        rejectFrame(h, c, !r.command, kReasonBadNr, false);
        return;
    }
    // A command with P asks for our state at once.
    if (r.command && pf) sendReadiness(h, false, true);
    const bool final = !r.command && pf;
    switch (type) {
    case kRR:
        h.peerBusy = false;
        processNr(h, nr, final, false);
        if (final && h.pollOutstanding) {
            h.pollOutstanding = false;
            retransmit(h, false);
        }
        transmit(h);
        break;
    case kRNR:
        h.peerBusy = true;
        processNr(h, nr, final, true);
        if (final) h.pollOutstanding = false;
        if (!h.t1Running) startT1(h);
        break;
    case kREJ:
        h.peerBusy = false;
        processNr(h, nr, final, false);
        if (final) h.pollOutstanding = false;
        retransmit(h, true);
        transmit(h);
        break;
    }
    if (!h.pollOutstanding && h.ackPending && h.unacked) {
        h.ackPending = false;
        acknowledge(h, false);
    }
}

bool isUndefined(uint8_t c) {
    if ((c & 1) == 0) return false;
    if ((c & 3) == 1) return (c & 0x0F) == 0x0D;
    const uint8_t u = c & static_cast<uint8_t>(~kPF);
    return u != kUI && u != kSABM && u != kDISC && u != kUA && u != kDM && u != kFRMR;
}

void handleFrame(Hdlc& h, const Received& r) {
    const uint8_t c = r.control;
    const bool pf = c & kPF;
    const bool isI = (c & 1) == 0;
    const bool isS = (c & 3) == 1;
    const uint8_t u = c & static_cast<uint8_t>(~kPF);

    if (!isI && !isS && u == kUI) {
        if (r.command) {
            indicateBuffer(h, kUnitDataIndication, r.buffer, static_cast<uint16_t>(r.offset + 2),
                           static_cast<uint16_t>(r.length - 2));
        } else {
            h.rt->freeBuffer(r.buffer);
        }
        return;
    }

    bool keepBuffer = false;
    const uint8_t s = h.state;
    const bool checks = s == kAwaitingEstablishment || s == kEstablished;
    if (checks && isUndefined(c)) {
        rejectFrame(h, c, !r.command, kReasonUndefined, pf);
    } else if (checks && !isI && r.length != (u == kFRMR ? 5 : 2) && s == kEstablished) {
        rejectFrame(h, c, !r.command, kReasonUndefined | kReasonInfoNotPermitted, pf);
    } else if (s == kEstablished && isI && h.maxFrame && r.length > h.maxFrame) {
        rejectFrame(h, c, !r.command, kReasonTooLong, pf);
    } else if (r.command) {
        switch (s) {
        case kPortOpening:
        case kReleased:
        case kAwaitingEstablishment:
            if (u == kSABM && !isI && !isS) {
                sendUa(h, pf);
                reset(h);
                indicate(h, kEstablishedInd);
                h.state = kEstablished;
            } else if (u == kDISC && !isI && !isS && s != kPortOpening) {
                sendDm(h, pf);
            }
            break;
        case kEstablished:
            if (isI) {
                iFrame(h, r);
                keepBuffer = true;
            } else if (isS) {
                supervisory(h, r);
            } else if (u == kSABM) {
                sendUa(h, pf);
                reset(h);
                indicate(h, kLinkReset);
                indicate(h, kEstablishedInd);
            } else if (u == kDISC) {
                sendUa(h, pf);
                reset(h);
                indicate(h, kReleasedInd);
                h.state = kReleased;
            }
            break;
        case kFrameRejected:
            if (!isI && !isS && u == kSABM) {
                sendUa(h, pf);
                reset(h);
                h.state = kEstablished;
            } else if (!isI && !isS && u == kDISC) {
                sendUa(h, pf);
                reset(h);
                indicate(h, kReleasedInd);
                h.state = kReleased;
            } else if ((isI || isS) && pf) {
                sendControl(h, false, kFRMR | kPF, h.frmr, 3);
            }
            break;
        case kAwaitingRelease:
            if (!isI && !isS && u == kSABM) {
                sendDm(h, pf);
                stopT1(h);
                indicate(h, kReleasedInd);
                h.state = kReleased;
            } else if (!isI && !isS && u == kDISC) {
                sendUa(h, pf);
            }
            break;
        default:
            break;
        }
    } else {
        switch (s) {
        case kAwaitingEstablishment:
            if (!isI && !isS && u == kUA) {
                reset(h);
                indicate(h, kEstablishedInd);
                h.state = kEstablished;
            }
            break;
        case kEstablished:
            if (isS) {
                supervisory(h, r);
            } else if (!isI && u == kDM) {
                stopT1(h);
                reset(h);
                indicate(h, kReleasedInd);
                h.state = kReleased;
            } else if (!isI && u == kFRMR) {
                sendSabm(h);
                restartT1(h);
                setRetries(h);
                indicate(h, kLinkReset);
                h.state = kAwaitingEstablishment;
            }
            break;
        case kAwaitingRelease:
            if (!isI && !isS && (u == kUA || u == kDM)) {
                stopT1(h);
                reset(h);
                indicate(h, kReleaseConfirm);
                h.state = kReleased;
            }
            break;
        default:
            break;
        }
    }
    if (!keepBuffer) h.rt->freeBuffer(r.buffer);
}

void frameFromBelow(Hdlc& h, const RuntimeMessage& m) {
    uint8_t* b = static_cast<uint8_t*>(m.pointer());
    const uint16_t off = m.u16(8), len = m.u16(10);
    if (!b) return;
    if (h.state == kPortClosed || h.state == kPortOpening) {
        h.rt->freeBuffer(b);
        return;
    }
    if (h.mode == kLinkLayerRaw) {
        indicateBuffer(h, kDataIndication, b, off, len);
        return;
    }
    // Address and control at least; anything shorter is line noise that passed the sums.
    if (len < 2) {
        h.rt->freeBuffer(b);
        return;
    }
    Received r{b, off, len, b[off], b[off + 1], false};
    if (r.address == h.peerCommand)
        r.command = true;
    else if (r.address != h.ownCommand) {
        h.rt->freeBuffer(b);
        return;
    }
    handleFrame(h, r);
}

// --- timers

void t1Expired(Hdlc& h) {
    h.t1Running = false;
    if (h.retries > 0) {
        --h.retries;
        switch (h.state) {
        case kAwaitingEstablishment:
            startT1(h);
            if (h.originator) sendSabm(h);
            break;
        case kEstablished:
            if (h.retxCount || h.pollOutstanding || h.peerBusy || h.reject) {
                sendReadiness(h, true, true);
                startT1(h);
                if (h.peerBusy) setRetries(h);
            }
            break;
        case kFrameRejected:
            startT1(h);
            sendSabm(h);
            break;
        case kAwaitingRelease:
            startT1(h);
            sendDisc(h);
            break;
        default:
            break;
        }
        return;
    }
    switch (h.state) {
    case kAwaitingEstablishment:
    case kAwaitingRelease:
        indicate(h, kReleasedInd);
        h.state = kReleased;
        break;
    case kEstablished:
    case kFrameRejected:
    case kReserved:
        // Nothing held now is sent on the link set up anew: it goes back before the release.
        emptyQueues(h);
        indicate(h, kReleasedInd);
        h.pollOutstanding = false;
        establish(h);
        break;
    default:
        break;
    }
}

void timerExpired(Hdlc& h, const RuntimeMessage& m) {
    const uint8_t number = m.u8(6);
    const uint16_t generation = m.u16(11);
    if (number == kT1) {
        if (!h.t1Running || generation != h.t1Generation) return;
        t1Expired(h);
    } else if (number == kT2) {
        if (!h.t2Running || generation != h.t2Generation) return;
        h.t2Running = false;
        if (h.state == kEstablished && h.unacked) {
            sendReadiness(h, false, false);
            h.unacked = 0;
        }
    }
}

// --- requests from above

void dropRequest(Hdlc& h, const RuntimeMessage& m) {
    uint8_t* b = static_cast<uint8_t*>(m.pointer());
    if (m.id() == kDataRequest) {
        giveBack(h, b, m.u16(8), m.u16(10), m.u16(6));
        return;
    }
    if (b && (m.u16(6) & 1)) h.rt->freeBuffer(b);
}

void unitData(Hdlc& h, const RuntimeMessage& m) {
    uint8_t* b = static_cast<uint8_t*>(m.pointer());
    const uint16_t off = m.u16(8), len = m.u16(10);
    if (!b || off < 2 || h.mode == kLinkLayerRaw) {
        dropRequest(h, m);
        return;
    }
    b[off - 2] = h.ownCommand;
    b[off - 1] = kUI;
    sendDown(h, b, static_cast<uint16_t>(off - 2), static_cast<uint16_t>(len + 2), m.u16(6));
}

void data(Hdlc& h, const RuntimeMessage& m) {
    uint8_t* b = static_cast<uint8_t*>(m.pointer());
    const uint16_t off = m.u16(8), len = m.u16(10);
    if (!b) return;
    if (h.mode == kLinkLayerRaw) {
        sendDown(h, b, off, len, m.u16(6));
        return;
    }
    // Room for our two bytes and the serial frame's header in front of the data, and a length
    // that still counts with our two bytes added.
    if (off < h.headerOffset + 2 || len > 0xFFFF - 2) {
        dropRequest(h, m);
        return;
    }
    RuntimeMessage q(kDataRequest);
    q.put16(6, m.u16(6));
    q.put16(8, static_cast<uint16_t>(off - 2));
    q.put16(10, static_cast<uint16_t>(len + 2));
    q.setPointer(b);
    if (h.rt->sendMessage(h.iQueue, q) != kOk) {
        dropRequest(h, m);
        return;
    }
    transmit(h);
}

void request(Hdlc& h, const RuntimeMessage& m) {
    const uint16_t id = m.id();
    const uint8_t s = h.state;
    switch (id) {
    case kEstablishRequest:
        if (s == kPortClosed) {
            setRole(h, m.u8(6) == 1);
            down(h, RuntimeMessage(kSerialOpen));
            h.state = kPortOpening;
        } else if (s == kReleased) {
            setRole(h, m.u8(6) == 1);
            establish(h);
        }
        break;
    case kReleaseRequest:
        if (s == kAwaitingEstablishment) {
            stopT1(h);
            h.state = kReleased;
        } else if (s == kEstablished || s == kFrameRejected || s == kReserved) {
            if (h.mode == kLinkLayerRaw) {
                down(h, RuntimeMessage(kSerialClose));
                h.state = kPortClosed;
            } else {
                sendDisc(h);
                restartT1(h);
                setRetries(h);
                h.state = kAwaitingRelease;
            }
        }
        break;
    case kDataRequest:
        if (s == kEstablished)
            data(h, m);
        else
            dropRequest(h, m);
        break;
    case kUnitDataRequest:
        if (s >= kReleased)
            unitData(h, m);
        else
            dropRequest(h, m);
        break;
    case kConfigurationDone:
        if (s == kPortClosed)
            down(h, RuntimeMessage(kSerialOpen));
        else if (s == kReleased)
            indicate(h, kConfiguredIndication);
        break;
    default:
        break;
    }
}

void configure(Hdlc& h, const RuntimeMessage& m) {
    uint8_t* block = static_cast<uint8_t*>(m.pointer());
    if (!block) return;
    auto answer = [&](uint16_t status) {
        RuntimeMessage r(kConfigured);
        r.put16(10, status);
        r.setPointer(block);
        up(h, r);
    };
    const uint16_t mode = block16(block, config::kLinkLayerMode);
    if (mode != kLinkLayerRaw && mode != kLinkLayerFramed && mode != kLinkLayerKeeping) {
        answer(0x3002);
        return;
    }
    uint8_t modulus = block[config::kModulus];
    uint8_t window = block[config::kWindow];
    if (mode != kLinkLayerRaw) {
        if (modulus == 0) modulus = 8;
        if (window == 0) window = 7;
        if (modulus != 8 || window >= 8) {
            answer(0x3005);
            return;
        }
    } else if (window == 0 || window >= 8) {
        window = 7;
    }
    h.mode = mode;
    if (mode == kLinkLayerKeeping) setBlock16(block, config::kLinkLayerMode, 0);
    h.k = window;
    h.t1 = kT1Units;
    h.t2 = 0;
    h.n200 = mode == kLinkLayerKeeping ? kN200Keeping : kN200;
    h.ackThreshold = static_cast<uint8_t>(h.t2 && h.k > 2 ? h.k / 2 + 1 : 1);
    const uint16_t maxFrame = static_cast<uint16_t>(block16(block, config::kMaxFrameLength) + 2);
    setBlock16(block, config::kMaxFrameLength, maxFrame);
    h.maxFrame = maxFrame;
    const uint16_t rxRoom = block16(block, config::kReceiveHeaderRoom);
    if (rxRoom >= 2) setBlock16(block, config::kReceiveHeaderRoom, static_cast<uint16_t>(rxRoom - 2));
    h.configured = true;
    RuntimeMessage d(kConfigure);
    d.setPointer(block);
    down(h, d);
}

void configured(Hdlc& h, RuntimeMessage m) {
    uint8_t* block = static_cast<uint8_t*>(m.pointer());
    if (block && m.u16(10) == 0) {
        const uint16_t word = block16(block, config::kTransmitHeaderRoom);
        h.headerOffset = word;
        setBlock16(block, config::kTransmitHeaderRoom, static_cast<uint16_t>(word + 2));
    }
    up(h, m);
}

void handler(void* context) {
    Hdlc& h = *static_cast<Hdlc*>(context);
    RuntimeMessage m;
    if (h.rt->receiveMessage(h.queue, &m) != kOk) return;
    switch (m.id()) {
    case kBound:
        h.upper = m.u16(9);
        h.lower = m.u16(11);
        break;
    case kConfigure:
        configure(h, m);
        break;
    case kConfigured:
        configured(h, m);
        break;
    case kReceivePool:
        h.receivePool = m.u16(6);
        down(h, m);
        break;
    case kTimerExpiry:
        timerExpired(h, m);
        break;
    case kOwnBusyEnded:
        if (!h.ownBusy) break;
        h.ownBusy = false;
        if (h.state == kEstablished) {
            sendReadiness(h, true, true);
            restartT1(h);
            setRetries(h);
        }
        break;
    case kFrameReceived:
        frameFromBelow(h, m);
        break;
    case kPortUp:
        if (h.state == kPortClosed || h.state == kPortOpening) {
            const bool opening = h.state == kPortOpening;
            indicate(h, kPortUpIndication);
            h.state = kReleased;
            if (opening) establish(h);
        }
        break;
    case kPortDown:
        stopT1(h);
        stopT2(h);
        emptyQueues(h);
        h.vs = h.va = h.vr = 0;
        h.pollOutstanding = h.peerBusy = h.reject = h.ackPending = false;
        indicate(h, kPortDownIndication);
        indicate(h, kReleasedInd);
        h.state = kPortClosed;
        break;
    default:
        request(h, m);
        break;
    }
}

void idleQueue(void*) {}

}  // namespace

uint32_t hdlcInit(void*, uint32_t address) {
    COSRuntime& rt = osRuntime();
    void* block = nullptr;
    if (rt.allocInstance(static_cast<uint16_t>(sizeof(Hdlc)), &block) != kOk) return 0;
    Hdlc* h = new (block) Hdlc();
    h->rt = &rt;
    h->address = address;
    if (rt.createTaskQueue(address, &handler, h, &h->queue) != kOk) return 0;
    const uint32_t iAddress = (address & ~0xFC00u) | kIFrameQueueBits;
    if (rt.createTaskQueue(iAddress, &idleQueue, nullptr, &h->iQueue) != kOk) return 0;
    rt.findQueue(kTimerTask, &h->timerQueue);
    rt.findDefaultPool(&h->defaultPool);
    h->copyPool = lineCopyPool(rt, address);
    for (InstanceEntry& e : g_instances) {
        if (!e.h || e.runtime != rt.generation() || e.address == address) {
            e = InstanceEntry{rt.generation(), address, h};
            break;
        }
    }
    return 1;
}

hdlc::Snapshot hdlc::snapshot(uint32_t address) {
    Snapshot s{};
    Hdlc* h = instanceAt(address);
    if (!h) return s;
    s.found = true;
    s.state = h->state;
    s.vs = h->vs;
    s.va = h->va;
    s.vr = h->vr;
    s.outstanding = h->retxCount;
    s.window = h->k;
    s.retries = static_cast<uint8_t>(h->retries);
    s.n200 = h->n200;
    s.mode = h->mode;
    s.waiting = waitingRequests(*h);
    s.originator = h->originator;
    s.pollOutstanding = h->pollOutstanding;
    s.peerBusy = h->peerBusy;
    s.ownBusy = h->ownBusy;
    s.rejectCondition = h->reject;
    s.t1Running = h->t1Running;
    std::memcpy(s.frmr, h->frmr, 3);
    return s;
}

}  // namespace stack
