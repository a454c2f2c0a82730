// The OS side of the debug output: the clock, the system debug channel, the capture of another
// module's output and the debug-monitor writer.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/debug.h"

namespace common_platform {

uint32_t tickCount() { return GetTickCount(); }

void systemDebugOutput(const char* text) { OutputDebugStringA(text); }

}  // namespace common_platform

int debugCaptureModuleOutput(const char* moduleName, DebugOutputProc proc) {
    HMODULE module = moduleName ? GetModuleHandleA(moduleName) : nullptr;
    if (!module) return 0;
    typedef void (*CaptureProc)(DebugOutputProc);
    CaptureProc capture = reinterpret_cast<CaptureProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "debugCaptureOutput")));
    if (!capture) return 0;
    capture(proc);
    return 1;
}

namespace {

// Closes what it holds; the monitor writer opens everything afresh for each line, so a monitor
// that starts or ends between lines is seen.
struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h) CloseHandle(h);
    }
};

struct View {
    void* p = nullptr;
    ~View() {
        if (p) UnmapViewOfFile(p);
    }
};

// The part of the monitor's section a writer fills: the writer's process id, then the text.
const DWORD kMonitorViewSize = 512;

}  // namespace

void debugMonitorOutput(const char* text) {
    if (!text) text = "";
    OutputDebugStringA(text);

    Handle bufferReady, dataReady;
    // Waiting needs SYNCHRONIZE besides the right to set the event.
    bufferReady.h = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
    if (!bufferReady.h) return;
    dataReady.h = OpenEventA(EVENT_MODIFY_STATE, FALSE, "DBWIN_DATA_READY");
    if (!dataReady.h) return;

    Handle section;
    section.h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    if (!section.h) return;
    View view;
    view.p = MapViewOfFile(section.h, FILE_MAP_WRITE, 0, 0, kMonitorViewSize);
    if (!view.p) return;

    // A monitor that stopped reading must not hold the program: the line is dropped.
    if (WaitForSingleObject(bufferReady.h, kDebugMonitorWaitMs) != WAIT_OBJECT_0) return;
    char* buffer = static_cast<char*>(view.p);
    const DWORD pid = GetCurrentProcessId();
    std::memcpy(buffer, &pid, sizeof pid);
    std::snprintf(buffer + sizeof pid, kMonitorViewSize - sizeof pid, "%s", text);
    SetEvent(dataReady.h);
}
