// The debug output of portbridge and msgcore: process-wide, lines filtered by a trace-class word
// against a mask, stamped with the milliseconds since a time base, prefixed with the module name,
// indented, and handed one by one (with CR LF) to an output procedure, by default the system
// debug channel (OutputDebugStringA).
//
//   debugInit("msgcore", 0xFFFFFFFF);           // mask 0x7FFFFFFF, name width 10, time base now
//   debugPrint(0xA5, "connect %d", n);          // "  msgcore:       123 connect 1\r\n"
//   debugCaptureOutput(myProc);                 // lines go to myProc (null: the system channel)
//
// Line layout: with form flag bit 0, "%8s: " + "%9lu " stamp, the text at column
// name width + depth + 10; without it, the stamp only, the text at column depth + 10. Class bit
// 0x40000000 raises the depth before the line, 0x20000000 lowers it after (never below 0).
// A line holds at most 157 characters before its CR LF.
//
// The formatting and the state include no Windows header (debug.cpp); the default procedure, the
// capture of another module's output and the debug-monitor writer are in debug_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/common_api.h"

// Receives every finished line and every dump row, NUL-terminated.
typedef void (*DebugOutputProc)(const char* text);

constexpr uint32_t kDebugRaiseDepth = 0x40000000u;
constexpr uint32_t kDebugLowerDepth = 0x20000000u;
constexpr uint32_t kDebugFormModuleName = 1u;  // form flag: module name in front of the line
constexpr int kDebugLineSize = 160;            // line buffer, NUL included

// mask := mask AND 0x7FFFFFFF, name width := 10, module name := name (kept, not copied),
// time base := now.
COMMON_API void debugInit(const char* moduleName, uint32_t mask);
COMMON_API void debugPrint(uint32_t traceClass, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Rows of 16 bytes: "XX " per byte (blanks for missing ones), " - ", the bytes as characters
// ('.' below 32 as a signed char), CR LF. No class test, no stamp.
COMMON_API void debugHexDump(const void* data, uint16_t length);
COMMON_API void debugSetFormFlags(uint32_t flags);
// Null restores the system debug channel.
COMMON_API void debugSetOutputProc(DebugOutputProc proc);
COMMON_API uint32_t debugGetMask();
COMMON_API uint32_t debugGetFormFlags();
COMMON_API int debugGetDepth();

extern "C" {
// debugSetOutputProc, then time base := now. msgcore exports it under this name.
COMMON_API void debugCaptureOutput(DebugOutputProc proc);
}

// Finds the loaded module `moduleName` and its export "debugCaptureOutput" and calls it with
// `proc`: 1, or 0 when the module or the export is missing.
COMMON_API int debugCaptureModuleOutput(const char* moduleName, DebugOutputProc proc);

// An output procedure that also writes the line to a running debug monitor (events
// "DBWIN_BUFFER_READY" and "DBWIN_DATA_READY", section "DBWIN_BUFFER"): the process id first, the
// text after it. It waits at most kDebugMonitorWaitMs for the monitor and drops the line then.
constexpr uint32_t kDebugMonitorWaitMs = 2000;
COMMON_API void debugMonitorOutput(const char* text);

// The debug line builder itself, for callers that format elsewhere: writes the finished line
// (CR LF included) for `text` at the current state into `out` (kDebugLineSize bytes) and applies
// the depth bits. Returns false, writing nothing, when the class is masked out.
COMMON_API bool debugFormatLine(uint32_t traceClass, const char* text, char* out);

// Platform side (debug_win32.cpp, or the native build's stand-in).
namespace common_platform {
uint32_t tickCount();                  // milliseconds, wrapping
void systemDebugOutput(const char* text);  // the default output procedure
}  // namespace common_platform
