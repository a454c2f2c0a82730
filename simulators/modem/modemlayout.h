// How the simulated modem card and its ISDN add-on lay out their replies and their trace text.
// Fixed here once: the simulator answers with these and the parser and decoder tests build their
// reply texts with them. No Windows header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modemsim {

// Ordinary replies (verbose result codes).
std::string Ok();                                  // "\r\nOK\r\n"
std::string Error();                               // "\r\nERROR\r\n"
std::string BootLoaderActive();                    // "\r\nERROR: BOOT LOADER ACTIVE\r\n"
std::string Info(const std::string& text);         // "\r\n" text "\r\n\r\nOK\r\n"

std::string FirmwareVersionReply(const std::string& version);   // AT+GMR: a title line, then the version
std::string AddOnVersionReply(const std::string& version);      // ATI3 of the add-on: "V" + version
std::string CountryCodeReply(int code);                         // AT+GCI?: "+GCI: 3D"
std::string CountryListReply(const std::vector<int>& codes);    // AT+GCI=?: "+GCI: (20,3D,B5)"
std::string ModuleIdReply(const std::string& id);               // AT!XMA: "Module: CPST"
std::string IdentityReply(const std::string& identity);         // ATI5: "Identity: ..."
std::string CableTypesReply(const std::string& types);          // AT!XCBL=?; ERROR when types is empty
std::string HexDumpReply(const std::vector<uint8_t>& bytes);    // AT!XCIS, AT!XSAVE: "%02X " pairs, 16 a line

// The keyed reports of AT!XUD and AT!XMI: items " 01=value" (" 0121=value" above 99), four a line.
struct ReportItem {
    int item;
    std::string value;  // as it appears after "=": a number, or a quoted text
};
ReportItem ValueItem(int item, const std::string& value);
ReportItem TextItem(int item, const std::string& text);  // the value in double quotation marks
std::string KeyedReport(const std::vector<ReportItem>& items);

// The add-on's configuration mode.
std::string ConfigModeReply();                          // ATCONF: "\r\nOK\r\n#"
std::string ConfigError();                              // an unknown word: "\r\nERROR\r\n#"
std::string TraceReadReply(const std::string& trace);   // TRCREAD: "\r\n" trace "\r\n#"
std::string QuitReply();                                // QUIT: "\r\n"

// The add-on's trace text. Each record is one line:
//   position 0 a sequence digit, 2-4 a three-character field, 6-15 the time stamp in hundredths of
//   a second (ten digits), 17-20 the event code (four hexadecimal digits), from 22 the data.
// Data records carry a byte count (four hexadecimal digits) and the bytes ("%02X", sixteen a line,
// continuation lines beginning "    >"); the call-log record carries its length L (four hexadecimal
// digits), the call type at 35, the cause at 38 and its text at 48 (L - 43 characters), counted
// from L's first digit.
class TraceText {
public:
    TraceText& Data(const std::string& field, uint64_t stamp, unsigned code, const std::vector<uint8_t>& bytes);
    // A data record whose count says `count` while only `bytes` follow (a cut trace).
    TraceText& DataCount(const std::string& field, uint64_t stamp, unsigned code, unsigned count,
                         const std::vector<uint8_t>& bytes);
    // An event without bytes of its own: its text and the continuation lines after it.
    TraceText& Event(const std::string& field, uint64_t stamp, unsigned code, const std::string& text,
                     const std::vector<std::string>& continuation = {});
    TraceText& CallLog(const std::string& field, uint64_t stamp, int callType, int cause, const std::string& text,
                       unsigned code = 0x0A80);
    TraceText& Raw(const std::string& text);
    const std::string& str() const { return text_; }

private:
    std::string Head(const std::string& field, uint64_t stamp, unsigned code);
    std::string text_;
    unsigned sequence_ = 0;
};

}  // namespace modemsim
