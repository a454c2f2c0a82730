#include "cardflash/app/prp_sheet.h"

#include <dbt.h>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/flash_dlg.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_dialogs.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/quick_reg.h"
#include "framework/app.h"
#include "framework/resources.h"

namespace {

PrpSheet* g_sheet = nullptr;
UINT_PTR g_timer = 0;      // the re-detection timer while one is pending
WPARAM g_lastEvent = 0;    // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE (Windows 9x)

const char kDevnodeRoot[] = "HKEY_DYN_DATA\\Config Manager\\Enum\\";
const char kDynDataRoot[] = "HKEY_DYN_DATA\\";

// A device-change header of the Windows 9x Configuration Manager's kind: its devnode.
struct DevnodeHeader {
    DWORD size;
    DWORD deviceType;
    DWORD reserved;
    DWORD devnode;
};
constexpr DWORD kDevTypeDevnode = 1;

CString HardwareKeyOf(DWORD devnode, CString* path) {
    path->Format("%s%X", kDevnodeRoot, static_cast<unsigned>(devnode));
    CString key;
    CQuickReg node(*path);
    if (!node.m_Open || !node.QueryString("HardWareKey", &key)) key.Empty();
    return key;
}

void TellPage(WPARAM what, bool send) {
    HWND page = CConfUtilApp::UpdatePage();
    if (!page) return;
    if (send)
        SendMessageA(page, WM_APP, what, 1);
    else
        PostMessageA(page, WM_APP, what, 1);
}

}  // namespace

PrpSheet::PrpSheet(const CString& caption) : fw::PropertySheet(caption, PSH_NOAPPLYNOW) {
    m_Version.dwOSVersionInfoSize = sizeof(m_Version);
    GetVersionExA(&m_Version);
}

PrpSheet::~PrpSheet() {
    if (g_sheet == this) g_sheet = nullptr;
    if (CConfUtilApp* app = CConfUtilApp::Get()) app->ClearModemList();
}

PrpSheet* PrpSheet::Current() { return g_sheet; }

void PrpSheet::OnCreate() {
    g_sheet = this;
    if (CConfUtilApp* app = CConfUtilApp::Get()) app->SetMainWindow(hwnd());
    HICON icon = LoadIconA(fw::ResourceHandle(), MAKEINTRESOURCEA(IDI_PROGRAM));
    if (!icon) icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM));
    if (icon) {
        SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
}

void PrpSheet::OnInitDialog() {
    for (int i = 0; i < kMaxPrefixes; ++i) {
        m_Prefixes[i] = fw::App::Text(IDS_HW_PREFIX_FIRST + i);
        if (m_Prefixes[i].IsEmpty()) break;
    }
    CConfUtilApp* app = CConfUtilApp::Get();
    if (app && app->m_PostRestart) {
        {
            CUpdateRun running(app);
            CUpdModSetDlg dialog(nullptr, hwnd());
            dialog.DoModal();
        }
        // The page waited for the check, which may have selected another adapter.
        TellPage(CFlashDlg::kAppCheckDone, true);
    }
    ShowWindow(GetDlgItem(hwnd(), IDOK), SW_HIDE);
    SetDlgItemTextA(hwnd(), IDCANCEL, fw::App::Text(IDS_SHEET_CLOSE));
}

void PrpSheet::StartRedetection(UINT ms) {
    // On Windows 9x a new event replaces the pending timer under the same id.
    g_timer = SetTimer(hwnd(), kRedetectTimer, ms, &PrpSheet::RedetectTimer);
}

LRESULT PrpSheet::OnDeviceChange(WPARAM event, LPARAM lparam) {
    CConfUtilApp* app = CConfUtilApp::Get();
    if (m_Version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        switch (event) {
        case DBT_DEVNODES_CHANGED:
        case DBT_DEVICEARRIVAL:
        case DBT_DEVICEREMOVECOMPLETE:
            // Every new event restarts the settling time.
            if (g_timer) KillTimer(hwnd(), kRedetectTimer);
            g_timer = 0;
            app->StopMonitor();
            StartRedetection(kNtSettleMs);
            TellPage(CFlashDlg::kAppSystemChanging, true);
            return Default(WM_DEVICECHANGE, event, lparam);
        case DBT_DEVICEQUERYREMOVE:
            Default(WM_DEVICECHANGE, event, lparam);
            return TRUE;
        default:
            return Default(WM_DEVICECHANGE, event, lparam);
        }
    }

    // Only arrivals and removals carry a device header; the other notices carry a drive number
    // (disk space) or nothing (configuration) in lParam.
    const bool carriesHeader = event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE;
    const DevnodeHeader* header = carriesHeader ? reinterpret_cast<const DevnodeHeader*>(lparam) : nullptr;
    if (header && header->deviceType == kDevTypeDevnode) {
        if (event == DBT_DEVICEARRIVAL) {
            CString path;
            const CString hardware = HardwareKeyOf(header->devnode, &path);
            for (int i = 0; i < kMaxPrefixes && !m_Prefixes[i].IsEmpty(); ++i) {
                if (hardware.IsEmpty() || hardware.Find(m_Prefixes[i]) < 0) continue;
                m_MatchedKey = m_Prefixes[i];
                RegFlushKey(HKEY_DYN_DATA);
                app->StopMonitor();
                g_lastEvent = DBT_DEVICEARRIVAL;
                TellPage(CFlashDlg::kAppSystemChanging, false);
                StartRedetection(k9xSettleMs);
                break;
            }
        } else if (event == DBT_DEVICEREMOVECOMPLETE) {
            CString path;
            const CString hardware = HardwareKeyOf(header->devnode, &path);
            const CActiveCardList& all = app->m_AllCards;
            for (int i = 0; !hardware.IsEmpty() && i < CActiveCardList::kMaxCards && all.m_Cards[i]; ++i) {
                const CCardInfo* card = all.m_Cards[i];
                const CCardInfo* partner = all.m_Partners[i];
                CString id;
                if (!card->m_PnPID.IsEmpty() && hardware.Find(card->m_PnPID) >= 0)
                    id = card->m_PnPID;
                else if (partner && !partner->m_PnPID.IsEmpty() && hardware.Find(partner->m_PnPID) >= 0)
                    id = partner->m_PnPID;
                else
                    continue;
                m_RemovedDevKey = path;
                m_MatchedKey = id;
                app->StopMonitor();
                RegFlushKey(HKEY_DYN_DATA);
                g_lastEvent = DBT_DEVICEREMOVECOMPLETE;
                TellPage(CFlashDlg::kAppAdapterRemoved, false);
                StartRedetection(k9xSettleMs);
                break;
            }
        }
    }
    return Default(WM_DEVICECHANGE, event, lparam);
}

void PrpSheet::Rebuild(WPARAM note) {
    CConfUtilApp* app = CConfUtilApp::Get();
    app->ClearModemList();
    app->m_ActiveCards.Refresh(TRUE);
    app->m_AllCards.Refresh(FALSE);
    app->BuildModemList();
    TellPage(note, false);
}

VOID CALLBACK PrpSheet::RedetectTimer(HWND window, UINT, UINT_PTR, DWORD) {
    PrpSheet* sheet = g_sheet;
    if (!sheet) return;
    // An update holds its modem across message boxes and dialogs, whose message loops run this
    // timer: the lists are rebuilt only once it has ended (the timer keeps firing till then).
    if (CConfUtilApp* app = CConfUtilApp::Get(); app && app->UpdateRunning()) return;
    const bool nt = sheet->m_Version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    if (nt || g_lastEvent == DBT_DEVICEARRIVAL) {
        if (g_timer) KillTimer(window, kRedetectTimer);
        g_timer = 0;
        Rebuild(CFlashDlg::kAppRedetected);
        return;
    }
    // After a removal the system is settled once the removed devnode is gone.
    CString subkey = sheet->m_RemovedDevKey.Mid(static_cast<int>(sizeof(kDynDataRoot) - 1));
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_DYN_DATA, subkey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    KillTimer(window, kRedetectTimer);
    g_timer = 0;
    Rebuild(CFlashDlg::kAppRedetectedAfterRemoval);
}

LRESULT PrpSheet::OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) {
    CConfUtilApp* app = CConfUtilApp::Get();
    switch (msg) {
    case WM_DEVICECHANGE:
        *handled = true;
        return OnDeviceChange(wparam, lparam);
    case WM_USER:
        // wParam 0 is the dialog manager's own question; 11 is a modem's add-on notice.
        if (wparam == 0) break;
        *handled = true;
        if (wparam == 11) {
            CCardInfo* card = app->CurrentCard();
            if (app->CurrentModem() && card && card->m_CallLogging)
                app->OnAddOnStateChanged(app->CurrentModem(), static_cast<BOOL>(lparam));
        }
        return 0;
    case WM_APP:
        *handled = true;
        return 0;
    case WM_ENDSESSION:
        if (wparam) app->StopMonitorUnlessSticky();
        break;
    case WM_DESTROY:
        app->StopMonitorUnlessSticky();
        if (g_timer) KillTimer(hwnd(), kRedetectTimer);
        g_timer = 0;
        app->SetMainWindow(nullptr);
        break;
    default:
        break;
    }
    *handled = false;
    return 0;
}
