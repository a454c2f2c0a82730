#include "dialconf/trace.h"

#include <windows.h>

namespace {
bool g_trace = false;
}

void SetTraceOn(bool on) { g_trace = on; }
bool TraceOn() { return g_trace; }

void Trace(const CString& text) {
    if (g_trace) MessageBoxA(GetActiveWindow(), text, "dialconf", MB_OK);
}
