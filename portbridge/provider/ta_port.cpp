#include "portbridge/provider/ta_port.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "portbridge/stack/capi_confirmation.h"

namespace pbprov {

namespace {
constexpr size_t kPrefixSize = 2;
constexpr size_t kHeaderSize = 8;

// 645 is no end: it is a reset of the link, and 641 follows at once.
bool isLinkEnd(uint16_t id) { return id == kLinkReleased || id == kLinkStopped; }
}  // namespace

bool adapterMessageFromItem(const CTaIndication& item, CTaPortMessage* out) {
    if (!item.data || item.dataLength < kPrefixSize + kHeaderSize) return false;
    const uint8_t* message = item.data + item.dataOffset + kPrefixSize;
    size_t size = item.dataLength - kPrefixSize;
    size_t claimed = static_cast<size_t>(message[0] | message[1] << 8);
    if (claimed < kHeaderSize || claimed > size || claimed > kAdapterMessageMax) return false;
    out->id = item.id;
    out->message = message;
    out->size = size;
    return true;
}

CTaPort::CTaPort(unsigned index, CTaLinkOps* link, CTaTimerOps* timers)
    : index_(index), link_(link), timers_(timers) {
    name_ = "CTaPort";
}

CTaPort::~CTaPort() { close(); }

void CTaPort::shutDown() { close(); }

void CTaPort::setIndicationProc(CTaPortIndicationFn fn, void* context) {
    indicationFn_ = fn;
    indicationContext_ = context;
}

uint32_t CTaPort::open(const CTaPortSettings& settings) {
    // A runtime left from a lost link is ended before a new one starts.
    close();
    state_ = kOpening;
    result_ = 0;
    if (!link_->startRuntime(settings, &CTaPort::runtimeCallback, this)) {
        state_ = kFailed;
        return 1;
    }
    runtimeStarted_ = true;
    if (timers_) tickTimer_ = timers_->startTimer(timing_.tickMs, &CTaPort::tickCallback, this, true);
    if (timing_.settleMs) std::this_thread::sleep_for(std::chrono::milliseconds(timing_.settleMs));

    CTaPortSettings withEndings = settings;
    if (!withEndings.versionCommand.empty()) withEndings.versionCommand += "\n\r";
    if (!withEndings.nameCommand.empty()) withEndings.nameCommand += "\n\r";
    if (!link_->bringUpLink(withEndings)) {
        close();
        state_ = kFailed;
        return 1;
    }
    state_ = kClosed;
    return 0;
}

uint32_t CTaPort::connect() {
    if (!runtimeStarted_) return kInfoTimeout;
    waitEvent_.reset();
    awaited_ = kLinkEstablish;
    result_ = kInfoPending;
    state_ = kWaiting;
    uint32_t sent = link_->connectLink(reactivation_);
    if (sent != 0 && sent != kInfoPending) {
        awaited_ = 0;
        state_ = kClosed;
        return sent;
    }
    uint32_t result = waitEvent_.wait(timing_.connectMs) ? result_.load() : kInfoTimeout;
    awaited_ = 0;
    state_ = result == 0 ? kConnected : kClosed;
    return result;
}

uint32_t CTaPort::disconnect() {
    if (state_ != kConnected) return 0;
    waitEvent_.reset();
    awaited_ = kLinkRelease;
    result_ = kInfoPending;
    state_ = kWaiting;
    uint32_t result = kInfoTimeout;
    if (link_->sendLinkRequest(kLinkRelease) == 0 && waitEvent_.wait(timing_.disconnectMs)) result = result_.load();
    awaited_ = 0;
    state_ = result == 0 ? kClosed : kConnected;
    return result;
}

uint32_t CTaPort::reactivate(uint8_t byte) {
    reactivation_ = byte;
    return link_->connectLink(byte);
}

void CTaPort::close() {
    stopWriter();
    stopTick();
    if (runtimeStarted_) {
        link_->shutDownLink();
        runtimeStarted_ = false;
    }
    state_ = kClosed;
}

void CTaPort::stopTick() {
    if (tickTimer_ && timers_) timers_->cancelTimer(tickTimer_);
    tickTimer_ = nullptr;
    // A tick in progress finishes before the link it drives goes away.
    while (tickBusy_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

uint32_t CTaPort::putMessage(const uint8_t* message, size_t size, const uint8_t* payload, size_t payloadLength) {
    if (state_ != kConnected || !message) return kInfoNotReachable;
    std::vector<uint8_t> item(kPrefixSize + size + (payload ? payloadLength : 0), 0);
    std::memcpy(item.data() + kPrefixSize, message, size);
    if (payload && payloadLength) std::memcpy(item.data() + kPrefixSize + size, payload, payloadLength);
    std::lock_guard<std::mutex> lock(writeMutex_);
    // Again under the lock: a link lost meanwhile has answered the queue and would not see this.
    if (state_ != kConnected) return kInfoNotReachable;
    if (!writer_.joinable()) {
        writerStop_ = false;
        writer_ = std::thread(&CTaPort::writerLoop, this);
    }
    writeQueue_.push_back(std::move(item));
    writeCv_.notify_all();
    return kInfoPending;
}

void CTaPort::writerLoop() {
    std::unique_lock<std::mutex> lock(writeMutex_);
    for (;;) {
        writeCv_.wait(lock, [this] { return writerStop_ || !writeQueue_.empty(); });
        if (writeQueue_.empty()) return;  // stopped, nothing left
        std::vector<uint8_t> item = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        writing_ = true;
        lock.unlock();
        bool taken = link_->sendLinkData(item.data(), item.size());
        if (!taken) confirmRefusedData(item, kInfoResources);
        lock.lock();
        writing_ = false;
        if (!taken) ++refused_;
        writeCv_.notify_all();
        if (writerStop_) return;  // the rest is answered by stopWriter
    }
}

// A request that never reached link control would never be confirmed: the application waits for
// its confirmation (and, with a DATA_B3_REQ, before it reuses the data). Confirmed here, with the
// reason, as link control confirms what it cannot send itself. Responses carry no confirmation.
void CTaPort::confirmRefusedData(const std::vector<uint8_t>& item, uint32_t info) {
    if (!indicationFn_ || item.size() < kPrefixSize) return;
    uint8_t conf[stack::capi::kMaxConfirmationBytes];
    const size_t n =
        stack::capi::makeRequestConfirmation(item.data() + kPrefixSize, item.size() - kPrefixSize,
                                             static_cast<uint16_t>(info), conf);
    if (!n) return;
    CTaPortMessage message;
    message.id = kLinkDataUp;
    message.message = conf;
    message.size = n;
    indicationFn_(indicationContext_, index_, message);
}

bool CTaPort::waitWritten(unsigned ms) {
    std::unique_lock<std::mutex> lock(writeMutex_);
    return writeCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return writeQueue_.empty() && !writing_; });
}

void CTaPort::stopWriter() {
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        writerStop_ = true;
        writeCv_.notify_all();
    }
    if (writer_.joinable()) writer_.join();
    // Taken, never handed over: the port closes under them.
    answerQueued();
}

void CTaPort::answerQueued() {
    std::deque<std::vector<uint8_t>> left;
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        left.swap(writeQueue_);
        writeCv_.notify_all();
    }
    for (const std::vector<uint8_t>& item : left) confirmRefusedData(item, kInfoNotInState);
}

void CTaPort::runtimeCallback(void* context, const CTaIndication& indication) {
    static_cast<CTaPort*>(context)->runtimeIndication(indication);
}

void CTaPort::runtimeIndication(const CTaIndication& indication) {
    int state = state_.load();
    if (state == kWaiting) {
        deliver(indication);
        uint16_t awaited = awaited_.load();
        uint16_t id = indication.id;
        if (awaited == kLinkEstablish && (id == kLinkEstablished || isLinkEnd(id))) {
            result_ = id == kLinkEstablished ? kInfoOk : kInfoTimeout;
            waitEvent_.set();
        } else if (awaited == kLinkRelease && isLinkEnd(id)) {
            result_ = kInfoOk;
            waitEvent_.set();
        }
    } else if (state == kConnected) {
        // A lost link leaves the port failed: the next open starts over. What waits for the writer
        // would only be refused by link control, and its answers dropped here: it is answered now,
        // before the engine hears that the link is gone.
        if (isLinkEnd(indication.id)) {
            state_ = kFailed;
            answerQueued();
        }
        deliver(indication);
    }
}

void CTaPort::deliver(const CTaIndication& indication) {
    if (!indicationFn_) return;
    CTaPortMessage message;
    switch (indication.id) {
    case kLinkEstablishedUp:
    case kLinkEstablished:
    case kLinkReleased:
    case kLinkDown:
    case kLinkStopped:
        message.id = indication.id;
        break;
    case kLinkDataUp:
        if (!adapterMessageFromItem(indication, &message)) return;
        break;
    default:
        return;
    }
    indicationFn_(indicationContext_, index_, message);
}

void CTaPort::tickCallback(void* context) {
    CTaPort* port = static_cast<CTaPort*>(context);
    // A tick that is still running makes the next one pass.
    bool expected = false;
    if (!port->tickBusy_.compare_exchange_strong(expected, true)) return;
    port->link_->runtimeTick();
    port->tickBusy_ = false;
}

}  // namespace pbprov
