// The Windows NT 3.51 and NT 4.0 adapter readers. Both read HKEY_LOCAL_MACHINE directly with read
// access; a key or value that cannot be read leaves its member empty.
#include <cstdlib>
#include <vector>

#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"
#include "cardflash/inventory/nt_pcmcia.h"
#include "cardflash/inventory/nt_resource_text.h"
#include "cardflash/inventory/ndis.h"
#include "cardflash/inventory/reg_key.h"
#include "cardflash/inventory/static_card_info.h"

namespace {

constexpr DWORD kValueBuffer = 256;
constexpr int kNtSockets = 8;
const char kSerialResources[] = "HARDWARE\\RESOURCEMAP\\LOADED SERIAL DRIVER RESOURCES";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";

// The bytes of a value, as many as the registry returned (at most 256); false when it is missing
// or longer.
bool ReadBytes(HKEY key, const char* name, std::vector<uint8_t>* out, DWORD* type = nullptr) {
    out->clear();
    if (!key) return false;
    BYTE data[kValueBuffer];
    DWORD size = sizeof data, t = 0;
    if (RegQueryValueExA(key, name, nullptr, &t, data, &size) != ERROR_SUCCESS || size > sizeof data) return false;
    out->assign(data, data + size);
    if (type) *type = t;
    return true;
}

// A text value: REG_SZ, REG_EXPAND_SZ as stored, or the first string of a REG_MULTI_SZ.
bool ReadText(HKEY key, const char* name, CString* out) {
    std::vector<uint8_t> bytes;
    DWORD type = 0;
    if (!ReadBytes(key, name, &bytes, &type) ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return false;
    size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0) ++n;
    *out = CString(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(n));
    return true;
}

CString Text(HKEY key, const char* name) {
    CString value;
    ReadText(key, name, &value);
    return value;
}

bool ReadDword(HKEY key, const char* name, DWORD* out) {
    std::vector<uint8_t> bytes;
    DWORD type = 0;
    if (!ReadBytes(key, name, &bytes, &type) || type != REG_DWORD || bytes.size() != sizeof(DWORD)) return false;
    *out = static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
    return true;
}

bool HasSubkey(HKEY key, const char* name) {
    RegKey sub;
    return key && sub.Open(key, name, KEY_READ) == ERROR_SUCCESS;
}

// The part after the last "\" (the whole text when there is none).
CString LastElement(const CString& path) { return path.Mid(path.ReverseFind('\\') + 1); }

CString DatabaseValue(CStaticCardInfo& db, const char* key) {
    CString value;
    if (db.GetValue(key, &value) != CStaticCardInfo::kFound) value.Empty();
    return value;
}

// Service name in m_NetClassDriver.
void ReadNetworkService(CCardInfo& card) {
    if (card.m_NetClassDriver.IsEmpty()) return;
    RegKey service;
    if (service.Open(HKEY_LOCAL_MACHINE, (kServices + card.m_NetClassDriver).c_str(), KEY_READ) == ERROR_SUCCESS) {
        CString value;
        if (ReadText(service.get(), "DisplayName", &value)) card.m_DeviceDesc = value;
        if (ReadText(service.get(), "ImagePath", &value)) card.m_NetDriver = LastElement(value).MakeUpper();
        RegKey linkage;
        if (linkage.Open(service.get(), "Linkage", KEY_READ) == ERROR_SUCCESS &&
            ReadText(linkage.get(), "Bind", &value))
            card.m_NetBindName = LastElement(value);
    }
    if (!card.m_NetDriver.IsEmpty())
        card.m_NetDriverVersion = FileVersionString(card.m_OSInfo.m_DriverDir + "\\" + card.m_NetDriver);
    if (card.m_NetBindName.IsEmpty()) return;

    NetAdapterInfo adapter;
    if (adapter.Open(card.m_NetBindName) == 0) {
        uint32_t speed = 0;
        adapter.GetLinkSpeed(&speed);
        card.m_NetLinkSpeed = speed;
        adapter.GetAddressText(&card.m_NetMACAddress);
        adapter.Close();
    }

    // Read access is all this needs; asking for more fails for users who may not change the key.
    // A DHCP address of 0.0.0.0 is what a fixed-address adapter keeps there: the fixed one counts.
    RegKey tcpip;
    CString path;
    path.Format("SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters\\Tcpip", card.m_NetBindName.c_str());
    if (tcpip.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) != ERROR_SUCCESS) return;
    CString address;
    if (!ReadText(tcpip.get(), "DhcpIPAddress", &address) || address.IsEmpty() || address == "0.0.0.0")
        address = Text(tcpip.get(), "IPAddress");
    card.m_NetIPAddress = address == "0.0.0.0" ? CString() : address;
}

// The resources the network driver was configured with, from its adapter's parameters.
void ReadNetworkResources(CCardInfo& card) {
    if (card.m_NetBindName.IsEmpty()) return;
    RegKey params;
    if (params.Open(HKEY_LOCAL_MACHINE, (kServices + card.m_NetBindName + "\\Parameters").c_str(), KEY_READ) !=
        ERROR_SUCCESS)
        return;
    HKEY k = params.get();
    DWORD base = 0, size = 0;
    if (ReadDword(k, "MemoryMappedBaseAddress", &base) && ReadDword(k, "MemoryMappedSize", &size))
        card.m_MemTexts.Add(ntres::RangeText(base, base + size - 1));
    if (ReadDword(k, "MemoryBaseAddress", &base)) card.m_MemTexts.Add(ntres::RangeText(base, base + 0xFFF));
    if (ReadDword(k, "PCCARDAttributeMemoryAddress", &base) && ReadDword(k, "PCCARDAttributeMemorySize", &size))
        card.m_MemTexts.Add(ntres::RangeText(base, base + size - 1));
    if (ReadDword(k, "IOBaseAddress", &base)) card.m_IoTexts.Add(ntres::RangeText(base, base + 0x7F));
    if (ReadDword(k, "IOBaseAddress_1", &base) && ReadDword(k, "IOLength_1", &size))
        card.m_IoTexts.Add(ntres::RangeText(base, base + size));
    if (ReadDword(k, "InterruptNumber", &base)) {
        CString irq;
        irq.Format("%d", static_cast<int>(base));
        card.m_IrqTexts.Add(irq);
    }
    card.m_ResourcesRead = !card.m_MemTexts.IsEmpty() || !card.m_IoTexts.IsEmpty() || !card.m_IrqTexts.IsEmpty();
}

// One raw resource value of the serial driver into the port and interrupt texts; false when the
// value is missing.
bool ReadSerialResources(CCardInfo& card, const CString& subkey, const CString& valueName) {
    RegKey key;
    std::vector<uint8_t> bytes;
    if (key.Open(HKEY_LOCAL_MACHINE, (CString(kSerialResources) + "\\" + subkey).c_str(), KEY_READ) !=
            ERROR_SUCCESS ||
        !ReadBytes(key.get(), valueName.c_str(), &bytes))
        return false;
    ntres::PortAndInterrupt res;
    ntres::DecodeResourceList(bytes.data(), bytes.size(), &res);
    if (res.hasPort) card.m_IoTexts.Add(ntres::RangeText(res.portStart, res.portStart + res.portLength));
    if (res.hasInterrupt) {
        CString irq;
        irq.Format("%d", static_cast<int>(res.interruptLevel));
        card.m_IrqTexts.Add(irq);
    }
    if (res.hasPort || res.hasInterrupt) card.m_ResourcesRead = TRUE;
    return true;
}

// The modem's port and interrupt as the serial driver (or the modem's own driver) took them.
void ReadModemResources(CCardInfo& card) {
    const int port = ntres::ComPortNumber(card.m_ModemComPort);
    if (port > 0) {
        CString name;
        name.Format("\\Device\\serial%d.RAW", port - 1);
        if (ReadSerialResources(card, "SERIAL", name)) return;
    }
    // A controller-less modem's driver publishes its resources under its own name.
    if (card.m_ModemClassDriver.IsEmpty()) return;
    RegKey cls;
    if (cls.Open(HKEY_LOCAL_MACHINE, ("SYSTEM\\CURRENTCONTROLSET\\CONTROL\\CLASS\\" + card.m_ModemClassDriver).c_str(),
                 KEY_READ) != ERROR_SUCCESS)
        return;
    CString driver = Text(cls.get(), "ModemDriver");
    if (driver.GetLength() >= 4 && driver.Right(4).CompareNoCase(".vxd") == 0) driver = driver.Left(driver.GetLength() - 4);
    if (!driver.IsEmpty()) ReadSerialResources(card, driver, "\\Device\\ltmodem.RAW");
}

// The COM port whose serial resources start at one of the card's I/O windows.
void FindSerialPort(CCardInfo& card) {
    RegKey serial;
    if (serial.Open(HKEY_LOCAL_MACHINE, (CString(kSerialResources) + "\\Serial").c_str(), KEY_READ) != ERROR_SUCCESS)
        return;
    const ResourceSummary& r = card.m_ResourceData;
    for (DWORD index = 0;; ++index) {
        char name[kValueBuffer];
        BYTE data[kValueBuffer];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        const LONG rc = RegEnumValueA(serial.get(), index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (rc == ERROR_MORE_DATA) continue;  // too long to be a serial port's resource list
        if (rc != ERROR_SUCCESS) return;
        const CString valueName(name, static_cast<int>(nameSize));
        const CString device = ntres::RawValueDevice(valueName);
        if (device.IsEmpty()) continue;
        ntres::PortAndInterrupt res;
        if (!ntres::DecodeResourceList(data, dataSize, &res) || !res.hasPort) continue;
        for (int i = 0; i < r.ioCount && i < ResourceSummary::kMaxIo; ++i) {
            if (r.ioBase[i] != (res.portStart & 0xFFFF)) continue;
            RegKey comm;
            if (comm.Open(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", KEY_READ) == ERROR_SUCCESS)
                card.m_ModemComPort = Text(comm.get(), device.c_str());
            return;
        }
    }
}

// The socket whose card has the record's plug-and-play id (the adapter list names NT 3.51 cards so).
bool FindCardCis(CCardInfo& card) {
    for (int socket = 0; socket < kNtSockets; ++socket) {
        CCis cis;
        CString id;
        if (!cis.ReadCisNt4(socket) || !cis.GetPnpId(&id) || id.CompareNoCase(card.m_PnPID.c_str()) != 0) continue;
        card.m_Cis = cis;
        return true;
    }
    return false;
}

// A generic modem says who it is: its manufacturer and board code (or module id) find its model.
int FindGenericModem(CCardInfo& card, CStaticCardInfo& db) {
    if (card.m_ModemComPort.IsEmpty()) return CStaticCardInfo::kNotFound;
    CModem modem;
    if (modem.AttachCard(&card, "") != kModemOk) return CStaticCardInfo::kNotFound;
    CPortLock lock(&modem);
    if (modem.ReadManufacturer() != kModemOk) return CStaticCardInfo::kNotFound;
    card.m_ModemManufacturer = modem.m_Manufacturer;
    if (modem.ReadBoardCode() == kModemOk) {
        card.m_ModemBoardCode = modem.m_BoardCode;
        if (modem.ReadModuleId() == kModemOk) card.m_ModemModuleId = modem.m_ModuleId;
        return db.SearchSections("MODEM_SB2_", card.m_ModemBoardCode, card.m_ModemManufacturer);
    }
    if (modem.ReadModuleId() != kModemOk) return CStaticCardInfo::kNotFound;
    card.m_ModemModuleId = modem.m_ModuleId;
    if (card.m_ModemModuleId.Find("MPCI") < 0) return db.SearchSections("MODEM_XMA_", card.m_ModemModuleId, "");
    return db.SearchSections("MODEM_I5_", card.m_ModemIdentity, "");
}

}  // namespace

void ReadCardNt351(CCardInfo& card) {
    if (!card.m_Cis.IsValid() && !FindCardCis(card)) return;
    const CCis& cis = card.m_Cis;
    CString manufacturer, product;
    cis.GetManufacturerName(&manufacturer);
    cis.GetProductName(&product);
    card.m_DeviceDesc = manufacturer + " " + product;
    card.m_CardInserted = TRUE;
    card.m_OSR2MFBug = FALSE;
    card.m_MFCard = FALSE;
    card.m_Manufacturer = manufacturer;

    RegKey entry;
    const CString path = "SYSTEM\\CurrentControlSet\\Services\\PCMCIA\\DataBase\\" + manufacturer + "\\" + product;
    if (entry.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS) {
        card.m_DeviceClass = Text(entry.get(), "DeviceType").MakeUpper();
        card.m_NetClassDriver = Text(entry.get(), "Driver");
    }
    if (card.m_DeviceClass == "NET") {
        card.m_Flags |= CCardInfo::kFlagNet;
        ReadNetworkService(card);
    }

    // The card is there (its CIS was just read): its socket's configuration is what it uses.
    CNTPcmcia pcmcia;
    card.m_ResourcesRead = pcmcia.GetConfiguration(cis.GetSocket(), &card.m_ResourceData) ? TRUE : FALSE;
    if (card.m_ResourcesRead) card.m_MFCard = card.m_ResourceData.ioCount > 1;

    const uint8_t kFunctionSerial = 2;
    if (cis.GetFunctionId() == kFunctionSerial) {
        card.m_Flags |= CCardInfo::kFlagModem;
        if (card.m_ResourcesRead) FindSerialPort(card);
    }
}

void ReadCardNt40(CCardInfo& card) {
    RegKey device;
    if (device.Open(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Enum\\" + card.m_PnPID).c_str(), KEY_READ) !=
        ERROR_SUCCESS)
        return;  // no such device: nothing to describe
    card.m_DeviceDesc = Text(device.get(), "DeviceDesc");
    card.m_DeviceClass = Text(device.get(), "Class").MakeUpper();

    if (card.m_DeviceClass == "MODEM") {
        card.m_ModemClassDriver = Text(device.get(), "Driver");
        card.m_Flags = CCardInfo::kFlagModem;
        RegKey cls;
        if (!card.m_ModemClassDriver.IsEmpty() &&
            cls.Open(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Control\\Class\\" + card.m_ModemClassDriver).c_str(),
                     KEY_READ) == ERROR_SUCCESS)
            card.m_ModemComPort = Text(cls.get(), "AttachedTo");
        ReadModemResources(card);
    } else {
        card.m_NetClassDriver = Text(device.get(), "Service");
        card.m_Flags = CCardInfo::kFlagNet;
        card.m_DeviceClass = "NET";
        ReadNetworkService(card);
        ReadNetworkResources(card);
    }

    // Each family is tried in turn; the first that names the device keeps its section chosen.
    CStaticCardInfo db(card.m_PnPID);
    int found = db.FindSection("GEN_NT4ID_");
    if (found != CStaticCardInfo::kFound) found = db.FindSection("MODEM_NT4ID_");
    if (found != CStaticCardInfo::kFound) found = db.FindSection("MODEM_UNI_");
    if (found != CStaticCardInfo::kFound && card.m_PnPID.Find("MDMGEN") >= 0) found = FindGenericModem(card, db);
    card.m_StaticInfo = found == CStaticCardInfo::kFound;

    if (card.m_StaticInfo) {
        const CString type = DatabaseValue(db, "GEN_CARDTYPE");
        if (card.m_Flags != CCardInfo::kFlagNet && !type.IsEmpty() && type[0] >= '0' && type[0] <= '9')
            card.m_Flags = static_cast<DWORD>(std::strtoul(type.c_str(), nullptr, 10));
        // The database names the model on NT 4.0: a key its section lacks leaves the text empty,
        // as on the other roads.
        card.m_Manufacturer = DatabaseValue(db, "GEN_MFG");
        card.m_DeviceDesc = DatabaseValue(db, "GEN_LONGNAME");
        card.m_FlashProg = DatabaseValue(db, "MODEM_FLASHPROG");
        card.m_HardwareID = DatabaseValue(db, "GEN_PNPID_");
        if (!card.m_NetBindName.IsEmpty())
            card.m_NetClassKey = kServices + card.m_NetBindName + "\\Parameters";
        card.m_CountrySelect = DatabaseValue(db, "MODEM_COUNTRYSELECT") == "1";
        card.m_CallLogging = DatabaseValue(db, "MODEM_CALLLOGGING") == "1";
        card.m_FlashModeAT = DatabaseValue(db, "MODEM_FLASHMODE") == "AT";
    }

    card.m_CardInserted = HasSubkey(device.get(), "Control") || HasSubkey(device.get(), "LogConf");
}
