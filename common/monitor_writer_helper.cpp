// Test helper: writes its command line's text to the debug monitor through the debug output, as
// portbridge's output procedure does, and ends.
#include <windows.h>

#include "common/debug.h"

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc != 2) return 2;
    debugInit("serlinksp", 0xFFFFFFFF);
    debugSetOutputProc(debugMonitorOutput);
    debugPrint(1, "%s", argv[1]);
    return 0;
}
