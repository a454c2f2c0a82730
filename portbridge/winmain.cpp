// portbridge.exe: the terminal adapter's CAPI provider, a background process with one hidden
// window (provider_window.h).
#include <windows.h>

#include "common/stage_clock_win32.h"
#include "portbridge/provider_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Stage stamps go to a measuring program's clock section when one is there, else nowhere.
    stageclock::attach();
    return runProviderProcess(instance, processProvider());
}
