// The tracer's name tables: protocols, CIP values, supplementary services, info and reason texts.
#include <cstddef>
#include <cstdint>

#include "common/capitrace.h"

namespace {

const char* const kB1[] = {
    "64k HDLC framing", "64k bit transparent", "V 110 asynchron", "V 110 synchron", "T 30 modem",
    "64k HDLC inverted", "56k transparent", "modem, b2Protocol=7 required",
    "modem, async, start/stop byte fram.", "modem, sync, HDLC framing",
};

const char* const kB2[] = {
    "ISO 7776/(X.75)", "transparent", "SDLC", "LAPD", "T30", "PPP", "transparent ignore framing",
    "modem (V.42bis, MNP 5 ..)", "ISO 7776 with V42bis support", "V.120 asynchronous operation",
    "V.120 async. with V42bis", "V.120 transparent operation", "LAPD with SAPI selection",
};

const char* const kB3[] = {
    "transparent", "T90 NL", "ISO 8208 (X.25 DTE/DTE)", "X25 DCE", "T30", "T.30 / fax gr. 3 with extensions",
    "b3Reserved1", "modem (add. info in NCPI ..)",
};

const char* const kCip[] = {
    "no profile", "speech", "unrestricted digital information", "restricted digital information",
    "3.1 kHz audio", "7 kHz audio", "video", "packet mode", "56 kBit/s rate adaption",
    "unrestricted digital info with tones", "reserved", "reserved", "reserved", "reserved", "reserved",
    "reserved", "telephony", "fax group 2/3", "fax group 4 class 1", "teletex", "teletex ...",
    "teletex basic mode", "videotex", "telex", "X.400", "OSI X.200", "7 Khz telephony",
    "video telephony first connection", "video telephony second connection",
};

const char* const kSupp[] = {
    "getSupportedServices", "listen", "Hold", "Retrieve", "Suspend", "Resume", "ECT", "3PTYBegin",
    "3PTYEnd", "CFActivate", "CFDeactivate", "CFInterrogatePar", "CFInterrogateNum", "CD", "MCID",
};

struct InfoText {
    uint16_t code;
    const char* text;
};

const char kNotInstalled[] = "CAPI not installed";
const char kNoExternal[] = "controller does not support external equipment";
const char kOnlyExternal[] = "controller does only support external equipment";

const InfoText kInfo[] = {
    {0x0000, "ok"},
    {0x1001, "too many applications"},
    {0x1002, "logical block size too small, must be at least 128 bytes"},
    {0x1003, "buffer exceeds 64 kByte"},
    {0x1004, "message buffer size too small, must be at least 1024 bytes"},
    {0x1005, "max. number of logical connections not supported"},
    {0x1006, "Reserved"},
    {0x1007, "message could not be accepted because of an internal busy condition"},
    {0x1008, "OS resource error (no memory ?)"},
    {0x1009, kNotInstalled},
    {0x100A, kNoExternal},
    {0x100B, kOnlyExternal},
    {0x1101, "illegal application number"},
    {0x1102, "illegal command or subcommand or message length less than 12 bytes"},
    {0x1103, "message could not be accepted because of a queue full condition"},
    {0x1104, "queue is empty"},
    {0x1105, "queue overflow, a message was lost"},
    {0x1106, "unknown notification parameter"},
    {0x1107, "message could not be accepted because of an internal busy condition"},
    {0x1108, "OS resource error (no memory ?)"},
    {0x1109, kNotInstalled},
    {0x110A, kNoExternal},
    {0x110B, kOnlyExternal},
    {0x2001, "message not supported in current state"},
    {0x2002, "illegal Controller / PLCI / NCCI"},
    {0x2003, "out of PLCI"},
    {0x2004, "out of NCCI"},
    {0x2005, "out of LISTEN"},
    {0x2006, "out of FAX resources (protocol T.30)"},
    {0x2007, "illegal message parameter coding"},
    {0x3001, "B1 protocol not supported"},
    {0x3002, "B2 protocol not supported"},
    {0x3003, "B3 protocol not supported"},
    {0x3004, "B1 protocol parameter not supported"},
    {0x3005, "B2 protocol parameter not supported"},
    {0x3006, "B3 protocol parameter not supported"},
    {0x3007, "B protocol combination not supported"},
    {0x3008, "NCPI not supported"},
    {0x3009, "CIP Value unknown"},
    {0x300A, "flags not supported (reserved bits)"},
    {0x300B, "facility not supported"},
    {0x300C, "data length not supported by current protocol"},
    {0x300D, "reset procedure not supported by current protocol"},
    {0x3301, "protocol error layer 1 (broken line or B-channel removed by signalling protocol)"},
    {0x3302, "protocol error layer 2"},
    {0x3303, "protocol error layer 3"},
    {0x3304, "another application got that call"},
    {0x3311, "connecting not successful (remote station is no FAX G3 machine)"},
    {0x3312, "connecting not successful (training error)"},
    {0x3313, "disconnected before transfer (remote station does not support transfer mode)"},
    {0x3314, "disconnected during transfer (remote abort)"},
    {0x3315, "disconnected during transfer (remote procedure error)"},
    {0x3316, "disconnected during transfer (local tx data underrun)"},
    {0x3317, "disconnected during transfer (local rx data overflow)"},
    {0x3318, "disconnected during transfer (local abort)"},
    {0x3319, "illegal parameter coding (e.g. SFF coding error)"},
    {0x3481, "Unallocated (unassigned) number"},
    {0x3482, "No route to specified transit network"},
    {0x3483, "No route to destination"},
    {0x3486, "Channel unacceptable"},
    {0x3487, "Call awarded and being delivered in an established channel"},
    {0x3490, "Normal call clearing"},
    {0x3491, "User busy"},
    {0x3492, "No user responding"},
    {0x3493, "No answer from user (user alerted)"},
    {0x3495, "Call rejected"},
    {0x3496, "Number changed"},
    {0x349A, "Non-selected user clearing"},
    {0x349B, "Destination out of order"},
    {0x349C, "Invalid number format"},
    {0x349D, "Facility rejected"},
    {0x349E, "Response to STATUS ENQUIRY"},
    {0x349F, "Normal, unspecified"},
    {0x34A2, "No circuit / channel available"},
    {0x34A6, "Network out of order"},
    {0x34A9, "Temporary failure"},
    {0x34AA, "Switching equipment congestion"},
    {0x34AB, "Access information discarded"},
    {0x34AC, "Requested circuit / channel not available"},
    {0x34AF, "Resources unavailable, unspecified"},
    {0x34B1, "Quality of service unavailable"},
    {0x34B2, "Requested facility not subscribed"},
    {0x34B9, "Bearer capability not authorized"},
    {0x34BA, "Bearer capability not presently available"},
    {0x34BF, "Service or option not available, unspecified"},
    {0x34C1, "Bearer capability not implemented"},
    {0x34C2, "Channel type not implemented"},
    {0x34C5, "Requested facility not implemented"},
    {0x34C6, "Only restricted digital information bearer capability is available"},
    {0x34CF, "Service or option not implemented, unspecified"},
    {0x34D1, "Invalid call reference value"},
    {0x34D2, "Identified channel does not exist"},
    {0x34D3, "A suspended call exists, but this call identity does not"},
    {0x34D4, "Call identity in use"},
    {0x34D5, "No call suspended"},
    {0x34D6, "Call having the requested call identity has been cleared"},
    {0x34D8, "Incompatible destination"},
    {0x34DB, "Invalid transit network selection"},
    {0x34DF, "Invalid message, unspecified"},
    {0x34E0, "Mandatory information element is missing"},
    {0x34E1, "Message type non-existent or not implemented"},
    {0x34E2, "Message not compatible with call state or message type non-existent or not implemented"},
    {0x34E3, "Information element non-existent or not implemented"},
    {0x34E4, "Invalid information element contents"},
    {0x34E5, "Message not compatible with call state"},
    {0x34E6, "Recovery on timer expiry"},
    {0x34EF, "Protocol error, unspecified"},
    {0x34FF, "Interworking, unspecified"},
    {0xE000, "Illegal device number"},
    {0xE001, "Illegal device function"},
    {0xE002, "Illegal PLCI"},
    {0xE003, "Illegal B-channel"},
    {0xE004, "Device already assigned"},
    {0xE005, "Device not assigned"},
    {0xE006, "Device is busy"},
    {0xE007, "Illegal mode"},
};
static_assert(sizeof kInfo / sizeof kInfo[0] == 116, "one text per info and reason code");

template <size_t N>
const char* pick(const char* const (&table)[N], unsigned index, const char* beyond) {
    return index < N ? table[index] : beyond;
}

}  // namespace

const char* CCapiMessageTrace::getInfoString(unsigned code) {
    for (const InfoText& t : kInfo)
        if (t.code == code) return t.text;
    return "No info";
}

const char* CCapiMessageTrace::getB1ProtocolString(unsigned p) { return pick(kB1, p, "unknown"); }
const char* CCapiMessageTrace::getB2ProtocolString(unsigned p) { return pick(kB2, p, "unknown"); }
const char* CCapiMessageTrace::getB3ProtocolString(unsigned p) { return pick(kB3, p, "unknown"); }
const char* CCapiMessageTrace::getCipString(unsigned cip) { return pick(kCip, cip, "unknown"); }
const char* CCapiMessageTrace::getSuppServiceString(unsigned f) { return pick(kSupp, f, "unknown supp function"); }
