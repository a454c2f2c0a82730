/* msgcore: a connection-oriented CAPI 2.0 client library. What an ISDN application includes.
 *
 *   ISDN_PORT port;  ISDN_CONNECTION c;
 *   isdnInit(&port, 2, 2048);                     one CAPI application on CAPI2032.DLL
 *   isdnOpen(port, 1, OwnerProc, me, &c);         one connection on controller 1
 *   isdnSetProperty(c, ipMsnOut, (DWORD_PTR)"12345", 0);
 *   isdnConnect(c, "0987", NULL, NULL);           events arrive at OwnerProc on the receive thread
 *   ...
 *   isdnClose(c);  isdnDone(port);
 *
 * Results: 0 success, 6 invalid handle, 8 out of memory, 13 property id not served, 22 not
 * supported; other values come from the connection (1: not possible in this state, CAPI info
 * values). isdnInit maps the library's own failures: 1157 CAPI2032.DLL missing, 127 an entry point
 * missing, 4, 119, 8 and 5 for the registration's results.
 *
 * The library's classes (CCapiPort, CCapiPortWin32, CCapiMessageHandler, CCapiMessageMonitor and
 * the base classes) are exported whole: see capi_port_win32.h, message_handler.h and
 * message_monitor.h. */
#ifndef MSGCORE_H
#define MSGCORE_H

#include <windows.h>

#include "msgcore/isdn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* ISDN_PORT;
typedef void* ISDN_CONNECTION;

/* The X.25 parameters of isdnConnect, byte-packed. */
#pragma pack(push, 1)
typedef struct ISDN_X25_PARAMS {
    const char* called;       /* called X.25 address, digits */
    const char* calling;      /* calling X.25 address, digits */
    WORD facilitiesLength;
    const BYTE* facilities;
    WORD userDataLength;
    const BYTE* userData;
} ISDN_X25_PARAMS;
#pragma pack(pop)

DWORD WINAPI isdnInit(ISDN_PORT* port, DWORD maxConnections, DWORD b3BlockSize);
DWORD WINAPI isdnDone(ISDN_PORT port);
DWORD WINAPI isdnOpen(ISDN_PORT port, DWORD controller, TOwnerProc ownerProc, void* ownerInstance,
                      ISDN_CONNECTION* connection);
DWORD WINAPI isdnClose(ISDN_CONNECTION connection);
DWORD WINAPI isdnConnect(ISDN_CONNECTION connection, const char* number, const char* subaddress,
                         const ISDN_X25_PARAMS* x25);
DWORD WINAPI isdnListen(ISDN_CONNECTION connection, DWORD unused);
DWORD WINAPI isdnAcceptCall(ISDN_CONNECTION connection, DWORD reject);
DWORD WINAPI isdnSend(ISDN_CONNECTION connection, const void* data, DWORD length, DWORD flags);
DWORD WINAPI isdnDataResponse(ISDN_CONNECTION connection);
DWORD WINAPI isdnDisconnect(ISDN_CONNECTION connection, DWORD unused);
DWORD WINAPI isdnCallControl(ISDN_CONNECTION connection, DWORD unused1, DWORD unused2, DWORD unused3);
/* Strings and blocks are passed by address in `value` (pointer-sized, so a 64-bit build can). */
DWORD WINAPI isdnSetProperty(void* handle, DWORD id, DWORD_PTR value, DWORD unused);
/* Numbers are written as a DWORD; strings (at most 40 bytes), the LLC block (17), the CAPI profile
 * (64; its first DWORD names the controller), the manufacturer and version texts (64). */
DWORD WINAPI isdnGetProperty(void* handle, DWORD id, void* result, DWORD unused);
void WINAPI isdnTraceMessage(DWORD unused);
#ifndef MSGCORE_EXPORTS
/* Debug lines go to `proc` instead of the system debug channel (NULL: back to it). */
__declspec(dllimport) void debugCaptureOutput(void (*proc)(const char* text));
#endif

#ifdef __cplusplus
}
#endif

#endif
