#include <algorithm>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/settings_header.h"
#include "cardflash/app/update_dialogs.h"
#include "cardflash/app/update_routine.h"
#include "cardflash/flash/modemreplies.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/inf_to_reg.h"
#include "cardflash/inventory/qorv_error.h"
#include "framework/app.h"

namespace {

const char kInfSection[] = "Modem1-Upgrade";

bool CommandLineMode(const CConfUtilApp* app) { return app && (app->m_TvlMode || app->m_FlashBoth); }
bool IsNt(const CConfUtilApp* app) { return app->OSInfo().m_PlatformId == VER_PLATFORM_WIN32_NT; }

void CentreOnDesktop(HWND window) {
    RECT r{}, desk{};
    GetWindowRect(window, &r);
    GetWindowRect(GetDesktopWindow(), &desk);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(window, nullptr, desk.left + (desk.right - desk.left - w) / 2, desk.top + (desk.bottom - desk.top - h) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

FILETIME UnixSecondsToFileTime(uint32_t seconds) {
    // 100 ns steps from 1601 to 1970.
    unsigned long long t = (static_cast<unsigned long long>(seconds) + 11644473600ULL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

// The package's status for the INF it carries: its times and attributes.
void ApplyStatus(const CString& path, const SettingsFileStatus& status) {
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        FILETIME created = UnixSecondsToFileTime(status.created), accessed = UnixSecondsToFileTime(status.accessed),
                 written = UnixSecondsToFileTime(status.written);
        SetFileTime(h, &created, &accessed, &written);
        CloseHandle(h);
    }
    DWORD attributes = status.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                            FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

CUpdModSetDlg::CUpdModSetDlg(const std::vector<uint32_t>* kinds, HWND parent)
    : fw::Dialog(IDD_UPDATE_MODEM_SETTINGS, parent) {
    if (kinds) m_Kinds = *kinds;
}

bool CUpdModSetDlg::HasSettings() const {
    auto has = [&](uint32_t k) { return std::find(m_Kinds.begin(), m_Kinds.end(), k) != m_Kinds.end(); };
    return IsNt(CConfUtilApp::Get()) ? has(5) || has(7) : has(4) || has(6);
}

// The modem of the adapter that the [Update] record names; null when that adapter has no modem
// in the list (it is gone, or its modem could not be bound).
CModem* CUpdModSetDlg::RecordedModem() const {
    CConfUtilApp* app = CConfUtilApp::Get();
    const int index = app->IndexOfCard(m_PnPID);
    return index >= 0 ? app->ModemAt(index).m_Modem.get() : nullptr;
}

bool CUpdModSetDlg::PostRebootCheckFails() {
    CConfUtilApp* app = CConfUtilApp::Get();
    // The check runs once, whatever it finds: a later update of this session is no post-reboot run.
    app->m_PostRestart = 0;
    const CString wanted = CUpdateSettings::ReadText(IDS_UPD_NEW_VER);
    const int index = app->IndexOfCard(m_PnPID);
    if (index < 0) {
        // Nothing can be checked or set on an adapter that is not there: TEMP.PAK and the record
        // stay, and the restart is registered again, for a start of Windows with the adapter in
        // place (a plain start of the program runs no check).
        const UINT text = RegisterUpgradeRestart(app) ? IDS_UPD_ADAPTER_GONE : IDS_UPD_ADAPTER_GONE_UNCHECKED;
        app->Message(FormatMessage2(fw::App::Text(text), m_PnPID, wanted), MB_OK | MB_ICONEXCLAMATION);
        return true;
    }
    // The sheet's page fills after this check and shows the selected adapter.
    app->Select(index);
    CModem* modem = app->ModemAt(index).m_Modem.get();
    if (!modem) {
        // The adapter is there but the program cannot talk to its modem: the settings can still be
        // installed, and the end says that the flash was not checked.
        m_NotDone += FormatMessage2(fw::App::Text(IDS_UPD_NOT_CHECKED), wanted, CString());
    } else if (modem->ReadFirmwareVersion() == kModemOk && !modem->m_FirmwareVersion.IsEmpty() &&
               modem->m_FirmwareVersion != wanted) {
        // A modem that says nothing gives no reason to doubt the flasher.
        CCardInfo record(m_PnPID, FALSE);
        CString text = FormatMessage2(
            fw::App::Text(IsNt(app) ? IDS_UPD_FLASHER_FAILED_NT : IDS_UPD_FLASHER_FAILED_9X), record.m_FlashProg, wanted);
        app->Message(text, MB_OK | MB_ICONEXCLAMATION);
        return true;
    }
    DeleteFileA(app->m_ProgramFolder + "\\" + fw::App::Text(IDS_UPD_TEMP_PAK));
    return false;
}

bool CUpdModSetDlg::OnInitDialog() {
    CConfUtilApp* app = CConfUtilApp::Get();
    m_PackagePath = CUpdateSettings::ReadText(IDS_UPD_PATH) + "\\" + CUpdateSettings::ReadText(IDS_UPD_FILE);
    m_PnPID = CUpdateSettings::ReadText(IDS_UPD_PNP);
    m_CountryCode = CUpdateSettings::ReadInt(IDS_UPD_COUNTRY, 181);

    if (app->m_PostRestart && PostRebootCheckFails()) {
        End(2);
        return true;
    }

    if (m_Package.SetFile(m_PackagePath) == 0 && m_Package.SelectForCard(m_PnPID, RecordedModem()) == 0 &&
        m_Kinds.empty())
        m_Package.GetSectionKinds(&m_Kinds);
    const bool settings = HasSettings();
    SetItemText(IDC_MODSET_STATUS, "");

    if (CommandLineMode(app)) {
        if (!settings) {
            End(IDOK);
            return true;
        }
        ShowWindow(hwnd(), SW_SHOW);
        CentreOnDesktop(hwnd());
        fw::Repaint(hwnd());
        Update();
        return true;
    }
    if (!settings) {
        ReportDone();
        End(IDOK);
    }
    return true;
}

// The end of a good update; what had to be left out is said, not passed over.
void CUpdModSetDlg::ReportDone() {
    CConfUtilApp* app = CConfUtilApp::Get();
    if (m_NotDone.IsEmpty())
        app->MessageId(IDS_UPD_DONE, MB_OK | MB_ICONINFORMATION);
    else
        app->Message(FormatMessage2(fw::App::Text(IDS_UPD_DONE_PARTLY), m_NotDone, CString()), MB_OK | MB_ICONEXCLAMATION);
}

bool CUpdModSetDlg::OnCommand(int id, int code) {
    if (id == IDC_MODSET_UPDATE) {
        Update();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return fw::Dialog::OnCommand(id, code);
}

void CUpdModSetDlg::OnCancel() {
    if (CConfUtilApp::Get()->MessageId(IDS_UPD_CANCEL_SETTINGS, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        End(IDCANCEL);
}

void CUpdModSetDlg::Update() {
    CConfUtilApp* app = CConfUtilApp::Get();
    EnableWindow(Item(IDC_MODSET_UPDATE), FALSE);
    EnableWindow(Item(IDC_MODSET_CANCEL), FALSE);
    SetItemText(IDC_MODSET_STATUS, fw::App::Text(IDS_UPD_SAVING_INF));
    fw::Repaint(hwnd());

    const unsigned char* data = nullptr;
    MpkSettingsHeader header{};
    int length = 0;
    int code = m_Package.LoadSection(&data, &header, &length, IsNt(app) ? 5 : 4);
    if (code != 0) {
        app->Message(QorvError(code).GetMessage(), MB_OK | MB_ICONEXCLAMATION);
        End(2);
        return;
    }
    SettingsFileStatus status;
    CString inf;
    bool saved = ParseSettingsHeader(header.bytes, sizeof(header.bytes), &status);
    if (saved) {
        inf = app->m_ProgramFolder + "\\" + CString(status.infName.c_str());
        // The INF of an earlier upgrade may carry the read-only attribute: it must not stop this one.
        DWORD old = GetFileAttributesA(inf);
        if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesA(inf, old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        saved = CMPKFile::WriteSectionFile(data, inf, length);
    }
    if (!saved) {
        app->MessageId(IDS_UPD_INF_FAILED, MB_OK | MB_ICONEXCLAMATION);
        End(2);
        return;
    }
    ApplyStatus(inf, status);

    SetItemText(IDC_MODSET_STATUS, fw::App::Text(IDS_UPD_REGISTRY));
    fw::Repaint(hwnd());
    // A positive result is a failure; -1 (Windows NT, no responses key name) leaves the section
    // installed.
    if (CInfToReg().Install(m_PnPID, CString(status.infName.c_str()), app->m_ProgramFolder, "Modem", kInfSection) > 0) {
        app->MessageId(IDS_UPD_REGISTRY_FAILED, MB_OK | MB_ICONEXCLAMATION);
        End(2);
        return;
    }
    // The code goes to the modem of the adapter the record names. A code that was never read
    // (-1) has nothing to give back; any other that is no country code, or no modem to take it,
    // is told with the end.
    CString countryCommand;
    CModem* modem = RecordedModem();
    if (m_CountryCode != -1) {
        if (!CountryCodeCommand(m_CountryCode, countryCommand)) {
            CString code;
            code.Format("%d", m_CountryCode);
            m_NotDone += FormatMessage2(fw::App::Text(IDS_UPD_COUNTRY_INVALID), code, CString());
        } else if (!modem) {
            m_NotDone += fw::App::Text(IDS_UPD_COUNTRY_NO_MODEM);
        } else if (modem->SetCountryCode(m_CountryCode) != kModemOk) {
            app->MessageId(IDS_UPD_COUNTRY_FAILED, MB_OK | MB_ICONEXCLAMATION);
            End(2);
            return;
        }
    }
    ReportDone();
    End(IDOK);
}
