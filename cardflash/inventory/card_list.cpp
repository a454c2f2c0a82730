#include "cardflash/inventory/card_list.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cardflash/inventory/cis.h"
#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/reg_key.h"
#include "cardflash/inventory/static_card_info.h"
#include "watchsvc/client/RegistryClient.h"

namespace {

// The bus walks look at the first 20 devices of a branch, with all of their instances.
constexpr DWORD kMaxDevices = 20;
constexpr int kNtSockets = 8;
// VEN_xxxx&DEV_xxxx: the part of a PCI device name that the vendor-id list holds.
constexpr int kPciStem = 17;
constexpr DWORD kNameRoom = 512;
constexpr DWORD kDescRoom = 256;

const char kPccard[] = "PCCARD";

// The devices of a branch worth walking: not the PC Card controller itself, and on PCI only the
// maker's devices by their vendor and device id.
bool IsCandidate(const CString& device, bool pci, const CString& vendorIds) {
    if (!pci) return device.CompareNoCase(kPccard) != 0;
    CString stem = device.GetLength() > kPciStem ? device.Left(kPciStem) : device;
    return !stem.IsEmpty() && vendorIds.Find(stem.c_str()) >= 0;
}

// The registry read directly (Windows 9x).
class DirectRegistry {
public:
    using Key = RegKey;
    Key NewKey() const { return RegKey(); }
    bool OpenBranch(Key& key, const char* path) {
        return key.Open(HKEY_LOCAL_MACHINE, path, KEY_READ) == ERROR_SUCCESS;
    }
    bool Open(Key& key, const Key& parent, const CString& name) {
        return key.Open(parent.get(), name.c_str(), KEY_READ) == ERROR_SUCCESS;
    }
    bool Enum(const Key& key, DWORD index, CString* name) {
        char buf[kNameRoom];
        DWORD size = kNameRoom;
        if (RegEnumKeyExA(key.get(), index, buf, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        *name = CString(buf, static_cast<int>(strnlen(buf, size < kNameRoom ? size : kNameRoom)));
        return true;
    }
};

// The registry through the registry service (Windows 2000). Every call may raise CComError.
class ServiceRegistry {
public:
    using Key = watchsvc::CServiceKey;
    explicit ServiceRegistry(IRegistry* reg) : reg_(reg) {}
    bool OpenBranch(Key& key, const char* path) { return key.Open(watchsvc::kHkeyLocalMachine, path) == 0; }
    bool Open(Key& key, const Key& parent, const CString& name) { return key.Open(parent.handle(), name.str()) == 0; }
    bool Enum(const Key& key, DWORD index, CString* name) {
        std::string text;
        if (!key.EnumSubkey(index, &text)) return false;
        *name = text;
        return true;
    }
    Key NewKey() const { return Key(reg_); }

private:
    IRegistry* reg_;
};

// One Enum branch: device keys at indexes 0 to kMaxDevices - 1, every instance of each candidate
// device added as "<branchName>\<device>\<instance>". A key that cannot be opened or enumerated
// ends its part of the walk.
template <class Access>
void WalkBranch(Access& access, const char* path, const char* branchName, bool pci, const CString& vendorIds,
                CStringArray& keys) {
    typename Access::Key branch = access.NewKey();
    if (!access.OpenBranch(branch, path)) return;
    for (DWORD i = 0; i < kMaxDevices; ++i) {
        CString device;
        if (!access.Enum(branch, i, &device)) break;
        if (!IsCandidate(device, pci, vendorIds)) continue;
        typename Access::Key deviceKey = access.NewKey();
        if (!access.Open(deviceKey, branch, device)) continue;
        CString instance;
        for (DWORD j = 0; access.Enum(deviceKey, j, &instance); ++j)
            keys.Add(CString(branchName) + "\\" + device + "\\" + instance);
    }
}

// A string value of at most `room` bytes, terminator included; false when it is missing, longer
// or not text.
bool ReadString(HKEY key, const char* name, DWORD room, CString* value) {
    std::vector<char> buf(room);
    DWORD size = room, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    *value = CString(buf.data(), static_cast<int>(strnlen(buf.data(), size < room ? size : room)));
    return true;
}

// Starts COM on the calling thread for the length of a scope, unless the thread already runs in
// another apartment (then the caller's COM serves).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

}  // namespace

// --- CCardList --------------------------------------------------------------------------------

BOOL CCardList::Build() {
    m_Keys.RemoveAll();
    m_ReadError = S_OK;
    COSInfo os(FALSE);
    if (os.m_PlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        DirectRegistry reg;
        WalkBranch(reg, "Enum\\PCMCIA", "PCMCIA", false, CString(), m_Keys);
        WalkBranch(reg, "Enum\\PCI", "PCI", true, CStaticCardInfo::GetPciVendorIds(), m_Keys);
        return TRUE;
    }
    if (os.m_PlatformId != VER_PLATFORM_WIN32_NT) return FALSE;
    switch (os.m_OSIndex) {
    case OS_NT351:
        BuildNt351();
        return TRUE;
    case OS_NT40:
        BuildNt40();
        return TRUE;
    case OS_WIN2000: {
        ComScope com;
        watchsvc::CRegistryPtr reg;
        try {
            reg = watchsvc::CreateRegistry();
        } catch (const watchsvc::CComError& e) {
            m_ReadError = e.Error();
            return FALSE;
        }
        return BuildWin2000(reg.get());
    }
    default:
        return TRUE;
    }
}

void CCardList::BuildNt351() {
    for (int socket = 0; socket < kNtSockets; ++socket) {
        CCis cis;
        CString id;
        if (cis.ReadCisNt4(socket) && cis.GetPnpId(&id)) m_Keys.Add(id);
    }
}

void CCardList::BuildNt40() {
    // The maker's names, read once for the whole walk rather than once per device.
    std::vector<CString> makers;
    for (int n = 0;; ++n) {
        CString name = CStaticCardInfo::GetManufacturer(n);
        if (name.IsEmpty()) break;
        makers.push_back(name);
    }
    RegKey root;
    if (root.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root", KEY_READ) != ERROR_SUCCESS) return;
    DirectRegistry reg;
    CString device;
    for (DWORD i = 0; reg.Enum(root, i, &device); ++i) {
        RegKey deviceKey;
        if (!reg.Open(deviceKey, root, device)) continue;
        CString instance;
        for (DWORD j = 0; reg.Enum(deviceKey, j, &instance); ++j) {
            RegKey instanceKey;
            CString desc;
            if (!reg.Open(instanceKey, deviceKey, instance) ||
                !ReadString(instanceKey.get(), "DeviceDesc", kDescRoom, &desc))
                continue;
            for (const CString& maker : makers) {
                if (desc.Find(maker.c_str()) >= 0) {
                    m_Keys.Add("Root\\" + device + "\\" + instance);
                    break;
                }
            }
        }
    }
}

BOOL CCardList::BuildWin2000(IRegistry* registry) {
    ServiceRegistry reg(registry);
    // A failing service call ends the walk it happened in: its keys are closed on the way out and
    // what it found stays. The other walk is still tried.
    auto walk = [&](const char* path, const char* branchName, bool pci, const CString& vendorIds) {
        try {
            WalkBranch(reg, path, branchName, pci, vendorIds, m_Keys);
        } catch (const watchsvc::CComError& e) {
            if (m_ReadError == S_OK) m_ReadError = e.Error();
        }
    };
    walk("SYSTEM\\CurrentControlSet\\Enum\\PCMCIA", "PCMCIA", false, CString());
    walk("SYSTEM\\CurrentControlSet\\Enum\\PCI", "PCI", true, CStaticCardInfo::GetPciVendorIds());
    return m_ReadError == S_OK;
}

// --- CActiveCardList --------------------------------------------------------------------------

namespace {

// The database value of `key` in the view's section, empty when it is missing.
CString ViewValue(CStaticCardInfo& view, const char* key) {
    CString value;
    if (view.GetValue(key, &value) != CStaticCardInfo::kFound) value.Empty();
    return value;
}

enum class Road { None, Win9x, Win2000, Nt };

Road RoadOf(const COSInfo& os) {
    if (os.m_PlatformId == VER_PLATFORM_WIN32_WINDOWS) return Road::Win9x;
    if (os.m_PlatformId != VER_PLATFORM_WIN32_NT) return Road::None;
    if (os.m_OSIndex == OS_NT351 || os.m_OSIndex == OS_NT40) return Road::Nt;
    if (os.m_OSIndex == OS_WIN2000) return Road::Win2000;
    return Road::None;
}

// The database view that describes `card` for pairing, or nothing when the card takes no part in
// it. Windows 9x and 2000 pair only PCI functions (a PC Card there is one device whose record reads
// both functions); NT pairs every device that the database knows by key or modem identity.
std::unique_ptr<CStaticCardInfo> PairingView(Road road, const COSInfo& os, const CCardInfo& card) {
    // On 9x and 2000 a view is used whether or not it finds a section: with none, its values read
    // empty, and so does the description taken from it.
    auto view = std::make_unique<CStaticCardInfo>(card.m_PnPID);
    switch (road) {
    case Road::Win9x:
        if (card.m_PnPID.Find("PCI") < 0) return nullptr;
        // The same lookup the record made: Windows 98 by the device key, the others by hardware id.
        if (os.m_Win9xIndex == OS_WIN98)
            view->FindSection("GEN_PNPID_");
        else
            view->FindSectionFor("GEN_PNPID_", card.m_HardwareID);
        break;
    case Road::Win2000:
        if (card.m_PnPID.Find("PCI") < 0) return nullptr;
        view->FindSection("GEN_PNPID_");
        break;
    case Road::Nt: {
        const bool found = view->FindSection("GEN_NT4ID_") == CStaticCardInfo::kFound ||
                view->FindSection("MODEM_NT4ID_") == CStaticCardInfo::kFound ||
                view->FindSection("MODEM_UNI_") == CStaticCardInfo::kFound ||
                view->SearchSections("MODEM_SB2_", card.m_ModemBoardCode, card.m_ModemManufacturer) ==
                    CStaticCardInfo::kFound ||
                view->SearchSections("MODEM_I5_", card.m_ModemIdentity, card.m_ModemManufacturer) ==
                    CStaticCardInfo::kFound ||
                view->SearchSections("MODEM_XMA_", card.m_ModemModuleId, card.m_ModemManufacturer) ==
                    CStaticCardInfo::kFound;
        if (!found) return nullptr;
        break;
    }
    case Road::None:
        return nullptr;
    }
    return view;
}

// What pairs two functions of one card: the same non-empty MODEM_SB2_ and GEN_MFG values.
struct PairingKey {
    CString board;
    CString maker;
    bool usable() const { return !board.IsEmpty() && !maker.IsEmpty(); }
    bool operator==(const PairingKey& o) const { return board == o.board && maker == o.maker; }
};

PairingKey KeyOf(CStaticCardInfo& view) { return {ViewValue(view, "MODEM_SB2_"), ViewValue(view, "GEN_MFG")}; }

}  // namespace

CActiveCardList::~CActiveCardList() { Clear(); }

void CActiveCardList::Clear() {
    // Every slot of both tables, not only those up to the first empty one: nothing that the list
    // holds may outlive it.
    for (int i = 0; i < kMaxCards; ++i) {
        delete m_Cards[i];
        m_Cards[i] = nullptr;
        delete m_Partners[i];
        m_Partners[i] = nullptr;
    }
}

BOOL CActiveCardList::Refresh(BOOL insertedOnly) {
    Clear();
    CCardList list;
    list.Build();
    m_KeyCount = static_cast<DWORD>(list.m_Keys.GetSize());

    const COSInfo os(FALSE);
    const Road road = RoadOf(os);
    // The pairing key of each entry, found once when it became an entry (the database does not
    // change during a refresh, and every later record is compared with every entry).
    std::vector<PairingKey> entryKeys(kMaxCards);
    int used = 0;
    for (int k = 0; k < list.m_Keys.GetSize(); ++k) {
        std::unique_ptr<CCardInfo> card(new CCardInfo(list.m_Keys[k], TRUE));
        if ((insertedOnly && !card->m_CardInserted) || !card->m_StaticInfo) continue;

        std::unique_ptr<CStaticCardInfo> view = PairingView(road, os, *card);
        if (view && road != Road::Nt) card->m_DeviceDesc = ViewValue(*view, "GEN_LONGNAME");
        const PairingKey key = view ? KeyOf(*view) : PairingKey();

        // The card whose second function this is: the first entry with the same pairing key
        // whose partner slot is still free (a third function with that key gets an entry of its
        // own rather than taking another's place).
        int partnerOf = -1;
        for (int m = 0; key.usable() && m < used && partnerOf < 0; ++m)
            if (!m_Partners[m] && entryKeys[m] == key) partnerOf = m;

        if (partnerOf >= 0) {
            if (road == Road::Nt) m_Cards[partnerOf]->m_DeviceDesc = card->m_DeviceDesc;
            m_Partners[partnerOf] = card.release();
        } else if (used < kMaxCards) {
            entryKeys[used] = key;
            m_Cards[used++] = card.release();
        }
        // A full table takes no further entries (a second function still joins its listed card
        // above); the record goes with `card`.
    }
    return TRUE;
}
