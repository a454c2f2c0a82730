// The control interface of the scripted CAPI 2.0 library (capi2032.dll of standins/capi2032/):
// what a test reaches through GetProcAddress to script the simulated controller and read back
// every call and message. The entry points have undecorated stdcall names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Modes of the simulated controller.
enum CapisimMode : DWORD {
    CAPISIM_AUTO = 0,      // answers every request as a controller would, at once
    CAPISIM_MANUAL = 1,    // answers nothing: the test injects every confirmation and indication
    CAPISIM_DEFERRED = 2,  // answers as AUTO, but holds them until capisimFlush
};

// What a log entry records.
enum CapisimKind : DWORD {
    CAPISIM_REGISTER = 1, CAPISIM_RELEASE, CAPISIM_PUT, CAPISIM_GET, CAPISIM_WAIT,
    CAPISIM_GET_PROFILE, CAPISIM_GET_VERSION, CAPISIM_GET_MANUFACTURER, CAPISIM_INSTALLED,
};

// Options of capisimSetOption.
enum CapisimOption : DWORD {
    CAPISIM_LOOPBACK = 1,        // DATA_B3_REQ comes back as DATA_B3_IND (default 0)
    CAPISIM_REMOTE_REASON = 2,   // outgoing calls: 0 = the far end answers, else DISCONNECT_IND reason
    CAPISIM_REMOTE_B3 = 3,       // incoming calls: 1 = the caller sets up B3 (CONNECT_B3_IND), 0 = not
    CAPISIM_STRICT = 4,          // 1 = record protocol violations (default 1)
    CAPISIM_NEXT_APP = 5,        // the application id the next CAPI_REGISTER gives out
    CAPISIM_WAIT_FAILS = 6,      // non-zero: every CAPI_WAIT_FOR_SIGNAL returns it at once (default 0)
};

#pragma pack(push, 1)
struct CapisimEntry {
    DWORD kind;      // CapisimKind
    DWORD thread;    // GetCurrentThreadId of the caller
    DWORD app;       // application id the call named (REGISTER: the id given out)
    DWORD result;    // what the call returned
    DWORD length;    // message bytes kept (PUT: as sent, GET: as delivered)
    DWORD data;      // DATA_B3_REQ payload bytes kept
    DWORD arg[4];    // REGISTER: its four numbers; GET_PROFILE: the controller
};
#pragma pack(pop)

extern "C" {
typedef void(WINAPI* capisimReset_t)(void);
typedef void(WINAPI* capisimSetMode_t)(DWORD mode);
typedef DWORD(WINAPI* capisimFlush_t)(void);
typedef void(WINAPI* capisimSetOption_t)(DWORD option, DWORD value);
typedef void(WINAPI* capisimSetProfile_t)(DWORD controller, const BYTE* profile64);
typedef void(WINAPI* capisimSetVersion_t)(DWORD capiMajor, DWORD capiMinor, DWORD makerMajor, DWORD makerMinor);
typedef void(WINAPI* capisimSetManufacturer_t)(const char* text);
typedef void(WINAPI* capisimFailCall_t)(DWORD kind, DWORD result);
typedef void(WINAPI* capisimFailPut_t)(WORD commandWord, DWORD result);
typedef void(WINAPI* capisimFailConf_t)(WORD requestWord, WORD info);
typedef DWORD(WINAPI* capisimInject_t)(DWORD app, const BYTE* message);
typedef DWORD(WINAPI* capisimIncomingCall_t)(WORD cip, const char* called, const char* calling,
                                             const char* callingSubaddress, DWORD waiting);
typedef DWORD(WINAPI* capisimRemoteDisconnect_t)(DWORD plci, WORD reason);
typedef DWORD(WINAPI* capisimRemoteData_t)(DWORD ncci, const BYTE* data, WORD length, WORD flags);
typedef DWORD(WINAPI* capisimLogCount_t)(void);
typedef DWORD(WINAPI* capisimLogEntry_t)(DWORD index, CapisimEntry* entry, BYTE* bytes, DWORD size);
typedef DWORD(WINAPI* capisimLogData_t)(DWORD index, BYTE* bytes, DWORD size);
typedef DWORD(WINAPI* capisimWaitPuts_t)(DWORD count, DWORD timeoutMs);
typedef DWORD(WINAPI* capisimViolations_t)(char* text, DWORD size);
typedef DWORD(WINAPI* capisimQueued_t)(DWORD app);
typedef DWORD(WINAPI* capisimWaiters_t)(void);
}
