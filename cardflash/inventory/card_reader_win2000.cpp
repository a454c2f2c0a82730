// The Windows 2000 adapter reader. A user without administrator rights cannot read every key the
// reader needs, so it reads through watchsvc, which runs with the service's rights; addresses come
// from IP Helper.
#include "cardflash/inventory/card_reader_win2000.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"
#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/static_card_info.h"

namespace {

using watchsvc::kHkeyLocalMachine;

const char kEnum[] = "SYSTEM\\CurrentControlSet\\Enum\\";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char kClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

using watchsvc::CServiceKey;

// A value's text; empty when it cannot be read.
// The value's text; false, with `text` emptied, when it cannot be read.
bool QueryText(const CServiceKey& key, const char* name, CString* text) {
    std::string value;
    bool read = key.Query(name, &value);
    *text = CString(value);
    return read;
}

CString Value(const CServiceKey& key, const char* name) {
    CString text;
    QueryText(key, name, &text);
    return text;
}

CString UpperValue(const CServiceKey& key, const char* name) {
    CString text = Value(key, name);
    text.MakeUpper();
    return text;
}

// The part of a path after its last backslash; the whole text when it has none.
CString AfterLastBackslash(const CString& path) { return path.Mid(path.ReverseFind('\\') + 1); }

// Whether the service of the device key `device` lists the device path `path` among the devices it
// runs now: Windows removes a device from its service's Enum values when the card goes.
BOOL ServicePresence(IRegistry* reg, const CServiceKey& device, const CString& path) {
    CString service;
    if ((!QueryText(device, "Service", &service) || service.IsEmpty()) &&
        (!QueryText(device, "Default Service", &service) || service.IsEmpty()))
        return FALSE;
    CServiceKey list(reg, kHkeyLocalMachine, (kServices + service + "\\ENUM").str());
    if (!list.is_open()) return FALSE;
    for (unsigned i = 0;; ++i) {
        CString entry;
        if (!QueryText(list, std::to_string(i).c_str(), &entry)) return FALSE;
        // The whole path, exactly: instance 1 of a card is not instance 10, and an empty entry
        // names no device.
        if (!entry.IsEmpty() && entry == path) return TRUE;
    }
}

void ReadModemFunction(CCardInfo& card, const CServiceKey& key) {
    card.m_ModemClassDriver = Value(key, "Driver");
    card.m_ModemDesc = Value(key, "DeviceDesc");
}

void ReadNetFunction(CCardInfo& card, const CServiceKey& key) {
    card.m_NetClassDriver = Value(key, "Service");
    card.m_NetClassKey = Value(key, "Driver");
}

// A multi-function card: Windows keeps its functions as children under Enum\MF\<parent with '#'
// for its first '\'>\<instance>#ChildNNNN.
void ReadChildren(IRegistry* reg, CCardInfo& card) {
    const int cut = card.m_PnPID.ReverseFind('\\');
    CString parent = cut >= 0 ? card.m_PnPID.Left(cut) : card.m_PnPID;
    CString instance = cut >= 0 ? card.m_PnPID.Mid(cut + 1) : CString();
    const int first = parent.Find('\\');
    if (first >= 0) parent.SetAt(first, '#');
    CServiceKey mf(reg, kHkeyLocalMachine, (kEnum + CString("MF\\") + parent).str());
    if (!mf.is_open() || parent.IsEmpty() || instance.IsEmpty()) return;
    const CString prefix = instance + "#Child";
    std::string name;
    for (unsigned long i = 0; mf.EnumSubkey(i, &name); ++i) {
        // Children of this instance only: those of instance 11 also contain "1#Child".
        if (name.compare(0, prefix.GetLength(), prefix.str()) != 0) continue;
        CServiceKey child(reg, mf.handle(), name);
        if (!child.is_open()) continue;
        CString cls;
        if (!QueryText(child, "Class", &cls)) continue;
        cls.MakeUpper();
        if (cls == "MODEM") {
            card.m_Flags |= CCardInfo::kFlagModem;
            ReadModemFunction(card, child);
            card.m_ModemInstancePath = "MF\\" + parent + "\\" + CString(name);
        } else if (cls == "NET") {
            card.m_Flags |= CCardInfo::kFlagNet;
            ReadNetFunction(card, child);
        } else {
            continue;
        }
        if (!card.m_CardInserted) {
            card.m_ChildPath = "MF\\" + parent + "\\" + CString(name);
            card.m_CardInserted = ServicePresence(reg, child, card.m_ChildPath);
        }
    }
}

void ReadModemClass(IRegistry* reg, CCardInfo& card) {
    CServiceKey cls(reg, kHkeyLocalMachine, (kClass + card.m_ModemClassDriver).str());
    if (cls.is_open()) {
        card.m_ModemComPort = Value(cls, "AttachedTo");
        card.m_ModemINF = Value(cls, "InfPath");
    }
    card.m_ResourcesRead = FALSE;
}

void ReadNetDriver(IRegistry* reg, CCardInfo& card) {
    {
        CServiceKey service(reg, kHkeyLocalMachine, (kServices + card.m_NetClassDriver).str());
        if (service.is_open()) {
            card.m_NetDriver = AfterLastBackslash(Value(service, "ImagePath"));
            card.m_NetDriver.MakeUpper();
        }
    }
    card.m_NetDriverVersion.Empty();
    if (!card.m_NetDriver.IsEmpty())
        card.m_NetDriverVersion = FileVersionString(card.m_OSInfo.m_DriverDir + "\\" + card.m_NetDriver);
    card.m_NetLinkSpeed = 0;
    card.m_NetMACAddress.Empty();
    card.m_NetBindName.Empty();
    card.m_NetIPAddress.Empty();
    card.m_NetClassKey = kClass + card.m_NetClassKey;
    {
        CServiceKey cls(reg, kHkeyLocalMachine, card.m_NetClassKey.str());
        if (cls.is_open()) card.m_NetCfgInstanceId = Value(cls, "NetCfgInstanceId");
    }
    AdapterAddresses addresses;
    if (card.m_CardInserted && !card.m_NetCfgInstanceId.IsEmpty() &&
        LookUpAdapter(card.m_NetCfgInstanceId, &addresses)) {
        card.m_NetMACAddress = addresses.mac;
        card.m_NetIPAddress = addresses.ip;
    }
}

CString DatabaseValue(CStaticCardInfo& db, const char* key) {
    CString value;
    if (db.GetValue(key, &value) != CStaticCardInfo::kFound) value.Empty();
    return value;
}

void ReadDatabase(CCardInfo& card) {
    CStaticCardInfo db(card.m_HardwareID);
    card.m_StaticInfo = db.FindSection("GEN_PNPID_") == CStaticCardInfo::kFound;
    if (!card.m_StaticInfo) return;
    card.m_Manufacturer = DatabaseValue(db, "GEN_MFG");
    card.m_DeviceDesc = DatabaseValue(db, "GEN_LONGNAME");
    card.m_FlashProg = DatabaseValue(db, "MODEM_FLASHPROG");
    card.m_CountrySelect = DatabaseValue(db, "MODEM_COUNTRYSELECT") == "1";
    card.m_CallLogging = DatabaseValue(db, "MODEM_CALLLOGGING") == "1";
    card.m_FlashModeAT = DatabaseValue(db, "MODEM_FLASHMODE") == "AT";
}

// IP Helper is not on every Windows the program starts on: bound when first needed.
GetAdaptersInfoFn SystemGetAdaptersInfo() {
    static GetAdaptersInfoFn fn = [] {
        HMODULE lib = LoadLibraryA("iphlpapi.dll");
        return lib ? reinterpret_cast<GetAdaptersInfoFn>(
                         reinterpret_cast<void*>(GetProcAddress(lib, "GetAdaptersInfo")))
                   : nullptr;
    }();
    return fn;
}

// A fixed text field of IP Helper's record, which need not end inside the field.
CString FieldText(const char* field, size_t size) {
    const void* end = std::memchr(field, 0, size);
    return CString(field, int(end ? static_cast<const char*>(end) - field : size));
}

}  // namespace

bool LookUpAdapter(const CString& name, AdapterAddresses* out, GetAdaptersInfoFn getAdaptersInfo) {
    if (!getAdaptersInfo) getAdaptersInfo = SystemGetAdaptersInfo();
    if (!getAdaptersInfo) return false;
    // Ask with room for ten adapters first and then with the size IP Helper reports, again when
    // an adapter came between the two calls.
    std::vector<IP_ADAPTER_INFO> buffer(10);
    DWORD rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        ULONG size = ULONG(buffer.size() * sizeof(IP_ADAPTER_INFO));
        rc = getAdaptersInfo(buffer.data(), &size);
        if (rc == ERROR_BUFFER_OVERFLOW) {
            const size_t needed = (size_t(size) + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO);
            if (needed <= buffer.size()) return false;  // a size that would not help
            buffer.resize(needed);
        }
    }
    if (rc != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO* a = buffer.data(); a; a = a->Next) {
        if (FieldText(a->AdapterName, sizeof(a->AdapterName)) != name) continue;
        const UINT length = std::min<UINT>(a->AddressLength, sizeof(a->Address));
        out->mac.Empty();
        for (UINT i = 0; i < length; ++i) {
            CString byte;
            byte.Format("%02X ", a->Address[i]);
            out->mac += byte;
        }
        out->ip = FieldText(a->IpAddressList.IpAddress.String, sizeof(a->IpAddressList.IpAddress.String));
        return true;
    }
    return false;
}

void ReadCardWin2000(CCardInfo& card, IRegistry* reg) {
    {
        CServiceKey device(reg, kHkeyLocalMachine, (kEnum + card.m_PnPID).str());
        if (!device.is_open()) return;
        card.m_DeviceDesc = Value(device, "DeviceDesc");
        card.m_DeviceClass = UpperValue(device, "Class");
        card.m_HardwareID = UpperValue(device, "HardwareID");

        if (card.m_DeviceClass == "MODEM") {
            card.m_Flags = CCardInfo::kFlagModem;
            card.m_MFCard = FALSE;
            ReadModemFunction(card, device);
            card.m_CardInserted = ServicePresence(reg, device, card.m_PnPID);
        } else if (card.m_DeviceClass == "NET") {
            card.m_Flags = CCardInfo::kFlagNet;
            card.m_MFCard = FALSE;
            ReadNetFunction(card, device);
            card.m_CardInserted = ServicePresence(reg, device, card.m_PnPID);
        } else {
            card.m_DeviceClass = "MULTIFUNCTION";
            card.m_CardInserted = FALSE;
            card.m_MFCard = TRUE;
            ReadChildren(reg, card);
        }
    }
    if (card.m_Flags & CCardInfo::kFlagModem) ReadModemClass(reg, card);
    if (card.m_Flags & CCardInfo::kFlagNet) ReadNetDriver(reg, card);
    ReadDatabase(card);
}

void ReadCardWin2000(CCardInfo& card) {
    watchsvc::CRegistryPtr reg = watchsvc::CreateRegistry();
    ReadCardWin2000(card, reg.get());
}
