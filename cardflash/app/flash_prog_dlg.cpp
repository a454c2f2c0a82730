#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_dialogs.h"
#include "cardflash/flash/at_flash.h"
#include "cardflash/inventory/qorv_error.h"
#include "framework/app.h"

namespace {

bool CommandLineMode(const CConfUtilApp* app) { return app && (app->m_TvlMode || app->m_FlashBoth); }

void CentreOnDesktop(HWND window) {
    RECT r{}, desk{};
    GetWindowRect(window, &r);
    GetWindowRect(GetDesktopWindow(), &desk);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(window, nullptr, desk.left + (desk.right - desk.left - w) / 2, desk.top + (desk.bottom - desk.top - h) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace

CFlashProgDlg::CFlashProgDlg(const CString& packagePath, const CString& pnpId, BOOL noSettings, HWND parent)
    : fw::Dialog(IDD_FLASH_PROGRESS, parent), m_PackagePath(packagePath), m_PnPID(pnpId), m_NoSettings(noSettings) {}

bool CFlashProgDlg::OnInitDialog() {
    SetItemText(IDC_PROG_STATUS, "");
    fw::ProgressBar(Item(IDC_PROG_BAR)).SetRange(0, 100);
    if (CommandLineMode(CConfUtilApp::Get())) {
        ShowWindow(hwnd(), SW_SHOW);
        ShowItem(IDC_PROG_START, false);
        ShowItem(IDC_PROG_CANCEL, false);
        CentreOnDesktop(hwnd());
        fw::Repaint(hwnd());
        Start();
    }
    return true;
}

bool CFlashProgDlg::OnCommand(int id, int code) {
    if (id == IDC_PROG_START) {
        Start();
        return true;
    }
    return fw::Dialog::OnCommand(id, code);
}

void CFlashProgDlg::Start() {
    CConfUtilApp* app = CConfUtilApp::Get();
    EnableWindow(Item(IDC_PROG_START), FALSE);
    EnableWindow(Item(IDC_PROG_CANCEL), FALSE);
    SetItemText(IDC_PROG_STATUS, fw::App::Text(IDS_UPD_PREPARING));
    fw::Repaint(hwnd());
    int result;
    {
        fw::WaitCursor wait;
        app->StopMonitorUnlessSticky();
        CModem* modem = app->CurrentModem();
        CCardInfo* card = app->CurrentCard();
        if (modem && card) {
            CATFlash flash;
            result = flash.Flash(card, CString(), m_PackagePath, &CFlashProgDlg::Progress, modem);
        } else {
            result = -1;  // nothing to flash is no success
        }
    }
    if (result != 0) {
        if (result < 0)
            app->MessageId(IDS_UPD_PORT_IN_USE, MB_OK | MB_ICONEXCLAMATION);
        else
            app->Message(QorvError(result).GetMessage(), MB_OK | MB_ICONEXCLAMATION);
        End(2);
        return;
    }
    SetItemText(IDC_PROG_STATUS, fw::App::Text(IDS_UPD_100));
    fw::Repaint(hwnd());
    if (!CommandLineMode(app) || m_NoSettings) app->MessageId(IDS_UPD_FLASH_DONE, MB_OK | MB_ICONINFORMATION);
    End(IDOK);
}

void CFlashProgDlg::ShowProgress(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    fw::ProgressBar(Item(IDC_PROG_BAR)).SetPos(percent);
    CString text;
    text.Format("%d%%", percent);
    SetItemText(IDC_PROG_STATUS, text);
    fw::Repaint(hwnd());
}

void CFlashProgDlg::Progress(int percent) {
    CConfUtilApp* app = CConfUtilApp::Get();
    if (app && app->m_ProgressDlg && app->m_ProgressDlg->hwnd()) app->m_ProgressDlg->ShowProgress(percent);
}
