#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "portbridge/stack/hdlc.h"
#include "portbridge/stack/stack_test_support.h"

namespace stack {
namespace {

using namespace hdlc;
using testing::RecordingTask;
using testing::StackRig;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kUpper = kLinkControlTask, kLower = kSerialTask, kLayer = kHdlcTask;
constexpr uint8_t kOwnCmd = 1, kPeerCmd = 3;  // this side is the originator

struct Frame {
    uint8_t address, control;
    Bytes info;
    bool operator==(const Frame& o) const { return address == o.address && control == o.control && info == o.info; }
};
std::ostream& operator<<(std::ostream& os, const Frame& f) {
    char t[32];
    std::snprintf(t, sizeof(t), "%u:%02X+%u", f.address, f.control, static_cast<unsigned>(f.info.size()));
    return os << t;
}

uint8_t I(uint8_t ns, uint8_t nr, bool p = false) { return static_cast<uint8_t>(ns << 1 | nr << 5 | (p ? kPF : 0)); }
uint8_t S(uint8_t type, uint8_t nr, bool pf = false) { return static_cast<uint8_t>(type | nr << 5 | (pf ? kPF : 0)); }
uint8_t U(uint8_t type, bool pf = false) { return static_cast<uint8_t>(type | (pf ? kPF : 0)); }
Frame cmd(uint8_t control, Bytes info = {}) { return Frame{kPeerCmd, control, info}; }  // from the peer
Frame rsp(uint8_t control, Bytes info = {}) { return Frame{kOwnCmd, control, info}; }
// What this side sends: its commands carry 1, its responses 3.
Frame ourCmd(uint8_t control, Bytes info = {}) { return Frame{kOwnCmd, control, info}; }
Frame ourRsp(uint8_t control, Bytes info = {}) { return Frame{kPeerCmd, control, info}; }

class Hdlc : public ::testing::Test {
protected:
    Hdlc() : upper(rig.rt, kUpper), lower(rig.rt, kLower) {}

    void SetUp() override {
        ASSERT_EQ(rig.rt.createTask(&hdlcInit, 228, kHdlcTask, 0x101), kOk);
        rig.step();
        ASSERT_EQ(rig.rt.findQueue(kLayer, &queue), kOk);
        RuntimeMessage bound(kBound);
        bound.put16(9, upper.queue());
        bound.put16(11, lower.queue());
        toLayer(bound);
        ASSERT_EQ(rig.rt.createPool(0x2F0, 400, 12, &rxPool), kOk);
        RuntimeMessage pool(kReceivePool);
        pool.put16(6, rxPool);
        toLayer(pool);
        rig.rt.findDefaultPool(&defaultPool);
        lower.take();
    }

    void TearDown() override {
        // Whatever was kept or passed on came back: no buffer of either pool is lost.
        takeSent();
        takeUp();
        toLayer(RuntimeMessage(kPortDown));
        takeSent();
        takeUp();
        EXPECT_EQ(rig.rt.poolHasBuffer(rxPool, 1), 12u) << "receive buffers";
        EXPECT_EQ(rig.rt.poolHasBuffer(defaultPool, 1), 16u) << "small buffers";
        EXPECT_EQ(rig.rt.poolHasBuffer(defaultPool, 300), 2u) << "large buffers";
    }

    void toLayer(RuntimeMessage m, uint32_t from = kUpper) {
        m.setAddress(kLayer);
        ASSERT_EQ(rig.rt.sendFrom(from, m), kOk);
        rig.step();
    }

    void configure(uint16_t mode, uint8_t window = 7) {
        std::memset(block, 0, sizeof(block));
        setBlock16(block, config::kReceiveHeaderRoom, 2);
        setBlock16(block, config::kMaxFrameLength, 300);
        setBlock16(block, config::kLinkMode, kLinkModeFramed);
        setBlock16(block, config::kLinkLayerMode, mode);
        block[20] = 3, block[21] = 1, block[22] = 8, block[23] = window;
        RuntimeMessage m(kConfigure);
        m.setPointer(block);
        toLayer(m);
        // The serial task's answer: five bytes of header room.
        std::vector<RuntimeMessage> down = lower.take();
        ASSERT_EQ(down.size(), 1u);
        ASSERT_EQ(down[0].id(), kConfigure);
        setBlock16(block, config::kTransmitHeaderRoom, 5);
        RuntimeMessage r(kConfigured);
        r.put16(10, 0);
        r.setPointer(block);
        toLayer(r, kLower);
        upper.take();
    }

    // Up to the established link as the originator.
    void establish(uint16_t mode = kLinkLayerFramed, uint8_t window = 7) {
        configure(mode, window);
        RuntimeMessage open(kEstablishRequest);
        open.put8(6, 1);
        toLayer(open);
        ASSERT_EQ(lower.take().at(0).id(), kSerialOpen);
        toLayer(RuntimeMessage(kPortUp), kLower);
        if (mode != kLinkLayerRaw) {
            EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(U(kSABM, true))}));
            inject(rsp(U(kUA, true)));
        }
        EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kPortUpIndication, kEstablishedInd}));
        ASSERT_EQ(snapshot(kLayer).state, kEstablished);
    }

    // A frame from the peer, as the serial task hands it up.
    void inject(const Frame& f) {
        Bytes raw{f.address, f.control};
        raw.insert(raw.end(), f.info.begin(), f.info.end());
        injectRaw(raw);
    }
    // `step` false: the frame waits in the layer's queue with whatever comes after it, as a burst
    // from the serial reader does.
    void injectRaw(const Bytes& raw, bool step = true) {
        uint8_t* b = nullptr;
        ASSERT_EQ(rig.rt.getBuffer(rxPool, static_cast<uint16_t>(raw.size() + 1), &b), kOk);
        if (!raw.empty()) std::memcpy(b, raw.data(), raw.size());
        RuntimeMessage m(kFrameReceived);
        m.put16(6, 1);
        m.put16(8, 0);
        m.put16(10, static_cast<uint16_t>(raw.size()));
        m.setPointer(b);
        if (step) {
            toLayer(m, kLower);
            return;
        }
        m.setAddress(kLayer);
        ASSERT_EQ(rig.rt.sendFrom(kLower, m), kOk);
    }
    void post(const Frame& f) {
        Bytes raw{f.address, f.control};
        raw.insert(raw.end(), f.info.begin(), f.info.end());
        injectRaw(raw, false);
    }

    void data(const std::string& text, uint16_t id = kDataRequest) {
        uint8_t* b = nullptr;
        ASSERT_EQ(rig.rt.getBuffer(defaultPool, static_cast<uint16_t>(7 + text.size() + 1), &b), kOk);
        std::memcpy(b + 7, text.data(), text.size());
        RuntimeMessage m(id);
        m.put16(6, 1);
        m.put16(8, 7);
        m.put16(10, static_cast<uint16_t>(text.size()));
        m.setPointer(b);
        toLayer(m);
    }

    // Frames sent down since the last call; buffers the serial task would free are freed.
    std::vector<Frame> takeSent() {
        std::vector<Frame> out;
        for (const RuntimeMessage& m : lower.take()) {
            if (m.id() != kSerialSend) {
                otherDown.push_back(m.id());
                continue;
            }
            const uint8_t* b = static_cast<const uint8_t*>(m.pointer());
            const uint16_t off = m.u16(8), len = m.u16(10);
            Frame f{b[off], b[off + 1], Bytes(b + off + 2, b + off + len)};
            out.push_back(f);
            EXPECT_GE(off, 5) << "room for the serial header";
            if (m.u16(6) & 1) rig.rt.freeBuffer(const_cast<uint8_t*>(b));
        }
        return out;
    }
    // Indications since the last call; data goes to `received`, buffers are freed.
    std::vector<uint16_t> takeUp() {
        std::vector<uint16_t> ids;
        for (const RuntimeMessage& m : upper.take()) {
            ids.push_back(m.id());
            uint8_t* b = static_cast<uint8_t*>(m.pointer());
            if (m.id() == kDataIndication || m.id() == kUnitDataIndication) {
                received.push_back(std::string(reinterpret_cast<char*>(b) + m.u16(8), m.u16(10)));
                rig.rt.freeBuffer(b);
            } else if (m.id() == kDataAcknowledged) {
                acknowledged.push_back(std::string(reinterpret_cast<char*>(b) + m.u16(8) + 2, m.u16(10) - 2));
                if (m.u16(6) & 1) rig.rt.freeBuffer(b);
            } else if (m.id() == kDataReturned) {
                returned.push_back(std::string(reinterpret_cast<char*>(b) + m.u16(8), m.u16(10)));
                if (m.u16(6) & 1) rig.rt.freeBuffer(b);
            }
        }
        return ids;
    }
    // Ticks until T1 (1 s) has run out once.
    void t1() { rig.tick(100); }

    StackRig rig;
    RecordingTask upper, lower;
    uint16_t queue = 0, rxPool = 0, defaultPool = 0;
    uint8_t block[config::kSize] = {};
    std::vector<uint16_t> otherDown;
    std::vector<std::string> received, acknowledged, returned;
};

// Each row: a state to reach, a frame from the peer, what this side sends and indicates, and the
// state after.
struct Row {
    uint8_t from;
    Frame in;
    std::vector<Frame> out;
    std::vector<uint16_t> up;
    uint8_t to;
};

class HdlcTable : public Hdlc {
protected:
    void reach(uint8_t state) {
        establish();
        switch (state) {
        case kReleased:
            toLayer(RuntimeMessage(kReleaseRequest));
            takeSent();
            inject(rsp(U(kUA, true)));
            break;
        case kAwaitingEstablishment:
            inject(rsp(U(kFRMR), {0, 0, 0}));
            break;
        case kFrameRejected:
            inject(cmd(0x0D));
            break;
        case kAwaitingRelease:
            toLayer(RuntimeMessage(kReleaseRequest));
            break;
        default:
            break;
        }
        takeSent();
        takeUp();
        ASSERT_EQ(snapshot(kLayer).state, state);
    }
    void run(const std::vector<Row>& rows) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            SCOPED_TRACE("row " + std::to_string(i) + " from state " + std::to_string(r.from));
            reach(r.from);
            inject(r.in);
            EXPECT_EQ(takeSent(), r.out);
            EXPECT_EQ(takeUp(), r.up);
            EXPECT_EQ(snapshot(kLayer).state, r.to);
            toLayer(RuntimeMessage(kPortDown), kLower);
            takeSent();
            takeUp();
            received.clear();
        }
    }
};

TEST_F(HdlcTable, CommandsByState) {
    const uint8_t frmrUndefined = U(kFRMR, false);
    run({
        {kReleased, cmd(U(kSABM, true)), {ourRsp(U(kUA, true))}, {kEstablishedInd}, kEstablished},
        {kReleased, cmd(U(kDISC, true)), {ourRsp(U(kDM, true))}, {}, kReleased},
        {kReleased, cmd(kUI, {'u'}), {}, {kUnitDataIndication}, kReleased},
        {kReleased, cmd(S(kRR, 0)), {}, {}, kReleased},
        {kAwaitingEstablishment, cmd(U(kSABM, true)), {ourRsp(U(kUA, true))}, {kEstablishedInd}, kEstablished},
        {kAwaitingEstablishment, cmd(U(kDISC)), {ourRsp(U(kDM))}, {}, kAwaitingEstablishment},
        {kAwaitingEstablishment, cmd(S(kRR, 0)), {}, {}, kAwaitingEstablishment},
        {kAwaitingEstablishment, cmd(0x0D), {ourRsp(frmrUndefined, {0x0D, 0x00, 1})}, {}, kFrameRejected},
        {kEstablished, cmd(U(kSABM, true)), {ourRsp(U(kUA, true))}, {kLinkReset, kEstablishedInd}, kEstablished},
        {kEstablished, cmd(U(kDISC, true)), {ourRsp(U(kUA, true))}, {kReleasedInd}, kReleased},
        {kEstablished, cmd(kUI, {'u'}), {}, {kUnitDataIndication}, kEstablished},
        {kEstablished, cmd(0x0D), {ourRsp(frmrUndefined, {0x0D, 0x00, 1})}, {}, kFrameRejected},
        {kEstablished, cmd(S(kRR, 0, true)), {ourRsp(S(kRR, 0, true))}, {}, kEstablished},
        {kFrameRejected, cmd(U(kSABM, true)), {ourRsp(U(kUA, true))}, {}, kEstablished},
        {kFrameRejected, cmd(U(kDISC, true)), {ourRsp(U(kUA, true))}, {kReleasedInd}, kReleased},
        {kFrameRejected, cmd(S(kRR, 0, true)), {ourRsp(U(kFRMR, true), {0x0D, 0x00, 1})}, {}, kFrameRejected},
        {kFrameRejected, cmd(S(kRR, 0)), {}, {}, kFrameRejected},
        {kAwaitingRelease, cmd(U(kSABM, true)), {ourRsp(U(kDM, true))}, {kReleasedInd}, kReleased},
        {kAwaitingRelease, cmd(U(kDISC, true)), {ourRsp(U(kUA, true))}, {}, kAwaitingRelease},
        {kAwaitingRelease, cmd(I(0, 0), {'x'}), {}, {}, kAwaitingRelease},
    });
}

TEST_F(HdlcTable, ResponsesByState) {
    run({
        {kAwaitingEstablishment, rsp(U(kUA, true)), {}, {kEstablishedInd}, kEstablished},
        {kAwaitingEstablishment, rsp(U(kDM, true)), {}, {}, kAwaitingEstablishment},
        {kAwaitingEstablishment, rsp(U(kFRMR), {1, 2, 3}), {}, {}, kAwaitingEstablishment},
        {kEstablished, rsp(U(kUA, true)), {}, {}, kEstablished},
        {kEstablished, rsp(U(kDM, true)), {}, {kReleasedInd}, kReleased},
        {kEstablished, rsp(U(kFRMR), {1, 2, 3}), {ourCmd(U(kSABM, true))}, {kLinkReset}, kAwaitingEstablishment},
        {kEstablished, rsp(S(kRR, 0)), {}, {}, kEstablished},
        {kAwaitingRelease, rsp(U(kUA, true)), {}, {kReleaseConfirm}, kReleased},
        {kAwaitingRelease, rsp(U(kDM, true)), {}, {kReleaseConfirm}, kReleased},
        {kAwaitingRelease, rsp(U(kFRMR), {1, 2, 3}), {}, {}, kAwaitingRelease},
        // A frame with an address of neither station is dropped.
        {kEstablished, Frame{2, U(kDISC, true), {}}, {}, {}, kEstablished},
    });
}

TEST_F(HdlcTable, RequestsByState) {
    struct Case {
        uint8_t from;
        uint16_t request;
        std::vector<Frame> out;
        std::vector<uint16_t> up;
        uint8_t to;
    } cases[] = {
        {kReleased, kUnitDataRequest, {ourCmd(kUI, {'r'})}, {}, kReleased},
        {kReleased, kConfigurationDone, {}, {kConfiguredIndication}, kReleased},
        {kReleased, kEstablishRequest, {ourCmd(U(kSABM, true))}, {}, kAwaitingEstablishment},
        {kReleased, kDataRequest, {}, {}, kReleased},
        {kAwaitingEstablishment, kReleaseRequest, {}, {}, kReleased},
        {kAwaitingEstablishment, kDataRequest, {}, {}, kAwaitingEstablishment},
        {kEstablished, kDataRequest, {ourCmd(I(0, 0), {'r'})}, {}, kEstablished},
        {kEstablished, kUnitDataRequest, {ourCmd(kUI, {'r'})}, {}, kEstablished},
        {kEstablished, kReleaseRequest, {ourCmd(U(kDISC, true))}, {}, kAwaitingRelease},
        {kFrameRejected, kDataRequest, {}, {}, kFrameRejected},
        {kFrameRejected, kReleaseRequest, {ourCmd(U(kDISC, true))}, {}, kAwaitingRelease},
        {kAwaitingRelease, kDataRequest, {}, {}, kAwaitingRelease},
        {kAwaitingRelease, kUnitDataRequest, {ourCmd(kUI, {'r'})}, {}, kAwaitingRelease},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("request " + std::to_string(c.request) + " in state " + std::to_string(c.from));
        reach(c.from);
        if (c.request == kDataRequest || c.request == kUnitDataRequest) {
            data("r", c.request);
        } else {
            RuntimeMessage m(c.request);
            m.put8(6, 1);
            toLayer(m);
        }
        EXPECT_EQ(takeSent(), c.out);
        EXPECT_EQ(takeUp(), c.up);
        EXPECT_EQ(snapshot(kLayer).state, c.to);
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

TEST_F(Hdlc, PortOpeningAndClosing) {
    configure(kLinkLayerFramed);
    data("early");  // dropped in state 0, its buffer freed
    RuntimeMessage open(kEstablishRequest);
    open.put8(6, 0);  // not the originator: the peer's SABM establishes
    toLayer(open);
    takeSent();
    EXPECT_EQ(otherDown, (std::vector<uint16_t>{kSerialOpen}));
    EXPECT_EQ(snapshot(kLayer).state, kPortOpening);
    toLayer(RuntimeMessage(kPortUp), kLower);
    EXPECT_TRUE(takeSent().empty()) << "a non-originator sends nothing";
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kPortUpIndication}));
    EXPECT_EQ(snapshot(kLayer).state, kAwaitingEstablishment);
    // The peer is the originator now: its commands carry 1, our responses 1 too.
    inject(Frame{1, U(kSABM, true), {}});
    EXPECT_EQ(takeSent(), (std::vector<Frame>{Frame{1, U(kUA, true), {}}}));
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kEstablishedInd}));
    data("one");
    EXPECT_EQ(takeSent(), (std::vector<Frame>{Frame{3, I(0, 0), {'o', 'n', 'e'}}}));
    toLayer(RuntimeMessage(kPortDown), kLower);
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kPortDownIndication, kReleasedInd}));
    EXPECT_EQ(snapshot(kLayer).state, kPortClosed);
    EXPECT_EQ(snapshot(kLayer).outstanding, 0);
}

TEST_F(Hdlc, ConfigurationErrors) {
    struct Case {
        uint16_t mode;
        uint8_t modulus, window;
        uint16_t status;
    } cases[] = {{7, 8, 4, 0x3002}, {0, 128, 4, 0x3005}, {0, 8, 8, 0x3005}, {130, 0, 0, 0}};
    for (const Case& c : cases) {
        std::memset(block, 0, sizeof(block));
        setBlock16(block, config::kLinkLayerMode, c.mode);
        setBlock16(block, config::kMaxFrameLength, 2302);
        setBlock16(block, config::kReceiveHeaderRoom, 2);
        block[22] = c.modulus, block[23] = c.window;
        RuntimeMessage m(kConfigure);
        m.setPointer(block);
        toLayer(m);
        if (c.status) {
            auto got = upper.take();
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].id(), kConfigured);
            EXPECT_EQ(got[0].u16(10), c.status) << c.mode;
            EXPECT_TRUE(lower.take().empty());
        } else {
            EXPECT_EQ(lower.take().size(), 1u) << "passed on down";
            EXPECT_EQ(block16(block, config::kMaxFrameLength), 2304);
            EXPECT_EQ(block16(block, config::kReceiveHeaderRoom), 0);
            EXPECT_EQ(block16(block, config::kLinkLayerMode), 0) << "130 becomes 0 for the layers below";
            EXPECT_EQ(snapshot(kLayer).window, 7) << "window 0 means 7";
            EXPECT_EQ(snapshot(kLayer).n200, 20);
        }
    }
}

TEST_F(Hdlc, WindowFull) {
    establish(kLinkLayerFramed, 4);
    for (char c = 'a'; c <= 'e'; ++c) data(std::string(1, c));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(0, 0), {'a'}), ourCmd(I(1, 0), {'b'}), ourCmd(I(2, 0), {'c'}),
                                              ourCmd(I(3, 0), {'d'})}));
    EXPECT_EQ(snapshot(kLayer).waiting, 1u);
    inject(rsp(S(kRR, 1)));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(4, 0), {'e'})}));
    inject(rsp(S(kRR, 5)));
    EXPECT_EQ(snapshot(kLayer).outstanding, 0);
    EXPECT_FALSE(snapshot(kLayer).t1Running);
}

TEST_F(Hdlc, RejectResendsFromNr) {
    for (uint16_t mode : {kLinkLayerFramed, kLinkLayerKeeping}) {
        SCOPED_TRACE(mode);
        establish(mode, 7);
        for (char c = '0'; c <= '3'; ++c) data(std::string(1, c));
        takeSent();
        inject(rsp(S(kREJ, 2)));
        const std::vector<Frame> again = takeSent();
        if (mode == kLinkLayerFramed) {
            EXPECT_EQ(again, (std::vector<Frame>{ourCmd(I(2, 0), {'2'}), ourCmd(I(3, 0), {'3'})}));
        } else {
            EXPECT_EQ(again, (std::vector<Frame>{ourCmd(I(2, 0), {'2'})})) << "the peer kept the rest";
        }
        EXPECT_EQ(snapshot(kLayer).vs, 4) << "past every frame still held";
        inject(rsp(S(kRR, 4)));
        EXPECT_EQ(snapshot(kLayer).state, kEstablished) << "N(R) 4 is valid";
        EXPECT_EQ(snapshot(kLayer).outstanding, 0);
        takeUp();
        if (mode == kLinkLayerKeeping) {
            EXPECT_EQ(acknowledged, (std::vector<std::string>{"0", "1", "2", "3"}));
        }
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

// Frames received in a burst are all handled before the serial task gets to the sends they
// caused. A frame sent twice in that time goes down each time as it was then: its second header
// (a newer N(R)) must not show in the first send, which the line carries before RRs with older
// N(R)s.
TEST_F(Hdlc, EachSendCarriesTheFrameAsItWasHandedDown) {
    for (uint16_t mode : {kLinkLayerFramed, kLinkLayerKeeping}) {
        SCOPED_TRACE(mode);
        establish(mode, 7);
        data("a");
        EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(0, 0), {'a'})}));
        post(rsp(S(kREJ, 0)));  // frame 0 again
        post(cmd(I(0, 0), {'x'}));
        post(cmd(I(1, 0), {'y'}));
        post(rsp(S(kREJ, 0)));  // and again, now with N(R) 2
        rig.step();
        EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(0, 0), {'a'}), ourRsp(S(kRR, 1)), ourRsp(S(kRR, 2)),
                                                  ourCmd(I(0, 2), {'a'})}));
        inject(rsp(S(kRR, 1)));
        EXPECT_EQ(snapshot(kLayer).outstanding, 0);
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

// Out of sequence, in either framed mode: the first frame after a gap is answered with one REJ
// and every such frame is dropped (a frame kept for later could be a repeat); the peer's resend
// from N(R) fills the gap.
TEST_F(Hdlc, OutOfSequenceFramesAreRejectedOnceAndDropped) {
    for (uint16_t mode : {kLinkLayerFramed, kLinkLayerKeeping}) {
        SCOPED_TRACE(mode);
        establish(mode, 3);
        received.clear();
        inject(cmd(I(0, 0), {'0'}));
        EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kRR, 1))}));
        inject(cmd(I(2, 0), {'2'}));
        EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kREJ, 1))}));
        inject(cmd(I(3, 0), {'3'}));
        inject(cmd(I(0, 0), {'0'}));  // from before the gap
        EXPECT_TRUE(takeSent().empty()) << "one REJ per gap";
        inject(cmd(I(4, 0, true), {'4'}));
        EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kRR, 1, true))})) << "polled while rejecting";
        for (char c : {'1', '2', '3'}) inject(cmd(I(static_cast<uint8_t>(c - '0'), 0), {static_cast<uint8_t>(c)}));
        takeUp();
        EXPECT_EQ(received, (std::vector<std::string>{"0", "1", "2", "3"}));
        EXPECT_EQ(snapshot(kLayer).vr, 4);
        EXPECT_FALSE(snapshot(kLayer).rejectCondition);
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

TEST_F(Hdlc, RetryLimit) {
    for (uint16_t mode : {kLinkLayerFramed, kLinkLayerKeeping}) {
        SCOPED_TRACE(mode);
        configure(mode);
        RuntimeMessage open(kEstablishRequest);
        open.put8(6, 1);
        toLayer(open);
        toLayer(RuntimeMessage(kPortUp), kLower);
        unsigned sabms = takeSent().size();
        for (int i = 0; i < 25 && snapshot(kLayer).state == kAwaitingEstablishment; ++i) {
            t1();
            sabms += takeSent().size();
        }
        EXPECT_EQ(sabms, mode == kLinkLayerKeeping ? 20u : 9u);
        EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kPortUpIndication, kReleasedInd}));
        EXPECT_EQ(snapshot(kLayer).state, kReleased);
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeUp();
    }
}

TEST_F(Hdlc, T1PollsAndRetransmits) {
    establish();
    data("a");
    data("b");
    takeSent();
    t1();
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(S(kRR, 0, true))})) << "enquiry";
    EXPECT_TRUE(snapshot(kLayer).pollOutstanding);
    data("c");
    EXPECT_TRUE(takeSent().empty()) << "nothing new while the poll is out";
    inject(rsp(S(kRR, 1, true)));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(1, 0), {'b'}), ourCmd(I(2, 0), {'c'})}));
    inject(rsp(S(kRR, 3)));
    EXPECT_EQ(snapshot(kLayer).outstanding, 0);
    // Without an answer the link is reset after N200 tries.
    data("d");
    takeSent();
    for (int i = 0; i < 9; ++i) t1();
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kReleasedInd}));
    EXPECT_EQ(snapshot(kLayer).state, kAwaitingEstablishment);
}

// The peer's poll is answered at once, also while our own poll is out.
TEST_F(Hdlc, PollInAnIFrameIsAnsweredWhileOurPollIsOut) {
    establish();
    data("a");
    takeSent();
    t1();
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(S(kRR, 0, true))}));
    inject(cmd(I(0, 0, true), {'x'}));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kRR, 1, true))}));
    EXPECT_TRUE(snapshot(kLayer).pollOutstanding) << "ours still waits for its answer";
}

TEST_F(Hdlc, FrameRejectReasons) {
    struct Case {
        Frame in;
        Bytes frmr;
    } cases[] = {
        {rsp(S(kRR, 0), {0xAA}), {S(kRR, 0), 0x10, 3}},      // an S frame with an information field
        {cmd(S(kRR, 0), {0xAA}), {S(kRR, 0), 0x00, 3}},
        {rsp(S(kRR, 5)), {S(kRR, 5), 0x10, 8}},               // N(R) beyond V(S)
        {cmd(I(0, 3), {'x'}), {I(0, 3), 0x00, 8}},
        {cmd(I(0, 0), Bytes(301, 'y')), {I(0, 0), 0x00, 4}},  // longer than the configured 302
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in);
        establish();
        inject(c.in);
        std::vector<Frame> out = takeSent();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), ourRsp(U(kFRMR, false), c.frmr));
        EXPECT_EQ(snapshot(kLayer).state, kFrameRejected);
        // T1 then asks the peer to start over.
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

TEST_F(Hdlc, ShortPayloadsAreDropped) {
    establish();
    injectRaw({});
    injectRaw({kPeerCmd});
    EXPECT_TRUE(takeSent().empty());
    EXPECT_TRUE(takeUp().empty());
    EXPECT_EQ(snapshot(kLayer).state, kEstablished);
}

TEST_F(Hdlc, OwnBusy) {
    establish();
    // Hold receive buffers until fewer than four are left after the next frame.
    std::vector<uint8_t*> held;
    for (int i = 0; i < 8; ++i) {
        uint8_t* b = nullptr;
        ASSERT_EQ(rig.rt.getBuffer(rxPool, 300, &b), kOk);
        held.push_back(b);
    }
    inject(cmd(I(0, 0), {'0'}));  // its buffer stays with the upper layer until takeUp
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kRNR, 1))}));
    EXPECT_TRUE(snapshot(kLayer).ownBusy);
    inject(cmd(I(1, 0), {'1'}));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourRsp(S(kRNR, 2))}));
    takeUp();
    for (uint8_t* b : held) rig.rt.freeBuffer(b);
    rig.step();
    EXPECT_FALSE(snapshot(kLayer).ownBusy);
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(S(kRR, 2, true))})) << "busy ended: poll the peer";
    inject(rsp(S(kRR, 0, true)));
    EXPECT_FALSE(snapshot(kLayer).pollOutstanding);
}

TEST_F(Hdlc, PeerBusyHoldsFramesBack) {
    establish();
    inject(rsp(S(kRNR, 0)));
    EXPECT_TRUE(snapshot(kLayer).peerBusy);
    data("a");
    EXPECT_TRUE(takeSent().empty());
    inject(rsp(S(kRR, 0)));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(0, 0), {'a'})}));
}

TEST_F(Hdlc, RawModePassesThrough) {
    establish(kLinkLayerRaw);
    data("at\r");
    EXPECT_EQ(lower.got.size(), 1u);
    RuntimeMessage sent = lower.take().at(0);
    EXPECT_EQ(sent.id(), kSerialSend);
    EXPECT_EQ(sent.u16(8), 7) << "unchanged";
    rig.rt.freeBuffer(sent.pointer());
    injectRaw({'O', 'K'});
    takeUp();
    EXPECT_EQ(received, (std::vector<std::string>{"OK"}));
    toLayer(RuntimeMessage(kReleaseRequest));
    EXPECT_EQ(lower.take().at(0).id(), kSerialClose);
    EXPECT_EQ(snapshot(kLayer).state, kPortClosed);
}

// The peer's repeats after a lost acknowledgement or a lost REJ: its T1 sends every frame from its
// V(A) again, the first with P. Each byte is passed up once and in order; a repeat is never kept
// as a new frame, which modulo 8 cannot be told from one above a window of 4.
TEST_F(Hdlc, RepeatsAfterALostAcknowledgementArePassedUpOnce) {
    struct Sent {
        uint16_t number;  // unwrapped; N(S) is its low three bits
        bool p;
    };
    const struct Case {
        const char* name;
        uint16_t mode;
        uint8_t window;
        std::vector<Sent> frames;  // as they arrive, the lost ones left out
    } cases[] = {
        {"lost RR, window 7", kLinkLayerKeeping, 7,
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},  // our RR 7 is lost
          {0, 1}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},  // T1: all again
          {7, 0}, {8, 0}, {9, 0}}},
        {"lost RR, window 7, plain", kLinkLayerFramed, 7,
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {0, 1}, {1, 0}, {2, 0}, {7, 0}, {8, 0}}},
        {"lost REJ, window 7", kLinkLayerKeeping, 7,
         {{0, 0}, {2, 0}, {3, 0},          // 1 is spoiled, our REJ 1 is lost
          {1, 1}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}},
        {"lost RR, window 3", kLinkLayerKeeping, 3,
         {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 0}, {2, 0}, {3, 0}, {5, 0}, {4, 0}, {5, 0}, {6, 0}}},
        // The adapter's window is its own: nothing tells it ours, nor us its. A larger one than
        // ours puts the repeats of a T1 resend where new frames after a gap would be.
        {"lost RR, ours 4, adapter 7", kLinkLayerKeeping, 4,
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},  // our RR 7 is lost
          {0, 1}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}}},
        {"lost RR and a lost frame, ours 2, adapter 6", kLinkLayerKeeping, 2,
         {{0, 0}, {1, 0}, {2, 0}, {4, 0}, {5, 0},  // 3 lost: REJ 3, which is lost too
          {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}}},
        {"lost RR, ours 4, adapter 7, plain", kLinkLayerFramed, 4,
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {0, 1}, {1, 0}, {2, 0}, {7, 0}, {8, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        establish(c.mode, c.window);
        received.clear();
        std::string expected;
        uint16_t next = 0;
        for (const Sent& f : c.frames) {
            // The frame's data is its number: a repeat carries the bytes of the first copy.
            const uint16_t number = f.number;
            inject(cmd(I(static_cast<uint8_t>(number & 7), 0, f.p), {static_cast<uint8_t>('A' + number)}));
            takeSent();
            if (number >= next) next = static_cast<uint16_t>(number + 1);
        }
        for (uint16_t i = 0; i < next; ++i) expected += static_cast<char>('A' + i);
        takeUp();
        std::string got;
        for (const std::string& r : received) got += r;
        EXPECT_EQ(got, expected);
        EXPECT_EQ(snapshot(kLayer).vr, next & 7);
        toLayer(RuntimeMessage(kPortDown), kLower);
        takeSent();
        takeUp();
    }
}

// An acknowledgement that covers several frames at once is taken whole, and a REJ resends from
// its N(R) at once: nothing waits for T1.
TEST_F(Hdlc, CumulativeAcknowledgementsAndRejectsAreTaken) {
    establish(kLinkLayerFramed, 7);
    for (char c = 'a'; c <= 'g'; ++c) data(std::string(1, c));  // N(S) 0 to 6
    takeSent();
    inject(rsp(S(kRR, 4)));
    for (char c = 'h'; c <= 'k'; ++c) data(std::string(1, c));  // 7, 0, 1, 2
    takeSent();
    inject(rsp(S(kRR, 0)));
    EXPECT_EQ(snapshot(kLayer).state, kEstablished);
    EXPECT_EQ(snapshot(kLayer).va, 0) << "four frames at once";
    EXPECT_EQ(snapshot(kLayer).outstanding, 3);
    inject(rsp(S(kREJ, 1)));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(1, 0), {'j'}), ourCmd(I(2, 0), {'k'})}));
    EXPECT_EQ(snapshot(kLayer).va, 1);
    inject(rsp(S(kRR, 3)));
    EXPECT_EQ(snapshot(kLayer).outstanding, 0);
    EXPECT_FALSE(snapshot(kLayer).t1Running);
}

// Data requests whose buffer leaves no room in front for the two HDLC bytes and the serial
// header are refused and their buffers given back.
TEST_F(Hdlc, DataWithoutHeaderRoomIsRefused) {
    establish();
    uint8_t* b = nullptr;
    ASSERT_EQ(rig.rt.getBuffer(defaultPool, 20, &b), kOk);
    RuntimeMessage m(kDataRequest);
    m.put16(6, 1);
    m.put16(8, 6);
    m.put16(10, 4);
    m.setPointer(b);
    toLayer(m);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(snapshot(kLayer).waiting, 0u);
}

// In mode 130 every data request comes back up: acknowledged (579) or unsent (580), as it came
// down, so that link control can tell its sender the truth. A reset gives back what was queued
// and what the peer had not acknowledged; a request while the link is not established comes
// straight back.
TEST_F(Hdlc, KeepingModeGivesBackWhatItDoesNotSend) {
    establish(kLinkLayerKeeping, 2);
    for (const char* text : {"a", "b", "c"}) data(text);
    EXPECT_EQ(takeSent().size(), 2u);
    inject(rsp(S(kRR, 1)));
    EXPECT_EQ(takeSent(), (std::vector<Frame>{ourCmd(I(2, 0), {'c'})}));
    inject(cmd(U(kSABM, true)));
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kDataAcknowledged, kDataReturned, kDataReturned, kLinkReset,
                                               kEstablishedInd}));
    EXPECT_EQ(acknowledged, (std::vector<std::string>{"a"}));
    EXPECT_EQ(returned, (std::vector<std::string>{"b", "c"}));

    data("d");
    data("e");
    takeSent();
    inject(rsp(U(kFRMR), {0, 0, 0}));  // SABM again: the link is being set up anew
    data("f");
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kLinkReset, kDataReturned}));
    inject(rsp(U(kUA, true)));
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kDataReturned, kDataReturned, kEstablishedInd}));
    EXPECT_EQ(returned, (std::vector<std::string>{"b", "c", "f", "d", "e"}));

    // The peer stops answering: when T1 has run out N200 times the link is released and set up
    // anew, and what it held comes back before the release.
    data("g");
    takeSent();
    for (int i = 0; i < 25 && snapshot(kLayer).state == kEstablished; ++i) {
        t1();
        takeSent();
    }
    EXPECT_EQ(takeUp(), (std::vector<uint16_t>{kDataReturned, kReleasedInd}));
    EXPECT_EQ(returned.back(), "g");

}

}  // namespace
}  // namespace stack
