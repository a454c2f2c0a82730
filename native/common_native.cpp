// The native build's stand-ins for the OS side of common/: a recursive standard mutex for TMutex,
// a steady clock for the debug stamps, and no system debug channel (lines are dropped unless
// captured).
#include <chrono>
#include <cstdint>
#include <mutex>

#include "common/debug.h"
#include "common/tmutex.h"

namespace common_platform {

void* mutexCreate() { return new std::recursive_mutex; }
void mutexWait(void* handle) { static_cast<std::recursive_mutex*>(handle)->lock(); }
void mutexRelease(void* handle) { static_cast<std::recursive_mutex*>(handle)->unlock(); }
void mutexClose(void* handle) { delete static_cast<std::recursive_mutex*>(handle); }

uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void systemDebugOutput(const char*) {}

}  // namespace common_platform

int debugCaptureModuleOutput(const char*, DebugOutputProc) { return 0; }
void debugMonitorOutput(const char* text) { common_platform::systemDebugOutput(text); }
