#include "cardflash/app/conf_util_app.h"

#include <objbase.h>
#include <ole2.h>

#include "cardflash/app/about_dlg.h"
#include "cardflash/app/cmdline_update.h"
#include "cardflash/app/flash_dlg.h"
#include "cardflash/app/please_wait.h"
#include "cardflash/app/prp_sheet.h"
#include "cardflash/app/resource.h"
#include "cardflash/inventory/static_card_info.h"
#include "framework/resources.h"
#include "watchsvc/client/RegistryClient.h"

namespace {

HWND g_update_page = nullptr;

// WM_APP notes to the Update page (lParam 1).
constexpr WPARAM kPageAdaptersChanged = 1;
constexpr WPARAM kPagePortFreeAgain = 6;

bool FileExists(const CString& path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// `format` with %1 and %2 replaced in one pass, so that a %2 inside the first argument stays text.
CString FormatString2(const CString& format, const CString& first, const CString& second) {
    CString out;
    for (int i = 0; i < format.GetLength(); ++i) {
        char c = format[i];
        char next = format[i + 1];
        if (c == '%' && (next == '1' || next == '2')) {
            out += next == '1' ? first : second;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// A switch word in the upper-cased command line. The words come from the resource module in use;
// one that a language library lacks is the program's own. An empty word is never present: it
// would be found in every command line.
bool HasSwitch(const CString& upperCommandLine, UINT id) {
    CString word = fw::App::Text(id);
    if (word.IsEmpty()) {
        char own[256] = {};
        if (LoadStringA(GetModuleHandleA(nullptr), id, own, sizeof(own)) > 0) word = own;
    }
    word.MakeUpper();
    return !word.IsEmpty() && upperCommandLine.Find(word) >= 0;
}

// A language name names a folder beside the program and nothing else: a name with a path in it
// ("..\x", "C:x", "a/b") would load a library from wherever the settings file points.
bool IsBareName(const CString& name) {
    bool allDots = true;
    for (int i = 0; i < name.GetLength(); ++i) {
        char c = name[i];
        if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
        if (c != '.') allDots = false;
    }
    return !allDots;
}

void PostToUpdatePage(WPARAM what) {
    HWND page = CConfUtilApp::UpdatePage();
    if (page) PostMessageA(page, WM_APP, what, 1);
}

}  // namespace

bool CResourceLibrary::Load(const CString& path) {
    Free();
    // A broken or foreign file must not stop the start-up with a system error box.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    h_ = LoadLibraryA(path);
    SetErrorMode(previous);
    return h_ != nullptr;
}

void CResourceLibrary::Free() {
    if (!h_) return;
    if (fw::ResourceHandle() == h_) fw::SetResourceHandle(nullptr);
    FreeLibrary(h_);
    h_ = nullptr;
}

CUpdateRun::CUpdateRun(CConfUtilApp* app) : app_(app) {
    if (app_) ++app_->m_UpdateDepth;
}

CUpdateRun::~CUpdateRun() {
    if (app_) --app_->m_UpdateDepth;
}

CConfUtilApp::CConfUtilApp() = default;

CConfUtilApp::~CConfUtilApp() {
    // The modems and the monitor go before the language library and COM they may use.
    ClearModemList();
}

void CConfUtilApp::SetUpdatePage(HWND page) { g_update_page = page; }

HWND CConfUtilApp::UpdatePage() { return g_update_page && IsWindow(g_update_page) ? g_update_page : nullptr; }

bool CConfUtilApp::InitInstance() {
    // Wine has no 3-D control library; the framework's control set gives dialogs their look.
    fw::InitControls();
    CString command = CommandLine();  // the arguments only: words in the program's path never count
    command.MakeUpper();

    if (m_OSInfo.m_OSIndex >= OS_WIN2000) {
        m_OleStarted = SUCCEEDED(OleInitialize(nullptr));
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                             nullptr, EOAC_NONE, nullptr);
        if (m_OSInfo.m_OSIndex == OS_WIN2000 && !ProbeRegistryService()) return false;
    }

    FindSettings();
    ChooseLanguage();

    CPleaseWait wait;
    wait.Show();

    if (HasSwitch(command, IDS_SWITCH_TVL)) {
        m_TvlMode = 1;
        m_FlashBoth = 0;
    }
    if (HasSwitch(command, IDS_SWITCH_BOTH)) {
        m_TvlMode = 1;
        m_FlashBoth = 1;
    }

    // The port manager stays open for the program's life; on Windows NT the modems ask it themselves.
    if (m_OSInfo.m_PlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        drv::OpenRequest request;
        request.path = "\\\\.\\Wendlow.vxd";
        request.access = drv::win::kGenericRead | drv::win::kGenericWrite;
        request.share = 0;
        request.disposition = drv::win::kOpenExisting;
        request.attributes = drv::win::kFlagDeleteOnClose;
        m_PortManager = drv::DriverAccess::Open(request);
    }

    Detect();
    wait.Destroy();

    if (m_TvlMode || m_FlashBoth) {
        RunKitUpdateFromCommandLine();
        return false;
    }

    m_PostRestart = HasSwitch(command, IDS_UPGRADE) ? 1 : 0;
    RunSheet();
    return false;
}

void CConfUtilApp::RunSheet() {
    PrpSheet sheet(Text(IDS_SHEET_CAPTION));
    CFlashDlg update;
    CAboutDlg about;
    sheet.AddPage(&update);
    sheet.AddPage(&about);
    m_Sheet = &sheet;
    sheet.DoModal();
    m_Sheet = nullptr;
}

int CConfUtilApp::ExitInstance() {
    m_PortManager.reset();
    ClearModemList();
    if (m_OleStarted) {
        OleUninitialize();
        m_OleStarted = false;
    }
    return fw::App::ExitInstance();
}

bool CConfUtilApp::ProbeRegistryService() {
    HRESULT hr = watchsvc::ProbeRegistry();
    if (FAILED(hr) && hr != E_NOINTERFACE) {
        MessageId(IDS_NO_SERVICE, MB_OK);
        SetExitCode(-1);
        return false;
    }
    return true;
}

void CConfUtilApp::FindSettings() {
    m_ProgramFolder = ProgramFolder();
    m_BaseName = Title();
    m_SettingsFile = m_ProgramFolder + "\\" + m_BaseName + ".INI";
    char windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
    m_WindowsDir = n > 0 && n < sizeof(windows) ? CString(windows) : m_OSInfo.m_WindowsDir;
    m_DeviceDbPath = m_ProgramFolder + "\\" + Text(IDS_DEVICE_DB);
    CStaticCardInfo::SetIniFile(m_DeviceDbPath);
    m_HelpFile = m_ProgramFolder + "\\" + m_BaseName + ".HLP";
}

void CConfUtilApp::ChooseLanguage() {
    CString section = Text(IDS_APP_SECTION), key = Text(IDS_CUR_LANGUAGE);
    char buf[512] = {};
    GetPrivateProfileStringA(section, key, "", buf, sizeof(buf), m_SettingsFile);
    m_Language = buf;
    if (m_Language.IsEmpty()) {
        buf[0] = 0;
        if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, buf, sizeof(buf)) > 0) m_Language = buf;
    }
    WritePrivateProfileStringA(section, key, m_Language, m_SettingsFile);
    if (m_Language.IsEmpty() || m_Language == "English" || !IsBareName(m_Language)) return;

    CString base = FormatString2(Text(IDS_LANGUAGE_BASE), m_BaseName, m_Language);
    CString folder = m_ProgramFolder + "\\" + m_Language + "\\";
    if (FileExists(folder + base + ".hlp")) m_HelpFile = folder + base + ".hlp";
    m_LanguageLibraryPath = folder + base + ".dll";
    if (m_LanguageLibrary.Load(m_LanguageLibraryPath)) fw::SetResourceHandle(m_LanguageLibrary.get());
}

void CConfUtilApp::Detect() {
    m_ActiveCards.Refresh(TRUE);
    m_AllCards.Refresh(FALSE);
    BuildModemList();
}

void CConfUtilApp::BuildModemList() {
    ClearModemList();
    for (int i = 0; i < CActiveCardList::kMaxCards && m_ActiveCards.m_Cards[i]; ++i) {
        CCardInfo* card = m_ActiveCards.m_Cards[i];
        CCardInfo* partner = m_ActiveCards.m_Partners[i];
        CCardInfo* record = nullptr;
        if (card->m_Flags & CCardInfo::kFlagModem)
            record = card;
        else if (partner && (partner->m_Flags & CCardInfo::kFlagModem))
            record = partner;
        if (!record) continue;
        CModemInfo entry;
        entry.m_Card = record;
        entry.m_Modem = std::make_unique<CModem>();
        if (entry.m_Modem->AttachCard(record, record->m_ModemComPort) != kModemOk) entry.m_Modem.reset();
        m_Modems.push_back(std::move(entry));
    }
    if (!m_Modems.empty()) m_Selected = 0;
}

void CConfUtilApp::ClearModemList() {
    // A modem's destructor dispatches the reports of its last operations, and the Update page
    // asks for the selected modem when one arrives: nothing may be selected, and the list must
    // already be empty, while they go. The monitor watches one of these modems: it goes first.
    m_Selected = -1;
    m_Monitor.reset();
    std::vector<CModemInfo> going;
    going.swap(m_Modems);
    going.clear();
}

CModem* CConfUtilApp::CurrentModem() const {
    return m_Selected >= 0 && m_Selected < ModemCount() ? m_Modems[static_cast<size_t>(m_Selected)].m_Modem.get()
                                                        : nullptr;
}

CCardInfo* CConfUtilApp::CurrentCard() const {
    return m_Selected >= 0 && m_Selected < ModemCount() ? m_Modems[static_cast<size_t>(m_Selected)].m_Card : nullptr;
}

int CConfUtilApp::IndexOfCard(const CString& pnpId) const {
    if (pnpId.IsEmpty()) return -1;
    for (int i = 0; i < ModemCount(); ++i) {
        const CCardInfo* card = m_Modems[static_cast<size_t>(i)].m_Card;
        if (card && card->m_PnPID.CompareNoCase(pnpId) == 0) return i;
    }
    return -1;
}

BOOL CConfUtilApp::Select(int index) {
    if (index >= 0 && index < ModemCount()) {
        if (index != m_Selected) m_Monitor.reset();
        m_Selected = index;
        return TRUE;
    }
    m_Selected = -1;
    m_Monitor.reset();
    return FALSE;
}

void CConfUtilApp::OnAddOnStateChanged(CModem* modem, BOOL present) {
    if (!modem) return;
    for (CModemInfo& entry : m_Modems) {
        if (entry.m_Modem.get() != modem) continue;
        if (entry.m_Card) entry.m_Card->UpdateDescription(present);
        PostToUpdatePage(kPageAdaptersChanged);
        return;
    }
}

void CConfUtilApp::EnsureMonitor(BOOL start) {
    if (m_Modems.empty()) return;
    if (m_Selected < 0 || m_Selected >= ModemCount()) m_Selected = 0;
    CModem* modem = CurrentModem();
    if (!m_Monitor || m_Monitor->GetModem() != modem) {
        m_Monitor.reset();  // one monitor at a time: the old one goes before the new one exists
        m_Monitor = std::make_unique<CGetLastCall>(modem, &CConfUtilApp::MonitorCallback, kMonitorBusyPeriod,
                                                   kMonitorIdlePeriod);
    }
    if (start) m_Monitor->Start();
}

void CConfUtilApp::StartMonitorSticky() {
    m_MonitorSticky = 1;
    EnsureMonitor(TRUE);
}

void CConfUtilApp::StopMonitor() {
    m_MonitorSticky = 0;
    if (m_Monitor) m_Monitor->Stop();
}

void CConfUtilApp::StopMonitorUnlessSticky() {
    if (!m_MonitorSticky && m_Monitor) m_Monitor->Stop();
}

BOOL CConfUtilApp::IsMonitorRunning() const { return m_Monitor && m_Monitor->IsRunning(); }

void CConfUtilApp::MonitorCallback() {
    CConfUtilApp* app = Get();
    if (!app || !app->m_Monitor) return;
    switch (app->m_Monitor->GetState()) {
    case CGetLastCall::kIdle:
        // A port found free with no call to read: the page parked on it may go on as well. After
        // a call was read the monitor is already stopped, and that poll's last report is no news.
        if (!app->IsMonitorRunning()) break;
        app->StopMonitor();
        PostToUpdatePage(kPagePortFreeAgain);
        break;
    case CGetLastCall::kCallRead:
    case CGetLastCall::kReadFailed:
    case CGetLastCall::kSlowPoll:
        app->StopMonitor();
        PostToUpdatePage(kPagePortFreeAgain);
        break;
    default:
        break;
    }
}
