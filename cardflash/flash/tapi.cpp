#include "cardflash/flash/tapi.h"

#include "cardflash/inventory/modem_list.h"
#include "cardflash/inventory/os_info.h"
#include "framework/app.h"

namespace {

CTapi* g_current = nullptr;

using LineProcType = CTapi::LineCallback;

// The entries of TAPI32.DLL, looked up one by one; a missing library or entry is a null pointer,
// and calling through it fails like an unavailable operation.
struct TapiEntries {
    LONG(WINAPI* initialize)(DWORD*, HINSTANCE, LineProcType, LPCSTR, DWORD*) = nullptr;
    LONG(WINAPI* shutdown)(DWORD) = nullptr;
    LONG(WINAPI* getDevCaps)(DWORD, DWORD, DWORD, DWORD, void*) = nullptr;
    LONG(WINAPI* getIcon)(DWORD, LPCSTR, HICON*) = nullptr;
    LONG(WINAPI* getTranslateCaps)(DWORD, DWORD, void*) = nullptr;
    LONG(WINAPI* open)(DWORD, DWORD, DWORD*, DWORD, DWORD, DWORD_PTR, DWORD, DWORD, void*) = nullptr;
    LONG(WINAPI* close)(DWORD) = nullptr;
    LONG(WINAPI* setStatusMessages)(DWORD, DWORD, DWORD) = nullptr;
    LONG(WINAPI* getAddressStatus)(DWORD, DWORD, void*) = nullptr;
    LONG(WINAPI* makeCall)(DWORD, DWORD*, LPCSTR, DWORD, void*) = nullptr;
    LONG(WINAPI* deallocateCall)(DWORD) = nullptr;
    LONG(WINAPI* getCallInfo)(DWORD, void*) = nullptr;
    LONG(WINAPI* translateAddress)(DWORD, DWORD, DWORD, LPCSTR, DWORD, DWORD, void*) = nullptr;
    LONG(WINAPI* translateDialog)(DWORD, DWORD, DWORD, HWND, LPCSTR) = nullptr;
    LONG(WINAPI* setCurrentLocation)(DWORD, DWORD) = nullptr;
    LONG(WINAPI* configDialog)(DWORD, HWND, LPCSTR) = nullptr;
};

template <class F>
void Bind(HMODULE module, const char* name, F& entry) {
    entry = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Loaded once and kept for the process: TAPI's window may still deliver a message to the line
// callback while the last object shuts down.
const TapiEntries& Tapi() {
    static const TapiEntries entries = [] {
        TapiEntries e;
        UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE m = LoadLibraryA("TAPI32.DLL");
        SetErrorMode(previous);
        Bind(m, "lineInitialize", e.initialize);
        Bind(m, "lineShutdown", e.shutdown);
        Bind(m, "lineGetDevCaps", e.getDevCaps);
        Bind(m, "lineGetIcon", e.getIcon);
        Bind(m, "lineGetTranslateCaps", e.getTranslateCaps);
        Bind(m, "lineOpen", e.open);
        Bind(m, "lineClose", e.close);
        Bind(m, "lineSetStatusMessages", e.setStatusMessages);
        Bind(m, "lineGetAddressStatus", e.getAddressStatus);
        Bind(m, "lineMakeCall", e.makeCall);
        Bind(m, "lineDeallocateCall", e.deallocateCall);
        Bind(m, "lineGetCallInfo", e.getCallInfo);
        Bind(m, "lineTranslateAddress", e.translateAddress);
        Bind(m, "lineTranslateDialog", e.translateDialog);
        Bind(m, "lineSetCurrentLocation", e.setCurrentLocation);
        Bind(m, "lineConfigDialog", e.configDialog);
        return e;
    }();
    return entries;
}

constexpr LONG kUnavailable = tapi::kErrOperationUnavail;

void Debug(const std::string& text) { OutputDebugStringA(text.c_str()); }

}  // namespace

CTapi* CTapi::Current() { return g_current; }

CTapi::CTapi(BOOL redial) : m_Redial(redial) {
    m_ModemKeys.SetSize(kRows);
    m_LocationNames.SetSize(kRows);
    m_LineNames.SetSize(kRows);
    g_current = this;
}

CTapi::~CTapi() {
    if (g_current == this) g_current = nullptr;
    for (HICON& icon : m_Icons) {
        if (icon) DestroyIcon(icon);
        icon = nullptr;
    }
    CloseLine();
    if (m_LineApp && Tapi().shutdown) Tapi().shutdown(m_LineApp);
    m_LineApp = 0;
}

LONG CTapi::ReadDevCaps(DWORD device, tapi::VarStruct& caps) {
    const TapiEntries& t = Tapi();
    if (!t.getDevCaps) return kUnavailable;
    return caps.Query(tapi::devcaps::kStart, "lineGetDevCaps", Debug, [&](uint8_t* data, uint32_t) {
        return static_cast<int32_t>(t.getDevCaps(m_LineApp, device, tapi::kApiVersion, 0, data));
    });
}

LONG CTapi::ReadTranslateCaps(tapi::VarStruct& caps) {
    const TapiEntries& t = Tapi();
    if (!t.getTranslateCaps) return kUnavailable;
    return caps.Query(tapi::translatecaps::kStart, "lineGetTranslateCaps", Debug, [&](uint8_t* data, uint32_t) {
        return static_cast<int32_t>(t.getTranslateCaps(m_LineApp, tapi::kApiVersion, data));
    });
}

void CTapi::FindCurrentLocation(const tapi::TranslateCaps& caps) {
    m_CurrentLocation = -1;
    for (int i = 0; i < m_LocationCount; ++i)
        if (m_LocationIds[i] == caps.currentId) {
            m_CurrentLocation = i;
            break;
        }
}

BOOL CTapi::Initialize(Notify notify, int mode) {
    COSInfo os(FALSE);
    if (os.m_OSIndex == OS_NT350 || os.m_OSIndex == OS_NT351) return FALSE;

    m_Notify = notify;
    const TapiEntries& t = Tapi();
    // Without TAPI32.DLL there is nothing to initialise and nothing to say.
    if (!t.initialize) return FALSE;
    LONG r = t.initialize(&m_LineApp, GetModuleHandleA(nullptr), &CTapi::LineProc, nullptr, &m_NumDevices);
    if (r != 0) {
        m_LineApp = 0;
        Show(tapi::kTextInitFailed);
        return FALSE;
    }

    CModemList modems;
    modems.Fill();

    tapi::VarStruct caps;
    m_LineCount = 0;
    for (DWORD device = 0; device < m_NumDevices && m_LineCount < kRows; ++device) {
        if (ReadDevCaps(device, caps) != 0) continue;
        tapi::DevCaps c = tapi::ReadDevCaps(caps.bytes());
        if (mode != kModeAllLines && !(c.mediaModes & tapi::kMediaDataModem)) continue;
        int row = m_LineCount++;
        m_DeviceIds[row] = device;
        m_LineNames[row] = c.lineName;
        m_ModemKeys[row] = CString();
        for (int k = 0; k < modems.GetCount() && !modems.m_Names[k].IsEmpty(); ++k)
            if (modems.m_Names[k] == m_LineNames[row]) {
                m_ModemKeys[row] = modems.m_EnumPaths[k];
                break;
            }
        HICON icon = nullptr;
        if (t.getIcon && t.getIcon(device, nullptr, &icon) == 0 && icon) m_Icons[row] = CopyIcon(icon);
    }
    if (m_LineCount > 0) m_SelectedDevice = m_DeviceIds[0];

    tapi::VarStruct translate;
    if (ReadTranslateCaps(translate) != 0) return FALSE;
    tapi::TranslateCaps tc = tapi::ReadTranslateCaps(translate.bytes());
    m_LocationCount = 0;
    for (const tapi::Location& loc : tc.locations) {
        if (m_LocationCount >= kRows) break;
        m_LocationNames[m_LocationCount] = loc.name;
        m_LocationIds[m_LocationCount] = loc.id;
        ++m_LocationCount;
    }
    FindCurrentLocation(tc);
    return TRUE;
}

BOOL CTapi::SelectLine(int row) {
    if (row < 0 || row >= m_LineCount) return FALSE;
    m_SelectedDevice = m_DeviceIds[row];
    return TRUE;
}

BOOL CTapi::MakeCall(const CString& number) {
    m_LastNumber = number;
    const TapiEntries& t = Tapi();
    tapi::VarStruct caps;
    if (ReadDevCaps(m_SelectedDevice, caps) != 0) return FALSE;
    tapi::DevCaps c = tapi::ReadDevCaps(caps.bytes());
    if (!(c.bearerModes & tapi::kBearerVoice) || !(c.mediaModes & tapi::kMediaDataModem) ||
        !(c.lineFeatures & tapi::kLineFeatureMakeCall))
        return FALSE;

    CloseLine();
    // A line another program holds is a clear answer; other failures may pass, so the open is
    // tried a few times.
    LONG r = kUnavailable;
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = OpenLine(m_SelectedDevice, &m_Line, tapi::kPrivilegeNone, tapi::kMediaDataModem);
        if (r == 0 || r == tapi::kErrAllocated) break;
    }
    if (r != 0) {
        m_Line = 0;
        return FALSE;
    }
    if (t.setStatusMessages) t.setStatusMessages(m_Line, tapi::kAllLineStates, tapi::kAllAddressStates);

    tapi::VarStruct status;
    LONG s = t.getAddressStatus
                 ? status.Query(tapi::addressstatus::kStart, "lineGetAddressStatus", Debug,
                                [&](uint8_t* data, uint32_t) {
                                    return static_cast<int32_t>(t.getAddressStatus(m_Line, 0, data));
                                })
                 : kUnavailable;
    if (s != 0 || !(status.Word(tapi::addressstatus::kAddressFeatures) & tapi::kAddressFeatureMakeCall)) {
        CloseLine();
        return FALSE;
    }

    tapi::VarStruct params;
    if (!params.Prepare(tapi::callparams::kSize, "lineMakeCall", Debug)) {
        CloseLine();
        return FALSE;
    }
    std::vector<uint8_t>& p = params.bytes();
    tapi::Put32(p, tapi::callparams::kBearerMode, tapi::kBearerVoice);
    tapi::Put32(p, tapi::callparams::kMediaMode, tapi::kMediaDataModem);
    tapi::Put32(p, tapi::callparams::kCallParamFlags, tapi::kCallParamIdle);
    tapi::Put32(p, tapi::callparams::kAddressMode, tapi::kAddressModeAddressId);
    tapi::Put32(p, tapi::callparams::kAddressId, 0);

    // A positive request id means the call proceeds (its outcome comes as LINE_REPLY); TAPI's
    // errors are negative.
    LONG id = t.makeCall ? t.makeCall(m_Line, &m_Call, number, 0, p.data()) : kUnavailable;
    if (id > 0) return TRUE;
    CloseLine();
    return FALSE;
}

BOOL CTapi::CloseLine() {
    if (m_Line) CloseLineHandle(m_Line);
    m_Line = 0;
    return TRUE;
}

void CTapi::TranslateDialog(HWND owner, const CString& number) {
    const TapiEntries& t = Tapi();
    LONG r = t.translateDialog ? t.translateDialog(m_LineApp, m_SelectedDevice, tapi::kApiVersion, owner, number)
                               : kUnavailable;
    if (r != 0) Show(tapi::kTextTranslateDialogFailed);
    tapi::VarStruct translate;
    if (ReadTranslateCaps(translate) == 0) FindCurrentLocation(tapi::ReadTranslateCaps(translate.bytes()));
}

CString CTapi::GetDialableString(const CString& number) {
    const TapiEntries& t = Tapi();
    tapi::VarStruct out;
    LONG r = t.translateAddress
                 ? out.Query(tapi::translateoutput::kStart, "lineTranslateAddress", Debug,
                             [&](uint8_t* data, uint32_t) {
                                 return static_cast<int32_t>(t.translateAddress(m_LineApp, m_SelectedDevice,
                                                                                tapi::kApiVersion, number, 0,
                                                                                tapi::kTranslateOption, data));
                             })
                 : kUnavailable;
    if (r != 0) {
        Show(tapi::kTextTranslateFailed);
        return CString();
    }
    return CString(tapi::ReadDialableString(out.bytes()));
}

void CTapi::SetCurrentLocation() {
    if (m_CurrentLocation < 0 || m_CurrentLocation >= m_LocationCount || !Tapi().setCurrentLocation) return;
    Tapi().setCurrentLocation(m_LineApp, m_LocationIds[m_CurrentLocation]);
}

void CTapi::ConfigDialog(HWND owner) {
    if (Tapi().configDialog) Tapi().configDialog(m_SelectedDevice, owner, "comm/datamodem");
}

BOOL CTapi::PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return TRUE;
}

LONG CTapi::OpenLine(DWORD device, DWORD* line, DWORD privileges, DWORD mediaModes) {
    const TapiEntries& t = Tapi();
    if (!t.open) return kUnavailable;
    return t.open(m_LineApp, device, line, tapi::kApiVersion, 0, 0, privileges, mediaModes, nullptr);
}

LONG CTapi::CloseLineHandle(DWORD line) { return Tapi().close ? Tapi().close(line) : kUnavailable; }

LONG CTapi::GetCallInfo(DWORD call, tapi::VarStruct& info, DWORD totalSize) {
    const TapiEntries& t = Tapi();
    if (!t.getCallInfo) return kUnavailable;
    if (!info.Prepare(totalSize, "lineGetCallInfo", Debug)) return tapi::kErrNoMem;
    return t.getCallInfo(call, info.bytes().data());
}

LONG CTapi::DeallocateCall(DWORD call) { return Tapi().deallocateCall ? Tapi().deallocateCall(call) : kUnavailable; }

void CALLBACK CTapi::LineProc(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR param2,
                              DWORD_PTR param3) {
    CTapi* self = g_current;
    if (!self) {
        // Nobody to tell: a call that went idle is still released.
        if (message == tapi::kLineCallState && param1 == tapi::kCallIdle && Tapi().deallocateCall)
            Tapi().deallocateCall(device);
        return;
    }
    self->OnLineEvent(device, message, static_cast<DWORD>(param1), static_cast<DWORD>(param2),
                      static_cast<DWORD>(param3));
}

void CTapi::OnLineEvent(DWORD device, DWORD message, DWORD param1, DWORD param2, DWORD param3) {
    tapi::LineEvent e = tapi::InterpretLineEvent(message, param1, param2, param3);
    if (!e.text.empty()) Tell(e.text.c_str(), e.connected ? TRUE : FALSE, device);
    if (e.askRedial) {
        // Only a call this object dialled on its own line is offered again; a call seen on a
        // monitored line belongs to another program.
        bool own = m_Line != 0;
        bool again = own && m_Redial && AskRedial();
        CloseLine();
        if (again) MakeCall(m_LastNumber);
        return;
    }
    if (e.closeLine) CloseLine();
}

void CTapi::Tell(const char* text, BOOL connected, DWORD handle) {
    if (m_Notify) m_Notify(this, text, connected, handle);
}

void CTapi::Show(const char* text) {
    if (fw::App* app = fw::App::Current())
        app->Message(text, MB_OK | MB_ICONEXCLAMATION);
    else
        MessageBoxA(GetActiveWindow(), text, "", MB_OK | MB_ICONEXCLAMATION);
}

bool CTapi::AskRedial() {
    const UINT flags = MB_YESNO | MB_ICONQUESTION;
    int answer = fw::App::Current() ? fw::App::Current()->Message(tapi::kTextRedialQuestion, flags)
                                    : MessageBoxA(GetActiveWindow(), tapi::kTextRedialQuestion, "", flags);
    return answer == IDYES;
}
