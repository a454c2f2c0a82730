#include "portbridge/stack/link_control.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "common/debug.h"
#include "common/stage_clock.h"
#include "portbridge/stack/capi_confirmation.h"
#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/timer_service.h"
#include "portbridge/stack/transmit_history.h"

namespace stack {

namespace {

constexpr uint16_t kPacingCheck = 3200;  // from the tick to the task: confirmations may be due
constexpr uint16_t kLinkStart = 208;     // to itself at init: ask layer management for the stack
constexpr uint16_t kDataBuffer = 2350;
constexpr uint16_t kHdlcHeader = 2;
constexpr uint16_t kReceivePoolBits = 0x8F0, kTransmitPoolBits = 0x4F0;
constexpr uint32_t kQueueWaitStepMs = 50, kQueueWaitMs = 5000;
constexpr uint32_t kStopMs = 1000;
constexpr uint32_t kRawPortUpMs = 5000, kRawLinkMs = 5000, kFramedPortUpMs = 10000, kSettleMs = 500;
constexpr uint32_t kAtReplyMs = 1000;
constexpr int kWakeTries = 10;
constexpr uint16_t kInfoNotInState = 0x2001, kInfoBusy = 0x1107, kInfoResources = 0x1108;
constexpr uint32_t kDebugLinkClass = 0x08000000;

uint32_t steadyMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t nowMs();

void sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The one wait of the CAPI side: armed (awaited id set, signal cleared) before the request goes
// out, signalled by the handler after it handled a message of that id. While an AT reply is
// collected, data indications go into the caller's buffer.
class Waiter {
public:
    void arm(uint16_t id) {
        std::lock_guard<std::mutex> hold(m_);
        awaited_ = id;
        signalled_ = false;
    }
    bool await(uint32_t ms) {
        std::unique_lock<std::mutex> hold(m_);
        cv_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return signalled_; });
        const bool got = signalled_;
        awaited_ = 0;
        signalled_ = false;
        return got;
    }
    void handled(uint16_t id) {
        std::lock_guard<std::mutex> hold(m_);
        if (awaited_ != 0 && id == awaited_) {
            signalled_ = true;
            cv_.notify_all();
        }
    }

    void beginCollect(char* buffer, size_t maximum) {
        std::lock_guard<std::mutex> hold(m_);
        collector_ = maximum ? buffer : nullptr;
        maximum_ = maximum;
        collected_ = 0;
        if (collector_) collector_[0] = 0;
        awaited_ = kDataIndication;
        signalled_ = false;
    }
    // True when the text went to a collector.
    bool collect(const uint8_t* data, size_t n) {
        std::lock_guard<std::mutex> hold(m_);
        if (!collector_) return false;
        for (size_t i = 0; i < n; ++i) {
            if (!data[i]) continue;  // the adapter's replies are text; a NUL would end it early
            if (maximum_ < 2) break;  // room for the terminating NUL only
            if (collected_ + 1 >= maximum_) {
                // Full: keep the newer half, where the answer to the last command is.
                const size_t keep = (maximum_ - 1) / 2;
                std::memmove(collector_, collector_ + collected_ - keep, keep);
                collected_ = keep;
            }
            collector_[collected_++] = static_cast<char>(data[i]);
        }
        collector_[collected_] = 0;
        return true;
    }
    bool awaitText(const char* expected, uint32_t ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::unique_lock<std::mutex> hold(m_);
        for (;;) {
            if (collector_ && std::strstr(collector_, expected ? expected : "")) return true;
            if (!cv_.wait_until(hold, deadline, [this] { return signalled_; }))
                return collector_ && std::strstr(collector_, expected ? expected : "");
            signalled_ = false;
        }
    }
    void endCollect() {
        std::lock_guard<std::mutex> hold(m_);
        collector_ = nullptr;
        awaited_ = 0;
        signalled_ = false;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    uint16_t awaited_ = 0;
    bool signalled_ = false;
    char* collector_ = nullptr;
    size_t maximum_ = 0, collected_ = 0;
};

struct LinkControl {
    COSRuntime* rt = nullptr;
    uint32_t address = 0;
    uint16_t queue = 0, lower = 0, defaultPool = 0, txPool = 0, rxPool = 0;
    uint32_t bottomAddress = kSerialTask;
    uint16_t headerRoom = 0;
    uint8_t* spare = nullptr;
    std::atomic<uint32_t> state{kLinkDown};
    std::atomic<unsigned> pending{0};
    std::atomic<bool> paceQueued{false};
    std::atomic<bool> bound{false};  // the stack below is built
    CTransmitHistory history;
};

// What lives beside the runtime: the runtime itself, its thread, the callback, the one waiter,
// the line settings.
struct LinkSide {
    std::mutex life;  // start, shut-down and the tick
    std::unique_ptr<COSRuntime> runtime, retired;
    COSRuntimeThread thread;
    std::atomic<bool> running{false};
    StackTaskInits inits{};
    LinkPlatform platform{};
    std::atomic<std::thread::id> runtimeThread{};

    std::mutex callbackLock;
    LinkIndicationFn callback = nullptr;
    void* context = nullptr;

    Waiter waiter;
    // The hand-over of data: every data request sent to link control gets the next number, and
    // link control counts those it has handled. A sender waits for its own number, whatever other
    // senders and waits do meanwhile. Both count from the start of the runtime.
    std::mutex handOverLock;
    std::condition_variable handedOver;
    uint64_t dataQueued = 0, dataTaken = 0;
    std::mutex lineLock;
    char portName[64] = "COM2";
    uint32_t baudRate = 115200;
    uint8_t windowSize = 4;

    std::atomic<LinkControl*> task{nullptr};
    std::atomic<uint32_t> taskGeneration{0};
};

LinkSide& side() {
    static LinkSide s;
    return s;
}

uint32_t nowMs() {
    uint32_t (*clock)() = side().platform.nowMs;
    return clock ? clock() : steadyMs();
}

LinkControl* currentTask() {
    LinkSide& s = side();
    LinkControl* lc = s.task.load();
    if (!lc || !hasOsRuntime() || osRuntime().generation() != s.taskGeneration.load()) return nullptr;
    return lc;
}

void deliver(const RuntimeMessage& m) {
    LinkSide& s = side();
    LinkIndicationFn fn;
    void* context;
    {
        std::lock_guard<std::mutex> hold(s.callbackLock);
        fn = s.callback;
        context = s.context;
    }
    if (fn) fn(context, m);
}

void freeIfFlagged(LinkControl& lc, const RuntimeMessage& m) {
    if ((m.u16(6) & 1) && m.pointer()) lc.rt->freeBuffer(m.pointer());
}

void down(LinkControl& lc, RuntimeMessage m) {
    m.setAddress(lc.address);
    if (lc.rt->sendMessage(lc.lower, m) != kOk) STACK_ASSERT_REPORT();
}

// A confirmation up as data: prefix and message (`size` bytes with the prefix) in a buffer of the
// default pool, freed after the callback.
void confirmUp(LinkControl& lc, const uint8_t* conf, size_t size = CTransmitHistory::kConfirmationBytes) {
    uint8_t* b = nullptr;
    if (lc.rt->getBuffer(lc.defaultPool, static_cast<uint16_t>(size), &b) != kOk) {
        STACK_ASSERT_REPORT();
        return;
    }
    std::memcpy(b, conf, size);
    RuntimeMessage m(kDataIndication, lc.address);
    m.put16(6, 1);
    m.put16(8, 0);
    m.put16(10, static_cast<uint16_t>(size));
    m.setPointer(b);
    deliver(m);
    lc.rt->freeBuffer(b);
}

void confirmFromHistory(void* context, const uint8_t* conf) { confirmUp(*static_cast<LinkControl*>(context), conf); }

// Data that did not go: its sender learns it from a confirmation with `info`. A DATA_B3_REQ in the
// history (sent down in `frame`) leaves it; any other request of an application is confirmed as
// the engine confirms what it cannot send. Text of the AT phase and responses carry none.
void refuseData(LinkControl& lc, const uint8_t* data, size_t length, uint16_t info, const void* frame = nullptr) {
    if (length < capi::kPrefix) return;
    if (capi::isDataB3Req(data, length)) {
        if (frame) {
            lc.history.fail(frame, info, &confirmFromHistory, &lc);
            lc.pending = lc.history.pending();
            return;
        }
        uint8_t conf[CTransmitHistory::kConfirmationBytes];
        CTransmitHistory::makeConfirmation(data + capi::kPrefix, length - capi::kPrefix, info, conf);
        confirmUp(lc, conf);
        return;
    }
    uint8_t conf[capi::kPrefix + capi::kMaxConfirmationBytes] = {};
    const size_t n = capi::makeRequestConfirmation(data + capi::kPrefix, length - capi::kPrefix, info, conf + capi::kPrefix);
    if (n) confirmUp(lc, conf, capi::kPrefix + n);
}

uint8_t* takeTransmitBuffer(LinkControl& lc) {
    uint8_t* b = lc.spare;
    lc.spare = nullptr;
    if (!b && lc.rt->getBuffer(lc.txPool, kDataBuffer, &b) != kOk) b = nullptr;
    // One buffer is kept ready for the next request.
    uint8_t* next = nullptr;
    lc.spare = lc.rt->getBuffer(lc.txPool, kDataBuffer, &next) == kOk ? next : nullptr;
    return b;
}

void dataFromAbove(LinkControl& lc, const RuntimeMessage& m) {
    const uint8_t* src = static_cast<const uint8_t*>(m.pointer());
    if (!src) return;
    const uint16_t length = m.u16(10);
    const uint8_t* data = src + m.u16(8);
    const bool dataB3 = capi::isDataB3Req(data, length);
    uint8_t* tx = nullptr;
    uint16_t refusal = 0;
    if (dataB3 && lc.state.load() != kLinkConnected)
        refusal = kInfoNotInState;
    else if (dataB3 && lc.history.full())
        refusal = kInfoBusy;
    else if (!(tx = takeTransmitBuffer(lc)))
        refusal = kInfoResources;
    else if (static_cast<size_t>(lc.headerRoom) + length + 1 > lc.rt->bufferSizeOf(tx))
        refusal = kInfoResources;  // no room for the headers and the serial sum byte

    if (!refusal) {
        std::memcpy(tx + lc.headerRoom, data, length);
        RuntimeMessage d(kDataRequest);
        d.put16(6, 1);
        d.put16(8, lc.headerRoom);
        d.put16(10, length);
        d.setPointer(tx);
        d.setAddress(lc.address);
        if (lc.rt->sendMessage(lc.lower, d) != kOk) {
            refusal = kInfoResources;
        } else if (dataB3) {
            // HDLC's reports of the frame (579, 580) name its slot by the buffer.
            lc.history.add(data + capi::kPrefix, length - capi::kPrefix, nowMs(), tx);
            lc.pending = lc.history.pending();
            tx = nullptr;
        } else {
            tx = nullptr;
        }
    }
    if (tx) lc.rt->freeBuffer(tx);
    if (refusal) refuseData(lc, data, length, refusal);
    freeIfFlagged(lc, m);
}

// The link was released or lost: nothing still pending goes out any more (HDLC gave back what it
// held before it said so, or gives it back at its next reset). What the link acknowledged is
// confirmed with 0, the rest with an error, now rather than by time. A reset (645) is no such
// end: a request that passed HDLC's reset on its way down goes out on the new link.
void dropHistory(LinkControl& lc) {
    lc.history.flush(kInfoNotInState, &confirmFromHistory, &lc);
    lc.pending = 0;
}

void pace(LinkControl& lc) {
    lc.paceQueued = false;
    lc.history.confirmDue(nowMs(), &confirmFromHistory, &lc);
    lc.pending = lc.history.pending();
}

void dataFromBelow(LinkControl& lc, const RuntimeMessage& m) {
    const uint8_t* b = static_cast<const uint8_t*>(m.pointer());
    if (b && side().waiter.collect(b + m.u16(8), m.u16(10))) {
        freeIfFlagged(lc, m);
        return;
    }
    RuntimeMessage up = m;
    deliver(up);
    freeIfFlagged(lc, m);
}

// 579 hands back the I frame as HDLC sent it: its offset and length include the frame's address
// and control bytes in front of our data. The buffer is the one the request went down in, and
// names its slot.
void dataSent(LinkControl& lc, const RuntimeMessage& m) {
    const uint8_t* b = static_cast<const uint8_t*>(m.pointer());
    const uint16_t offset = m.u16(8), length = m.u16(10);
    if (b && length >= kHdlcHeader && capi::isDataB3Req(b + offset + kHdlcHeader, length - kHdlcHeader)) {
        lc.history.markSent(b);
        pace(lc);
    }
    freeIfFlagged(lc, m);
}

// 580: HDLC gives back a request it did not send, or sent without the peer acknowledging it
// before the link was reset or lost; its data as it went down.
void dataReturned(LinkControl& lc, const RuntimeMessage& m) {
    const uint8_t* b = static_cast<const uint8_t*>(m.pointer());
    if (b) refuseData(lc, b + m.u16(8), m.u16(10), kInfoNotInState, b);
    freeIfFlagged(lc, m);
}

void askForStack(LinkControl& lc) {
    uint8_t* block = nullptr;
    if (lc.rt->getBuffer(lc.defaultPool, kBuildRequestWords * 2, &block) != kOk) {
        STACK_ASSERT_REPORT();
        return;
    }
    buildStackRequest(block, lc.queue);
    RuntimeMessage m(kBuildStackRequest, kLayerManagementTask);
    m.setPointer(block);
    if (lc.rt->sendFrom(lc.address, m) != kOk) {
        lc.rt->freeBuffer(block);
        STACK_ASSERT_REPORT();
    }
}

void dispatch(LinkControl& lc, RuntimeMessage& m) {
    switch (m.id()) {
    case kBound:
        lc.lower = m.u16(11);
        lc.state = kLinkStackReady;
        lc.bound = true;
        break;
    case kConfigure: {
        down(lc, m);
        RuntimeMessage pool(kReceivePool);
        pool.put16(6, lc.rxPool);
        down(lc, pool);
        break;
    }
    case kConfigured: {
        uint8_t* block = static_cast<uint8_t*>(m.pointer());
        if (lc.state.load() == kLinkStackReady && block) {
            if (m.u16(10) == 0) {
                lc.headerRoom = block16(block, config::kTransmitHeaderRoom);
                down(lc, RuntimeMessage(kConfigurationDone));
            } else {
                STACK_ASSERT_REPORT();
            }
        }
        if (block) lc.rt->freeBuffer(block);
        break;
    }
    case kBuildStackResult: {
        uint8_t* block = static_cast<uint8_t*>(m.pointer());
        if (block && m.u16(10) == kBuildDone)
            lc.bottomAddress = static_cast<uint32_t>(block[12]) | static_cast<uint32_t>(block[13]) << 8 |
                               static_cast<uint32_t>(block[14]) << 16 | static_cast<uint32_t>(block[15]) << 24;
        if (block) lc.rt->freeBuffer(block);
        break;
    }
    case kLinkStart:
        askForStack(lc);
        break;
    case kLinkStop:
        if (lc.state.load() == kLinkStackReady) {
            RuntimeMessage stopped(kPortDownIndication, lc.address);
            deliver(stopped);
            side().waiter.handled(kPortDownIndication);
        } else {
            m.setAddress(lc.bottomAddress);
            if (lc.rt->sendFrom(lc.address, m) != kOk) STACK_ASSERT_REPORT();
        }
        break;
    case kEstablishRequest:
    case kReleaseRequest:
        down(lc, m);
        break;
    case kDataRequest:
        dataFromAbove(lc, m);
        break;
    case kEstablishedConfirm:
    case kEstablishedInd:
        lc.state = kLinkConnected;
        deliver(m);
        break;
    case kReleaseConfirm:
    case kReleasedInd:
        dropHistory(lc);
        if (lc.state.load() == kLinkStackReady) break;
        lc.state = kLinkDown;
        deliver(m);
        break;
    case kDataAcknowledged:
        dataSent(lc, m);
        break;
    case kDataReturned:
        dataReturned(lc, m);
        break;
    case kConfiguredIndication:
    case kPortUpIndication:
        lc.state = kLinkEstablishing;
        break;
    case kDataIndication:
        stageclock::stamp(stageclock::kLinkIndicate);
        dataFromBelow(lc, m);
        break;
    case kUnitDataIndication:
        freeIfFlagged(lc, m);
        break;
    case kLinkReset:
        lc.state = kLinkDown;
        deliver(m);
        break;
    case kPortDownIndication:
        dropHistory(lc);
        lc.state = kLinkStackReady;
        deliver(m);
        break;
    case kPacingCheck:
        pace(lc);
        break;
    default:
        break;
    }
}

void handler(void* context) {
    LinkControl& lc = *static_cast<LinkControl*>(context);
    RuntimeMessage m;
    if (lc.rt->receiveMessage(lc.queue, &m) != kOk) return;
    const uint16_t id = m.id();
    dispatch(lc, m);
    if (id == kDataRequest) {
        LinkSide& s = side();
        std::lock_guard<std::mutex> hold(s.handOverLock);
        ++s.dataTaken;
        s.handedOver.notify_all();
    }
    side().waiter.handled(id);
}

bool createPools(COSRuntime& rt, uint32_t address, uint16_t* number) {
    return rt.createPool(address, kDataBuffer, 20, number) == kOk && rt.createPool(address, 64, 16, number) == kOk &&
           rt.createPool(address, 16, 16, number) == kOk;
}

// The link control once its stack is built; waits while the runtime is starting. Requests sent
// before that would pass the stack's own start-up messages.
LinkControl* linkReady() {
    LinkSide& s = side();
    if (!s.runtime || !s.running) return nullptr;
    for (uint32_t waited = 0;; waited += kQueueWaitStepMs) {
        LinkControl* lc = currentTask();
        if (lc && lc->bound.load()) return lc;
        if (waited >= kQueueWaitMs || !s.thread.running()) return nullptr;
        sleepMs(kQueueWaitStepMs);
    }
}

bool linkQueue(uint16_t* queue) {
    LinkControl* lc = linkReady();
    if (!lc) return false;
    *queue = lc->queue;
    return true;
}

uint32_t sendToLink(const RuntimeMessage& m) {
    uint16_t q = 0;
    if (!linkQueue(&q)) return kNoSuchQueue;
    return side().runtime->sendMessage(q, m);
}

// Sends a data request to the link control and numbers it for the hand-over wait: 0 when it
// could not be sent. Sent and numbered under one lock, so the numbers follow the queue's order.
uint64_t queueData(uint16_t queue, const RuntimeMessage& m) {
    LinkSide& s = side();
    std::lock_guard<std::mutex> hold(s.handOverLock);
    if (!s.runtime || s.runtime->sendMessage(queue, m) != kOk) return 0;
    return ++s.dataQueued;
}

void runtimeStart(COSRuntime& rt, void*) {
    LinkSide& s = side();
    s.runtimeThread = std::this_thread::get_id();
    startStackTasks(rt, s.inits);
}

}  // namespace

// --- pure pieces

uint16_t baudCodeOf(uint32_t baudRate) {
    switch (baudRate) {
    case 1200: return 2;
    case 2400: return 3;
    case 4800: return 4;
    case 9600: return 5;
    case 19200: return 6;
    case 38400: return 7;
    case 57600: return 8;
    case 115200: return 9;
    case 230400: return 10;
    default: return 9;
    }
}

uint8_t linkWindowOf(uint8_t windowSize) { return windowSize >= 1 && windowSize <= 7 ? windowSize : 7; }

void buildPortConfiguration(uint8_t* block, uint16_t mode, uint32_t baudRate, uint8_t windowSize) {
    std::memset(block, 0, kPortConfigurationSize);
    setBlock16(block, config::kMaxFrameLength, 2302);
    setBlock16(block, config::kBaudCode, baudCodeOf(baudRate));
    setBlock16(block, config::kDataBits, 8);
    setBlock16(block, config::kParity, 0);
    setBlock16(block, config::kStopBits, 1);
    if (mode == 8) {
        setBlock16(block, config::kReceiveHeaderRoom, 2);
        setBlock16(block, config::kLinkMode, kLinkModeFramed);
        setBlock16(block, config::kLinkLayerMode, kLinkLayerKeeping);
        block[config::kPeerCommandAddress] = 3;
        block[config::kOwnCommandAddress] = 1;
        block[config::kModulus] = 8;
        block[config::kWindow] = linkWindowOf(windowSize);
    } else {
        setBlock16(block, config::kLinkMode, kLinkModeRaw);
        setBlock16(block, config::kLinkLayerMode, kLinkLayerRaw);
    }
}

void buildStackRequest(uint8_t* block, uint16_t requesterQueue) {
    static const uint16_t words[kBuildRequestWords] = {1, 3, 0, kHdlcTask, 0, 0, 0, 8, 8, 8, 8, 16, 140, 16, 0, 0, 0};
    for (size_t i = 0; i < kBuildRequestWords; ++i) setBlock16(block, static_cast<unsigned>(i * 2), words[i]);
    setBlock16(block, 10, requesterQueue);
}

// --- the task

uint32_t linkControlInit(void* instance, uint32_t address) {
    COSRuntime& rt = osRuntime();
    void* block = instance;
    if (!block || sizeof(LinkControl) > 5996) {
        if (rt.allocInstance(static_cast<uint16_t>(sizeof(LinkControl)), &block) != kOk) return 0;
    }
    LinkControl* lc = new (block) LinkControl();
    lc->rt = &rt;
    lc->address = address;
    if (rt.createTaskQueue(address, &handler, lc, &lc->queue) != kOk) return 0;
    const uint32_t base = address & ~0xFFFu;
    if (!createPools(rt, base | kTransmitPoolBits, &lc->txPool) || !createPools(rt, base | kReceivePoolBits, &lc->rxPool))
        return 0;
    rt.findDefaultPool(&lc->defaultPool);
    LinkSide& s = side();
    s.taskGeneration = rt.generation();
    s.task = lc;
    rt.sendMessage(lc->queue, RuntimeMessage(kLinkStart, address));
    return 1;
}

// --- operations

uint32_t startRuntimeWith(const StackTaskInits& inits, const LinkPlatform& platform, LinkIndicationFn callback,
                          void* context) {
    LinkSide& s = side();
    {
        std::lock_guard<std::mutex> hold(s.callbackLock);
        s.callback = callback;
        s.context = context;
    }
    std::lock_guard<std::mutex> hold(s.life);
    if (s.thread.running()) return 0;
    s.inits = inits;
    s.platform = platform;
    // The runtime before the last one is surely unused now: its port was closed when the last
    // one started.
    s.retired = std::move(s.runtime);
    s.task = nullptr;
    {
        std::lock_guard<std::mutex> counts(s.handOverLock);
        s.dataQueued = s.dataTaken = 0;
    }
    s.runtime.reset(new (std::nothrow) COSRuntime());
    if (!s.runtime || !s.runtime->startedUp()) {
        s.runtime.reset();
        return 1;
    }
    if (!s.thread.start(*s.runtime, &runtimeStart, nullptr)) return 1;
    s.running = true;
    return 0;
}

COSRuntime* linkRuntime() { return side().runtime.get(); }

uint32_t sendLinkRequest(uint16_t id) { return sendToLink(RuntimeMessage(id)); }

uint32_t connectLink() {
    RuntimeMessage m(kEstablishRequest);
    m.put16(6, 1);
    return sendToLink(m);
}

uint32_t sendLinkData(uint16_t offset, uint16_t length, const void* data, uint16_t extraLength, const void* extra) {
    stageclock::stamp(stageclock::kLinkSend);
    LinkSide& s = side();
    LinkControl* lc = linkReady();
    if (!lc) return 0;
    const size_t total = static_cast<size_t>(length) + extraLength;
    // The link control copies it behind the headers of the lower layers, and the serial frame
    // puts its sum byte behind it.
    if ((length && !data) || (extraLength && !extra) || lc->headerRoom + total + 1 > kDataBuffer) return 0;
    uint8_t* b = nullptr;
    if (s.runtime->getBuffer(lc->txPool, static_cast<uint16_t>(total ? total : 1), &b) != kOk) return 0;
    if (length) std::memcpy(b, static_cast<const uint8_t*>(data) + offset, length);
    if (extraLength) std::memcpy(b + length, extra, extraLength);
    RuntimeMessage m(kDataRequest);
    m.put16(6, 1);
    m.put16(8, 0);
    m.put16(10, static_cast<uint16_t>(total));
    m.setPointer(b);
    const uint64_t ticket = queueData(lc->queue, m);
    if (!ticket) {
        s.runtime->freeBuffer(b);
        return 0;
    }
    // From here the link control owns the request and confirms whatever of it cannot go. The wait
    // only keeps a sender from running ahead of it; its end says nothing about the request.
    if (std::this_thread::get_id() == s.runtimeThread.load()) return 1;
    std::unique_lock<std::mutex> hold(s.handOverLock);
    s.handedOver.wait_for(hold, std::chrono::milliseconds(s.platform.dataTakenMs),
                          [&] { return s.dataTaken >= ticket || !s.running.load(); });
    return 1;
}

uint32_t waitForIndication(uint16_t id, uint32_t timeoutMs) {
    side().waiter.arm(id);
    return side().waiter.await(timeoutMs) ? 1 : 0;
}

uint32_t collectAtReply(uint32_t timeoutMs, char* buffer, size_t maximum, const char* expected) {
    Waiter& w = side().waiter;
    w.beginCollect(buffer, maximum);
    const bool got = w.awaitText(expected, timeoutMs);
    w.endCollect();
    return got ? 1 : 0;
}

uint32_t sendAtCommand(const char* text) {
    LinkSide& s = side();
    LinkControl* lc = text ? linkReady() : nullptr;
    if (!lc) return kNoSuchQueue;
    const size_t n = std::strlen(text);
    uint8_t* b = nullptr;
    if (n == 0 || n > 255 || s.runtime->getBuffer(lc->defaultPool, static_cast<uint16_t>(n), &b) != kOk) return kFailure;
    std::memcpy(b, text, n);
    RuntimeMessage m(kDataRequest);
    m.put16(6, 1);
    m.put16(10, static_cast<uint16_t>(n));
    m.setPointer(b);
    if (queueData(lc->queue, m)) return kOk;
    s.runtime->freeBuffer(b);
    return kFailure;
}

namespace {
// Sends `command` and collects its answer; the collector is armed before the command goes out.
bool exchange(const char* command, const char* expected) {
    Waiter& w = side().waiter;
    char reply[256];
    w.beginCollect(reply, sizeof(reply));
    const bool got = sendAtCommand(command) == kOk && w.awaitText(expected, kAtReplyMs);
    w.endCollect();
    return got;
}
}  // namespace

uint32_t runAtDialogue(const LinkSettings& settings) {
    bool awake = false;
    for (int i = 0; i < kWakeTries && !awake; ++i) awake = exchange("at\n\r", "OK");
    if (!awake) return 0;
    if (settings.versionCommand[0] && !exchange(settings.versionCommand, settings.versionAnswer)) return 0;
    if (settings.nameCommand[0] && !exchange(settings.nameCommand, settings.nameAnswer)) return 0;
    return 1;
}

void setLinkLine(const char* portName, uint32_t baudRate, uint8_t windowSize) {
    LinkSide& s = side();
    std::lock_guard<std::mutex> hold(s.lineLock);
    std::strncpy(s.portName, portName ? portName : "", sizeof(s.portName) - 1);
    s.portName[sizeof(s.portName) - 1] = 0;
    s.baudRate = baudRate;
    s.windowSize = windowSize;
    if (s.platform.setPortName) s.platform.setPortName(s.portName);
}

uint32_t sendPortConfiguration(uint16_t mode) {
    LinkSide& s = side();
    LinkControl* lc = linkReady();
    if (!lc) return kNoSuchQueue;
    uint8_t* block = nullptr;
    if (s.runtime->getBuffer(lc->defaultPool, kPortConfigurationSize, &block) != kOk) return kFailure;
    uint32_t baud;
    uint8_t window;
    {
        std::lock_guard<std::mutex> hold(s.lineLock);
        baud = s.baudRate;
        window = s.windowSize;
    }
    if (mode == 8 && linkWindowOf(window) != window)
        debugPrint(kDebugLinkClass, "windowSize %u is outside 1..7, the link runs with 7", static_cast<unsigned>(window));
    buildPortConfiguration(block, mode, baud, window);
    if (s.platform.setModeCommand) s.platform.setModeCommand("atcm3\n\r");
    RuntimeMessage m(kConfigure);
    m.setPointer(block);
    const uint32_t r = sendToLink(m);
    if (r != kOk) s.runtime->freeBuffer(block);
    return r;
}

uint32_t bringUpLink(LinkSettings& settings) {
    Waiter& w = side().waiter;
    settings.failed = 1;
    setLinkLine(settings.portName, settings.baudRate, settings.windowSize);
    if (settings.versionCommand[0] || settings.nameCommand[0]) {
        // Raw phase. Its waits are not judged one by one: a slow wake-up may bring the port up
        // only during the next wait, and the dialogue itself decides.
        w.arm(kPortUpIndication);
        if (sendPortConfiguration(255) == kOk) w.await(kRawPortUpMs);
        w.arm(kEstablishedInd);
        if (sendLinkRequest(kEstablishRequest) == kOk) w.await(kRawLinkMs);
        if (!runAtDialogue(settings)) return 0;
        w.arm(kReleasedInd);
        if (sendLinkRequest(kReleaseRequest) == kOk) w.await(kRawLinkMs);
    }
    w.arm(kPortUpIndication);
    const bool up = sendPortConfiguration(8) == kOk && w.await(kFramedPortUpMs);
    if (!up) return 0;
    sleepMs(kSettleMs);
    settings.failed = 0;
    return 1;
}

void runtimeTick() {
    LinkSide& s = side();
    std::unique_lock<std::mutex> hold(s.life, std::try_to_lock);
    if (!hold.owns_lock() || !s.running) return;
    timerTick();
    LinkControl* lc = currentTask();
    if (lc && lc->pending.load() > 0 && !lc->paceQueued.exchange(true)) {
        if (s.runtime->sendMessage(lc->queue, RuntimeMessage(kPacingCheck)) != kOk) lc->paceQueued = false;
    }
}

uint32_t shutDownLink() {
    LinkSide& s = side();
    if (s.thread.running()) {
        s.waiter.arm(kPortDownIndication);
        if (sendLinkRequest(kLinkStop) == kOk) s.waiter.await(kStopMs);
        else s.waiter.await(0);
    }
    {
        std::lock_guard<std::mutex> hold(s.callbackLock);
        s.callback = nullptr;
        s.context = nullptr;
    }
    {
        std::lock_guard<std::mutex> hold(s.life);
        s.running = false;
    }
    {
        std::lock_guard<std::mutex> hold(s.handOverLock);
        s.handedOver.notify_all();
    }
    s.thread.stop();
    s.runtimeThread = std::thread::id();
    return 0;
}

uint32_t linkState() {
    LinkControl* lc = currentTask();
    return lc ? lc->state.load() : kLinkDown;
}

}  // namespace stack
