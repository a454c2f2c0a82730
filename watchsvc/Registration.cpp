#include "Registration.h"

#include "Registry.h"
#include "watchsvc_idl.h"

namespace watchsvc {

const char kAppIdText[] = "{3EF3788B-B50C-4513-9552-334E669170B0}";

namespace {

const char kProgId[] = "watchsvc.Registry.1";
const char kIndependentProgId[] = "watchsvc.Registry";
const char kClassDescription[] = "Registry Class";

HRESULT FromWin32(LONG r) { return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r); }

// Deletes a key of HKCR with everything below it; a key that is not there counts as deleted.
LONG DeleteClassesTree(const std::string& path) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    for (;;) {
        char name[512];
        DWORD n = sizeof(name);
        if (RegEnumKeyExA(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        LONG sub = DeleteClassesTree(path + "\\" + std::string(name, n));
        if (sub != ERROR_SUCCESS) {
            RegCloseKey(key);
            return sub;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
}

}  // namespace

std::string GuidText(REFGUID guid) {
    wchar_t w[64];
    int n = StringFromGUID2(guid, w, 64);
    char a[64] = {};
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof(a), nullptr, nullptr);
    return a;
}

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

std::string ModulePath() {
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n <= MAX_PATH ? n : 0);
}

std::string QuotedModulePath() {
    std::string path = ModulePath();
    return path.empty() ? path : "\"" + path + "\"";
}

LONG SetClassesString(const std::string& path, const char* name, const std::string& value) {
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return r;
    r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(key);
    return r;
}

HRESULT ApplyAppEntries() {
    LONG r = SetClassesString(std::string("AppID\\") + kAppIdText, nullptr, "watchsvc");
    if (r == ERROR_SUCCESS) r = SetClassesString("AppID\\watchsvc.EXE", "AppID", kAppIdText);
    return FromWin32(r);
}

HRESULT RemoveAppEntries() {
    LONG r = DeleteClassesTree(std::string("AppID\\") + kAppIdText);
    LONG r2 = DeleteClassesTree("AppID\\watchsvc.EXE");
    return FromWin32(r != ERROR_SUCCESS ? r : r2);
}

HRESULT ApplyClassEntries() {
    const std::string clsid = GuidText(CLSID_Registry);
    const std::string cls = "CLSID\\" + clsid;
    const std::pair<std::string, std::pair<const char*, std::string>> entries[] = {
        {kProgId, {nullptr, kClassDescription}},
        {std::string(kProgId) + "\\CLSID", {nullptr, clsid}},
        {kIndependentProgId, {nullptr, kClassDescription}},
        {std::string(kIndependentProgId) + "\\CLSID", {nullptr, clsid}},
        {std::string(kIndependentProgId) + "\\CurVer", {nullptr, kProgId}},
        {cls, {nullptr, kClassDescription}},
        {cls, {"AppID", kAppIdText}},
        {cls + "\\ProgID", {nullptr, kProgId}},
        {cls + "\\VersionIndependentProgID", {nullptr, kIndependentProgId}},
        {cls + "\\LocalServer32", {nullptr, QuotedModulePath()}},
        {cls + "\\TypeLib", {nullptr, GuidText(LIBID_WATCHSVCLib)}},
    };
    for (const auto& e : entries) {
        LONG r = SetClassesString(e.first, e.second.first, e.second.second);
        if (r != ERROR_SUCCESS) return FromWin32(r);
    }
    HKEY programmable = nullptr;
    LONG r = RegCreateKeyExA(HKEY_CLASSES_ROOT, (cls + "\\Programmable").c_str(), 0, nullptr, 0, KEY_WRITE,
                             nullptr, &programmable, nullptr);
    if (r == ERROR_SUCCESS) RegCloseKey(programmable);
    return FromWin32(r);
}

HRESULT RemoveClassEntries() {
    LONG results[] = {
        DeleteClassesTree(kProgId),
        DeleteClassesTree(kIndependentProgId),
        DeleteClassesTree("CLSID\\" + GuidText(CLSID_Registry)),
    };
    for (LONG r : results)
        if (r != ERROR_SUCCESS) return FromWin32(r);
    return S_OK;
}

}  // namespace watchsvc

HRESULT Registry::UpdateRegistry(BOOL doRegister) {
    return doRegister ? watchsvc::ApplyClassEntries() : watchsvc::RemoveClassEntries();
}
