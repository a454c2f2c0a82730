#include "msgcore/capi_port.h"

#include "common/debug.h"
#include "msgcore/capi_bytes.h"
#include "msgcore/message_handler.h"

CCapiPort::CCapiPort() {
    name_ = "CCapiPort";
    poolLock_.init();
}

CCapiPort::CCapiPort(const CCapiPort& other) : CDoubleListNode(other) {
    poolLock_.init();
    *this = other;
}

// The registration and the settings are copied; the buffers are not: each pool and the
// application buffer belong to one port, which frees them in its shutDown.
CCapiPort& CCapiPort::operator=(const CCapiPort& other) {
    if (this == &other) return *this;
    CDoubleListNode::operator=(other);
    applicationId_ = other.applicationId_;
    for (int i = 0; i < kHandlers; ++i) handlers_[i] = other.handlers_[i];
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
// calls still exist. Handlers destroyed while the port was in use go with it.
CCapiPort::~CCapiPort() {
    for (CCapiMessageHandlerBase* h : doomed_) delete h;
}

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

int CCapiPort::unregisterHandler(CCapiMessageHandlerBase* handler) {
    int done = 0;
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (handlers_[i] == handler) {
            handlers_[i] = nullptr;
            --handlerCount_;
            done = 1;
            break;
        }
    poolLock_.leave();
    return done;
}

// Not waiting for a dispatch: an owner callback may hand requests to other threads and wait for
// them, and those check their handles here.
int CCapiPort::isValidHandler(CCapiMessageHandlerBase* handler) {
    int found = 0;
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (handlers_[i] == handler) found = 1;
    poolLock_.leave();
    return found;
}

int CCapiPort::pinHandler(CCapiMessageHandlerBase* handler) {
    int found = 0;
    poolLock_.enter();
    for (int i = 0; i < kHandlers && handler; ++i)
        if (handlers_[i] == handler) found = 1;
    if (found) ++users_;
    poolLock_.leave();
    return found;
}

void CCapiPort::pin() { enterUse(); }
void CCapiPort::unpin() { leaveUse(); }

void CCapiPort::enterUse() {
    poolLock_.enter();
    ++users_;
    poolLock_.leave();
}

bool CCapiPort::claimDeletion() {
    if (!orphaned_ || users_ > 0 || holds_ > 0 || deleting_) return false;
    deleting_ = true;
    return true;
}

void CCapiPort::leaveUse() {
    std::vector<CCapiMessageHandlerBase*> done;
    poolLock_.enter();
    if (users_ > 0 && --users_ == 0) done.swap(doomed_);
    const bool last = claimDeletion();
    poolLock_.leave();
    for (CCapiMessageHandlerBase* h : done) delete h;
    if (last) delete this;
}

void CCapiPort::hold() {
    poolLock_.enter();
    ++holds_;
    poolLock_.leave();
}

void CCapiPort::releaseHold() {
    poolLock_.enter();
    if (holds_ > 0) --holds_;
    const bool last = claimDeletion();
    poolLock_.leave();
    if (last) delete this;
}

void CCapiPort::destroyWhenUnused() {
    poolLock_.enter();
    orphaned_ = true;
    const bool now = claimDeletion();
    poolLock_.leave();
    if (now) delete this;
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

bool CCapiPort::destroyHandler(CCapiMessageHandlerBase* handler) {
    // Leaving the table is the claim: of two closes of one handler only one finds it there.
    if (!handler || !unregisterHandler(handler)) return false;
    // Without its buffer: a dispatch or a request still inside it finds nothing to send with.
    handler->shutDown();
    poolLock_.enter();
    const bool inUse = users_ > 0;
    if (inUse) doomed_.push_back(handler);
    poolLock_.leave();
    if (!inUse) delete handler;
    return true;
}

int CCapiPort::answerUnclaimed(const tagAPIMsg* message) {
    if (!applicationId_) return 0;  // released: nothing may go out any more
    capi::View v(message);
    const uint8_t cmd = v.command(), sub = v.sub();
    uint8_t b[capi::kHeader + 16] = {};
    capi::Writer w(b, sizeof b);
    uint8_t answerSub = capi::kResp;
    uint16_t number = v.number();
    if (sub == capi::kInd) {
        switch (cmd) {
        case capi::kConnect:  // ignored, so another application may take the call
            w.u32(v.u32(8));
            w.u16(1);
            for (int i = 0; i < 5; ++i) w.empty();
            break;
        case capi::kConnectB3:  // rejected: its call was closed
            w.u32(v.u32(8));
            w.u16(2);
            w.empty();
            break;
        case capi::kFacility:  // the selector comes back with empty response parameters
            w.u32(v.u32(8));
            w.u16(v.u16(12));
            w.empty();
            break;
        case capi::kManufacturer:  // controller and manufacturer id
            w.u32(v.u32(8));
            w.u32(v.u32(12));
            break;
        case capi::kDataB3:
            w.u32(v.u32(8));
            w.u16(v.u16(18));
            break;
        case capi::kConnectActive: case capi::kDisconnect: case capi::kConnectB3Active:
        case capi::kDisconnectB3: case capi::kResetB3: case capi::kInfo: case capi::kConnectB3T90Active:
            w.u32(v.u32(8));
            break;
        default:
            return 0;
        }
    } else if (sub == capi::kConf && cmd == capi::kConnect && v.u16(12) == 0 && v.size() >= 14) {
        // A call that came up for a connection closed before its confirmation: nobody would
        // ever clear it.
        w.u32(v.u32(8));
        w.empty();
        answerSub = capi::kReq;
        number = getNextMessageNumber();
        b[4] = capi::kDisconnect;
    } else {
        return 0;
    }
    capi::put16(b, uint16_t(w.length()));
    capi::put16(b + 2, uint16_t(applicationId_));
    if (answerSub == capi::kResp) b[4] = cmd;
    b[5] = answerSub;
    capi::put16(b + 6, number);
    putMessage(reinterpret_cast<tagAPIMsg*>(b));
    return 1;
}

int CCapiPort::dispatchMessage(tagAPIMsg* message) {
    if (!message) return 0;
    enterUse();
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
    if (!taken) {
        capi::View v(message);
        // Answered by the port, never through a handler: one that a close on another thread is
        // taking away at this moment would send nothing, and the controller would wait for ever.
        if (v.command() == capi::kListen && v.sub() == capi::kConf) {
            taken = 0;
        } else if (answerUnclaimed(message)) {
            taken = 1;
        } else if (first) {
            size_t n = v.size() < 32 ? v.size() : 32;
            debugHexDump(message, uint16_t(n));
        }
    }
    leaveUse();
    return taken;
}
