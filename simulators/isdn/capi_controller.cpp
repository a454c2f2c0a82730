#include "simulators/isdn/capi_controller.h"

#include <algorithm>
#include <cstring>

#include "common/le_bytes.h"

namespace isdnsim {

namespace {

constexpr size_t kPrefix = 2, kHeader = 8;
constexpr uint16_t kFirstSinceStart = 0x4E4B;  // "KN": the provider has just started
constexpr uint16_t kIdentityClass = 0x1007;
constexpr size_t kRecordSize = 148;
constexpr uint8_t kMaxCalls = 8;
constexpr size_t kMaxDataPerBlock = 2048;

// Info and reason values.
enum : uint16_t {
    kOk = 0,
    kUnknownCommand = 0x1102,
    kUnknownApplication = 0x1101,
    kNotInThisState = 0x2001,
    kIllegalId = 0x2002,
    kNoPlci = 0x2003,
    kNoNcci = 0x2004,
    kAnotherApplicationGotTheCall = 0x3304,
};

void Put16(Bytes* b, uint16_t v) {
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes* b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
}
void PutStruct(Bytes* b, const Bytes& contents) {
    b->push_back(static_cast<uint8_t>(contents.size()));
    b->insert(b->end(), contents.begin(), contents.end());
}
Bytes Number(const std::string& digits, bool presentation) {
    Bytes b{0x81};
    if (presentation) b.push_back(0x80);
    b.insert(b.end(), digits.begin(), digits.end());
    return b;
}
void PutText(Bytes* b, const std::string& text, size_t field) {
    Bytes f(field, 0);
    std::memcpy(f.data(), text.data(), std::min(text.size(), field));
    b->insert(b->end(), f.begin(), f.end());
}

}  // namespace

Bytes CapiIdentity::DefaultProfile() {
    Bytes p;
    Put16(&p, 1);           // controllers
    Put16(&p, 2);           // B channels
    Put32(&p, 0x00000001);  // global options: internal controller
    Put32(&p, 0x00000003);  // B1: 64 kbit/s HDLC, transparent
    Put32(&p, 0x00000003);  // B2: X.75, transparent
    Put32(&p, 0x00000001);  // B3: transparent
    p.resize(64, 0);
    return p;
}

Bytes CapiIdentity::Record() const {
    Bytes r;
    Put16(&r, major);
    Put16(&r, minor);
    r.insert(r.end(), kept, kept + 8);
    PutText(&r, manufacturer, 64);
    Bytes p = profile.empty() ? DefaultProfile() : profile;
    p.resize(64, 0);
    r.insert(r.end(), p.begin(), p.end());
    PutText(&r, serial, 8);
    return r;
}

void CapiController::Receive(const Bytes& info, uint32_t now_ms) {
    now_ = now_ms;
    if (info.size() < kPrefix + kHeader) {
        ++counters.malformed;
        return;
    }
    const uint8_t* m = info.data() + kPrefix;
    const size_t available = info.size() - kPrefix;
    const size_t length = le::get16(m);
    if (length < kHeader || length > available) {
        ++counters.malformed;
        return;
    }
    const uint16_t word = WordOf(m);
    ++counters.messages_in;
    ++counters.in[word];
    batch_.clear();
    Handle(m, length, m + length, available - length);
    if (knobs.no_reply.count(word)) {
        batch_.clear();
        return;
    }
    auto late = knobs.late_ms.find(word);
    for (Bytes& b : batch_) {
        if (late != knobs.late_ms.end())
            late_.push_back({now_ + late->second, std::move(b)});
        else
            out_.push_back(std::move(b));
    }
    batch_.clear();
}

void CapiController::Tick(uint32_t now_ms) {
    now_ = now_ms;
    // Late answers leave in the order they were held back.
    auto due = [&](const Timed& t) { return static_cast<int32_t>(now_ - t.due) >= 0; };
    for (auto it = late_.begin(); it != late_.end();) {
        if (due(*it)) {
            out_.push_back(std::move(it->info));
            it = late_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& entry : calls_) Pump(entry.second);
    out_.insert(out_.end(), batch_.begin(), batch_.end());
    batch_.clear();
}

std::vector<Bytes> CapiController::TakeOutput() {
    std::vector<Bytes> out;
    out.swap(out_);
    for (const Bytes& b : out) {
        ++counters.messages_out;
        ++counters.out[le::get16(b.data() + kPrefix + 4)];
    }
    return out;
}

void CapiController::LinkDown() {
    calls_.clear();
    late_.clear();
    out_.clear();
    batch_.clear();
}

size_t CapiController::ConnectedB3() const {
    size_t n = 0;
    for (const auto& c : calls_) n += c.second.b3 == kB3Active;
    return n;
}

bool CapiController::Capi11(uint16_t app) const {
    auto it = apps_.find(app);
    return it != apps_.end() && it->second.capi11;
}

uint16_t CapiController::WordOf(const uint8_t* m) const {
    const uint16_t word = le::get16(m + 4);
    // An application of CAPI 1.1 codes its messages with bit 7 of the subcommand clear; the
    // provider's own messages (bit 6) say the version themselves.
    if ((m[5] & 0x40) == 0 && Capi11(le::get16(m + 2))) return static_cast<uint16_t>(word | 0x8000);
    return word;
}

uint16_t CapiController::NextNumber() {
    message_number_ = static_cast<uint16_t>(message_number_ + 1);
    return message_number_;
}

void CapiController::Emit(uint16_t app, uint16_t word, uint16_t number, const Bytes& params, const Bytes& extra) {
    Bytes b = {0, 0};
    Put16(&b, static_cast<uint16_t>(kHeader + params.size()));
    Put16(&b, app);
    // Answers in the application's own coding.
    Put16(&b, (word & 0x4000) == 0 && Capi11(app) ? static_cast<uint16_t>(word & 0x7FFF) : word);
    Put16(&b, number);
    b.insert(b.end(), params.begin(), params.end());
    b.insert(b.end(), extra.begin(), extra.end());
    batch_.push_back(std::move(b));
}

void CapiController::Indicate(uint16_t app, uint16_t word, const Bytes& params, const Bytes& extra) {
    Emit(app, word, NextNumber(), params, extra);
}

void CapiController::Confirm(uint16_t app, uint16_t word, uint16_t number, uint32_t id, uint16_t info) {
    Bytes p;
    Put32(&p, id);
    Put16(&p, info);
    Emit(app, static_cast<uint16_t>(word | 0x0100), number, p);
}

CapiController::Call* CapiController::FindCall(uint32_t id, uint16_t app) {
    if ((id & 0x7F) != 1) return nullptr;
    auto it = calls_.find(static_cast<uint8_t>(id >> 8));
    if (it == calls_.end()) return nullptr;
    Call& c = it->second;
    if (c.app != app && !c.offered_to.count(app) && !c.owe_resp.count(app)) return nullptr;
    return &c;
}

void CapiController::Forget(uint8_t number) { calls_.erase(number); }

void CapiController::Handle(const uint8_t* m, size_t length, const uint8_t* extra, size_t extra_size) {
    const uint16_t app = le::get16(m + 2);
    const uint16_t word = WordOf(m);
    const uint16_t number = le::get16(m + 6);
    const uint8_t sub = m[5];

    if ((sub & 0x40) != 0) {  // the provider's own messages
        const uint8_t command = m[4];
        if ((command == 0x01 && length < 16) || (command == 0xFF && length < 18)) {
            ++counters.malformed;
        } else if (command == 0x01 && (sub & 0x03) == 0) {
            if (le::get16(m + 14) == kFirstSinceStart) {
                // A new provider run: whatever an earlier one left registered is gone.
                apps_.clear();
                calls_.clear();
                ++counters.fresh_starts;
            }
            CapiRegistration r;
            r.max_connections = le::get16(m + 8);
            r.max_b3_blocks = le::get16(m + 10);
            r.max_b3_length = le::get16(m + 12);
            r.capi11 = (sub & 0x80) == 0;
            apps_[app] = r;
            ++counters.registrations;
            Bytes p;
            Put16(&p, kOk);
            Emit(app, static_cast<uint16_t>(command | (sub | 1) << 8), number, p);
        } else if (command == 0x02 && (sub & 0x03) == 0) {
            const bool known = apps_.erase(app) != 0;
            for (auto it = calls_.begin(); it != calls_.end();) {
                it->second.offered_to.erase(app);
                it = it->second.app == app ? calls_.erase(it) : std::next(it);
            }
            ++counters.releases;
            Bytes p;
            Put16(&p, known ? kOk : kUnknownApplication);
            Emit(app, static_cast<uint16_t>(command | (sub | 1) << 8), number, p);
        } else if (command == 0xFF && (sub & 0x03) == 0 && std::memcmp(m + 12, "kolv", 4) == 0 &&
                   le::get16(m + 16) == kIdentityClass) {
            // Asked also without a registered application, before the first one.
            ++counters.identity_requests;
            Bytes p(m + 8, m + 18);  // port, "kolv", class
            Put16(&p, kOk);
            Bytes record = knobs.identity.Record();
            record.resize(std::min(knobs.identity_record_bytes, kRecordSize));
            p.insert(p.end(), record.begin(), record.end());
            Emit(app, static_cast<uint16_t>(command | (sub | 1) << 8), number, p);
        } else {
            ++counters.unknown;
        }
        return;
    }
    if (!apps_.count(app)) {
        ++counters.unregistered;
        return;
    }
    if ((sub & 0x03) == 0)
        Request(word, m, length, extra, extra_size);
    else if ((sub & 0x03) == 3)
        Response(word, m, length);
    else
        ++counters.unexpected;
}

void CapiController::Request(uint16_t word, const uint8_t* m, size_t length, const uint8_t* extra,
                             size_t extra_size) {
    const uint16_t app = le::get16(m + 2), number = le::get16(m + 6);
    if (length < 12) {
        ++counters.malformed;
        return;
    }
    const uint32_t id = le::get32(m + 8);
    CapiRegistration& reg = apps_[app];
    switch (word) {
    case kWordListenReq:
        if (length < 24) break;
        if ((id & 0x7F) != 1) return Confirm(app, word, number, id, kIllegalId);
        reg.cip_mask = le::get32(m + 16);
        return Confirm(app, word, number, id, kOk);

    case kWordConnectReq: {
        if (length < 14) break;
        if ((id & 0x7F) != 1) return Confirm(app, word, number, id, kIllegalId);
        uint8_t n = 1;
        while (n <= kMaxCalls && calls_.count(n)) ++n;
        if (n > kMaxCalls) return Confirm(app, word, number, id, kNoPlci);
        Call& c = calls_[n];
        c.app = app;
        c.number = n;
        c.outgoing = true;
        Confirm(app, word, number, c.plci(), kOk);
        if (knobs.answer_reason) {
            Disconnected(c, knobs.answer_reason);
            return;
        }
        // The far end answers at once; it is connected as the number that was called.
        std::string called;
        if (length >= 15 && m[14] >= 1 && 15u + m[14] <= length)
            called.assign(reinterpret_cast<const char*>(m + 16), m[14] - 1u);
        c.state = kActive;
        Bytes p;
        Put32(&p, c.plci());
        PutStruct(&p, Number(called, true));
        PutStruct(&p, {});
        PutStruct(&p, {});
        Indicate(app, 0x8203, p);
        return;
    }

    case kWordDisconnectReq: {
        Call* c = FindCall(id, app);
        if (!c || c->app != app || c->state == kDisconnected) return Confirm(app, word, number, id, kIllegalId);
        Confirm(app, word, number, id, kOk);
        Clear(*c, 0);
        return;
    }

    case kWordConnectB3Req: {
        Call* c = FindCall(id, app);
        if (!c || c->app != app) return Confirm(app, word, number, id, kIllegalId);
        if (c->state != kActive) return Confirm(app, word, number, id, kNotInThisState);
        if (c->b3 != kB3None) return Confirm(app, word, number, id, kNoNcci);
        c->b3 = kB3Active;
        c->next_handle = 0;
        c->unanswered.clear();
        Confirm(app, word, number, c->ncci(), kOk);
        Bytes p;
        Put32(&p, c->ncci());
        PutStruct(&p, {});
        Indicate(app, 0x8283, p);
        return;
    }

    case kWordDisconnectB3Req: {
        Call* c = FindCall(id, app);
        if (!c || c->app != app || id != c->ncci() || c->b3 == kB3None)
            return Confirm(app, word, number, id, kIllegalId);
        Confirm(app, word, number, id, kOk);
        c->b3 = kB3Clearing;
        c->to_send.clear();
        Bytes p;
        Put32(&p, c->ncci());
        Put16(&p, 0);
        PutStruct(&p, {});
        Indicate(app, 0x8284, p);
        return;
    }

    case kWordDataB3Req: {
        if (length < 22) break;
        const uint16_t size = le::get16(m + 16);
        Call* c = FindCall(id, app);
        if (!c || c->app != app || id != c->ncci() || c->b3 != kB3Active || size > extra_size) {
            ++counters.unexpected;
            return;
        }
        data_in.insert(data_in.end(), extra, extra + size);
        counters.data_bytes_in += size;
        if (knobs.data_mode == DataMode::kEcho && size) {
            c->to_send.emplace_back(extra, extra + size);
            Pump(*c);
        }
        return;
    }

    case kWordManufacturerReq: {
        if (length < 18) break;
        Bytes p(m + 8, m + 18);  // controller, manufacturer, function
        Put16(&p, kOk);
        Emit(app, 0x81FF, number, p);
        return;
    }

    case kWordFacilityReq: {
        if (length < 14) break;
        Bytes p;
        Put32(&p, id);
        Put16(&p, kOk);
        Put16(&p, le::get16(m + 12));  // the selector
        PutStruct(&p, {});
        Emit(app, 0x8180, number, p);
        return;
    }

    case kWordAlertReq:
    case kWordInfoReq:
    case kWordSelectBReq:
    case kWordResetB3Req:
        return Confirm(app, word, number, id, kOk);

    default:
        ++counters.unknown;
        return Confirm(app, word, number, id, kUnknownCommand);
    }
    ++counters.malformed;
}

void CapiController::Response(uint16_t word, const uint8_t* m, size_t length) {
    const uint16_t app = le::get16(m + 2);
    if (length < 12) {
        ++counters.malformed;
        return;
    }
    const uint32_t id = le::get32(m + 8);
    Call* c = FindCall(id, app);
    switch (word) {
    case 0x8302: {  // CONNECT_RESP
        if (length < 14 || !c || c->state != kOffered || !c->offered_to.count(app)) break;
        const uint16_t reject = le::get16(m + 12);
        c->offered_to.erase(app);
        if (reject == 1) {  // ignore: the others may still answer
            if (c->offered_to.empty()) {
                c->state = kDisconnected;
                if (c->owe_resp.empty()) Forget(c->number);
            }
            return;
        }
        if (reject != 0) {
            DisconnectInd(*c, app, 0);
            if (c->offered_to.empty()) c->state = kDisconnected;
            return;
        }
        // Taken: the others learn that somebody else got the call.
        for (uint16_t other : c->offered_to) DisconnectInd(*c, other, kAnotherApplicationGotTheCall);
        c->offered_to.clear();
        c->app = app;
        c->state = kActive;
        Bytes p;
        Put32(&p, c->plci());
        PutStruct(&p, {});
        PutStruct(&p, {});
        PutStruct(&p, {});
        Indicate(app, 0x8203, p);
        return;
    }
    case 0x8303:  // CONNECT_ACTIVE_RESP: on an incoming call the far end opens the B3 connection
        if (!c || c->app != app) break;
        if (!c->outgoing && c->state == kActive && c->b3 == kB3None) {
            c->b3 = kB3Offered;
            Bytes p;
            Put32(&p, c->ncci());
            PutStruct(&p, {});
            Indicate(app, 0x8282, p);
        }
        return;
    case 0x8382: {  // CONNECT_B3_RESP
        if (length < 14 || !c || c->app != app || id != c->ncci() || c->b3 != kB3Offered) break;
        Bytes p;
        Put32(&p, c->ncci());
        if (le::get16(m + 12) != 0) {
            c->b3 = kB3Clearing;
            Put16(&p, 0);
            PutStruct(&p, {});
            Indicate(app, 0x8284, p);
            return;
        }
        c->b3 = kB3Active;
        c->next_handle = 0;
        c->unanswered.clear();
        PutStruct(&p, {});
        Indicate(app, 0x8283, p);
        return;
    }
    case 0x8383:  // CONNECT_B3_ACTIVE_RESP
    case 0x8388:
        if (!c || c->app != app) break;
        return;
    case 0x8384:  // DISCONNECT_B3_RESP
        if (!c || c->app != app || c->b3 != kB3Clearing) break;
        c->b3 = kB3None;
        if (c->state == kClearing) Disconnected(*c, c->reason);
        return;
    case 0x8304:  // DISCONNECT_RESP
        if (!c || !c->owe_resp.erase(app)) break;
        if (c->state == kDisconnected && c->owe_resp.empty()) Forget(c->number);
        return;
    case 0x8386: {  // DATA_B3_RESP
        if (length < 14 || !c || c->app != app || id != c->ncci() || !c->unanswered.erase(le::get16(m + 12))) break;
        Pump(*c);
        return;
    }
    case 0x8307:
    case 0x8308:  // INFO_RESP
    case 0x8380:  // FACILITY_RESP
    case 0x8387:  // RESET_B3_RESP
    case 0x83FF:  // MANUFACTURER_RESP
        return;
    default:
        break;
    }
    ++counters.unexpected;
}

void CapiController::Clear(Call& c, uint16_t reason) {
    c.to_send.clear();
    data_timed_ = false;  // the block that was coming is gone
    if (c.b3 == kB3Active || c.b3 == kB3Offered) {
        c.state = kClearing;
        c.reason = reason;
        c.b3 = kB3Clearing;
        Bytes p;
        Put32(&p, c.ncci());
        Put16(&p, 0);
        PutStruct(&p, {});
        Indicate(c.app, 0x8284, p);
        return;
    }
    if (c.b3 == kB3Clearing) {
        c.state = kClearing;  // the DISCONNECT_IND follows its DISCONNECT_B3_RESP
        c.reason = reason;
        return;
    }
    Disconnected(c, reason);
}

void CapiController::Disconnected(Call& c, uint16_t reason) {
    c.state = kDisconnected;
    DisconnectInd(c, c.app, reason);
}

void CapiController::DisconnectInd(Call& c, uint16_t app, uint16_t reason) {
    Bytes p;
    Put32(&p, c.plci());
    Put16(&p, reason);
    Emit(app, 0x8204, NextNumber(), p);
    c.owe_resp.insert(app);
}

namespace {
constexpr int32_t kChannelCatchUpMs = 60;
}  // namespace

void CapiController::Pump(Call& c) {
    auto reg = apps_.find(c.app);
    if (reg == apps_.end() || c.b3 != kB3Active) return;
    const size_t block = std::min<size_t>(reg->second.max_b3_length, kMaxDataPerBlock);
    while (!c.to_send.empty() && block && c.unanswered.size() < reg->second.max_b3_blocks) {
        const unsigned rate = knobs.b_channel_bytes_per_second;
        Bytes& front = c.to_send.front();
        const size_t n = std::min(block, front.size());
        if (rate) {
            // A block reaches the adapter when its last byte has come over the B channel: it
            // starts when the one before it has come, or now on a channel idle for longer than a
            // turn of the serving loop (a B channel keeps sending while data waits).
            if (!data_timed_) {
                if (static_cast<int32_t>(now_ - data_due_) > kChannelCatchUpMs) data_due_ = now_;
                data_due_ += static_cast<uint32_t>((n * 1000 + rate - 1) / rate);
                data_timed_ = true;
            }
            if (static_cast<int32_t>(now_ - data_due_) < 0) return;
            data_timed_ = false;
        }
        Bytes payload(front.begin(), front.begin() + static_cast<long>(n));
        front.erase(front.begin(), front.begin() + static_cast<long>(n));
        if (front.empty()) c.to_send.pop_front();

        const uint16_t handle = c.next_handle++;
        // The adapter names where the data lies relative to 32 bytes into the message: just
        // behind the 22-byte message, 10 bytes before that point.
        uint32_t field = static_cast<uint32_t>(-10);
        int length = static_cast<int>(n);
        OddData& odd = knobs.odd_data;
        if (odd.count) {
            --odd.count;
            if (odd.set_data_field) field = odd.data_field;
            length += odd.length_delta;
        }
        Bytes p;
        Put32(&p, c.ncci());
        Put32(&p, field);
        Put16(&p, static_cast<uint16_t>(length));
        Put16(&p, handle);
        Put16(&p, 0);
        Indicate(c.app, 0x8286, p, payload);
        c.unanswered.insert(handle);
        counters.max_unanswered = std::max<unsigned>(counters.max_unanswered, static_cast<unsigned>(c.unanswered.size()));
        counters.data_bytes_out += n;
    }
}

bool CapiController::IncomingCall(const std::string& calling, const std::string& called, uint16_t cip) {
    std::set<uint16_t> listeners;
    for (const auto& a : apps_) {
        const uint32_t mask = a.second.cip_mask;
        if ((mask & 1) || (cip < 32 && (mask >> cip & 1))) listeners.insert(a.first);
    }
    if (listeners.empty()) return false;
    uint8_t n = 1;
    while (n <= kMaxCalls && calls_.count(n)) ++n;
    if (n > kMaxCalls) return false;
    Call& c = calls_[n];
    c.number = n;
    c.app = *listeners.begin();
    c.offered_to = listeners;
    for (uint16_t app : listeners) {
        Bytes p;
        Put32(&p, c.plci());
        Put16(&p, cip);
        PutStruct(&p, Number(called, false));
        PutStruct(&p, Number(calling, true));
        for (int i = 0; i < 6; ++i) PutStruct(&p, {});  // subaddresses, BC, LLC, HLC, additional info
        Indicate(app, 0x8202, p);
    }
    out_.insert(out_.end(), batch_.begin(), batch_.end());
    batch_.clear();
    return true;
}

unsigned CapiController::RemoteHangup(uint16_t reason) {
    unsigned n = 0;
    for (auto it = calls_.begin(); it != calls_.end();) {
        Call& c = it->second;
        if (c.state == kOffered) {
            // Given up before anybody answered.
            for (uint16_t app : c.offered_to) DisconnectInd(c, app, reason);
            c.offered_to.clear();
            c.state = kDisconnected;
            ++n;
        } else if (c.state == kActive) {
            Clear(c, reason);
            ++n;
        }
        ++it;
    }
    out_.insert(out_.end(), batch_.begin(), batch_.end());
    batch_.clear();
    return n;
}

bool CapiController::SendData(const Bytes& data) {
    for (auto& entry : calls_) {
        Call& c = entry.second;
        if (c.b3 != kB3Active) continue;
        if (!data.empty()) c.to_send.push_back(data);
        Pump(c);
        out_.insert(out_.end(), batch_.begin(), batch_.end());
        batch_.clear();
        return true;
    }
    return false;
}

}  // namespace isdnsim
