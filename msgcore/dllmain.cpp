// The library entry: the debug output starts when a process loads msgcore.
#include <windows.h>

#include "common/debug.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) debugInit("msgcore", 0xFFFFFFFF);
    return TRUE;
}
