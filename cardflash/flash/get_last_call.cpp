#include "cardflash/flash/get_last_call.h"

#include <cstring>
#include <string>

#include "cardflash/flash/modem.h"

namespace {

CGetLastCall* g_current = nullptr;

constexpr UINT_PTR kTimerId = 1;
constexpr uint32_t k9xRegisterPort = 1, k9xRecord = 2, k9xRegisterDevice = 5;
constexpr uint32_t kNtRegisterPort = 0x222000, kNtCallCounters = 0x222004, kNtStatusWord = 0x222008;
constexpr DWORD kNtRecordFlag = 0x100;

bool SendText(drv::DriverHandle& driver, uint32_t code, const CString& text) {
    uint32_t n = 0;
    return driver.Control(code, text.c_str(), static_cast<uint32_t>(text.GetLength() + 1), nullptr, 0, &n);
}

}  // namespace

CGetLastCall* CGetLastCall::Current() { return g_current; }

CGetLastCall::CGetLastCall(CModem* modem, Callback callback, UINT busyPeriod, UINT idlePeriod, HWND owner)
    : m_Modem(modem), m_IdlePeriod(idlePeriod), m_BusyPeriod(busyPeriod), m_Owner(owner), m_Callback(callback) {
    g_current = this;
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    GetVersionExA(&v);
    m_Platform = v.dwPlatformId;
    RegisterWithDriver();
    m_Tapi = std::make_unique<CTapi>(TRUE);
    OpenMonitoredLine();
}

CGetLastCall::~CGetLastCall() {
    Stop();
    m_Driver.reset();
    if (m_MonitoredLine && m_Tapi) m_Tapi->CloseLineHandle(m_MonitoredLine);
    m_MonitoredLine = 0;
    m_Tapi.reset();
    m_Modem = nullptr;
    m_Callback = nullptr;
    if (g_current == this) g_current = nullptr;
}

void CGetLastCall::RegisterWithDriver() {
    drv::OpenRequest request;
    request.access = drv::win::kGenericRead | drv::win::kGenericWrite;
    request.disposition = drv::win::kOpenExisting;
    if (m_Platform == VER_PLATFORM_WIN32_WINDOWS) {
        request.path = "\\\\.\\Wendlow.vxd";
        request.attributes = drv::win::kFlagDeleteOnClose;
    } else if (m_Platform == VER_PLATFORM_WIN32_NT) {
        request.path = "\\\\.\\Wendlow";
        request.attributes = FILE_FLAG_NO_BUFFERING;
    } else {
        return;
    }
    m_Driver = drv::DriverAccess::Open(request);
    if (!m_Driver || !m_Modem) return;
    if (m_Platform == VER_PLATFORM_WIN32_WINDOWS) {
        SendText(*m_Driver, k9xRegisterPort, m_Modem->m_PortPath);
        SendText(*m_Driver, k9xRegisterDevice, m_Modem->m_DeviceDescription);
    } else {
        SendText(*m_Driver, kNtRegisterPort, m_Modem->m_PortPath);
    }
}

void CGetLastCall::OpenMonitoredLine() {
    if (!m_Tapi->Initialize(&CGetLastCall::LineNotify, CTapi::kModeDataModem) || !m_Modem) return;
    // TAPI lists the modem's line under the device description of its adapter.
    for (int row = 0; row < m_Tapi->m_LineCount; ++row) {
        if (m_Tapi->m_LineNames[row] != m_Modem->m_DeviceDescription) continue;
        DWORD line = 0;
        if (m_Tapi->OpenLine(m_Tapi->m_DeviceIds[row], &line, tapi::kPrivilegeMonitor, tapi::kMediaDataModem) == 0)
            m_MonitoredLine = line;
        break;
    }
}

BOOL CGetLastCall::Start() {
    if (m_TimerId) return FALSE;
    if (!m_Modem) {
        Stop();
        return FALSE;
    }
    // The port's state as the modem last saw it; the first poll asks again.
    if (m_Modem->m_PortState == CModem::kPortFree) {
        Arm(m_IdlePeriod);
    } else {
        m_Watch.StartedBusy(NowSeconds());
        Arm(m_BusyPeriod);
    }
    return m_TimerId != 0;
}

BOOL CGetLastCall::Stop() {
    if (m_TimerId) {
        if (!m_Owner)
            KillTimer(nullptr, m_TimerId);
        else if (IsWindow(m_Owner))
            KillTimer(m_Owner, m_TimerId);
    }
    m_TimerId = 0;
    return TRUE;
}

void CGetLastCall::Arm(UINT period) {
    // Setting a running timer again changes its period.
    UINT_PTR id = SetTimer(m_Owner, m_Owner ? kTimerId : m_TimerId, period, &CGetLastCall::TimerProc);
    m_TimerId = id;
}

VOID CALLBACK CGetLastCall::TimerProc(HWND, UINT, UINT_PTR, DWORD) {
    CGetLastCall* monitor = g_current;
    if (monitor && monitor->m_Modem && monitor->m_TimerId) monitor->OnTimer();
}

void CGetLastCall::OnTimer() {
    LastCallWatch::Poll poll;
    poll.before = GetTickCount();
    poll.free = m_Modem->IsPortFree() != 0;
    poll.after = GetTickCount();
    poll.changed = m_Modem->m_PortStateChanged != 0;
    LastCallWatch::Next next = m_Watch.Tick(poll, *this);
    if (next == LastCallWatch::Next::Gone) return;  // the owner did away with this monitor
    // A stop from inside a report holds: the poll does not start the timer again.
    if (!m_TimerId) return;
    if (next == LastCallWatch::Next::Free) Arm(m_IdlePeriod);
    if (next == LastCallWatch::Next::Busy) Arm(m_BusyPeriod);
}

bool CGetLastCall::Report(int state) {
    if (state == kCallRead && m_Modem) m_Modem->m_LastCallSeconds = static_cast<DWORD>(m_Watch.m_LastDuration);
    if (m_Callback) m_Callback();
    return g_current == this;
}

int CGetLastCall::ReadLastCall() { return m_Modem->ReadConfiguration(); }

void CGetLastCall::SampleCall() {
    std::memset(m_PortRecord, 0, sizeof(m_PortRecord));
    if (!m_Driver) return;
    uint32_t n = 0;
    if (m_Platform == VER_PLATFORM_WIN32_WINDOWS) {
        uint8_t record[12] = {};
        if (m_Driver->Control(k9xRecord, nullptr, 0, record, sizeof(record), &n) && n == sizeof(record))
            std::memcpy(m_PortRecord, record, sizeof(record));
        return;
    }
    if (m_Platform != VER_PLATFORM_WIN32_NT) return;
    uint32_t counters[6] = {};
    if (m_Driver->Control(kNtCallCounters, nullptr, 0, counters, sizeof(counters), &n) && n == sizeof(counters)) {
        m_PortRecord[1] = counters[0] != m_PreviousCounters[0] ? 1 : 0;
        m_PortRecord[2] = counters[1] != m_PreviousCounters[1] ? 1 : 0;
        m_PreviousCounters[0] = counters[0];
        m_PreviousCounters[1] = counters[1];
    } else {
        std::memset(m_PortRecord, 0, sizeof(m_PortRecord));
    }
    uint32_t status = 0;
    n = 0;
    if (m_Driver->Control(kNtStatusWord, nullptr, 0, &status, sizeof(status), &n) && n == sizeof(status))
        m_PortRecord[0] = status;
    else
        std::memset(m_PortRecord, 0, sizeof(m_PortRecord));
    m_PortRecord[0] |= kNtRecordFlag;
}

int64_t CGetLastCall::NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

void CGetLastCall::LineNotify(CTapi* source, const char* text, BOOL connected, DWORD call) {
    CGetLastCall* monitor = g_current;
    if (!monitor || !source) return;
    if (connected) {
        // A real buffer of the size TAPI is told.
        tapi::VarStruct info;
        if (source->GetCallInfo(call, info, tapi::callinfo::kMonitorSize) == 0)
            monitor->m_CallRate = info.Word(tapi::callinfo::kRate);
    } else {
        monitor->m_CallRate = 0;
    }
    if (text && std::strcmp(text, tapi::kTextLineIdle) == 0) source->DeallocateCall(call);
}
