// The message tracer's lines, read back through debugCaptureOutput and compared from the text
// column: a table of messages over every command group, both revisions, the switches, the
// output classes, and messages that lie about their structures.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/capi_data_b3.h"
#include "common/capi_test_messages.h"
#include "common/capitrace.h"
#include "common/debug_capture_test.h"

namespace {

using capitest::Bytes;
using capitest::Msg;
using capitest::Number;

const std::string S8(8, ' ');
const std::string kModule = " msgcore: ";

class commonTrace : public commontest::DebugCapture {
protected:
    // The captured lines: trace lines from their text column, dump rows whole ("dump:" first).
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (const std::string& line : lines()) {
            if (line.compare(0, kModule.size(), kModule) == 0) out.push_back(commontest::TextOf(line));
            else out.push_back("dump:" + line.substr(0, line.size() - 2));
        }
        return out;
    }
};

// Traces from a heap block of exactly the message's bytes, so any overread is caught natively.
int TraceExact(CCapiMessageTrace& trace, const Bytes& b, size_t size = SIZE_MAX) {
    if (size > b.size()) size = b.size();
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), b.data(), size);
    return trace.traceMessageBytes(copy.get(), static_cast<unsigned>(size));
}

struct TraceCase {
    const char* what;
    CommonVariant variant;
    Bytes message;
    int result;
    std::vector<std::string> lines;
};

Bytes X25Ncpi() {
    // flags, group, channel; 3 remote and 2 local digits "123" "45"; facilities 42 0A; user data "abc".
    return {0x01, 0x02, 0x03, 0x23, 0x12, 0x34, 0x5F, 0x02, 0x42, 0x0A, 'a', 'b', 'c'};
}

const CommonVariant M = CommonVariant::msgcore;
const CommonVariant P = CommonVariant::portbridge;

TEST_F(commonTrace, LinesForEachCommandGroup) {
    const TraceCase cases[] = {
        {"ALERT_REQ", M, Msg(0x8001).U32(0x101).Struct({0, 2, '1', '2', 0, 0}).Build(), 1,
         {"[ 1:    1] AlertRequest", S8 + "  additional info: 00 02 31 32 00 00"}},
        {"CONNECT_REQ with V.110", M, capitest::ConnectReqV110(), 1,
         {"[ 1:    7] connectRequest controller 1, profile 2 <unrestricted digital information>",
          S8 + "  called party number <0301234>", S8 + "  calling party number <999>",
          S8 + "  called party subaddress <55>", S8 + "  B1 protocol <V 110 asynchron>",
          S8 + "   baud rate          9600", S8 + "   bits per character 8", S8 + "   parity             0",
          S8 + "   stopbits           1", S8 + "  B2 protocol <transparent>", S8 + "  B3 protocol <transparent>",
          S8 + "  bc: 88 90", S8 + "  llc: 88 90 21", S8 + "  hlc: 91 84", S8 + "  additional info: 00 02 31 32 00 00"}},
        {"DISCONNECT_REQ", M, Msg(0x8004).U32(0x10101).Empty().Build(), 1, {"[ 1:    1] disconnectRequest plci 00010101"}},
        {"LISTEN_REQ", M, Msg(0x8005, 12, 345).U32(1).U32(0x205).U32(0x1FFF03FF).U32(0).Struct(Number("555", true)).Empty().Build(), 1,
         {"[12:  345] listenRequest ctrl. 1 info 00000205h  cip 1FFF03FFh", S8 + "  calling party number <555>",
          S8 + " info cause", S8 + " info display", S8 + " info DATA_B3/inband info ...  "}},
        {"INFO_REQ with a number", M, Msg(0x8008).U32(0x101).Struct(Number("12")).Empty().Build(), 1,
         {"[ 1:    1] InfoRequest id 00000101, no <12>"}},
        {"INFO_REQ without", M, Msg(0x8008).U32(0x101).Empty().Empty().Build(), 1, {"[ 1:    1] InfoRequest id 00000101"}},
        {"FACILITY_REQ Hold", M, Msg(0x8080).U32(0x101).U16(3).Struct({2, 0, 0}).Build(), 1,
         {"[ 1:    1] FacilityRequest identifier 101, (2 Hold)"}},
        {"FACILITY_REQ other selector", M, Msg(0x8080).U32(0x101).U16(1).Empty().Build(), 1,
         {"[ 1:    1] FacilityRequest identifier 00000101 selector 1"}},
        {"DATA_B3_REQ", M, Msg(0x8086).U32(0x10101).U32(0).U16(10).U16(5).U16(4).Build(), 1,
         {"[ 1:    1] dataB3Request      ncci 00010101,no     5,len   10,4"}},
        {"RESET_B3_REQ", M, Msg(0x8087).U32(0x10101).Empty().Build(), 1, {"[ 1:    1] resetB3Request 00010101"}},
        {"CONNECT_B3_REQ with 3 NCPI bytes", M, Msg(0x8082).U32(0x101).Struct({1, 2, 3}).Build(), 1,
         {"[ 1:    1] connectB3Request plci 00000101, ncpi length 3", S8 + " flags=01 lg=02  lc=03"}},
        {"DISCONNECT_B3_REQ cause (NCPI at 12)", M, Msg(0x8084).U32(0x10101).Struct({0, 1, 7, 0x09, 0x41}).Build(), 1,
         {"[ 1:    1] disconnectB3Request ncci 00010101, ncpi length 5", S8 + "cause 09 diag 41"}},
        {"ALERT_CONF", M, Msg(0x8101).U32(0x101).U16(0).Build(), 1, {"[ 1:    1] AlertConfirmation"}},
        {"INFO_CONF", M, Msg(0x8108).U32(0x101).U16(0x2001).Build(), 1, {"[ 1:    1] InfoConfirmation info 2001"}},
        {"CONNECT_B3_CONF", M, Msg(0x8182).U32(0x10101).U16(0).Build(), 1,
         {"[ 1:    1] connectB3Confirmation ncci 00010101, info 0000h (ok)"}},
        {"DISCONNECT_B3_CONF", M, Msg(0x8184).U32(0x10101).U16(0x2002).Build(), 1,
         {"[ 1:    1] disconnectB3Confirmation ncci 00010101, info 2002h (illegal Controller / PLCI / NCCI)"}},
        {"RESET_B3_CONF", M, Msg(0x8187).U32(0x10101).U16(0).Build(), 1, {"[ 1:    1] resetB3Confirmation 00010101"}},
        {"CONNECT_CONF", M, Msg(0x8102).U32(0x101).U16(0).Build(), 1,
         {"[ 1:    1] connectConfirmation plci 00000101  info 0000 (ok)"}},
        {"DISCONNECT_CONF", M, Msg(0x8104).U32(0x101).U16(0x2002).Build(), 1,
         {"[ 1:    1] disconnectConfirmation plci 00000101  info 2002h (illegal Controller / PLCI / NCCI)"}},
        {"LISTEN_CONF", M, Msg(0x8105).U32(1).U16(0).Build(), 1, {"[ 1:    1] listenConfirmation ctrl. 1  0000h"}},
        {"FACILITY_CONF Hold", M, Msg(0x8180).U32(0x101).U16(0).U16(3).Struct({2, 0, 2, 0x0E, 0x30}).Build(), 1,
         {"[ 1:    1] FacilityConfirmation identifier 101, (2 Hold), info 0, suppInfo 300E"}},
        {"FACILITY_CONF other selector", M, Msg(0x8180).U32(0x101).U16(0x300B).U16(0).Empty().Build(), 1,
         {"[ 1:    1] FacilityConfirmation identifier 00000101,info 300B selector 0"}},
        {"DATA_B3_CONF", M, Msg(0x8186).U32(0x10101).U16(5).U16(0).Build(), 1,
         {"[ 1:    1] dataB3Confirmation ncci 00010101,no     5,info 0000h"}},
        {"CONNECT_IND with numbers", M, capitest::ConnectInd(), 1,
         {"[ 3:   42] connectIndication plci 00010101  cip 10h", S8 + "  <telephony>",
          S8 + "  called party number <5551234>", S8 + "  calling party number <123>",
          S8 + "  called party subaddress <77>", S8 + "  calling party subaddress <88>", S8 + "  bc: 80 90 A3",
          S8 + "  llc: 88 90", S8 + "  hlc: 91 81", S8 + "  additional info: 03 01 02 03 00 00 00"}},
        {"CONNECT_ACTIVE_IND", M, Msg(0x8203).U32(0x101).Struct(Number("42", true)).Empty().Struct({0x88}).Build(), 1,
         {"[ 1:    1] connectActiveIndication plci 00000101", S8 + "  connected number <42>", S8 + "  llc: 88"}},
        {"DISCONNECT_IND with a reason", M, Msg(0x8204).U32(0x101).U16(0x3490).Build(), 1,
         {"[ 1:    1] disconnectIndication plci 00000101  info 3490h", S8 + " <Normal call clearing>"}},
        {"DISCONNECT_IND without", M, Msg(0x8204).U32(0x101).U16(0).Build(), 1,
         {"[ 1:    1] disconnectIndication plci 00000101  info 0000h"}},
        {"INFO_IND net alerting", M, Msg(0x8208).U32(0x101).U16(0x8001).Empty().Build(), 1,
         {"[ 1:    1] InfoIndication 00000101  number 8001", S8 + "  net alerting"}},
        {"INFO_IND channel identification", M, Msg(0x8208).U32(0x101).U16(0x0018).Struct({0x89}).Build(), 1,
         {"[ 1:    1] InfoIndication 00000101  number 0018", S8 + "  channel identification : 89"}},
        {"INFO_IND in portbridge", P, Msg(0x8208).U32(0x101).U16(0x8001).Empty().Build(), 1,
         {"[ 1:    1] InfoIndication 00000101  number 8001"}},
        {"FACILITY_IND Retrieve", M, Msg(0x8280).U32(0x101).U16(3).Struct({3, 0, 2, 0x01, 0x36}).Build(), 1,
         {"[ 1:    1] FacilityIndication identifier 101, (3 Retrieve), reason 3601"}},
        {"CONNECT_B3_IND with X.25 NCPI", M, Msg(0x8282).U32(0x10101).Struct(X25Ncpi()).Build(), 1,
         {"[ 1:    1] connectB3Indication ncci 00010101, npci length 13", S8 + " flags=01 lg=02  lc=03",
          S8 + " local  address <45>", S8 + " remote address <123>", S8 + "facility: 42 0A",
          S8 + " user data length 3", "dump:61 62 63                                         - abc"}},
        {"CONNECT_B3_ACTIVE_IND with 3 NCPI bytes", M, Msg(0x8283).U32(0x10101).Struct({0, 1, 7}).Build(), 1,
         {"[ 1:    1] connectB3ActiveIndication ncci 00010101, ncpi length 3", S8 + " flags=00 lg=01  lc=07"}},
        {"DISCONNECT_B3_IND cause", M, Msg(0x8284).U32(0x10101).U16(0).Struct({0, 1, 7, 0x05, 0x41}).Build(), 1,
         {"[ 1:    1] disconnectB3Indication ncci 00010101, info 0000h, ncpi length 5", S8 + "cause 05 diag 41"}},
        {"DATA_B3_IND", M, Msg(0x8286).U32(0x10101).U32(0).U16(10).U16(5).U16(0).Build(), 1,
         {"[ 1:    1] dataB3Indication   ncci 00010101,no     5,len   10,0"}},
        {"RESET_B3_IND", M, Msg(0x8287).U32(0x10101).Empty().Build(), 1, {"[ 1:    1] resetB3Indication 00010101"}},
        {"CONNECT_B3_T90_ACTIVE_IND", M, Msg(0x8288).U32(0x10101).Empty().Build(), 1,
         {"[ 1:    1] connectB3T90ActiveIndication ncci 00010101, ncpi length 0"}},
        {"CONNECT_RESP with X.25", M,
         Msg(0x8302).U32(0x101).U16(0).Struct(capitest::BProtocol(0, 0, 3)).Struct(Number("7", true)).Empty().Empty().Empty().Build(), 1,
         {"[ 1:    1] connectResponse plci 00000101  reject 0000", S8 + "  B1 protocol <64k HDLC framing>",
          S8 + "  B2 protocol <ISO 7776/(X.75)>", S8 + "  B3 protocol <X25 DCE>", S8 + "  connected number <7>"}},
        {"CONNECT_RESP with a modem", M,
         Msg(0x8302).U32(0x101).U16(0).Struct(capitest::BProtocol(7, 7, 7)).Empty().Empty().Empty().Empty().Build(), 1,
         {"[ 1:    1] connectResponse plci 00000101  reject 0000", S8 + "  B1 protocol <modem, b2Protocol=7 required>",
          S8 + "  B2 protocol <modem (V.42bis, MNP 5 ..)>", S8 + "  B3 protocol <modem (add. info in NCPI ..)>"}},
        {"CONNECT_ACTIVE_RESP", M, Msg(0x8303).U32(0x101).Build(), 1, {"[ 1:    1] connectActiveResponse plci 00000101 "}},
        {"DISCONNECT_RESP", M, Msg(0x8304).U32(0x101).Build(), 1, {"[ 1:    1] disconnectResponse plci 00000101"}},
        {"INFO_RESP", M, Msg(0x8308).U32(0x101).Build(), 1, {"[ 1:    1] InfoResponse 00000101"}},
        {"CONNECT_B3_ACTIVE_RESP", M, Msg(0x8383).U32(0x10101).Build(), 1,
         {"[ 1:    1] connectB3ActiveResponse ncci 00010101 "}},
        {"DISCONNECT_B3_RESP", M, Msg(0x8384).U32(0x10101).Build(), 1, {"[ 1:    1] disconnectB3Response ncci 00010101"}},
        {"CONNECT_B3_T90_ACTIVE_RESP", M, Msg(0x8388).U32(0x10101).Build(), 1,
         {"[ 1:    1] ConnectB3T90ActiveResponse ncci 00010101"}},
        {"FACILITY_RESP", M, Msg(0x8380).U32(0x101).U16(3).Struct({4, 0, 0}).Build(), 1,
         {"[ 1:    1] FacilityResponse identifier 101, (4 Suspend)"}},
        {"CONNECT_B3_RESP", M, Msg(0x8382).U32(0x10101).U16(0).Empty().Build(), 1,
         {"[ 1:    1] connectB3Response ncci 00010101,reject 0000h,ncpi length 0"}},
        {"DATA_B3_RESP", M, Msg(0x8386).U32(0x10101).U16(9).Build(), 1,
         {"[ 1:    1] dataB3Response     ncci 00010101,no     9"}},
        {"RESET_B3_RESP", M, Msg(0x8387).U32(0x10101).Build(), 1, {"[ 1:    1] resetB3Response 00010101"}},
        {"RESET_B3_RESP in portbridge", P, Msg(0x8387).U32(0x10101).Build(), 1, {"[ 1:    1] resetB3Response00010101"}},
        {"MANUFACTURER_REQ of another maker", M, Msg(0x80FF).U32(1).U32(0x12345678).U16(0x2101).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 2101, mnfID 12345678"}},
        {"MANUFACTURER_CONF of another maker", M, Msg(0x81FF).U32(1).U32(0x12345678).U16(0x2101).U16(0x2002).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 2101, info 2002, ID 12345678"}},
        {"kolv assign", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32(2).U32(1).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "assign external device 2, full control for application"}},
        {"kolv attach", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(2).U32(3).U32(1).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "attach B-channel 1, device number 3"}},
        {"kolv free failed", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(1).U32(2).U16(0xE005).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info E005",
          "  " + S8 + "free device 2 failed, <Device not assigned>"}},
        {"kolv unknown function", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(9).U32(2).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info 0000", "  unknown external device function 9"}},
        {"MANUFACTURER_IND of another maker", M, Msg(0x82FF).U32(1).U32(0x12345678).U16(0x2101).U16(0x3001).Build(), 1,
         {"[ 1:    1] manufacturerIndication controller 1, code 2101, info 3001"}},
        {"MANUFACTURER_RESP of another maker", M, Msg(0x83FF).U32(1).U32(0x12345678).U16(0x2101).Build(), 1,
         {"[ 1:    1] manufacturerResponse controller 1, code 2101"}},
        {"kolv assign in standard mode", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32(2).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "assign external device 2, standard mode"}},
        {"kolv free", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(1).U32(2).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "free external device 2"}},
        {"kolv detach", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(3).U32(3).U32(2).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "detach B-channel 2, device number 3"}},
        {"kolv ring on", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(4).U32(2).U32(1).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "ring ON, device 2"}},
        {"kolv ring off", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(4).U32(2).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "ring OFF, device 2"}},
        {"kolv DTMF", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1008).U16(5).U32(2).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerRequest controller 1, code 1008", "  " + S8 + "generate DTMF"}},
        {"kolv assigned", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32(2).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info 0000", "  " + S8 + "assign device 2 successfully"}},
        {"kolv assign failed", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32(2).U16(0xE006).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info E006",
          "  " + S8 + "assign device 2 failed <Device is busy>"}},
        {"kolv freed", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(1).U32(2).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info 0000", "  " + S8 + "free device 2 successfully"}},
        {"kolv attached", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(2).U32(2).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info 0000",
          "  " + S8 + "attach B-channel for device 2 successfully"}},
        {"kolv attach failed", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(2).U32(2).U16(0xE003).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info E003",
          "  " + S8 + "attach B-channel for device 2 failed <Illegal B-channel>"}},
        {"kolv detached", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(3).U32(2).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info 0000",
          "  " + S8 + "detach B-channel or device 2 successfully"}},
        {"kolv detach failed", M, Msg(0x81FF).U32(1).Text("kolv").U16(0x1008).U16(3).U32(2).U16(0xE005).Build(), 1,
         {"[ 1:    1] manufacturerConfirmation controller 1, code 1008, info E005",
          "  " + S8 + "detach B-channel for device 2 failed <Device not assigned>"}},
        {"kolv digit", M, Msg(0x82FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32('7').Build(), 1,
         {"[ 1:    1] manufacturerIndication controller 1, external device control digit <7> 37h"}},
        // The digit is printed as a character: a digit 0 ends the line there.
        {"kolv digit 0", M, Msg(0x82FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32(0).Build(), 1,
         {"[ 1:    1] manufacturerIndication controller 1, external device control digit <"}},
        {"kolv response", M, Msg(0x83FF).U32(1).Text("kolv").U16(0x1008).U16(0).Build(), 1,
         {"[ 1:    1] manufacturerResponse controller 1, code 1008"}},
        {"kolv digit in portbridge", P, Msg(0x82FF).U32(1).Text("kolv").U16(0x1008).U16(0).U32('7').Build(), 1,
         {"[ 1:    1] manufacturerIndication controller 1, external device control digit 37"}},
        {"kolv other class request", M, Msg(0x80FF).U32(1).Text("kolv").U16(0x1007).Build(), 1, {}},
        {"kolv other class indication", M, Msg(0x82FF).U32(1).Text("kolv").U16(0x1007).Build(), 1,
         {"[ 1:    1] manufacturerIndication controller 1, code 1007"}},
        {"internal message", M, Msg(0xC0FF).U32(1).Text("kolv").U16(0x1007).Build(), 1, {}},
        {"unknown command", M, Msg(0x8099).U32(0x01020304).U32(0x05060708).U32(0x090A0B0C).Build(), 0,
         {" unknown CAPI command 8099 ", "dump:14 00 01 00 99 80 01 00 04 03 02 01 08 07 06 05  - ................",
          "dump:0C 0B 0A 09                                      - ...."}},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.what);
        lines().clear();
        CCapiMessageTrace trace(c.variant);
        EXPECT_EQ(TraceExact(trace, c.message), c.result);
        EXPECT_EQ(Texts(), c.lines);
    }
}

// Messages whose NCPI does not fit: the coding-error line and nothing read past the end.
TEST_F(commonTrace, BadNcpiCoding) {
    const Bytes overrunsMessage = Msg(0x8282).U32(0x10101).Raw({20, 1, 2, 3}).Build();
    const Bytes addressesOverrun = Msg(0x8282).U32(0x10101).Struct({1, 2, 3, 0x99, 0x12}).Build();
    const Bytes facilitiesOverrun = Msg(0x8282).U32(0x10101).Struct({1, 2, 3, 0x00, 9, 1}).Build();
    const Bytes shortCause = Msg(0x8284).U32(0x10101).U16(0).Struct({1, 2, 3}).Build();
    // Messages that end before the NCPI's length byte.
    const Bytes noNcpi = Msg(0x8282).U32(0x10101).Build();
    const Bytes noNcpiReq = Msg(0x8084).U32(0x10101).Build();
    const Bytes noNcpiAfterInfo = Msg(0x8284).U32(0x10101).U16(0x3301).Build();
    const Bytes noNcpiAfterReject = Msg(0x8382).U32(0x10101).U16(0).Build();
    struct Case {
        CommonVariant variant;
        const Bytes* message;
        std::string expected;
    } cases[] = {
        {M, &overrunsMessage, "bad NCPI coding for ncpi length 20 and message length 16, expected 13"},
        {P, &overrunsMessage, "bad NCPI coding for ncpi length 20 and message length 16"},
        {M, &addressesOverrun, "bad NCPI coding for ncpi length 5 and message length 18, expected 13"},
        {M, &facilitiesOverrun, "bad NCPI coding for ncpi length 6 and message length 19, expected 13"},
        {M, &shortCause, "bad NCPI coding for ncpi length 3 and message length 18, expected 15"},
        {M, &noNcpi, "bad NCPI coding for ncpi length 0 and message length 12, expected 13"},
        {P, &noNcpi, "bad NCPI coding for ncpi length 0 and message length 12"},
        {M, &noNcpiReq, "bad NCPI coding for ncpi length 0 and message length 12, expected 13"},
        {M, &noNcpiAfterInfo, "bad NCPI coding for ncpi length 0 and message length 14, expected 15"},
        {M, &noNcpiAfterReject, "bad NCPI coding for ncpi length 0 and message length 14, expected 15"},
    };
    for (const Case& c : cases) {
        lines().clear();
        CCapiMessageTrace trace(c.variant);
        EXPECT_EQ(TraceExact(trace, *c.message), 1);
        std::vector<std::string> texts = Texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), c.expected);
        // Only the main line (and for the address case the flags line) comes before it.
        EXPECT_LE(texts.size(), 3u);
    }
}

TEST_F(commonTrace, LyingAndTruncatedMessagesGiveEmptyResultsAndOneDump) {
    Bytes lying = capitest::ConnectInd();
    lying[14 + 9] = 200;  // the calling number claims more than the message holds
    CCapiMessageTrace trace;
    EXPECT_EQ(TraceExact(trace, lying), 1);
    std::vector<std::string> texts = Texts();
    const size_t dumpRows = (lying.size() + 15) / 16;
    ASSERT_EQ(texts.size(), 3u + dumpRows);
    EXPECT_EQ(texts[0], "[ 3:   42] connectIndication plci 00010101  cip 10h");
    EXPECT_EQ(texts[2], S8 + "  called party number <5551234>");
    for (size_t i = 3; i < texts.size(); ++i) EXPECT_EQ(texts[i].substr(0, 5), "dump:");

    // Cut inside the header: the command is unknown, its dump holds only what was received.
    lines().clear();
    EXPECT_EQ(TraceExact(trace, capitest::ConnectInd(), 6), 0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{" unknown CAPI command 0000 ", "dump:37 00 03 00 02 82                                - 7....."}));

    // Fixed fields past the end read as 0.
    lines().clear();
    EXPECT_EQ(TraceExact(trace, Msg(0x8204).U32(0x101).U16(0x3490).Build(), 11), 1);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"[ 1:    1] disconnectIndication plci 00000000  info 0000h"}));
}

// The output procedure gets each line with its class word.
std::vector<std::pair<uint32_t, std::string>> g_classed;
void Classed(uint32_t traceClass, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_classed.emplace_back(traceClass, text);
}

TEST_F(commonTrace, ClassWordsAndOutputProcedure) {
    CCapiMessageTrace trace;
    g_classed.clear();
    const Bytes req = capitest::ConnectReqV110();
    EXPECT_EQ(trace.traceMessage(capitest::AsMsg(req), Classed), 1);
    ASSERT_EQ(g_classed.size(), 15u);
    EXPECT_EQ(g_classed[0].first, 0xA5u);
    EXPECT_EQ(g_classed[1].first, 0x10001A5u);
    EXPECT_EQ(g_classed[5].first, 0x10002A5u);  // baud rate
    EXPECT_EQ(g_classed[5].second, S8 + "   baud rate          9600");
    EXPECT_EQ(g_classed[14].first, 0x10001A5u);  // additional info

    g_classed.clear();
    const Bytes data = Msg(0x8286).U32(0x10101).U32(0).U16(10).U16(5).U16(0).Build();
    trace.traceMessage(capitest::AsMsg(data));
    const Bytes bad = Msg(0x8282).U32(0x10101).Raw({20, 1, 2, 3}).Build();
    trace.traceMessage(capitest::AsMsg(bad));
    ASSERT_EQ(g_classed.size(), 3u);
    EXPECT_EQ(g_classed[0].first, 0x10004A5u);
    EXPECT_EQ(g_classed[2].first, 0x08000000u);

    // A '%' among the digits stays text.
    g_classed.clear();
    const Bytes percent = Msg(0x8008).U32(0x101).Struct(Number("%s%n")).Empty().Build();
    trace.traceMessage(capitest::AsMsg(percent));
    ASSERT_EQ(g_classed.size(), 1u);
    EXPECT_EQ(g_classed[0].second, "[ 1:    1] InfoRequest id 00000101, no <%s%n>");

    // Null goes back to debugPrint.
    trace.setOutputProc(nullptr);
    lines().clear();
    trace.traceMessage(capitest::AsMsg(percent));
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_EQ(g_classed.size(), 1u);
}

struct Payload {
    int calls = 0;
    const void* data = nullptr;
    unsigned length = 0;
};
void Handler(void* context, const void* data, unsigned length) {
    Payload* p = static_cast<Payload*>(context);
    ++p->calls;
    p->data = data;
    p->length = length;
}

// The payload named as this platform names it: Data on a 32-bit build, Data64 on a 64-bit one.
Bytes DataB3(uint16_t command, const void* payload, uint16_t length) {
    Bytes m = Msg(command).U32(0x10101).U32(0).U16(length).U16(5).U16(0).Build();
    m.resize(capib3::kLength64);
    m.resize(capib3::name(m.data(), m.size(), capib3::kLength, capib3::addressOf(payload), capib3::kWideAddresses));
    return m;
}

TEST_F(commonTrace, B3SwitchesDumpsAndHandler) {
    static const char kPayload[] = "0123456789ABCDEFGHIJ";
    const Bytes ind = DataB3(0x8286, kPayload, 20);
    const Bytes req = DataB3(0x8086, kPayload, 20);

    CCapiMessageTrace trace;
    trace.enableB3MessageTrace(0);
    trace.traceMessage(capitest::AsMsg(ind));
    EXPECT_TRUE(lines().empty()) << "B3 trace off, no handler, no dump: no line";

    // The payload dump, at most the limit, only for the direction switched on.
    trace.enableB3DataDump(0, 1, 4);
    trace.traceMessage(capitest::AsMsg(req));
    EXPECT_TRUE(lines().empty());
    trace.traceMessage(capitest::AsMsg(ind));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"dump:30 31 32 33                                      - 0123"}));

    // A handler takes the payload instead of the dump.
    lines().clear();
    Payload seen;
    trace.installDataTraceHandler(Handler, &seen);
    trace.traceMessage(capitest::AsMsg(ind));
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.length, 20u);
    EXPECT_EQ(seen.data, static_cast<const void*>(kPayload));

    // The message dump comes first, at most 1024 bytes.
    lines().clear();
    trace.installDataTraceHandler(nullptr, nullptr);
    trace.enableB3DataDump(0, 0, 16);
    trace.enableMessageDump(1);
    const Bytes reset = Msg(0x8087).U32(0x10101).Build();
    trace.traceMessage(capitest::AsMsg(reset));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"dump:0C 00 01 00 87 80 01 00 01 01 01 00              - ............",
                                                 "[ 1:    1] resetB3Request 00010101"}));

    // portbridge's revision has no switches: DATA_B3 lines always, no dumps.
    lines().clear();
    CCapiMessageTrace pb(CommonVariant::portbridge);
    pb.enableB3MessageTrace(0);
    pb.enableMessageDump(1);
    pb.enableB3DataDump(1, 1, 16);
    pb.traceMessage(capitest::AsMsg(ind));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"[ 1:    1] dataB3Indication   ncci 00010101,no     5,len   20,0"}));
}

TEST_F(commonTrace, NameTablesAtTheirEnds) {
    struct Case {
        const char* got;
        const char* expected;
    } cases[] = {
        {CCapiMessageTrace::getInfoString(0x0000), "ok"},
        {CCapiMessageTrace::getInfoString(0x1006), "Reserved"},
        {CCapiMessageTrace::getInfoString(0x3490), "Normal call clearing"},
        {CCapiMessageTrace::getInfoString(0x34FF), "Interworking, unspecified"},
        {CCapiMessageTrace::getInfoString(0xE000), "Illegal device number"},
        {CCapiMessageTrace::getInfoString(0xE007), "Illegal mode"},
        {CCapiMessageTrace::getInfoString(0xE008), "No info"},
        {CCapiMessageTrace::getInfoString(0x3484), "No info"},
        {CCapiMessageTrace::getInfoString(0xFFFF), "No info"},
        {CCapiMessageTrace::getB1ProtocolString(9), "modem, sync, HDLC framing"},
        {CCapiMessageTrace::getB1ProtocolString(10), "unknown"},
        {CCapiMessageTrace::getB2ProtocolString(12), "LAPD with SAPI selection"},
        {CCapiMessageTrace::getB2ProtocolString(13), "unknown"},
        {CCapiMessageTrace::getB3ProtocolString(3), "X25 DCE"},
        {CCapiMessageTrace::getB3ProtocolString(7), "modem (add. info in NCPI ..)"},
        {CCapiMessageTrace::getB3ProtocolString(8), "unknown"},
        {CCapiMessageTrace::getCipString(10), "reserved"},
        {CCapiMessageTrace::getCipString(15), "reserved"},
        {CCapiMessageTrace::getCipString(16), "telephony"},
        {CCapiMessageTrace::getCipString(28), "video telephony second connection"},
        {CCapiMessageTrace::getCipString(29), "unknown"},
        {CCapiMessageTrace::getSuppServiceString(14), "MCID"},
        {CCapiMessageTrace::getSuppServiceString(15), "unknown supp function"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.got, c.expected);
    // Codes that share their texts.
    EXPECT_STREQ(CCapiMessageTrace::getInfoString(0x1009), CCapiMessageTrace::getInfoString(0x1109));
    EXPECT_STREQ(CCapiMessageTrace::getInfoString(0x100B), CCapiMessageTrace::getInfoString(0x110B));
}

}  // namespace
