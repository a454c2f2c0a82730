// TMutex over an unnamed Win32 mutex (recursive: the owner may enter again).
#include <windows.h>

#include "common/tmutex.h"

namespace common_platform {

void* mutexCreate() { return CreateMutexA(nullptr, FALSE, nullptr); }
void mutexWait(void* handle) { WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE); }
void mutexRelease(void* handle) { ReleaseMutex(static_cast<HANDLE>(handle)); }
void mutexClose(void* handle) { CloseHandle(static_cast<HANDLE>(handle)); }

}  // namespace common_platform
