#include "simulators/modem/modemlayout.h"

#include <cstdio>

namespace modemsim {

namespace {

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

}  // namespace

std::string Ok() { return "\r\nOK\r\n"; }
std::string Error() { return "\r\nERROR\r\n"; }
std::string BootLoaderActive() { return "\r\nERROR: BOOT LOADER ACTIVE\r\n"; }
std::string Info(const std::string& text) { return "\r\n" + text + "\r\n\r\nOK\r\n"; }

std::string FirmwareVersionReply(const std::string& version) { return "\r\nDorvex PC Card Modem\r\n" + version + "\r\n\r\nOK\r\n"; }
std::string AddOnVersionReply(const std::string& version) { return Info("V" + version); }
std::string CountryCodeReply(int code) { return Info("+GCI: " + Hex2(static_cast<unsigned>(code))); }

std::string CountryListReply(const std::vector<int>& codes) {
    std::string list;
    for (size_t i = 0; i < codes.size(); ++i) list += (i ? "," : "") + Hex2(static_cast<unsigned>(codes[i]));
    return Info("+GCI: (" + list + ")");
}

std::string ModuleIdReply(const std::string& id) { return Info("Module: " + id); }
std::string IdentityReply(const std::string& identity) { return Info("Identity: " + identity); }
std::string CableTypesReply(const std::string& types) { return types.empty() ? Error() : Info(types); }

std::string HexDumpReply(const std::vector<uint8_t>& bytes) {
    std::string out = "\r\n";
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += Hex2(bytes[i]);
        out += (i % 16 == 15 || i + 1 == bytes.size()) ? "\r\n" : " ";
    }
    return out + "\r\nOK\r\n";
}

ReportItem ValueItem(int item, const std::string& value) { return {item, value}; }
ReportItem TextItem(int item, const std::string& text) { return {item, "\"" + text + "\""}; }

std::string KeyedReport(const std::vector<ReportItem>& items) {
    std::string out = "\r\n";
    for (size_t i = 0; i < items.size(); ++i) {
        char key[16];
        if (items[i].item <= 99) std::snprintf(key, sizeof key, " %2.2d=", items[i].item);
        else std::snprintf(key, sizeof key, " %4.4d=", items[i].item);
        out += key + items[i].value;
        if (i % 4 == 3 || i + 1 == items.size()) out += "\r\n";
    }
    return out + "\r\nOK\r\n";
}

std::string ConfigModeReply() { return "\r\nOK\r\n#"; }
std::string ConfigError() { return "\r\nERROR\r\n#"; }
std::string TraceReadReply(const std::string& trace) { return "\r\n" + trace + "\r\n#"; }
std::string QuitReply() { return "\r\n"; }

std::string TraceText::Head(const std::string& field, uint64_t stamp, unsigned code) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u %-3.3s %010llu %s ", sequence_++ % 10, field.c_str(),
                  static_cast<unsigned long long>(stamp % 10000000000ull), Hex4(code).c_str());
    return buf;
}

TraceText& TraceText::Data(const std::string& field, uint64_t stamp, unsigned code, const std::vector<uint8_t>& bytes) {
    return DataCount(field, stamp, code, static_cast<unsigned>(bytes.size()), bytes);
}

TraceText& TraceText::DataCount(const std::string& field, uint64_t stamp, unsigned code, unsigned count,
                                const std::vector<uint8_t>& bytes) {
    text_ += Head(field, stamp, code) + Hex4(count);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 16 == 0) text_ += "\r\n    >";
        text_ += " " + Hex2(bytes[i]);
    }
    text_ += "\r\n";
    return *this;
}

TraceText& TraceText::Event(const std::string& field, uint64_t stamp, unsigned code, const std::string& text,
                            const std::vector<std::string>& continuation) {
    text_ += Head(field, stamp, code) + text + "\r\n";
    for (const std::string& line : continuation) text_ += "    > " + line + "\r\n";
    return *this;
}

TraceText& TraceText::CallLog(const std::string& field, uint64_t stamp, int callType, int cause,
                              const std::string& text, unsigned code) {
    std::string body = Hex4(static_cast<unsigned>(43 + text.size()));  // 0-3: L
    body += " 0000 0000 0000 0000 0000 0000 ";                          // 4-34
    body += Hex2(static_cast<unsigned>(callType)) + " ";                // 35-37
    body += Hex4(static_cast<unsigned>(cause)) + " 0000 ";              // 38-47
    body += text;                                                       // 48-
    text_ += Head(field, stamp, code) + body + "\r\n";
    return *this;
}

TraceText& TraceText::Raw(const std::string& text) {
    text_ += text;
    return *this;
}

}  // namespace modemsim
