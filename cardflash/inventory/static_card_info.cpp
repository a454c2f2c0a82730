#include "cardflash/inventory/static_card_info.h"

#include <mutex>

#include "cardflash/inventory/name_list.h"
#include "cardflash/inventory/profile_source.h"

namespace {

std::mutex g_ini_lock;
CString g_ini_file;

}  // namespace

void CStaticCardInfo::SetIniFile(const CString& path) {
    std::lock_guard<std::mutex> hold(g_ini_lock);
    g_ini_file = path;
}

CString CStaticCardInfo::GetIniFile() {
    std::lock_guard<std::mutex> hold(g_ini_lock);
    return g_ini_file;
}

CString CStaticCardInfo::GetManufacturer(int number) {
    if (number < 0) return CString();
    CString file = GetIniFile();
    if (file.IsEmpty()) return CString();
    CString key;
    key.Format("%d", number);
    return devicedb::ProfileValue("Manufacturers", key.c_str(), 80, file);
}

CString CStaticCardInfo::GetPciVendorIds() {
    CString file = GetIniFile();
    if (file.IsEmpty()) return CString();
    return devicedb::ProfileValue("Manufacturers", "PCIVENDORIDS", 256, file);
}

CStaticCardInfo::CStaticCardInfo(const CString& id) : m_Id(id) {}

int CStaticCardInfo::FindSection(const CString& keyFamily) { return SearchSections(keyFamily, m_Id, CString()); }

int CStaticCardInfo::FindSectionFor(const CString& keyFamily, const CString& id) {
    return SearchSections(keyFamily, id, CString());
}

int CStaticCardInfo::SearchSections(const CString& keyFamily, const CString& id, const CString& manufacturer) {
    m_Section.Empty();
    m_KeyNames.clear();
    CString file = GetIniFile();
    if (file.IsEmpty()) return kNotFound;

    std::vector<char> sections(kListBuffer, '\0');
    devicedb::ProfileNames(nullptr, sections.data(), kListBuffer - 2, file);
    for (const std::string& name : SplitNameList(sections.data(), sections.size())) {
        if (name[0] < '0' || name[0] > '9') continue;
        m_Section = name;
        m_KeyNames.assign(kListBuffer, '\0');
        devicedb::ProfileNames(name.c_str(), m_KeyNames.data(), kListBuffer - 2, file);

        CString value;
        if (GetValue(keyFamily, &value) == kFound && id.Left(value.GetLength()) == value) {
            if (manufacturer.IsEmpty()) return kFound;
            CString mfg;
            if (GetValue("GEN_MFG", &mfg) == kFound && mfg == manufacturer) return kFound;
        }
        m_KeyNames.clear();
    }
    return kNotFound;
}

int CStaticCardInfo::GetValue(const CString& keyPrefix, CString* value) {
    if (m_Section.IsEmpty() || m_KeyNames.empty() || !value) return kNotFound;
    CString file = GetIniFile();
    for (const std::string& key : SplitNameList(m_KeyNames.data(), m_KeyNames.size())) {
        if (key.compare(0, static_cast<size_t>(keyPrefix.GetLength()), keyPrefix.str()) != 0) continue;
        *value = devicedb::ProfileValue(m_Section.c_str(), key.c_str(), 1024, file);
        value->Trim();
        if (!value->IsEmpty()) return kFound;
    }
    return kNotFound;
}
