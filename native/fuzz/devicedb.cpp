// Any text as the device database QorvDevices.ini: the section search by key family, id and
// manufacturer, the key-prefix lookups and the manufacturer list stay inside the name lists and
// values the profile reads return, also when a list is cut by its buffer.
//
// The reads come from a small profile reader over the input ("[section]" lines and "key=value"
// lines), standing in for the Win32 profile calls; cut lists and over-long values reach the
// lookups as they would from Windows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cardflash/inventory/profile_source.h"
#include "cardflash/inventory/static_card_info.h"

namespace {

struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
};
std::vector<Section> g_sections;

std::string Trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

void Load(const char* text, size_t size) {
    g_sections.clear();
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && text[end] != '\n') ++end;
        std::string line(text + at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        at = end + 1;
        const std::string t = Trimmed(line);
        if (!t.empty() && t[0] == '[') {
            const size_t close = t.find(']');
            g_sections.push_back({t.substr(1, close == std::string::npos ? std::string::npos : close - 1), {}});
        } else if (!g_sections.empty() && line.find('=') != std::string::npos) {
            const size_t eq = line.find('=');
            g_sections.back().keys.emplace_back(Trimmed(line.substr(0, eq)), line.substr(eq + 1));
        }
    }
}

const Section* Find(const char* name) {
    for (const Section& s : g_sections)
        if (s.name == name) return &s;
    return nullptr;
}

// Names one after another, each with its zero, then the closing zero, cut at `size` bytes.
void PutList(const std::vector<std::string>& names, char* buffer, int size) {
    std::string list;
    for (const std::string& n : names) list += n + '\0';
    list += '\0';
    std::memcpy(buffer, list.data(), list.size() < static_cast<size_t>(size) ? list.size() : static_cast<size_t>(size));
}

}  // namespace

namespace devicedb {

CString ProfileValue(const char* section, const char* key, int limit, const CString&) {
    const Section* s = Find(section);
    if (!s) return CString();
    for (const auto& kv : s->keys) {
        if (kv.first != key) continue;
        return CString(kv.second.data(), static_cast<int>(kv.second.size() < static_cast<size_t>(limit) ? kv.second.size() : static_cast<size_t>(limit)));
    }
    return CString();
}

void ProfileNames(const char* section, char* buffer, int size, const CString&) {
    std::vector<std::string> names;
    if (!section) {
        for (const Section& s : g_sections) names.push_back(s.name);
    } else if (const Section* s = Find(section)) {
        for (const auto& kv : s->keys) names.push_back(kv.first);
    }
    PutList(names, buffer, size);
}

}  // namespace devicedb

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Load(reinterpret_cast<const char*>(data), size);
    CStaticCardInfo::SetIniFile("QorvDevices.ini");

    CStaticCardInfo::GetManufacturer(0);
    CStaticCardInfo::GetManufacturer(1);
    CStaticCardInfo::GetPciVendorIds();

    for (const char* id : {"PCMCIA\\ACME-MODEM-1234", "PCMCIA\\DORVEX-LANMODEM-77", ""}) {
        CStaticCardInfo info(id);
        CString value;
        if (info.FindSection("GEN_PNPID_") == CStaticCardInfo::kFound) {
            info.GetValue("GEN_LONGNAME", &value);
            info.GetValue("GEN_MFG", &value);
            info.GetValue("", &value);
        }
        info.FindSectionFor("GEN_NT4ID_", "Root\\Modem\\0000");
        info.SearchSections("GEN_PNPID_", id, CStaticCardInfo::GetManufacturer(0));
        info.GetValue("MODEM_", &value);
    }
    return 0;
}
