#include "cardflash/inventory/os_info.h"

#include <cstring>

#include "cardflash/inventory/module_version.h"
#include "cardflash/inventory/reg_key.h"

namespace {

constexpr DWORD kFolderBuffer = 512;

CString Folder(UINT (WINAPI* get)(LPSTR, UINT)) {
    char buf[kFolderBuffer] = {};
    UINT n = get(buf, kFolderBuffer);
    if (n == 0 || n >= kFolderBuffer) return CString();
    return CString(buf, static_cast<int>(n));
}

}  // namespace

CString FileVersionString(const CString& path) {
    CModuleVersion version;
    if (!version.GetFileVersionInfo(path)) return CString();
    return version.GetValue("FileVersion");
}

COSInfo::COSInfo(BOOL withDriverVersions) {
    OSVERSIONINFOA v;
    std::memset(&v, 0, sizeof(v));
    v.dwOSVersionInfoSize = sizeof(v);
    GetVersionExA(&v);
    m_PlatformId = v.dwPlatformId;

    m_SystemDir = Folder(GetSystemDirectoryA);
    m_WindowsDir = Folder(GetWindowsDirectoryA);
    m_InfDir = m_WindowsDir + "\\INF";
    m_InfOtherDir = m_InfDir + "\\OTHER";
    m_DriverDir = m_SystemDir;
    if (m_PlatformId == VER_PLATFORM_WIN32_NT) m_DriverDir += "\\DRIVERS";

    char cur[kFolderBuffer] = {};
    DWORD n = GetCurrentDirectoryA(kFolderBuffer, cur);
    if (n > 0 && n < kFolderBuffer) m_CurrentDir = CString(cur, static_cast<int>(n));
    m_BuildNumber = v.dwBuildNumber & 0xFFFF;
    m_CSDVersion = CString(v.szCSDVersion, static_cast<int>(strnlen(v.szCSDVersion, sizeof(v.szCSDVersion))));

    m_OSIndex = ComputeOSIndex(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
    if (m_PlatformId == VER_PLATFORM_WIN32_WINDOWS) m_Win9xIndex = m_OSIndex;
    m_OSName = OSIndexName(m_OSIndex);

    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\ComputerName\\ComputerName", KEY_READ) ==
        ERROR_SUCCESS) {
        char name[256];
        DWORD size = sizeof(name);
        DWORD type = 0;
        if (RegQueryValueExA(key.get(), "ComputerName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
            ERROR_SUCCESS) {
            m_ComputerName = CString(name, static_cast<int>(strnlen(name, size)));
        }
    }

    if (withDriverVersions) {
        if (m_PlatformId == VER_PLATFORM_WIN32_WINDOWS)
            Get9xDriverVersions();
        else if (m_PlatformId == VER_PLATFORM_WIN32_NT)
            GetNtDriverVersions();
    }
}

BOOL COSInfo::GetNtDriverVersions() {
    m_PcmciaVersion = FileVersionString(m_SystemDir + "\\DRIVERS\\PCMCIA.SYS");
    m_NdisVersion = FileVersionString(m_SystemDir + "\\DRIVERS\\NDIS.SYS");
    return TRUE;
}

BOOL COSInfo::Get9xDriverVersions() {
    m_PccardVersion = FileVersionString(m_SystemDir + "\\pccard.vxd");
    m_NdisVersion = FileVersionString(m_SystemDir + "\\ndis.vxd");
    m_CbssVersion = FileVersionString(m_SystemDir + "\\cbss.vxd");
    m_PciVersion = FileVersionString(m_SystemDir + "\\pci.vxd");
    return TRUE;
}
