#include "cardflash/flash/modem.h"

#include <wbemcli.h>

#include <algorithm>
#include <cstring>

#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/driver_access.h"

namespace {

CStringTableTexts g_ProgramTexts;

// The process-wide objects, created at first use and destroyed in reverse order at the end.
struct ProcessObjects {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    CRITICAL_SECTION portCount;
    int openPorts = 0;
    HANDLE portMutex = CreateMutexA(nullptr, FALSE, nullptr);
    ProcessObjects() { InitializeCriticalSection(&portCount); }
    ~ProcessObjects() {
        CloseHandle(portMutex);
        DeleteCriticalSection(&portCount);
        CloseHandle(semaphore);
    }
};

ProcessObjects& Process() {
    static ProcessObjects objects;
    return objects;
}

struct WindowsVersion {
    bool nt = false;
    DWORD major = 0;
};

WindowsVersion CurrentVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    WindowsVersion v;
    if (GetVersionExA(&info)) {
        v.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        v.major = info.dwMajorVersion;
    }
    return v;
}

}  // namespace

HANDLE CModemProcess::OperationSemaphore() { return Process().semaphore; }
HANDLE CModemProcess::PortMutex() { return Process().portMutex; }

int CModemProcess::OpenPorts() {
    ProcessObjects& p = Process();
    EnterCriticalSection(&p.portCount);
    int n = p.openPorts;
    LeaveCriticalSection(&p.portCount);
    return n;
}

void CModemProcess::AddOpenPorts(int delta) {
    ProcessObjects& p = Process();
    EnterCriticalSection(&p.portCount);
    p.openPorts += delta;
    LeaveCriticalSection(&p.portCount);
}

// Holds the modem lock for one scope.
class CModem::Lock {
public:
    explicit Lock(HANDLE mutex) : m_(mutex) { WaitForSingleObject(m_, INFINITE); }
    ~Lock() { ReleaseMutex(m_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    HANDLE m_;
};

CModem::CModem() : m_Strings(&g_ProgramTexts) {
    m_ModemLock = CreateMutexA(nullptr, FALSE, nullptr);
    m_LineType = TableText(*m_Strings, kStrLineUnknown);
    Process();  // the process-wide objects exist before any modem uses them
}

CModem::~CModem() {
    InterlockedExchange(&m_Closing, 1);
    while (PendingOperations() > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(100);
    }
    if (m_Port != INVALID_HANDLE_VALUE && m_Port != nullptr) {
        // Whatever count is left, the port goes with the modem.
        {
            Lock lock(m_ModemLock);
            m_OpenCount = 1;
            m_CloseWhenIdle = 0;
        }
        ClosePort();
    }
    if (m_Wmi) m_Wmi->Release();
    SysFreeString(m_CommInfoPath);
    SysFreeString(m_PerformancePath);
    CloseHandle(m_ModemLock);
}

CString CModem::Command(int index) const { return m_AtCommands.GetAt(index); }

int CModem::AttachCard(const CCardInfo* card, const CString& port) {
    CString instanceName;
    if (card) {
        m_CardDescription = card->m_PnPID;
        m_PortPath = CString("\\\\.\\") + (port.IsEmpty() ? card->m_ModemComPort : port);
        m_DeviceDescription = card->m_ModemDesc;
        // WMI knows the port by the modem function's device, not the card's other function.
        instanceName = card->m_MFCard ? card->m_ModemInstancePath : card->m_PnPID;
    } else {
        m_CardDescription.Empty();
        m_DeviceDescription.Empty();
        m_PortPath = CString("\\\\.\\") + port;
    }
    m_Port = INVALID_HANDLE_VALUE;
    m_CommandSet = 0;
    m_AtCommands.RemoveAll();
    if (!LoadAtCommands(*m_Strings, m_CommandSet, m_AtCommands)) return kModemNoCommand;

    WindowsVersion v = CurrentVersion();
    if (v.nt && v.major > 4 && !instanceName.IsEmpty()) ConnectWmi(instanceName);

    m_PortState = IsPortFree() ? kPortFree : kPortBusy;
    m_PortStateChanged = 0;
    return kModemOk;
}

void CModem::ConnectWmi(const CString& instanceName) {
    if (m_Wmi) {
        m_Wmi->Release();
        m_Wmi = nullptr;
    }
    IWbemLocator* locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator))) ||
        !locator)
        return;
    BSTR ns = SysAllocString(L"root\\wmi");
    IWbemServices* services = nullptr;
    HRESULT hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(ns);
    if (SUCCEEDED(hr) && services) {
        m_Wmi = services;
        CString name = instanceName;
        name.Replace("\\", "\\\\");
        name += "_0";
        auto path = [&](const char* cls) {
            CString text = CString(cls) + ".InstanceName=\"" + name + "\"";
            int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
            std::vector<wchar_t> wide(n > 0 ? n : 1);
            MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
            return SysAllocString(wide.data());
        };
        SysFreeString(m_CommInfoPath);
        SysFreeString(m_PerformancePath);
        m_CommInfoPath = path("MSSerial_CommInfo");
        m_PerformancePath = path("MSSerial_PerformanceInformation");
    }
    locator->Release();
}

void CModem::FreePortProperties() {
    std::free(m_PortProperties);
    m_PortProperties = nullptr;
}

BOOL CModem::OpenPort() {
    {
        Lock lock(m_ModemLock);
        ++m_OpenCount;
        if (m_OpenCount != 1 || m_CloseWhenIdle) return TRUE;
    }
    CModemProcess::AddOpenPorts(1);
    HANDLE h = CreateFileA(m_PortPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_LastError = GetLastError();
        m_Port = INVALID_HANDLE_VALUE;
        {
            Lock lock(m_ModemLock);
            m_OpenCount = 0;
        }
        CModemProcess::AddOpenPorts(-1);
        return FALSE;
    }
    m_Port = h;

    // The driver tells the size of its properties block; a block smaller than the structure (Wine
    // reports a packet length of 1) is never taken at its word.
    bool ok = true;
    COMMPROP probe{};
    probe.wPacketLength = sizeof(COMMPROP);
    if (!GetCommProperties(h, &probe)) ok = false;
    if (ok) {
        size_t size = std::max<size_t>(probe.wPacketLength, sizeof(COMMPROP));
        m_PortProperties = static_cast<COMMPROP*>(std::calloc(1, size));
        if (!m_PortProperties) ok = false;
        if (ok) {
            m_PortProperties->wPacketLength = static_cast<WORD>(std::min<size_t>(size, 0xFFFF));
            ok = GetCommProperties(h, m_PortProperties) != 0;
        }
    }
    if (ok) {
        m_PortSettings.DCBlength = sizeof(DCB);
        ok = GetCommState(h, &m_PortSettings) != 0;
    }
    if (ok) {
        m_PortSettings.BaudRate = CBR_19200;
        m_PortSettings.ByteSize = 8;
        m_PortSettings.Parity = NOPARITY;
        m_PortSettings.StopBits = ONESTOPBIT;
        ok = SetCommState(h, &m_PortSettings) != 0;
    }
    COMMTIMEOUTS t{};
    if (ok) ok = GetCommTimeouts(h, &t) != 0;
    if (ok) {
        t.ReadIntervalTimeout = 20;
        t.ReadTotalTimeoutMultiplier = 10;
        t.ReadTotalTimeoutConstant = 300;
        t.WriteTotalTimeoutMultiplier = 10;
        t.WriteTotalTimeoutConstant = 100;
        ok = SetCommTimeouts(h, &t) != 0;
    }
    if (!ok) {
        m_LastError = GetLastError();
        CloseHandle(h);
        m_Port = INVALID_HANDLE_VALUE;
        FreePortProperties();
        {
            Lock lock(m_ModemLock);
            m_OpenCount = 0;
        }
        CModemProcess::AddOpenPorts(-1);
        return FALSE;
    }
    DetectIsdnAddOn(nullptr);
    return TRUE;
}

BOOL CModem::ClosePort() {
    HANDLE h;
    COMMPROP* properties;
    {
        Lock lock(m_ModemLock);
        // A close without an open would drive the count below zero and close a port that a later
        // open still counts on.
        if (m_OpenCount <= 0) return FALSE;
        if (--m_OpenCount > 0) return TRUE;
        if (m_Pending > 0) {
            ++m_OpenCount;
            m_CloseWhenIdle = 1;
            return TRUE;
        }
        TakePort(&h, &properties);
    }
    ReleasePort(h, properties);
    return TRUE;
}

void CModem::TakePort(HANDLE* port, COMMPROP** properties) {
    *port = m_Port;
    *properties = m_PortProperties;
    m_Port = INVALID_HANDLE_VALUE;
    m_PortProperties = nullptr;
}

void CModem::ReleasePort(HANDLE port, COMMPROP* properties) {
    if (port != INVALID_HANDLE_VALUE && port != nullptr) {
        CloseHandle(port);
        CModemProcess::AddOpenPorts(-1);
    }
    std::free(properties);
}

BOOL CModem::IsPortOpen() {
    Lock lock(m_ModemLock);
    return m_OpenCount > 0;
}

int CModem::BeginOperation() {
    Lock lock(m_ModemLock);
    return ++m_Pending;
}

int CModem::EndOperation() {
    HANDLE h = INVALID_HANDLE_VALUE;
    COMMPROP* properties = nullptr;
    for (bool first = true;; first = false) {
        {
            Lock lock(m_ModemLock);
            if (first && (m_Pending != 1 || !m_CloseWhenIdle)) {
                if (m_Pending > 0) --m_Pending;
                return m_Pending;
            }
            if (!m_CloseWhenIdle) {
                m_Pending = 0;
                return 0;
            }
            // A close deferred to the last operation (or one more that came while this one
            // closed): its count comes off now, and the handle is closed below, without the
            // modem lock. The destructor goes ahead once it sees no operation pending, so the
            // count stays at 1 until the port is closed.
            m_CloseWhenIdle = 0;
            if (m_OpenCount > 0 && --m_OpenCount == 0) TakePort(&h, &properties);
        }
        ReleasePort(h, properties);
        h = INVALID_HANDLE_VALUE;
        properties = nullptr;
    }
}

int CModem::PendingOperations() {
    Lock lock(m_ModemLock);
    return m_Pending;
}

int CModem::WriteCommand(const CString& command) {
    DWORD written = 0;
    if (WriteFile(m_Port, command.c_str(), static_cast<DWORD>(command.GetLength()), &written, nullptr)) return kModemOk;
    m_LastError = GetLastError();
    PurgeComm(m_Port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return kModemWriteFailed;
}

namespace {

// The open port as the reply wait reads it: polled with ClearCommError, what is queued read at
// once (the read never waits for more than is there).
class CPortReply : public IReplyPort {
public:
    CPortReply(HANDLE port, DWORD* lastError) : port_(port), lastError_(lastError) {}
    unsigned long NowMs() override { return GetTickCount(); }
    long Queued() override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(port_, &errors, &stat)) {
            *lastError_ = GetLastError();
            return -1;
        }
        return static_cast<long>(stat.cbInQue);
    }
    long Read(char* buffer, long max) override {
        DWORD got = 0;
        if (!ReadFile(port_, buffer, static_cast<DWORD>(max), &got, nullptr)) {
            *lastError_ = GetLastError();
            return -1;
        }
        return static_cast<long>(got);
    }

private:
    HANDLE port_;
    DWORD* lastError_;
};

}  // namespace

int CModem::Exchange(const CString& command, CString& reply, const CString& expected, int seconds) {
    if (m_Port == nullptr || m_Port == INVALID_HANDLE_VALUE) return kModemNotOpen;
    if (int written = WriteCommand(command)) return written;
    CPortReply port(m_Port, &m_LastError);
    std::string got;
    const int result = CollectReply(port, expected.c_str(), seconds, kTextReplyLimit, got);
    reply = CString(got.data(), static_cast<int>(got.size()));
    // A send that does not wait clears what came in, but not what it wrote: a driver that takes a
    // write into a buffer of its own (a USB adapter, Wine's serial ports) still holds the command,
    // and clearing the output would drop it unsent. A send that waited has given the line its time.
    PurgeComm(m_Port, seconds > 0 ? PURGE_TXCLEAR | PURGE_RXCLEAR : PURGE_RXCLEAR);
    return result == 0 ? kModemOk : kModemTimeout;
}

int CModem::SendCommandText(const CString& command, CString& reply, const CString& expected, int seconds) {
    if (!OpenPort()) return kModemNotOpen;
    int result = Exchange(command, reply, expected, seconds);
    ClosePort();
    return result;
}

int CModem::SendCommand(const CString& command, CStringArray& lines, const CString& expected, int seconds) {
    if (!OpenPort()) return kModemNotOpen;
    if (m_Port == nullptr || m_Port == INVALID_HANDLE_VALUE) {
        ClosePort();
        return kModemNotOpen;
    }
    if (int written = WriteCommand(command)) {
        ClosePort();
        return written;
    }
    // The reply is held to the line buffer's size: one that fills it without the expected text
    // is no reply.
    CPortReply port(m_Port, &m_LastError);
    std::string got;
    const int result = CollectReply(port, expected.c_str(), seconds, CReplyBuffer::kCapacity, got);
    PurgeComm(m_Port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (result != 0) {
        ClosePort();
        return kModemTimeout;
    }
    SplitReplyLines(got.data(), static_cast<int>(got.size()), lines);
    ClosePort();
    return kModemOk;
}

int CModem::DetectIsdnAddOn(int* lastResult) {
    // A port that does not open answers nothing: no add-on (the next fresh open asks again).
    CString reply;
    int result = kModemNotOpen;
    {
        CPortLock lock(this);
        if (OpenPort()) {
            for (int i = 0; i < 10; ++i) {
                result = Exchange("ATI0\r", reply, kReplyOk, 1);
                Sleep(100);
                if (result == kModemOk) break;
            }
            ClosePort();
        }
    }
    int flag = AddOnFlagFromReply(reply);
    if (flag && IsBootLoaderReply(reply) && reply.Find(kAddOnName) < 0) result = kModemOk;
    if (!m_AddOnChanged) m_AddOnChanged = m_AddOn != flag;
    m_AddOn = flag;
    if (lastResult) *lastResult = result;
    return flag;
}

void CModem::NotePortState(bool free) {
    int state = free ? kPortFree : kPortBusy;
    if (state != m_PortState) {
        m_PortState = state;
        m_PortStateChanged = 1;
    }
}

int CModem::PollPortDriver(bool nt, bool& answered) {
    answered = false;
    drv::OpenRequest request;
    request.path = nt ? "\\\\.\\Wendlow" : "\\\\.\\Wendlow.vxd";
    request.access = drv::win::kGenericRead | drv::win::kGenericWrite;
    request.disposition = drv::win::kOpenExisting;
    request.attributes = nt ? FILE_FLAG_NO_BUFFERING : drv::win::kFlagDeleteOnClose;
    std::unique_ptr<drv::DriverHandle> driver = drv::DriverAccess::Open(request);
    if (!driver) return 0;
    const uint32_t queryCode = nt ? 0x22200C : 4;
    const uint32_t recordCode = nt ? 0x222008 : 2;
    const uint32_t recordSize = nt ? 4 : 12;
    uint32_t value = 0, got = 0;
    if (!driver->Control(queryCode, m_PortPath.c_str(), static_cast<uint32_t>(m_PortPath.GetLength() + 1),
                         &value, sizeof(value), &got) ||
        got != 4)
        return 0;
    answered = true;
    bool free = value == 1;
    bool storedFree = m_PortState == kPortFree;
    if (free != storedFree) {
        if (!free) {
            NotePortState(false);
        } else {
            uint8_t record[12] = {};
            uint32_t n = 0;
            if (driver->Control(recordCode, nullptr, 0, record, recordSize, &n) && n == recordSize) {
                if (record[0] & 0x80)
                    free = false;  // in a call: still busy, no change noted
                else
                    NotePortState(true);
            }
        }
    }
    return free ? 1 : 0;
}

int CModem::PollWmi(bool& answered) {
    answered = false;
    if (!m_Wmi || !m_CommInfoPath) return 0;
    IWbemClassObject* object = nullptr;
    HRESULT hr = m_Wmi->GetObject(m_CommInfoPath, 0, nullptr, &object, nullptr);
    // Without the class or its property (Wine has no MSSerial_CommInfo) the stored state would
    // stay as it is for ever: the open test answers instead.
    if (FAILED(hr) || !object) return 0;
    VARIANT busy;
    VariantInit(&busy);
    if (SUCCEEDED(object->Get(L"IsBusy", 0, &busy, nullptr, nullptr)) && busy.vt == VT_BOOL) {
        NotePortState(busy.boolVal == VARIANT_FALSE);
        answered = true;
    }
    VariantClear(&busy);
    object->Release();
    return answered && m_PortState == kPortFree ? 1 : 0;
}

int CModem::OpenTest() {
    CPortLock lock(this);
    bool free = m_Port != INVALID_HANDLE_VALUE && m_Port != nullptr;
    NotePortState(free);
    return free ? 1 : 0;
}

int CModem::IsPortFree() {
    m_PortStateChanged = 0;
    if (CModemProcess::OpenPorts() != 0) return m_PortState == kPortFree;
    WindowsVersion v = CurrentVersion();
    bool answered = false;
    int free = 0;
    if (!v.nt)
        free = PollPortDriver(false, answered);
    else if (v.major <= 4)
        free = PollPortDriver(true, answered);
    else
        free = PollWmi(answered);
    if (answered) return free;
    return OpenTest();
}

CPortLock::CPortLock(CModem* modem) {
    WaitForSingleObject(CModemProcess::PortMutex(), INFINITE);
    if (modem && modem->OpenPort()) m_Modem = modem;
}

CPortLock::~CPortLock() {
    if (m_Modem) m_Modem->ClosePort();
    ReleaseMutex(CModemProcess::PortMutex());
}
