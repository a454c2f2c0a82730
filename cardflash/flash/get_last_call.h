// The last-call monitor: watches one modem's COM port while another program (a dial-up
// connection, a fax program) holds it, and once the port is free again reads the modem's report
// of the last call. It tells its owner about every change of its state through a callback
// without arguments; the owner then reads the state from the monitor.
//
// What exists so far is the monitor as its owner holds it: built for a modem with its callback and
// periods, started, stopped, asked whether it runs and for its state. The port watching itself
// (the window timer, the port-manager driver's call record, the TAPI line) is not built yet, so a
// started monitor reports nothing.
#pragma once

#include <windows.h>

class CModem;

class CGetLastCall {
public:
    using Callback = void (*)();

    // States reported through the callback.
    enum State : int {
        kReading = 0,      // the last-call read is about to start
        kIdle = 1,         // the port is free and nothing is to be read
        kPortBusy = 2,     // another program holds the port
        kCallRead = 3,     // the last call was read
        kReadFailed = 6,   // the sixth read in a row failed
        kSlowPoll = 7,     // the first poll of a free port took more than a second
    };

    // `busyPeriod` and `idlePeriod` (ms): how often the port is polled while another program
    // holds it and while it is free.
    CGetLastCall(CModem* modem, Callback callback, UINT busyPeriod, UINT idlePeriod);
    virtual ~CGetLastCall();
    CGetLastCall(const CGetLastCall&) = delete;
    CGetLastCall& operator=(const CGetLastCall&) = delete;

    // FALSE when it already runs or has no modem (it is then stopped); TRUE once started.
    BOOL Start();
    BOOL Stop();
    BOOL IsRunning() const { return m_Running; }

    int GetState() const { return m_State; }
    CModem* GetModem() const { return m_Modem; }
    UINT BusyPeriod() const { return m_BusyPeriod; }
    UINT IdlePeriod() const { return m_IdlePeriod; }

    // The one monitor of the process (null when none exists).
    static CGetLastCall* Current();

private:
    // Nothing has been seen before the first poll: the port counts as free with nothing to read.
    int m_State = kIdle;
    CModem* m_Modem;
    Callback m_Callback;
    UINT m_IdlePeriod;
    UINT m_BusyPeriod;
    BOOL m_Running = FALSE;
};
