// The ISDN Tamrisk after "atcm3": it speaks the serial frame (7E 7E, length, header sum, payload,
// payload sum) and inside it a balanced HDLC link modulo 8 as the peer station. The computer is
// the originator (its commands carry address 1, ours 3).
//
// Written on its own, not from the provider's code, so the two cannot share a misreading. No
// Windows header: the simulator feeds it the line and a clock, and writes out what it returns.
// Tests spoil it on purpose through Faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace isdnsim {

using Bytes = std::vector<uint8_t>;

// Serial frames of the adapter, in both directions.
struct SerialFrames {
    static Bytes Wrap(const Bytes& payload);
    // Frames with a broken length field, header sum or payload sum, for the fault knobs.
    static Bytes WithLength(uint16_t length_field, const Bytes& body);

    // Cuts the line into payloads. Counts what it had to throw away.
    void Take(const uint8_t* data, size_t size, std::vector<Bytes>* payloads);
    size_t max_length = 2400;
    unsigned resyncs = 0;        // header sum wrong, or length out of range: looked for the next flags
    unsigned bad_sums = 0;       // payload sum wrong: frame dropped
    std::string outside;         // bytes seen between frames (where "at" is looked for)

private:
    int step_ = 0;
    uint16_t length_ = 0;
    Bytes body_;
};

enum Direction { kToAdapter = 0, kToComputer = 1 };

// HDLC frames by what they are, for the per-frame knobs: an I frame, an RR, a REJ, and a poll
// (any command with P set, I or S; counted as a poll only).
enum FrameKind { kIFrame = 0, kRrFrame = 1, kRejFrame = 2, kPollFrame = 3, kFrameKinds = 4 };

struct FrameFaults {
    // Frames of one kind counted from 1, in one direction: lost, sent twice, or with a spoiled
    // sum (the receiving serial layer drops it).
    std::set<unsigned> lose, repeat, spoil;
};

struct Faults {
    // Serial frames counted from 1 in each direction, as they pass the adapter's line.
    std::set<unsigned> drop[2], duplicate[2], reorder[2], corrupt_payload[2], corrupt_header[2];
    FrameFaults frames[2][kFrameKinds];
    bool busy = false;    // answers I frames with RNR and takes nothing
    bool silent = false;  // reads everything, answers nothing
};

class TamriskLink {
public:
    enum State { kDisconnected, kConnected, kAwaitingUa };

    // Bytes from the line; returns the bytes to write back, in order.
    Bytes Receive(const uint8_t* data, size_t size);
    // The clock, in milliseconds since any fixed start; returns what timers make it send.
    Bytes Tick(uint32_t now_ms);
    // The time without running the timers: given before Receive, so T1 runs from the present.
    void SetClock(uint32_t now_ms) { now_ = now_ms; }

    // Payload for the computer in I frames (one frame each).
    void QueueData(const Bytes& payload) { to_send_.push_back(payload); }
    size_t QueuedData() const { return to_send_.size() + unacked_.size(); }
    Bytes Flush();  // what QueueData made sendable now

    // Spoken on purpose.
    Bytes SendDm();
    Bytes SendUi(const Bytes& info);
    Bytes StartSabm();
    Bytes SendRaw(const Bytes& serial_bytes) { return Out(serial_bytes); }
    Bytes EndBusy();  // busy over: RR with our V(R)

    // Everything the computer sent in I frames, in the order taken; UI frames apart.
    std::vector<Bytes> received;
    std::vector<Bytes> received_ui;
    Faults faults;
    // The station's own settings. Nothing on the line tells either end the other's window (SABM
    // carries none, nor does "atcm3"): whoever starts the station sets its window, which need
    // not be the computer's.
    int window = 7;
    uint32_t t1_ms = 1000;
    int n200 = 9;
    // Keeps I frames that come out of sequence for later, where that is sound: modulo 8 a frame
    // is surely new (not a repeat of one taken) only when it is less than 8 - W ahead, W the
    // computer's window. The station does not know W unless a test tells it here; at 7, the
    // most there is, nothing is kept. Off: a plain go-back-N station.
    bool keep_out_of_sequence = false;
    int computer_window = 7;
    bool back_to_command_mode = false;  // "at" came while framed
    SerialFrames line;
    Bytes line_head;  // the first bytes that came in framed mode
    State state() const { return state_; }
    std::vector<Bytes> frmr_log;  // the information fields of the FRMRs we sent, with our V(S), V(A) after
    unsigned sabms = 0, frmrs_sent = 0, rejs_sent = 0, frames_in = 0, frames_out = 0;
    unsigned t1_resends = 0;  // T1 expiries that sent the unacknowledged I frames again
    // Frames of a kind counted so far in a direction (the per-frame knobs count the same way).
    unsigned FramesOfKind(Direction direction, FrameKind kind) const { return kind_count_[direction][kind]; }

private:
    struct Sent {
        uint8_t ns;
        Bytes info;
    };
    void Frame(const Bytes& payload, Bytes* out);
    void Handle(const Bytes& payload, Bytes* out);
    void Emit(uint8_t address, uint8_t control, const Bytes& info, Bytes* out);
    void Response(uint8_t control, Bytes* out, const Bytes& info = {}) { Emit(1, control, info, out); }
    void Command(uint8_t control, Bytes* out) { Emit(3, control, {}, out); }
    void Ack(bool f, Bytes* out);
    void Reject(uint8_t control, bool response, uint8_t reason, Bytes* out);
    bool NrInRange(uint8_t nr) const;
    // Applies the per-frame knobs of `direction` to one payload: false when it is lost; sets
    // `twice` and spoils `serial` (the wrapped frame, when given) as told.
    bool FrameKnobs(Direction direction, const Bytes& payload, bool* twice, Bytes* serial);
    void Deliver(uint8_t ns, const Bytes& info);
    void TakeAcks(uint8_t nr);
    void SendFrom(size_t first, Bytes* out, bool poll = false);  // (re)sends unacked_[first..], P on the last
    void Pump(Bytes* out);
    void Reset();
    Bytes Out(const Bytes& serial);  // through the fault knobs towards the computer

    State state_ = kDisconnected;
    uint8_t vs_ = 0, va_ = 0, vr_ = 0;
    bool rejecting_ = false, peer_busy_ = false, polling_ = false;
    std::deque<Bytes> to_send_;
    std::deque<Sent> unacked_;
    Bytes kept_[8];
    bool kept_used_[8] = {};
    uint32_t now_ = 0, t1_due_ = 0;
    bool t1_on_ = false;
    int tries_ = 0;
    unsigned count_in_ = 0, count_out_ = 0;
    unsigned kind_count_[2][kFrameKinds] = {};
    Bytes held_in_, held_out_;
    bool holding_in_ = false, holding_out_ = false;
};

}  // namespace isdnsim
