#include "simulators/isdn/tamrisk_link.h"

#include <cctype>

namespace isdnsim {

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t P = 0x10;
enum : uint8_t { RR = 0x01, RNR = 0x05, REJ = 0x09 };
enum : uint8_t { UI = 0x03, SABM = 0x2F, DISC = 0x43, UA = 0x63, DM = 0x0F, FRMR = 0x87 };
constexpr uint8_t kComputerCommand = 1, kOurCommand = 3;

uint8_t Sum(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<uint8_t>(s);
}

Bytes Header(uint16_t length) {
    Bytes h = {kFlag, kFlag, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    h.push_back(Sum(h.data(), h.size()));
    return h;
}

uint8_t Mod8(int v) { return static_cast<uint8_t>(v & 7); }

// What a frame is for the knobs; -1 for U frames and RNR.
int KindOf(const Bytes& payload, uint8_t command_address) {
    if (payload.size() < 2) return -1;
    const uint8_t c = payload[1];
    const bool i = (c & 1) == 0, s = (c & 3) == 1;
    if (!i && !s) return -1;
    if (payload[0] == command_address && (c & P)) return kPollFrame;
    if (i) return kIFrame;
    if ((c & 0x0F) == RR) return kRrFrame;
    if ((c & 0x0F) == REJ) return kRejFrame;
    return -1;
}

}  // namespace

Bytes SerialFrames::Wrap(const Bytes& payload) {
    Bytes f = Header(static_cast<uint16_t>(payload.size() + 1));
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(Sum(payload.data(), payload.size()));
    return f;
}

Bytes SerialFrames::WithLength(uint16_t length_field, const Bytes& body) {
    Bytes f = Header(length_field);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

void SerialFrames::Take(const uint8_t* data, size_t size, std::vector<Bytes>* payloads) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        switch (step_) {
        case 0:
            if (c == kFlag) {
                step_ = 1;
            } else {
                outside.push_back(static_cast<char>(c));
                if (outside.size() > 16) outside.erase(0, outside.size() - 16);
            }
            break;
        case 1:
            if (c == kFlag) {
                step_ = 2;
            } else {
                step_ = 0;
                outside.push_back(static_cast<char>(c));
            }
            break;
        case 2:
            length_ = c;
            step_ = 3;
            break;
        case 3:
            length_ = static_cast<uint16_t>(length_ | c << 8);
            if (length_ == 0 || length_ > max_length) {
                ++resyncs;
                step_ = 0;
            } else {
                step_ = 4;
            }
            break;
        case 4: {
            const uint8_t h[4] = {kFlag, kFlag, static_cast<uint8_t>(length_), static_cast<uint8_t>(length_ >> 8)};
            if (c != Sum(h, 4)) {
                ++resyncs;
                step_ = 0;
                break;
            }
            body_.clear();
            step_ = 5;
            break;
        }
        default:
            body_.push_back(c);
            if (body_.size() < length_) break;
            step_ = 0;
            if (Sum(body_.data(), body_.size() - 1) != body_.back()) {
                ++bad_sums;
                break;
            }
            body_.pop_back();
            payloads->push_back(body_);
            break;
        }
    }
}

Bytes TamriskLink::Receive(const uint8_t* data, size_t size) {
    Bytes out;
    std::vector<Bytes> payloads;
    for (size_t i = 0; i < size && line_head.size() < 64; ++i) line_head.push_back(data[i]);
    line.Take(data, size, &payloads);
    std::string lower;
    for (char c : line.outside) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("at") != std::string::npos) {
        back_to_command_mode = true;
        line.outside.clear();
    }
    for (const Bytes& p : payloads) {
        const unsigned n = ++count_in_;
        if (faults.drop[kToAdapter].count(n) || faults.corrupt_payload[kToAdapter].count(n) ||
            faults.corrupt_header[kToAdapter].count(n))
            continue;
        if (faults.reorder[kToAdapter].count(n) && !holding_in_) {
            held_in_ = p;
            holding_in_ = true;
            continue;
        }
        bool twice = false;
        if (!FrameKnobs(kToAdapter, p, &twice, nullptr)) continue;
        Handle(p, &out);
        if (faults.duplicate[kToAdapter].count(n) || twice) Handle(p, &out);
        if (holding_in_) {
            holding_in_ = false;
            Handle(held_in_, &out);
        }
    }
    Pump(&out);
    return out;
}

Bytes TamriskLink::Out(const Bytes& serial) {
    if (faults.silent) return {};
    Bytes out;
    const unsigned n = ++count_out_;
    ++frames_out;
    if (faults.drop[kToComputer].count(n)) return out;
    Bytes f = serial;
    if (faults.corrupt_header[kToComputer].count(n) && f.size() > 4) f[4] ^= 0x5A;
    if (faults.corrupt_payload[kToComputer].count(n) && !f.empty()) f.back() ^= 0xA5;
    if (faults.reorder[kToComputer].count(n) && !holding_out_) {
        held_out_ = f;
        holding_out_ = true;
        return out;
    }
    out = f;
    if (faults.duplicate[kToComputer].count(n)) out.insert(out.end(), f.begin(), f.end());
    if (holding_out_) {
        holding_out_ = false;
        out.insert(out.end(), held_out_.begin(), held_out_.end());
    }
    return out;
}

bool TamriskLink::FrameKnobs(Direction direction, const Bytes& payload, bool* twice, Bytes* serial) {
    // The computer's commands carry its address; ours carry ours.
    const int kind = KindOf(payload, direction == kToAdapter ? kComputerCommand : kOurCommand);
    if (kind < 0) return true;
    const unsigned n = ++kind_count_[direction][kind];
    const FrameFaults& f = faults.frames[direction][kind];
    if (f.lose.count(n)) return false;
    *twice = f.repeat.count(n) != 0;
    if (f.spoil.count(n)) {
        if (!serial) return false;  // spoiled on the way in: its serial sum fails, it is dropped
        serial->back() ^= 0xA5;
    }
    return true;
}

void TamriskLink::Emit(uint8_t address, uint8_t control, const Bytes& info, Bytes* out) {
    Bytes p = {address, control};
    p.insert(p.end(), info.begin(), info.end());
    Bytes serial = SerialFrames::Wrap(p);
    bool twice = false;
    if (!FrameKnobs(kToComputer, p, &twice, &serial)) {
        ++frames_out;
        return;
    }
    for (int k = twice ? 2 : 1; k > 0; --k) {
        Bytes f = Out(serial);
        out->insert(out->end(), f.begin(), f.end());
    }
}

void TamriskLink::Reset() {
    vs_ = va_ = vr_ = 0;
    rejecting_ = peer_busy_ = polling_ = false;
    unacked_.clear();
    for (int i = 0; i < 8; ++i) kept_used_[i] = false;
    t1_on_ = false;
    tries_ = 0;
}

void TamriskLink::Deliver(uint8_t, const Bytes& info) {
    received.push_back(info);
    vr_ = Mod8(vr_ + 1);
}

bool TamriskLink::NrInRange(uint8_t nr) const { return Mod8(nr - va_) <= Mod8(vs_ - va_); }

void TamriskLink::TakeAcks(uint8_t nr) {
    bool progress = false;
    while (va_ != nr && !unacked_.empty()) {
        unacked_.pop_front();
        va_ = Mod8(va_ + 1);
        progress = true;
    }
    if (progress) tries_ = 0;
    if (unacked_.empty()) {
        t1_on_ = false;
    } else if (progress) {
        t1_on_ = true;
        t1_due_ = now_ + t1_ms;
    }
}

void TamriskLink::Ack(bool f, Bytes* out) {
    Response(static_cast<uint8_t>((faults.busy ? RNR : RR) | (f ? P : 0) | vr_ << 5), out);
}

void TamriskLink::Reject(uint8_t control, bool response, uint8_t reason, Bytes* out) {
    Bytes info = {control, static_cast<uint8_t>(vr_ << 5 | (response ? 0x10 : 0) | vs_ << 1), reason};
    Response(FRMR, out, info);
    Bytes logged = info;
    logged.push_back(vs_);
    logged.push_back(va_);
    frmr_log.push_back(logged);
    ++frmrs_sent;
    state_ = kDisconnected;
    t1_on_ = false;
}

void TamriskLink::SendFrom(size_t first, Bytes* out, bool poll) {
    for (size_t i = first; i < unacked_.size(); ++i) {
        unacked_[i].ns = Mod8(va_ + static_cast<int>(i));
        const bool last = i + 1 == unacked_.size();
        Emit(kOurCommand, static_cast<uint8_t>(unacked_[i].ns << 1 | vr_ << 5 | (poll && last ? P : 0)),
             unacked_[i].info, out);
    }
    vs_ = Mod8(va_ + static_cast<int>(unacked_.size()));
    if (!unacked_.empty() && !t1_on_) {
        t1_on_ = true;
        t1_due_ = now_ + t1_ms;
    }
}

void TamriskLink::Pump(Bytes* out) {
    while (state_ == kConnected && !peer_busy_ && !polling_ && static_cast<int>(unacked_.size()) < window &&
           !to_send_.empty()) {
        Sent s{vs_, to_send_.front()};
        to_send_.pop_front();
        unacked_.push_back(s);
        Emit(kOurCommand, static_cast<uint8_t>(s.ns << 1 | vr_ << 5), s.info, out);
        vs_ = Mod8(vs_ + 1);
        if (!t1_on_) {
            t1_on_ = true;
            t1_due_ = now_ + t1_ms;
        }
    }
}

Bytes TamriskLink::Flush() {
    Bytes out;
    Pump(&out);
    return out;
}

void TamriskLink::Handle(const Bytes& p, Bytes* out) {
    if (p.size() < 2 || faults.silent) return;
    const uint8_t address = p[0], c = p[1];
    if (address != kComputerCommand && address != kOurCommand) return;
    const bool command = address == kComputerCommand;
    const bool pf = (c & P) != 0;
    ++frames_in;

    if ((c & 3) == 3) {  // U frames
        switch (c & ~P) {
        case SABM:
            if (!command) return;
            Reset();
            state_ = kConnected;
            ++sabms;
            Response(static_cast<uint8_t>(UA | (pf ? P : 0)), out);
            return;
        case DISC:
            if (!command) return;
            Response(static_cast<uint8_t>((state_ == kConnected ? UA : DM) | (pf ? P : 0)), out);
            Reset();
            state_ = kDisconnected;
            return;
        case UA:
            if (!command && state_ == kAwaitingUa) {
                Reset();
                state_ = kConnected;
            }
            return;
        case DM:
            if (!command) {
                Reset();
                state_ = kDisconnected;
            }
            return;
        case UI:
            received_ui.push_back(Bytes(p.begin() + 2, p.end()));
            return;
        case FRMR: {
            Bytes sabm = StartSabm();
            out->insert(out->end(), sabm.begin(), sabm.end());
            return;
        }
        default:
            if (state_ == kConnected) Reject(c, !command, 1, out);
            return;
        }
    }
    if (state_ != kConnected) return;
    const uint8_t nr = static_cast<uint8_t>(c >> 5);

    if ((c & 1) == 1) {  // S frames
        const uint8_t type = c & 0x0F;
        if (type != RR && type != RNR && type != REJ) {
            Reject(c, !command, 1, out);
            return;
        }
        if (p.size() != 2) {
            Reject(c, !command, 3, out);
            return;
        }
        if (!NrInRange(nr)) {
            Reject(c, !command, 8, out);
            return;
        }
        peer_busy_ = type == RNR;
        TakeAcks(nr);
        if (command && pf) Ack(true, out);
        const bool answers_poll = !command && pf && polling_;
        if (answers_poll) polling_ = false;
        // Go-back-N: everything from N(R) goes again, on a REJ and on the answer to our poll.
        if (type == REJ || (answers_poll && type == RR)) SendFrom(0, out);
        if (peer_busy_ && !t1_on_) {
            t1_on_ = true;
            t1_due_ = now_ + t1_ms;
        }
        return;
    }

    // I frames
    if (!command) return;
    if (!NrInRange(nr)) {
        Reject(c, false, 8, out);
        return;
    }
    TakeAcks(nr);
    const uint8_t ns = static_cast<uint8_t>((c >> 1) & 7);
    Bytes info(p.begin() + 2, p.end());
    if (faults.busy) {
        Ack(pf, out);  // RNR: taken nothing
        return;
    }
    if (ns == vr_) {
        Deliver(ns, info);
        rejecting_ = false;
        while (kept_used_[vr_]) {
            kept_used_[vr_] = false;
            Deliver(vr_, kept_[vr_]);
        }
        Ack(pf, out);
        return;
    }
    // N(S) is not the one expected: the frame is out of sequence, whether new after a gap or a
    // repeat of one taken. Its information is dropped (unless surely new and kept) and the first
    // one of a gap is answered with REJ N(R) = V(R); while the REJ is out, a poll gets RR.
    const int ahead = Mod8(ns - vr_);
    if (keep_out_of_sequence && ahead < 8 - computer_window && !kept_used_[ns]) {
        kept_[ns] = info;
        kept_used_[ns] = true;
    }
    if (!rejecting_) {
        rejecting_ = true;
        ++rejs_sent;
        Response(static_cast<uint8_t>(REJ | (pf ? P : 0) | vr_ << 5), out);
    } else if (pf) {
        Ack(true, out);
    }
}

Bytes TamriskLink::Tick(uint32_t now_ms) {
    now_ = now_ms;
    Bytes out;
    if (holding_out_) {
        holding_out_ = false;
        out = held_out_;
    }
    if (!t1_on_ || static_cast<int32_t>(now_ - t1_due_) < 0) return out;
    if (tries_ >= n200) {
        t1_on_ = false;
        if (state_ == kConnected) {
            Response(DM, &out);
            Reset();
        }
        state_ = kDisconnected;
        return out;
    }
    ++tries_;
    t1_due_ = now_ + t1_ms;
    if (state_ == kAwaitingUa) {
        Command(SABM | P, &out);
    } else if (state_ == kConnected && !unacked_.empty() && !peer_busy_) {
        // Go-back-N: every frame not acknowledged goes again, the last with P.
        ++t1_resends;
        SendFrom(0, &out, true);
        polling_ = true;
    } else if (state_ == kConnected && peer_busy_) {
        Command(static_cast<uint8_t>((faults.busy ? RNR : RR) | P | vr_ << 5), &out);
        polling_ = true;
    } else {
        t1_on_ = false;
    }
    return out;
}

Bytes TamriskLink::SendDm() {
    Bytes out;
    Response(DM, &out);
    Reset();
    state_ = kDisconnected;
    return out;
}

Bytes TamriskLink::SendUi(const Bytes& info) {
    Bytes out;
    Emit(kOurCommand, UI, info, &out);
    return out;
}

Bytes TamriskLink::StartSabm() {
    Bytes out;
    Reset();
    state_ = kAwaitingUa;
    Command(SABM | P, &out);
    t1_on_ = true;
    t1_due_ = now_ + t1_ms;
    return out;
}

Bytes TamriskLink::EndBusy() {
    faults.busy = false;
    Bytes out;
    Ack(false, &out);
    return out;
}

}  // namespace isdnsim
