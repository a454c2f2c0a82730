// What the C API's files share inside msgcore.
#pragma once

#include <windows.h>

// isdnInit's translation of the port's codes into Win32-style ones.
DWORD msgcoreMapInitResult(DWORD code);
// How long isdnClose waits for a connected call to end.
inline DWORD msgcoreCloseWaitMs() { return 10000; }
