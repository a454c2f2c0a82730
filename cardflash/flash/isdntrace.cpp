#include "cardflash/flash/isdntrace.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Name tables: sorted keys, parallel texts.

struct Named {
    int key;
    const char* text;
};

const Named kMessageTypes[] = {
    {0x01, "Alerting"},
    {0x02, "Call proceeding"},
    {0x03, "Progress"},
    {0x05, "Setup"},
    {0x07, "Connect"},
    {0x0D, "Setup acknowledge"},
    {0x0F, "Connect acknowledge"},
    {0x20, "User information"},
    {0x21, "Suspend reject"},
    {0x22, "Resume reject"},
    {0x24, "Hold"},
    {0x25, "Suspend"},
    {0x26, "Resume"},
    {0x28, "Hold acknowledge"},
    {0x2D, "Suspend acknowledge"},
    {0x2E, "Resume acknowledge"},
    {0x30, "Hold reject"},
    {0x31, "Retrieve"},
    {0x33, "Retrieve acknowledge"},
    {0x45, "Disconnect"},
    {0x46, "Restart"},
    {0x4D, "Release"},
    {0x4E, "Restart acknowledge"},
    {0x5A, "Release complete"},
    {0x60, "Segment"},
    {0x62, "Facility"},
    {0x64, "Register"},
    {0x6E, "Notify"},
    {0x75, "Status enquiry"},
    {0x79, "Congestion control"},
    {0x7B, "Information"},
    {0x7D, "Status"},
};

const Named kElements[] = {
    {0x04, "Bearer capability"},
    {0x08, "Cause"},
    {0x18, "Channel identification"},
    {0x29, "Date/time"},
    {0x4C, "Connected party number"},
    {0x6C, "Calling party number"},
    {0x70, "Called party number"},
    {0x7C, "Low layer compatibility"},
};

const Named kCauses[] = {
    {0x01, "Unassigned (unallocated) number"},
    {0x02, "No route to specified transit network"},
    {0x03, "No route to destination"},
    {0x06, "Channel unacceptable"},
    {0x07, "Call awarded and being delivered in an established channel"},
    {0x10, "Normal call clearing"},
    {0x11, "User busy"},
    {0x12, "No user responding"},
    {0x13, "No answer from user (user alerted)"},
    {0x15, "Call rejected"},
    {0x16, "Number changed"},
    {0x1A, "Non-selected user clearing"},
    {0x1B, "Destination out of order"},
    {0x1C, "Invalid number format (address incomplete)"},
    {0x1D, "Facility rejected"},
    {0x1E, "Response to STATUS ENQUIRY"},
    {0x1F, "Normal, unspecified"},
    {0x22, "No circuit/channel available"},
    {0x26, "Network out of order"},
    {0x29, "Temporary failure"},
    {0x2A, "Switching equipment congestion"},
    {0x2B, "Access information discarded"},
    {0x2C, "Requested circuit/channel not available"},
    {0x2F, "Resource unavailable, unspecified"},
    {0x31, "Quality of service not available"},
    {0x32, "Requested facility not subscribed"},
    {0x39, "Bearer capability not authorized"},
    {0x3A, "Bearer capability not presently available"},
    {0x3F, "Service or option not available, unspecified"},
    {0x41, "Bearer capability not implemented"},
    {0x42, "Channel type not implemented"},
    {0x45, "Requested facility not implemented"},
    {0x46, "Only restricted digital information bearer capability is available"},
    {0x4F, "Service or option not implemented, unspecified"},
    {0x51, "Invalid call reference value"},
    {0x52, "Identified channel does not exist"},
    {0x55, "No call suspended"},
    {0x56, "Call having the requested call identity has been cleared"},
    {0x58, "Incompatible destination"},
    {0x5B, "Invalid transit network selection"},
    {0x5F, "Invalid message, unspecified"},
    {0x60, "Mandatory information element is missing"},
    {0x61, "Message type non-existent or not implemented"},
    {0x62, "Message not compatible with call state or message type\n"
           "                       non-existent or not implemented"},
    {0x63, "Information element/parameter non-existent or not implemented"},
    {0x64, "Invalid information element contents"},
    {0x65, "Message not compatible with call state"},
    {0x66, "Recovery on timer expiry"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
};

const Named kCallTypes[] = {
    {0x00, "Outgoing Call"},
    {0x03, "Incoming Call"},
    {0xFF, "Call Busy"},
};

template <size_t N>
const char* Lookup(const Named (&table)[N], int key) {
    const Named* end = table + N;
    const Named* it = std::lower_bound(table, end, key, [](const Named& n, int k) { return n.key < k; });
    return (it != end && it->key == key) ? it->text : nullptr;
}

template <size_t N>
CString LookupText(const Named (&table)[N], int key) {
    const char* text = Lookup(table, key);
    return text ? CString(text) : CString();
}

// ---------------------------------------------------------------------------------------------
// Process-wide results of the last call-log record.

std::mutex g_resultsLock;
TraceCallLog g_lastCallLog;
bool g_callLogFound = false;

// ---------------------------------------------------------------------------------------------
// Reading the raw text; every position is checked against the length.

using Bytes = std::vector<unsigned char>;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The leading hexadecimal digits of s[pos, pos + width), as far as the text goes; 0 when none.
unsigned ReadHex(const std::string& s, size_t pos, size_t width) {
    unsigned value = 0;
    for (size_t i = pos; i < s.size() && i < pos + width; ++i) {
        int v = HexValue(s[i]);
        if (v < 0) break;
        value = value * 16 + static_cast<unsigned>(v);
    }
    return value;
}

uint64_t ReadDecimal(const std::string& s, size_t pos, size_t width) {
    uint64_t value = 0;
    for (size_t i = pos; i < s.size() && i < pos + width && IsDigit(s[i]); ++i)
        value = value * 10 + static_cast<uint64_t>(s[i] - '0');
    return value;
}

CString Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
CString Printf(const char* format, ...) {
    CString s;
    va_list args;
    va_start(args, format);
    s.FormatV(format, args);
    va_end(args);
    return s;
}

const char kIndent[] = "                ";  // 16 blanks: the column of element lines

// ---------------------------------------------------------------------------------------------
// Event decoders: each gives the text of one data record, or an empty text.

CString HexDump(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceDetail)) return CString();
    CString out = Printf("%04x %04x", code, static_cast<unsigned>(b.size()));
    for (size_t i = 0; i < b.size(); ++i) {
        if (i > 0 && i % 16 == 0) out += "\n                        >";
        out += Printf("%02x ", b[i]);
    }
    out += "\n";
    return out;
}

CString Layer1State(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceLayer1)) return CString();
    static const char* const kStates[] = {
        "Layer 1 deactivated\n", "Layer 1 activation pending\n", "Layer 1 activated\n",
        "Layer 1 deactivation pending\n"};
    if (b.size() == 1 && b[0] < 4) return kStates[b[0]];
    return HexDump(code, b, mask);
}

CString Layer1CI(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceLayer1CI)) return CString();
    static const Named kIndications[] = {
        {0x00, "Layer 1 C/I deactivate request\n"},
        {0x08, "Layer 1 C/I slip detected\n"},
        {0x0C, "Layer 1 C/I disconnected\n"},
        {0x10, "Layer 1 C/I level detected\n"},
        {0x18, "Layer 1 C/I error indication\n"},
        {0x1C, "Layer 1 C/I power up\n"},
        {0x20, "Layer 1 C/I activate request downstream\n"},
        {0x28, "Layer 1 C/I test indication\n"},
        {0x2C, "Layer 1 C/I awake test indication\n"},
        {0x30, "Layer 1 C/I activate ind priority 8\n"},
        {0x34, "Layer 1 C/I activate ind priority 10\n"},
        {0x3C, "Layer 1 C/I deactivate ind downstream\n"},
    };
    if (b.size() == 1) {
        if (const char* text = Lookup(kIndications, b[0])) return text;
    }
    return HexDump(code, b, mask);
}

const char* Side(unsigned code) { return (code & 0x8000) ? "TE: " : "NT: "; }

CString LapdFrameType(unsigned char control) {
    if (!(control & 0x01)) return "I";
    switch (control) {
    case 0x01: return "RR";
    case 0x03: case 0x13: return "UI";
    case 0x05: return "RNR";
    case 0x09: return "REJ";
    case 0x0F: case 0x1F: return "DM";
    case 0x43: case 0x53: return "DISC";
    case 0x63: case 0x73: return "UA";
    case 0x6F: case 0x7F: return "SABME";
    case 0x87: case 0x97: return "FRMR";
    case 0xAF: case 0xBF: return "XID";
    default: return Printf("0x%02x", control);
    }
}

CString Lapd(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceLapd)) return CString();
    if (b.size() < 3) return HexDump(code, b, mask);
    return CString("Layer 2 ") + Side(code) + Printf("SAPI=%x ", b[0] >> 2) + Printf("TEI=%x ", b[1] >> 1) +
           "TYPE=" + LapdFrameType(b[2]) + "\n";
}

// Index of the octet after the group that starts at i: a group goes on while bit 7 (the extension
// bit) of its octets is clear. May be past the end.
size_t NextGroup(const Bytes& c, size_t i) {
    while (i < c.size() && !(c[i] & 0x80)) ++i;
    return i + 1;
}

const char kInvalid[] = "Invalid IE\n";

CString BearerCapability(const Bytes& c) {
    if (c.size() < 2) return kInvalid;
    size_t i = NextGroup(c, 0);
    if (i >= c.size()) return kInvalid;
    CString out;
    switch (c[0] & 0x1F) {
    case 0x00: out += "speech"; break;
    case 0x08: case 0x09: out += "unrestricted digital information"; break;
    case 0x10: out += "3.1 kHz audio"; break;
    case 0x11: out += "7 kHz audio"; break;
    case 0x18: out += "video"; break;
    default: break;
    }
    if ((c[i] & 0x60) == 0x40) out += ", packet mode";
    i = NextGroup(c, i);
    if (i < c.size()) {
        switch (c[i] & 0x7F) {
        case 0x21: out += ", V.110"; break;
        case 0x22: out += ", u-law"; break;
        case 0x23: out += ", A-law"; break;
        case 0x24: out += ", 32 kbit/s ADPCM"; break;
        case 0x25: out += ", 7 kHz audio"; break;
        case 0x28: out += ", V.120"; break;
        case 0x29: out += ", X.31 HDLC"; break;
        default: break;
        }
    }
    return out + "\n";
}

CString Cause(const Bytes& c) {
    if (c.size() < 2) return kInvalid;
    size_t i = NextGroup(c, 0);
    if (i >= c.size()) return kInvalid;
    int value = c[i] & 0x7F;
    const char* text = Lookup(kCauses, value);
    CString out = text ? CString(text) : Printf("Unknown cause value %02x", value);
    out += "\n                Cause Location: ";
    switch (c[0] & 0x0F) {
    case 0: out += "user"; break;
    case 1: out += "private network serving local user"; break;
    case 2: out += "public network serving local user"; break;
    case 3: out += "transit network"; break;
    case 4: out += "public network serving remote user"; break;
    case 5: out += "private network serving remote user"; break;
    case 7: out += "international network"; break;
    case 10: out += "network beyond interworking point"; break;
    default: out += "unknown"; break;
    }
    return out + "\n";
}

CString ChannelIdentification(const Bytes& c) {
    if (c.empty()) return kInvalid;
    static const char* const kChannels[] = {"no B", "B1", "B2", "any B"};
    // No line feed: the add-on's trace readers expect the next element on the same line.
    return CString((c[0] & 0x04) ? "D, " : "not D, ") + kChannels[c[0] & 0x03];
}

CString DateTime(const Bytes& c) {
    if (c.size() < 5) return kInvalid;
    return Printf("%02x/%02x/%02x %02x:%02x\n", c[0], c[1], c[2], c[3], c[4]);
}

CString PartyNumber(const Bytes& c) {
    if (c.empty()) return kInvalid;
    CString out;
    for (size_t i = NextGroup(c, 0); i < c.size(); ++i) out += static_cast<char>(c[i] & 0x7F);
    return out;
}

CString LowLayerCompatibility(const Bytes& c) {
    size_t i = NextGroup(c, 0);       // octet 4: transfer mode and rate
    if (i >= c.size()) return kInvalid;
    i = NextGroup(c, i);              // octet 5: user information layer 1 protocol
    if (i >= c.size()) return kInvalid;
    CString out;
    switch (c[i] & 0x7F) {
    case 0x21: out = "V.110 "; break;
    case 0x28: out = "V.120 "; break;
    default: return "Unknown protocol\n";
    }
    if (++i < c.size()) {
        static const Named kRates[] = {
            {0x02, "1200"},  {0x03, "2400"},  {0x04, "3600"},  {0x05, "4800"},  {0x06, "7200"},
            {0x07, "8000"},  {0x08, "9600"},  {0x09, "14400"}, {0x0A, "16000"}, {0x0B, "19200"},
            {0x0C, "32000"}, {0x0E, "48000"}, {0x0F, "56000"}, {0x10, "64000"},
        };
        if (const char* rate = Lookup(kRates, c[i] & 0x1F)) out += rate;
        if (++i < c.size()) {
            unsigned char f = c[i];
            switch (f & 0x18) {
            case 0x08: out += "5"; break;
            case 0x10: out += "7"; break;
            case 0x18: out += "8"; break;
            default: break;
            }
            switch (f & 0x07) {
            case 0: out += "O"; break;
            case 2: out += "E"; break;
            case 3: out += "N"; break;
            case 4: out += "0"; break;
            case 5: out += "1"; break;
            default: break;
            }
            switch (f & 0x60) {
            case 0x20: out += "1"; break;
            case 0x40: out += "1.5"; break;
            case 0x60: out += "2"; break;
            default: break;
            }
        }
    }
    return out + "\n";
}

CString ElementContents(int id, const Bytes& c) {
    switch (id) {
    case 0x04: return BearerCapability(c);
    case 0x08: return Cause(c);
    case 0x18: return ChannelIdentification(c);
    case 0x29: return DateTime(c);
    case 0x4C: case 0x6C: case 0x70: return PartyNumber(c);
    case 0x7C: return LowLayerCompatibility(c);
    default: return CString();
    }
}

CString ElementDump(const Bytes& b, size_t first, size_t count) {
    CString out = CString(kIndent) + "IE: ";
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) out += (k % 16 == 0) ? "\n                  : " : " ";
        out += Printf("%02x", b[first + k]);
    }
    return out + "\n";
}

CString Q931(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceQ931)) return CString();
    if (b.size() <= 3 || b[0] != 0x08 || b[1] != 0x01) return HexDump(code, b, mask);
    const bool detail = (mask & kTraceDetail) != 0;
    CString out = CString("Layer 3 ") + Side(code);
    if (detail) out += Printf("%02x %02x %02x: ", b[0], b[1], b[2]);
    const char* name = Lookup(kMessageTypes, b[3]);
    out += name ? CString(name) : Printf("Unknown message type %02x", b[3]);
    out += "\n";
    size_t i = 4;
    while (i < b.size()) {
        int id = b[i];
        if (id & 0x80) {  // single-octet element
            if (detail) out += CString(kIndent) + Printf("IE: %02x\n", id);
            ++i;
            continue;
        }
        if (i + 1 >= b.size() || i + 2 + b[i + 1] > b.size()) {
            out += "Incomplete IE\n";
            break;
        }
        size_t length = b[i + 1];
        if (detail) out += ElementDump(b, i, length + 2);
        if (const char* element = Lookup(kElements, id)) {
            Bytes contents(b.begin() + static_cast<long>(i) + 2, b.begin() + static_cast<long>(i + 2 + length));
            out += CString(kIndent) + element + ": " + ElementContents(id, contents);
        }
        i += 2 + length;
    }
    return out;
}

CString SerialControl(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceSerialCtrl)) return CString();
    if (b.size() != 1) return HexDump(code, b, mask);
    static const char* const kOn[] = {"DSR:ON  ", "DCD:ON  ", "CTS:ON  ", "RI:ON  ",
                                      "RTS:ON  ", "DTR:ON  ", "DCD:ON  ", "DCD:ON  "};
    static const char* const kOff[] = {"DSR:OFF ", "DCD:OFF ", "CTS:OFF ", "RI:OFF ",
                                       "RTS:OFF ", "DTR:OFF ", "DCD:OFF ", "DCD:OFF "};
    CString out = "Serial Ctrl: ";
    for (int bit = 0; bit < 8; ++bit) out += (b[0] & (1 << bit)) ? kOn[bit] : kOff[bit];
    return out + "\n";
}

CString SerialData(unsigned code, const Bytes& b, int mask) {
    if (!(mask & kTraceSerialData)) return CString();
    CString out = (code & 0x8000) ? "Serial Rx: \"" : "Serial Tx: \"";
    for (unsigned char c : b) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\b') out += "\\b";
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else out += Printf("\\%03o", c);
    }
    return out + "\"\n";
}

bool IsDataRecord(unsigned code) {
    switch (code & 0x7FFF) {
    case 0x0501: case 0x0502: case 0x0602: case 0x0702: case 0x0901: case 0x0904: return true;
    default: return false;
    }
}

CString DecodeData(unsigned code, const Bytes& b, int mask) {
    switch (code & 0x7FFF) {
    case 0x0501: return Layer1State(code, b, mask);
    case 0x0502: return Layer1CI(code, b, mask);
    case 0x0602: return Lapd(code, b, mask);
    case 0x0702: return Q931(code, b, mask);
    case 0x0901: return SerialControl(code, b, mask);
    case 0x0904: return SerialData(code, b, mask);
    default: return HexDump(code, b, mask);
    }
}

// Reads the byte count and the bytes of a data record from `pos` (the count's first digit). On
// success `pos` is behind the last byte and its trailing separators; otherwise the result is the
// number of the incomplete-line message.
int ReadDataBytes(const std::string& s, size_t& pos, Bytes& bytes) {
    const size_t n = ReadHex(s, pos, 4);
    size_t q = pos + 4;
    auto skipSeparators = [&] {
        while (q < s.size() && HexValue(s[q]) < 0) ++q;
    };
    for (size_t i = 0; i < n; ++i) {
        if (q >= s.size()) return 0;
        skipSeparators();
        if (q >= s.size()) return 1;
        if (q + 1 >= s.size()) return 2;
        int high = HexValue(s[q]);
        int low = HexValue(s[q + 1]);
        if (low < 0) {  // a lone digit between separators stands for itself
            bytes.push_back(static_cast<unsigned char>(high));
            q += 1;
        } else {
            bytes.push_back(static_cast<unsigned char>(high * 16 + low));
            q += 2;
        }
        skipSeparators();
    }
    pos = q;
    return -1;
}

const char kIncompleteData[] = "\nError Processing Trace Information - Incomplete data line (%d)!\n";
const char kIncompleteCallLog[] = "\nError Processing Trace Information - Incomplete call log data (3)!\n";

}  // namespace

CString Q931MessageName(int type) { return LookupText(kMessageTypes, type); }
CString Q931ElementName(int id) { return LookupText(kElements, id); }
CString Q850CauseText(int cause) { return LookupText(kCauses, cause); }
CString TraceCallTypeText(int type) { return LookupText(kCallTypes, type); }

bool TraceCallLogFound() {
    std::lock_guard<std::mutex> lock(g_resultsLock);
    return g_callLogFound;
}

TraceCallLog LastTraceCallLog() {
    std::lock_guard<std::mutex> lock(g_resultsLock);
    return g_lastCallLog;
}

bool DecodeTrace(const CString& raw, CString& out, int mask) {
    const std::string& s = raw.str();
    out.Empty();
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(g_resultsLock);
        g_callLogFound = false;
    }

    bool first = true;
    uint64_t base = 0;
    size_t pos = 0;
    for (;;) {
        while (pos < s.size() && !IsDigit(s[pos])) ++pos;
        if (s.size() - pos < 26) break;
        const size_t p = pos;

        const uint64_t stamp = ReadDecimal(s, p + 6, 10);
        if (first) {
            base = stamp;
            first = false;
        }
        const uint64_t t = stamp >= base ? stamp - base : 0;
        const CString head = CString(s.substr(p + 2, 3)) + " " +
                             Printf("%02u:", static_cast<unsigned>(t / 360000)) +
                             Printf("%02u:", static_cast<unsigned>(t / 6000 % 60)) +
                             Printf("%02u.", static_cast<unsigned>(t / 100 % 60)) +
                             Printf("%02u0 ", static_cast<unsigned>(t % 100));
        const unsigned code = ReadHex(s, p + 17, 4);
        const size_t data = p + 22;

        if ((code & 0x7FFF) == 0x0A80) {
            const size_t left = s.size() - data;
            const size_t length = ReadHex(s, data, 4);
            // The call text must lie inside the trace as well, not only the fixed fields.
            if (left <= 46 || length <= 42 || length + 5 > left) {
                out += head + kIncompleteCallLog;
                break;
            }
            TraceCallLog log;
            log.callType = TraceCallTypeText(static_cast<int>(ReadHex(s, data + 35, 2)));
            log.cause = Q850CauseText(static_cast<int>(ReadHex(s, data + 38, 4) & 0x7F));
            log.callText = CString(s.substr(data + 48, length - 43));
            log.callText.TrimRight();
            {
                std::lock_guard<std::mutex> lock(g_resultsLock);
                g_lastCallLog = log;
                g_callLogFound = true;
            }
            found = true;
            pos = data + 48 + (length - 43);
        } else if (IsDataRecord(code)) {
            Bytes bytes;
            size_t q = data;
            int incomplete = ReadDataBytes(s, q, bytes);
            if (incomplete >= 0) {
                out += head + Printf(kIncompleteData, incomplete);
                break;
            }
            CString text = DecodeData(code, bytes, mask);
            if (!text.IsEmpty()) out += head + text;
            pos = q;
        } else {
            // An event without a decoder: its line and the continuation lines ("> ...") that
            // follow it are passed over.
            size_t q = p;
            for (;;) {
                size_t lf = s.find('\n', q);
                if (lf == std::string::npos) {
                    q = s.size();
                    break;
                }
                q = lf + 1;
                while (q < s.size() && s[q] != '>' && HexValue(s[q]) < 0) ++q;
                if (q >= s.size() || s[q] != '>') break;
            }
            pos = q;
        }
    }
    return found;
}
