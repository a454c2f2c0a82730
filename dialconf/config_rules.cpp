#include "dialconf/config_rules.h"

const char* const kProfileNames[5] = {"Home", "Office", "Travel", "Other1", "Other2"};
const char* const kDChannelNames[5] = {
    "Europe-Euro-ISDN (DSS1)", "USA - 5ESS, Nortel, Bellcore U.S.", "USA - National1 and National2",
    "Japan - NTT INS 64", "France - VN4",
};
const char* const kBChannelNames[7] = {"X.75", "V.110", "V.120", "HDLC-PPP", "ML-PPP", "T.70-BTX", "Byte Transparent"};

namespace {
const int kSwitchTypes[5] = {0, 7, 5, 6, 8};  // in the order of kDChannelNames

bool AllDigits(const CString& s) {
    for (int i = 0; i < s.GetLength(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}
}  // namespace

VersionVerdict WindowsKindOf(unsigned platform, unsigned major, unsigned minor, unsigned build, int* kind) {
    *kind = 0;
    if (platform == 0) return VersionVerdict::RefuseWin32s;
    if (platform == 1) {
        if (minor != 0)
            *kind = 3;
        else
            *kind = (build & 0xFFFF) == 950 ? 1 : 2;
        return VersionVerdict::Run;
    }
    if (major == 3) return VersionVerdict::RefuseNt3;
    if (major == 4) *kind = 4;
    if (major == 5) *kind = 5;
    return VersionVerdict::Run;
}

CString SerlinkComPort(const CString& port) {
    int end = port.GetLength();
    int start = end;
    while (start > 0 && port[start - 1] >= '0' && port[start - 1] <= '9') --start;
    return port.Mid(start, end - start);
}

int SwitchTypeFromName(const CString& name) {
    for (int i = 0; i < 5; ++i)
        if (name == kDChannelNames[i]) return kSwitchTypes[i];
    return 255;
}

bool SwitchTypeUsesMsn(int type) { return type == 0 || type == 6 || type == 8; }

CString DChannelNameOf(int type) {
    for (int i = 0; i < 5; ++i)
        if (kSwitchTypes[i] == type) return kDChannelNames[i];
    return CString();
}

CString DChannelNameOfStored(const CString& stored) {
    if (stored.IsEmpty()) return kDss1;
    if (stored.GetLength() > 1 || !AllDigits(stored)) return CString();
    return DChannelNameOf(stored[0] - '0');
}

bool IsValidNumber(const CString& number) {
    if (number == "*") return true;
    return number.GetLength() >= 1 && number.GetLength() <= 20 && AllDigits(number);
}

bool IsValidSpid(const CString& spid, bool may_be_empty) {
    if (spid.IsEmpty()) return may_be_empty;
    return spid.GetLength() <= 20 && AllDigits(spid);
}
