// CMessageCracker: finds the length-prefixed structures of one CAPI 2.0 message (common/capimsg.h)
// in place, by command word, and copies the party numbers' digits into C strings.
//
//   CMessageCracker c(msg);                       // bounded by the message's length field
//   c.init(msg, bytesReceived);                   // or by what the caller holds, if less
//   const tagCalledPartyNumber* n = c.getCalledPartyNumber();
//   char digits[32]; c.getCallingPartyNumber(digits, sizeof digits);
//
// Structure getters return the structure inside the message, a shared empty structure (a single
// 0) when the command has no such field, or nullptr when a structure on the way, or the one asked
// for, does not lie inside the message; then the message is hex-dumped once (debugHexDump) and
// the string getters give "". A structure whose length byte is 0xFF (the 16-bit escape) reads as
// empty. String getters always terminate within the size given.
#pragma once

#include <cstdint>

#include "common/capimsg.h"
#include "common/common_api.h"
#include "common/tobject.h"

class COMMON_API CMessageCracker : public CDoubleListNode {
public:
    CMessageCracker();
    explicit CMessageCracker(const tagAPIMsg* message);
    CMessageCracker(const CMessageCracker& other) = default;
    CMessageCracker& operator=(const CMessageCracker& other) = default;
    ~CMessageCracker() override;

    virtual const tagCalledPartyNumber* getCalledPartyNumber();
    virtual char* getCalledPartyNumber(char* out, unsigned size);
    virtual const tagCallingPartyNumber* getCallingPartyNumber();
    virtual char* getCallingPartyNumber(char* out, unsigned size);
    virtual const tagCalledPartySubaddress* getCalledPartySubAddress();
    virtual char* getCalledPartySubAddress(char* out, unsigned size);
    virtual const tagCallingPartySubaddress* getCallingPartySubAddress();
    virtual char* getCallingPartySubAddress(char* out, unsigned size);
    virtual char* getConnectedNumber(char* out, unsigned size);
    virtual char* getConnectedSubAddress(char* out, unsigned size);

    // Attaches another message, bounded by its length field (at least its 8-byte header must be
    // readable), or by `available` bytes when that is less.
    void init(const tagAPIMsg* message);
    void init(const tagAPIMsg* message, unsigned available);

    const tagAPIMsg* message() const { return message_; }
    // The bytes the getters may read: min(length field, available).
    unsigned bound() const { return bound_; }
    // The command word, 0 when the header is not inside the bound.
    uint16_t commandWord() const;

    const tagBProtocol* getBProtocol();
    const tagB1Configuration* getB1Configuration();
    const tagB2Configuration* getB2Configuration();
    const tagB3Configuration* getB3Configuration();
    const tagBearerCapability* getBearerCapability();
    const tagLowLayerCompatibility* getLowLayerCompatibility();
    // Copies the LLC structure with its length byte into `out`; a single 0 when there is none or
    // it does not fit. Returns the bytes written (0 only when size is 0).
    unsigned getLowLayerCompatibility(uint8_t* out, unsigned size);
    const tagHighLayerCompatibility* getHighLayerCompatibility();
    const tagAdditionalInfo* getAdditionalInfo();
    const tagConnectedNumber* getConnectedNumber();
    const tagConnectedSubaddress* getConnectedSubAddress();
    const tagBChannelInformation* getBChannelInformation();
    const tagKeypadFacility* getKeyPadFacility();
    const tagUserUserData* getUserToUserData();
    const tagFacilityDataArray* getFacilityDataArray();

    // The n-th structure (1 = the one at `start`) from message offset `start`.
    const tagCapiStruct* getStructure(unsigned start, int n);
    // The n-th structure inside `parent` from its offset `start` (1 = just after the length
    // byte). Empty when the parent is empty or ends before it; nullptr when parent is nullptr or
    // a structure overruns the parent.
    const tagCapiStruct* getSubStructure(const tagCapiStruct* parent, unsigned start, int n);

    // The shared empty structure.
    static const tagCapiStruct* empty();

private:
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(message_); }
    void fail();
    // Copies `skip`-byte-headed digits of `s` into out.
    static char* copyDigits(const tagCapiStruct* s, unsigned skip, char* out, unsigned size);

    const tagAPIMsg* message_ = nullptr;
    unsigned bound_ = 0;
    bool dumped_ = false;  // one dump per attached message
};
