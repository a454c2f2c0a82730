#include "portbridge/mm_timer.h"

#include <windows.h>
#include <mmsystem.h>

#include <chrono>

#include "common/debug.h"

namespace portbridge {

namespace {
constexpr uint32_t kStopWaitMs = 300;
constexpr uint32_t kDebugTimerClass = 0x08000000;
}  // namespace

int CMmTimer::tick() {
    const uint32_t before = countdown;
    countdown = before - 1;
    if (before != 1) return 1;
    fired_ = true;
    if (periodic) {
        restart();
        return 1;
    }
    return 0;
}

CMmTimerList::CMmTimerList() {
    setName("CMmTimerList");
    for (CMmTimer& t : timers_) free_.appendNodeInterlocked(&t);
}

CMmTimerList::~CMmTimerList() {
    if (!destroyed_) shutDown();
}

CMmTimerList& CMmTimerList::instance() {
    static CMmTimerList list;
    return list;
}

void CMmTimerList::timerFired() {
    tickThread_ = std::this_thread::get_id();
    ++inTick_;
    if (running_) tickAll();
    --inTick_;
}

namespace {
void CALLBACK timerEntry(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<CMmTimerList*>(user)->timerFired();
}
}  // namespace

uint32_t CMmTimerList::start(uint32_t periodMs, uint32_t) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (running_) return 0;
    if (!periodMs) periodMs = 1;
    timeBeginPeriod(periodMs);
    const MMRESULT id = timeSetEvent(periodMs, periodMs, &timerEntry, reinterpret_cast<DWORD_PTR>(this),
                                     TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    if (!id) {
        timeEndPeriod(periodMs);
        debugPrint(kDebugTimerClass, "no multimedia timer of %u ms", static_cast<unsigned>(periodMs));
        return 1;
    }
    period_ = periodMs;
    id_ = id;
    wasStarted_ = true;
    running_ = true;
    return 0;
}

uint32_t CMmTimerList::stop() {
    if (std::this_thread::get_id() == tickThread_.load() && inTick_.load() > 0) {
        debugPrint(kDebugTimerClass, "timer service: stop from a timer callback refused");
        return 1;
    }
    uint32_t id;
    {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        if (!running_) return 0;
        running_ = false;
        id = id_;
        id_ = 0;
    }
    timeKillEvent(id);
    timeEndPeriod(period_);
    // A tick in progress finishes before the timers go away.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (inTick_.load() > 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    return 0;
}

void CMmTimerList::shutDown() {
    if (running_) stop();
    std::lock_guard<std::recursive_mutex> hold(lock_);
    while (CDoubleListNode* n = removeNodeInterlocked()) static_cast<CMmTimer*>(n)->callback = nullptr;
    while (free_.removeNodeInterlocked()) {
    }
    destroyed_ = true;
}

CMmTimer* CMmTimerList::resolve(uint32_t handle) {
    const uint32_t index = (handle & 0xFF) - 1;
    if (!handle || index >= kTimers) return nullptr;
    CMmTimer* t = &timers_[index];
    if (t->generation != (handle >> 8) || !isValid(t)) return nullptr;
    return t;
}

void CMmTimerList::release(CMmTimer* t) {
    removeNodeInterlocked(t);
    t->callback = nullptr;
    ++t->generation;
    free_.appendNodeInterlocked(t);
}

uint32_t CMmTimerList::startTimer(uint32_t ms, uint32_t argument, MmTimerCallback callback, bool periodic) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (destroyed_) return 0;
    CMmTimer* t = static_cast<CMmTimer*>(free_.removeNodeInterlocked());
    if (!t) return 0;
    // A time shorter than one period still takes one tick.
    t->reload = ms / period_;
    if (t->reload == 0) t->reload = 1;
    t->argument = argument;
    t->callback = callback;
    t->periodic = periodic ? 1 : 0;
    t->countdown = t->reload;
    t->takeFired();
    appendNodeInterlocked(t);
    if (!running_ && wasStarted_) start(period_);
    return static_cast<uint32_t>(t - timers_) + 1 + (t->generation << 8);
}

uint32_t CMmTimerList::cancelTimer(uint32_t handle) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    CMmTimer* t = resolve(handle);
    if (!t) return 0;
    release(t);
    return 1;
}

uint32_t CMmTimerList::restartTimer(uint32_t handle) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    CMmTimer* t = resolve(handle);
    if (!t) return 0;
    t->restart();
    return 1;
}

void CMmTimerList::tickAll() {
    struct Due {
        MmTimerCallback callback;
        CMmTimer* timer;
        uint32_t argument;
    } due[kTimers];
    unsigned n = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        CDoubleListNode* node = head();
        while (node) {
            CMmTimer* t = static_cast<CMmTimer*>(node);
            node = node->next();
            const int keep = t->tick();
            if (t->takeFired() && t->callback && n < kTimers) due[n++] = Due{t->callback, t, t->argument};
            if (!keep) release(t);
        }
    }
    for (unsigned i = 0; i < n; ++i) due[i].callback(due[i].timer, due[i].argument);
}

}  // namespace portbridge
