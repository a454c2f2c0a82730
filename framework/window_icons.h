// A program window's own icon in its two sizes, from the program's resources: set on the window,
// drawn in the middle of it while it is minimised, given as its drag image, and destroyed with it.
#pragma once

#include <windows.h>

namespace fw {

class WindowIcons {
public:
    WindowIcons() = default;
    ~WindowIcons() { Release(); }
    WindowIcons(const WindowIcons&) = delete;
    WindowIcons& operator=(const WindowIcons&) = delete;

    // Loads the 32- and 16-pixel images of icon `id` (once) and sets them on `window`.
    void Apply(HWND window, UINT id);
    // The minimised window's paint and its drag icon: true when `msg` is answered here, with the
    // window procedure's result in *result. WM_DESTROY destroys the icons and is left to the
    // window's own handling (false).
    bool OnMessage(HWND window, UINT msg, INT_PTR* result);

private:
    void Release();

    HICON big_ = nullptr;
    HICON small_ = nullptr;
};

}  // namespace fw
