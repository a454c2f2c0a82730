// The message cracker: where each structure of a command lies, checked against the message's end.
#include "common/cracker.h"

#include "common/debug.h"

namespace {

const tagCapiStruct kEmpty = {0};

// Where a field lies for one command word: the n-th structure from message offset `start`.
struct Place {
    uint16_t command;
    uint8_t start;
    uint8_t n;
};

template <size_t N>
const Place* find(const Place (&places)[N], uint16_t command) {
    for (const Place& p : places)
        if (p.command == command) return &p;
    return nullptr;
}

const Place kCalledNumber[] = {{kCapiConnectReq, 14, 1}, {kCapiConnectInd, 14, 1}, {kCapiInfoReq, 12, 1}};
const Place kCallingNumber[] = {{kCapiConnectReq, 14, 2}, {kCapiConnectInd, 14, 2}, {kCapiListenReq, 24, 1}};
const Place kCalledSub[] = {{kCapiConnectReq, 14, 3}, {kCapiConnectInd, 14, 3}};
const Place kCallingSub[] = {{kCapiConnectReq, 14, 4}, {kCapiConnectInd, 14, 4}, {kCapiListenReq, 24, 2}};
const Place kBProtocol[] = {{kCapiConnectReq, 14, 5}, {kCapiSelectBProtocolReq, 12, 1}, {kCapiConnectResp, 14, 1}};
const Place kBearer[] = {{kCapiConnectReq, 14, 6}, {kCapiConnectInd, 14, 5}};
const Place kLlc[] = {{kCapiConnectReq, 14, 7}, {kCapiConnectInd, 14, 6}, {kCapiConnectActiveInd, 12, 3},
                      {kCapiConnectResp, 14, 4}};
const Place kHlc[] = {{kCapiConnectReq, 14, 8}, {kCapiConnectInd, 14, 7}};
const Place kAdditional[] = {{kCapiConnectReq, 14, 9}, {kCapiConnectInd, 14, 8}, {kCapiAlertReq, 12, 1},
                             {kCapiDisconnectReq, 12, 1}, {kCapiInfoReq, 12, 2}, {kCapiConnectResp, 14, 5}};
const Place kConnectedNumber[] = {{kCapiConnectActiveInd, 12, 1}, {kCapiConnectResp, 14, 2}};
const Place kConnectedSub[] = {{kCapiConnectActiveInd, 12, 2}, {kCapiConnectResp, 14, 3}};

// The bytes after the B protocol's length byte and its three u16 protocol numbers.
const unsigned kConfigurationOffset = 7;

}  // namespace

CMessageCracker::CMessageCracker() = default;
CMessageCracker::CMessageCracker(const tagAPIMsg* message) { init(message); }
CMessageCracker::~CMessageCracker() = default;

const tagCapiStruct* CMessageCracker::empty() { return &kEmpty; }

void CMessageCracker::init(const tagAPIMsg* message) {
    message_ = message;
    bound_ = message ? capiGet16(bytes()) : 0;
    dumped_ = false;
}

void CMessageCracker::init(const tagAPIMsg* message, unsigned available) {
    message_ = message;
    bound_ = 0;
    if (message && available >= 2) {
        bound_ = capiGet16(bytes());
        if (bound_ > available) bound_ = available;
    }
    dumped_ = false;
}

uint16_t CMessageCracker::commandWord() const {
    if (!message_ || bound_ < kCapiHeaderSize) return 0;
    return capiGet16(bytes() + 4);
}

void CMessageCracker::fail() {
    if (dumped_ || !message_) return;
    dumped_ = true;
    debugHexDump(message_, static_cast<uint16_t>(bound_));
}

const tagCapiStruct* CMessageCracker::getStructure(unsigned start, int n) {
    if (!message_ || n < 1) return &kEmpty;
    const uint8_t* b = bytes();
    unsigned pos = start;
    for (int i = 1;; ++i) {
        if (pos >= bound_) break;
        const unsigned length = b[pos];
        unsigned size = 1 + length;
        if (length == 0xFF) {
            if (pos + 3 > bound_) break;
            size = 3 + capiGet16(b + pos + 1);
        }
        if (size > bound_ - pos) break;
        if (i == n) return length == 0xFF ? &kEmpty : reinterpret_cast<const tagCapiStruct*>(b + pos);
        pos += size;
    }
    fail();
    return nullptr;
}

const tagCapiStruct* CMessageCracker::getSubStructure(const tagCapiStruct* parent, unsigned start, int n) {
    if (!parent) return nullptr;
    if (parent->length == 0 || n < 1) return &kEmpty;
    const uint8_t* p = &parent->length;
    const unsigned end = 1u + parent->length;
    unsigned pos = start;
    for (int i = 1;; ++i) {
        // A parent that ends before the field simply does not carry it.
        if (pos >= end) return &kEmpty;
        const unsigned length = p[pos];
        unsigned size = 1 + length;
        if (length == 0xFF) {
            if (pos + 3 > end) break;
            size = 3 + capiGet16(p + pos + 1);
        }
        if (size > end - pos) break;
        if (i == n) return length == 0xFF ? &kEmpty : reinterpret_cast<const tagCapiStruct*>(p + pos);
        pos += size;
    }
    fail();
    return nullptr;
}

namespace {

template <size_t N>
const tagCapiStruct* lookUp(CMessageCracker* c, const Place (&places)[N]) {
    const Place* p = find(places, c->commandWord());
    return p ? c->getStructure(p->start, p->n) : CMessageCracker::empty();
}

}  // namespace

const tagCalledPartyNumber* CMessageCracker::getCalledPartyNumber() {
    return static_cast<const tagCalledPartyNumber*>(lookUp(this, kCalledNumber));
}
const tagCallingPartyNumber* CMessageCracker::getCallingPartyNumber() {
    return static_cast<const tagCallingPartyNumber*>(lookUp(this, kCallingNumber));
}
const tagCalledPartySubaddress* CMessageCracker::getCalledPartySubAddress() {
    return static_cast<const tagCalledPartySubaddress*>(lookUp(this, kCalledSub));
}
const tagCallingPartySubaddress* CMessageCracker::getCallingPartySubAddress() {
    return static_cast<const tagCallingPartySubaddress*>(lookUp(this, kCallingSub));
}
const tagBProtocol* CMessageCracker::getBProtocol() {
    return static_cast<const tagBProtocol*>(lookUp(this, kBProtocol));
}
const tagBearerCapability* CMessageCracker::getBearerCapability() {
    return static_cast<const tagBearerCapability*>(lookUp(this, kBearer));
}
const tagLowLayerCompatibility* CMessageCracker::getLowLayerCompatibility() {
    return static_cast<const tagLowLayerCompatibility*>(lookUp(this, kLlc));
}
const tagHighLayerCompatibility* CMessageCracker::getHighLayerCompatibility() {
    return static_cast<const tagHighLayerCompatibility*>(lookUp(this, kHlc));
}
const tagAdditionalInfo* CMessageCracker::getAdditionalInfo() {
    return static_cast<const tagAdditionalInfo*>(lookUp(this, kAdditional));
}
const tagConnectedNumber* CMessageCracker::getConnectedNumber() {
    return static_cast<const tagConnectedNumber*>(lookUp(this, kConnectedNumber));
}
const tagConnectedSubaddress* CMessageCracker::getConnectedSubAddress() {
    return static_cast<const tagConnectedSubaddress*>(lookUp(this, kConnectedSub));
}

const tagB1Configuration* CMessageCracker::getB1Configuration() {
    return static_cast<const tagB1Configuration*>(getSubStructure(getBProtocol(), kConfigurationOffset, 1));
}
const tagB2Configuration* CMessageCracker::getB2Configuration() {
    return static_cast<const tagB2Configuration*>(getSubStructure(getBProtocol(), kConfigurationOffset, 2));
}
const tagB3Configuration* CMessageCracker::getB3Configuration() {
    return static_cast<const tagB3Configuration*>(getSubStructure(getBProtocol(), kConfigurationOffset, 3));
}
const tagBChannelInformation* CMessageCracker::getBChannelInformation() {
    return static_cast<const tagBChannelInformation*>(getSubStructure(getAdditionalInfo(), 1, 1));
}
const tagKeypadFacility* CMessageCracker::getKeyPadFacility() {
    return static_cast<const tagKeypadFacility*>(getSubStructure(getAdditionalInfo(), 1, 2));
}
const tagUserUserData* CMessageCracker::getUserToUserData() {
    return static_cast<const tagUserUserData*>(getSubStructure(getAdditionalInfo(), 1, 3));
}
const tagFacilityDataArray* CMessageCracker::getFacilityDataArray() {
    return static_cast<const tagFacilityDataArray*>(getSubStructure(getAdditionalInfo(), 1, 4));
}

unsigned CMessageCracker::getLowLayerCompatibility(uint8_t* out, unsigned size) {
    if (!out || size == 0) return 0;
    const tagCapiStruct* llc = getLowLayerCompatibility();
    if (!llc || 1u + llc->length > size) {
        out[0] = 0;
        return 1;
    }
    const uint8_t* from = &llc->length;
    for (unsigned i = 0; i <= llc->length; ++i) out[i] = from[i];
    return 1u + llc->length;
}

char* CMessageCracker::copyDigits(const tagCapiStruct* s, unsigned skip, char* out, unsigned size) {
    if (!out || size == 0) return out;
    unsigned count = 0;
    // A structure shorter than its type (and presentation) bytes carries no digits.
    if (s && s->length > skip) {
        const uint8_t* digits = capiStructData(s) + skip;
        count = s->length - skip;
        if (count > size - 1) count = size - 1;
        for (unsigned i = 0; i < count; ++i) out[i] = static_cast<char>(digits[i]);
    }
    out[count] = '\0';
    return out;
}

char* CMessageCracker::getCalledPartyNumber(char* out, unsigned size) {
    return copyDigits(getCalledPartyNumber(), 1, out, size);
}
char* CMessageCracker::getCallingPartyNumber(char* out, unsigned size) {
    return copyDigits(getCallingPartyNumber(), 2, out, size);
}
char* CMessageCracker::getCalledPartySubAddress(char* out, unsigned size) {
    return copyDigits(getCalledPartySubAddress(), 1, out, size);
}
char* CMessageCracker::getCallingPartySubAddress(char* out, unsigned size) {
    return copyDigits(getCallingPartySubAddress(), 1, out, size);
}
char* CMessageCracker::getConnectedNumber(char* out, unsigned size) {
    return copyDigits(getConnectedNumber(), 2, out, size);
}
char* CMessageCracker::getConnectedSubAddress(char* out, unsigned size) {
    return copyDigits(getConnectedSubAddress(), 1, out, size);
}
