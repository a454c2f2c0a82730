#include "cardflash/inventory/dev_node.h"

#include <windows.h>

#include <cstring>

#include "cardflash/inventory/reg_key.h"

namespace {

const char kEnum[] = "Config Manager\\Enum";

bool ReadDword(HKEY key, const char* name, uint32_t* out) {
    DWORD v = 0, size = sizeof(v);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
        size != sizeof(v))
        return false;
    *out = v;
    return true;
}

bool ReadText(HKEY key, const char* name, char* buf, DWORD capacity, CString* out) {
    DWORD size = capacity;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
        return false;
    *out = CString(buf, static_cast<int>(strnlen(buf, size)));
    return true;
}

}  // namespace

int CDevNode::Read(const CString& nodeName) {
    if (nodeName.IsEmpty()) return FALSE;
    RegKey key;
    if (key.Open(HKEY_DYN_DATA, (CString(kEnum) + "\\" + nodeName).c_str(), KEY_READ) != ERROR_SUCCESS) return FALSE;
    m_NodeName = nodeName;

    uint32_t link = 0;
    if (ReadDword(key.get(), "Child", &link)) m_Child.Format("%X", static_cast<unsigned>(link));
    if (ReadDword(key.get(), "Parent", &link)) m_Parent.Format("%X", static_cast<unsigned>(link));
    if (ReadDword(key.get(), "Sibling", &link)) m_Sibling.Format("%X", static_cast<unsigned>(link));
    ReadDword(key.get(), "Problem", &m_Problem);
    ReadDword(key.get(), "Status", &m_Status);

    char text[kMaxAllocation];
    ReadText(key.get(), "HardWareKey", text, sizeof(text), &m_HardWareKey);

    DWORD size = sizeof(m_Allocation);
    if (RegQueryValueExA(key.get(), "Allocation", nullptr, nullptr, m_Allocation, &size) == ERROR_SUCCESS)
        m_AllocationLength = static_cast<int>(size);
    return TRUE;
}

int FindDevNode(const CString& hardwareKey, CString* nodeName) {
    RegKey list;
    if (list.Open(HKEY_DYN_DATA, kEnum, KEY_READ) != ERROR_SUCCESS) return FALSE;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD name_len = sizeof(name);
        LONG r = RegEnumKeyExA(list.get(), i, name, &name_len, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) continue;  // a name no node of ours has
        if (r != ERROR_SUCCESS) return FALSE;
        RegKey node;
        if (node.Open(list.get(), name, KEY_READ) != ERROR_SUCCESS) continue;
        char text[256];
        CString key;
        if (ReadText(node.get(), "HardWareKey", text, sizeof(text), &key) && key == hardwareKey) {
            if (nodeName) *nodeName = CString(name, static_cast<int>(name_len));
            return TRUE;
        }
    }
}
