// A program that opens one port through msgcore and ends with isdnInit's result as its exit code.
// The tests start it where the CAPI library is missing or incomplete.
#include "msgcore/msgcore.h"

int main() {
    ISDN_PORT port = nullptr;
    DWORD rc = isdnInit(&port, 1, 2048);
    if (rc == 0) isdnDone(port);
    return int(rc);
}
