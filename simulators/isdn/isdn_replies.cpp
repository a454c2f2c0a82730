#include "simulators/isdn/isdn_replies.h"

namespace isdnsim {

std::string Reply(const std::string& echo, const std::string& info, bool ok, bool final_line) {
    std::string r = echo + "\r\n" + info;
    if (final_line) r += ok ? "\r\nOK\r\n" : "\r\nERROR\r\n";
    return r;
}

std::string IdentityInfo(bool isdn) { return isdn ? kIdentity : kPlainModemIdentity; }

std::string FirmwareInfo(const std::string& version) { return "V" + version + " Tamrisk BRI"; }

std::string MsnInfo(const std::string& number) { return "MSN: " + number; }

std::string NumberInfo(const std::string& number) { return number; }

std::string SpidInfo(const std::string& spid) { return spid; }

std::string PointToPointInfo(bool multipoint) { return multipoint ? "PTP=0-P-MP" : "PTP=1-P-P"; }

std::string SwitchTypeInfo(int type) {
    switch (type) {
    case 0: return "ISDN=0 DSS1 (Euro-ISDN)";
    case 5: return "ISDN=5 National (NI12)";
    case 6: return "ISDN=6 NTT (JATE)";
    case 7: return "ISDN=7 5ESS (AT&T)";
    case 8: return "ISDN=8 VN4 (VNx)";
    default: return "ISDN=" + std::to_string(type) + " unknown";
    }
}

std::string ProtocolInfo(int number) {
    const char* name;
    switch (number) {
    case 10: name = "X.75"; break;
    case 0: name = "V.110"; break;
    case 13: name = "V.120"; break;
    case 3: name = "PPP over HDLC"; break;
    case 31: name = "Multilink PPP"; break;
    case 22: name = "T.70 BTX"; break;
    case 5: name = "Byte transparent"; break;
    default: name = "unknown"; break;
    }
    return "PROT=" + std::to_string(number) + " " + name;
}

}  // namespace isdnsim
