// One modem (a modem card, or the modem function of a combined card, possibly with the ISDN
// Tamrisk add-on plugged in) reached through one COM port: the process-wide locks around the port,
// counted open and close, the AT command table, the command channel, the add-on detection that
// runs on every fresh open, the port-busy test and the identity reads.
//
// Lock order: operation semaphore (workers) -> port mutex (CPortLock) -> modem lock -> port-count
// section. The port mutex and the modem lock are Win32 mutexes, so the owning thread may take them
// again (a fresh open's add-on detection takes the port mutex a second time).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "cardflash/flash/modemreplies.h"
#include "framework/cstring.h"

struct IWbemServices;
class CCardInfo;

// Result codes of the channel and of the modem operations (shared with QorvError).
enum ModemResult : int {
    kModemOk = 0,
    kModemNoCommand = 2,      // AttachCard: a command string is missing from the string table
    kModemNoBoardCode = 3,    // ReadBoardCode with the add-on: nothing sent
    kModemNoThread = 13,      // a worker operation's thread did not start
    kModemNotOpen = 14,
    kModemNotUnderstood = 18,
    kModemWriteFailed = 19,
    kModemTimeout = 20,
    kModemFirmwareOld = 121,
};

// The operations that run on worker threads, as they travel in wParam of the WM_USER message that
// reports each to its window (lParam = the operation's result).
enum ModemOperation : int {
    kOpReadFirmwareVersion = 1,
    kOpReadCountryCode = 2,
    kOpReadConfiguration = 3,
    kOpSetCountryCode = 4,
    kOpReadCountryList = 5,
    kOpReadModuleInfo = 6,
    kOpCheckFirmwareLevel = 8,
    kOpReadCableType = 9,
    kOpSetTraceMask = 10,
    // Not an operation: the ISDN add-on came or went (lParam = the new add-on flag). It follows the
    // message of the operation that noticed it.
    kOpAddOnChanged = 11,
};

// The process-wide objects of the modem code: created at first use, gone when the program ends.
class CModemProcess {
public:
    static HANDLE OperationSemaphore();  // count 1: one worker operation at a time, all modems
    static HANDLE PortMutex();           // held by every conversation with a modem port
    static int OpenPorts();              // ports this process has open through CModem
    static void AddOpenPorts(int delta);
};

class CModem {
public:
    CModem();
    virtual ~CModem();
    CModem(const CModem&) = delete;
    CModem& operator=(const CModem&) = delete;

    // Binds the modem to `port` (or, when empty, to the card's modem COM port): 0, or 2 when a
    // command string is missing.
    int AttachCard(const CCardInfo* card, const CString& port);

    BOOL OpenPort();
    BOOL ClosePort();
    BOOL IsPortOpen();
    // Nonzero when this program can use the port now.
    int IsPortFree();

    // One command on a port that is already open; `reply` receives everything read.
    int Exchange(const CString& command, CString& reply, const CString& expected, int seconds);
    // OpenPort, Exchange, ClosePort.
    int SendCommandText(const CString& command, CString& reply, const CString& expected, int seconds);
    // OpenPort, the command, the reply cut into lines (appended to `lines`), ClosePort.
    int SendCommand(const CString& command, CStringArray& lines, const CString& expected, int seconds);

    // Asks ATI0 up to ten times; returns the new add-on flag. `lastResult` (may be null) receives
    // the result of the last exchange.
    int DetectIsdnAddOn(int* lastResult);

    int BeginOperation();
    int EndOperation();
    int PendingOperations();

    // Worker operations: the body runs on a thread of its own, one operation at a time across all
    // modems of the process and in the order they were started, and reports
    // PostMessage(window, WM_USER, operation code, result), followed by kOpAddOnChanged when the
    // add-on came or went. A null window is told nothing, and the add-on notice then waits for an
    // operation with a window. 0 when the thread started; 13 when it did not (and no message
    // comes). The modem outlives its operations: its destructor waits for them.
    int StartReadFirmwareVersion(HWND window);
    int StartReadCountryCode(HWND window);
    int StartReadConfiguration(HWND window);
    int StartSetCountryCode(HWND window, int code);
    int StartReadCountryList(HWND window);
    int StartReadModuleInfo(HWND window);
    int StartCheckFirmwareLevel(HWND window);
    int StartReadCableType(HWND window);
    int StartSetTraceMask(HWND window, int mask);

    // Identity reads (each inside one CPortLock).
    int ReadFirmwareVersion();
    int CheckFirmwareLevel();
    int ReadCountryCode();
    int ReadCountryList();
    int SetCountryCode(int code);
    int ReadModuleId();
    int ReadIdentity();
    int ReadBoardCode();
    int ReadManufacturer();
    int ReadCableType();
    int ReadModuleInfo();
    int ReadConfiguration();
    int SetTraceMask(int mask);

    // The in-place flash: the ISDN add-on's image from its package when the add-on is plugged in,
    // else the modem's image from a .PAK, an .MPK or a plain image, with the card's CIS and saved
    // settings kept. 0, or the flash's result code. `progress` (may be null) gets 0 to 100.
    int FlashFirmware(const CString& path, void (*progress)(int));
    // The add-on's XMODEM-1K sender on this modem's port.
    int UploadXmodem(const uint8_t* data, unsigned length, void (*progress)(int));
    // Upper-cases `reply` and maps the boot loader's error words to 126-129 (0: none).
    static int BootLoaderError(CString& reply);

    // Where string-table texts come from (the program's own table unless a test says otherwise).
    void SetStringTable(const IStringTable* strings) { m_Strings = strings; }

    // Members, in declaration order.
    HANDLE m_ModemLock = nullptr;
    int m_AddOn = 0;
    CString m_FirmwareVersion;
    int m_InPlaceCapable = 0;
    int m_PortState = kPortFree;
    int m_PortStateChanged = 0;
    std::vector<uint32_t> m_CountryList;
    int m_CountryCode = -1;
    CString m_ModuleInfo;
    CString m_Cable;
    CString m_SpareText;
    CString m_LineType;
    CString m_ModuleId;
    CString m_Identity;
    CString m_BoardCode;
    CString m_Manufacturer;
    CString m_DiagnosticReport;
    CallReport m_Report;         // the 12 report fields (and the report version in m_ReportVersion)
    CString m_ShortName;
    CString m_ReportVersion;
    DWORD m_LastCallSeconds = 0;  // set by the last-call monitor
    CString m_TraceText;
    CString m_CardDescription;
    IWbemServices* m_Wmi = nullptr;
    BSTR m_CommInfoPath = nullptr;
    BSTR m_PerformancePath = nullptr;
    int m_AddOnChanged = 0;
    int m_Pending = 0;
    int m_CloseWhenIdle = 0;
    CStringArray m_AtCommands;
    CString m_PortPath;
    CString m_DeviceDescription;
    int m_CommandSet = 0;
    int m_TraceRead = 0;
    int m_TraceMask = 255;
    DCB m_PortSettings{};
    COMMPROP* m_PortProperties = nullptr;
    HANDLE m_Port = INVALID_HANDLE_VALUE;
    DWORD m_LastError = 0;
    int m_OpenCount = 0;
    volatile LONG m_Closing = 0;

    static constexpr int kPortFree = 2;
    static constexpr int kPortBusy = 1;

private:
    class Lock;
    struct OperationStart;
    using WorkerProc = unsigned(__stdcall*)(void*);
    using Body = int (*)(CModem&, int);
    int StartOperation(WorkerProc worker, HWND window, int argument);
    static unsigned RunOperation(void* start, ModemOperation code, Body body);
    static unsigned __stdcall ReadFirmwareVersionThread(void* start);
    static unsigned __stdcall ReadCountryCodeThread(void* start);
    static unsigned __stdcall ReadConfigurationThread(void* start);
    static unsigned __stdcall SetCountryCodeThread(void* start);
    static unsigned __stdcall ReadCountryListThread(void* start);
    static unsigned __stdcall ReadModuleInfoThread(void* start);
    static unsigned __stdcall CheckFirmwareLevelThread(void* start);
    static unsigned __stdcall ReadCableTypeThread(void* start);
    static unsigned __stdcall SetTraceMaskThread(void* start);

    CString Command(int index) const;
    // Sends `command` on the open port: 0, or 19 (the port purged) when the write fails.
    int WriteCommand(const CString& command);
    // ATE0V1, the read command, ATE1 (the frame of most reads); `found` says whether the parser
    // found its text.
    template <class Parse>
    int FramedRead(int command, Parse parse);
    bool BootLoaderOnEchoOff(int& result);  // command 0; true when the boot loader answered
    int ReadModuleInfoLocked();
    int ReadConfigurationAddOn();
    int ReadConfigurationModem();
    void FreePortProperties();
    // Under the modem lock: the handle and properties block of the last close, taken off the
    // modem; then, without the lock, closed and freed.
    void TakePort(HANDLE* port, COMMPROP** properties);
    static void ReleasePort(HANDLE port, COMMPROP* properties);
    void ConnectWmi(const CString& instanceName);
    int PollPortDriver(bool nt, bool& answered);
    int PollWmi(bool& answered);
    int OpenTest();
    void NotePortState(bool free);

    const IStringTable* m_Strings;
};

// Takes the port mutex and opens the modem's port for the length of one modem operation; the
// operation does not test the open: a failed open shows up as 14 from its first command.
class CPortLock {
public:
    explicit CPortLock(CModem* modem);
    ~CPortLock();
    CPortLock(const CPortLock&) = delete;
    CPortLock& operator=(const CPortLock&) = delete;

private:
    CModem* m_Modem = nullptr;
};
