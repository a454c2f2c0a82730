// The CAPI message tracer: the main line and sub-lines of each command word.
#include "common/capitrace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/capi_data_b3.h"
#include "common/debug.h"

namespace {

const char kSub[] = "        ";  // sub-lines begin with 8 blanks instead of the prefix
const unsigned kMessageDumpLimit = 1024;
const unsigned kUnknownDumpBytes = 20;

bool isKolv(const uint8_t* id) { return id[0] == 'k' && id[1] == 'o' && id[2] == 'l' && id[3] == 'v'; }

}  // namespace

CCapiMessageTrace::CCapiMessageTrace() : CCapiMessageTrace(commonVariant()) {}

CCapiMessageTrace::CCapiMessageTrace(CommonVariant variant) : variant_(variant) {
    name_ = "CCapiMessageTrace";
    line_[0] = '\0';
    prefix_[0] = '\0';
}

CCapiMessageTrace::~CCapiMessageTrace() = default;
void CCapiMessageTrace::shutDown() {}

void CCapiMessageTrace::setOutputProc(CapiTraceOutputProc proc) { output_ = proc; }

void CCapiMessageTrace::enableB3MessageTrace(int on) {
    if (variant_ == CommonVariant::msgcore) b3MessageTrace_ = on;
}

void CCapiMessageTrace::enableMessageDump(int on) {
    if (variant_ == CommonVariant::msgcore) messageDump_ = on;
}

void CCapiMessageTrace::enableB3DataDump(int request, int indication, unsigned limit) {
    if (variant_ != CommonVariant::msgcore) return;
    b3RequestDump_ = request;
    b3IndicationDump_ = indication;
    b3DumpLimit_ = limit;
}

void CCapiMessageTrace::installDataTraceHandler(CapiDataTraceHandler handler, void* context) {
    dataHandler_ = handler;
    dataContext_ = context;
}

void CCapiMessageTrace::line(uint32_t traceClass, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(line_, sizeof line_, format, args);
    va_end(args);
    // The line is data from here on: a '%' in a number must not reach a format.
    (output_ ? output_ : debugPrint)(traceClass, "%s", line_);
}

bool CCapiMessageTrace::inside(unsigned offset, unsigned count) const {
    return offset <= bound_ && count <= bound_ - offset;
}
uint8_t CCapiMessageTrace::u8(unsigned offset) const { return inside(offset, 1) ? bytes_[offset] : 0; }
uint16_t CCapiMessageTrace::u16(unsigned offset) const { return inside(offset, 2) ? capiGet16(bytes_ + offset) : 0; }
uint32_t CCapiMessageTrace::u32(unsigned offset) const { return inside(offset, 4) ? capiGet32(bytes_ + offset) : 0; }

int CCapiMessageTrace::traceMessage(const tagAPIMsg* message) {
    if (!message) return 0;
    return trace(message, capiGet16(reinterpret_cast<const uint8_t*>(message)));
}

int CCapiMessageTrace::traceMessage(const tagAPIMsg* message, CapiTraceOutputProc proc) {
    setOutputProc(proc);
    return traceMessage(message);
}

int CCapiMessageTrace::traceMessageBytes(const void* bytes, unsigned size) {
    if (!bytes) return 0;
    unsigned bound = size >= 2 ? capiGet16(static_cast<const uint8_t*>(bytes)) : 0;
    if (bound > size) bound = size;
    return trace(static_cast<const tagAPIMsg*>(bytes), bound);
}

int CCapiMessageTrace::trace(const tagAPIMsg* message, unsigned bound) {
    bytes_ = reinterpret_cast<const uint8_t*>(message);
    bound_ = bound;
    if (messageDump_) debugHexDump(bytes_, static_cast<uint16_t>(bound < kMessageDumpLimit ? bound : kMessageDumpLimit));
    cracker_.init(message, bound);
    std::snprintf(prefix_, sizeof prefix_, "[%2d:%5u] ", u16(2), static_cast<unsigned>(u16(6)));

    const uint16_t command = bound >= kCapiHeaderSize ? u16(4) : 0;
    int known = 0;
    if ((command & 0xFF) == 0xFF) {
        switch (command >> 8) {
        case 0x80: case 0x81: case 0x82: case 0x83:
            traceManufacturer(static_cast<uint8_t>(command >> 8));
            known = 1;
            break;
        case 0xC0: case 0xC1:  // the provider's own internal messages
            known = 1;
            break;
        }
    } else {
        switch (command >> 8) {
        case 0x80: known = traceRequest(command); break;
        case 0x81: known = traceConfirmation(command); break;
        case 0x82: known = traceIndication(command); break;
        case 0x83: known = traceResponse(command); break;
        }
    }
    if (!known) {
        line(kTraceClassMain, " unknown CAPI command %04X ", command);
        debugHexDump(bytes_, static_cast<uint16_t>(bound < kUnknownDumpBytes ? bound : kUnknownDumpBytes));
    }
    bytes_ = nullptr;
    bound_ = 0;
    return known;
}

int CCapiMessageTrace::traceRequest(uint16_t command) {
    const char* p = prefix_;
    switch (command) {
    case 0x8001:
        line(kTraceClassMain, "%sAlertRequest", p);
        structDump("additional info", cracker_.getAdditionalInfo());
        return 1;
    case 0x8002:
        line(kTraceClassMain, "%sconnectRequest controller %lu, profile %lX <%s>", p,
             static_cast<unsigned long>(u32(8)), static_cast<unsigned long>(u16(12)), getCipString(u16(12)));
        numberLine("called party number", &CMessageCracker::getCalledPartyNumber);
        numberLine("calling party number", &CMessageCracker::getCallingPartyNumber);
        numberLine("called party subaddress", &CMessageCracker::getCalledPartySubAddress);
        protocolLines();
        structDump("bc", cracker_.getBearerCapability());
        structDump("llc", cracker_.getLowLayerCompatibility());
        structDump("hlc", cracker_.getHighLayerCompatibility());
        structDump("additional info", cracker_.getAdditionalInfo());
        return 1;
    case 0x8004:
        line(kTraceClassMain, "%sdisconnectRequest plci %08lX", p, static_cast<unsigned long>(u32(8)));
        structDump("additional info", cracker_.getAdditionalInfo());
        return 1;
    case 0x8005:
        line(kTraceClassMain, "%slistenRequest ctrl. %lu info %.8lXh  cip %.8lXh", p,
             static_cast<unsigned long>(u32(8)), static_cast<unsigned long>(u32(12)),
             static_cast<unsigned long>(u32(16)));
        numberLine("calling party number", &CMessageCracker::getCallingPartyNumber);
        numberLine("calling party subaddress", &CMessageCracker::getCallingPartySubAddress);
        infoMaskLines(u32(12));
        return 1;
    case 0x8008: {
        char number[256];
        cracker_.getCalledPartyNumber(number, sizeof number);
        if (number[0]) line(kTraceClassMain, "%sInfoRequest id %.8X, no <%s>", p, u32(8), number);
        else line(kTraceClassMain, "%sInfoRequest id %.8X", p, u32(8));
        return 1;
    }
    case 0x8080:
        facilityLine("Request", command);
        return 1;
    case 0x8082:
        line(kTraceClassMain, "%sconnectB3Request plci %08lX, ncpi length %d", p, static_cast<unsigned long>(u32(8)),
             u8(12));
        ncpiLines(command, 12);
        return 1;
    case 0x8084:
        line(kTraceClassMain, "%sdisconnectB3Request ncci %08lX, ncpi length %d", p,
             static_cast<unsigned long>(u32(8)), u8(12));
        ncpiLines(command, 12);
        return 1;
    case 0x8086:
        if (b3MessageTrace_)
            line(kTraceClassDataB3, "%sdataB3Request      ncci %08lX,no %5u,len %4u,%u", p,
                 static_cast<unsigned long>(u32(8)), static_cast<unsigned>(u16(18)), static_cast<unsigned>(u16(16)),
                 static_cast<unsigned>(u16(20)));
        payload(true);
        return 1;
    case 0x8087:
        line(kTraceClassMain, "%sresetB3Request %.8X", p, u32(8));
        return 1;
    }
    return 0;
}

int CCapiMessageTrace::traceConfirmation(uint16_t command) {
    const char* p = prefix_;
    const unsigned long id = u32(8);
    switch (command) {
    case 0x8101: line(kTraceClassMain, "%sAlertConfirmation", p); return 1;
    case 0x8102:
        line(kTraceClassMain, "%sconnectConfirmation plci %08lX  info %04X (%s)", p, id, u16(12), getInfoString(u16(12)));
        return 1;
    case 0x8104:
        line(kTraceClassMain, "%sdisconnectConfirmation plci %08lX  info %04Xh (%s)", p, id, u16(12),
             getInfoString(u16(12)));
        return 1;
    case 0x8105: line(kTraceClassMain, "%slistenConfirmation ctrl. %lu  %04Xh", p, id, u16(12)); return 1;
    case 0x8108: line(kTraceClassMain, "%sInfoConfirmation info %.4X", p, u16(12)); return 1;
    case 0x8180: facilityLine("Confirmation", command); return 1;
    case 0x8182:
        line(kTraceClassMain, "%sconnectB3Confirmation ncci %08lX, info %04Xh (%s)", p, id, u16(12),
             getInfoString(u16(12)));
        return 1;
    case 0x8184:
        line(kTraceClassMain, "%sdisconnectB3Confirmation ncci %08lX, info %04Xh (%s)", p, id, u16(12),
             getInfoString(u16(12)));
        return 1;
    case 0x8186:
        if (b3MessageTrace_)
            line(kTraceClassDataB3, "%sdataB3Confirmation ncci %08lX,no %5u,info %04Xh", p, id,
                 static_cast<unsigned>(u16(12)), u16(14));
        return 1;
    case 0x8187: line(kTraceClassMain, "%sresetB3Confirmation %.8X", p, u32(8)); return 1;
    }
    return 0;
}

int CCapiMessageTrace::traceIndication(uint16_t command) {
    const char* p = prefix_;
    const unsigned long id = u32(8);
    switch (command) {
    case 0x8202:
        line(kTraceClassMain, "%sconnectIndication plci %08lX  cip %Xh", p, id, u16(12));
        line(kTraceClassSub, "%s  <%s>", kSub, getCipString(u16(12)));
        numberLine("called party number", &CMessageCracker::getCalledPartyNumber);
        numberLine("calling party number", &CMessageCracker::getCallingPartyNumber);
        numberLine("called party subaddress", &CMessageCracker::getCalledPartySubAddress);
        numberLine("calling party subaddress", &CMessageCracker::getCallingPartySubAddress);
        structDump("bc", cracker_.getBearerCapability());
        structDump("llc", cracker_.getLowLayerCompatibility());
        structDump("hlc", cracker_.getHighLayerCompatibility());
        structDump("additional info", cracker_.getAdditionalInfo());
        return 1;
    case 0x8203:
        line(kTraceClassMain, "%sconnectActiveIndication plci %08lX", p, id);
        numberLine("connected number", &CMessageCracker::getConnectedNumber);
        numberLine("connected sub address", &CMessageCracker::getConnectedSubAddress);
        structDump("llc", cracker_.getLowLayerCompatibility());
        return 1;
    case 0x8204:
        line(kTraceClassMain, "%sdisconnectIndication plci %08lX  info %04Xh", p, id, u16(12));
        if (u16(12) != 0) line(kTraceClassSub, "%s <%s>", kSub, getInfoString(u16(12)));
        return 1;
    case 0x8208:
        line(kTraceClassMain, "%sInfoIndication %.8X  number %.4X", p, u32(8), u16(12));
        if (variant_ == CommonVariant::msgcore) infoElementLines();
        return 1;
    case 0x8280: facilityLine("Indication", command); return 1;
    case 0x8282:
        line(kTraceClassMain, "%sconnectB3Indication ncci %08lX, npci length %d", p, id, u8(12));
        ncpiLines(command, 12);
        return 1;
    case 0x8283:
        line(kTraceClassMain, "%sconnectB3ActiveIndication ncci %08lX, ncpi length %d", p, id, u8(12));
        ncpiLines(command, 12);
        return 1;
    case 0x8284:
        line(kTraceClassMain, "%sdisconnectB3Indication ncci %08lX, info %04Xh, ncpi length %d", p, id, u16(12),
             u8(14));
        ncpiLines(command, 14);
        return 1;
    case 0x8286:
        if (b3MessageTrace_)
            line(kTraceClassDataB3, "%sdataB3Indication   ncci %08lX,no %5u,len %4d,%u", p, id,
                 static_cast<unsigned>(u16(18)), u16(16), static_cast<unsigned>(u16(20)));
        payload(false);
        return 1;
    case 0x8287: line(kTraceClassMain, "%sresetB3Indication %.8X", p, u32(8)); return 1;
    case 0x8288:
        line(kTraceClassMain, "%sconnectB3T90ActiveIndication ncci %08lX, ncpi length %d", p, id, u8(12));
        ncpiLines(command, 12);
        return 1;
    }
    return 0;
}

int CCapiMessageTrace::traceResponse(uint16_t command) {
    const char* p = prefix_;
    const unsigned long id = u32(8);
    switch (command) {
    case 0x8302:
        line(kTraceClassMain, "%sconnectResponse plci %08lX  reject %04X", p, id, u16(12));
        protocolLines();
        numberLine("connected number", &CMessageCracker::getConnectedNumber);
        numberLine("connected sub address", &CMessageCracker::getConnectedSubAddress);
        structDump("llc", cracker_.getLowLayerCompatibility());
        structDump("additional info", cracker_.getAdditionalInfo());
        return 1;
    case 0x8303: line(kTraceClassMain, "%sconnectActiveResponse plci %08lX ", p, id); return 1;
    case 0x8304: line(kTraceClassMain, "%sdisconnectResponse plci %08lX", p, id); return 1;
    case 0x8308: line(kTraceClassMain, "%sInfoResponse %.8X", p, u32(8)); return 1;
    case 0x8380: facilityLine("Response", command); return 1;
    case 0x8382:
        line(kTraceClassMain, "%sconnectB3Response ncci %08lX,reject %04Xh,ncpi length %d", p, id, u16(12), u8(14));
        ncpiLines(command, 14);
        return 1;
    case 0x8383: line(kTraceClassMain, "%sconnectB3ActiveResponse ncci %08lX ", p, id); return 1;
    case 0x8384: line(kTraceClassMain, "%sdisconnectB3Response ncci %08lX", p, id); return 1;
    case 0x8386:
        if (b3MessageTrace_)
            line(kTraceClassDataB3, "%sdataB3Response     ncci %08lX,no %5u", p, id, static_cast<unsigned>(u16(12)));
        return 1;
    case 0x8387:
        if (variant_ == CommonVariant::portbridge) line(kTraceClassMain, "%sresetB3Response%.8X", p, u32(8));
        else line(kTraceClassMain, "%sresetB3Response %.8X", p, u32(8));
        return 1;
    case 0x8388: line(kTraceClassMain, "%sConnectB3T90ActiveResponse ncci %08lX", p, id); return 1;
    }
    return 0;
}

// FACILITY: identifier at 8, then (confirmations: info at 12) the selector and the facility
// parameter structure. For supplementary services (selector 3) that structure holds the function
// and a structure whose first word is the service's info or reason.
void CCapiMessageTrace::facilityLine(const char* what, uint16_t command) {
    const bool confirmation = (command >> 8) == 0x81;
    const unsigned selectorAt = confirmation ? 14 : 12;
    const unsigned param = selectorAt + 2;
    const unsigned long id = u32(8);
    const uint16_t selector = u16(selectorAt);
    const uint16_t info = u16(12);
    if (selector != 3) {
        if (confirmation)
            line(kTraceClassMain, "%sFacility%s identifier %08lX,info %X selector %u", prefix_, what, id, info, selector);
        else
            line(kTraceClassMain, "%sFacility%s identifier %08lX selector %u", prefix_, what, id, selector);
        return;
    }
    // Fields of the parameter structure count only inside it.
    const unsigned paramLength = u8(param);
    const uint16_t function = paramLength >= 2 ? u16(param + 1) : 0;
    const unsigned inner = param + 3;
    const unsigned innerLength = paramLength >= 3 ? u8(inner) : 0;
    const uint16_t word = (innerLength >= 2 && paramLength >= 5) ? u16(inner + 1) : 0;
    const char* name = getSuppServiceString(function);
    switch (command >> 8) {
    case 0x81:
        line(kTraceClassMain, "%sFacility%s identifier %lX, (%X %s), info %X, suppInfo %X", prefix_, what, id, function,
             name, info, word);
        break;
    case 0x82:
        line(kTraceClassMain, "%sFacility%s identifier %lX, (%X %s), reason %X", prefix_, what, id, function, name, word);
        break;
    default:
        line(kTraceClassMain, "%sFacility%s identifier %lX, (%X %s)", prefix_, what, id, function, name);
        break;
    }
}

void CCapiMessageTrace::numberLine(const char* label, char* (CMessageCracker::*getter)(char*, unsigned)) {
    char digits[256];
    (cracker_.*getter)(digits, sizeof digits);
    if (digits[0]) line(kTraceClassSub, "%s  %s <%s>", kSub, label, digits);
}

void CCapiMessageTrace::protocolLines() {
    const tagCapiStruct* bp = cracker_.getBProtocol();
    if (!bp || bp->length == 0) return;
    const uint8_t* d = capiStructData(bp);
    // Only the protocol numbers the structure holds.
    if (bp->length >= 2) {
        const uint16_t b1 = capiGet16(d);
        line(kTraceClassSub, "%s  B1 protocol <%s>", kSub, getB1ProtocolString(b1));
        const tagCapiStruct* b1c = cracker_.getB1Configuration();
        if (b1 == 2 && b1c && b1c->length) {
            static const char* const kFields[] = {"%s   baud rate          %d", "%s   bits per character %d",
                                                  "%s   parity             %d", "%s   stopbits           %d"};
            const uint8_t* c = capiStructData(b1c);
            for (unsigned i = 0; i < 4 && 2 * i + 2 <= b1c->length; ++i) {
                line(kTraceClassB1, kFields[i], kSub, capiGet16(c + 2 * i));
            }
        }
    }
    if (bp->length >= 4) line(kTraceClassSub, "%s  B2 protocol <%s>", kSub, getB2ProtocolString(capiGet16(d + 2)));
    if (bp->length >= 6) line(kTraceClassSub, "%s  B3 protocol <%s>", kSub, getB3ProtocolString(capiGet16(d + 4)));
}

void CCapiMessageTrace::structDump(const char* label, const tagCapiStruct* s) {
    if (!s || s->length == 0) return;
    char text[256];
    int at = std::snprintf(text, sizeof text, "  %s%s:", kSub, label);
    const uint8_t* d = capiStructData(s);
    for (unsigned i = 0; i < s->length && at >= 0 && at + 3 < static_cast<int>(sizeof text); ++i)
        at += std::snprintf(text + at, sizeof text - at, " %.2X", d[i]);
    line(kTraceClassSub, "%s", text);
}

void CCapiMessageTrace::infoMaskLines(uint32_t mask) {
    static const char* const kBits[] = {
        "%s info cause", "%s info date", "%s info display", "%s info user-user info", "%s info call progression",
        "%s info facility", "%s info charging info", "%s info direct dialing in (Called Party number)",
        "%s info channel identification   ", "%s info DATA_B3/inband info ...  ",
    };
    for (unsigned bit = 0; bit < 10; ++bit)
        if (mask & (1u << bit)) line(kTraceClassSub, kBits[bit], kSub);
}

void CCapiMessageTrace::infoElementLines() {
    const uint16_t number = u16(12);
    const tagCapiStruct* element = cracker_.getStructure(14, 1);
    const char* text = nullptr;
    if (number & 0x8000) {
        switch (number) {
        case 0x8001: text = "%s  net alerting"; break;
        case 0x8002: text = "%s  net call proceeding"; break;
        case 0x8003: text = "%s  net progress"; break;
        case 0x800D: text = "%s  net setup ack"; break;
        case 0x8045: text = "%s  net disconnect"; break;
        }
    } else if (!(number & 0x4000)) {
        switch (number & 0xFF) {
        case 0x08: text = "%s  info cause"; break;
        case 0x18: structDump("channel identification ", element); break;
        case 0x1C: text = "%s  info facility"; break;
        case 0x1E: structDump("call progress", element); break;
        case 0x28: text = "%s  info display"; break;
        case 0x29: text = "%s  info date "; break;
        case 0x7E: text = "%s  user to user info"; break;
        }
    }
    if (text) line(kTraceClassSub, text, kSub);
}

// X.25 NCPI: flags, logical group and channel, packed addresses, facilities and user data, or
// (disconnect) cause and diagnostic. Every byte is read inside the structure, and the structure
// inside the message; what does not fit gives the coding-error line, which names the length a
// message of its command needs to hold the NCPI's length byte.
void CCapiMessageTrace::ncpiLines(uint16_t command, unsigned offset) {
    unsigned minimum = 9;
    switch (command) {
    case 0x8082: case 0x8084: case 0x8282: case 0x8283: case 0x8288: minimum = 13; break;
    case 0x8284: case 0x8382: minimum = 15; break;
    }
    const unsigned length = u8(offset);
    auto bad = [&] {
        if (variant_ == CommonVariant::portbridge)
            line(kTraceClassError, "bad NCPI coding for ncpi length %d and message length %d", length, bound_);
        else
            line(kTraceClassError, "bad NCPI coding for ncpi length %d and message length %d, expected %d", length,
                 bound_, minimum);
    };
    // A message that ends before its NCPI's length byte.
    if (bound_ < minimum) {
        bad();
        return;
    }
    if (length == 0) return;
    // The NCPI byte i (1 = the first after the length byte) is at offset + i.
    auto need = [&](unsigned lastByte) { return lastByte <= length && inside(offset, lastByte + 1); };
    if (!inside(offset, 1 + length)) {
        bad();
        return;
    }
    const uint8_t* n = bytes_ + offset;
    if (command == 0x8084 || command == 0x8284) {
        if (!need(5)) {
            bad();
            return;
        }
        line(kTraceClassSub, "%scause %.2X diag %.2X", kSub, n[4], n[5]);
        return;
    }
    if (!need(3)) {
        bad();
        return;
    }
    line(kTraceClassSub, "%s flags=%.02X lg=%.02X  lc=%.02X", kSub, n[1], n[2], n[3]);
    if (length == 3) return;

    const unsigned remoteDigits = n[4] & 0x0F;
    const unsigned digits = remoteDigits + (n[4] >> 4);
    const unsigned addressBytes = (digits + 1) / 2;
    const unsigned facilityAt = 5 + addressBytes;  // the facility length byte
    if (!need(facilityAt) || !need(facilityAt + n[facilityAt])) {
        bad();
        return;
    }
    char remote[16], local[16];
    unsigned r = 0, l = 0;
    for (unsigned k = 0; k < digits; ++k) {
        const uint8_t b = n[5 + k / 2];
        const char c = static_cast<char>(0x30 + ((k % 2) ? (b & 0x0F) : (b >> 4)));
        if (k < remoteDigits) remote[r++] = c;
        else local[l++] = c;
    }
    remote[r] = '\0';
    local[l] = '\0';
    line(kTraceClassSub, "%s local  address <%s>", kSub, local);
    line(kTraceClassSub, "%s remote address <%s>", kSub, remote);

    const unsigned facilities = n[facilityAt];
    if (facilities) {
        char text[20 * 3 + 1];
        int at = 0;
        for (unsigned i = 0; i < facilities && i < 20; ++i)
            at += std::snprintf(text + at, sizeof text - at, " %.02X", n[facilityAt + 1 + i]);
        text[at] = '\0';
        line(kTraceClassSub, "%sfacility:%s", kSub, text);
    }
    const unsigned userData = length - addressBytes - facilities - 5;
    line(kTraceClassSub, "%s user data length %u", kSub, userData);
    if (userData) debugHexDump(n + facilityAt + 1 + facilities, static_cast<uint16_t>(userData));
}

// DATA_B3 request and indication: data address at 12, length at 16.
void CCapiMessageTrace::payload(bool request) {
    const void* data = capib3::pointer(capib3::address(bytes_, bound_));
    const unsigned length = u16(16);
    if (dataHandler_) {
        dataHandler_(dataContext_, data, length);
        return;
    }
    if (!data || length == 0) return;
    if (request ? b3RequestDump_ : b3IndicationDump_)
        debugHexDump(data, static_cast<uint16_t>(length < b3DumpLimit_ ? length : b3DumpLimit_));
}

// MANUFACTURER: controller at 8, manufacturer id at 12, class word at 16. The adapter's own
// messages ("kolv") of class 0x1008 control an external device: function at 18, device number
// (an indication's digit) at 20, the function's parameter (a confirmation's info) at 24.
void CCapiMessageTrace::traceManufacturer(uint8_t subCommand) {
    const char* p = prefix_;
    const unsigned long controller = u32(8);
    const uint16_t code = u16(16);
    const bool kolv = inside(12, 4) && isKolv(bytes_ + 12);
    if (!kolv) {
        switch (subCommand) {
        case 0x80:
            line(kTraceClassMain, "%smanufacturerRequest controller %lu, code %.4X, mnfID %X", p, controller, code, u32(12));
            break;
        case 0x81:
            line(kTraceClassMain, "%smanufacturerConfirmation controller %lu, code %.4X, info %.4X, ID %X", p, controller,
                 code, u16(18), u32(12));
            break;
        case 0x82:
            line(kTraceClassMain, "%smanufacturerIndication controller %lu, code %.4X, info %.4X", p, controller, code,
                 u16(18));
            break;
        default: line(kTraceClassMain, "%smanufacturerResponse controller %lu, code %.4X", p, controller, code); break;
        }
        return;
    }
    if (code != 0x1008) {
        if (subCommand == 0x82) line(kTraceClassMain, "%smanufacturerIndication controller %lu, code %X", p, controller, code);
        return;
    }
    const uint16_t function = u16(18);
    const unsigned long device = u32(20);
    const uint32_t parameter = u32(24);
    switch (subCommand) {
    case 0x80:
        line(kTraceClassMain, "%smanufacturerRequest controller %lu, code %X", p, controller, code);
        switch (function) {
        case 0:
            line(kTraceClassSub, "  %sassign external device %lu, %s", kSub, device,
                 parameter ? "full control for application" : "standard mode");
            break;
        case 1: line(kTraceClassSub, "  %sfree external device %lu", kSub, device); break;
        case 2:
            line(kTraceClassSub, "  %sattach B-channel %lu, device number %lu", kSub,
                 static_cast<unsigned long>(parameter), device);
            break;
        case 3:
            line(kTraceClassSub, "  %sdetach B-channel %lu, device number %lu", kSub,
                 static_cast<unsigned long>(parameter), device);
            break;
        case 4:
            if (parameter) line(kTraceClassSub, "  %sring ON, device %lu", kSub, device);
            else line(kTraceClassSub, "  %sring OFF, device %lu", kSub, device);
            break;
        case 5: line(kTraceClassSub, "  %sgenerate DTMF", kSub); break;
        }
        break;
    case 0x81: {
        const uint16_t info = u16(24);
        line(kTraceClassMain, "%smanufacturerConfirmation controller %lu, code %X, info %.4X", p, controller, code, info);
        if (function > 5) {
            line(kTraceClassSub, "  unknown external device function %X", function);
            break;
        }
        const char* text = getInfoString(info);
        switch (function) {
        case 0:
            if (info == 0) line(kTraceClassSub, "  %sassign device %lu successfully", kSub, device);
            else line(kTraceClassSub, "  %sassign device %lu failed <%s>", kSub, device, text);
            break;
        case 1:
            if (info == 0) line(kTraceClassSub, "  %sfree device %lu successfully", kSub, device);
            else line(kTraceClassSub, "  %sfree device %lu failed, <%s>", kSub, device, text);
            break;
        case 2:
            if (info == 0) line(kTraceClassSub, "  %sattach B-channel for device %lu successfully", kSub, device);
            else line(kTraceClassSub, "  %sattach B-channel for device %lu failed <%s>", kSub, device, text);
            break;
        case 3:
            if (info == 0) line(kTraceClassSub, "  %sdetach B-channel or device %lu successfully", kSub, device);
            else line(kTraceClassSub, "  %sdetach B-channel for device %lu failed <%s>", kSub, device, text);
            break;
        }
        break;
    }
    case 0x82: {
        const uint8_t digit = u8(20);
        if (variant_ == CommonVariant::portbridge)
            line(kTraceClassMain, "%smanufacturerIndication controller %lu, external device control digit %X", p,
                 controller, digit);
        else if (digit == 0)
            // Printed as a character, the digit 0 ends the text: the line stops at the bracket.
            line(kTraceClassMain, "%smanufacturerIndication controller %lu, external device control digit <", p,
                 controller);
        else
            line(kTraceClassMain, "%smanufacturerIndication controller %lu, external device control digit <%c> %Xh", p,
                 controller, static_cast<char>(digit), digit);
        break;
    }
    default: line(kTraceClassMain, "%smanufacturerResponse controller %lu, code %X", p, controller, code); break;
    }
}
