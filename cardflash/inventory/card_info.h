// One function of one installed adapter of the maker (a PC Card or PCI device) with everything
// cardflash knows about it. The constructor does all the reading, by Windows version, through the
// adapter registry readers; afterwards only UpdateDescription changes the record.
#pragma once

#include <windows.h>

#include "cardflash/inventory/cis.h"
#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/resource_summary.h"
#include "framework/cstring.h"

class CCardInfo;
class CStaticCardInfo;

// The adapter registry readers, one per Windows road. The program runs the built-in ones; a test
// may put its own in place. The Windows 2000 reader may raise CComError.
struct CCardInfoReaders {
    void (*nt351)(CCardInfo& card) = nullptr;
    void (*nt40)(CCardInfo& card) = nullptr;
    void (*win2000)(CCardInfo& card) = nullptr;
    void (*win9x)(CCardInfo& card, BOOL readResources) = nullptr;
};

class CCardInfo {
public:
    static constexpr unsigned kStrIsdnKit = 25444;  // "+ISDN Tamrisk"
    static constexpr int kFlagNet = 0x1;
    static constexpr int kFlagModem = 0x2;

    CCardInfo(CString pnpId, BOOL readResources);
    virtual ~CCardInfo() = default;
    CCardInfo(const CCardInfo&) = delete;
    CCardInfo& operator=(const CCardInfo&) = delete;

    // Re-derives the description from the one construction left, with "+ISDN Tamrisk" when the
    // add-on is attached to the modem function.
    void UpdateDescription(BOOL kitPresent);
    // Writes the members as text to `fileName` (a new file); a diagnostic aid.
    void Dump(CString fileName);

    static CCardInfoReaders BuiltInReaders();
    // Returns the readers in use before.
    static CCardInfoReaders SetReaders(const CCardInfoReaders& readers);

    CString m_PnPID;
    CString m_ChildPath;
    // Windows 2000, a multi-function card: the MF\... path of its modem function, whichever
    // function the presence was checked on.
    CString m_ModemInstancePath;
    CString m_NetCfgInstanceId;
    CString m_NetClassKey;
    DWORD m_Flags = 0;
    DWORD m_NetVendorVersion = 0;
    CString m_Manufacturer;
    CString m_DeviceDesc;
    CString m_BaseDesc;
    CString m_ModemDesc;
    CString m_DeviceClass;
    CString m_HardwareID;
    CString m_HardWareKey;
    CString m_DevNode;
    BOOL m_CardInserted = FALSE;
    BOOL m_StaticInfo = FALSE;
    CString m_ModemBoardCode;
    CString m_ModemModuleId;
    CString m_ModemIdentity;
    CString m_ModemManufacturer;
    BOOL m_OSR2MFBug = FALSE;
    BOOL m_MFCard = FALSE;
    CString m_NetClassDriver;
    CString m_ModemClassDriver;
    CString m_MFClassDriver;
    CString m_ModemComPort;
    CString m_NetBindName;
    CString m_NetDriver;
    CString m_NetINF;
    CString m_ModemDriver;
    CString m_ModemINF;
    CString m_MFINF;
    CString m_NetDriverVersion;
    CString m_NetDriverDate;
    CString m_NetIPAddress;
    CString m_NetMACAddress;
    CStringArray m_NetBindings;
    DWORD m_NetLinkSpeed = 0;
    CString m_FlashProg;
    CCis m_Cis;
    BOOL m_ResourcesRead = FALSE;
    ResourceSummary m_ResourceData{};
    CStringArray m_IrqTexts;
    CStringArray m_IoTexts;
    CStringArray m_MemTexts;
    CStringArray m_DmaTexts;
    BYTE m_CountrySelect = 0;
    BYTE m_CallLogging = 0;
    BYTE m_FlashModeAT = 0;
    COSInfo m_OSInfo{TRUE};
    // The failing HRESULT when the Windows 2000 reader stopped on a registry service error (the
    // members it had not reached stay empty, and m_StaticInfo is FALSE); S_OK otherwise.
    HRESULT m_ReadError = S_OK;

private:
    // The flash program and the three flags of the database section `db` has chosen.
    void TakeFlashFlags(CStaticCardInfo& db);
};
