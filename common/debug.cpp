// The debug output's state and line layout; no Windows header (see debug_win32.cpp).
#include "common/debug.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/variant.h"

namespace {

// Process-wide and without a lock, as both programs use it: each line is built in the caller's
// buffer, so concurrent lines never mix; only the depth is shared (and kept atomic).
std::atomic<uint32_t> g_mask{1};
std::atomic<uint32_t> g_formFlags{kDebugFormModuleName};
std::atomic<const char*> g_moduleName{"none"};
std::atomic<int> g_nameWidth{11};
std::atomic<DebugOutputProc> g_output{nullptr};
std::atomic<int> g_depth{0};
std::atomic<uint32_t> g_timeBase{0};
std::atomic<bool> g_initialised{false};

const char kBlanks19[] = "                   ";
const char kBlanks23[] = "                       ";

void emit(const char* text) {
    DebugOutputProc proc = g_output.load();
    if (proc) proc(text);
    else common_platform::systemDebugOutput(text);
}

}  // namespace

// Called by commonSetVariant: each program has its own module name until it calls debugInit,
// whose name stays whatever the order of the two calls.
void commonSetVariantState(CommonVariant variant) {
    if (g_initialised) return;
    g_moduleName = variant == CommonVariant::portbridge ? "undefined " : "none";
}

void debugInit(const char* moduleName, uint32_t mask) {
    g_mask = mask & 0x7FFFFFFFu;
    g_nameWidth = 10;
    g_moduleName = moduleName ? moduleName : "";
    g_timeBase = common_platform::tickCount();
    g_initialised = true;
}

void debugSetFormFlags(uint32_t flags) { g_formFlags = flags; }
void debugSetOutputProc(DebugOutputProc proc) { g_output = proc; }
uint32_t debugGetMask() { return g_mask; }
uint32_t debugGetFormFlags() { return g_formFlags; }
int debugGetDepth() { return g_depth; }

void debugCaptureOutput(DebugOutputProc proc) {
    debugSetOutputProc(proc);
    g_timeBase = common_platform::tickCount();
}

bool debugFormatLine(uint32_t traceClass, const char* text, char* out) {
    if ((traceClass & g_mask) == 0) return false;
    if (traceClass & kDebugRaiseDepth) ++g_depth;
    const int depth = g_depth;

    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9lu ",
                  static_cast<unsigned long>(common_platform::tickCount() - g_timeBase));

    int column;
    int prefixLength;
    if (g_formFlags & kDebugFormModuleName) {
        prefixLength = std::snprintf(out, kDebugLineSize, "%8s: %s%s", g_moduleName.load(), stamp, kBlanks19);
        column = g_nameWidth + depth + 10;
    } else {
        prefixLength = std::snprintf(out, kDebugLineSize, "%s%s", stamp, kBlanks23);
        column = depth + 10;
    }
    // The prefix's trailing blanks are the indentation; a cut prefix ends at the buffer.
    if (prefixLength < 0) prefixLength = 0;
    if (prefixLength > kDebugLineSize - 1) prefixLength = kDebugLineSize - 1;
    int position = column < prefixLength ? column : prefixLength;
    // Room for CR LF and the NUL stays at the end whatever the prefix.
    if (position > kDebugLineSize - 3) position = kDebugLineSize - 3;

    const size_t room = static_cast<size_t>(kDebugLineSize - 2 - position);  // text + NUL
    const size_t length = std::strlen(text ? text : "");
    const size_t copied = length < room - 1 ? length : room - 1;
    if (copied) std::memcpy(out + position, text, copied);
    size_t end = static_cast<size_t>(position) + copied;

    if (traceClass & kDebugLowerDepth) {
        int now = --g_depth;
        if (now < 0) g_depth = 0;
    }
    out[end++] = '\r';
    out[end++] = '\n';
    out[end] = '\0';
    return true;
}

void debugPrint(uint32_t traceClass, const char* format, ...) {
    if ((traceClass & g_mask) == 0 || !format) return;
    char text[kDebugLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[kDebugLineSize];
    if (debugFormatLine(traceClass, text, line)) emit(line);
}

void debugHexDump(const void* data, uint16_t length) {
    if (!data) return;
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (unsigned row = 0; row < length; row += 16) {
        char line[16 * 3 + 3 + 16 + 3];
        size_t at = 0;
        const unsigned count = length - row < 16 ? length - row : 16;
        for (unsigned i = 0; i < 16; ++i) {
            if (i < count) {
                line[at++] = kHex[bytes[row + i] >> 4];
                line[at++] = kHex[bytes[row + i] & 15];
            } else {
                line[at++] = ' ';
                line[at++] = ' ';
            }
            line[at++] = ' ';
        }
        line[at++] = ' ';
        line[at++] = '-';
        line[at++] = ' ';
        for (unsigned i = 0; i < count; ++i) {
            const signed char c = static_cast<signed char>(bytes[row + i]);
            line[at++] = c < 32 ? '.' : static_cast<char>(c);
        }
        line[at++] = '\r';
        line[at++] = '\n';
        line[at] = '\0';
        emit(line);
    }
}
