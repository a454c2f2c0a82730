#include "cardflash/flash/modemreplies.h"

#include <cstdlib>
#include <string>

const char kReplyOk[] = "OK\r";
const char kBootLoaderActive[] = "ERROR: BOOT LOADER ACTIVE";
const char kAddOnName[] = "ISDN Tamrisk";
const char kAddOnMaker[] = "DORVEX, INC.";
const char kConfigPrompt[] = "OK\r\n#";
const char kTracePrompt[] = "\r\n#";

bool CStringTableTexts::Load(unsigned id, CString& text) const { return text.LoadString(id); }

CString TableText(const IStringTable& table, unsigned id) {
    CString text;
    if (!table.Load(id, text)) text.Empty();
    return text;
}

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// A number as the C library's scanf reads one with "%x", "%4x" or "%d": leading white space is
// skipped, then at most `width` characters (0: no limit) of an optional sign, for base 16 an
// optional "0x", and digits. False when no digit came.
bool ScanNumber(const CString& text, int base, int width, long& value) {
    const std::string& s = text.str();
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    const size_t end = width > 0 && i + static_cast<size_t>(width) < s.size() ? i + static_cast<size_t>(width) : s.size();
    bool negative = false;
    if (i < end && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (base == 16 && i + 1 < end && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
        i + 2 < end && DigitValue(s[i + 2], 16) >= 0)
        i += 2;
    unsigned long v = 0;
    bool any = false;
    for (; i < end; ++i) {
        int d = DigitValue(s[i], base);
        if (d < 0) break;
        v = (v * static_cast<unsigned long>(base) + static_cast<unsigned long>(d)) & 0xFFFFFFFFul;
        any = true;
    }
    if (!any) return false;
    long result = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(v)));
    value = negative ? -result : result;
    return true;
}

// The text of base + n when n lies in [0, count); empty otherwise, so that a value out of its
// range never borrows a text of a neighbouring table.
CString RangeText(const IStringTable& strings, unsigned base, long n, long count) {
    if (n < 0 || n >= count) return CString();
    return TableText(strings, base + static_cast<unsigned>(n));
}

CString KeyFor(int item) {
    CString key;
    if (item <= 99) key.Format(" %2.2d=", item);
    else key.Format(" %4.4d=", item);
    return key;
}

CString HexToDecimal(const CString& value) {
    long n = 0;
    if (!ScanNumber(value, 16, 4, n)) return CString();
    CString out;
    out.Format("%ld", n);
    return out;
}

}  // namespace

bool LoadAtCommands(const IStringTable& strings, int commandSet, CStringArray& table) {
    for (int i = 0; i < kAtCommandCount; ++i) {
        CString text;
        if (!strings.Load(kStrAtCommands + 40u * static_cast<unsigned>(commandSet) + static_cast<unsigned>(i), text))
            return false;
        table.Add(text);
    }
    return true;
}

bool IsBootLoaderReply(const CString& reply) { return reply.Find(kBootLoaderActive) >= 0; }

int AddOnFlagFromReply(const CString& reply) {
    return (reply.Find(kAddOnName) >= 0 || IsBootLoaderReply(reply)) ? 1 : 0;
}

void SplitReplyLines(const char* data, int length, CStringArray& lines) {
    if (!data || length <= 0) return;
    int start = 0;
    for (int i = 0; i + 1 < length; ++i) {
        if (data[i] == '\r' && data[i + 1] == '\n') {
            lines.Add(CString(data + start, i - start));
            start = i + 2;
            ++i;
        }
    }
}

int CReplyBuffer::Append(const char* data, int length) {
    if (!data || length <= 0) return 0;
    int take = length < Space() ? length : Space();
    for (int i = 0; i < take; ++i) buffer_[length_ + i] = data[i];
    length_ += take;
    buffer_[length_] = '\0';
    return take;
}

bool CReplyBuffer::Contains(const char* expected) const {
    // The reply may hold zero bytes; search by length, not by terminator.
    return std::string(buffer_, static_cast<size_t>(length_)).find(expected ? expected : "") != std::string::npos;
}

int CollectReply(IReplyPort& port, const char* expected, int seconds, int limit, std::string& reply) {
    const std::string wanted = expected ? expected : "";
    reply.clear();
    if (limit < 0) limit = 0;
    const unsigned long start = port.NowMs();
    const unsigned long asked = seconds > 0 ? static_cast<unsigned long>(seconds) * 1000ul : 0;
    const unsigned long cap = asked + kReplyCapMs;
    unsigned long wait = asked;  // from the start; clock values wrap, differences do not
    bool first = true;
    for (;;) {
        const long queued = port.Queued();
        if (queued < 0) return 20;
        if (queued > 0) {
            const long room = static_cast<long>(limit) - static_cast<long>(reply.size());
            char buffer[2048];
            long want = queued < room ? queued : room;
            if (want > static_cast<long>(sizeof buffer)) want = sizeof buffer;
            if (want <= 0) return 20;  // the bound reached without the expected text
            const long got = port.Read(buffer, want);
            if (got < 0) return 20;
            reply.append(buffer, static_cast<size_t>(got < want ? got : want));
            if (reply.find(wanted) != std::string::npos) return 0;
            if (static_cast<long>(reply.size()) >= limit) return 20;
            const unsigned long now = port.NowMs() - start;
            wait = now + 1000 < cap ? now + 1000 : cap;
        } else if (first && seconds <= 0) {
            return 20;  // nothing waited at the first look
        }
        first = false;
        if (port.NowMs() - start >= wait) return 20;
    }
}

bool ParseVersionLines(const CStringArray& lines, CString& version) {
    for (int i = 0; i < lines.GetSize(); ++i) {
        if (lines[i].Find('.') >= 0) {
            version = lines[i];
            return true;
        }
    }
    return false;
}

CString ParseAddOnVersion(const CString& reply) {
    CString v = reply;
    v.TrimLeft();
    int end = v.FindOneOf("\r\n");
    if (end >= 0) v = v.Left(end);
    if (v.GetAt(0) == 'V') v = v.Mid(1);
    v.TrimRight();
    return v;
}

bool IsInPlaceLevel(const CString& version) {
    // Read as the C library reads a decimal number; compared in hundredths so that "1.73" itself
    // passes whatever the rounding of 1.73 as a double.
    return std::strtod(version.c_str(), nullptr) * 100.0 >= 173.0 - 1e-6;
}

bool ParseCountryCode(const CString& reply, int& code) {
    int at = reply.Find("+GCI: ");
    if (at < 0) return false;
    CString rest = reply.Mid(at + 6);
    rest.Trim();
    long n = 0;
    if (!ScanNumber(rest, 16, 0, n)) return false;
    code = static_cast<int>(n);
    return true;
}

bool ParseCountryList(const CString& reply, std::vector<uint32_t>& list) {
    int at = reply.Find("+GCI:");
    if (at < 0) return false;
    CString rest = reply.Mid(at + 5);
    rest.Trim();
    if (rest.GetAt(0) == '(') rest = rest.Mid(1);
    for (;;) {
        int sep = rest.FindOneOf(",)");
        if (sep < 0) break;
        long n = 0;
        if (ScanNumber(rest.Left(sep), 16, 0, n)) list.push_back(static_cast<uint32_t>(n));
        rest = rest.Mid(sep + 1);
    }
    return true;
}

bool CountryCodeCommand(int code, CString& command) {
    if (code < 0 || code > 255) return false;
    command.Format("AT+GCI=%2.2X\r", static_cast<unsigned>(code));
    return true;
}

CString ParseBoardCode(const CString& reply) {
    CString r = reply;
    r.Trim();
    return r.Mid(3, 2);
}

bool ParseColonValue(const CString& reply, CString& value) {
    int colon = reply.Find(": ");
    if (colon >= 0) {
        int from = colon + 2;
        int ok = reply.Find("OK", from);
        value = ok >= 0 ? reply.Mid(from, ok - from) : reply.Mid(from);
        value.Trim();
        return true;
    }
    int ok = reply.Find("OK");
    if (ok < 0) return false;
    value = reply.Left(ok);
    value.Trim();
    return true;
}

CString ParseBeforeOk(const CString& reply) {
    int ok = reply.Find("OK");
    CString value = ok >= 0 ? reply.Left(ok) : reply;
    value.Trim();
    return value;
}

CString ParseCableTypes(const CString& reply, const CString& moduleId, const IStringTable& strings) {
    if (reply.Find("ERROR") >= 0) return TableText(strings, kStrLineUnknown);
    if (moduleId == "CGSM") return TableText(strings, kStrLineAmps);
    return TableText(strings, kStrLinePstn) + ", " + TableText(strings, kStrLineAmps);
}

CString KeyedValue(const CString& report, int item) {
    int at = report.Find(KeyFor(item));
    if (at < 0) return CString();
    int eq = report.Find('=', at);
    CString rest = report.Mid(eq + 1);
    int end = rest.FindOneOf(" >\n");
    return end >= 0 ? rest.Left(end) : rest;
}

CString KeyedText(const CString& report, int item) {
    int at = report.Find(KeyFor(item));
    if (at < 0) return CString();
    int quote = report.Find('"', at);
    if (quote < 0) return CString();
    CString rest = report.Mid(quote + 1);
    int end = rest.FindOneOf("\">\n");
    return end >= 0 ? rest.Left(end) : rest;
}

ModuleInfo ParseModuleInfo(const CString& report, const IStringTable& strings) {
    ModuleInfo info;
    long n = 0;
    if (ScanNumber(KeyedValue(report, 202), 16, 4, n)) info.cable = RangeText(strings, kStrCable, n, 100);
    long bits = 0;
    if (ScanNumber(KeyedValue(report, 203), 16, 4, bits)) {
        for (int i = 0; i < 6; ++i) {
            if (!(bits & (0x02 << i))) continue;
            if (!info.lineType.IsEmpty()) info.lineType += ", ";
            info.lineType += TableText(strings, kStrLinePstn + static_cast<unsigned>(i));
        }
    }
    info.firmwareVersion = KeyedText(report, 212);
    return info;
}

CallReport ParseCallReport(const CString& report, const IStringTable& strings) {
    CallReport r;
    long n = 0;
    r.reportVersion = KeyedText(report, 212);
    if (ScanNumber(KeyedValue(report, 121), 10, 0, n)) r.connectionType = RangeText(strings, kStrConnectionType, n, 20);
    if (ScanNumber(KeyedValue(report, 1), 10, 0, n)) r.callSetupResult = RangeText(strings, kStrCallSetup, n, 20);
    r.text110 = KeyedText(report, 110);
    r.value26 = HexToDecimal(KeyedValue(report, 26));
    r.value27 = HexToDecimal(KeyedValue(report, 27));
    r.value34 = HexToDecimal(KeyedValue(report, 34));
    r.value35 = HexToDecimal(KeyedValue(report, 35));
    r.text62 = KeyedText(report, 62);
    if (ScanNumber(KeyedValue(report, 44), 10, 0, n)) {
        if (n == 80) n = 2;
        r.compression = RangeText(strings, kStrCompression, n, 20);
    }
    if (ScanNumber(KeyedValue(report, 40), 10, 0, n)) {
        if (n > 127) n -= 125;
        r.errorControl = RangeText(strings, kStrErrorControl, n, 20);
    }
    r.value12 = HexToDecimal(KeyedValue(report, 12));
    if (ScanNumber(KeyedValue(report, 60), 16, 2, n))
        r.terminationCause = RangeText(strings, kStrTermination, n, kStrTerminationLast - kStrTermination + 1);
    return r;
}

CString TraceMaskCommand(int mask) {
    const int d1 = ((mask & 0x01) ? 1 : 0) + ((mask & 0x02) ? 2 : 0);
    const int d2 = (mask & 0x04) ? 2 : 0;
    const int d3 = (mask & 0x08) ? 2 : 0;
    const int d4 = ((mask & 0x10) ? 1 : 0) + ((mask & 0x20) ? 4 : 0);
    CString command;
    command.Format("AT**TRCMSK=0000000%d0%d0%d0%d80\r", d1, d2, d3, d4);
    return command;
}
