/* The values an ISDN application shares with msgcore: connection states, owner events, property
 * ids and result codes, and the owner procedure. C and C++; no Windows header. */
#ifndef MSGCORE_ISDN_TYPES_H
#define MSGCORE_ISDN_TYPES_H

#include <stdint.h>

#if defined(_WIN32)
#define MSGCORE_STDCALL __stdcall
#else
#define MSGCORE_STDCALL
#endif

#if defined(_WIN32) && defined(MSGCORE_EXPORTS)
#define MSGCORE_API __declspec(dllexport)
#elif defined(_WIN32) && defined(MSGCORE_IMPORTS)
#define MSGCORE_API __declspec(dllimport)
#else
#define MSGCORE_API
#endif

/* The call states of a connection. 19, 21, 23, 24 and 26 to 32 belong to the range for derived
 * handlers; the library's own handler never enters them. */
typedef enum TConnectionState {
    csIdle = 1,
    csOutgoingCall = 2,
    csListenRequested = 3,
    csIncomingCall = 4,
    csB3Requested = 5,
    csB3SettingUp = 6,
    csB3Failed = 7,
    csConnected = 8,
    csListening = 9,
    csAccepted = 10,
    csRejected = 11,
    csB3Clearing = 12,
    csB3Cleared = 13,
    csWaitingForB3 = 14,
    csClearing = 15,
    csCancellingListen = 16,
    csFailed = 17,
    csDisconnected = 18,
    csState19 = 19,
    csIncomingEnded = 20,
    csState21 = 21,
    csDChannelUp = 22,
    csState23 = 23,
    csState24 = 24,
    csClearingAfter24 = 25,
    csState26 = 26,
    csState29 = 29,
    csState32 = 32,
    csForce32Bit = 0x7FFFFFFF
} TConnectionState;

/* Events reported to the owner procedure. */
typedef enum tagISDNEvent {
    ieConnection = 0x1001,       /* p1: connection text */
    ieCallFailed = 0x1002,       /* p1: reason, p2: B3 reason */
    ieDisconnected = 0x1003,     /* p1: reason, p2: B3 reason */
    ieHangupDone = 0x1004,
    ieB3Transmit = 0x1005,       /* p1: info of DATA_B3_CONF, p2: data handle */
    ieB3Receive = 0x1006,        /* p1: data, p2: length, p3: handle, p4: flags; non-zero: acknowledge */
    ieCallRejected = 0x1008,
    ieIncomingCall = 0x1009,     /* p1..p3: called, calling, calling subaddress; 1 accept, 0 reject */
    ieMessageTrace = 0x100A,     /* p1: 20, p2: the CAPI message */
    ieHandset = 0x100B,
    ieCallAccepted = 0x100C,
    ieListenConfirmed = 0x100D,  /* p1: info */
    ieForce32Bit = 0x7FFFFFFF
} tagISDNEvent;

/* The owner procedure: instance, event, connection, p1..p4. */
typedef uintptr_t(MSGCORE_STDCALL* TOwnerProc)(void* instance, uint32_t event, uintptr_t connection,
                                               uintptr_t p1, uintptr_t p2, uintptr_t p3, uintptr_t p4);

/* Property ids of isdnSetProperty and isdnGetProperty. */
enum {
    ipB1Protocol = 0, ipB2Protocol = 1, ipB3Protocol = 2, ipInfoMask = 3, ipProfile = 4,
    ipMsnIn = 5, ipMsnOut = 6, ipServiceMask = 7, ipController = 8, ipTEI = 9, ipLLC = 10,
    ipCapiProfile = 11, ipManufacturer = 12, ipVersion = 13, ipIncomingCIP = 14,
    ipBaudRate = 15, ipParity = 16, ipBitsPerCharacter = 17, ipStopBits = 18,
    ipExternalEquipment = 19, ipSupplementaryServices = 20, ipHandset = 21, ipDTMF = 22,
    ipPresetSpeech = 23, ipPresetHdlc = 24, ipPresetX75 = 25, ipPresetX25 = 26,
    ipPresetV120 = 28, ipPresetX31 = 29, ipB3BlockSize = 31, ipPresetTransparent = 32
};

/* Results of the C API. */
enum {
    ISDN_OK = 0, ISDN_INVALID_HANDLE = 6, ISDN_NO_MEMORY = 8, ISDN_BAD_PROPERTY = 13,
    ISDN_NOT_SUPPORTED = 22
};

/* Results of the classes (16-bit). */
enum {
    mcOk = 0, mcWrongState = 1, mcBadCoding = 0x2007, mcNoBuffer = 0x1108, mcParameter = 0x3004,
    mcDataLength = 0x300C, mcNoLibrary = 0xA003, mcNoEntryPoint = 0xA004
};

#endif
