// Millisecond timers that fire without the window thread's help: one periodic multimedia timer
// (timeSetEvent) drives a list of software countdown timers. Callbacks run on the multimedia
// timer's thread.
//
// A timer is named by a handle, not by its object: a one-shot timer goes back to the free list
// when it fires, and a handle kept by its holder then no longer names anything (it cannot cancel
// the timer that was handed to someone else). Callbacks are called outside the list's lock, so
// they may start, cancel and restart timers; a callback of a timer that is being cancelled on
// another thread at that moment may still run once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/tobject.h"

namespace portbridge {

class CMmTimer;
using MmTimerCallback = void (*)(CMmTimer* timer, uint32_t argument);

class CMmTimer : public CDoubleListNode {
public:
    CMmTimer() { setName("CMmTimer"); }
    // One tick: 1 keep it, 0 it fired and is done (a one-shot). fired() tells whether the
    // callback is due.
    virtual int tick();
    // Counts down from the reload again.
    virtual void restart() { countdown = reload; }

    uint32_t countdown = 0;
    uint32_t reload = 0;
    uint32_t argument = 0;
    uint32_t periodic = 0;
    MmTimerCallback callback = nullptr;

    bool takeFired() {
        const bool f = fired_;
        fired_ = false;
        return f;
    }
    uint32_t generation = 0;  // counts up each time the timer is freed

private:
    bool fired_ = false;
};

class CMmTimerList : public CDoubleList {
public:
    static constexpr unsigned kTimers = 10;
    static constexpr uint32_t kIdlePeriodMs = 50;

    CMmTimerList();
    ~CMmTimerList() override;
    // The one list of the process.
    static CMmTimerList& instance();

    // When running: 0 and nothing else (the first period stays). Else timeBeginPeriod and a
    // periodic multimedia timer of `period` ms; 0, or 1 when the timer cannot be had.
    virtual uint32_t start(uint32_t periodMs, uint32_t spare = 0);
    // Ends the multimedia timer and waits (at most 300 ms) until a tick in progress is done.
    // Refused (1) on the timer's own thread, where that wait could never end; else 0.
    virtual uint32_t stop();
    // When running: stop, then every timer is destroyed; the list is of no further use.
    void shutDown() override;

    // A timer of `ms` (whole periods, at least one). Its handle, or 0 when all 10 are in use.
    // A stopped multimedia timer is started again with its period.
    uint32_t startTimer(uint32_t ms, uint32_t argument, MmTimerCallback callback, bool periodic);
    // 1 when the handle named an active timer (now free, its callback cleared), else 0.
    uint32_t cancelTimer(uint32_t handle);
    // 1 when the handle named an active timer (its countdown starts again), else 0.
    uint32_t restartTimer(uint32_t handle);

    // One tick of every active timer, in list order; the multimedia timer calls it each period.
    // Tests call it by hand.
    void tickAll();
    // The period reloads are counted in (50 until started); tests set it without a timer.
    void setPeriod(uint32_t ms) { period_ = ms ? ms : 1; }
    uint32_t period() const { return period_; }
    bool running() const { return running_.load(); }
    unsigned freeTimers() { return static_cast<unsigned>(free_.getSize()); }

    // What the multimedia timer calls each period, on its own thread.
    void timerFired();

private:
    CMmTimer* resolve(uint32_t handle);
    void release(CMmTimer* t);

    std::recursive_mutex lock_;
    CDoubleList free_;
    CMmTimer timers_[kTimers];
    std::atomic<bool> running_{false};
    bool wasStarted_ = false;
    uint32_t period_ = kIdlePeriodMs;
    uint32_t id_ = 0;
    std::atomic<int> inTick_{0};
    std::atomic<std::thread::id> tickThread_{};
    bool destroyed_ = false;
};

}  // namespace portbridge
