// The adapter's CAPI side on its own: what it answers to the provider's internal messages and to
// an application's requests and responses, and what its knobs and the network side make it do.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/capi_test_messages.h"
#include "simulators/isdn/capi_controller.h"

using capitest::Msg;
using isdnsim::Bytes;
using isdnsim::CapiController;

namespace {

uint16_t U16(const Bytes& m, size_t at) { return static_cast<uint16_t>(m.at(at) | m.at(at + 1) << 8); }
uint32_t U32(const Bytes& m, size_t at) { return U16(m, at) | static_cast<uint32_t>(U16(m, at + 2)) << 16; }
uint16_t Word(const Bytes& m) { return U16(m, 4); }

// An I frame's information field: a prefix the adapter must ignore, the message, its data.
Bytes Frame(const Bytes& message, const Bytes& data = {}) {
    Bytes f = {0x5A, 0xA5};
    f.insert(f.end(), message.begin(), message.end());
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// The messages the adapter sent, each checked for its 00 00 prefix and a length field that
// covers no more than the frame. DATA_B3_IND keeps its payload behind the 22 bytes.
std::vector<Bytes> Sent(CapiController& c) {
    std::vector<Bytes> out;
    for (const Bytes& f : c.TakeOutput()) {
        EXPECT_GE(f.size(), 10u);
        EXPECT_EQ(f[0], 0);
        EXPECT_EQ(f[1], 0);
        Bytes m(f.begin() + 2, f.end());
        EXPECT_LE(U16(m, 0), m.size());
        out.push_back(m);
    }
    return out;
}

std::vector<uint16_t> Words(const std::vector<Bytes>& ms) {
    std::vector<uint16_t> w;
    for (const Bytes& m : ms) w.push_back(Word(m));
    return w;
}

Bytes Register(uint16_t app, uint16_t blocks = 7, uint16_t length = 2048, bool first = false) {
    return Msg(0xC001, app, 1).U16(2).U16(blocks).U16(length).U16(first ? 0x4E4B : 0).Build();
}

Bytes Identity(uint16_t app = 1) { return Msg(0xC0FF, app, 0xFFFF).U32(1).Text("kolv").U8(7).U8(16).Build(); }

std::vector<Bytes> Put(CapiController& c, const Bytes& m, const Bytes& data = {}, uint32_t now = 0) {
    c.Receive(Frame(m, data), now);
    return Sent(c);
}

// The provider's own messages, byte for byte where the layout is the adapter's word.
TEST(CapiController, InternalMessages) {
    struct Case {
        const char* what;
        std::function<void(CapiController&)> knobs;
        Bytes in;
        std::vector<Bytes> out;
    } cases[] = {
        {"first registration",
         nullptr,
         {0x10, 0x00, 0x01, 0x00, 0x01, 0xC0, 0x01, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x08, 0x4B, 0x4E},
         {{0x0A, 0x00, 0x01, 0x00, 0x01, 0xC1, 0x01, 0x00, 0x00, 0x00}}},
        {"registration in CAPI 1.1 mode", nullptr, Msg(0x4001, 2, 1).U16(1).U16(2).U16(128).U16(0).Build(),
         {Msg(0x4101, 2, 1).U16(0).Build()}},
        {"release", nullptr, Msg(0xC002, 1, 1).Build(), {Msg(0xC102, 1, 1).U16(0).Build()}},
        {"release of an unknown application", nullptr, Msg(0xC002, 5, 1).Build(), {Msg(0xC102, 5, 1).U16(0x1101).Build()}},
        {"no reply to a registration", [](CapiController& c) { c.knobs.no_reply = {0xC001}; }, Register(3), {}},
        {"identity of another class: nothing", nullptr, Msg(0xC0FF, 1, 0xFFFF).U32(1).Text("kolv").U16(0x1008).Build(), {}},
        {"internal message cut short", nullptr, Msg(0xC001, 1, 1).U16(2).Build(), {}},
    };
    CapiController c;
    for (const Case& k : cases) {
        if (k.knobs) k.knobs(c);
        EXPECT_EQ(Put(c, k.in), k.out) << k.what;
        c.knobs = {};
    }
    EXPECT_EQ(c.counters.registrations, 3u);
    EXPECT_EQ(c.counters.fresh_starts, 1u);
    EXPECT_EQ(c.counters.releases, 2u);
    EXPECT_EQ(c.counters.unknown, 1u);
    EXPECT_EQ(c.counters.malformed, 1u);
    ASSERT_EQ(c.registrations().count(3), 1u) << "taken although not answered";
    EXPECT_EQ(c.registrations().at(3).max_b3_blocks, 7);
    EXPECT_TRUE(c.registrations().at(2).capi11);
    // A first registration since start-up forgets what an earlier provider run left.
    Put(c, Register(4, 7, 2048, true));
    EXPECT_EQ(c.registrations().size(), 1u);
}

TEST(CapiController, IdentityReplyAndItsKnobs) {
    Bytes record(148, 0);
    record[1] = 2;                       // CAPI 2.0: major in the high byte
    record[2] = 14, record[3] = 2;       // the adapter's 2.14
    const uint8_t kept[8] = {2, 0, 0, 0, 14, 0, 0, 0};
    std::copy(kept, kept + 8, record.begin() + 4);
    const std::string maker = "Quarnbeck A+R GmbH ISDN Tamrisk";
    std::copy(maker.begin(), maker.end(), record.begin() + 12);
    const uint8_t profile[] = {1, 0, 2, 0, 1, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0};
    std::copy(std::begin(profile), std::end(profile), record.begin() + 76);
    const std::string serial = "0004711";
    std::copy(serial.begin(), serial.end(), record.begin() + 140);
    auto reply = [](const Bytes& r) {
        return Msg(0xC1FF, 0, 0xFFFF).U32(1).Text("kolv").U16(0x1007).U16(0).Raw(r).Build();
    };

    struct Case {
        const char* what;
        std::function<void(CapiController&)> knobs;
        Bytes record;
    } cases[] = {
        {"the whole record", nullptr, record},
        {"a short reply", [](CapiController& c) { c.knobs.identity_record_bytes = 100; }, Bytes(record.begin(), record.begin() + 100)},
        {"an unterminated serial number",
         [](CapiController& c) { c.knobs.identity.serial = "123456789"; },
         [&] {
             Bytes r = record;
             std::string s = "12345678";
             std::copy(s.begin(), s.end(), r.begin() + 140);
             return r;
         }()},
    };
    for (const Case& k : cases) {
        CapiController c;
        if (k.knobs) k.knobs(c);
        // Asked by an application object that is not registered: answered all the same.
        Bytes want = reply(k.record);
        want[2] = 9;
        std::vector<Bytes> got = Put(c, Identity(9));
        ASSERT_EQ(got.size(), 1u) << k.what;
        EXPECT_EQ(got[0], want) << k.what;
        EXPECT_EQ(c.counters.identity_requests, 1u);
    }

    // Late: nothing until the time has come, then the reply.
    CapiController c;
    c.knobs.late_ms[0xC0FF] = 3000;
    c.Receive(Frame(Identity()), 1000);
    c.Tick(3999);
    EXPECT_TRUE(Sent(c).empty());
    c.Tick(4000);
    EXPECT_EQ(Words(Sent(c)), (std::vector<uint16_t>{0xC1FF}));
}

// A fixture with registered applications and a script runner: each step puts one message and
// names the command words that must come back.
class CapiCalls : public ::testing::Test {
protected:
    void SetUp() override {
        Put(c, Register(1, 2, 128, true));
        Put(c, Register(2));
    }
    struct Step {
        Bytes in;
        std::vector<uint16_t> out;
        Bytes data = {};
    };
    std::vector<Bytes> Run(const std::vector<Step>& steps, const char* what) {
        std::vector<Bytes> all;
        for (size_t i = 0; i < steps.size(); ++i) {
            std::vector<Bytes> got = Put(c, steps[i].in, steps[i].data);
            EXPECT_EQ(Words(got), steps[i].out) << what << ", step " << i;
            all.insert(all.end(), got.begin(), got.end());
        }
        return all;
    }
    static Bytes Listen(uint16_t app, uint32_t cips, uint32_t controller = 1) {
        return Msg(0x8005, app, 5).U32(controller).U32(0).U32(cips).U32(0).Empty().Empty().Build();
    }
    static Bytes ConnectReq(const std::string& number) {
        return Msg(0x8002, 1, 10).U32(1).U16(2).Struct(capitest::Number(number)).Empty().Empty().Empty()
            .Struct(capitest::BProtocol(0, 1, 0)).Empty().Empty().Empty().Empty().Build();
    }
    static Bytes DataReq(uint32_t ncci, uint16_t size, uint16_t handle, uint16_t app = 1) {
        return Msg(0x8086, app, 20).U32(ncci).U32(0).U16(size).U16(handle).U16(0).Build();
    }
    static Bytes Resp(uint16_t word, uint32_t id, uint16_t app = 1) { return Msg(word, app, 0).U32(id).Build(); }
    CapiController c;
};

TEST_F(CapiCalls, OutgoingCallDataAndLocalHangUp) {
    std::vector<Bytes> got = Run(
        {
            {ConnectReq("0301234"), {0x8102, 0x8203}},
            {Resp(0x8303, 0x101), {}},
            {Msg(0x8082, 1, 11).U32(0x101).Empty().Build(), {0x8182, 0x8283}},
            {Resp(0x8383, 0x10101), {}},
            {DataReq(0x10101, 5, 1), {0x8286}, {'h', 'e', 'l', 'l', 'o'}},
            {Msg(0x8386, 1, 0).U32(0x10101).U16(0).Build(), {}},
            {Msg(0x8084, 1, 12).U32(0x10101).Empty().Build(), {0x8184, 0x8284}},
            {Resp(0x8384, 0x10101), {}},
            {Msg(0x8004, 1, 13).U32(0x101).Empty().Build(), {0x8104, 0x8204}},
            {Resp(0x8304, 0x101), {}},
        },
        "outgoing");
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(got[0], Msg(0x8102, 1, 10).U32(0x101).U16(0).Build()) << "CONNECT_CONF for PLCI 0x101";
    EXPECT_EQ(got[1], Msg(0x8203, 1, U16(got[1], 6)).U32(0x101).Struct(capitest::Number("0301234", true)).Empty().Empty().Build())
        << "connected to the number called";
    EXPECT_EQ(got[2], Msg(0x8182, 1, 11).U32(0x10101).U16(0).Build());
    // The echo: the data lies behind the 22 bytes, its Data field 10 before offset 32.
    EXPECT_EQ(got[4], Msg(0x8286, 1, U16(got[4], 6)).U32(0x10101).U32(0xFFFFFFF6).U16(5).U16(0).U16(0).Text("hello").Build(22));
    EXPECT_EQ(U16(got[6], 12), 0) << "DISCONNECT_B3_IND reason";
    EXPECT_EQ(U16(got[8], 12), 0) << "DISCONNECT_IND reason";
    EXPECT_NE(U16(got[1], 6), U16(got[3], 6)) << "indications are numbered";
    EXPECT_EQ(c.Calls(), 0u) << "DISCONNECT_RESP ends the call";
    EXPECT_EQ(c.data_in, (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(c.counters.unexpected, 0u);
    EXPECT_EQ(c.counters.in[0x8086], 1u);
    EXPECT_EQ(c.counters.out[0x8286], 1u);

    // A far end that does not answer, a hang-up before any B3 connection.
    c.knobs.answer_reason = 0x3491;
    got = Run({{ConnectReq("5"), {0x8102, 0x8204}}, {Resp(0x8304, 0x101), {}}}, "busy");
    EXPECT_EQ(U16(got[1], 12), 0x3491);
    c.knobs.answer_reason = 0;
    Run({{ConnectReq("5"), {0x8102, 0x8203}}, {Msg(0x8004, 1, 13).U32(0x101).Empty().Build(), {0x8104, 0x8204}}},
        "hang-up on the D channel");
}

// An application registered for CAPI 1.1 codes its messages with bit 7 of the subcommand clear:
// its call and its data are served as those of CAPI 2.0, and answered in its own coding.
TEST_F(CapiCalls, Capi11ApplicationIsServedInItsCoding) {
    Put(c, Msg(0x4001, 3, 1).U16(2).U16(7).U16(2048).U16(0).Build());
    auto as11 = [](Bytes m) {
        m[5] &= 0x7F;
        return m;
    };
    Bytes connect = as11(ConnectReq("0301234"));
    connect[2] = 3;
    std::vector<Bytes> got = Run(
        {
            {connect, {0x0102, 0x0203}},
            {as11(Resp(0x8303, 0x101, 3)), {}},
            {as11(Msg(0x8082, 3, 11).U32(0x101).Empty().Build()), {0x0182, 0x0283}},
            {as11(DataReq(0x10101, 3, 7, 3)), {0x0286}, {'a', 'b', 'c'}},
            {as11(Msg(0x8386, 3, 0).U32(0x10101).U16(0).Build()), {}},
        },
        "CAPI 1.1");
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(U16(got[0], 12), 0) << "CONNECT_CONF info";
    EXPECT_EQ(c.data_in, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(c.counters.in[0x8086], 1u);
    EXPECT_EQ(c.counters.unexpected, 0u);
    EXPECT_EQ(c.counters.unknown, 0u);
}

TEST_F(CapiCalls, IncomingCallRemoteHangUp) {
    EXPECT_FALSE(c.IncomingCall("4930123", "77")) << "nobody listens";
    Run({{Listen(1, 1 << 2), {0x8105}}, {Listen(2, 1 << 2), {0x8105}}}, "listen");
    ASSERT_TRUE(c.IncomingCall("4930123", "77", 2));
    std::vector<Bytes> ind = Sent(c);
    ASSERT_EQ(Words(ind), (std::vector<uint16_t>{0x8202, 0x8202}));
    EXPECT_EQ(ind[0], Msg(0x8202, 1, U16(ind[0], 6)).U32(0x101).U16(2).Struct(capitest::Number("77"))
                          .Struct(capitest::Number("4930123", true)).Empty().Empty().Empty().Empty().Empty().Empty().Build());
    EXPECT_EQ(U16(ind[1], 2), 2) << "offered to each listener";

    std::vector<Bytes> got = Run(
        {
            {Msg(0x8302, 2, 0).U32(0x101).U16(0).Empty().Empty().Empty().Empty().Empty().Build(), {0x8204, 0x8203}},
            {Resp(0x8304, 0x101, 1), {}},
            {Resp(0x8303, 0x101, 2), {0x8282}},
            {Msg(0x8382, 2, 0).U32(0x10101).U16(0).Empty().Build(), {0x8283}},
        },
        "accepted by the second");
    EXPECT_EQ(U16(got[0], 2), 1);
    EXPECT_EQ(U16(got[0], 12), 0x3304) << "another application got the call";
    EXPECT_EQ(U16(got[1], 2), 2);
    EXPECT_EQ(c.ConnectedB3(), 1u);

    EXPECT_EQ(c.RemoteHangup(), 1u);
    got = Sent(c);
    ASSERT_EQ(Words(got), (std::vector<uint16_t>{0x8284}));
    got = Put(c, Resp(0x8384, 0x10101, 2));
    ASSERT_EQ(Words(got), (std::vector<uint16_t>{0x8204})) << "the D channel after the B3 connection";
    EXPECT_EQ(U16(got[0], 12), 0x3490);
    Put(c, Resp(0x8304, 0x101, 2));
    EXPECT_EQ(c.Calls(), 0u);

    // Refused: a DISCONNECT_IND for the one who refused.
    Run({{Listen(2, 0), {0x8105}}}, "listen off");
    ASSERT_TRUE(c.IncomingCall("1", "2"));
    Sent(c);
    Run({{Msg(0x8302, 1, 0).U32(0x101).U16(3).Empty().Empty().Empty().Empty().Empty().Build(), {0x8204}},
         {Resp(0x8304, 0x101, 1), {}}},
        "refused");
    EXPECT_EQ(c.Calls(), 0u);
    EXPECT_EQ(c.counters.unexpected, 0u);
}

TEST_F(CapiCalls, DataKeepsToTheApplicationsBlocks) {
    Run({{ConnectReq("1"), {0x8102, 0x8203}}, {Msg(0x8082, 1, 11).U32(0x101).Empty().Build(), {0x8182, 0x8283}}},
        "connect");
    // Application 1 has 2 blocks of 128 bytes: 300 bytes go as 128, 128 and, after a
    // DATA_B3_RESP, 44.
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    std::vector<Bytes> got = Put(c, DataReq(0x10101, 300, 9), data);
    ASSERT_EQ(Words(got), (std::vector<uint16_t>{0x8286, 0x8286}));
    EXPECT_EQ(U16(got[0], 16), 128);
    EXPECT_EQ(U16(got[1], 18), 1) << "data handles count up";
    EXPECT_TRUE(Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(7).Build()).empty()) << "an unknown handle frees nothing";
    got = Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(1).Build());
    ASSERT_EQ(Words(got), (std::vector<uint16_t>{0x8286}));
    EXPECT_EQ(Bytes(got[0].begin() + 22, got[0].end()), Bytes(data.begin() + 256, data.end()));
    EXPECT_EQ(c.counters.max_unanswered, 2u);
    EXPECT_EQ(c.counters.unexpected, 1u);

    // Sink: taken, nothing sent back; a DataLength beyond the frame is refused.
    c.knobs.data_mode = isdnsim::DataMode::kSink;
    EXPECT_TRUE(Put(c, DataReq(0x10101, 3, 10), {1, 2, 3}).empty());
    EXPECT_TRUE(Put(c, DataReq(0x10101, 4, 11), {1, 2, 3}).empty());
    EXPECT_EQ(c.data_in.size(), 303u);
    EXPECT_EQ(c.counters.unexpected, 2u);

    // Odd Data fields and lengths on the next two indications, then normal again.
    Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(0).Build());
    Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(2).Build());
    c.knobs.odd_data = {2, true, 40, 100};
    ASSERT_TRUE(c.SendData(Bytes(10, 0xEE)));
    ASSERT_TRUE(c.SendData(Bytes(10, 0xDD)));
    got = Sent(c);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(U32(got[0], 12), 40u);
    EXPECT_EQ(U16(got[0], 16), 110) << "claims more than it carries";
    EXPECT_EQ(got[0].size(), 32u);
    Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(3).Build());
    Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(4).Build());
    ASSERT_TRUE(c.SendData(Bytes(10, 0xCC)));
    got = Sent(c);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U32(got[0], 12), 0xFFFFFFF6u);
    EXPECT_EQ(U16(got[0], 16), 10);
}

TEST_F(CapiCalls, PacedAtTheBChannelRate) {
    Run({{ConnectReq("1"), {0x8102, 0x8203}}, {Msg(0x8082, 1, 11).U32(0x101).Empty().Build(), {0x8182, 0x8283}}},
        "connect");
    c.knobs.b_channel_bytes_per_second = 1000;
    c.Tick(10000);
    // Each block is there when its last byte has come: 128 bytes after 128 ms, 72 after 72 more.
    ASSERT_TRUE(c.SendData(Bytes(200, 1)));
    EXPECT_TRUE(Sent(c).empty());
    c.Tick(10127);
    EXPECT_TRUE(Sent(c).empty());
    c.Tick(10128);
    EXPECT_EQ(Sent(c).size(), 1u);
    Put(c, Msg(0x8386, 1, 0).U32(0x10101).U16(0).Build(), {}, 10150);
    c.Tick(10199);
    EXPECT_TRUE(Sent(c).empty());
    c.Tick(10200);
    EXPECT_EQ(Sent(c).size(), 1u);
}

// Every other request gets its confirmation; what names nothing known is refused, what is cut
// short or comes from nobody registered is dropped and counted.
TEST_F(CapiCalls, OtherRequestsAndBadMessages) {
    struct Case {
        const char* what;
        Bytes in;
        Bytes out;  // empty: no answer
    } cases[] = {
        {"ALERT_REQ", Msg(0x8001, 1, 3).U32(0x101).Empty().Build(), Msg(0x8101, 1, 3).U32(0x101).U16(0).Build()},
        {"INFO_REQ", Msg(0x8008, 1, 3).U32(1).Empty().Empty().Build(), Msg(0x8108, 1, 3).U32(1).U16(0).Build()},
        {"SELECT_B_PROTOCOL_REQ", Msg(0x8041, 1, 3).U32(0x101).Empty().Build(), Msg(0x8141, 1, 3).U32(0x101).U16(0).Build()},
        {"RESET_B3_REQ", Msg(0x8087, 1, 3).U32(0x10101).Empty().Build(), Msg(0x8187, 1, 3).U32(0x10101).U16(0).Build()},
        {"FACILITY_REQ", Msg(0x8080, 1, 3).U32(1).U16(3).Empty().Build(), Msg(0x8180, 1, 3).U32(1).U16(0).U16(3).Empty().Build()},
        {"MANUFACTURER_REQ", Msg(0x80FF, 1, 3).U32(1).Text("kolv").U16(0x1008).U32(2).Build(),
         Msg(0x81FF, 1, 3).U32(1).Text("kolv").U16(0x1008).U16(0).Build()},
        {"unknown command", Msg(0x8099, 1, 3).U32(1).Build(), Msg(0x8199, 1, 3).U32(1).U16(0x1102).Build()},
        {"LISTEN_REQ for controller 2", Listen(1, 1, 2), Msg(0x8105, 1, 5).U32(2).U16(0x2002).Build()},
        {"CONNECT_REQ for controller 3", Msg(0x8002, 1, 3).U32(3).U16(2).Build(), Msg(0x8102, 1, 3).U32(3).U16(0x2002).Build()},
        {"CONNECT_B3_REQ for no call", Msg(0x8082, 1, 3).U32(0x301).Empty().Build(), Msg(0x8182, 1, 3).U32(0x301).U16(0x2002).Build()},
        {"DISCONNECT_REQ for no call", Msg(0x8004, 1, 3).U32(0x201).Empty().Build(), Msg(0x8104, 1, 3).U32(0x201).U16(0x2002).Build()},
        {"from an application not registered", Msg(0x8001, 7, 3).U32(0x101).Empty().Build(), {}},
        {"a request shorter than its fields", Msg(0x8005, 1, 3).U32(1).Build(), {}},
        {"a response for no call", Resp(0x8304, 0x501), {}},
    };
    for (const Case& k : cases) {
        std::vector<Bytes> got = Put(c, k.in);
        if (k.out.empty())
            EXPECT_TRUE(got.empty()) << k.what;
        else
            EXPECT_EQ(got, std::vector<Bytes>{k.out}) << k.what;
    }
    // Frames no message fits in.
    for (const Bytes& f : std::vector<Bytes>{{}, {0, 0, 8, 0, 1}, Frame(Msg(0x8001).U32(1).Build(200)), Frame({7, 0, 1, 0, 1, 0x80, 0, 0})})
        c.Receive(f, 0);
    EXPECT_TRUE(Sent(c).empty());
    EXPECT_EQ(c.counters.unregistered, 1u);
    EXPECT_EQ(c.counters.malformed, 5u);
    EXPECT_EQ(c.counters.unexpected, 1u);
    EXPECT_EQ(c.counters.unknown, 1u);
}

TEST_F(CapiCalls, LinkDownEndsCallsButKeepsRegistrations) {
    Run({{ConnectReq("1"), {0x8102, 0x8203}}}, "connect");
    c.knobs.late_ms[0x8001] = 100;
    Put(c, Msg(0x8001, 1, 3).U32(0x101).Empty().Build());
    c.LinkDown();
    c.Tick(1000);
    EXPECT_TRUE(Sent(c).empty()) << "nothing held back goes out after the link went";
    EXPECT_EQ(c.Calls(), 0u);
    EXPECT_EQ(c.registrations().size(), 2u);
}

}  // namespace
