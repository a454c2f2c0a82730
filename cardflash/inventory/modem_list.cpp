#include "cardflash/inventory/modem_list.h"

#include <cstring>

#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/reg_key.h"

namespace {

constexpr DWORD kValueBuffer = 256;
const char kModemClassNt[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char kClass9x[] = "System\\CurrentControlSet\\Services\\Class\\";

// A value read as text whatever its registry type; false when it cannot be read (missing, or
// longer than the buffer). Data without a terminator ends at the buffer's end.
bool ReadText(HKEY key, const char* name, CString& out) {
    char buf[kValueBuffer + 1] = {};
    DWORD size = kValueBuffer;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
        return false;
    if (size > kValueBuffer) size = kValueBuffer;
    out = CString(buf, static_cast<int>(strnlen(buf, size)));
    return true;
}

CString TextOr(HKEY key, const char* name, const char* fallback) {
    CString value;
    return ReadText(key, name, value) ? value : CString(fallback);
}

// The name of subkey `index`; false at the end of the list or on an error.
bool SubkeyName(HKEY key, DWORD index, CString& name) {
    char buf[kValueBuffer] = {};
    DWORD size = sizeof(buf);
    if (RegEnumKeyExA(key, index, buf, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return false;
    name = CString(buf, static_cast<int>(strnlen(buf, sizeof(buf))));
    return true;
}

bool HasSubkey(HKEY key, const char* name) {
    RegKey sub;
    return sub.Open(key, name, KEY_READ) == ERROR_SUCCESS;
}

}  // namespace

int CModemList::Fill() {
    COSInfo os(FALSE);
    if (os.m_PlatformId == VER_PLATFORM_WIN32_WINDOWS) return Fill9x(os.m_Win9xIndex);
    if (os.m_PlatformId == VER_PLATFORM_WIN32_NT) return FillNt();
    return 0;
}

int CModemList::Fill9x(int win9xIndex) {
    RegKey root;
    if (root.Open(HKEY_LOCAL_MACHINE, "Enum", KEY_READ) != ERROR_SUCCESS) return GetCount();
    CString bus, device, instance;
    for (DWORD b = 0; SubkeyName(root.get(), b, bus); ++b) {
        RegKey busKey;
        if (busKey.Open(root.get(), bus, KEY_READ) != ERROR_SUCCESS) continue;
        for (DWORD d = 0; SubkeyName(busKey.get(), d, device); ++d) {
            RegKey deviceKey;
            if (deviceKey.Open(busKey.get(), device, KEY_READ) != ERROR_SUCCESS) continue;
            for (DWORD i = 0; SubkeyName(deviceKey.get(), i, instance); ++i) {
                RegKey key;
                if (key.Open(deviceKey.get(), instance, KEY_READ) != ERROR_SUCCESS) continue;
                CString cls;
                if (!ReadText(key.get(), "Class", cls)) continue;
                cls.MakeUpper();
                if (cls != "MODEM") continue;
                // Windows 95 OSR2 lists a multi-function card's parent as a modem too; its
                // functions are listed under their own keys.
                if (win9xIndex == 1 && HasSubkey(key.get(), "Child0000")) continue;

                CString name, port;
                ReadText(key.get(), "DeviceDesc", name);
                if (!ReadText(key.get(), "PORTNAME", port)) {
                    CString driver;
                    if (ReadText(key.get(), "Driver", driver)) {
                        RegKey driverKey;
                        CString path = CString(kClass9x) + driver;
                        if (driverKey.Open(HKEY_LOCAL_MACHINE, path, KEY_READ) == ERROR_SUCCESS)
                            ReadText(driverKey.get(), "AttachedTo", port);
                    }
                }
                m_Names.Add(name);
                m_EnumPaths.Add(bus + "\\" + device + "\\" + instance);
                m_Ports.Add(port);
            }
        }
    }
    return GetCount();
}

int CModemList::FillNt() {
    RegKey cls;
    if (cls.Open(HKEY_LOCAL_MACHINE, kModemClassNt, KEY_READ) != ERROR_SUCCESS) return GetCount();
    CString name;
    for (DWORD i = 0; SubkeyName(cls.get(), i, name); ++i) {
        RegKey key;
        if (key.Open(cls.get(), name, KEY_READ) != ERROR_SUCCESS) continue;
        m_Ports.Add(TextOr(key.get(), "AttachedTo", "???"));
        m_Names.Add(TextOr(key.get(), "DriverDesc", "???"));
        m_EnumPaths.Add(CString());
        m_Spare.Add(CString());
    }
    return GetCount();
}
