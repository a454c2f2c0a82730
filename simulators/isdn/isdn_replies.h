// What the ISDN Tamrisk says on its AT channel: the layout of every reply and the information
// lines of its settings. The simulator answers with these, and the parser tests of the programs
// build their replies from them, so both sides agree on one layout.
//
// A reply is the echoed command with its CR, "\r\n", the information line where there is one,
// then "\r\nOK\r\n" (or "\r\nERROR\r\n"). No Windows header here.
#pragma once

#include <string>

namespace isdnsim {

constexpr const char* kIdentity = "Dorvex ISDN Tamrisk TA 128";
constexpr const char* kPlainModemIdentity = "Dorvex 56K PC Card Modem";
constexpr const char* kDefaultFirmware = "2.14.07";

// The whole reply to `echo` (the command as received, CR included).
std::string Reply(const std::string& echo, const std::string& info, bool ok = true, bool final_line = true);

// Information lines.
std::string IdentityInfo(bool isdn);                  // ATI
std::string FirmwareInfo(const std::string& version);  // ATI3: "V" + version + " ..."
std::string MsnInfo(const std::string& number);       // AT **MSN: "MSN: " + number
std::string NumberInfo(const std::string& number);    // AT #H: the number as stored
std::string SpidInfo(const std::string& spid);        // AT**SPIDn: the SPID alone
std::string PointToPointInfo(bool multipoint);        // AT **PTP: "0-P-MP" only in multipoint
std::string SwitchTypeInfo(int type);                 // AT **ISDN: names DSS1, NI12, JATE, AT&T, VNx
std::string ProtocolInfo(int number);                 // AT ** PROT: the number and the protocol's name

}  // namespace isdnsim
