// The parts of CResDesc that reach the system: the program's own resources and the registry.
#include <windows.h>

#include "cardflash/inventory/reg_key.h"
#include "cardflash/inventory/res_desc.h"

int CResDesc::LoadResource(const CString& name) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(self, name.c_str(), "RESD");
    if (!res) return kNoResource;
    DWORD size = SizeofResource(self, res);
    HGLOBAL loaded = ::LoadResource(self, res);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return kNoResource;
    return Parse(static_cast<const uint8_t*>(bytes), static_cast<int>(size));
}

int CResDesc::WriteForcedConfig(const CString& deviceKey) {
    SetPriority(0);
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ("Enum\\" + deviceKey).c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return kWriteFailed;
    if (RegSetValueExA(key.get(), "ForcedConfig", 0, REG_BINARY, m_Data, static_cast<DWORD>(m_Length)) !=
        ERROR_SUCCESS)
        return kWriteFailed;
    return kOk;
}

int CResDesc::DeleteForcedConfig(const CString& deviceKey) {
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ("Enum\\" + deviceKey).c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), "ForcedConfig");
    return kOk;
}
