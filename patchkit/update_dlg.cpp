#include "patchkit/update_dlg.h"

#include "framework/app.h"
#include "patchkit/cleanup.h"
#include "patchkit/resource.h"

UpdateAboutDlg::UpdateAboutDlg() : fw::Dialog(IDD_ABOUT) {}

UpdateDlg::UpdateDlg(bool quiet) : fw::Dialog(IDD_UPDATE), quiet_(quiet) {}

void UpdateDlg::SetIcons() {
    HINSTANCE self = GetModuleHandleA(nullptr);
    if (!icon_) icon_ = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(IDI_PATCHKIT), IMAGE_ICON, 32, 32, 0));
    if (!small_icon_)
        small_icon_ = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(IDI_PATCHKIT), IMAGE_ICON, 16, 16, 0));
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
}

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
    if (msg == WM_PAINT && IsIconic(hwnd()) && icon_) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        RECT r;
        GetClientRect(hwnd(), &r);
        DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2, (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                 icon_);
        EndPaint(hwnd(), &ps);
        *handled = true;
        return 0;
    }
    if (msg == WM_QUERYDRAGICON) {
        *handled = true;
        return reinterpret_cast<INT_PTR>(icon_);
    }
    if (msg == WM_DESTROY) {
        if (icon_) DestroyIcon(icon_);
        if (small_icon_) DestroyIcon(small_icon_);
        icon_ = small_icon_ = nullptr;
    }
    return fw::Dialog::OnMessage(msg, wparam, lparam, handled);
}
