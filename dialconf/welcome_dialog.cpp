#include "dialconf/welcome_dialog.h"

#include "dialconf/resource.h"
#include "framework/app.h"

CWelcomeDialog::CWelcomeDialog() : fw::Dialog(IDD_WELCOME) {}

bool CWelcomeDialog::OnInitDialog() {
    AddSystemMenuEntry(IDM_ABOUT, fw::App::Text(IDS_ABOUT));
    icon_ = LoadIcon(nullptr, IDI_APPLICATION);
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    return true;
}

bool CWelcomeDialog::OnSysCommand(UINT command) {
    if (command != IDM_ABOUT) return false;
    fw::Dialog about(IDD_ABOUT, hwnd());
    about.DoModal();
    return true;
}

INT_PTR CWelcomeDialog::OnMessage(UINT msg, WPARAM, LPARAM, bool* handled) {
    *handled = false;
    if (msg == WM_PAINT && IsIconic(hwnd())) {
        // Minimised, the window is only its icon: draw it in the middle.
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        RECT r;
        GetClientRect(hwnd(), &r);
        int x = (r.right - r.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (r.bottom - r.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
        EndPaint(hwnd(), &ps);
        *handled = true;
        return TRUE;
    }
    if (msg == WM_QUERYDRAGICON) {
        *handled = true;
        return reinterpret_cast<INT_PTR>(icon_);
    }
    return 0;
}
