#include "cardflash/app/flash_dlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_routine.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_card_match.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "framework/app.h"
#include "framework/dialog.h"

namespace {

const char kAddOnRecord[] = "ISDN";
// Combo lines that stand for no adapter carry this instead of a modem-list index.
constexpr LPARAM kNoEntry = -1;

// "C:" names the drive's current folder; the page means its root.
CString FolderForSearch(const CString& folder) {
    return folder.Right(1) == ":" ? folder + "\\" : folder;
}

}  // namespace

CFlashDlg::CFlashDlg() : fw::PropertyPage(IDD_UPDATE_PAGE) {}

void CFlashDlg::RestartVersionRead(CFlashDlg* page) {
    if (page && page->hwnd() && !page->m_SystemChanging) page->StartVersionRead();
}

bool CFlashDlg::OnInitDialog() {
    CConfUtilApp::SetUpdatePage(hwnd());
    SetPageVersionReadRestart(&CFlashDlg::RestartVersionRead);
    fw::ListView files(Item(IDC_UPD_FILES));
    files.AddColumn(0, fw::App::Text(IDS_PAGE_COL_FILE), 105);
    files.AddColumn(1, fw::App::Text(IDS_PAGE_COL_VERSION), 55);
    files.AddColumn(2, fw::App::Text(IDS_PAGE_COL_INFO), 170);
    SendMessageA(Item(IDC_UPD_FILES), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

    char current[512] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(current), current);
    m_Folder = CUpdateSettings::ReadPath(n > 0 && n < sizeof(current) ? CString(current) : CString());
    SetItemText(IDC_UPD_FOLDER, m_Folder);
    SetCurrentDirectoryA(FolderForSearch(m_Folder));
    // On the run after the DOS flasher's reboot the sheet checks the recorded adapter first and
    // selects it: the page fills once that is done (kAppCheckDone), so that its queries and its
    // list start on the adapter the combo shows.
    if (CConfUtilApp::Get()->m_PostRestart)
        EnableControls(FALSE, FALSE, FALSE);
    else
        FillAdapterCombo();
    return true;
}

void CFlashDlg::EnableControls(BOOL update, BOOL browse, BOOL list) {
    EnableWindow(Item(IDC_UPD_UPDATE), update);
    EnableWindow(Item(IDC_UPD_BROWSE), browse);
    EnableWindow(Item(IDC_UPD_FILES), list);
}

void CFlashDlg::FillAdapterCombo() {
    CConfUtilApp* app = CConfUtilApp::Get();
    m_SystemChanging = 0;
    m_VersionBusy = 0;
    SetItemText(IDC_UPD_STATUS, "");
    SetItemText(IDC_UPD_MODEM_STATE, "");
    fw::ListView(Item(IDC_UPD_FILES)).Clear();
    fw::ComboList combo(Item(IDC_UPD_ADAPTERS));
    combo.Reset();
    // Each line carries its modem-list index: entries without a modem have no line, so line and
    // entry numbers part after the first of those.
    for (int i = 0; i < app->ModemCount(); ++i) {
        const CModemInfo& entry = app->ModemAt(i);
        if (entry.m_Card && entry.m_Modem) combo.Add(entry.m_Card->m_DeviceDesc, i);
    }
    EnableControls(FALSE, FALSE, FALSE);
    if (combo.Count() > 0) {
        int line = combo.FindData(app->SelectedIndex());
        if (line < 0) {
            line = 0;
            app->Select(static_cast<int>(combo.ItemData(0)));
        }
        combo.Select(line);
        OnAdapterChosen();
    } else {
        combo.Select(combo.Add(fw::App::Text(IDS_PAGE_NO_ADAPTERS), kNoEntry));
    }
}

BOOL CFlashDlg::OnAdapterChosen() {
    CCardInfo* card = CConfUtilApp::Get()->CurrentCard();
    if (card && card->m_FlashModeAT) {
        StartVersionRead();
        StartCapabilityQuery();
        return TRUE;
    }
    EnableControls(FALSE, FALSE, FALSE);
    if (card) SetItemText(IDC_UPD_STATUS, fw::App::Text(IDS_PAGE_NO_UPDATE));
    return FALSE;
}

BOOL CFlashDlg::StartVersionRead() {
    CModem* modem = CConfUtilApp::Get()->CurrentModem();
    if (!modem) return FALSE;
    m_VersionPending = 1;
    if (modem->StartReadFirmwareVersion(hwnd()) != kModemOk) {
        m_VersionPending = 0;  // no thread, no answer to wait for
        return FALSE;
    }
    SetItemText(IDC_UPD_MODEM_STATE, fw::App::Text(IDS_PAGE_RETRIEVING));
    return TRUE;
}

void CFlashDlg::StartCapabilityQuery() {
    fw::ListView(Item(IDC_UPD_FILES)).Clear();
    CModem* modem = CConfUtilApp::Get()->CurrentModem();
    if (!modem) return;
    m_CapabilityPending = 1;
    if (modem->StartCheckFirmwareLevel(hwnd()) != kModemOk) m_CapabilityPending = 0;
}

void CFlashDlg::HandleModemResult(int code, int result) {
    CConfUtilApp* app = CConfUtilApp::Get();
    CModem* modem = app->CurrentModem();
    CCardInfo* card = app->CurrentCard();
    if (!modem || !card || !card->m_FlashModeAT) return;
    // The modems are about to be rebuilt: a late answer must not bring the controls back.
    if (m_SystemChanging) return;
    if (code == kOpAddOnChanged) {
        app->OnAddOnStateChanged(modem, result);
        return;
    }
    if (code != kOpReadFirmwareVersion && code != kOpCheckFirmwareLevel) return;
    const bool version = code == kOpReadFirmwareVersion;
    int& busy = version ? m_VersionBusy : m_CapabilityBusy;
    int& pending = version ? m_VersionPending : m_CapabilityPending;
    const int& otherPending = version ? m_CapabilityPending : m_VersionPending;

    // A modem below the in-place level answers the capability query with 121: that is its answer
    // (the DOS flasher's road), not a failure to try again.
    if (result == kModemOk || (!version && result == kModemFirmwareOld)) {
        busy = 0;
        pending = 0;
        m_Failures = 0;
        if (!otherPending) {
            SetItemText(IDC_UPD_MODEM_STATE, modem->m_FirmwareVersion);
            FillFileList();
        }
        return;
    }
    if (result == kModemNotOpen) {
        // Another program holds the port: park until the monitor sees it free.
        busy = 1;
        app->StartMonitorSticky();
        if (version) SetItemText(IDC_UPD_MODEM_STATE, fw::App::Text(IDS_PAGE_MODEM_IN_USE));
        return;
    }
    busy = 0;
    if (m_Failures++ < 2) {
        if (version)
            StartVersionRead();
        else
            StartCapabilityQuery();
        return;
    }
    // Given up: nothing runs any more, so the other query's answer may fill the list.
    m_Failures = 0;
    pending = 0;
    if (version) SetItemText(IDC_UPD_MODEM_STATE, fw::App::Text(IDS_PAGE_COMM_ERROR));
}

void CFlashDlg::FillFileList() {
    CConfUtilApp* app = CConfUtilApp::Get();
    CModem* modem = app->CurrentModem();
    CCardInfo* card = app->CurrentCard();
    // While the system changes the modems are about to be rebuilt: nothing may be offered on
    // them. The refill after the re-detection lists the folder.
    if (!modem || m_SystemChanging) return;
    SetItemText(IDC_UPD_STATUS, fw::App::Text(IDS_PAGE_DETERMINING));
    EnableWindow(Item(IDC_UPD_FILES), FALSE);
    fw::ListView files(Item(IDC_UPD_FILES));
    files.Clear();
    fw::Repaint(hwnd());

    CMPKList packages;
    CMpkCardResolver resolver(modem);
    if (modem->m_AddOn)
        packages.Scan(FolderForSearch(m_Folder), CString(kAddOnRecord), mpk::kKindAddOnImage, &resolver);
    else
        packages.Scan(FolderForSearch(m_Folder), card ? card->m_PnPID : CString(), mpk::kKindImage, &resolver);
    const CStringArray& names = packages.GetFiles();
    for (int i = 0; i < names.GetSize() && !names[i].IsEmpty(); ++i) {
        int item = files.Add(names[i]);
        files.SetText(item, 1, packages.GetVersions()[i]);
        files.SetText(item, 2, packages.GetDescriptions()[i]);
    }
    EnableWindow(Item(IDC_UPD_BROWSE), TRUE);
    EnableWindow(Item(IDC_UPD_FILES), TRUE);
    SetItemText(IDC_UPD_STATUS, "");
    if (files.Count() > 0) {
        files.SelectAndFocus(0);
        EnableWindow(Item(IDC_UPD_UPDATE), TRUE);
    } else {
        EnableWindow(Item(IDC_UPD_UPDATE), FALSE);
        files.Add(fw::App::Text(IDS_PAGE_NO_FILES));
    }
}

void CFlashDlg::OnUpdate() {
    CConfUtilApp* app = CConfUtilApp::Get();
    CModem* modem = app->CurrentModem();
    if (!modem || !app->CurrentCard() || m_SystemChanging) return;
    m_Folder = ItemText(IDC_UPD_FOLDER);
    fw::ListView files(Item(IDC_UPD_FILES));
    int item = files.FirstSelected();
    CString file = item >= 0 ? files.Text(item, 0) : CString();
    m_SelectedItem = item;
    PerformUpdate(modem, file, m_Folder, this);
}

void CFlashDlg::OnBrowse() {
    CString folder = ItemText(IDC_UPD_FOLDER);
    if (folder.Right(1) == ":") folder += "\\";
    SetCurrentDirectoryA(folder);
    fw::FileOpenDialog dialog(fw::App::Text(IDS_PAGE_FILTER), fw::App::Text(IDS_PAGE_BROWSE_TITLE),
                              OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, SheetWindow());
    if (!dialog.DoModal(folder)) return;
    const CString& path = dialog.PathName();
    int slash = path.ReverseFind('\\');
    m_Folder = slash >= 0 ? path.Left(slash) : path;
    SetItemText(IDC_UPD_FOLDER, m_Folder);
    FillFileList();
}

bool CFlashDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_UPD_UPDATE:
        if (code == BN_CLICKED) OnUpdate();
        return true;
    case IDC_UPD_BROWSE:
        if (code == BN_CLICKED) OnBrowse();
        return true;
    case IDC_UPD_ADAPTERS:
        if (code == CBN_SELCHANGE) {
            fw::ComboList combo(Item(IDC_UPD_ADAPTERS));
            int line = combo.Selection();
            CConfUtilApp::Get()->Select(line >= 0 ? static_cast<int>(combo.ItemData(line)) : -1);
            OnAdapterChosen();
        }
        return true;
    default:
        return fw::PropertyPage::OnCommand(id, code);
    }
}

LRESULT CFlashDlg::OnNotify(NMHDR* header, bool* handled) {
    *handled = false;
    if (header && header->idFrom == IDC_UPD_FILES && header->code == NM_DBLCLK) {
        if (IsWindowEnabled(Item(IDC_UPD_UPDATE))) OnUpdate();
        *handled = true;
    }
    return 0;
}

void CFlashDlg::OnAppNote(WPARAM what) {
    CConfUtilApp* app = CConfUtilApp::Get();
    switch (what) {
    case kAppRedetected:
    case kAppRedetectedAfterRemoval:
        FillAdapterCombo();
        break;
    case kAppAdapterRemoved:
    case kAppSystemChanging: {
        m_SystemChanging = 1;
        fw::ComboList combo(Item(IDC_UPD_ADAPTERS));
        combo.Reset();
        combo.Select(combo.Add(fw::App::Text(IDS_PAGE_SYSTEM_CHANGING), kNoEntry));
        // Nothing may start on modems that are about to go.
        EnableControls(FALSE, FALSE, FALSE);
        break;
    }
    case kAppCheckDone:
        // A device change during the check is followed by its own refill.
        if (!m_SystemChanging) FillAdapterCombo();
        break;
    case kAppPortFree:
        if (!app->CurrentModem() || m_SystemChanging) break;
        if (m_VersionBusy) {
            m_VersionBusy = 0;
            StartVersionRead();
        }
        if (m_CapabilityBusy) {
            m_CapabilityBusy = 0;
            StartCapabilityQuery();
        }
        break;
    default:
        break;
    }
}

INT_PTR CFlashDlg::OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) {
    switch (msg) {
    case WM_USER:
        // WM_USER with wParam 0 is the dialog manager's question for the default button: the
        // operations' reports all carry their code.
        if (wparam == 0) break;
        HandleModemResult(static_cast<int>(wparam), static_cast<int>(lparam));
        *handled = true;
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_APP:
        OnAppNote(wparam);
        *handled = true;
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_DESTROY:
        CUpdateSettings::WritePath(m_Folder);
        if (CConfUtilApp::UpdatePage() == hwnd()) CConfUtilApp::SetUpdatePage(nullptr);
        break;
    default:
        break;
    }
    *handled = false;
    return 0;
}
