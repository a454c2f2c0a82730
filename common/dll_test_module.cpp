// Test module: a DLL built from the exported objects of common/, as msgcore is, plus one function
// that writes a debug line from inside the DLL.
#include "common/debug.h"

extern "C" __declspec(dllexport) void commonTestModulePrint(const char* text) { debugPrint(1, "%s", text); }
