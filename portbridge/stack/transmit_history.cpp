#include "portbridge/stack/transmit_history.h"

#include <cstring>

#include "common/le_bytes.h"

namespace stack {

namespace {
using le::get16;
using le::put16;
}  // namespace

bool capi::isDataB3Req(const uint8_t* data, size_t length) {
    // Application, command, message number, NCCI, data pointer, length and handle must be there.
    if (!data || length < kPrefix + 20) return false;
    const uint8_t* m = data + kPrefix;
    return m[4] == kDataB3 && (m[5] & 0x7F) == (kReq & 0x7F);
}

bool CTransmitHistory::add(const uint8_t* message, size_t available, uint32_t nowMs, const void* frame) {
    if (full() || !message || available < 20) return false;
    Slot& s = slots_[write_];
    // Only the message itself goes into the copy, never more than it says it is long.
    size_t length = get16(message);
    if (length < 20 || length > available) length = available;
    s.copied = length < kCopyBytes ? length : kCopyBytes;
    std::memcpy(s.copy, message, s.copied);
    // The data that follows the message is what the B channel carries.
    size_t dataBytes = get16(message + 16);
    const size_t follows = available > length ? available - length : 0;
    if (dataBytes > follows) dataBytes = follows;
    s.delay = static_cast<uint32_t>(dataBytes / 8);
    s.stamp = nowMs;
    s.frame = frame;
    s.sent = false;
    write_ = (write_ + 1) % kSlots;
    ++pending_;
    return true;
}

unsigned CTransmitHistory::find(const void* frame) const {
    if (!frame) return pending_;
    for (unsigned i = 0; i < pending_; ++i) {
        const Slot& s = slots_[(read_ + i) % kSlots];
        if (!s.sent && s.frame == frame) return i;
    }
    return pending_;
}

void CTransmitHistory::markSent(const void* frame) {
    const unsigned i = find(frame);
    if (i >= pending_) return;
    Slot& s = slots_[(read_ + i) % kSlots];
    s.sent = true;
    // The acknowledgement gave the buffer up: it may carry a later request while this slot waits
    // for its time, and must name that request's slot only.
    s.frame = nullptr;
}

bool CTransmitHistory::fail(const void* frame, uint16_t info, ConfirmFn fn, void* context) {
    const unsigned i = find(frame);
    if (i >= pending_) return false;
    uint8_t conf[kConfirmationBytes];
    const Slot& s = slots_[(read_ + i) % kSlots];
    makeConfirmation(s.copy, s.copied, info, conf);
    // The later slots move up one place, in order; their time stamps stay as they are.
    for (unsigned k = i; k + 1 < pending_; ++k) slots_[(read_ + k) % kSlots] = slots_[(read_ + k + 1) % kSlots];
    write_ = (write_ + kSlots - 1) % kSlots;
    --pending_;
    if (fn) fn(context, conf);
    return true;
}

unsigned CTransmitHistory::confirmDue(uint32_t nowMs, ConfirmFn fn, void* context) {
    unsigned n = 0;
    while (pending_ > 0) {
        Slot& s = slots_[read_];
        const bool due = static_cast<int32_t>(nowMs - s.stamp) >= static_cast<int32_t>(s.delay);
        if (!due || !s.sent) break;
        read_ = (read_ + 1) % kSlots;
        s.sent = false;
        s.frame = nullptr;
        --pending_;
        if (pending_ > 0) {
            // The B channel is busy with this one until its stamp plus its delay.
            Slot& next = slots_[read_];
            const uint32_t free = s.stamp + s.delay;
            if (static_cast<int32_t>(free - next.stamp) > 0) next.stamp = free;
        }
        uint8_t conf[kConfirmationBytes];
        makeConfirmation(s.copy, s.copied, 0, conf);
        if (fn) fn(context, conf);
        ++n;
    }
    return n;
}

unsigned CTransmitHistory::flush(uint16_t info, ConfirmFn fn, void* context) {
    unsigned n = 0;
    while (pending_ > 0) {
        Slot& s = slots_[read_];
        read_ = (read_ + 1) % kSlots;
        --pending_;
        uint8_t conf[kConfirmationBytes];
        makeConfirmation(s.copy, s.copied, s.sent ? 0 : info, conf);
        s.sent = false;
        s.frame = nullptr;
        if (fn) fn(context, conf);
        ++n;
    }
    clear();
    return n;
}

void CTransmitHistory::clear() { write_ = read_ = pending_ = 0; }

void CTransmitHistory::makeConfirmation(const uint8_t* request, size_t length, uint16_t info, uint8_t* out) {
    std::memset(out, 0, kConfirmationBytes);
    uint8_t* m = out + capi::kPrefix;
    put16(m, capi::kDataB3ConfLength);
    m[4] = capi::kDataB3;
    m[5] = capi::kConf;
    if (length >= 20) {
        std::memcpy(m + 2, request + 2, 2);   // application
        std::memcpy(m + 6, request + 6, 2);   // message number
        std::memcpy(m + 8, request + 8, 4);   // NCCI
        std::memcpy(m + 12, request + 18, 2);  // data handle
    }
    put16(m + 14, info);
}

}  // namespace stack
