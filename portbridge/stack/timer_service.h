// The timer service (task 66): one-shot timers by message. A task sends a start request (240);
// when its time is up the same 20 bytes come back with the id 243. Timers wait in three delta lists
// (10 ms, 50 ms and 1 s units) or in the list of suspended timers; a 10 ms tick drives them.
//
// The tick runs on another thread than the requests: both edit the lists only under the runtime
// lock.
#pragma once

#include <cstdint>

#include "portbridge/stack/runtime_message.h"

namespace stack {

enum TimerMessage : uint16_t {
    kTimerStatusRequest = 234,
    kTimerStatusReply = 235,
    kTimerStart = 240,
    kTimerStop = 241,
    kTimerRestart = 242,
    kTimerExpiry = 243,
    kTimerResume = 244,
    kTimerSuspend = 245,
    kTimerBind = 252,
    kRegisterService = 253,
};

enum TimerClass : uint8_t { kTimer10ms = 0, kTimer50ms = 1, kTimer1s = 2 };

// A timer request: number and instance chosen by the requester, class, duration in its units.
RuntimeMessage timerRequest(uint16_t id, uint8_t number, uint8_t instance, uint8_t timerClass, uint16_t duration);

// The task's init function (a TaskInit): creates its queue, registers the serial task's service
// with layer management, and clears the lists. 1 when started.
uint32_t timerServiceInit(void* instance, uint32_t address);

// Every 10 ms, from the multimedia-timer thread.
void timerTick();

// For tests: timers waiting per list (0, 1, 2 the classes, 3 suspended), free nodes.
struct TimerCounts {
    unsigned lists[4];
    unsigned freeNodes;
};
TimerCounts timerCounts();

constexpr unsigned kTimerNodes = 64;

}  // namespace stack
