#include "dialconf/discovery.h"

#include <windows.h>

#include "dialconf/config_rules.h"
#include "dialconf/trace.h"
#include "framework/handles.h"

namespace {

const char kModemClassNt[] = "System\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char kModemClassCurrent[] =
    "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

// A string value; false when it is missing or is not text.
bool ReadString(HKEY key, const char* name, CString* value) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    CString s;
    char* buf = s.GetBuffer(static_cast<int>(size) + 1);
    DWORD got = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &got) != ERROR_SUCCESS) {
        s.ReleaseBuffer(0);
        return false;
    }
    buf[got < size + 1 ? got : size] = '\0';
    s.ReleaseBuffer();  // up to the first NUL: the terminator or an early one
    *value = s;
    return true;
}

// The subkey names of a key, up to `max_name` characters each.
CStringArray SubkeyNames(HKEY key, DWORD max_name) {
    CStringArray names;
    std::string buf(max_name, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD n = max_name;
        LONG r = RegEnumKeyExA(key, i, &buf[0], &n, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) continue;  // a name too long for us: not one of ours
        names.Add(CString(buf.c_str(), static_cast<int>(n)));
    }
    return names;
}

// One device instance: when its manufacturer value matches, its port is added once per
// matching entry. An unreadable manufacturer or a missing port adds nothing.
int AddIfMaker(HKEY instance, const char* manufacturer_value, const char* port_value,
               const CStringArray& manufacturers, CStringArray* ports, const char* trace_prefix) {
    CString mfg;
    if (!ReadString(instance, manufacturer_value, &mfg)) return 0;
    int added = 0;
    for (int i = 0; i < manufacturers.GetSize(); ++i) {
        if (!ManufacturerMatches(mfg, manufacturers[i])) continue;
        CString port;
        if (!ReadString(instance, port_value, &port) || port.IsEmpty()) continue;
        Trace(trace_prefix + port);
        ports->Add(port);
        ++added;
    }
    return added;
}

// Enum\MF and Enum\PCI: every instance of every device.
int WalkBus(const char* bus, const CStringArray& manufacturers, CStringArray* ports) {
    fw::RegKey root;
    if (!root.Open(HKEY_LOCAL_MACHINE, bus, KEY_READ)) return 0;
    int added = 0;
    CStringArray devices = SubkeyNames(root.get(), 256);
    for (int d = 0; d < devices.GetSize(); ++d) {
        fw::RegKey device;
        if (!device.Open(root.get(), devices[d], KEY_READ)) continue;
        CStringArray instances = SubkeyNames(device.get(), 512);
        for (int i = 0; i < instances.GetSize(); ++i) {
            fw::RegKey instance;
            if (!instance.Open(device.get(), instances[i], KEY_READ)) continue;
            added += AddIfMaker(instance.get(), "Mfg", "PORTNAME", manufacturers, ports,
                                "Parsing registry Com Port = ");
        }
    }
    return added;
}

// Enum\PCMCIA, the modem-only cards: instance "0" of every device that has instances.
int WalkPcmcia(const CStringArray& manufacturers, CStringArray* ports) {
    Trace("Searching for com ports used by modem-only products");
    fw::RegKey root;
    if (!root.Open(HKEY_LOCAL_MACHINE, "Enum\\PCMCIA", KEY_READ)) return 0;
    int added = 0;
    CStringArray devices = SubkeyNames(root.get(), 256);
    for (int d = 0; d < devices.GetSize(); ++d) {
        fw::RegKey device;
        if (!device.Open(root.get(), devices[d], KEY_READ)) continue;
        if (SubkeyNames(device.get(), 512).IsEmpty()) continue;
        fw::RegKey instance;
        if (!instance.Open(device.get(), "0", KEY_READ)) continue;
        added += AddIfMaker(instance.get(), "Mfg", "PORTNAME", manufacturers, ports, "Modem only Com Port = ");
    }
    return added;
}

void WalkModemClass(const CStringArray& manufacturers, CStringArray* ports) {
    fw::RegKey root;
    if (!root.Open(HKEY_LOCAL_MACHINE, kModemClassNt, KEY_READ)) return;
    CStringArray instances = SubkeyNames(root.get(), 512);
    for (int i = 0; i < instances.GetSize(); ++i) {
        Trace("instName = " + instances[i]);
        fw::RegKey instance;
        if (!instance.Open(root.get(), instances[i], KEY_READ)) continue;
        AddIfMaker(instance.get(), "Manufacturer", "AttachedTo", manufacturers, ports, "Com Port = ");
    }
}

}  // namespace

CStringArray ReadManufacturers(const CString& settings_file) {
    CStringArray list;
    for (int i = 0; i < 50; ++i) {
        char key[8], value[32];
        wsprintfA(key, "%d", i);
        GetPrivateProfileStringA("Manufacturer", key, "0", value, sizeof(value), settings_file);
        if (lstrlenA(value) > 1) {
            list.Add(value);
            Trace(value);
        }
    }
    return list;
}

CStringArray CollectCandidatePorts(int windows_kind, const CStringArray& manufacturers) {
    CStringArray ports;
    if (windows_kind >= 1 && windows_kind <= 3) {
        if (!WalkBus("Enum\\MF", manufacturers, &ports)) Trace("Didn't find a 16-bit MF adapter");
        if (!WalkBus("Enum\\PCI", manufacturers, &ports)) Trace("Didn't find cardbus adapters");
        if (!WalkPcmcia(manufacturers, &ports)) Trace("Did not find any 16Bit modem only cards");
    } else {
        WalkModemClass(manufacturers, &ports);
    }
    return ports;
}

bool SetModemDelays(const CStringArray& manufacturers) {
    fw::RegKey root;
    if (!root.Open(HKEY_LOCAL_MACHINE, kModemClassCurrent, KEY_READ)) return true;
    bool ok = true;
    CStringArray instances = SubkeyNames(root.get(), 512);
    for (int i = 0; i < instances.GetSize(); ++i) {
        fw::RegKey instance;
        if (!instance.Open(root.get(), instances[i], KEY_READ | KEY_SET_VALUE)) continue;
        CString mfg;
        if (!ReadString(instance.get(), "Manufacturer", &mfg)) continue;
        bool maker = false;
        for (int m = 0; m < manufacturers.GetSize() && !maker; ++m) maker = ManufacturerMatches(mfg, manufacturers[m]);
        if (!maker) continue;
        Trace("Found Dorvex card. Adding PowerDelay and ConfigDelay keys.");
        const DWORD delay = 1500;
        if (RegSetValueExA(instance.get(), "PowerDelay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&delay),
                           sizeof(delay)) != ERROR_SUCCESS) {
            Trace("Failed to write PowerDelay registry key for Win2K");
            ok = false;
        }
        if (RegSetValueExA(instance.get(), "ConfigDelay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&delay),
                           sizeof(delay)) != ERROR_SUCCESS) {
            Trace("Failed to write ConfigDelay registry key for Win2K");
            ok = false;
        }
    }
    return ok;
}
