// portbridge.exe: the terminal adapter's CAPI provider, a background process with one hidden
// window (provider_window.h).
#include <windows.h>

#include "portbridge/provider_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return runProviderProcess(instance, processProvider());
}
