// The last-call monitor: watches one modem's COM port from a timer on the thread that created it.
// While another program (a dial-up connection, a fax program) holds the port it samples the
// port-manager driver's record of the call; once the port is free again it reads the modem's
// report of the last call and the call's duration. It tells its owner about every change of its
// state through a callback without arguments; the owner then reads the state and the other
// values from the monitor. It also opens the modem's TAPI line for monitoring, to learn the data
// rate of calls.
//
// One monitor exists at a time; the timer reaches it through Current(). The timer's messages
// arrive while the thread dispatches messages (the program's dialogs do).
#pragma once

#include <windows.h>

#include <ctime>
#include <memory>

#include "cardflash/flash/last_call_watch.h"
#include "cardflash/flash/tapi.h"
#include "cardflash/inventory/driver_access.h"

class CModem;

class CGetLastCall : private LastCallWatch::Host {
public:
    using Callback = void (*)();

    // States reported through the callback.
    enum State : int {
        kReading = LastCallWatch::kReading,
        kIdle = LastCallWatch::kIdle,
        kPortBusy = LastCallWatch::kPortBusy,
        kCallRead = LastCallWatch::kCallRead,
        kReadFailed = LastCallWatch::kReadFailed,
        kSlowPoll = LastCallWatch::kSlowPoll,
    };

    // `busyPeriod` and `idlePeriod` (ms): how often the port is polled while another program
    // holds it and while it is free. `owner`: the window whose timer polls (timer 1); without
    // one the timer belongs to the calling thread.
    CGetLastCall(CModem* modem, Callback callback, UINT busyPeriod, UINT idlePeriod, HWND owner = nullptr);
    virtual ~CGetLastCall();
    CGetLastCall(const CGetLastCall&) = delete;
    CGetLastCall& operator=(const CGetLastCall&) = delete;

    // FALSE when it already runs or has no modem (it is then stopped); TRUE once started.
    BOOL Start();
    // Ends the polls; a stop from inside a report ends them after that poll.
    BOOL Stop();
    BOOL IsRunning() const { return m_TimerId != 0; }

    int GetState() const { return m_Watch.m_State; }
    CModem* GetModem() const { return m_Modem; }
    UINT BusyPeriod() const { return m_BusyPeriod; }
    UINT IdlePeriod() const { return m_IdlePeriod; }
    // The driver's record while the port is busy: on Windows 9x its 12 bytes as they come; on
    // Windows NT the status word (with bit 0x100 set) and two flags, 1 when the first or second
    // call counter changed since the previous sample.
    DWORD PortRecord(int index) const { return index >= 0 && index < 3 ? m_PortRecord[index] : 0; }
    // The data rate of the current call from TAPI; 0 when unknown.
    DWORD CallRate() const { return m_CallRate; }
    // When the port was last seen turning busy (seconds, as time()).
    std::time_t CallStart() const { return static_cast<std::time_t>(m_Watch.m_CallStart); }
    DWORD MonitoredLine() const { return m_MonitoredLine; }
    CTapi* Line() const { return m_Tapi.get(); }

    // The one monitor of the process (null when none exists).
    static CGetLastCall* Current();

private:
    static VOID CALLBACK TimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
    static void LineNotify(CTapi* source, const char* text, BOOL connected, DWORD call);
    void OnTimer();
    void Arm(UINT period);
    void RegisterWithDriver();
    void OpenMonitoredLine();

    bool Report(int state) override;
    int ReadLastCall() override;
    void SampleCall() override;
    int64_t NowSeconds() override;

    LastCallWatch m_Watch;
    CModem* m_Modem;
    DWORD m_PortRecord[3] = {};
    DWORD m_CallRate = 0;
    UINT_PTR m_TimerId = 0;
    UINT m_IdlePeriod;
    UINT m_BusyPeriod;
    HWND m_Owner;
    Callback m_Callback;
    std::unique_ptr<drv::DriverHandle> m_Driver;
    DWORD m_Platform = 0;
    std::unique_ptr<CTapi> m_Tapi;
    DWORD m_MonitoredLine = 0;
    DWORD m_PreviousCounters[2] = {};  // Windows NT: the first two call counters of the last sample
};
