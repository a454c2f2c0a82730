#include "patchkit/update_dlg.h"

#include "framework/app.h"
#include "patchkit/cleanup.h"
#include "patchkit/resource.h"

UpdateAboutDlg::UpdateAboutDlg() : fw::Dialog(IDD_ABOUT) {}

UpdateDlg::UpdateDlg(bool quiet) : fw::Dialog(IDD_UPDATE), quiet_(quiet) {}

void UpdateDlg::SetIcons() { icons_.Apply(hwnd(), IDI_PATCHKIT); }

bool UpdateDlg::OnInitDialog() {
    if (quiet_) {
        OldInstallCleaner::RemoveModemClassEntries();
        End(1);
    } else {
        SetIcons();
    }
    OldInstallCleaner::RemoveModemClassEntries();
    CString about = fw::App::Text(IDS_ABOUT);
    if (!about.IsEmpty()) AddSystemMenuEntry(IDM_ABOUT, about);
    SetIcons();
    if (!quiet_) ShowWindow(hwnd(), SW_SHOW);
    return true;
}

bool UpdateDlg::OnSysCommand(UINT command) {
    if (command != IDM_ABOUT) return false;
    UpdateAboutDlg about;
    about.DoModal();
    return true;
}

INT_PTR UpdateDlg::OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) {
    INT_PTR result = 0;
    if (icons_.OnMessage(hwnd(), msg, &result)) {
        *handled = true;
        return result;
    }
    return fw::Dialog::OnMessage(msg, wparam, lparam, handled);
}
