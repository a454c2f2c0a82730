#include "portbridge/ta_config.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "portbridge/profile_values.h"

namespace portbridge {

namespace {
std::atomic<uint32_t> g_trace{0};
std::atomic<uint32_t> g_b3Options{0};
constexpr size_t kKeyListSize = 1024;
}  // namespace

uint32_t messageTraceSwitch() { return g_trace.load(); }
uint32_t b3OptionsWord() { return g_b3Options.load(); }

void testing::resetProcessSwitches() {
    g_trace = 0;
    g_b3Options = 0;
}

CIniProfile::CIniProfile() { setName("CIniProfile"); }
CIniProfile::~CIniProfile() = default;
void CIniProfile::shutDown() {}

uint32_t CIniProfile::setFile(const char* fileName, const char* defaultSection) {
    copyCut(file_, sizeof(file_), fileName);
    copyCut(section_, sizeof(section_), defaultSection);
    // A name without a folder is looked for where the profile functions look: the Windows folder.
    char path[MAX_PATH + kNameSize];
    if (std::strpbrk(file_, "\\/:")) {
        copyCut(path, sizeof(path), file_);
    } else {
        const UINT n = GetWindowsDirectoryA(path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return GetLastError();
        std::strcat(std::strcat(path, "\\"), file_);
    }
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path, &found);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    FindClose(h);
    return 0;
}

const char* CIniProfile::keyNames(const char* section, char* buffer, size_t size) {
    if (!buffer) return "";
    if (!size) return buffer;
    buffer[0] = 0;
    GetPrivateProfileStringA(section, nullptr, "", buffer, static_cast<DWORD>(size), file_);
    return buffer;
}

const char* CIniProfile::defaultKeyNames() { return keyNames(section_, value_, sizeof(value_)); }

int CIniProfile::hasKey(const char* section, const char* key) {
    char v[16];
    GetPrivateProfileStringA(section, key, "bla", v, sizeof(v), file_);
    return std::strcmp(v, "bla") != 0 ? 1 : 0;
}

int CIniProfile::hasDefaultKey(const char* key) { return hasKey(section_, key); }

uint32_t CIniProfile::keyCount(const char* section) {
    char* list = new (std::nothrow) char[kKeyListSize];
    if (!list) return 0;
    keyNames(section, list, kKeyListSize);
    uint32_t n = 0;
    for (const char* p = list; *p && p < list + kKeyListSize; p += std::strlen(p) + 1) ++n;
    delete[] list;
    return n;
}

uint32_t CIniProfile::forEachKey(const char* section, KeyProc proc, uintptr_t first, uintptr_t second) {
    char* list = new (std::nothrow) char[kKeyListSize];
    if (!list) return 8;
    keyNames(section, list, kKeyListSize);
    uint32_t result = list[0] ? 0 : 259;
    for (const char* p = list; *p && p < list + kKeyListSize; p += std::strlen(p) + 1)
        if (proc && proc(first, p, second) != 0) result = 13;
    delete[] list;
    return result;
}

uint32_t CIniProfile::readInt(const char* section, const char* key, int fallback) {
    return GetPrivateProfileIntA(section, key, fallback, file_);
}

uint32_t CIniProfile::readDefaultInt(const char* key, int fallback) { return readInt(section_, key, fallback); }

int32_t CIniProfile::readDecimal(const char* section, const char* key, int32_t fallback) {
    char def[16];
    std::snprintf(def, sizeof(def), "%ld", static_cast<long>(fallback));
    const DWORD n = GetPrivateProfileStringA(section, key, def, value_, sizeof(value_), file_);
    return n ? profileDecimal(value_, fallback) : fallback;
}

int32_t CIniProfile::readDefaultDecimal(const char* key, int32_t fallback) { return readDecimal(section_, key, fallback); }

const char* CIniProfile::readString(const char* section, const char* key, const char* fallback) {
    GetPrivateProfileStringA(section, key, fallback ? fallback : "", value_, sizeof(value_), file_);
    return value_;
}

const char* CIniProfile::readDefaultString(const char* key, const char* fallback) {
    return readString(section_, key, fallback);
}

uint32_t CIniProfile::readDefaultHex(const char* key, uint32_t fallback) { return readHex(section_, key, fallback); }

uint32_t CIniProfile::readHex(const char* section, const char* key, uint32_t fallback) {
    char def[24];
    std::snprintf(def, sizeof(def), "%lu  ", static_cast<unsigned long>(fallback));
    GetPrivateProfileStringA(section, key, def, value_, sizeof(value_), file_);
    return profileHex(value_);
}

CTaConfig::CTaConfig() {
    setName("CTaConfig");
    setFile(kFileName, "COMM");
}

void CTaConfig::readConfiguration() {
    // A value no byte holds is out of range as a whole (cut to 8 bits, 260 would run as 4): it
    // becomes 0, which the link runs with 7 and reports.
    const uint32_t window = readInt("HDLC", "windowSize", 4);
    link.windowSize = window <= 0xFF ? static_cast<uint8_t>(window) : 0;
    link.t1 = static_cast<uint16_t>(readInt("HDLC", "t1", 1000));
    link.t2 = static_cast<uint16_t>(readInt("HDLC", "t2", 0));
    port.comPort = static_cast<uint16_t>(readInt("COMM", "comPort", 2));
    // The identification fields are short; longer texts are cut.
    copyCut(identification.versionCommand, sizeof(identification.versionCommand), readString("COMM", "VersionCmd", ""));
    copyCut(identification.versionAnswer, sizeof(identification.versionAnswer), readString("COMM", "Version", ""));
    copyCut(identification.nameCommand, sizeof(identification.nameCommand), readString("COMM", "TaNameCmd", ""));
    copyCut(identification.nameAnswer, sizeof(identification.nameAnswer), readString("COMM", "TaName", ""));
    port.baudRate = static_cast<uint32_t>(readDecimal("COMM", "baudRate", 115200));
    port.bufferSize = static_cast<uint16_t>(readDecimal("COMM", "bufferSize", 6));
    g_trace = readHex("DEBUG", "traceCapiMessage", 0);
    readHex("DEBUG", "traceCapi", 0);  // accepted; switches nothing
    const uint32_t transparent = readHex("CAPI", "dataB3Transparent", 1);
    if (transparent == 1) g_b3Options |= 0x1;
    if (transparent == 2) g_b3Options |= 0x2;
    const uint32_t confirmation = readHex("CAPI", "dataB3Confirmation", 1);
    if (confirmation == 1) g_b3Options |= 0x9;
    if (confirmation == 2) g_b3Options |= 0xA;
}

void CTaConfig::serialDeviceName(char* out, size_t size) const {
    std::snprintf(out, size, "COM%u", static_cast<unsigned>(port.comPort));
}

}  // namespace portbridge
