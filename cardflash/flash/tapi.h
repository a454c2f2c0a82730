// Telephony (TAPI, API version 0x00010004) for cardflash: initialises TAPI, lists the lines that
// carry data-modem calls with the installed modem each belongs to, reads the dialling locations,
// dials a number and turns line and call events into texts for a caller's notification function.
//
// TAPI32.DLL is bound entry by entry at run time, so the program also starts where TAPI is
// missing (every entry then fails). TAPI delivers its events through window messages of the
// thread that called Initialize; PumpMessages lets a waiting caller receive them.
#pragma once

#include <windows.h>

#include "cardflash/flash/tapi_layout.h"
#include "framework/cstring.h"

class CTapi {
public:
    // (source, text, connected flag, call or device handle); connected is TRUE only for the
    // connected text.
    using Notify = void (*)(CTapi* source, const char* text, BOOL connected, DWORD handle);
    using LineCallback = void(CALLBACK*)(DWORD device, DWORD message, DWORD_PTR instance, DWORD_PTR param1,
                                         DWORD_PTR param2, DWORD_PTR param3);
    static constexpr int kRows = 50;
    // Initialize's modes: every line, or only the lines that carry data-modem calls.
    static constexpr int kModeAllLines = 2;
    static constexpr int kModeDataModem = 1;

    explicit CTapi(BOOL redial);
    virtual ~CTapi();
    CTapi(const CTapi&) = delete;
    CTapi& operator=(const CTapi&) = delete;

    static CTapi* Current();

    BOOL Initialize(Notify notify, int mode);
    BOOL MakeCall(const CString& number);
    BOOL CloseLine();
    void TranslateDialog(HWND owner, const CString& number);
    CString GetDialableString(const CString& number);
    void SetCurrentLocation();
    void ConfigDialog(HWND owner);
    BOOL PumpMessages();

    // Makes line row `row` the selected device; FALSE for a row that is not filled.
    BOOL SelectLine(int row);

    // The TAPI entries another object needs on this object's line application (the last-call
    // monitor opens its modem's line for monitoring itself).
    LONG OpenLine(DWORD device, DWORD* line, DWORD privileges, DWORD mediaModes);
    LONG CloseLineHandle(DWORD line);
    LONG GetCallInfo(DWORD call, tapi::VarStruct& info, DWORD totalSize);
    LONG DeallocateCall(DWORD call);

    // Fields (rows 0 to kRows - 1; the counts say how many are filled).
    CStringArray m_ModemKeys;     // the installed modem's enumeration path of each line
    DWORD m_DeviceIds[kRows] = {};
    DWORD m_LocationIds[kRows] = {};
    CStringArray m_LocationNames;
    int m_CurrentLocation = -1;   // row of TAPI's current location
    CStringArray m_LineNames;
    int m_LineCount = 0;
    int m_LocationCount = 0;
    DWORD m_LineApp = 0;
    DWORD m_Line = 0;
    DWORD m_Call = 0;
    DWORD m_NumDevices = 0;
    DWORD m_SelectedDevice = 0;
    HICON m_Icons[kRows] = {};
    Notify m_Notify = nullptr;
    CString m_LastNumber;
    BOOL m_Redial;

private:
    static void CALLBACK LineProc(DWORD device, DWORD message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR param2, DWORD_PTR param3);
    void OnLineEvent(DWORD device, DWORD message, DWORD param1, DWORD param2, DWORD param3);
    LONG ReadDevCaps(DWORD device, tapi::VarStruct& caps);
    LONG ReadTranslateCaps(tapi::VarStruct& caps);
    void FindCurrentLocation(const tapi::TranslateCaps& caps);
    void Tell(const char* text, BOOL connected, DWORD handle);
    void Show(const char* text);
    bool AskRedial();
};
