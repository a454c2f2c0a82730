#include "msgcore/capi_port.h"

#include "common/debug.h"
#include "msgcore/capi_bytes.h"
#include "msgcore/message_handler.h"

CCapiPort::CCapiPort() {
    name_ = "CCapiPort";
    dispatchLock_.init();
    poolLock_.init();
}

CCapiPort::CCapiPort(const CCapiPort& other) : CDoubleListNode(other) {
    dispatchLock_.init();
    poolLock_.init();
    *this = other;
}

CCapiPort& CCapiPort::operator=(const CCapiPort& other) {
    if (this == &other) return *this;
    CDoubleListNode::operator=(other);
    applicationId_ = other.applicationId_;
    for (int i = 0; i < kHandlers; ++i) handlers_[i] = other.handlers_[i];
    applicationBuffer_ = other.applicationBuffer_;
    applicationBufferSize_ = other.applicationBufferSize_;
    for (int i = 0; i < kPoolSize; ++i) {
        messagePool_[i] = other.messagePool_[i];
        b3Pool_[i] = other.b3Pool_[i];
    }
    maxBDataLen_ = other.maxBDataLen_;
    maxLogicalConnection_ = other.maxLogicalConnection_;
    maxBDataBlocks_ = other.maxBDataBlocks_;
    units_ = other.units_;
    signalArg1_ = other.signalArg1_;
    signalArg2_ = other.signalArg2_;
    messageNumber_ = other.messageNumber_;
    handlerCount_ = other.handlerCount_;
    messageBufferSize_ = other.messageBufferSize_;
    return *this;
}

// The system side is gone by now: a derived port shuts down in its own destructor, where the CAPI
// calls still exist.
CCapiPort::~CCapiPort() = default;

uint16_t CCapiPort::init(uint16_t units, uint16_t maxLogicalConnection, uint16_t maxBDataBlocks,
                         uint16_t maxBDataLen, uint32_t signalArg1, uint32_t signalArg2,
                         uintptr_t createArg1, uintptr_t createArg2) {
    uint16_t rc = create(createArg1, createArg2);
    if (rc) return rc;
    units_ = units;
    maxLogicalConnection_ = maxLogicalConnection;
    maxBDataBlocks_ = maxBDataBlocks;
    maxBDataLen_ = maxBDataLen;
    signalArg1_ = signalArg1;
    signalArg2_ = signalArg2;
    return startApplication();
}

uint16_t CCapiPort::startApplication() {
    uint16_t rc = registerApplication(applicationBuffer_, units_, maxLogicalConnection_, maxBDataBlocks_,
                                      maxBDataLen_);
    if (rc == 0) installSignalHandler(signalArg1_, signalArg2_);
    return rc;
}

uint16_t CCapiPort::reinit(uint16_t newB3BlockSize) {
    if (applicationId_) {
        releaseApplication();
        applicationId_ = 0;
    }
    stopSignalHandling();
    // B3 buffers of the old size cannot serve the new one.
    poolLock_.enter();
    for (int i = 0; i < kPoolSize; ++i)
        if (b3Pool_[i]) {
            freeBuffer(b3Pool_[i], maxBDataLen_);
            b3Pool_[i] = nullptr;
        }
    maxBDataLen_ = newB3BlockSize;
    poolLock_.leave();
    return startApplication();
}

void CCapiPort::shutDown() {
    if (applicationId_) {
        installSignalHandler(0, 0);
        releaseApplication();
        applicationId_ = 0;
    }
    freeApplicationBuffer();
    poolLock_.enter();
    for (int i = 0; i < kPoolSize; ++i) {
        if (b3Pool_[i]) freeBuffer(b3Pool_[i], maxBDataLen_);
        b3Pool_[i] = nullptr;
        if (messagePool_[i]) freeBuffer(messagePool_[i], messageBufferSize_);
        messagePool_[i] = nullptr;
    }
    poolLock_.leave();
}

uint16_t CCapiPort::getProfile(void*, uint32_t) { return 0; }
void CCapiPort::stopSignalHandling() {}

void* CCapiPort::allocFrom(void** pool, uint32_t size) {
    void* result = nullptr;
    poolLock_.enter();
    for (int i = 0; i < kPoolSize; ++i)
        if (!pool[i]) {
            pool[i] = allocBuffer(size);
            result = pool[i];
            break;
        }
    poolLock_.leave();
    return result;
}

void CCapiPort::freeFrom(void** pool, void* buffer, uint32_t size) {
    if (!buffer) return;
    poolLock_.enter();
    for (int i = 0; i < kPoolSize; ++i)
        if (pool[i] == buffer) {
            freeBuffer(buffer, size);
            pool[i] = nullptr;
            break;
        }
    poolLock_.leave();
}

void* CCapiPort::allocMessageBuffer() { return allocFrom(messagePool_, messageBufferSize_); }
void* CCapiPort::allocB3DataBuffer() { return allocFrom(b3Pool_, maxBDataLen_); }
void* CCapiPort::allocApplicationBuffer(uint16_t size) { return allocBuffer(size); }
void CCapiPort::freeMessageBuffer(void* buffer) { freeFrom(messagePool_, buffer, messageBufferSize_); }
void CCapiPort::freeB3Buffer(void* buffer) { freeFrom(b3Pool_, buffer, maxBDataLen_); }

void CCapiPort::freeApplicationBuffer() {
    if (!applicationBuffer_) return;
    freeBuffer(applicationBuffer_, applicationBufferSize_);
    applicationBuffer_ = nullptr;
    applicationBufferSize_ = 0;
}

uint16_t CCapiPort::getNextMessageNumber() {
    poolLock_.enter();
    messageNumber_ = messageNumber_ >= 0x7FFF ? 0 : uint16_t(messageNumber_ + 1);
    uint16_t n = messageNumber_;
    poolLock_.leave();
    return n;
}

int CCapiPort::registerHandler(CCapiMessageHandlerBase* handler) {
    int done = 0;
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (!handlers_[i]) {
            handlers_[i] = handler;
            ++handlerCount_;
            done = 1;
            break;
        }
    poolLock_.leave();
    return done;
}

// Waits for a dispatch in progress (on another thread) to end, so the handler is never left while
// the receive thread is inside it.
int CCapiPort::unregisterHandler(CCapiMessageHandlerBase* handler) {
    int done = 0;
    lockDispatch();
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (handlers_[i] == handler) {
            handlers_[i] = nullptr;
            --handlerCount_;
            done = 1;
            break;
        }
    poolLock_.leave();
    unlockDispatch();
    return done;
}

// Not under the dispatch lock: an owner callback may hand requests to other threads and wait for
// them, and those check their handles here.
int CCapiPort::isValidHandler(CCapiMessageHandlerBase* handler) {
    int found = 0;
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (handlers_[i] == handler) found = 1;
    poolLock_.leave();
    return found;
}

CCapiMessageHandlerBase* CCapiPort::getHandler(int slot) {
    if (slot < 0 || slot >= kHandlers) return nullptr;
    poolLock_.enter();
    CCapiMessageHandlerBase* h = handlers_[slot];
    poolLock_.leave();
    return h;
}

int CCapiPort::signalEvent() {
    while (tagAPIMsg* m = getMessage()) dispatchMessage(m);
    return 1;
}

void CCapiPort::destroyHandler(CCapiMessageHandlerBase* handler) {
    if (!handler) return;
    lockDispatch();
    // Holding the lock, a dispatch in progress can only be our own.
    if (dispatchDepth_ > 0) {
        handler->shutDown();
        unregisterHandler(handler);
        doomed_.push_back(handler);
        unlockDispatch();
        return;
    }
    unlockDispatch();
    TObject::destroy(handler);
}

int CCapiPort::dispatchMessage(tagAPIMsg* message) {
    if (!message) return 0;
    lockDispatch();
    ++dispatchDepth_;
    CCapiMessageHandlerBase* first = nullptr;
    int taken = 0;
    for (int i = 0; i < kHandlers; ++i) {
        CCapiMessageHandlerBase* h = getHandler(i);
        if (!h) continue;
        if (!first) {
            first = h;
            h->traceMessage(message);
        }
        // A handler that an owner callback unregistered is no longer offered anything.
        if (getHandler(i) != h) continue;
        taken = h->dispatchMessage(message);
        if (taken) break;
    }
    if (!taken && first && isValidHandler(first)) {
        capi::View v(message);
        const uint8_t cmd = v.command(), sub = v.sub();
        if (cmd == capi::kListen && sub == capi::kConf) {
            taken = 0;
        } else if (cmd == capi::kConnect && sub == capi::kInd) {
            first->rejectCall(v.u32(8));
            taken = 1;
        } else if (cmd == capi::kDisconnect && sub == capi::kInd) {
            first->disconnectResponse(v.u32(8));
            taken = 1;
        } else {
            size_t n = v.size() < 32 ? v.size() : 32;
            debugHexDump(message, uint16_t(n));
        }
    }
    if (--dispatchDepth_ == 0 && !doomed_.empty()) {
        std::vector<CCapiMessageHandlerBase*> done;
        done.swap(doomed_);
        for (CCapiMessageHandlerBase* h : done) delete h;
    }
    unlockDispatch();
    return taken;
}
