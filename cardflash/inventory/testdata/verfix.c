/* A library with a version resource and a "DllGetVersion" export, for the file-version tests. */
#include <windows.h>

typedef struct {
    DWORD cbSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformID;
} VersionRecord;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module; (void)reason; (void)reserved;
    return TRUE;
}

HRESULT CALLBACK DllGetVersion(VersionRecord* v) {
    if (!v || v->cbSize != sizeof(VersionRecord)) return E_INVALIDARG;
    v->dwMajorVersion = 4;
    v->dwMinorVersion = 72;
    v->dwBuildNumber = 3110;
    v->dwPlatformID = 1;
    return S_OK;
}
