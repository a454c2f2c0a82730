// TMutex: one unnamed, recursive mutex (a Win32 mutex; the native build uses a recursive standard
// mutex). The header includes no Windows header, so the list classes stay portable.
//
//   TMutex m;  m.init();  m.enter(); ... m.leave();
//
// init() returns 0, or the variant's creation failure code (8 in msgcore, 0xC000009A in
// portbridge, see common/variant.h). enter and leave do nothing without a handle. Not copyable.
#pragma once

#include <cstdint>

#include "common/common_api.h"

class COMMON_API TMutex {
public:
    TMutex() = default;
    ~TMutex();
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    // 0 when a handle exists already or was created; else the failure code of the variant.
    uint32_t init();
    void enter();
    void leave();
    bool isOpen() const { return handle_ != nullptr; }

    // The code init() gives for a failed creation in the running variant.
    static uint32_t creationFailureCode();

private:
    void* handle_ = nullptr;
};

// Platform side of TMutex (tmutex_win32.cpp, or the native build's stand-in).
namespace common_platform {
void* mutexCreate();  // nullptr on failure
void mutexWait(void* handle);
void mutexRelease(void* handle);
void mutexClose(void* handle);
}  // namespace common_platform
