// Test helper: writes its command line's text to the debug monitor through the debug output, as
// portbridge's output procedure does, and ends. With "preinit" it writes as portbridge before
// its debug output is started (module name and width as they are before init).
#include <windows.h>

#include <cstring>

#include "common/debug.h"
#include "common/variant.h"

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc < 2) return 2;
    commonSetVariant(CommonVariant::portbridge);
    if (argc < 3 || std::strcmp(argv[2], "preinit") != 0) debugInit("serlinksp", 0xFFFFFFFF);
    debugSetOutputProc(debugMonitorOutput);
    debugPrint(1, "%s", argv[1]);
    return 0;
}
