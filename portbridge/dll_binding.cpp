#include "portbridge/dll_binding.h"

#include <windows.h>

#include <cstring>

namespace portbridge {

void CDllBinding::unload() {
    if (module_) FreeLibrary(static_cast<HMODULE>(module_));
    module_ = nullptr;
}

uint32_t CDllBinding::load(const char* fileName) {
    unload();
    const UINT before = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE m = LoadLibraryA(fileName ? fileName : "");
    const DWORD error = m ? 0 : GetLastError();
    SetErrorMode(before);
    if (!m) return error ? error : ERROR_MOD_NOT_FOUND;
    module_ = m;
    std::strncpy(name_, fileName, sizeof(name_) - 1);
    return 0;
}

void* CDllBinding::entryPoint(const char* name) {
    if (!module_) return nullptr;
    void* p = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name));
    if (!p) ++missing_;
    return p;
}

int CDllBinding::captureDebugOutput(DebugOutputProc proc) {
    if (!module_) return 0;
    using Capture = void (*)(DebugOutputProc);
    Capture capture = reinterpret_cast<Capture>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), "debugCaptureOutput")));
    if (!capture) return 0;
    capture(proc);
    return 1;
}

}  // namespace portbridge
