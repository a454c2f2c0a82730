#include "cardflash/flash/last_call_watch.h"

LastCallWatch::Next LastCallWatch::Tick(const Poll& poll, Host& host) {
    if (!poll.free) {
        if (poll.changed) m_CallStart = host.NowSeconds();
        host.SampleCall();
        m_State = kPortBusy;
        return host.Report(m_State) ? Next::Busy : Next::Gone;
    }

    if (poll.changed || m_FailedReads < kReadAttempts) {
        if (poll.changed) m_FailedReads = 0;
        m_State = kReading;
        if (!host.Report(m_State)) return Next::Gone;
        if (host.ReadLastCall() != 0) {
            const bool last = m_FailedReads == kReadAttempts - 1;
            ++m_FailedReads;
            if (last) {
                m_State = kReadFailed;
                if (!host.Report(m_State)) return Next::Gone;
            }
            return Next::Keep;  // tried again at the same period
        }
        m_FailedReads = kReadAttempts;
        // Without a busy spell seen there is no start to count from.
        int64_t d = m_CallStart ? host.NowSeconds() - m_CallStart : 0;
        m_LastDuration = d > 0 ? d : 0;
        m_State = kCallRead;
        if (!host.Report(m_State)) return Next::Gone;
    }

    if (!m_SlowPollSeen && poll.before != 0 && poll.after != 0 && poll.after - poll.before > 1000 &&
        m_State != kReading && m_State != kCallRead) {
        m_SlowPollSeen = true;
        m_State = kSlowPoll;
        if (!host.Report(m_State)) return Next::Gone;
        m_State = kIdle;
        return Next::Keep;
    }
    m_SlowPollSeen = true;
    m_State = kIdle;
    return host.Report(m_State) ? Next::Free : Next::Gone;
}
