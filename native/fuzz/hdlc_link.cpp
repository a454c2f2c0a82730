// The HDLC layer on the task runtime against the simulated adapter's station, over a line that
// the input drives: which frames go across and when, which are lost or arrive twice, data both
// ways, time, and resets from either end. The station has a window of its own, so repeats after a
// lost acknowledgement land where new frames after a gap would.
//
// What must hold whatever the line does: each side passes data up in order and never twice (a
// reset may lose data, never repeat it), and every N(R) this side writes on the line is its V(R)
// when the frame was handed down. The runtime runs messages in the order they were sent, so when
// the stand-in serial task below handles a send, the task above has had exactly the data
// indications sent before it: their count since our last SABM or UA is that V(R). The stand-in takes
// a frame's bytes when it handles the send, as the serial task does, after anything else already
// queued to the HDLC layer (a burst from the line).
//
// Input: byte 0 picks our window (bits 0-2, 0 means 7), the station's (bits 3-5, 0 means 7) and
// the link-layer mode (bit 6: 130, else 0). Then one byte per step, the top three bits the step
// and the low five its argument:
//   0 data from above (1 + arg requests)        1 data queued at the station (1 + arg frames)
//   2 up to 1 + arg % 8 frames to the station   3 up to 1 + arg % 8 frames to us, handled as one burst
//   4 the next frame to the station (arg bit 0 clear) or to us is lost
//   5 the same frame arrives twice
//   6 (1 + arg) * 50 ms pass on both sides      7 arg % 4: the station starts the link again (SABM),
//     the port goes down and up again, the station sends DM, or every frame in flight goes across
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "portbridge/stack/hdlc.h"
#include "portbridge/stack/stack_test_support.h"
#include "simulators/isdn/tamrisk_link.h"

using namespace stack;
using isdnsim::Bytes;

namespace {

constexpr uint16_t kReceiveBuffers = 24;

void check(bool ok) {
    if (!ok) std::abort();
}

uint16_t number(const Bytes& info) { return static_cast<uint16_t>(info.size() >= 2 ? info[0] | info[1] << 8 : 0xFFFF); }

class Link {
public:
    Link() {
        rig_.rt.createTaskQueue(kLinkControlTask, &Link::upperHandler, this, &upperQueue_);
        rig_.rt.createTaskQueue(kSerialTask, &Link::serialHandler, this, &lowerQueue_);
    }

    bool start(uint8_t ourWindow, uint8_t stationWindow, bool keeping) {
        station_.window = stationWindow;
        station_.SetClock(0);
        if (rig_.rt.createTask(&hdlcInit, 228, kHdlcTask, 0x101) != kOk) return false;
        rig_.step();
        if (rig_.rt.findQueue(kHdlcTask, &hdlcQueue_) != kOk) return false;
        if (rig_.rt.createPool(0x2F0, 320, kReceiveBuffers, &rxPool_) != kOk) return false;
        // Data of its own pool: requests the layer holds must not starve its S and U frames.
        if (rig_.rt.createPool(0x4F0, 16, 12, &dataPool_) != kOk) return false;
        RuntimeMessage bound(kBound);
        bound.put16(9, upperQueue_);
        bound.put16(11, lowerQueue_);
        toHdlc(bound, kLinkControlTask);
        RuntimeMessage pool(kReceivePool);
        pool.put16(6, rxPool_);
        toHdlc(pool, kLinkControlTask);
        setBlock16(block_, config::kReceiveHeaderRoom, 2);
        setBlock16(block_, config::kMaxFrameLength, 250);
        setBlock16(block_, config::kLinkMode, kLinkModeFramed);
        setBlock16(block_, config::kLinkLayerMode, keeping ? kLinkLayerKeeping : kLinkLayerFramed);
        block_[20] = 3, block_[21] = 1, block_[22] = 8, block_[23] = ourWindow;
        RuntimeMessage configure(kConfigure);
        configure.setPointer(block_);
        toHdlc(configure, kLinkControlTask);
        open();
        return true;
    }

    void open() {
        RuntimeMessage establish(kEstablishRequest);
        establish.put8(6, 1);
        toHdlc(establish, kLinkControlTask);
    }

    void portDownAndUp() {
        toHdlc(RuntimeMessage(kPortDown), kSerialTask);
        toHdlc(RuntimeMessage(kConfigurationDone), kLinkControlTask);
        open();
    }

    void dataFromAbove(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            uint8_t* b = nullptr;
            if (rig_.rt.getBuffer(dataPool_, 7 + 2 + 1, &b) != kOk) return;  // the layer holds them all
            b[7] = static_cast<uint8_t>(nextOurs_);
            b[8] = static_cast<uint8_t>(nextOurs_ >> 8);
            ++nextOurs_;
            RuntimeMessage m(kDataRequest);
            m.put16(6, 1);
            m.put16(8, 7);
            m.put16(10, 2);
            m.setPointer(b);
            toHdlc(m, kLinkControlTask);
        }
    }

    void dataAtStation(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            station_.QueueData({static_cast<uint8_t>(nextTheirs_), static_cast<uint8_t>(nextTheirs_ >> 8)});
            ++nextTheirs_;
        }
        fromStation(station_.Flush());
    }

    // Up to `count` frames of ours to the station, in order.
    void toStation(unsigned count) {
        for (unsigned i = 0; i < count && !toStation_.empty(); ++i) {
            Bytes p = toStation_.front();
            toStation_.pop_front();
            const Bytes wire = isdnsim::SerialFrames::Wrap(p);
            fromStation(station_.Receive(wire.data(), wire.size()));
            checkStation();
        }
    }

    // Up to `count` of the station's frames to us, all in the layer's queue before it runs: a
    // burst, as the serial reader hands up what one read brought.
    void toUs(unsigned count) {
        for (unsigned i = 0; i < count && !toUs_.empty(); ++i) {
            const Bytes& p = toUs_.front();
            uint8_t* b = nullptr;
            check(rig_.rt.getBuffer(rxPool_, 300, &b) == kOk);  // a receive buffer was lost
            std::memcpy(b, p.data(), p.size());
            RuntimeMessage m(kFrameReceived);
            m.put16(6, 1);
            m.put16(8, 0);
            m.put16(10, static_cast<uint16_t>(p.size()));
            m.setPointer(b);
            m.setAddress(kHdlcTask);
            rig_.rt.sendFrom(kSerialTask, m);
            toUs_.pop_front();
        }
        settle();
    }

    void lose(bool towardsUs) {
        std::deque<Bytes>& q = towardsUs ? toUs_ : toStation_;
        if (!q.empty()) q.pop_front();
    }
    void repeat(bool towardsUs) {
        std::deque<Bytes>& q = towardsUs ? toUs_ : toStation_;
        if (!q.empty()) q.push_front(q.front());
    }

    void pass(unsigned ms) {
        for (unsigned t = 0; t < ms; t += 10) {
            rig_.tick(1);
            now_ += 10;
            fromStation(station_.Tick(now_));
        }
        settle();
    }

    void stationSabm() { fromStation(station_.StartSabm()); }
    void stationDm() { fromStation(station_.SendDm()); }
    void everything() {
        for (int round = 0; round < 16 && (!toStation_.empty() || !toUs_.empty()); ++round) {
            toStation(64);
            for (int i = 0; i < 8 && !toUs_.empty(); ++i) toUs(8);  // bursts the receive pool holds
        }
    }

    void finish() {
        toHdlc(RuntimeMessage(kPortDown), kSerialTask);
        check(rig_.rt.poolHasBuffer(rxPool_, 1) == kReceiveBuffers);
    }

private:
    void toHdlc(RuntimeMessage m, uint32_t from) {
        m.setAddress(kHdlcTask);
        rig_.rt.sendFrom(from, m);
        settle();
    }

    void settle() { rig_.step(); }

    void fromStation(const Bytes& serial) {
        std::vector<Bytes> payloads;
        fromStationLine_.Take(serial.data(), serial.size(), &payloads);
        for (Bytes& p : payloads) toUs_.push_back(std::move(p));
    }

    void checkStation() {
        // In order and once each, gaps allowed (a reset drops what was not acknowledged).
        const std::vector<Bytes>& got = station_.received;
        for (; stationSeen_ < got.size(); ++stationSeen_) {
            const uint16_t n = number(got[stationSeen_]);
            check(n < nextOurs_ && (!anyAtStation_ || n > lastAtStation_));
            lastAtStation_ = n;
            anyAtStation_ = true;
        }
    }

    // The link control, as far as the layer below sees it: it checks the data and gives back
    // every buffer.
    static void upperHandler(void* context) {
        Link& l = *static_cast<Link*>(context);
        RuntimeMessage m;
        if (l.rig_.rt.receiveMessage(l.upperQueue_, &m) != kOk) return;
        uint8_t* b = static_cast<uint8_t*>(m.pointer());
        switch (m.id()) {
        case kDataIndication: {
            const Bytes info(b + m.u16(8), b + m.u16(8) + m.u16(10));
            const uint16_t n = number(info);
            check(n < l.nextTheirs_ && (!l.anyAtUs_ || n > l.lastAtUs_));
            l.lastAtUs_ = n;
            l.anyAtUs_ = true;
            ++l.vr_;
            l.rig_.rt.freeBuffer(b);
            break;
        }
        case kUnitDataIndication:
            l.rig_.rt.freeBuffer(b);
            break;
        case kDataAcknowledged:
            if (m.u16(6) & 1) l.rig_.rt.freeBuffer(b);
            break;
        default:
            break;
        }
    }

    // The serial task, as far as the layer above sees it: it opens at once and takes each
    // frame's bytes when it handles the send.
    static void serialHandler(void* context) {
        Link& l = *static_cast<Link*>(context);
        RuntimeMessage m;
        if (l.rig_.rt.receiveMessage(l.lowerQueue_, &m) != kOk) return;
        switch (m.id()) {
        case kConfigure: {
            uint8_t* block = static_cast<uint8_t*>(m.pointer());
            setBlock16(block, config::kTransmitHeaderRoom, 5);
            RuntimeMessage r(kConfigured);
            r.setPointer(block);
            r.setAddress(kSerialTask);
            l.rig_.rt.sendMessage(l.hdlcQueue_, r);
            break;
        }
        case kSerialOpen: {
            RuntimeMessage r(kPortUp);
            r.setAddress(kSerialTask);
            l.rig_.rt.sendMessage(l.hdlcQueue_, r);
            break;
        }
        case kSerialSend: {
            uint8_t* b = static_cast<uint8_t*>(m.pointer());
            const uint16_t off = m.u16(8), len = m.u16(10);
            l.line(Bytes(b + off, b + off + len));
            if (m.u16(6) & 1) l.rig_.rt.freeBuffer(b);
            break;
        }
        default:
            break;
        }
    }

    // A frame of ours goes on the line: an I or S frame carries V(R) as it was handed down. Our
    // SABM or UA starts a link (V(R) 0); data indications sent before it were handled before it.
    void line(const Bytes& p) {
        check(p.size() >= 2);
        const uint8_t c = p[1];
        const uint8_t u = static_cast<uint8_t>(c & ~0x10);
        if (u == hdlc::kSABM || u == hdlc::kUA)
            vr_ = 0;
        else if ((c & 3) != 3)
            check((c >> 5) == (vr_ & 7));
        toStation_.push_back(p);
    }

    testing::StackRig rig_;
    uint16_t upperQueue_ = 0, lowerQueue_ = 0, hdlcQueue_ = 0, rxPool_ = 0, dataPool_ = 0;
    uint8_t block_[config::kSize] = {};
    isdnsim::TamriskLink station_;
    isdnsim::SerialFrames fromStationLine_;
    std::deque<Bytes> toStation_, toUs_;
    uint32_t now_ = 0;
    uint16_t nextOurs_ = 0, nextTheirs_ = 0;
    size_t stationSeen_ = 0;
    uint16_t lastAtStation_ = 0, lastAtUs_ = 0;
    bool anyAtStation_ = false, anyAtUs_ = false;
    unsigned vr_ = 0;  // data indications since our last SABM or UA
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t ours = data[0] & 7, theirs = (data[0] >> 3) & 7;
    Link link;
    if (!link.start(ours ? ours : 7, theirs ? theirs : 7, data[0] & 0x40)) return 0;
    for (size_t at = 1; at < size; ++at) {
        const uint8_t arg = data[at] & 31;
        switch (data[at] >> 5) {
        case 0: link.dataFromAbove(1 + arg); break;
        case 1: link.dataAtStation(1 + arg); break;
        case 2: link.toStation(1 + arg % 8); break;
        case 3: link.toUs(1 + arg % 8); break;
        case 4: link.lose(arg & 1); break;
        case 5: link.repeat(arg & 1); break;
        case 6: link.pass((1 + arg) * 50u); break;
        default:
            switch (arg % 4) {
            case 0: link.stationSabm(); break;
            case 1: link.portDownAndUp(); break;
            case 2: link.stationDm(); break;
            default: link.everything(); break;
            }
            break;
        }
    }
    link.finish();
    return 0;
}
