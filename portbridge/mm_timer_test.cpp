// The timer list with a manual tick (one-shots, periodic timers, ten at most, handles that go
// stale, callbacks that start and cancel), one real multimedia-timer run with broad bounds, the
// worker thread and the module binding.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "portbridge/dll_binding.h"
#include "portbridge/mm_timer.h"
#include "portbridge/worker_thread.h"
#include "winetest/process.h"

namespace portbridge {
namespace {

struct Fired {
    std::vector<uint32_t> args;
    static void take(CMmTimer*, uint32_t arg) { log->args.push_back(arg); }
    static Fired* log;
};
Fired* Fired::log = nullptr;

class TimerList : public ::testing::Test {
protected:
    TimerList() {
        Fired::log = &fired;
        list.setPeriod(10);
    }
    // Ticks until `arg` fired; the tick it fired on (0: never within `limit`).
    unsigned ticksUntil(uint32_t arg, unsigned limit) {
        for (unsigned t = 1; t <= limit; ++t) {
            const size_t before = fired.args.size();
            list.tickAll();
            for (size_t i = before; i < fired.args.size(); ++i)
                if (fired.args[i] == arg) return t;
        }
        return 0;
    }
    Fired fired;
    CMmTimerList list;
};

TEST_F(TimerList, OneShotFiresOnceAndIsFreed) {
    ASSERT_NE(list.startTimer(3000, 7, &Fired::take, false), 0u);
    EXPECT_EQ(ticksUntil(7, 1000), 300u);
    for (int i = 0; i < 500; ++i) list.tickAll();
    EXPECT_EQ(fired.args, (std::vector<uint32_t>{7}));
    EXPECT_EQ(list.freeTimers(), 10u);
}

TEST_F(TimerList, PeriodicKeepsFiringAndShortTimesTakeOneTick) {
    ASSERT_NE(list.startTimer(30, 1, &Fired::take, true), 0u);
    ASSERT_NE(list.startTimer(5, 2, &Fired::take, false), 0u) << "shorter than a period";
    list.tickAll();
    EXPECT_EQ(fired.args, (std::vector<uint32_t>{2}));
    for (int i = 0; i < 8; ++i) list.tickAll();
    EXPECT_EQ(fired.args, (std::vector<uint32_t>{2, 1, 1, 1}));
}

TEST_F(TimerList, TenAtMostAndHandlesThatNoLongerNameTheirTimer) {
    uint32_t handles[10];
    for (uint32_t i = 0; i < 10; ++i) ASSERT_NE(handles[i] = list.startTimer(10, i, &Fired::take, false), 0u);
    EXPECT_EQ(list.startTimer(10, 99, &Fired::take, false), 0u);
    EXPECT_EQ(list.cancelTimer(0), 0u);
    EXPECT_EQ(list.restartTimer(0), 0u);
    EXPECT_EQ(list.cancelTimer(handles[0]), 1u);
    list.tickAll();  // the other nine fire and are freed
    EXPECT_EQ(fired.args.size(), 9u) << "a cancelled timer does not fire";
    // A one-shot that fired: its old handle must not cancel the timer someone else got since.
    const uint32_t other = list.startTimer(20, 50, &Fired::take, false);
    ASSERT_NE(other, 0u);
    for (uint32_t h : handles) EXPECT_EQ(list.cancelTimer(h), 0u);
    EXPECT_EQ(ticksUntil(50, 5), 2u);
}

// Callbacks run outside the list's lock: they may start and cancel timers.
TEST_F(TimerList, CallbacksMayStartAndCancelTimers) {
    static CMmTimerList* l;
    static uint32_t periodic;
    l = &list;
    periodic = list.startTimer(10, 1,
                               [](CMmTimer*, uint32_t) {
                                   l->startTimer(10, 2, &Fired::take, false);
                                   l->cancelTimer(periodic);
                               },
                               true);
    list.tickAll();
    list.tickAll();
    list.tickAll();
    EXPECT_EQ(fired.args, (std::vector<uint32_t>{2}));
}

// One real run: a 10 ms period; a second start keeps it. Broad bounds only.
TEST(MmTimer, RealPeriodicRun) {
    CMmTimerList list;
    ASSERT_EQ(list.start(10), 0u);
    EXPECT_EQ(list.start(20), 0u);
    EXPECT_EQ(list.period(), 10u);
    static std::atomic<int> ticks;
    static std::atomic<int> stopAnswer;
    static CMmTimerList* l;
    ticks = 0;
    stopAnswer = -1;
    l = &list;
    ASSERT_NE(list.startTimer(10, 0, [](CMmTimer*, uint32_t) { ++ticks; }, true), 0u);
    ASSERT_NE(list.startTimer(50, 0, [](CMmTimer*, uint32_t) { stopAnswer = static_cast<int>(l->stop()); }, false), 0u);
    Sleep(500);
    EXPECT_EQ(stopAnswer.load(), 1) << "stop from a timer callback is refused";
    EXPECT_TRUE(list.running());
    const int seen = ticks.load();
    EXPECT_GE(seen, 10);
    EXPECT_LE(seen, 80);
    EXPECT_EQ(list.stop(), 0u);
    const int after = ticks.load();
    Sleep(100);
    EXPECT_EQ(ticks.load(), after) << "no tick after stop";
    // A timer started after the stop brings the multimedia timer back.
    ASSERT_NE(list.startTimer(10, 0, [](CMmTimer*, uint32_t) { ++ticks; }, false), 0u);
    for (int i = 0; i < 200 && ticks.load() == after; ++i) Sleep(10);
    EXPECT_GT(ticks.load(), after);
    EXPECT_TRUE(list.running());
}

TEST(WorkerThread, RunsOnceForEveryWakeUp) {
    static std::atomic<int> calls;
    calls = 0;
    {
        TWorkerThread w;
        ASSERT_EQ(w.create([](void*) { ++calls; }, nullptr), 0u);
        EXPECT_EQ(w.create([](void*) {}, nullptr), kThreadExists);
        for (int i = 0; i < 3; ++i) w.wake();
        for (int i = 0; i < 500 && calls.load() < 3; ++i) Sleep(2);
        EXPECT_EQ(calls.load(), 3);
        EXPECT_EQ(w.rounds(), 3u);
    }
    EXPECT_EQ(calls.load(), 3) << "ending the thread runs no further round";
}

TEST(DllBinding, LoadsEntryPointsAndCountsMisses) {
    CDllBinding d;
    EXPECT_NE(d.load("no_such_module_here.dll"), 0u) << "the system error";
    EXPECT_FALSE(d.loaded());
    EXPECT_EQ(d.entryPoint("GetTickCount"), nullptr);
    EXPECT_EQ(d.missing(), 0u);
    ASSERT_EQ(d.load("kernel32.dll"), 0u);
    EXPECT_NE(d.entryPoint("GetTickCount"), nullptr);
    EXPECT_EQ(d.entryPoint("NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(d.missing(), 1u);
    EXPECT_EQ(d.captureDebugOutput(nullptr), 0) << "kernel32 has no debugCaptureOutput";
    EXPECT_EQ(d.missing(), 1u);
    const std::string module = winetest::ProgramFolder() + "\\..\\common\\common_dll_module.dll";
    ASSERT_EQ(d.load(module.c_str()), 0u);
    EXPECT_EQ(d.captureDebugOutput(nullptr), 1);
    d.unload();
    EXPECT_FALSE(d.loaded());
}

}  // namespace
}  // namespace portbridge
