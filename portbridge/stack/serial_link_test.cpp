// The stack's bottom half over a real pty port pair under Wine: the serial task opens the port,
// wakes the simulated ISDN Tamrisk with "at", switches it to framed mode with "atcm3", and the
// HDLC layer brings up the link and carries data both ways while the simulator spoils frames.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "portbridge/stack/hdlc.h"
#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/serial_task.h"
#include "portbridge/stack/stack_messages.h"
#include "portbridge/stack/timer_service.h"
#include "portbridge/stack/stack_test_support.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

namespace stack {
namespace {

using isdnsim::Bytes;

constexpr uint32_t kTop = kLinkControlTask;
constexpr unsigned kFrames = 1000;

// Stands where the link control will: keeps indications and data, frees what it is given.
class Top {
public:
    explicit Top(COSRuntime& rt) : rt_(rt) { rt_.createTaskQueue(kTop, &Top::handle, this, &queue_); }
    uint16_t queue() const { return queue_; }

    std::vector<uint16_t> ids() {
        std::lock_guard<std::mutex> hold(m_);
        return ids_;
    }
    std::vector<Bytes> data() {
        std::lock_guard<std::mutex> hold(m_);
        return data_;
    }
    size_t dataCount() {
        std::lock_guard<std::mutex> hold(m_);
        return data_.size();
    }
    uint16_t headerRoom() {
        std::lock_guard<std::mutex> hold(m_);
        return headerRoom_;
    }
    // Waits (up to `ms`, the machine may be slow) until `id` has come `count` times.
    bool waitFor(uint16_t id, DWORD ms, size_t count = 1) {
        return testing::waitForId([this] { return ids(); }, id, ms, count);
    }

private:
    static void handle(void* c) {
        Top& t = *static_cast<Top*>(c);
        RuntimeMessage m;
        if (t.rt_.receiveMessage(t.queue_, &m) != kOk) return;
        uint8_t* b = static_cast<uint8_t*>(m.pointer());
        std::lock_guard<std::mutex> hold(t.m_);
        t.ids_.push_back(m.id());
        if (m.id() == kDataIndication || m.id() == kUnitDataIndication) {
            t.data_.push_back(Bytes(b + m.u16(8), b + m.u16(8) + m.u16(10)));
            t.rt_.freeBuffer(b);
        } else if (m.id() == kDataAcknowledged) {
            if (m.u16(6) & 1) t.rt_.freeBuffer(b);
        } else if (m.id() == kConfigured && b) {
            t.headerRoom_ = block16(b, config::kTransmitHeaderRoom);
        }
    }
    COSRuntime& rt_;
    uint16_t queue_ = 0;
    std::mutex m_;
    std::vector<uint16_t> ids_;
    std::vector<Bytes> data_;
    uint16_t headerRoom_ = 0;
};

// The stack as the provider runs it: a runtime thread stepping every 10 ms and a 10 ms tick.
class SerialLink : public ::testing::Test {
protected:
    SerialLink() : lm(rt), top(rt) {}

    void SetUp() override {
        pair = winetest::GetPortPair(0);
        sim.ServeCapi(false);  // the bare link: the frames here are not CAPI messages
        ASSERT_TRUE(sim.Start(pair.b));
        rt.createTask(&timerServiceInit, 0, kTimerTask, 1);
        rt.createTask(&hdlcInit, 228, kHdlcTask, 0x101);
        rt.createTask(&serialTaskInit, 264, kSerialTask, 0x102);
        rt.schedulerStep();
        ASSERT_EQ(rt.findQueue(kHdlcTask, &hdlcQueue), kOk);
        ASSERT_EQ(rt.findQueue(kSerialTask, &serialQueue), kOk);
        ASSERT_EQ(rt.createPool(0x4F0, 2350, 20, &txPool), kOk);
        ASSERT_EQ(rt.createPool(0x8F0, 2350, 20, &rxPool), kOk);
        setSerialPortName(pair.a.c_str());
        setSerialModeCommand("atcm3\n\r");

        RuntimeMessage toSerial(kBound);
        toSerial.put16(9, hdlcQueue);
        rt.sendMessage(serialQueue, toSerial);
        RuntimeMessage toHdlc(kBound);
        toHdlc.put16(9, top.queue());
        toHdlc.put16(11, serialQueue);
        rt.sendMessage(hdlcQueue, toHdlc);
        RuntimeMessage pool(kReceivePool);
        pool.put16(6, rxPool);
        send(pool);
        rt.schedulerStep();

        ASSERT_TRUE(runtime.start(rt, nullptr, nullptr));
        ticker = std::thread([this] {
            while (!stop) {
                timerTick();
                Sleep(10);
            }
        });
    }

    void TearDown() override {
        send(RuntimeMessage(kSerialClose), kTop, serialQueue);
        top.waitFor(kPortDownIndication, 30000);
        stop = true;
        runtime.stop();
        if (ticker.joinable()) ticker.join();
        sim.Stop();
    }

    void send(RuntimeMessage m, uint32_t from = kTop, uint16_t to = 0) {
        m.setAddress(from);
        ASSERT_EQ(rt.sendMessage(to ? to : hdlcQueue, m), kOk);
    }

    void bringUp(uint8_t window) { bringUp(window, window); }
    // Configuration as the link control sends it for framed mode, then the port opens. The
    // adapter's window is its own setting: nothing on the line tells either end the other's.
    void bringUp(uint8_t window, uint8_t adapterWindow) {
        std::memset(block, 0, sizeof(block));
        setBlock16(block, config::kReceiveHeaderRoom, 2);
        setBlock16(block, config::kMaxFrameLength, 2302);
        setBlock16(block, config::kLinkMode, kLinkModeFramed);
        setBlock16(block, config::kLinkLayerMode, kLinkLayerKeeping);
        setBlock16(block, config::kBaudCode, 9);
        setBlock16(block, config::kDataBits, 8);
        setBlock16(block, config::kStopBits, 1);
        block[20] = 3, block[21] = 1, block[22] = 8, block[23] = window;
        sim.WithLink([&](isdnsim::TamriskLink& l) {
            l.window = adapterWindow;
            return Bytes();
        });
        RuntimeMessage configure(kConfigure);
        configure.setPointer(block);
        send(configure);
        ASSERT_TRUE(top.waitFor(kConfigured, 10000));
        ASSERT_EQ(top.headerRoom(), 7) << "five serial and two HDLC bytes";
        send(RuntimeMessage(kConfigurationDone));
        ASSERT_TRUE(top.waitFor(kPortUpIndication, 30000)) << "AT wake-up and atcm3";
        ASSERT_TRUE(sim.Framed());
        RuntimeMessage connect(kEstablishRequest);
        connect.put8(6, 1);
        send(connect);
        ASSERT_TRUE(top.waitFor(kEstablishedInd, 10000));
    }

    // One data request from the top; waits while the transmit pool is empty.
    void sendData(const Bytes& payload) {
        uint8_t* b = nullptr;
        for (int i = 0; i < 60000 && rt.getBuffer(txPool, static_cast<uint16_t>(7 + payload.size() + 1), &b) != kOk; ++i)
            Sleep(1);
        ASSERT_NE(b, nullptr) << "transmit buffers never came back";
        std::memcpy(b + 7, payload.data(), payload.size());
        RuntimeMessage m(kDataRequest);
        m.put16(6, 1);
        m.put16(8, 7);
        m.put16(10, static_cast<uint16_t>(payload.size()));
        m.setPointer(b);
        send(m);
    }

    std::vector<Bytes> simReceived() {
        return sim.ReadLink([](const isdnsim::TamriskLink& l) { return l.received; });
    }

    static Bytes payloadFor(unsigned i, char side) {
        Bytes p(1 + (i * 37) % 200);
        for (size_t k = 0; k < p.size(); ++k) p[k] = static_cast<uint8_t>(side + i * 7 + k);
        p[0] = static_cast<uint8_t>(i);
        if (p.size() > 2) p[1] = static_cast<uint8_t>(i >> 8);
        if (i % 50 == 0) p.push_back(0x7E), p.push_back(0x7E);  // flags inside the payload
        return p;
    }

    COSRuntime rt;
    testing::StandInLayerManagement lm;
    Top top;
    isdnsim::IsdnSimulator sim;
    winetest::PortPair pair;
    uint16_t hdlcQueue = 0, serialQueue = 0, txPool = 0, rxPool = 0;
    uint8_t block[config::kSize] = {};
    COSRuntimeThread runtime;
    std::thread ticker;
    std::atomic<bool> stop{false};
};

TEST_F(SerialLink, WakeUpFramedModeAndSabm) {
    bringUp(7, 7);
    std::vector<std::string> commands = sim.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands.front(), "at\n\r");
    EXPECT_EQ(commands.back(), "atcm3\n\r");
    Bytes head = sim.ReadLink([](const isdnsim::TamriskLink& l) { return l.line_head; });
    const Bytes sabm = {0x7E, 0x7E, 0x03, 0x00, 0xFF, 0x01, 0x3F, 0x40};
    ASSERT_GE(head.size(), sabm.size());
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 8), sabm) << "SABM with P, first on the line";
    SerialTaskCounters c = serialTaskCounters();
    EXPECT_TRUE(c.portOpen);
    EXPECT_TRUE(c.framing);
    EXPECT_FALSE(c.modemStatusReadable) << "a pty has no modem lines; served as CTS on";
}

// The computer's window and the adapter's, alike and not.
class SerialLinkWindows : public SerialLink, public ::testing::WithParamInterface<std::pair<int, int>> {};
INSTANTIATE_TEST_SUITE_P(Windows, SerialLinkWindows,
                         ::testing::Values(std::make_pair(7, 7), std::make_pair(4, 7), std::make_pair(7, 3)),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& i) {
                             return "Ours" + std::to_string(i.param.first) + "Adapter" + std::to_string(i.param.second);
                         });

TEST_P(SerialLinkWindows, ThousandFramesEachWayThroughFaults) {
    sim.WithLink([](isdnsim::TamriskLink& l) {
        isdnsim::Faults& f = l.faults;
        // What a serial line does: frames lost or spoiled (a line neither reorders nor delays
        // one behind the next), and the adapter's own repeats.
        f.drop[isdnsim::kToAdapter] = {5, 61, 400, 1303};
        f.duplicate[isdnsim::kToAdapter] = {30, 333, 1500};
        f.corrupt_payload[isdnsim::kToAdapter] = {70, 701, 1201};
        f.drop[isdnsim::kToComputer] = {10, 91, 502, 1402};
        f.duplicate[isdnsim::kToComputer] = {40, 600, 1111};
        f.frames[isdnsim::kToComputer][isdnsim::kRrFrame].lose = {80, 801};
        f.frames[isdnsim::kToComputer][isdnsim::kIFrame].repeat = {120, 950};
        f.frames[isdnsim::kToAdapter][isdnsim::kRejFrame].lose = {1};
        f.frames[isdnsim::kToAdapter][isdnsim::kPollFrame].lose = {1};
        f.corrupt_payload[isdnsim::kToComputer] = {150, 1600};
        f.corrupt_header[isdnsim::kToComputer] = {250};
        return Bytes();
    });
    bringUp(static_cast<uint8_t>(GetParam().first), static_cast<uint8_t>(GetParam().second));
    sim.WithLink([&](isdnsim::TamriskLink& l) {
        for (unsigned i = 0; i < kFrames; ++i) l.QueueData(payloadFor(i, 'S'));
        return Bytes();
    });
    for (unsigned i = 0; i < kFrames; ++i) sendData(payloadFor(i, 'P'));
    const DWORD start = GetTickCount();
    // Each lost or spoilt frame costs a retransmission time-out: alone this takes a few seconds, on a
    // loaded machine it has taken close to a minute.
    while ((simReceived().size() < kFrames || top.dataCount() < kFrames) && GetTickCount() - start < 100000) Sleep(20);

    std::vector<Bytes> atSim = simReceived();
    // LINK_DEBUG=1 prints both ends' state, for when this fails.
    if (std::getenv("LINK_DEBUG")) {
        sim.ReadLink([&](const isdnsim::TamriskLink& l) {
            std::printf("sim: state %d rx %zu queued %zu sabm %u frmr %u rej %u in %u out %u resync %u badsum %u\n", l.state(),
                        l.received.size(), l.QueuedData(), l.sabms, l.frmrs_sent, l.rejs_sent, l.frames_in, l.frames_out,
                        l.line.resyncs, l.line.bad_sums);
            for (const Bytes& f : l.frmr_log) std::printf("  frmr %02X %02X %02X vs %u va %u\n", f[0], f[1], f[2], f[3], f[4]);
            return 0;
        });
        hdlc::Snapshot s = hdlc::snapshot(kHdlcTask);
        std::printf("hdlc: state %u vs %u va %u vr %u out %u waiting %u poll %d peerbusy %d own %d rej %d t1 %d top %zu ms %lu\n",
                    s.state, s.vs, s.va, s.vr, s.outstanding, s.waiting, s.pollOutstanding, s.peerBusy, s.ownBusy,
                    s.rejectCondition, s.t1Running, top.dataCount(), GetTickCount() - start);
    }
    ASSERT_EQ(atSim.size(), kFrames) << "frames the adapter took";
    for (unsigned i = 0; i < kFrames; ++i) ASSERT_EQ(atSim[i], payloadFor(i, 'P')) << "to the adapter, frame " << i;
    std::vector<Bytes> atTop = top.data();
    ASSERT_EQ(atTop.size(), kFrames) << "frames the stack passed up";
    for (unsigned i = 0; i < kFrames; ++i) ASSERT_EQ(atTop[i], payloadFor(i, 'S')) << "to the computer, frame " << i;
    SerialTaskCounters c = serialTaskCounters();
    EXPECT_GE(c.badPayloadSums + c.badHeaderSums, 2u) << "the corrupted frames were caught by the sums";
    for (uint16_t id : top.ids()) EXPECT_NE(id, kLinkReset) << "no link reset on the way";
}

// An adapter whose window (7) is larger than ours (4) misses every acknowledgement of a window
// and sends all of it again on T1: the repeats lie where new frames after a gap would, and each
// frame is still passed up once and in order.
TEST_F(SerialLink, RepeatsFromALargerAdapterWindowArePassedUpOnce) {
    sim.WithLink([](isdnsim::TamriskLink& l) {
        l.faults.frames[isdnsim::kToAdapter][isdnsim::kRrFrame].lose = {1, 2, 3, 4, 5, 6, 7};
        return Bytes();
    });
    bringUp(4, 7);
    constexpr unsigned kSent = 14;
    sim.WithLink([&](isdnsim::TamriskLink& l) {
        for (unsigned i = 0; i < kSent; ++i) l.QueueData(payloadFor(i, 'S'));
        return l.Flush();
    });
    const DWORD start = GetTickCount();
    while (top.dataCount() < kSent && GetTickCount() - start < 30000) Sleep(20);
    Sleep(300);  // a repeat passed up twice would come now
    unsigned resends = 0;
    sim.ReadLink([&](const isdnsim::TamriskLink& l) { return resends = l.t1_resends; });
    EXPECT_GE(resends, 1u) << "the adapter sent its window again";
    std::vector<Bytes> atTop = top.data();
    ASSERT_EQ(atTop.size(), kSent);
    for (unsigned i = 0; i < kSent; ++i) EXPECT_EQ(atTop[i], payloadFor(i, 'S')) << "frame " << i;
}

// One link through the adapter's misbehaviour, each followed by data both ways.
class SerialLinkFaults : public SerialLink {
protected:
    void roundTrip(const std::string& tag) {
        SCOPED_TRACE(tag);
        const Bytes up(tag.begin(), tag.end());
        const Bytes down = Bytes(up.rbegin(), up.rend());
        const size_t atSim = simReceived().size(), atTop = top.dataCount();
        sim.WithLink([&](isdnsim::TamriskLink& l) {
            l.QueueData(up);
            return Bytes();
        });
        sendData(down);
        const DWORD start = GetTickCount();
        while ((simReceived().size() <= atSim || top.dataCount() <= atTop) && GetTickCount() - start < 20000) Sleep(10);
        std::vector<Bytes> s = simReceived(), t = top.data();
        ASSERT_EQ(s.size(), atSim + 1);
        EXPECT_EQ(s.back(), down);
        ASSERT_EQ(t.size(), atTop + 1);
        EXPECT_EQ(t.back(), up);
    }
    void raw(const Bytes& serialBytes) {
        sim.WithLink([&](isdnsim::TamriskLink& l) { return l.SendRaw(serialBytes); });
    }
    size_t count(uint16_t id) {
        size_t n = 0;
        for (uint16_t i : top.ids()) n += i == id;
        return n;
    }
};

TEST_F(SerialLinkFaults, AdapterMisbehaving) {
    bringUp(7, 7);
    roundTrip("first");

    // Frames the serial receiver must drop and resynchronise after: the length field 0, an
    // empty payload and a one-byte payload (too short for HDLC), a length above the maximum, a
    // bad header sum, a bad payload sum.
    const SerialTaskCounters before = serialTaskCounters();
    raw(isdnsim::SerialFrames::WithLength(0, {}));
    raw(isdnsim::SerialFrames::Wrap({}));
    raw(isdnsim::SerialFrames::Wrap({0x03}));
    raw(isdnsim::SerialFrames::WithLength(2400, {0x03, 0x01}));
    Bytes badHeader = isdnsim::SerialFrames::Wrap({0x03, 0x01});
    badHeader[4] ^= 0x40;
    raw(badHeader);
    Bytes badSum = isdnsim::SerialFrames::Wrap({0x03, 0x01});
    badSum.back() ^= 0x01;
    raw(badSum);
    roundTrip("after bad frames");
    const SerialTaskCounters after = serialTaskCounters();
    EXPECT_EQ(after.emptyLength - before.emptyLength, 1u);
    EXPECT_EQ(after.tooLong - before.tooLong, 1u);
    EXPECT_EQ(after.badHeaderSums - before.badHeaderSums, 1u);
    EXPECT_EQ(after.badPayloadSums - before.badPayloadSums, 1u);

    // Unnumbered information from the adapter goes up as such.
    sim.WithLink([](isdnsim::TamriskLink& l) { return l.SendUi({'u', 'i'}); });
    ASSERT_TRUE(top.waitFor(kUnitDataIndication, 10000));

    // Busy: the adapter holds the computer's frame back with RNR until it is ready again.
    sim.WithLink([](isdnsim::TamriskLink& l) {
        l.faults.busy = true;
        return Bytes();
    });
    const size_t atSim = simReceived().size();
    sendData({'b', 'u', 's', 'y'});
    Sleep(300);
    EXPECT_EQ(simReceived().size(), atSim) << "nothing taken while busy";
    sim.WithLink([](isdnsim::TamriskLink& l) { return l.EndBusy(); });
    const DWORD start = GetTickCount();
    while (simReceived().size() == atSim && GetTickCount() - start < 20000) Sleep(10);
    ASSERT_EQ(simReceived().size(), atSim + 1);
    EXPECT_EQ(simReceived().back(), (Bytes{'b', 'u', 's', 'y'}));

    // Silent for a while: T1 polls, and once the adapter answers again nothing is lost.
    sim.WithLink([](isdnsim::TamriskLink& l) {
        l.faults.silent = true;
        return Bytes();
    });
    const size_t beforeSilence = simReceived().size();
    sendData({'s', 'i', 'l', 'e', 'n', 't'});
    Sleep(1500);
    sim.WithLink([](isdnsim::TamriskLink& l) {
        l.faults.silent = false;
        return Bytes();
    });
    const DWORD quiet = GetTickCount();
    while (simReceived().size() == beforeSilence && GetTickCount() - quiet < 20000) Sleep(10);
    ASSERT_EQ(simReceived().size(), beforeSilence + 1);
    EXPECT_EQ(simReceived().back(), (Bytes{'s', 'i', 'l', 'e', 'n', 't'}));
    roundTrip("after silence");
    EXPECT_EQ(count(kLinkReset), 0u);

    // The adapter starts the link over itself.
    sim.WithLink([](isdnsim::TamriskLink& l) { return l.StartSabm(); });
    ASSERT_TRUE(top.waitFor(kLinkReset, 10000));
    ASSERT_TRUE(top.waitFor(kEstablishedInd, 10000, 2));
    roundTrip("after the adapter's SABM");

    // DM: the link is released.
    sim.WithLink([](isdnsim::TamriskLink& l) { return l.SendDm(); });
    ASSERT_TRUE(top.waitFor(kReleasedInd, 10000));
    EXPECT_EQ(hdlc::snapshot(kHdlcTask).state, hdlc::kReleased);

    // Closing and opening the port again: "at" on the framed line returns the adapter to its
    // command mode, the wake-up and "atcm3" run again, and the link comes back.
    send(RuntimeMessage(kSerialClose), kTop, serialQueue);
    ASSERT_TRUE(top.waitFor(kPortDownIndication, 30000));
    EXPECT_FALSE(serialTaskCounters().portOpen);
    sim.ClearLog();
    send(RuntimeMessage(kConfigurationDone));
    ASSERT_TRUE(top.waitFor(kPortUpIndication, 30000, 2));
    ASSERT_TRUE(sim.Framed());
    std::vector<std::string> commands = sim.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "atcm3\n\r");
    RuntimeMessage connect(kEstablishRequest);
    connect.put8(6, 1);
    send(connect);
    ASSERT_TRUE(top.waitFor(kEstablishedInd, 10000, 3));
    roundTrip("after reopening");
}

// What the serial task refuses to write: a frame whose header or sum would fall outside its
// buffer is dropped and its buffer given back; in mode 128 nothing is written and the buffer
// comes back too.
TEST_F(SerialLink, SendChecksTheBufferAndMode128FreesIt) {
    bringUp(7, 7);
    uint16_t defaultPool = 0;
    rt.findDefaultPool(&defaultPool);
    const uint32_t freeBefore = rt.poolHasBuffer(defaultPool, 1);
    auto sendRaw = [&](uint16_t offset, uint16_t length) {
        uint8_t* b = nullptr;
        ASSERT_EQ(rt.getBuffer(defaultPool, 200, &b), kOk);
        RuntimeMessage m(kSerialSend);
        m.put16(6, 1);
        m.put16(8, offset);
        m.put16(10, length);
        m.setPointer(b);
        send(m, kHdlcTask, serialQueue);
    };
    const unsigned refused = serialTaskCounters().sendsRefused;
    sendRaw(4, 10);     // no room for the header in front
    sendRaw(5, 251);    // no byte for the sum behind (the buffer holds 256)
    sendRaw(300, 1);    // past the end
    for (int i = 0; i < 500 && serialTaskCounters().sendsRefused < refused + 3; ++i) Sleep(10);
    EXPECT_EQ(serialTaskCounters().sendsRefused, refused + 3);
    EXPECT_EQ(rt.poolHasBuffer(defaultPool, 1), freeBefore) << "every refused buffer given back";

    setBlock16(block, config::kLinkMode, kLinkModeSilent);
    RuntimeMessage configure(kConfigure);
    configure.setPointer(block);
    send(configure, kHdlcTask, serialQueue);
    const unsigned written = serialTaskCounters().framesWritten;
    sendRaw(5, 10);
    for (int i = 0; i < 500 && serialTaskCounters().sendsRefused < refused + 4; ++i) Sleep(10);
    EXPECT_EQ(serialTaskCounters().framesWritten, written);
    EXPECT_EQ(rt.poolHasBuffer(defaultPool, 1), freeBefore) << "mode 128 gives the buffer back";
}

// An adapter that answers "at" only on the third try is woken all the same; one that refuses
// "atcm3" leaves the port open with framing off, and closing works then too.
TEST_F(SerialLink, WakeUpRetriesAndCloseWithoutFraming) {
    sim.With([](isdnsim::IsdnAdapter& a) {
        a.behaviour().ignore_first = 2;
        a.behaviour().error_on = {"ATCM3"};
        return 0;
    });
    std::memset(block, 0, sizeof(block));
    setBlock16(block, config::kMaxFrameLength, 2302);
    setBlock16(block, config::kLinkMode, kLinkModeFramed);
    setBlock16(block, config::kLinkLayerMode, kLinkLayerKeeping);
    block[22] = 8;
    RuntimeMessage configure(kConfigure);
    configure.setPointer(block);
    send(configure);
    ASSERT_TRUE(top.waitFor(kConfigured, 10000));
    send(RuntimeMessage(kConfigurationDone));
    // Wait until the adapter has seen the mode command and refused it.
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> c = sim.Commands();
        if (!c.empty() && c.back() == "atcm3\n\r") break;
        ASSERT_LT(GetTickCount() - start, 30000u) << "no mode command";
        Sleep(20);
    }
    std::vector<std::string> c = sim.Commands();
    EXPECT_EQ(c.size(), 4u) << "three wake-ups, then the mode command";
    Sleep(1200);  // the mode command's wait runs out
    EXPECT_TRUE(serialTaskCounters().portOpen);
    EXPECT_FALSE(serialTaskCounters().framing);
    for (uint16_t id : top.ids()) EXPECT_NE(id, kPortUpIndication);
    send(RuntimeMessage(kSerialClose), kTop, serialQueue);
    ASSERT_TRUE(top.waitFor(kPortDownIndication, 30000));
    EXPECT_FALSE(serialTaskCounters().portOpen) << "closed although framing never came on";
}

double nowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Goodput of long one-way transfers each way, the adapter pacing its line at 115200 bit/s (11520
// bytes a second), against the line's ceiling for the frame size: payload / (payload + 8 bytes of
// serial frame and HDLC header). Each way is timed from the hand-over to the last frame taken, so
// the limit is every frame's line time. Not a timed test: it runs only when asked for
// (LINK_BENCHMARK=1) and prints its ratios.

TEST_F(SerialLink, Benchmark) {
    if (!std::getenv("LINK_BENCHMARK")) GTEST_SKIP() << "set LINK_BENCHMARK=1 to run";
    constexpr double kLineBytesPerSecond = 11520;
    bool first = true;
    for (uint8_t window : {4, 7}) {
        for (size_t payload : {size_t(2302), size_t(256)}) {
            if (first) {
                bringUp(window);
                first = false;
            } else {
                // The window is the adapter's and the link layer's: a new link with it.
                auto count = [&](uint16_t id) {
                    size_t n = 0;
                    for (uint16_t i : top.ids()) n += i == id;
                    return n;
                };
                const size_t released = count(kReleaseConfirm), established = count(kEstablishedInd);
                send(RuntimeMessage(kReleaseRequest));
                for (int i = 0; i < 1000 && count(kReleaseConfirm) == released; ++i) Sleep(10);
                ASSERT_GT(count(kReleaseConfirm), released);
                block[23] = window;
                setBlock16(block, config::kMaxFrameLength, 2302);
                setBlock16(block, config::kReceiveHeaderRoom, 2);
                setBlock16(block, config::kLinkLayerMode, kLinkLayerKeeping);
                RuntimeMessage configure(kConfigure);
                configure.setPointer(block);
                send(configure);
                sim.WithLink([&](isdnsim::TamriskLink& l) {
                    l.window = window;
                    return Bytes();
                });
                RuntimeMessage connect(kEstablishRequest);
                connect.put8(6, 1);
                send(connect);
                for (int i = 0; i < 1000 && count(kEstablishedInd) == established; ++i) Sleep(10);
                ASSERT_GT(count(kEstablishedInd), established);
            }
            sim.SetPacing(static_cast<unsigned>(kLineBytesPerSecond));
            const size_t frames = payload > 1000 ? 40 : 300;
            const size_t before = top.dataCount();
            // In: from the hand-over to the adapter to the last frame taken here, against every
            // frame's line time (the first one's too: it has to cross the line as well).
            const double start = nowMs();
            sim.WithLink([&](isdnsim::TamriskLink& l) {
                for (size_t i = 0; i < frames; ++i) l.QueueData(Bytes(payload, static_cast<uint8_t>(i)));
                return Bytes();
            });
            while (top.dataCount() < before + frames && nowMs() - start < 120000) Sleep(1);
            const double inMs = nowMs() - start;
            ASSERT_EQ(top.dataCount(), before + frames);
            const double ceiling = kLineBytesPerSecond * payload / (payload + 8);
            const double in = frames * payload / (inMs / 1000.0);
            // The other way: the stack's own sending, from the first request to the adapter's
            // last frame taken.
            const size_t taken = simReceived().size();
            const double sendAt = nowMs();
            for (size_t i = 0; i < frames; ++i) sendData(Bytes(payload, static_cast<uint8_t>(i)));
            while (simReceived().size() < taken + frames && nowMs() - sendAt < 120000) Sleep(1);
            const double outMs = nowMs() - sendAt;
            sim.SetPacing(0);
            ASSERT_EQ(simReceived().size(), taken + frames);
            const double out = frames * payload / (outMs / 1000.0);
            std::printf("window %u, %4u-byte frames: in %7.0f B/s, out %7.0f B/s, ceiling %7.0f B/s: ratio in %.3f, "
                        "out %.3f\n",
                        window, static_cast<unsigned>(payload), in, out, ceiling, in / ceiling, out / ceiling);
        }
    }
}

}  // namespace
}  // namespace stack
