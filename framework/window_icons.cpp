#include "framework/window_icons.h"

namespace fw {

void WindowIcons::Apply(HWND window, UINT id) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    if (!big_) big_ = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, 0));
    if (!small_) small_ = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_));
}

bool WindowIcons::OnMessage(HWND window, UINT msg, INT_PTR* result) {
    if (msg == WM_PAINT && IsIconic(window) && big_) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2, (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                 big_);
        EndPaint(window, &ps);
        *result = 0;
        return true;
    }
    if (msg == WM_QUERYDRAGICON) {
        *result = reinterpret_cast<INT_PTR>(big_);
        return true;
    }
    if (msg == WM_DESTROY) Release();
    return false;
}

void WindowIcons::Release() {
    if (big_) DestroyIcon(big_);
    if (small_) DestroyIcon(small_);
    big_ = small_ = nullptr;
}

}  // namespace fw
