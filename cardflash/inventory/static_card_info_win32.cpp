// The device database's reads through the Win32 profile calls.
#include <windows.h>

#include <vector>

#include "cardflash/inventory/profile_source.h"

namespace devicedb {

CString ProfileValue(const char* section, const char* key, int limit, const CString& file) {
    std::vector<char> buf(static_cast<size_t>(limit) + 1, '\0');
    DWORD n = GetPrivateProfileStringA(section, key, "", buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
    return CString(buf.data(), static_cast<int>(n < buf.size() ? n : buf.size() - 1));
}

void ProfileNames(const char* section, char* buffer, int size, const CString& file) {
    GetPrivateProfileStringA(section, nullptr, "", buffer, static_cast<DWORD>(size), file.c_str());
}

}  // namespace devicedb
