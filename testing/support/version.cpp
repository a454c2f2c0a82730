#include "winetest/version.h"

#include <cstdlib>
#include <cstring>

namespace winetest {

const WindowsVersion* FindWindowsVersion(const std::string& name) {
    static const WindowsVersion kVersions[] = {
        {"win31", VER_PLATFORM_WIN32s, 3, 10, 0},
        {"win95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950},
        {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222},
        {"winme", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000},
        {"nt351", VER_PLATFORM_WIN32_NT, 3, 51, 1057},
        {"nt40", VER_PLATFORM_WIN32_NT, 4, 0, 1381},
        {"win2k", VER_PLATFORM_WIN32_NT, 5, 0, 2195},
        {"winxp", VER_PLATFORM_WIN32_NT, 5, 1, 2600},
    };
    for (const auto& v : kVersions)
        if (name == v.name) return &v;
    return nullptr;
}

std::string RequestedVersion() {
    const char* env = std::getenv("WINETEST");
    if (!env) return "";
    const char* p = std::strstr(env, "version=");
    if (!p) return "";
    p += 8;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    return std::string(p, end);
}

bool SetProgramVersion(const std::string& exe_name, const std::string& version) {
    HKEY key = nullptr;
    std::string path = "Software\\Wine\\AppDefaults\\" + exe_name;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                             static_cast<DWORD>(version.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace winetest
