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

struct Faults {
    // Serial frames counted from 1 in each direction, as they pass the adapter's line.
    std::set<unsigned> drop[2], duplicate[2], reorder[2], corrupt_payload[2], corrupt_header[2];
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
    int window = 7;
    uint32_t t1_ms = 1000;
    int n200 = 9;
    bool keep_out_of_sequence = true;
    bool back_to_command_mode = false;  // "at" came while framed
    SerialFrames line;
    Bytes line_head;  // the first bytes that came in framed mode
    State state() const { return state_; }
    std::vector<Bytes> frmr_log;  // the information fields of the FRMRs we sent, with our V(S), V(A) after
    unsigned sabms = 0, frmrs_sent = 0, rejs_sent = 0, frames_in = 0, frames_out = 0;

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
    bool NrOld(uint8_t nr) const;
    void Deliver(uint8_t ns, const Bytes& info);
    void TakeAcks(uint8_t nr);
    void SendFrom(size_t first, Bytes* out);  // (re)sends unacked_[first..]
    void Pump(Bytes* out);
    void Reset();
    Bytes Out(const Bytes& serial);  // through the fault knobs towards the computer

    State state_ = kDisconnected;
    uint8_t vs_ = 0, va_ = 0, vr_ = 0;
    int old_va_[2] = {-1, -1};
    bool rejecting_ = false, peer_busy_ = false, polling_ = false;
    std::deque<Bytes> to_send_;
    std::deque<Sent> unacked_;
    Bytes kept_[8];
    bool kept_used_[8] = {};
    Bytes taken_[8];
    bool taken_used_[8] = {};
    uint32_t now_ = 0, t1_due_ = 0;
    bool t1_on_ = false;
    int tries_ = 0;
    unsigned count_in_ = 0, count_out_ = 0;
    Bytes held_in_, held_out_;
    bool holding_in_ = false, holding_out_ = false;
};

}  // namespace isdnsim
