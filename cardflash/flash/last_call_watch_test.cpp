// The last-call monitor's decisions over a host of the test's own: the reports of each poll in
// order, the one read after a busy spell, six failed reads, the slow first poll, and a monitor
// that its owner does away with during a report.
#include "cardflash/flash/last_call_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Next = LastCallWatch::Next;

class FakeHost : public LastCallWatch::Host {
public:
    bool Report(int state) override {
        reports.push_back(state);
        return state != goneOn;
    }
    int ReadLastCall() override {
        ++reads;
        return readResult;
    }
    void SampleCall() override { ++samples; }
    int64_t NowSeconds() override { return now; }

    std::vector<int> Take() {
        std::vector<int> r;
        r.swap(reports);
        return r;
    }

    std::vector<int> reports;
    int reads = 0, samples = 0, readResult = 0, goneOn = -1;
    int64_t now = 1000;
};

LastCallWatch::Poll Free(bool changed = false, uint32_t ms = 5) { return {true, changed, 100, 100 + ms}; }
LastCallWatch::Poll Busy(bool changed = false) { return {false, changed, 100, 105}; }

TEST(LastCallWatch, APortNeverBusyReadsNothing) {
    LastCallWatch w;
    FakeHost h;
    EXPECT_EQ(w.Tick(Free(), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{1}));
    EXPECT_EQ(h.reads, 0);
}

TEST(LastCallWatch, AfterABusySpellOneReadWithItsDuration) {
    LastCallWatch w;
    FakeHost h;
    EXPECT_EQ(w.Tick(Busy(true), h), Next::Busy);  // the call starts now
    h.now += 40;
    EXPECT_EQ(w.Tick(Busy(), h), Next::Busy);
    EXPECT_EQ(h.samples, 2);
    EXPECT_EQ(h.Take(), (std::vector<int>{2, 2}));
    h.now += 25;
    EXPECT_EQ(w.Tick(Free(true), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{0, 3, 1}));  // all in the same tick
    EXPECT_EQ(h.reads, 1);
    EXPECT_EQ(w.m_LastDuration, 65);
    EXPECT_EQ(w.Tick(Free(), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{1}));
    EXPECT_EQ(h.reads, 1);
}

TEST(LastCallWatch, SixFailedReadsReportOnceAndThenRest) {
    LastCallWatch w;
    FakeHost h;
    h.readResult = 20;
    for (int spell = 0; spell < 2; ++spell) {
        SCOPED_TRACE(spell);
        h.reads = 0;
        w.Tick(Busy(true), h);
        h.Take();
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(w.Tick(Free(i == 0), h), Next::Keep);
            EXPECT_EQ(h.Take(), (std::vector<int>{0}));
        }
        EXPECT_EQ(w.Tick(Free(), h), Next::Keep);
        EXPECT_EQ(h.Take(), (std::vector<int>{0, 6}));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(w.Tick(Free(), h), Next::Free);
            EXPECT_EQ(h.Take(), (std::vector<int>{1}));
        }
        EXPECT_EQ(h.reads, 6);
    }
    // Failures, then a read that works: the count is full again.
    w.Tick(Busy(true), h);
    w.Tick(Free(true), h);
    h.readResult = 0;
    h.Take();
    EXPECT_EQ(w.Tick(Free(), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(w.Tick(Free(), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{1}));
}

TEST(LastCallWatch, OnlyTheFirstFreePollCanBeSlow) {
    struct Case {
        const char* what;
        uint32_t ms;
        std::vector<int> first;
        Next next;
    } cases[] = {
        {"slow", 1500, {7}, Next::Keep},
        {"one second is not slow", 1000, {1}, Next::Free},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LastCallWatch w;
        FakeHost h;
        EXPECT_EQ(w.Tick(Free(false, c.ms), h), c.next);
        EXPECT_EQ(h.Take(), c.first);
        EXPECT_EQ(w.m_State, 1);
        EXPECT_EQ(w.Tick(Free(false, 5000), h), Next::Free);  // later polls may be slow
        EXPECT_EQ(h.Take(), (std::vector<int>{1}));
    }
    // A slow poll that ended a call reads it and is not reported as slow.
    LastCallWatch w;
    FakeHost h;
    w.Tick(Busy(true), h);
    h.Take();
    EXPECT_EQ(w.Tick(Free(true, 3000), h), Next::Free);
    EXPECT_EQ(h.Take(), (std::vector<int>{0, 3, 1}));
    // No clock: never slow.
    LastCallWatch w2;
    EXPECT_EQ(w2.Tick({true, false, 0, 5000}, h), Next::Free);
}

TEST(LastCallWatch, AnOwnerThatEndsTheMonitorEndsTheTick) {
    for (int gone : {0, 3, 2, 1}) {
        SCOPED_TRACE(gone);
        LastCallWatch w;
        FakeHost h;
        w.Tick(Busy(true), h);
        h.Take();
        h.goneOn = gone;
        Next n = gone == 2 ? w.Tick(Busy(), h) : w.Tick(Free(true), h);
        EXPECT_EQ(n, Next::Gone);
        ASSERT_FALSE(h.reports.empty());
        EXPECT_EQ(h.reports.back(), gone);  // nothing after the report that ended it
        EXPECT_EQ(h.reads, gone == 0 || gone == 2 ? 0 : 1);
    }
}

TEST(LastCallWatch, NoBusySpellSeenGivesNoDuration) {
    LastCallWatch w;
    FakeHost h;
    h.now = 1700000000;
    w.Tick(Free(true), h);  // the port was thought busy before the monitor saw any of it
    EXPECT_EQ(h.reads, 1);
    EXPECT_EQ(w.m_LastDuration, 0);
}

}  // namespace
