// The modem's AT command table and the parsers that turn its replies into what CModem keeps:
// firmware version, country code and list, module id, identity, board code, manufacturer, cable and
// line type, the module information block and the keyed report of the last call.
//
// Plain functions over reply text; no Windows header. Every parser is bounded by the reply's
// length: a short or cut reply gives empty fields, never a read past its end. Texts that come from
// the program's string table are taken through IStringTable, so the parsers also run natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/cstring.h"

// Where string-table texts come from.
class IStringTable {
public:
    virtual ~IStringTable() = default;
    // The text of entry `id`; false (and `text` unchanged) when there is none.
    virtual bool Load(unsigned id, CString& text) const = 0;
};

// The program's own string table (or its language library), through CString::LoadString.
class CStringTableTexts : public IStringTable {
public:
    bool Load(unsigned id, CString& text) const override;
};

// The text of entry `id`, empty when there is none.
CString TableText(const IStringTable& table, unsigned id);

// String-table entries the modem code uses.
enum ModemStringId : unsigned {
    kStrConnectionType = 22000,   // + connection type (0 to 5)
    kStrConnectionIsdn = 22005,
    kStrCallSetup = 22020,        // + call setup result
    kStrCompression = 22040,      // + compression
    kStrErrorControl = 22060,     // + error control
    kStrTermination = 22080,      // + termination cause, up to 22215
    kStrTerminationLast = 22215,
    kStrNoPreviousCall = 22081,
    kStrCable = 24900,            // + cable item
    kStrBootLoaderActive = 25445,
    kStrLineUnknown = 29410,
    kStrLinePstn = 29411,         // to 29416: PSTN, AMPS, GSM/PCS 1900, Voice, ISDN, PDC
    kStrLineAmps = 29412,
    kStrAtCommands = 31400,       // + 40 x command set + index
};

// The AT command table: indexes into the 25 commands of a command set.
enum AtCommand {
    kAtEchoOff = 0,            // "ATE0V1\r"
    kAtEchoOn = 1,             // "ATE1\r"
    kAtCountryList = 2,        // "AT+GCI=?\r"
    kAtCountryCode = 3,        // "AT+GCI?\r"
    kAtSetCountry = 4,         // "AT+GCI=", completed by CountryCodeCommand
    kAtCallReport = 5,         // "AT!XUD\r "
    kAtFirmwareVersion = 6,    // "AT+GMR\r"
    kAtModuleInfo = 7,         // "AT!XMI\r"
    kAtBootLoader = 8,         // "AT&&XX\r"
    kAtCis = 9,                // "AT!XCIS\r"
    kAtSavedSettings = 10,     // "AT!XSAVE\r"
    kAtModuleId = 11,          // "AT!XMA\r"
    kAtFactoryReset = 12,      // "ATZ&F&W\r"
    kAtCableTypes = 13,        // "AT!XCBL=?\r"
    kAtManufacturer = 14,      // "AT+GMI\r"
    kAtIdentity = 15,          // "ATI5\r"
    kAtAddOnManufacturer = 16, // "ATI4\r"
    kAtAddOnIdentity = 17,     // "ATI0\r"
    kAtConfigMode = 18,        // "ATCONF\r"
    kAtQuit = 19,              // "QUIT\r"
    kAtTraceRead = 20,         // "TRCREAD\r"
    kAtTraceMask = 21,         // "AT**TRCMSK=", completed by TraceMaskCommand
    kAtTraceClear = 22,        // "AT**TRCCLR\r"
    kAtAddOnVersion = 23,      // "ATI3\r"
    kAtAddOnFlash = 24,        // "AT**FLASH\r"
    kAtCommandCount = 25,
};

// Appends the commands of `commandSet` to `table` in index order; false at the first entry that
// cannot be loaded (the table then holds the ones before it).
bool LoadAtCommands(const IStringTable& strings, int commandSet, CStringArray& table);

// Texts of the replies the modem code looks for.
extern const char kReplyOk[];            // "OK\r": the end of an ordinary reply
extern const char kBootLoaderActive[];   // "ERROR: BOOT LOADER ACTIVE"
extern const char kAddOnName[];          // "ISDN Tamrisk"
extern const char kAddOnMaker[];         // "DORVEX, INC."
extern const char kConfigPrompt[];       // "OK\r\n#": ATCONF's reply
extern const char kTracePrompt[];        // "\r\n#": the end of TRCREAD's reply

bool IsBootLoaderReply(const CString& reply);
// The add-on flag that an ATI0 reply gives: 1 when the ISDN Tamrisk answered or the boot loader is
// active, else 0.
int AddOnFlagFromReply(const CString& reply);

// Cuts `length` bytes of reply at each "\r\n" and appends every piece before one to `lines`; text
// after the last "\r\n" is dropped.
void SplitReplyLines(const char* data, int length, CStringArray& lines);

// The reply of a line-collecting command: at most kCapacity bytes, always followed by a terminator,
// so that searching it never runs past what was read. A buffer that fills without the expected text
// is a failed command (time-out), not a reply.
class CReplyBuffer {
public:
    static const int kCapacity = 2047;

    // Takes as much of `data` as fits; returns how many bytes were taken.
    int Append(const char* data, int length);
    bool Contains(const char* expected) const;  // an empty text is always contained
    bool IsFull() const { return length_ >= kCapacity; }
    int Space() const { return kCapacity - length_; }
    const char* data() const { return buffer_; }
    int length() const { return length_; }

private:
    char buffer_[kCapacity + 1] = {};
    int length_ = 0;
};

// The port as the command channel's reply wait sees it, so the wait runs over a real port or over
// a test's script with a clock of its own.
class IReplyPort {
public:
    virtual ~IReplyPort() = default;
    virtual unsigned long NowMs() = 0;
    // Bytes waiting to be read, or -1 when the port cannot tell.
    virtual long Queued() = 0;
    // Reads up to `max` of the waiting bytes: the count, or -1 when the read failed.
    virtual long Read(char* buffer, long max) = 0;
};

// The longest reply the text send keeps (far more than any command's reply, a long add-on trace
// included), and how long past its `seconds` a reply that keeps coming may take: enough for that
// many bytes at the port's 19200 bit/s.
constexpr int kTextReplyLimit = 65536;
constexpr unsigned long kReplyCapMs = 40000;

// Collects what `port` gives into `reply` until it holds `expected`: `seconds` for the first
// bytes (0: only what waits at the first look), then one more second after each piece, but never
// past `seconds` + kReplyCapMs from the start. 0 when the expected text came; 20 when the time
// ran out, a read failed, or `limit` bytes came without it (`reply` keeps what came, at most
// `limit` bytes).
int CollectReply(IReplyPort& port, const char* expected, int seconds, int limit, std::string& reply);

// AT+GMR: the first line that holds a "."; false when none does.
bool ParseVersionLines(const CStringArray& lines, CString& version);
// ATI3 of the add-on: the first line, trimmed, without a leading "V".
CString ParseAddOnVersion(const CString& reply);
// Whether a version text, read as a decimal number, is at least 1.73 (in-place flashing).
bool IsInPlaceLevel(const CString& version);

// AT+GCI?: the hexadecimal code after "+GCI: "; false when there is none.
bool ParseCountryCode(const CString& reply, int& code);
// AT+GCI=?: appends the hexadecimal codes of "+GCI: (20,3D,B5)" to `list` (an item without a
// separator behind it is not taken); false when the reply holds no "+GCI:".
bool ParseCountryList(const CString& reply, std::vector<uint32_t>& list);
// "AT+GCI=XX\r" for a code of 0 to 255; false (no command) for any other code, such as the
// "none read" value -1.
bool CountryCodeCommand(int code, CString& command);

// AT!XSAVE: the two characters at positions 3 and 4 of the trimmed reply (fewer when it is short).
CString ParseBoardCode(const CString& reply);
// ATI0 (add-on), AT!XMA, ATI5: the text after ": " up to "OK", else the text before "OK"; false
// when the reply holds neither.
bool ParseColonValue(const CString& reply, CString& value);
// ATI4 (add-on), AT+GMI: the text before "OK" (all of it without one), trimmed.
CString ParseBeforeOk(const CString& reply);
// AT!XCBL=?: the line types the modem supports, by the module id.
CString ParseCableTypes(const CString& reply, const CString& moduleId, const IStringTable& strings);

// Items of the keyed reports of AT!XUD and AT!XMI (" 01=..." for items up to 99, " 0121=..." above);
// empty when the item is missing.
CString KeyedValue(const CString& report, int item);  // up to a blank, ">" or line feed
CString KeyedText(const CString& report, int item);   // between double quotation marks

// AT!XMI.
struct ModuleInfo {
    CString cable;            // item 202 as a cable name
    CString lineType;         // item 203's bits as line type names, joined by ", "
    CString firmwareVersion;  // item 212
};
ModuleInfo ParseModuleInfo(const CString& report, const IStringTable& strings);

// AT!XUD: the report of the last call. A missing item leaves its field empty.
struct CallReport {
    CString reportVersion;    // text 212
    CString connectionType;   // value 121
    CString callSetupResult;  // value 1
    CString text110;
    CString value26, value27, value34, value35;  // hexadecimal values in decimal
    CString text62;
    CString compression;      // value 44
    CString errorControl;     // value 40
    CString value12;
    CString terminationCause; // value 60
};
CallReport ParseCallReport(const CString& report, const IStringTable& strings);

// "AT**TRCMSK=0000000" d1 "0" d2 "0" d3 "0" d4 "80\r" for the add-on's trace mask.
CString TraceMaskCommand(int mask);
