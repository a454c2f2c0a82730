// What cardflash knows about the running Windows, gathered once at construction: the version
// index every other part branches on, the standard folders, the computer name and, on request,
// the versions of the card-services and NDIS drivers.
#pragma once

#include <windows.h>

#include "cardflash/inventory/os_index.h"
#include "framework/cstring.h"

class COSInfo {
public:
    explicit COSInfo(BOOL withDriverVersions);
    virtual ~COSInfo() = default;

    BOOL GetNtDriverVersions();
    BOOL Get9xDriverVersions();

    CString m_SystemDir;
    CString m_WindowsDir;
    CString m_InfDir;
    CString m_InfOtherDir;
    CString m_DriverDir;
    CString m_CurrentDir;
    CString m_NdisVersion;
    CString m_CbssVersion;
    CString m_PccardVersion;
    CString m_PciVersion;
    CString m_PcmciaVersion;
    CString m_ComputerName;
    CString m_OSName;
    CString m_CSDVersion;
    DWORD m_PlatformId = 0;
    DWORD m_BuildNumber = 0;
    int m_Win9xIndex = -1;  // -1 on NT, where nothing reads it
    int m_OSIndex = OS_UNKNOWN_OLDER;
};

// The "FileVersion" string of a file's version resource; empty when it has none.
CString FileVersionString(const CString& path);
