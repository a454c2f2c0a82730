// Read-only view of the static device database QorvDevices.ini: finds the section that describes
// one plug-and-play id and answers key lookups in it. Lookups return 0 when found and 7
// ("No static info for given PnPID") when not.
#pragma once

#include <vector>

#include "framework/cstring.h"

class CStaticCardInfo {
public:
    static constexpr int kFound = 0;
    static constexpr int kNotFound = 7;

    static void SetIniFile(const CString& path);
    static CString GetIniFile();
    static CString GetManufacturer(int number);
    static CString GetPciVendorIds();

    explicit CStaticCardInfo(const CString& id);
    virtual ~CStaticCardInfo() = default;

    int FindSection(const CString& keyFamily);
    int FindSectionFor(const CString& keyFamily, const CString& id);
    int SearchSections(const CString& keyFamily, const CString& id, const CString& manufacturer);
    int GetValue(const CString& keyPrefix, CString* value);

    CString section() const { return m_Section; }

private:
    static constexpr int kListBuffer = 4098;  // 4096 and the list's two closing zeros

    CString m_Id;
    CString m_Section;
    std::vector<char> m_KeyNames;  // empty: no key-name list
};
