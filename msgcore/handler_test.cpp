// The connection handler on a port that records what it sends: the state table, the messages it
// builds, and the checks on what it receives. No Windows header: also runs natively.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "msgcore/message_handler.h"
#include "msgcore/offline_port.h"
#include "msgcore/x25_ncpi.h"
#include "standins/capi2032/capi_wire.h"

namespace {

using capiwire::Builder;
using capiwire::Bytes;
namespace cw = capiwire;

constexpr uint32_t kPlci = 0x0101, kNcci = 0x00010101;

class RecordingPort : public COfflineCapiPort {
public:
    RecordingPort() : COfflineCapiPort(7) {}
    std::vector<Bytes> sent;
    uint16_t refuse = 0;  // what putMessage answers for the next message (not recorded then)
    uint16_t putMessage(tagAPIMsg* m) override {
        if (uint16_t rc = refuse) {
            refuse = 0;
            return rc;
        }
        const uint8_t* p = reinterpret_cast<const uint8_t*>(m);
        sent.emplace_back(p, p + cw::Get16(p));
        return 0;
    }
    std::vector<uint16_t> words() const {
        std::vector<uint16_t> w;
        for (const Bytes& b : sent) w.push_back(uint16_t(b[4] | (b[5] << 8)));
        return w;
    }
};

struct Event {
    uint32_t event;
    uintptr_t p1, p2;
    std::string text;
};

class TestHandler : public CCapiMessageHandler {
public:
    void force(TConnectionState s, uint32_t plci, uint32_t ncci, uint16_t b3Mode, uint32_t listenFlag) {
        state_ = s;
        plci_ = plci;
        ncci_ = ncci;
        b3Mode_ = b3Mode;
        listenFlag_ = listenFlag;
    }
    void expectConf(uint16_t number) { connectReqNumber_ = number; }
    std::vector<Event> events;
    uintptr_t incomingAnswer = 1;
    uintptr_t dataAnswer = 1;
};

uintptr_t MSGCORE_STDCALL Owner(void* instance, uint32_t event, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t,
                                uintptr_t) {
    TestHandler* h = static_cast<TestHandler*>(instance);
    if (event == ieMessageTrace) return 0;
    Event e{event, p1, p2, ""};
    if (event == ieIncomingCall) e.text = std::string(reinterpret_cast<const char*>(p1)) + "|" +
                                          reinterpret_cast<const char*>(p2);
    h->events.push_back(e);
    if (event == ieIncomingCall) return h->incomingAnswer;
    if (event == ieB3Receive) return h->dataAnswer;
    return 0;
}

struct Fixture {
    RecordingPort port;
    TestHandler h;
    Fixture() {
        EXPECT_EQ(h.init(&port, 1, 2048), 0);
        h.registerOwnerInstance(&h, Owner);
    }
    ~Fixture() { h.shutDown(); }
    int offer(const Bytes& m) { return port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(const_cast<uint8_t*>(m.data()))); }
    std::vector<uint32_t> eventIds() const {
        std::vector<uint32_t> v;
        for (const Event& e : h.events) v.push_back(e.event);
        return v;
    }
};

Bytes Ind(uint8_t command, uint16_t number, std::function<void(Builder&)> params) {
    Builder b(7, command, cw::kInd, number);
    params(b);
    return b.Done();
}
Bytes Conf(uint8_t command, uint16_t number, std::function<void(Builder&)> params) {
    Builder b(7, command, cw::kConf, number);
    params(b);
    return b.Done();
}

Bytes ConnectInd(uint32_t plci, const std::string& called, const std::string& calling, bool waiting = false) {
    return Ind(cw::kConnect, 0x4001, [&](Builder& b) {
        b.U32(plci).U16(16).Number(0x80, called).Number(0x00, 0x80, calling).Empty().Empty().Empty().Empty().Empty();
        // Additional info: B channel information (channel 2, no B channel), keypad, user data, facility.
        if (waiting) b.Struct({0x02, 0x02, 0x00, 0x00, 0x00, 0x00});
        else b.Empty();
    });
}

// --- the state table ----------------------------------------------------------------------------------

struct Row {
    const char* what;
    TConnectionState from;
    uint32_t plci, ncci;
    uint16_t b3Mode;
    uint32_t listenFlag;
    std::function<void(Fixture&)> stimulus;
    TConnectionState to;
    std::vector<uint16_t> messages;  // command words sent, in order
    std::vector<uint32_t> events;    // owner events, trace excluded
};


const std::vector<Row>& Table() {
    static const std::vector<Row> rows = {
        // requests
        {"call in idle", csIdle, 0, 0, 0, 0, [](Fixture& f) { f.h.call("1", nullptr, 1); }, csOutgoingCall, {0x8002}, {}},
        {"call when connected", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { EXPECT_EQ(f.h.call("1", nullptr, 1), 1); }, csConnected, {}, {}},
        {"call while listening cancels the listen first", csListening, 0, 0, 1, 1,
         [](Fixture& f) { f.h.call("1", nullptr, 1); }, csOutgoingCall, {0x8005, 0x8002}, {}},
        {"listen in idle", csIdle, 0, 0, 0, 0, [](Fixture& f) { f.h.listen(1); }, csListenRequested, {0x8005}, {}},
        {"listen while listening", csListening, 0, 0, 1, 1, [](Fixture& f) { EXPECT_EQ(f.h.listen(1), 0); },
         csListening, {}, {}},
        {"listen when connected", csConnected, kPlci, kNcci, 1, 0, [](Fixture& f) { EXPECT_EQ(f.h.listen(1), 1); },
         csConnected, {}, {}},
        {"cancel listen", csListening, 0, 0, 1, 1, [](Fixture& f) { f.h.cancelListen(); }, csCancellingListen, {0x8005}, {}},
        {"hangup in idle", csIdle, 0, 0, 0, 0, [](Fixture& f) { f.h.hangup(1); }, csIdle, {}, {ieHangupDone}},
        {"hangup before CONNECT_CONF", csOutgoingCall, 0, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); }, csClearing, {}, {}},
        {"hangup with the PLCI known", csOutgoingCall, kPlci, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); }, csClearing,
         {0x8004}, {}},
        {"hangup when connected", csConnected, kPlci, kNcci, 1, 0, [](Fixture& f) { f.h.hangup(1); }, csB3Clearing,
         {0x8084}, {}},
        {"hangup of an accepted call", csAccepted, kPlci, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); }, csClearing,
         {0x8004}, {}},
        {"hangup with B3 cleared", csB3Cleared, kPlci, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); }, csB3Cleared, {}, {}},
        {"hangup while listening cancels the listen", csListening, 0, 0, 1, 1, [](Fixture& f) { f.h.hangup(1); },
         csCancellingListen, {0x8005}, {ieHangupDone}},
        {"hangup after an incoming call ended", csIncomingEnded, 0, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); },
         csIncomingEnded, {}, {ieHangupDone}},
        {"hangup of a rejected call not cleared yet", csRejected, kPlci, 0, 1, 0, [](Fixture& f) { f.h.hangup(1); },
         csClearing, {0x8004}, {}},
        {"hangup with the D channel up", csDChannelUp, kPlci, 0, 2, 0, [](Fixture& f) { f.h.hangup(1); }, csClearing,
         {0x8004}, {}},
        // confirmations
        {"CONNECT_CONF", csOutgoingCall, 0, 0, 1, 0,
         [](Fixture& f) { f.h.expectConf(5); EXPECT_EQ(f.offer(Conf(cw::kConnect, 5, [](Builder& b) { b.U32(kPlci).U16(0); })), 1); },
         csOutgoingCall, {}, {ieCallAccepted}},
        {"CONNECT_CONF with an error", csOutgoingCall, 0, 0, 1, 0,
         [](Fixture& f) { f.h.expectConf(5); f.offer(Conf(cw::kConnect, 5, [](Builder& b) { b.U32(kPlci).U16(0x2003); })); },
         csFailed, {}, {ieCallFailed}},
        {"CONNECT_CONF after an early hangup", csClearing, 0, 0, 1, 0,
         [](Fixture& f) { f.h.expectConf(5); f.offer(Conf(cw::kConnect, 5, [](Builder& b) { b.U32(kPlci).U16(0); })); },
         csClearing, {0x8004}, {}},
        {"LISTEN_CONF", csListenRequested, 0, 0, 1, 1,
         [](Fixture& f) { f.offer(Conf(cw::kListen, 1, [](Builder& b) { b.U32(1).U16(0); })); }, csListening, {},
         {ieListenConfirmed}},
        {"LISTEN_CONF with an error", csListenRequested, 0, 0, 1, 1,
         [](Fixture& f) { f.offer(Conf(cw::kListen, 1, [](Builder& b) { b.U32(1).U16(0x2002); })); }, csFailed, {},
         {ieListenConfirmed, ieCallFailed}},
        {"CONNECT_B3_CONF", csB3Requested, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Conf(cw::kConnectB3, 3, [](Builder& b) { b.U32(kNcci).U16(0); })); }, csB3SettingUp,
         {}, {}},
        {"CONNECT_B3_CONF with an error", csB3Requested, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Conf(cw::kConnectB3, 3, [](Builder& b) { b.U32(kNcci).U16(0x2001); })); }, csB3Failed,
         {0x8004}, {}},
        {"DATA_B3_CONF", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Conf(cw::kDataB3, 3, [](Builder& b) { b.U32(kNcci).U16(4).U16(0); })); }, csConnected,
         {}, {ieB3Transmit}},
        // indications
        {"CONNECT_IND accepted by the owner", csListening, 0, 0, 1, 1,
         [](Fixture& f) { f.offer(ConnectInd(kPlci, "12", "34")); }, csAccepted, {0x8302}, {ieIncomingCall}},
        {"CONNECT_IND rejected by the owner", csListening, 0, 0, 1, 1,
         [](Fixture& f) { f.h.incomingAnswer = 0; f.offer(ConnectInd(kPlci, "12", "34")); }, csRejected, {0x8302},
         {ieIncomingCall}},
        {"CONNECT_IND left to the owner", csListening, 0, 0, 1, 1,
         [](Fixture& f) { f.h.incomingAnswer = 2; f.offer(ConnectInd(kPlci, "12", "34")); }, csIncomingCall, {},
         {ieIncomingCall}},
        {"CONNECT_IND when not listening (the port rejects it)", csIdle, 0, 0, 0, 0,
         [](Fixture& f) { f.offer(ConnectInd(kPlci, "12", "34")); }, csIdle, {0x8302}, {}},
        // A listening handler would take the call: only the waiting-call check refuses it.
        {"CONNECT_IND of a waiting call", csListening, 0, 0, 1, 1,
         [](Fixture& f) {
             f.offer(ConnectInd(kPlci, "12", "34", true));
             ASSERT_EQ(f.port.sent.size(), 1u);
             EXPECT_EQ(cw::Get16(&f.port.sent[0][12]), 1);  // ignored
             EXPECT_EQ(f.h.getPLCI(), 0u);
         },
         csListening, {0x8302}, {}},
        {"CONNECT_ACTIVE_IND, B3 to set up", csOutgoingCall, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectActive, 9, [](Builder& b) { b.U32(kPlci).Empty().Empty().Empty(); })); },
         csB3Requested, {0x8303, 0x8082}, {}},
        {"CONNECT_ACTIVE_IND without B3", csOutgoingCall, kPlci, 0, 2, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectActive, 9, [](Builder& b) { b.U32(kPlci).Empty().Empty().Empty(); })); },
         csDChannelUp, {0x8303}, {ieConnection}},
        {"CONNECT_ACTIVE_IND of an accepted call", csAccepted, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectActive, 9, [](Builder& b) { b.U32(kPlci).Empty().Empty().Empty(); })); },
         csWaitingForB3, {0x8303}, {}},
        {"CONNECT_B3_IND", csWaitingForB3, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectB3, 9, [](Builder& b) { b.U32(kNcci).Empty(); })); }, csB3SettingUp,
         {0x8382}, {}},
        {"CONNECT_B3_ACTIVE_IND", csB3SettingUp, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectB3Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); })); }, csConnected,
         {0x8383}, {ieConnection}},
        {"DATA_B3_IND acknowledged by the owner", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDataB3, 9, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(3).U16(0); })); },
         csConnected, {0x8386}, {ieB3Receive}},
        {"DISCONNECT_B3_IND when connected", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0).Empty(); })); },
         csB3Cleared, {0x8384}, {}},
        {"DISCONNECT_B3_IND after a hangup", csB3Clearing, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0).Empty(); })); },
         csClearing, {0x8384, 0x8004}, {}},
        {"DISCONNECT_B3_IND during B3 set-up", csB3SettingUp, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0x3301).Empty(); })); },
         csB3Failed, {0x8384, 0x8004}, {}},
        {"DISCONNECT_B3_IND in 24", csState24, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0).Empty(); })); },
         csClearingAfter24, {0x8384, 0x8004}, {}},
        {"DISCONNECT_B3_IND in 23 keeps the state", csState23, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0).Empty(); })); },
         csState23, {0x8384}, {}},
        {"DISCONNECT_IND after B3", csB3Cleared, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); })); },
         csDisconnected, {0x8304}, {ieDisconnected}},
        {"DISCONNECT_IND of a listening handler's call", csB3Cleared, kPlci, 0, 1, 1,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); })); }, csListening,
         {0x8304}, {ieDisconnected}},
        {"DISCONNECT_IND after a local hangup", csClearing, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0); })); }, csIdle, {0x8304},
         {ieHangupDone}},
        {"DISCONNECT_IND of an accepted call", csAccepted, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); })); },
         csIncomingEnded, {0x8304}, {ieCallFailed}},
        {"DISCONNECT_IND of an outgoing call", csOutgoingCall, kPlci, 0, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x34A2); })); }, csFailed,
         {0x8304}, {ieCallFailed}},
        {"DISCONNECT_IND of another call (the port answers it)", csConnected, 0x201, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0); })); }, csConnected,
         {0x8304}, {}},
        {"INFO_IND", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kInfo, 9, [](Builder& b) { b.U32(kPlci).U16(0x0018).Struct({0x89}); })); },
         csConnected, {0x8308}, {}},
        {"RESET_B3_IND", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kResetB3, 9, [](Builder& b) { b.U32(kNcci).Empty(); })); }, csConnected,
         {0x8387}, {}},
        // Every indication of our call is answered once: by the handler that takes it, or by the port.
        {"CONNECT_B3_ACTIVE_IND outside the B3 set-up", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectB3Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); })); },
         csConnected, {0x8383}, {}},
        {"FACILITY_IND of our call", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) {
             f.offer(Ind(cw::kFacility, 9, [](Builder& b) { b.U32(kPlci).U16(3).Struct({0x01, 0x02}); }));
             ASSERT_EQ(f.port.sent.size(), 1u);
             EXPECT_EQ(cw::Hex(f.port.sent[0]), "0F 00 07 00 80 83 09 00 01 01 00 00 03 00 00");
         },
         csConnected, {0x8380}, {}},
        {"CONNECT_B3_T90_ACTIVE_IND", csConnected, kPlci, kNcci, 1, 0,
         [](Fixture& f) { f.offer(Ind(cw::kConnectB3T90Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); })); },
         csConnected, {0x8388}, {}},
        {"CONNECT_B3_IND of our call when no B3 is wanted", csDChannelUp, kPlci, 0, 2, 0,
         [](Fixture& f) {
             f.offer(Ind(cw::kConnectB3, 9, [](Builder& b) { b.U32(kNcci).Empty(); }));
             ASSERT_EQ(f.port.sent.size(), 1u);
             EXPECT_EQ(cw::Get16(&f.port.sent[0][12]), 2);  // rejected
             EXPECT_EQ(f.h.getNCCI(), 0u);
         },
         csDChannelUp, {0x8382}, {}},
    };
    return rows;
}

TEST(MsgcoreHandlerStateTable, EveryRow) {
    for (const Row& row : Table()) {
        SCOPED_TRACE(row.what);
        Fixture f;
        f.h.force(row.from, row.plci, row.ncci, row.b3Mode, row.listenFlag);
        row.stimulus(f);
        EXPECT_EQ(f.h.getState(), row.to);
        EXPECT_EQ(f.port.words(), row.messages);
        EXPECT_EQ(f.eventIds(), row.events);
    }
}

// --- messages and their numbers -----------------------------------------------------------------------

TEST(MsgcoreHandlerMessages, ResponsesCarryTheirIndicationsNumbers) {
    Fixture f;
    f.h.force(csListening, 0, 0, 1, 1);
    f.h.incomingAnswer = 2;
    f.offer(ConnectInd(kPlci, "12", "34"));  // number 0x4001
    // Something else offered in between must not lend its number to the CONNECT_RESP.
    f.offer(Ind(cw::kInfo, 0x4002, [](Builder& b) { b.U32(kPlci).U16(0x8001).Empty(); }));
    f.h.acceptIncomingCall(0);
    ASSERT_EQ(f.port.sent.size(), 2u);
    EXPECT_EQ(cw::Get16(&f.port.sent[1][6]), 0x4001);

    f.port.sent.clear();
    f.h.force(csConnected, kPlci, kNcci, 1, 0);
    f.h.dataAnswer = 0;
    f.offer(Ind(cw::kDataB3, 0x4010, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(21).U16(0); }));
    f.offer(Ind(cw::kDataB3, 0x4011, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(22).U16(0); }));
    EXPECT_TRUE(f.port.sent.empty());
    EXPECT_EQ(f.h.dataResponse(), 0);
    EXPECT_EQ(f.h.dataResponse(), 0);
    ASSERT_EQ(f.port.sent.size(), 2u);
    EXPECT_EQ(cw::Get16(&f.port.sent[0][12]), 21);  // oldest first
    EXPECT_EQ(cw::Get16(&f.port.sent[0][6]), 0x4010);
    EXPECT_EQ(cw::Get16(&f.port.sent[1][12]), 22);
    EXPECT_EQ(cw::Get16(&f.port.sent[1][6]), 0x4011);
    // Nothing outstanding: nothing sent.
    EXPECT_EQ(f.h.dataResponse(), 1);
    EXPECT_EQ(f.port.sent.size(), 2u);
}

TEST(MsgcoreHandlerMessages, ACallAfterACancelledListenDoesNotListenAgain) {
    Fixture f;
    f.h.force(csListening, 0, 0, 1, 1);
    f.h.call("1", nullptr, 2);  // cancels the listen (LISTEN_REQ 1), then CONNECT_REQ 2
    f.offer(Conf(cw::kConnect, 2, [](Builder& b) { b.U32(kPlci).U16(0); }));
    f.offer(Ind(cw::kConnectActive, 9, [](Builder& b) { b.U32(kPlci).Empty().Empty().Empty(); }));
    EXPECT_EQ(f.h.getState(), csDChannelUp);
    f.offer(Ind(cw::kDisconnect, 10, [](Builder& b) { b.U32(kPlci).U16(0x3490); }));
    // The controller was told to stop offering calls: the handler must not claim to listen.
    EXPECT_EQ(f.h.getState(), csDisconnected);
    EXPECT_EQ(f.port.words(), (std::vector<uint16_t>{0x8005, 0x8002, 0x8303, 0x8304}));
    EXPECT_EQ(cw::Get32(&f.port.sent[0][16]), 0u);  // the CIP mask of the cancel
}

// An owner that destroys its connection from inside one of its events.
struct Destroyer {
    CCapiPort* port;
    CCapiMessageHandler* h;
    int events = 0;
};
uintptr_t MSGCORE_STDCALL DestroyOnDisconnect(void* instance, uint32_t event, uintptr_t, uintptr_t, uintptr_t,
                                              uintptr_t, uintptr_t) {
    Destroyer* d = static_cast<Destroyer*>(instance);
    if (event == ieDisconnected) {
        ++d->events;
        d->port->destroyHandler(d->h);
    }
    return 0;
}

TEST(MsgcoreHandlerMessages, DestroyedFromInsideItsOwnEvent) {
    RecordingPort port;
    TestHandler* h = new TestHandler;
    ASSERT_EQ(h->init(&port, 1, 2048), 0);
    Destroyer d{&port, h};
    h->registerOwnerInstance(&d, DestroyOnDisconnect);
    h->force(csDChannelUp, kPlci, 0, 2, 1);  // listening: after the event the handler would go on to 9
    Bytes ind = Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); });
    EXPECT_EQ(port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(ind.data())), 1);
    EXPECT_EQ(d.events, 1);
    EXPECT_EQ(port.handlerCount(), 0);
    // Gone from the table: the next message for its call is answered by the port itself.
    const size_t before = port.sent.size();
    EXPECT_EQ(port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(ind.data())), 1);
    ASSERT_EQ(port.sent.size(), before + 1);
    EXPECT_EQ(cw::Hex(port.sent.back()), "0C 00 07 00 04 83 09 00 01 01 00 00");
    // Outside a dispatch it goes at once.
    TestHandler* other = new TestHandler;
    ASSERT_EQ(other->init(&port, 1, 2048), 0);
    port.destroyHandler(other);
    EXPECT_EQ(port.handlerCount(), 0);
}

TEST(MsgcoreHandlerMessages, IncomingNumbersAreCutToTheirFields) {
    struct Case {
        std::string called, calling, wantCalled, wantCalling;
    } cases[] = {
        {"0987", "12345", "0987", "12345"},
        {std::string(50, '1'), std::string(60, '2'), std::string(38, '1'), std::string(35, '2')},
        {std::string(200, '3'), std::string(250, '4'), std::string(38, '3'), std::string(35, '4')},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.h.force(csListening, 0, 0, 1, 1);
        f.offer(ConnectInd(kPlci, c.called, c.calling));
        ASSERT_EQ(f.h.events.size(), 1u);
        EXPECT_EQ(f.h.events[0].text, c.wantCalled + "|" + c.wantCalling);
    }
    // A calling number struct that holds only its type byte is empty, not a read before its start.
    Fixture f;
    f.h.force(csListening, 0, 0, 1, 1);
    f.offer(Ind(cw::kConnect, 1, [](Builder& b) {
        b.U32(kPlci).U16(16).Number(0x80, "5").Struct({0x00}).Empty().Empty().Empty().Empty().Empty().Empty();
    }));
    ASSERT_EQ(f.h.events.size(), 1u);
    EXPECT_EQ(f.h.events[0].text, "5|");
    // A struct that claims more than the message holds reads as empty.
    Fixture g;
    g.h.force(csListening, 0, 0, 1, 1);
    Bytes lying = ConnectInd(kPlci, "77", "88");
    lying[14] = 0xF0;
    g.offer(lying);
    ASSERT_EQ(g.h.events.size(), 1u);
    EXPECT_EQ(g.h.events[0].text, "|");
}

TEST(MsgcoreHandlerMessages, TwoCallsOnOnePortKeepTheirPlcis) {
    RecordingPort port;
    TestHandler a, b;
    ASSERT_EQ(a.init(&port, 1, 2048), 0);
    ASSERT_EQ(b.init(&port, 1, 2048), 0);
    a.call("1", nullptr, 1);
    b.call("2", nullptr, 1);
    const uint16_t na = cw::Get16(&port.sent[0][6]), nb = cw::Get16(&port.sent[1][6]);
    // The controller confirms the second request first.
    Bytes confB = Conf(cw::kConnect, nb, [](Builder& m) { m.U32(0x0201).U16(0); });
    Bytes confA = Conf(cw::kConnect, na, [](Builder& m) { m.U32(0x0101).U16(0); });
    port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(confB.data()));
    port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(confA.data()));
    EXPECT_EQ(a.getPLCI(), 0x0101u);
    EXPECT_EQ(b.getPLCI(), 0x0201u);

    // B3 indications go to the handler of their PLCI, whatever the slot order.
    a.force(csWaitingForB3, 0x0101, 0, 1, 0);
    b.force(csWaitingForB3, 0x0201, 0, 1, 0);
    Bytes b3 = Ind(cw::kConnectB3, 9, [](Builder& m) { m.U32(0x00010201).Empty(); });
    port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(b3.data()));
    EXPECT_EQ(a.getNCCI(), 0u);
    EXPECT_EQ(b.getNCCI(), 0x00010201u);
    EXPECT_EQ(b.getState(), csB3SettingUp);
    a.shutDown();
    b.shutDown();
}

TEST(MsgcoreHandlerMessages, InfoElementsAreReadInsideTheirLength) {
    Fixture f;
    f.h.force(csConnected, kPlci, kNcci, 1, 0);
    f.offer(Ind(cw::kInfo, 1, [](Builder& b) { b.U32(kPlci).U16(0x0018).Struct({0x8A}); }));
    EXPECT_EQ(f.h.getBChannel(), 2);
    // An empty channel identification leaves the channel as it was.
    f.offer(Ind(cw::kInfo, 2, [](Builder& b) { b.U32(kPlci).U16(0x0018).Empty(); }));
    EXPECT_EQ(f.h.getBChannel(), 2);
    // A message that ends inside the header of its element.
    Bytes cut = Ind(cw::kInfo, 3, [](Builder& b) { b.U32(kPlci).U16(0x0018).Struct({0x89}); });
    cut.resize(15);
    cw::Put16(cut.data(), 15);
    f.offer(cut);
    EXPECT_EQ(f.h.getBChannel(), 2);
    EXPECT_EQ(f.port.words(), (std::vector<uint16_t>{0x8308, 0x8308, 0x8308}));
}

TEST(MsgcoreHandlerMessages, SettingsKeepTheirLimits) {
    Fixture f;
    char out[64];
    f.h.setMsnOut(std::string(39, '9').c_str());
    f.h.getMsnOut(out);
    EXPECT_EQ(std::string(out), std::string(39, '9'));
    f.h.setMsnOut(std::string(45, '8').c_str());
    f.h.getMsnOut(out);
    EXPECT_EQ(std::string(out), std::string(38, '8'));
    f.h.setMsnOut("12345");
    f.h.setMsnOut("12");
    f.h.getMsnOut(out);
    EXPECT_EQ(std::string(out), "12");
    uint8_t llc[21] = {20};
    for (int i = 1; i <= 20; ++i) llc[i] = uint8_t(i);
    f.h.setLLC(llc);
    uint8_t back[17];
    f.h.getLLC(back);
    EXPECT_EQ(back[0], 16);
    EXPECT_EQ(back[16], 16);
    EXPECT_EQ(f.h.setBaudRate(57600), 0x3004);
    uint16_t rate;
    f.h.getB1Parameter(&rate, nullptr, nullptr, nullptr);
    EXPECT_EQ(rate, 38400);
    // An over-long called number is cut as the outgoing MSN is.
    f.h.call(std::string(60, '5').c_str(), std::string(30, '6').c_str(), 1);
    const Bytes& req = f.port.sent.back();
    EXPECT_EQ(req[14], 39);  // type byte and 38 digits
    EXPECT_EQ(req[14 + 40 + req[54] + 1], 20);  // called subaddress: type byte and 19 characters
}

TEST(MsgcoreHandlerMessages, X31BProtocolCarriesTheTeiAddress) {
    Fixture f;
    f.h.setB1Protocol(0);
    f.h.setB2Protocol(3);
    f.h.setTEI(5);
    f.h.call("1", nullptr, 1);
    const Bytes& req = f.port.sent.back();
    // After controller, CIP, called (3), calling (3), called subaddress and calling subaddress.
    const size_t bp = 8 + 4 + 2 + 3 + 3 + 1 + 1;
    EXPECT_EQ(Bytes(req.begin() + long(bp), req.begin() + long(bp) + 15),
              cw::FromHex("0E 00 00 03 00 00 00 00 05 0B 00 00 07 00 00"));
}

// An owner that closes its connection from inside one event: the handler must not write after it.
struct Closer {
    CCapiPort* port;
    CCapiMessageHandler* h;
    uint32_t event;        // the event to close in
    uint16_t traceWord;    // with ieMessageTrace: the traced message's command word
    int closed = 0;
};
uintptr_t MSGCORE_STDCALL CloseInEvent(void* instance, uint32_t event, uintptr_t, uintptr_t p1, uintptr_t p2,
                                       uintptr_t, uintptr_t) {
    Closer* c = static_cast<Closer*>(instance);
    bool now = event == c->event && !c->closed;
    if (now && event == ieMessageTrace) {
        const uint8_t* m = reinterpret_cast<const uint8_t*>(p2);
        now = p1 == 20 && uint16_t(m[4] | (m[5] << 8)) == c->traceWord;
    }
    if (now) {
        ++c->closed;
        c->port->destroyHandler(c->h);
    }
    return 1;  // acknowledge, accept
}

TEST(MsgcoreHandlerMessages, ClosedFromInsideEveryEvent) {
    const struct {
        const char* what;
        TConnectionState from;
        uint32_t plci, ncci, listenFlag;
        Bytes message;
        uint32_t event;
        uint16_t traceWord;
        std::vector<uint16_t> sent;  // what goes out for the message, by the handler or the port
    } cases[] = {
        {"data acknowledged inside 0x1006", csConnected, kPlci, kNcci, 0,
         Ind(cw::kDataB3, 9, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(3).U16(0); }), ieB3Receive, 0, {0x8386}},
        {"incoming call accepted inside 0x1009", csListening, 0, 0, 1, ConnectInd(kPlci, "1", "2"), ieIncomingCall,
         0, {0x8302}},
        {"listen confirmed inside 0x100D", csListenRequested, 0, 0, 1,
         Conf(cw::kListen, 1, [](Builder& b) { b.U32(1).U16(0); }), ieListenConfirmed, 0, {}},
        {"B3 up inside 0x1001", csB3SettingUp, kPlci, kNcci, 0,
         Ind(cw::kConnectB3Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); }), ieConnection, 0, {0x8383}},
        {"sent data confirmed inside 0x1005", csConnected, kPlci, kNcci, 0,
         Conf(cw::kDataB3, 3, [](Builder& b) { b.U32(kNcci).U16(0).U16(0); }), ieB3Transmit, 0, {}},
        {"far end cleared inside 0x1003", csB3Cleared, kPlci, 0, 1,
         Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); }), ieDisconnected, 0, {0x8304}},
        {"hangup done inside 0x1004", csClearing, kPlci, 0, 0,
         Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0); }), ieHangupDone, 0, {0x8304}},
        {"call failed inside 0x1002", csOutgoingCall, kPlci, 0, 0,
         Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x34A2); }), ieCallFailed, 0, {0x8304}},
        {"trace of a data indication", csConnected, kPlci, kNcci, 0,
         Ind(cw::kDataB3, 9, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(3).U16(0); }), ieMessageTrace, 0x8286,
         {0x8386}},
        {"trace of an incoming call", csListening, 0, 0, 1, ConnectInd(kPlci, "1", "2"), ieMessageTrace, 0x8202,
         {0x8302}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        RecordingPort port;
        TestHandler* h = new TestHandler;
        ASSERT_EQ(h->init(&port, 1, 2048), 0);
        Closer c{&port, h, k.event, k.traceWord};
        h->registerOwnerInstance(&c, CloseInEvent);
        h->force(k.from, k.plci, k.ncci, 1, k.listenFlag);
        Bytes m = k.message;
        port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(m.data()));
        EXPECT_EQ(c.closed, 1);
        EXPECT_EQ(port.handlerCount(), 0);
        EXPECT_EQ(port.words(), k.sent);
        // An answer carries its indication's number, and a call nobody owns is ignored.
        for (const Bytes& b : port.sent) EXPECT_EQ(cw::Get16(&b[6]), cw::Get16(&m[6]));
        if (!port.sent.empty() && port.words()[0] == 0x8302) {
            EXPECT_EQ(cw::Get16(&port.sent[0][12]), 1);
        }
    }
}

TEST(MsgcoreHandlerMessages, ARefusedRequestLeavesTheState) {
    const struct {
        const char* what;
        TConnectionState from;
        uint32_t plci, ncci, listenFlag;
        std::function<uint16_t(TestHandler&)> request;
    } cases[] = {
        {"call", csIdle, 0, 0, 0, [](TestHandler& h) { return h.call("1", nullptr, 1); }},
        {"listen", csIdle, 0, 0, 0, [](TestHandler& h) { return h.listen(1); }},
        {"hangup with the D channel up", csDChannelUp, kPlci, 0, 0, [](TestHandler& h) { return h.hangup(1); }},
        {"hangup when connected", csConnected, kPlci, kNcci, 0, [](TestHandler& h) { return h.hangup(1); }},
        {"hangup with the PLCI known", csOutgoingCall, kPlci, 0, 0, [](TestHandler& h) { return h.hangup(1); }},
        {"B3 connection", csDChannelUp, kPlci, 0, 0, [](TestHandler& h) { return h.getB3Connection(); }},
        {"accept", csIncomingCall, kPlci, 0, 0, [](TestHandler& h) { return h.acceptIncomingCall(0); }},
        {"reject", csIncomingCall, kPlci, 0, 0, [](TestHandler& h) { return h.acceptIncomingCall(3); }},
        {"clearing for a close, connected", csConnected, kPlci, kNcci, 0,
         [](TestHandler& h) { bool r; return h.clearForClose(true, &r); }},
        {"clearing for a close, offered call", csIncomingCall, kPlci, 0, 1,
         [](TestHandler& h) { bool r; return h.clearForClose(true, &r); }},
        {"clearing for a close, D channel up", csDChannelUp, kPlci, 0, 1,
         [](TestHandler& h) { bool r; return h.clearForClose(false, &r); }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Fixture f;
        f.h.force(k.from, k.plci, k.ncci, 1, k.listenFlag);
        f.port.refuse = 0x1108;
        EXPECT_EQ(k.request(f.h), 0x1108);
        EXPECT_EQ(f.h.getState(), k.from);
        // Nothing is under way: the same request goes out when the library takes it.
        EXPECT_EQ(k.request(f.h), 0);
        EXPECT_EQ(f.port.sent.size(), 1u);
    }
}

TEST(MsgcoreHandlerMessages, ARefusedAnswerIsKeptForARetry) {
    Fixture f;
    f.h.force(csConnected, kPlci, kNcci, 1, 0);
    f.h.dataAnswer = 0;
    f.offer(Ind(cw::kDataB3, 0x4010, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(21).U16(0); }));
    f.port.refuse = 0x1108;
    EXPECT_EQ(f.h.dataResponse(), 0x1108);
    EXPECT_EQ(f.h.pendingDataResponses(), 1);
    EXPECT_EQ(f.h.dataResponse(), 0);
    ASSERT_EQ(f.port.sent.size(), 1u);
    EXPECT_EQ(cw::Get16(&f.port.sent[0][12]), 21);

    // The automatic accept of an offered call, refused: the call is still offered, to be answered.
    Fixture g;
    g.h.force(csListening, 0, 0, 1, 1);
    g.port.refuse = 0x1108;
    g.offer(ConnectInd(kPlci, "12", "34"));
    EXPECT_EQ(g.h.getState(), csIncomingCall);
    EXPECT_EQ(g.h.acceptIncomingCall(0), 0);
    EXPECT_EQ(g.h.getState(), csAccepted);
    EXPECT_EQ(g.port.words(), (std::vector<uint16_t>{0x8302}));
}

struct CallOnListen {
    TestHandler* h;
    uint16_t rc = 0xFFFF;
};
uintptr_t MSGCORE_STDCALL CallInsideListenConfirmed(void* instance, uint32_t event, uintptr_t, uintptr_t, uintptr_t,
                                                    uintptr_t, uintptr_t) {
    CallOnListen* c = static_cast<CallOnListen*>(instance);
    if (event == ieListenConfirmed) c->rc = c->h->call("1", nullptr, 1);
    return 0;
}

TEST(MsgcoreHandlerMessages, AStateTheOwnerSetsInsideTheListenConfirmationStands) {
    Fixture f;
    f.h.force(csListenRequested, 0, 0, 1, 1);
    CallOnListen caller{&f.h};
    f.h.registerOwnerInstance(&caller, CallInsideListenConfirmed);
    f.offer(Conf(cw::kListen, 1, [](Builder& b) { b.U32(1).U16(0); }));
    EXPECT_EQ(caller.rc, 0);
    EXPECT_EQ(f.h.getState(), csOutgoingCall);
    EXPECT_EQ(f.port.words(), (std::vector<uint16_t>{0x8005, 0x8002}));
}

// Frees are counted across ports: every buffer must be freed once.
class FreeCountingPort : public RecordingPort {
public:
    explicit FreeCountingPort(std::vector<void*>* freed) : freed_(freed) {}
    ~FreeCountingPort() override { shutDown(); }
    void freeBuffer(void* p, uint32_t size) override {
        freed_->push_back(p);
        RecordingPort::freeBuffer(p, size);
    }

private:
    std::vector<void*>* freed_;
};

TEST(MsgcoreHandlerMessages, ACopiedPortFreesOnlyItsOwnBuffers) {
    std::vector<void*> freed;
    {
        FreeCountingPort a(&freed);
        ASSERT_NE(a.allocMessageBuffer(), nullptr);
        ASSERT_NE(a.allocB3DataBuffer(), nullptr);
        FreeCountingPort b(a);
        FreeCountingPort c(&freed);
        c = a;
        ASSERT_NE(b.allocMessageBuffer(), nullptr);
    }
    std::vector<void*> sorted = freed;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a buffer was freed twice";
    EXPECT_EQ(freed.size(), 3u);
}

// --- X.25 NCPI ---------------------------------------------------------------------------------------

TEST(MsgcoreX25Ncpi, PackAndUnpack) {
    uint8_t out[256];
    const uint8_t fac[2] = {0x42, 0x08};
    const uint8_t ud[3] = {1, 2, 3};
    ASSERT_TRUE(x25::pack("123", "45", 2, fac, 3, ud, nullptr, out));
    EXPECT_EQ(Bytes(out, out + out[0] + 1), cw::FromHex("0D 00 00 00 23 12 34 50 02 42 08 01 02 03"));
    x25::NcpiFields f;
    ASSERT_TRUE(x25::unpack(out, sizeof out, false, &f));
    EXPECT_STREQ(f.called, "123");
    EXPECT_STREQ(f.calling, "45");
    EXPECT_EQ(f.facilitiesLength, 2);
    EXPECT_EQ(f.userDataLength, 3);

    const uint8_t cd[2] = {0x09, 0x41};
    ASSERT_TRUE(x25::pack("1", "", 0, nullptr, 0, nullptr, cd, out));
    ASSERT_TRUE(x25::unpack(out, sizeof out, true, &f));
    EXPECT_EQ(f.cause, 0x09);
    EXPECT_EQ(f.diagnostic, 0x41);
}

TEST(MsgcoreX25Ncpi, OutOfRangeIsRefused) {
    uint8_t out[256] = {0xEE};
    std::vector<uint8_t> big(251, 0x55);
    EXPECT_FALSE(x25::pack(std::string(16, '1').c_str(), "", 0, nullptr, 0, nullptr, nullptr, out));
    EXPECT_FALSE(x25::pack("12a", "", 0, nullptr, 0, nullptr, nullptr, out));
    EXPECT_FALSE(x25::pack("1", "2", 0, nullptr, uint16_t(big.size()), big.data(), nullptr, out));
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_TRUE(x25::pack(std::string(15, '1').c_str(), std::string(15, '2').c_str(), 0, nullptr, 0, nullptr, nullptr, out));
}

TEST(MsgcoreX25Ncpi, LyingNcpiGivesEmptyFields) {
    struct Case {
        const char* hex;
        size_t available;
    } cases[] = {
        {"0D 00 00 00 23 12 34 50 02 42 08 01 02 03", 10},  // passes the message
        {"05 00 00 00 FF 12", 6},                           // 30 digits in 1 byte
        {"07 00 00 00 11 12 09 42", 8},                     // facilities pass the NCPI
        {"03 00 00 00", 4},                                 // no address lengths
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        Bytes b = cw::FromHex(c.hex);
        x25::NcpiFields f;
        EXPECT_FALSE(x25::unpack(b.data(), c.available, false, &f));
        EXPECT_STREQ(f.called, "");
        EXPECT_EQ(f.userDataLength, 0);
    }
    x25::NcpiFields f;
    const uint8_t shortNcpi[2] = {1, 0};
    EXPECT_TRUE(x25::unpack(shortNcpi, 2, false, &f));
    EXPECT_STREQ(f.calling, "");
}


// --- lifetimes without a port-wide lock ---------------------------------------------------------------

// Counts its deletions: a handler must be deleted exactly once.
class CountedHandler : public TestHandler {
public:
    explicit CountedHandler(int* deleted) : deleted_(deleted) {}
    ~CountedHandler() override { ++*deleted_; }

private:
    int* deleted_;
};

// A heap port that says when it is gone.
class CountedPort : public RecordingPort {
public:
    explicit CountedPort(int* deleted) : deleted_(deleted) {}
    ~CountedPort() override { ++*deleted_; }

private:
    int* deleted_;
};

// Acts inside the trace of the handler's own outgoing request `word`, as an owner would.
struct InsideRequest {
    uint16_t word;
    std::function<void()> act;
};
uintptr_t MSGCORE_STDCALL ActInsideRequest(void* instance, uint32_t event, uintptr_t, uintptr_t, uintptr_t p2,
                                           uintptr_t, uintptr_t) {
    InsideRequest* in = static_cast<InsideRequest*>(instance);
    const uint8_t* m = reinterpret_cast<const uint8_t*>(p2);
    if (event == ieMessageTrace && in->act && uint16_t(m[4] | (m[5] << 8)) == in->word) {
        auto act = in->act;
        in->act = nullptr;
        act();
    }
    return 0;
}

TEST(MsgcoreLifetime, AHandlerClosedInsideItsPinnedRequestLivesUntilTheRequestEnds) {
    int deleted = 0;
    RecordingPort port;
    CountedHandler* h = new CountedHandler(&deleted);
    ASSERT_EQ(h->init(&port, 1, 2048), 0);
    InsideRequest in{0x8002, [&] { EXPECT_TRUE(port.destroyHandler(h)); }};
    h->registerOwnerInstance(&in, ActInsideRequest);
    ASSERT_TRUE(port.pinHandler(h));  // what the C API does for the length of a request
    // Closed from inside its own trace: the request is not sent, and the handler is still there.
    EXPECT_EQ(h->call("1", nullptr, 1), 0x1108);
    EXPECT_EQ(deleted, 0);
    port.unpin();
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(port.sent.empty());
}

TEST(MsgcoreLifetime, TwoClosesOfOneHandlerDestroyItOnce) {
    int deleted = 0;
    RecordingPort port;
    CountedHandler* h = new CountedHandler(&deleted);
    ASSERT_EQ(h->init(&port, 1, 2048), 0);
    // Both closes pinned it before either took it out of the table.
    ASSERT_TRUE(port.pinHandler(h));
    ASSERT_TRUE(port.pinHandler(h));
    EXPECT_TRUE(port.destroyHandler(h));
    EXPECT_FALSE(port.destroyHandler(h));
    port.unpin();
    port.unpin();
    EXPECT_EQ(deleted, 1);
}

TEST(MsgcoreLifetime, APortLetGoOfInsideAPinnedRequestGoesWhenTheRequestEnds) {
    const struct {
        const char* what;
        uint16_t word;
        std::function<uint16_t(CCapiMessageHandler&)> request;
        uint16_t result;
    } cases[] = {
        {"trace of CONNECT_REQ", 0x8002, [](CCapiMessageHandler& h) { return h.call("1", nullptr, 1); }, 0x1108},
        {"trace of LISTEN_REQ", 0x8005, [](CCapiMessageHandler& h) { return h.listen(1); }, 0x1108},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        int portDeleted = 0, handlerDeleted = 0;
        CountedPort* port = new CountedPort(&portDeleted);
        CountedHandler* h = new CountedHandler(&handlerDeleted);
        ASSERT_EQ(h->init(port, 1, 2048), 0);
        // What isdnDone does: the connections go, the port is shut down and let go of.
        InsideRequest in{k.word, [&] {
                             EXPECT_TRUE(port->destroyHandler(h));
                             port->shutDown();
                             port->destroyWhenUnused();
                         }};
        h->registerOwnerInstance(&in, ActInsideRequest);
        ASSERT_TRUE(port->pinHandler(h));
        EXPECT_EQ(k.request(*h), k.result);
        EXPECT_EQ(portDeleted + handlerDeleted, 0);
        port->unpin();
        EXPECT_EQ(handlerDeleted, 1);
        EXPECT_EQ(portDeleted, 1);
    }
    // Not in use: it goes at once.
    int deleted = 0;
    CountedPort* idle = new CountedPort(&deleted);
    idle->destroyWhenUnused();
    EXPECT_EQ(deleted, 1);
}

// A handler that stays in the table after its buffer went: one that a close on another thread is
// taking away at the moment the port looks at it.
class ClosingHandler : public CCapiMessageHandler {
public:
    int dispatchMessage(tagAPIMsg*) override { return 0; }
};

TEST(MsgcoreLifetime, ThePortAnswersWhatNobodyClaims) {
    const struct {
        const char* what;
        Bytes message;
        const char* answer;  // hex, or "" for nothing
    } cases[] = {
        {"CONNECT_IND is ignored", ConnectInd(kPlci, "1", "2"),
         "13 00 07 00 02 83 01 40 01 01 00 00 01 00 00 00 00 00 00"},
        {"DISCONNECT_IND", Ind(cw::kDisconnect, 9, [](Builder& b) { b.U32(kPlci).U16(0x3490); }),
         "0C 00 07 00 04 83 09 00 01 01 00 00"},
        {"CONNECT_CONF of a closed call is cleared", Conf(cw::kConnect, 5, [](Builder& b) { b.U32(kPlci).U16(0); }),
         "0D 00 07 00 04 80 01 00 01 01 00 00 00"},
        {"a failed CONNECT_CONF needs nothing", Conf(cw::kConnect, 5, [](Builder& b) { b.U32(kPlci).U16(0x2003); }),
         ""},
        {"CONNECT_B3_IND is rejected", Ind(cw::kConnectB3, 9, [](Builder& b) { b.U32(kNcci).Empty(); }),
         "0F 00 07 00 82 83 09 00 01 01 01 00 02 00 00"},
        {"CONNECT_B3_ACTIVE_IND", Ind(cw::kConnectB3Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); }),
         "0C 00 07 00 83 83 09 00 01 01 01 00"},
        {"DISCONNECT_B3_IND", Ind(cw::kDisconnectB3, 9, [](Builder& b) { b.U32(kNcci).U16(0).Empty(); }),
         "0C 00 07 00 84 83 09 00 01 01 01 00"},
        {"DATA_B3_IND", Ind(cw::kDataB3, 9, [](Builder& b) { b.U32(kNcci).U32(0).U16(0).U16(3).U16(0); }),
         "0E 00 07 00 86 83 09 00 01 01 01 00 03 00"},
        {"FACILITY_IND", Ind(cw::kFacility, 9, [](Builder& b) { b.U32(kPlci).U16(3).Struct({0x01}); }),
         "0F 00 07 00 80 83 09 00 01 01 00 00 03 00 00"},
        {"CONNECT_B3_T90_ACTIVE_IND", Ind(cw::kConnectB3T90Active, 9, [](Builder& b) { b.U32(kNcci).Empty(); }),
         "0C 00 07 00 88 83 09 00 01 01 01 00"},
        {"LISTEN_CONF needs nothing", Conf(cw::kListen, 1, [](Builder& b) { b.U32(1).U16(0); }), ""},
    };
    for (int closing = 0; closing < 2; ++closing) {
        for (const auto& k : cases) {
            SCOPED_TRACE(std::string(k.what) + (closing ? ", beside a closing handler" : ", no handler"));
            RecordingPort port;
            ClosingHandler h;
            if (closing) {
                ASSERT_TRUE(port.registerHandler(&h));
            }
            Bytes m = k.message;
            port.dispatchMessage(reinterpret_cast<tagAPIMsg*>(m.data()));
            std::vector<std::string> sent;
            for (const Bytes& b : port.sent) sent.push_back(cw::Hex(b));
            EXPECT_EQ(sent, *k.answer ? std::vector<std::string>{k.answer} : std::vector<std::string>{});
            if (closing) port.unregisterHandler(&h);
        }
    }
}

}  // namespace
