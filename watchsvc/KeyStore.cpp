#include "KeyStore.h"
#include "Registration.h"

#include <vector>

namespace watchsvc {

namespace {

// The name as the registry will see it: RegOpenKeyExA converts it from the system code page, and
// the registry compares names upper-cased.
std::wstring UpperWide(const std::string& name) {
    std::wstring w = Wide(name);
    if (!w.empty()) CharUpperBuffW(&w[0], DWORD(w.size()));
    return w;
}

// The kernel's own name of an open key ("\REGISTRY\MACHINE\..."); empty when the system does not
// tell it.
std::wstring NativeKeyName(HKEY key) {
    typedef LONG(WINAPI * NtQueryKeyFn)(HANDLE, int, PVOID, ULONG, PULONG);
    static NtQueryKeyFn query = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryKey")));
    if (!query) return std::wstring();
    const int kKeyNameInformation = 3;
    std::vector<ULONG> buf(1024);  // ULONG length followed by the name, not terminated
    ULONG got = 0;
    ULONG bytes = ULONG(buf.size() * sizeof(ULONG));
    if (query(key, kKeyNameInformation, buf.data(), bytes, &got) != 0) return std::wstring();
    ULONG length = buf[0];
    if (length > bytes - sizeof(ULONG)) return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(&buf[1]), length / sizeof(wchar_t));
}

const LONG kClassesRoot = LONG(0x80000000u), kCurrentUser = LONG(0x80000001u),
           kLocalMachine = LONG(0x80000002u), kUsers = LONG(0x80000003u),
           kPerformanceData = LONG(0x80000004u), kCurrentConfig = LONG(0x80000005u),
           kDynData = LONG(0x80000006u);

}  // namespace

KeyStore::~KeyStore() {
    keys_.ForEach([](OpenedKey& k) { RegCloseKey(k.key); });
    keys_.Clear();
}

KeyStore& KeyStore::Instance() {
    static KeyStore store;
    return store;
}

LONG KeyStore::Open(LONG key, const std::string& subkey, LONG* number) {
    HKEY base = nullptr;
    OpenedKey opened;
    switch (key) {
    case kClassesRoot:
    case kCurrentUser:
    case kUsers:
    case kCurrentConfig:
        return ERROR_INVALID_PARAMETER;
    case kLocalMachine:
        base = HKEY_LOCAL_MACHINE;
        opened.machine = true;
        break;
    case kPerformanceData:
        base = HKEY_PERFORMANCE_DATA;
        break;
    case kDynData:
        base = HKEY_DYN_DATA;
        break;
    default: {
        const OpenedKey* parent = keys_.Find(key);
        if (!parent) return ERROR_INVALID_HANDLE;
        base = parent->key;
        opened.machine = parent->machine;
        opened.path = parent->path;
        break;
    }
    }
    // The name ends where the registry's copy of it ends, at the first zero.
    std::string name(subkey.c_str());
    opened.path = JoinKeyPath(opened.path, UpperWide(name));
    if (opened.machine && IsRefusedMachinePath(opened.path)) return ERROR_INVALID_PARAMETER;

    HKEY k = nullptr;
    LONG r = RegOpenKeyExA(base, name.c_str(), 0, KEY_READ, &k);
    if (r != ERROR_SUCCESS) return r;
    // Whatever the spelling, a key that turns out to lie in a refused hive is not handed out.
    if (IsRefusedNativeKeyName(NativeKeyName(k))) {
        RegCloseKey(k);
        return ERROR_INVALID_PARAMETER;
    }
    opened.key = k;
    *number = keys_.Add(std::move(opened));
    return ERROR_SUCCESS;
}

LONG KeyStore::Close(LONG number) {
    OpenedKey k;
    if (!keys_.Remove(number, &k)) return ERROR_INVALID_HANDLE;
    return RegCloseKey(k.key);
}

LONG KeyStore::Query(LONG number, const std::string& name, DWORD* type, std::string* data) {
    const OpenedKey* k = keys_.Find(number);
    if (!k) return ERROR_INVALID_HANDLE;
    LONG r = ERROR_MORE_DATA;
    // The value may grow between asking for its size and reading it: ask again then.
    for (int attempt = 0; attempt < 4 && r == ERROR_MORE_DATA; ++attempt) {
        DWORD size = 0;
        r = RegQueryValueExA(k->key, name.c_str(), nullptr, type, nullptr, &size);
        if (r != ERROR_SUCCESS) return r;
        // Room for a terminator beyond the data, though the data is used only up to `size`.
        std::vector<BYTE> buf(size_t(size) + sizeof(wchar_t), 0);
        DWORD got = size;
        r = RegQueryValueExA(k->key, name.c_str(), nullptr, type, buf.data(), &got);
        if (r == ERROR_SUCCESS) data->assign(reinterpret_cast<const char*>(buf.data()), got <= size ? got : size);
    }
    return r;
}

LONG KeyStore::Enum(LONG number, DWORD index, std::string* name) {
    const OpenedKey* k = keys_.Find(number);
    if (!k) return ERROR_INVALID_HANDLE;
    char buf[512];
    DWORD n = sizeof(buf);
    FILETIME written;
    LONG r = RegEnumKeyExA(k->key, index, buf, &n, nullptr, nullptr, nullptr, &written);
    if (r == ERROR_SUCCESS) name->assign(buf, n < sizeof(buf) ? n : sizeof(buf) - 1);
    return r;
}

}  // namespace watchsvc
