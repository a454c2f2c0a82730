// The decisions of the last-call monitor, one poll of the port at a time, free of Windows: which
// state to report, when to read the modem's report of the last call, how many failed reads to
// try, and which period the next poll takes. The monitor (get_last_call.h) supplies the poll, the
// read, the clock and the reports; tests drive this directly with a host of their own.
#pragma once

#include <cstdint>

class LastCallWatch {
public:
    // States reported to the owner.
    enum State : int {
        kReading = 0,      // the last-call read is about to start
        kIdle = 1,         // the port is free and nothing is to be read
        kPortBusy = 2,     // another program holds the port
        kCallRead = 3,     // the last call was read
        kReadFailed = 6,   // the sixth read in a row failed
        kSlowPoll = 7,     // the first poll of a free port took more than a second
    };
    static constexpr int kReadAttempts = 6;

    class Host {
    public:
        virtual ~Host() = default;
        // Tells the owner about `state`; false when the owner did away with the monitor, which then
        // must not be touched again.
        virtual bool Report(int state) = 0;
        // Reads the modem's report of the last call: 0 on success.
        virtual int ReadLastCall() = 0;
        // While the port is busy: samples the driver's record of the call.
        virtual void SampleCall() = 0;
        virtual int64_t NowSeconds() = 0;
    };

    // What the poll found: whether the port is free, whether that changed with this poll, and the
    // clock (ms) before and after it (0 when unknown).
    struct Poll {
        bool free = true;
        bool changed = false;
        uint32_t before = 0, after = 0;
    };
    enum class Next {
        Keep,      // the timer keeps its period (a failed read, a slow first poll)
        Free,      // poll again after the free period
        Busy,      // poll again after the busy period
        Gone,      // the monitor was destroyed during the tick
    };

    Next Tick(const Poll& poll, Host& host);

    // Start of the monitor: a port that is busy now has its call start now.
    void StartedBusy(int64_t now) { m_CallStart = now; }

    int m_State = kIdle;  // before any report: free with nothing to read
    int m_FailedReads = kReadAttempts;  // the count starts full: a port never busy reads nothing
    bool m_SlowPollSeen = false;
    int64_t m_CallStart = 0;
    int64_t m_LastDuration = 0;  // seconds, of the last call read
};
