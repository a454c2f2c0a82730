// The message cracker over messages of each command group: where each structure is found, the
// digit strings, and messages whose structures do not fit (never a read past the end: the
// messages live in heap blocks of exactly their size, so the native build's AddressSanitizer
// sees any overread).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "common/capi_test_messages.h"
#include "common/cracker.h"
#include "common/debug_capture_test.h"

namespace {

using capitest::Bytes;
using capitest::Msg;
using capitest::Number;

class commonCracker : public commontest::DebugCapture {};

// A heap copy of exactly the message's bytes (or fewer).
struct Exact {
    explicit Exact(const Bytes& b, size_t size = SIZE_MAX) : size(size < b.size() ? size : b.size()) {
        data.reset(new uint8_t[this->size ? this->size : 1]);
        if (this->size) std::memcpy(data.get(), b.data(), this->size);
    }
    const tagAPIMsg* msg() const { return reinterpret_cast<const tagAPIMsg*>(data.get()); }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

// The contents of a structure as bytes, or "none" / "empty".
std::string Contents(const tagCapiStruct* s) {
    if (!s) return "none";
    if (s->length == 0) return "empty";
    std::string out;
    const uint8_t* d = capiStructData(s);
    for (unsigned i = 0; i < s->length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", d[i]);
        out += hex;
    }
    return out;
}

using Getter = std::function<const tagCapiStruct*(CMessageCracker&)>;
#define GETTER(name) Getter([](CMessageCracker& c) -> const tagCapiStruct* { return c.name(); })

struct PlaceCase {
    const char* what;
    Bytes message;
    Getter getter;
    std::string expected;
};

TEST_F(commonCracker, EachStructureWhereItsCommandKeepsIt) {
    const Bytes connectInd = capitest::ConnectInd();
    const Bytes connectReq = capitest::ConnectReqV110();
    const Bytes connectActive =
        Msg(kCapiConnectActiveInd).U32(0x101).Struct(Number("42", true)).Struct(Number("9")).Struct({0x88}).Build();
    const Bytes connectResp = Msg(kCapiConnectResp)
                                  .U32(0x101)
                                  .U16(0)
                                  .Struct(capitest::BProtocol(0, 0, 3))
                                  .Struct(Number("11", true))
                                  .Struct(Number("22"))
                                  .Struct({0x99})
                                  .Struct({4, 0xAA, 0xBB, 0xCC, 0xDD, 1, 0x31, 0, 2, 0x0A, 0x0B})
                                  .Build();
    const Bytes listen = Msg(kCapiListenReq).U32(1).U32(0x3FF).U32(0x1FFF03FF).U32(0).Struct(Number("555", true)).Struct(Number("6")).Build();
    const Bytes infoReq = Msg(kCapiInfoReq).U32(0x101).Struct(Number("1")).Struct({0, 0, 0, 1, 0x55}).Build();
    const Bytes alert = Msg(kCapiAlertReq).U32(0x101).Struct({0, 2, 0x31, 0x32, 0, 0}).Build();
    const Bytes disconnect = Msg(kCapiDisconnectReq).U32(0x101).Struct({0, 0, 0, 0}).Build();
    const Bytes select = Msg(kCapiSelectBProtocolReq).U32(0x101).Struct(capitest::BProtocol(1, 1, 0, {}, {3, 4})).Build();
    const Bytes dataInd = Msg(kCapiDataB3Ind).U32(0x10101).U32(0).U16(0).U16(1).U16(0).Build();

    const PlaceCase cases[] = {
        {"CONNECT_IND called number", connectInd, GETTER(getCalledPartyNumber), "81 35 35 35 31 32 33 34"},
        {"CONNECT_IND calling number", connectInd, GETTER(getCallingPartyNumber), "81 80 31 32 33"},
        {"CONNECT_IND called subaddress", connectInd, GETTER(getCalledPartySubAddress), "81 37 37"},
        {"CONNECT_IND calling subaddress", connectInd, GETTER(getCallingPartySubAddress), "81 38 38"},
        {"CONNECT_IND has no B protocol", connectInd, GETTER(getBProtocol), "empty"},
        {"CONNECT_IND BC", connectInd, GETTER(getBearerCapability), "80 90 A3"},
        {"CONNECT_IND LLC", connectInd, GETTER(getLowLayerCompatibility), "88 90"},
        {"CONNECT_IND HLC", connectInd, GETTER(getHighLayerCompatibility), "91 81"},
        {"CONNECT_IND additional info", connectInd, GETTER(getAdditionalInfo), "03 01 02 03 00 00 00"},
        {"CONNECT_IND B channel info", connectInd, GETTER(getBChannelInformation), "01 02 03"},
        {"CONNECT_IND keypad (empty)", connectInd, GETTER(getKeyPadFacility), "empty"},
        {"CONNECT_IND has no connected number", connectInd, GETTER(getConnectedNumber), "empty"},
        {"CONNECT_REQ B protocol", connectReq, GETTER(getBProtocol),
         "02 00 01 00 00 00 08 80 25 08 00 00 00 01 00 00 00"},
        {"CONNECT_REQ B1 configuration", connectReq, GETTER(getB1Configuration), "80 25 08 00 00 00 01 00"},
        {"CONNECT_REQ B2 configuration", connectReq, GETTER(getB2Configuration), "empty"},
        {"CONNECT_REQ called number", connectReq, GETTER(getCalledPartyNumber), "81 30 33 30 31 32 33 34"},
        {"CONNECT_REQ calling number", connectReq, GETTER(getCallingPartyNumber), "81 80 39 39 39"},
        {"CONNECT_REQ called subaddress", connectReq, GETTER(getCalledPartySubAddress), "81 35 35"},
        {"CONNECT_REQ calling subaddress", connectReq, GETTER(getCallingPartySubAddress), "81 36 36"},
        {"CONNECT_REQ BC", connectReq, GETTER(getBearerCapability), "88 90"},
        {"CONNECT_REQ LLC", connectReq, GETTER(getLowLayerCompatibility), "88 90 21"},
        {"CONNECT_REQ HLC", connectReq, GETTER(getHighLayerCompatibility), "91 84"},
        {"CONNECT_REQ additional info (9th)", connectReq, GETTER(getAdditionalInfo), "00 02 31 32 00 00"},
        {"CONNECT_REQ keypad", connectReq, GETTER(getKeyPadFacility), "31 32"},
        {"CONNECT_ACTIVE_IND connected number", connectActive, GETTER(getConnectedNumber), "81 80 34 32"},
        {"CONNECT_ACTIVE_IND connected subaddress", connectActive, GETTER(getConnectedSubAddress), "81 39"},
        {"CONNECT_ACTIVE_IND LLC", connectActive, GETTER(getLowLayerCompatibility), "88"},
        {"CONNECT_RESP B protocol", connectResp, GETTER(getBProtocol), "00 00 00 00 03 00 00 00 00"},
        {"CONNECT_RESP B3 configuration", connectResp, GETTER(getB3Configuration), "empty"},
        {"CONNECT_RESP connected number", connectResp, GETTER(getConnectedNumber), "81 80 31 31"},
        {"CONNECT_RESP connected subaddress", connectResp, GETTER(getConnectedSubAddress), "81 32 32"},
        {"CONNECT_RESP LLC", connectResp, GETTER(getLowLayerCompatibility), "99"},
        {"CONNECT_RESP keypad", connectResp, GETTER(getKeyPadFacility), "31"},
        {"CONNECT_RESP user-user data (empty)", connectResp, GETTER(getUserToUserData), "empty"},
        {"CONNECT_RESP facility data array", connectResp, GETTER(getFacilityDataArray), "0A 0B"},
        {"LISTEN_REQ calling number", listen, GETTER(getCallingPartyNumber), "81 80 35 35 35"},
        {"LISTEN_REQ calling subaddress", listen, GETTER(getCallingPartySubAddress), "81 36"},
        {"INFO_REQ called number", infoReq, GETTER(getCalledPartyNumber), "81 31"},
        {"INFO_REQ additional info", infoReq, GETTER(getAdditionalInfo), "00 00 00 01 55"},
        {"INFO_REQ facility data array", infoReq, GETTER(getFacilityDataArray), "55"},
        {"ALERT_REQ keypad", alert, GETTER(getKeyPadFacility), "31 32"},
        {"DISCONNECT_REQ additional info", disconnect, GETTER(getAdditionalInfo), "00 00 00 00"},
        {"SELECT_B_PROTOCOL_REQ B2 configuration", select, GETTER(getB2Configuration), "03 04"},
        {"DATA_B3_IND has no called number", dataInd, GETTER(getCalledPartyNumber), "empty"},
        {"DATA_B3_IND has no additional info", dataInd, GETTER(getFacilityDataArray), "empty"},
    };
    for (const PlaceCase& c : cases) {
        Exact m(c.message);
        CMessageCracker cracker(m.msg());
        EXPECT_EQ(Contents(c.getter(cracker)), c.expected) << c.what;
    }
    EXPECT_TRUE(lines().empty()) << "no dump for well-formed messages";
}

TEST_F(commonCracker, DigitStringsFitTheCallersBuffer) {
    Exact m(capitest::ConnectInd());
    CMessageCracker c(m.msg());
    char out[32];
    EXPECT_STREQ(c.getCalledPartyNumber(out, sizeof out), "5551234");
    EXPECT_STREQ(c.getCallingPartyNumber(out, sizeof out), "123");
    EXPECT_STREQ(c.getCalledPartySubAddress(out, sizeof out), "77");
    EXPECT_STREQ(c.getCallingPartySubAddress(out, sizeof out), "88");
    EXPECT_STREQ(c.getConnectedNumber(out, sizeof out), "");

    // Cut to the size given, always terminated.
    char small[4];
    std::memset(small, 'X', sizeof small);
    EXPECT_STREQ(c.getCalledPartyNumber(small, sizeof small), "555");
    EXPECT_STREQ(c.getCalledPartyNumber(small, 1), "");
    small[0] = 'X';
    c.getCalledPartyNumber(small, 0);
    EXPECT_EQ(small[0], 'X');

    // A number shorter than its type and presentation bytes has no digits.
    Exact shortNumber(Msg(kCapiConnectInd).U32(1).U16(1).Struct({}).Struct({0x81}).Empty().Empty().Empty().Empty()
                          .Empty().Empty().Build());
    c.init(shortNumber.msg());
    std::memset(out, 'X', sizeof out);
    EXPECT_STREQ(c.getCallingPartyNumber(out, sizeof out), "");
    EXPECT_STREQ(c.getCalledPartyNumber(out, sizeof out), "");
    EXPECT_TRUE(lines().empty());
}

TEST_F(commonCracker, LlcCopyAndTheEscapedLength) {
    Exact m(capitest::ConnectInd());
    CMessageCracker c(m.msg());
    uint8_t llc[8];
    EXPECT_EQ(c.getLowLayerCompatibility(llc, sizeof llc), 3u);
    EXPECT_EQ(llc[0], 2);
    EXPECT_EQ(llc[2], 0x90);
    // Too small for it: an empty structure instead of a cut one.
    EXPECT_EQ(c.getLowLayerCompatibility(llc, 2), 1u);
    EXPECT_EQ(llc[0], 0);

    // 0xFF announces a 16-bit length: the structure reads as empty and is stepped over whole.
    Exact escaped(Msg(kCapiConnectInd).U32(1).U16(1).Raw({0xFF, 2, 0, 0x31, 0x32}).Struct(Number("9", true)).Build());
    c.init(escaped.msg());
    EXPECT_EQ(Contents(c.getCalledPartyNumber()), "empty");
    char out[8];
    EXPECT_STREQ(c.getCallingPartyNumber(out, sizeof out), "9");

    // A B protocol that ends before its configurations has none.
    Exact shortB(Msg(kCapiSelectBProtocolReq).U32(1).Struct({2, 0, 1, 0}).Build());
    c.init(shortB.msg());
    EXPECT_EQ(Contents(c.getB1Configuration()), "empty");
    EXPECT_EQ(Contents(c.getB3Configuration()), "empty");
    EXPECT_TRUE(lines().empty());
}

// Messages whose structures do not fit: what is found before the fault is kept, the structure at
// the fault and everything after it is none, and the message is dumped once.
struct BrokenCase {
    const char* what;
    Bytes message;
    size_t available;  // bytes the cracker is given (SIZE_MAX: all)
    std::string called;
    std::string calling;
    std::string additional;
    std::string callingSub;  // the string form
};

TEST_F(commonCracker, TruncatedAndLyingMessagesGiveNoneAndOneDump) {
    const Bytes good = capitest::ConnectInd();
    Bytes lyingCalling = good;
    lyingCalling[14 + 9] = 200;  // the calling number claims more than the message holds
    Bytes lyingFirst = good;
    lyingFirst[14] = 250;  // so does the very first structure
    const Bytes claimsMore = Msg(kCapiConnectInd).U32(1).U16(1).Struct(Number("1")).Build(200);

    const BrokenCase cases[] = {
        {"calling number overruns", lyingCalling, SIZE_MAX, "81 35 35 35 31 32 33 34", "none", "none", ""},
        {"first structure overruns", lyingFirst, SIZE_MAX, "none", "none", "none", ""},
        {"received bytes end inside the additional info", good, 50, "81 35 35 35 31 32 33 34", "81 80 31 32 33",
         "none", "88"},
        {"header only", good, 8, "none", "none", "none", ""},
        {"length field claims more than was received", claimsMore, SIZE_MAX, "81 31", "none", "none", ""},
    };
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.what);
        lines().clear();
        Exact m(c.message, c.available);
        CMessageCracker cracker;
        cracker.init(m.msg(), static_cast<unsigned>(m.size));
        EXPECT_EQ(Contents(cracker.getCalledPartyNumber()), c.called);
        EXPECT_EQ(Contents(cracker.getCallingPartyNumber()), c.calling);
        EXPECT_EQ(Contents(cracker.getAdditionalInfo()), c.additional);
        EXPECT_EQ(Contents(cracker.getB1Configuration()), "empty");  // CONNECT_IND has no B protocol
        char out[16] = "X";
        EXPECT_EQ(std::string(cracker.getCallingPartySubAddress(out, sizeof out)), c.callingSub);
        const size_t rows = (cracker.bound() + 15) / 16;
        EXPECT_EQ(lines().size(), rows) << "one dump of the readable bytes";
    }
}

}  // namespace
