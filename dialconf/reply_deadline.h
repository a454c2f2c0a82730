// The wait for the adapter's reply to one AT command: the time the caller gave the whole
// transaction, and one more second after every piece of the reply, but never less than the
// caller gave. Times are milliseconds of a clock that wraps (the tick count), so they compare by
// difference: the wrap after 49 days ends no wait early.
#pragma once

#include <cstdint>

class ReplyDeadline {
public:
    static constexpr uint32_t kPieceMs = 1000;

    ReplyDeadline(uint32_t now, int timeout_s) : deadline_(now + static_cast<uint32_t>(timeout_s) * 1000u) {}

    // A piece of the reply arrived at `now`.
    void Piece(uint32_t now) {
        const uint32_t later = now + kPieceMs;
        if (static_cast<int32_t>(later - deadline_) > 0) deadline_ = later;
    }
    bool Passed(uint32_t now) const { return static_cast<int32_t>(now - deadline_) >= 0; }

private:
    uint32_t deadline_;
};
