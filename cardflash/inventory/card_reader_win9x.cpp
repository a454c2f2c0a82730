// The Windows 9x adapter reader: from the device's Enum key to its class entries, the network
// driver (and NDIS), the IP address (DHCP lease or the TCP/IP protocol's own entry), the
// Configuration Manager's device node and the node's allocated resources.
#include <windows.h>

#include <cstring>
#include <vector>

#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"
#include "cardflash/inventory/dev_node.h"
#include "cardflash/inventory/ndis.h"
#include "cardflash/inventory/reg_key.h"
#include "cardflash/inventory/res_desc.h"
#include "cardflash/inventory/win9x_net.h"

namespace {

constexpr DWORD kValueBuffer = 256;
// Binary values are read whole (up to this) and used only within what the registry returned.
constexpr DWORD kMaxBinary = 4096;

const char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class\\";
const char kDhcpRoot[] = "SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP";
// Windows 9x appends this to a multi-function parent's description.
const char kMfParentTail[] = "(Multi-function Parent Device)";

bool ReadString(HKEY key, const char* name, CString* out) {
    char buf[kValueBuffer];
    DWORD size = sizeof(buf);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
        return false;
    *out = CString(buf, static_cast<int>(strnlen(buf, size)));
    return true;
}

bool ReadBinary(HKEY key, const char* name, std::vector<uint8_t>* out) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size > kMaxBinary)
        return false;
    out->assign(size, 0);
    if (size == 0) return true;
    if (RegQueryValueExA(key, name, nullptr, nullptr, out->data(), &size) != ERROR_SUCCESS) return false;
    out->resize(size);
    return true;
}

// The registry entry of a class instance such as Net\0001, under Services\Class.
LONG OpenClassKey(const CString& driver, RegKey* key) {
    if (driver.IsEmpty()) return ERROR_FILE_NOT_FOUND;  // would be the Class branch itself
    return key->Open(HKEY_LOCAL_MACHINE, (kClassRoot + driver).c_str(), KEY_READ);
}

// The IP address of the DHCP lease whose hardware address is the adapter's permanent address;
// empty when no lease holds it.
CString DhcpLeaseAddress(const CString& macText, bool windows98) {
    RegKey leases;
    if (leases.Open(HKEY_LOCAL_MACHINE, kDhcpRoot, KEY_READ) != ERROR_SUCCESS) return CString();
    for (DWORD i = 0;; ++i) {
        char name[kValueBuffer];
        DWORD nameLength = sizeof(name);
        LONG r = RegEnumKeyExA(leases.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) continue;  // leases are numbered; so long a name is none
        if (r != ERROR_SUCCESS) return CString();
        RegKey lease;
        if (lease.Open(leases.get(), name, KEY_READ) != ERROR_SUCCESS) continue;

        uint8_t hardware[6] = {};
        uint8_t ip[4] = {};
        bool haveIp = false;
        std::vector<uint8_t> value;
        if (windows98) {
            if (!ReadBinary(lease.get(), "HardwareAddress", &value) || value.size() < sizeof(hardware)) continue;
            std::memcpy(hardware, value.data(), sizeof(hardware));
            if (win9xnet::HardwareAddressText(hardware) != macText) continue;
            if (ReadBinary(lease.get(), "DhcpIPAddress", &value) && value.size() >= sizeof(ip)) {
                std::memcpy(ip, value.data(), sizeof(ip));
                haveIp = true;
            }
        } else {
            if (!ReadBinary(lease.get(), "DhcpInfo", &value) ||
                !win9xnet::DhcpInfoHardwareAddress(value.data(), value.size(), hardware))
                continue;
            if (win9xnet::HardwareAddressText(hardware) != macText) continue;
            haveIp = win9xnet::DhcpInfoIpAddress(value.data(), value.size(), ip);
        }
        // The adapter's own lease: its address, or none when the lease holds no readable one.
        return haveIp ? win9xnet::IpAddressText(ip) : CString();
    }
}

// The fixed address of the TCP/IP protocol bound to the adapter, from its NetTrans entry.
CString MstcpAddress(const CStringArray& bindings) {
    CString binding;
    for (int i = 0; i < bindings.GetSize() && !bindings[i].IsEmpty(); ++i) {
        if (bindings[i].Find("MSTCP") >= 0) {
            binding = bindings[i];
            break;
        }
    }
    if (binding.IsEmpty()) return CString();

    RegKey protocol;
    if (protocol.Open(HKEY_LOCAL_MACHINE, ("Enum\\Network\\" + binding).c_str(), KEY_READ) != ERROR_SUCCESS)
        return CString();
    CString driver;
    ReadString(protocol.get(), "Driver", &driver);
    CString instance = win9xnet::NetTransInstance(driver);
    if (instance.IsEmpty()) return CString();

    RegKey netTrans;
    CString path;
    path.Format("System\\CurrentControlSet\\Services\\Class\\NetTrans\\%s", instance.c_str());
    if (netTrans.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) != ERROR_SUCCESS) return CString();
    CString address;
    ReadString(netTrans.get(), "IPAddress", &address);
    return address == "0.0.0.0" ? CString() : address;
}

void ReadNetFunction(CCardInfo& card, HKEY device) {
    ReadString(device, "Driver", &card.m_NetClassDriver);
    card.m_NetClassKey = kClassRoot + card.m_NetClassDriver;

    RegKey bindings;
    if (bindings.Open(device, "Bindings", KEY_READ) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[kValueBuffer];
            DWORD nameLength = sizeof(name);
            LONG r = RegEnumValueA(bindings.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_MORE_DATA) continue;  // no binding has so long a name
            if (r != ERROR_SUCCESS) break;
            card.m_NetBindings.Add(CString(name, static_cast<int>(nameLength)));
        }
    }

    RegKey classKey;
    if (OpenClassKey(card.m_NetClassDriver, &classKey) == ERROR_SUCCESS) {
        if (ReadString(classKey.get(), "DeviceVxDs", &card.m_NetDriver)) card.m_NetDriver.MakeUpper();
        ReadString(classKey.get(), "InfPath", &card.m_NetINF);
    }
    if (!card.m_NetDriver.IsEmpty())
        card.m_NetDriverVersion = FileVersionString(card.m_OSInfo.m_SystemDir + "\\" + card.m_NetDriver);

    CString adapter = win9xnet::ClassInstance(card.m_NetClassDriver);
    if (!adapter.IsEmpty()) {
        NetAdapterInfo ndis;
        if (ndis.Open(adapter) == 0) {
            uint32_t value = 0;
            ndis.GetLinkSpeed(&value);
            card.m_NetLinkSpeed = value;
            ndis.GetAddressText(&card.m_NetMACAddress);
            ndis.GetVendorId(&value);
            card.m_NetVendorVersion = value;
            ndis.Close();
        }
    }

    card.m_NetIPAddress.Empty();
    if (!card.m_NetMACAddress.IsEmpty())
        card.m_NetIPAddress = DhcpLeaseAddress(card.m_NetMACAddress, card.m_OSInfo.m_Win9xIndex == OS_WIN98);
    if (card.m_NetIPAddress.IsEmpty() || card.m_NetIPAddress == "0.0.0.0")
        card.m_NetIPAddress = MstcpAddress(card.m_NetBindings);
}

void ReadModemFunction(CCardInfo& card, HKEY device) {
    ReadString(device, "Driver", &card.m_ModemClassDriver);
    ReadString(device, "PORTNAME", &card.m_ModemComPort);
    ReadString(device, "DeviceDesc", &card.m_ModemDesc);
    RegKey classKey;
    if (OpenClassKey(card.m_ModemClassDriver, &classKey) == ERROR_SUCCESS)
        ReadString(classKey.get(), "InfPath", &card.m_ModemINF);
}

void ReadMultiFunction(CCardInfo& card, HKEY device) {
    if (!ReadString(device, "Driver", &card.m_MFClassDriver)) card.m_MFClassDriver = "???";
    RegKey classKey;
    if (OpenClassKey(card.m_MFClassDriver, &classKey) == ERROR_SUCCESS)
        ReadString(classKey.get(), "InfPath", &card.m_MFINF);
}

// One function of a multi-function card: Enum\MF\CHILD000n\<parent key with "&" for "\">.
bool OpenChild(const CString& pnpId, const char* child, RegKey* key) {
    CString name = pnpId;
    name.Replace('\\', '&');
    CString path;
    path.Format("Enum\\MF\\%s\\%s", child, name.c_str());
    return key->Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

void ReadResources(CCardInfo& card) {
    card.m_ResourcesRead = FALSE;
    CDevNode node;
    if (!node.Read(card.m_DevNode) || node.m_AllocationLength <= 0) return;
    CResDesc allocation;
    if (allocation.Parse(node.m_Allocation, node.m_AllocationLength) != CResDesc::kOk) return;

    const ResourceSummary& s = allocation.summary();
    card.m_ResourceData = s;
    auto range = [](CStringArray& texts, unsigned start, unsigned length) {
        CString text;
        text.Format("%X - %X", start, start + length);
        texts.Add(text);
    };
    auto number = [](CStringArray& texts, int value) {
        CString text;
        text.Format("%d", value);
        texts.Add(text);
    };
    for (int i = 0; i < s.memCount && i < ResourceSummary::kMaxMem; ++i)
        range(card.m_MemTexts, s.memBase[i], s.memLength[i]);
    for (int i = 0; i < s.ioCount && i < ResourceSummary::kMaxIo; ++i)
        range(card.m_IoTexts, s.ioBase[i], s.ioLength[i]);
    for (int i = 0; i < s.irqCount && i < ResourceSummary::kMaxIrq; ++i) number(card.m_IrqTexts, s.irq[i]);
    for (int i = 0; i < s.dmaCount && i < ResourceSummary::kMaxDma; ++i) number(card.m_DmaTexts, s.dma[i]);
    card.m_ResourcesRead = TRUE;
}

}  // namespace

void ReadCardWin9x(CCardInfo& card, BOOL readResources) {
    RegKey device;
    if (device.Open(HKEY_LOCAL_MACHINE, ("Enum\\" + card.m_PnPID).c_str(), KEY_READ) != ERROR_SUCCESS) return;

    ReadString(device.get(), "Class", &card.m_DeviceClass);
    // A multi-function parent lists its functions as Child0000, ...; Windows 95 OSR2 gives some
    // parents the class of one of their functions.
    RegKey firstChild;
    if (firstChild.Open(device.get(), "Child0000", KEY_READ) == ERROR_SUCCESS) {
        card.m_MFCard = TRUE;
        card.m_OSR2MFBug = card.m_DeviceClass.Find("Multi") < 0;
    }

    ReadString(device.get(), "DeviceDesc", &card.m_DeviceDesc);
    // Cut by length, so a blank before the tail stays.
    const int tail = static_cast<int>(strlen(kMfParentTail));
    if (card.m_DeviceDesc.Find(kMfParentTail) >= 0)
        card.m_DeviceDesc = card.m_DeviceDesc.Left(card.m_DeviceDesc.GetLength() - tail);
    ReadString(device.get(), "Mfg", &card.m_Manufacturer);
    ReadString(device.get(), "HardwareID", &card.m_HardwareID);

    if (card.m_DeviceClass == "Net") {
        card.m_Flags |= CCardInfo::kFlagNet;
        ReadNetFunction(card, device.get());
    } else if (card.m_MFCard) {
        ReadMultiFunction(card, device.get());
        RegKey child;
        if (OpenChild(card.m_PnPID, "CHILD0000", &child)) {
            card.m_Flags |= CCardInfo::kFlagModem;
            ReadModemFunction(card, child.get());
        }
        if (OpenChild(card.m_PnPID, "CHILD0001", &child)) {
            card.m_Flags |= CCardInfo::kFlagNet;
            ReadNetFunction(card, child.get());
        }
    } else if (card.m_DeviceClass == "Modem") {
        card.m_Flags |= CCardInfo::kFlagModem;
        ReadModemFunction(card, device.get());
    }

    card.m_HardWareKey = card.m_PnPID;
    card.m_CardInserted = FindDevNode(card.m_HardWareKey, &card.m_DevNode) ? TRUE : FALSE;

    if (readResources) {
        if (card.m_CardInserted)
            ReadResources(card);
        else
            card.m_ResourcesRead = FALSE;
    }
}
