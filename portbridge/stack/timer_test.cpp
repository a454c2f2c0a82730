#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "portbridge/stack/stack_test_support.h"
#include "portbridge/stack/timer_service.h"

namespace stack {
namespace {

using testing::RecordingTask;
using testing::StackRig;

constexpr uint32_t kRequester = 0x1A5;

class Timers : public ::testing::Test {
protected:
    Timers() : requester(rig.rt, kRequester) {}
    void send(uint16_t id, uint8_t number, uint8_t cls, uint16_t duration, uint8_t instance = 0) {
        RuntimeMessage m = timerRequest(id, number, instance, cls, duration);
        m.put32(15, 0xC0DE0000u | number);
        ASSERT_EQ(rig.rt.sendFrom(kRequester, m), kOk);
        rig.step();
    }
    // Ticks until `ticks` have passed, noting at which tick each timer number expired.
    std::vector<std::pair<unsigned, uint8_t>> run(unsigned ticks) {
        std::vector<std::pair<unsigned, uint8_t>> out;
        for (unsigned t = 1; t <= ticks; ++t) {
            rig.tick();
            for (const RuntimeMessage& m : requester.take()) {
                EXPECT_EQ(m.id(), kTimerExpiry);
                EXPECT_EQ(m.address(), static_cast<uint32_t>(kTimerTask)) << "from the timer task";
                EXPECT_EQ(m.u32(15), 0xC0DE0000u | m.u8(6)) << "the requester's bytes come back";
                out.push_back({t, m.u8(6)});
            }
        }
        return out;
    }
    StackRig rig;
    RecordingTask requester;
};

TEST_F(Timers, InsertionAndExpiry) {
    struct Start {
        uint8_t number, cls;
        uint16_t duration;
    };
    struct Case {
        const char* what;
        std::vector<Start> starts;
        unsigned ticks;
        std::vector<std::pair<unsigned, uint8_t>> expiries;  // (tick, timer number) in order
    } cases[] = {
        {"one", {{1, 0, 3}}, 5, {{3, 1}}},
        {"shorter after longer", {{1, 0, 5}, {2, 0, 2}}, 6, {{2, 2}, {5, 1}}},
        {"longer after shorter", {{1, 0, 2}, {2, 0, 5}, {3, 0, 3}}, 6, {{2, 1}, {3, 3}, {5, 2}}},
        // Equal to the untouched head: the new one goes first; behind the head, after its equals.
        {"equal durations", {{1, 0, 4}, {2, 0, 4}}, 5, {{4, 2}, {4, 1}}},
        {"equal behind the head", {{1, 0, 2}, {2, 0, 4}, {3, 0, 4}}, 5, {{2, 1}, {4, 2}, {4, 3}}},
        {"50 ms units", {{1, 1, 2}, {2, 0, 3}}, 12, {{3, 2}, {10, 1}}},
        {"a second", {{1, 2, 1}}, 101, {{100, 1}}},
    };
    for (const Case& c : cases) {
        for (const Start& s : c.starts) send(kTimerStart, s.number, s.cls, s.duration);
        EXPECT_EQ(run(c.ticks), c.expiries) << c.what;
        EXPECT_EQ(timerCounts().freeNodes, kTimerNodes) << c.what;
        // The next case starts on a fresh second.
        while (timerCounts().freeNodes != kTimerNodes) rig.tick();
        send(kTimerStart, 9, 2, 1);
        for (int i = 0; i < 100 && requester.got.empty(); ++i) rig.tick();
        requester.take();
    }
}

TEST_F(Timers, ZeroDurationComesBackAtOnce) {
    send(kTimerStart, 4, 0, 0);
    ASSERT_EQ(requester.got.size(), 1u);
    EXPECT_EQ(requester.got[0].id(), kTimerExpiry);
    EXPECT_EQ(requester.got[0].u32(15), 0xC0DE0004u);
    EXPECT_EQ(timerCounts().freeNodes, kTimerNodes);
}

TEST_F(Timers, StopKeepsTheOthersOnTime) {
    send(kTimerStart, 1, 0, 5);
    send(kTimerStart, 2, 0, 8);
    send(kTimerStart, 3, 0, 8, 1);  // same number, other instance
    run(2);
    send(kTimerStop, 1, 0, 0);
    send(kTimerStop, 7, 0, 0);  // unknown: nothing
    auto expiries = run(8);
    EXPECT_EQ(expiries, (std::vector<std::pair<unsigned, uint8_t>>{{6, 2}, {6, 3}}));
    send(kTimerStart, 1, 0, 3);
    send(kTimerRestart, 1, 0, 6);
    EXPECT_EQ(run(7), (std::vector<std::pair<unsigned, uint8_t>>{{6, 1}}));
}

TEST_F(Timers, SuspendAndResume) {
    send(kTimerStart, 1, 0, 10);
    send(kTimerStart, 2, 0, 12);
    run(4);
    send(kTimerSuspend, 1, 0, 0);
    EXPECT_EQ(timerCounts().lists[3], 1u);
    EXPECT_EQ(run(20), (std::vector<std::pair<unsigned, uint8_t>>{{8, 2}})) << "the other keeps its time";
    send(kTimerResume, 1, 0, 0);
    EXPECT_EQ(run(7), (std::vector<std::pair<unsigned, uint8_t>>{{6, 1}})) << "six ticks were left";
    // Stop finds a suspended timer too.
    send(kTimerStart, 3, 0, 5);
    send(kTimerSuspend, 3, 0, 0);
    send(kTimerStop, 3, 0, 0);
    EXPECT_EQ(timerCounts().freeNodes, kTimerNodes);
}

TEST_F(Timers, The65thTimerIsDropped) {
    const unsigned before = lastAssertion().count;
    for (unsigned i = 0; i < 65; ++i) send(kTimerStart, static_cast<uint8_t>(i), 0, 3);
    EXPECT_EQ(lastAssertion().count, before + 1);
    // 64 expiries in one tick need more message nodes than there are: the rest follow as nodes
    // come free, none is lost.
    auto expiries = run(10);
    EXPECT_EQ(expiries.size(), 64u);
    EXPECT_EQ(expiries.front().first, 3u);
    EXPECT_GT(expiries.back().first, 3u);
    EXPECT_EQ(timerCounts().freeNodes, kTimerNodes);
}

TEST_F(Timers, StatusAndBind) {
    RuntimeMessage status(kTimerStatusRequest, kTimerTask);
    rig.rt.sendFrom(kRequester, status);
    RuntimeMessage bind(kTimerBind, kTimerTask);
    bind.put32(6, kRequester);
    rig.rt.sendFrom(kRequester, bind);
    RuntimeMessage bound(kTimerBind, kTimerTask);
    bound.put32(6, kRequester | 0x30000);  // service bits 3: nothing
    rig.rt.sendFrom(kRequester, bound);
    rig.step();
    ASSERT_EQ(requester.got.size(), 2u);
    EXPECT_EQ(requester.got[0].id(), kTimerStatusReply);
    EXPECT_EQ(requester.got[0].u16(14), 2);
    EXPECT_EQ(requester.got[1].id(), 265);
    EXPECT_EQ(requester.got[1].address(), (kRequester & ~0xFFu) | kTimerTask);
    // The timer task registered the serial task's service at its start.
    ASSERT_EQ(rig.layerManagement().registrations.size(), 1u);
    EXPECT_EQ(rig.layerManagement().registrations[0].u8(6), kSerialTask);
    EXPECT_EQ(rig.layerManagement().registrations[0].u8(7), 3);
}

// The tick on its own thread while the runtime thread starts and stops timers: no timer expires
// more often than it was started, every one that is left running expires exactly once, and no
// node is lost.
TEST_F(Timers, TickThreadRacingStartsAndStops) {
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            timerTick();
            std::this_thread::yield();
        }
    });
    std::map<uint8_t, int> starts, expiries;
    auto collect = [&] {
        for (const RuntimeMessage& m : requester.take()) ++expiries[m.u8(6)];
    };
    for (unsigned round = 0; round < 300; ++round) {
        uint8_t number = static_cast<uint8_t>(round % 20);
        send(kTimerRestart, number, 0, static_cast<uint16_t>(1 + round % 5));
        ++starts[number];
        if (round % 4 == 0) send(kTimerStop, number, 0, 0);
        collect();
    }
    for (uint8_t n = 100; n < 130; ++n) send(kTimerStart, n, 0, static_cast<uint16_t>(1 + n % 4));
    for (long spins = 0; spins < 50000000 && timerCounts().freeNodes != kTimerNodes; ++spins) {
        rig.step();
        std::this_thread::yield();
    }
    stop = true;
    ticker.join();
    rig.step();
    collect();
    for (const auto& e : expiries) {
        if (e.first < 100) {
            EXPECT_LE(e.second, starts[e.first]) << int(e.first);
        }
    }
    for (uint8_t n = 100; n < 130; ++n) EXPECT_EQ(expiries[n], 1) << int(n);
    EXPECT_EQ(timerCounts().freeNodes, kTimerNodes);
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(timerCounts().lists[i], 0u);
}

}  // namespace
}  // namespace stack
