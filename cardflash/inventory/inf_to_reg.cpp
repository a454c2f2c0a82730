#include "cardflash/inventory/inf_to_reg.h"

#include <setupapi.h>

#include <string>
#include <vector>

#include "cardflash/inventory/card_info.h"
#include "framework/handles.h"

namespace {

constexpr DWORD kCopyStyle = 0x2000;                  // copy only over an older file
constexpr UINT kInstallFlags = SPINST_INIFILES | SPINST_REGISTRY;
const char kClass9x[] = "System\\CurrentControlSet\\Services\\Class\\";
const char kClassNt[] = "System\\CurrentControlSet\\Control\\Class\\";
const char kDeviceSpecific[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\";

class InfFile {
public:
    explicit InfFile(HINF h) : h_(h) {}
    ~InfFile() {
        if (IsOpen()) SetupCloseInfFile(h_);
    }
    InfFile(const InfFile&) = delete;
    InfFile& operator=(const InfFile&) = delete;
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HINF get() const { return h_; }

private:
    HINF h_;
};

class FileQueue {
public:
    FileQueue() : h_(SetupOpenFileQueue()) {}
    ~FileQueue() {
        if (IsOpen()) SetupCloseFileQueue(h_);
    }
    FileQueue(const FileQueue&) = delete;
    FileQueue& operator=(const FileQueue&) = delete;
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HSPFILEQ get() const { return h_; }

private:
    HSPFILEQ h_;
};

// The class the INF's [Version] section names (the Setup API's own class check is not to be
// relied on: not every implementation makes it).
bool IsModemInf(HINF inf) {
    INFCONTEXT line;
    char name[MAX_PATH] = {};
    return SetupFindFirstLineA(inf, "Version", "Class", &line) &&
           SetupGetStringFieldA(&line, 1, name, sizeof name, nullptr) && lstrcmpiA(name, "Modem") == 0;
}

// Copies the queue with the system's own progress and error handling.
bool CommitQueue(HWND owner, HSPFILEQ queue) {
    void* context = SetupInitDefaultQueueCallback(owner);
    if (!context) return false;
    const BOOL ok = SetupCommitFileQueueA(owner, queue, SetupDefaultQueueCallbackA, context);
    SetupTermDefaultQueueCallback(context);
    return ok != FALSE;
}

// A string value of any length; false when it is missing, of another type or empty.
bool ReadText(HKEY key, const char* name, std::string* out) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ || size == 0)
        return false;
    std::vector<char> text(size + 1, 0);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return false;
    *out = text.data();
    return !out->empty();
}

// Every value of `from` into `to`, with its name, type and data; false unless all were copied.
bool CopyValues(HKEY from, HKEY to) {
    DWORD count = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyA(from, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<char> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(from, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            return false;
        if (RegSetValueExA(to, name.data(), 0, type, data.data(), dataSize) != ERROR_SUCCESS) return false;
    }
    return true;
}

// Windows NT keeps a modem's responses under Unimodem's DeviceSpecific key, named by the driver
// key's ResponsesKeyName; the INF puts them below the driver key.
int MoveResponses(const std::string& driverPath, HKEY driver) {
    std::string name;
    if (!ReadText(driver, "ResponsesKeyName", &name)) return CInfToReg::kNoResponsesName;
    fw::RegKey responses;
    if (!responses.Open(HKEY_LOCAL_MACHINE, (driverPath + "\\Responses").c_str(), KEY_ALL_ACCESS))
        return CInfToReg::kOk;
    HKEY created = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kDeviceSpecific + name + "\\Responses").c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created, nullptr) != ERROR_SUCCESS)
        return CInfToReg::kResponsesFailed;
    const bool copied = CopyValues(responses.get(), created);
    RegCloseKey(created);
    responses.Close();
    if (!copied) return CInfToReg::kResponsesFailed;
    return RegDeleteKeyA(driver, "Responses") == ERROR_SUCCESS ? CInfToReg::kOk : CInfToReg::kResponsesFailed;
}

}  // namespace

int CInfToReg::Install(const CString& pnpId, const CString& infFile, const CString& infDir,
                       const CString& deviceClass, const CString& section) {
    if (deviceClass != "Modem") return kNotModemClass;
    CCardInfo card(pnpId, TRUE);
    const COSInfo& os = card.m_OSInfo;
    const bool nt = os.m_PlatformId == VER_PLATFORM_WIN32_NT;

    // Without a modem function or a driver value the path would be the whole Class key.
    if (!(card.m_Flags & CCardInfo::kFlagModem) || card.m_ModemClassDriver.IsEmpty()) return kNoDriverKey;
    const std::string driverPath = std::string(nt ? kClassNt : kClass9x) + card.m_ModemClassDriver.str();
    fw::RegKey driver;
    if (!driver.Open(HKEY_LOCAL_MACHINE, driverPath.c_str(), KEY_ALL_ACCESS)) return kNoDriverKey;

    const CString infPath = infDir + "\\" + infFile;
    InfFile inf(SetupOpenInfFileA(infPath.c_str(), "Modem", INF_STYLE_WIN4, nullptr));
    if (!inf.IsOpen() || !IsModemInf(inf.get()) || SetupGetLineCountA(inf.get(), section.c_str()) < 0)
        return kBadInf;

    const HWND owner = GetActiveWindow();
    {
        FileQueue queue;
        if (!queue.IsOpen()) return kCopyFailed;
        if (!SetupQueueCopyA(queue.get(), infDir.c_str(), nullptr, infFile.c_str(), nullptr, nullptr,
                             os.m_InfDir.c_str(), nullptr, kCopyStyle))
            return kCopyFailed;
        // Windows keeps a copied maker's INF under a name with "~" in INF\OTHER.
        if (card.m_ModemINF.Find('~') >= 0) {
            CreateDirectoryA(os.m_InfOtherDir.c_str(), nullptr);
            if (!SetupQueueCopyA(queue.get(), infDir.c_str(), nullptr, infFile.c_str(), nullptr, nullptr,
                                 os.m_InfOtherDir.c_str(), card.m_ModemINF.c_str(), kCopyStyle))
                return kCopyFailed;
        }
        if (!CommitQueue(owner, queue.get())) return kCopyFailed;
    }

    DeleteSubkeys(CString(driverPath.c_str()), driver.get());
    if (!SetupInstallFromInfSectionA(owner, inf.get(), section.c_str(), kInstallFlags, driver.get(), nullptr,
                                     kCopyStyle, nullptr, nullptr, nullptr, nullptr))
        return kInstallFailed;
    return nt ? MoveResponses(driverPath, driver.get()) : kOk;
}

int CInfToReg::DeleteSubkeys(const CString& keyPath, HKEY key) {
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 1;
    std::vector<std::string> names;
    for (DWORD i = count; i-- > 0;) {
        char name[257];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        names.push_back(name);
        const CString path = keyPath + "\\" + name;
        fw::RegKey sub;
        if (!sub.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS)) continue;
        DWORD below = 0;
        if (RegQueryInfoKeyA(sub.get(), nullptr, nullptr, nullptr, &below, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            below > 0)
            DeleteSubkeys(path, sub.get());
    }
    for (const std::string& name : names) RegDeleteKeyA(key, name.c_str());
    return 1;
}
