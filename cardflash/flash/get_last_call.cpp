#include "cardflash/flash/get_last_call.h"

namespace {
CGetLastCall* g_current = nullptr;
}

CGetLastCall* CGetLastCall::Current() { return g_current; }

CGetLastCall::CGetLastCall(CModem* modem, Callback callback, UINT busyPeriod, UINT idlePeriod)
    : m_Modem(modem), m_Callback(callback), m_IdlePeriod(idlePeriod), m_BusyPeriod(busyPeriod) {
    g_current = this;
}

CGetLastCall::~CGetLastCall() {
    Stop();
    if (g_current == this) g_current = nullptr;
}

BOOL CGetLastCall::Start() {
    if (m_Running) return FALSE;
    if (!m_Modem) {
        Stop();
        return FALSE;
    }
    m_Running = TRUE;
    return TRUE;
}

BOOL CGetLastCall::Stop() {
    m_Running = FALSE;
    return TRUE;
}
