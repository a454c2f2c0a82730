#include "cardflash/inventory/quick_reg.h"

#include <cstring>

#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/reg_key.h"
#include "cardflash/inventory/reg_path.h"

namespace {

HKEY RootKey(RegRootName root) {
    switch (root) {
    case RegRootName::CurrentUser: return HKEY_CURRENT_USER;
    case RegRootName::Users: return HKEY_USERS;
    case RegRootName::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RegRootName::DynData: return HKEY_DYN_DATA;
    case RegRootName::LocalMachine: break;
    }
    return HKEY_LOCAL_MACHINE;
}

}  // namespace

CQuickReg::CQuickReg(const CString& path) { OpenPath(path, FALSE); }

CQuickReg::CQuickReg(BOOL create, const CString& path) {
    CString p = path;
    if (p.IsEmpty()) {
        COSInfo os(FALSE);
        p.LoadText(os.m_PlatformId == VER_PLATFORM_WIN32_NT ? 28999 : 28998);
    }
    if (!p.IsEmpty()) OpenPath(p, create);
}

CQuickReg::~CQuickReg() {
    if (m_Open) RegCloseKey(m_Key);
}

BOOL CQuickReg::OpenPath(const CString& path, BOOL create) {
    RegPath split = SplitRegPath(path.str());
    HKEY root = RootKey(split.root);
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, split.subkey.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        m_Key = key;
        m_Open = TRUE;
    } else if (create && CreatePath(root, split.subkey.c_str(), &key) == kOpen) {
        m_Key = key;
        m_Open = TRUE;
    }
    return m_Open;
}

int CQuickReg::CreatePath(HKEY root, const CString& subkeyPath, HKEY* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, subkeyPath.c_str(), 0, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
        *key = opened;
        return kOpen;
    }
    std::string parent, leaf;
    SplitLastComponent(subkeyPath.str(), &parent, &leaf);
    if (leaf.empty()) return kFailed;  // "A\\" or "": nothing left to create

    RegKey parent_key;
    HKEY under = root;
    if (!parent.empty()) {
        HKEY p = nullptr;
        if (CreatePath(root, parent.c_str(), &p) != kOpen) return kFailed;
        parent_key.Reset(p);
        under = p;
    }
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(under, leaf.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                        &disposition) != ERROR_SUCCESS)
        return kFailed;
    *key = created;
    return kOpen;
}

BOOL CQuickReg::QueryString(const CString& valueName, CString* value) {
    char buf[256];
    DWORD size = sizeof(buf);
    if (RegQueryValueExA(m_Key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) !=
        ERROR_SUCCESS)
        return FALSE;
    // The stored bytes need not be terminated: stop at the length returned.
    *value = CString(buf, static_cast<int>(strnlen(buf, size)));
    return TRUE;
}

BOOL CQuickReg::QueryDWORD(const CString& valueName, DWORD* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExA(m_Key, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return FALSE;
    *value = data;
    return TRUE;
}

BOOL CQuickReg::SetString(const CString& valueName, const CString& value) {
    return RegSetValueExA(m_Key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.GetLength() + 1)) == ERROR_SUCCESS;
}

BOOL CQuickReg::SetExpandString(const CString& valueName, const CString& value) {
    return RegSetValueExA(m_Key, valueName.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.GetLength() + 1)) == ERROR_SUCCESS;
}

BOOL CQuickReg::SetDWORD(const CString& valueName, DWORD value) {
    return RegSetValueExA(m_Key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}
