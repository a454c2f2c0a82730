// The application objects and the table: pools, registration with the adapter and its waits,
// release, the receive queue, get and the signal procedure. The message paths are in
// capi_dispatch.cpp.
#include "portbridge/capi/capi_engine.h"

#include <cstring>
#include <new>

#include "common/debug.h"
#include "common/stage_clock.h"
#include "portbridge/capi/capi_engine_internal.h"

using capi_engine::EngineGuard;
using namespace capi_engine;

// ---- CEngineEvent --------------------------------------------------------------------------------

void CEngineEvent::reset() {
    std::lock_guard<std::mutex> g(m_);
    set_ = false;
}

void CEngineEvent::set() {
    {
        std::lock_guard<std::mutex> g(m_);
        set_ = true;
    }
    cv_.notify_all();
}

bool CEngineEvent::wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return set_; });
}

// ---- CCapiController -----------------------------------------------------------------------------

CCapiController::CCapiController(CCapiAppTable* table, uint16_t id) : table_(table), id_(id) {
    name_ = "CCapiController";
}

CCapiController::~CCapiController() = default;

void CCapiController::shutDown() { state_ = kAppFree; }

unsigned CCapiController::freeB3Blocks() const { return unsigned(freeB3_.getSize()); }

// ---- CCapiAppTable: set-up -----------------------------------------------------------------------

CCapiAppTable::CCapiAppTable() { name_ = "CCapiAppTable"; }

CCapiAppTable::~CCapiAppTable() { shutDown(); }

void CCapiAppTable::shutDown() {
    EngineGuard g(*this);
    for (unsigned i = 1; i <= kCapiAppSlots; ++i) {
        CCapiController* app = apps_[i];
        if (!app) continue;
        releaseResources(app);
        delete app;
        apps_[i] = nullptr;
    }
    outbox_.shutDown();
    freeBuffers_.shutDown();
    usedPlcis_.shutDown();
    freePlcis_.shutDown();
    for (CDoubleListNode* n = usedNccis_.head(); n; n = n->next()) static_cast<CCapiNcci*>(n)->held.shutDown();
    usedNccis_.shutDown();
    freeNccis_.shutDown();
    appCount_ = 0;
    created_ = false;
}

uint32_t CCapiAppTable::create(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) {
    EngineGuard g(*this);
    if (created_) return 0;
    if (applications > 8) applications = 8;  // ids above 8 are never handed out
    for (unsigned i = 1; i <= applications; ++i) {
        apps_[i] = new (std::nothrow) CCapiController(this, uint16_t(i));
        if (!apps_[i]) return 3;
    }
    appCount_ = applications;
    for (unsigned i = 0; i < plcis; ++i) {
        CCapiPlci* p = new (std::nothrow) CCapiPlci;
        if (!p) return 3;
        freePlcis_.appendNode(p);
    }
    for (unsigned i = 0; i < nccis; ++i) {
        CCapiNcci* n = new (std::nothrow) CCapiNcci;
        if (!n) return 3;
        freeNccis_.appendNode(n);
    }
    for (unsigned i = 0; i < buffers; ++i) {
        CCapiMessageBuffer* b = new (std::nothrow) CCapiMessageBuffer;
        if (!b) return 3;
        freeBuffers_.appendNode(b);
    }
    bufferCount_ = buffers;
    cursor_ = 1;
    firstRegistration_ = true;
    created_ = true;
    return 0;
}

void CCapiAppTable::setHost(CCapiEngineHost* host) {
    EngineGuard g(*this);
    host_ = host;
}

void CCapiAppTable::setPort(uint8_t index, CCapiPortLink* port) {
    EngineGuard g(*this);
    if (index < 1 || index > kCapiPorts) return;
    ports_[index] = port;
    if (!port) linkUp_[index] = false;
}

bool CCapiAppTable::hasPort(uint8_t index) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return index >= 1 && index <= kCapiPorts && ports_[index];
}

unsigned CCapiAppTable::portCount() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    unsigned n = 0;
    for (unsigned i = 1; i <= kCapiPorts; ++i) n += ports_[i] ? 1 : 0;
    return n;
}

bool CCapiAppTable::isLinkUp(uint8_t port) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return port >= 1 && port <= kCapiPorts && linkUp_[port];
}

void CCapiAppTable::addB3Options(uint32_t bits) {
    EngineGuard g(*this);
    b3Options_ |= bits;
}

void CCapiAppTable::setWaitTimes(uint32_t registerMs, uint32_t releaseMs, uint32_t identityMs) {
    EngineGuard g(*this);
    registerWaitMs_ = registerMs;
    releaseWaitMs_ = releaseMs;
    identityWaitMs_ = identityMs;
}

uint16_t CCapiAppTable::sendNow(uint8_t port, const uint8_t* message, uint16_t length) {
    flushOutbox();
    CCapiPortLink* link = port >= 1 && port <= kCapiPorts ? ports_[port] : nullptr;
    if (!link) return kCapiErrNotInstalled;
    const int depth = lockDepth_;
    lockDepth_ = 0;
    for (int i = 0; i < depth; ++i) lock_.unlock();
    const uint16_t sent = link->sendAdapterMessage(message, length, nullptr, 0);
    for (int i = 0; i < depth; ++i) lock_.lock();
    lockDepth_ = depth;
    return sent;
}

void CCapiAppTable::flushOutbox() {
    // The port may wait for the runtime thread to take a message, and that thread may be waiting
    // for this lock with an indication: so nothing is sent while the lock is held.
    if (flushing_) return;  // the thread already sending takes these too, in order
    flushing_ = true;
    while (auto* b = static_cast<CCapiMessageBuffer*>(outbox_.removeNode())) {
        CCapiPortLink* link = ports_[b->port];
        uint16_t sent = kCapiErrNotInstalled;
        if (link) {
            const int depth = lockDepth_;
            lockDepth_ = 0;
            for (int i = 0; i < depth; ++i) lock_.unlock();
            sent = link->sendAdapterMessage(b->bytes, b->length, b->payload, b->payloadLength);
            for (int i = 0; i < depth; ++i) lock_.lock();
            lockDepth_ = depth;
        }
        if (sent != 0) sendFailed(b, sent);
        giveBuffer(b);
    }
    flushing_ = false;
}

bool CCapiAppTable::waitUnlocked(CEngineEvent& event, uint32_t ms) {
    flushOutbox();
    // The adapter's answer comes through the port on another thread, which needs the lock.
    const int depth = lockDepth_;
    lockDepth_ = 0;
    for (int i = 0; i < depth; ++i) lock_.unlock();
    const bool arrived = event.wait(ms);
    for (int i = 0; i < depth; ++i) lock_.lock();
    lockDepth_ = depth;
    return arrived;
}

CCapiController* CCapiAppTable::lookup(uint16_t appId) {
    if (appId < 1 || appId > kCapiAppSlots) return nullptr;
    return apps_[appId];
}

CCapiController* CCapiAppTable::controller(uint16_t appId) {
    EngineGuard g(*this);
    return lookup(appId);
}

CCapiController* CCapiAppTable::allocateController() {
    for (unsigned n = 0; n < appCount_; ++n) {
        unsigned id = cursor_ + n;
        if (id > appCount_) id -= appCount_;
        CCapiController* app = apps_[id];
        if (app && (app->state_ == kAppFree || app->state_ == kAppReleased)) {
            cursor_ = id % appCount_ + 1;
            return app;
        }
    }
    return nullptr;
}

// ---- pools ---------------------------------------------------------------------------------------

CCapiMessageBuffer* CCapiAppTable::takeBuffer() {
    auto* b = static_cast<CCapiMessageBuffer*>(freeBuffers_.removeNode());
    if (!b) return nullptr;
    b->length = 0;
    b->data = nullptr;
    b->dataLength = 0;
    b->payload = nullptr;
    b->payloadLength = 0;
    b->ncci = 0;
    b->handle = 0;
    b->inUse = false;
    b->got = false;
    b->b3Owner = nullptr;
    b->port = 1;
    return b;
}

void CCapiAppTable::giveBuffer(CCapiMessageBuffer* buffer) {
    if (!buffer) return;
    // A B3 block goes back to its application's free blocks.
    if (CCapiController* app = buffer->b3Owner) {
        for (auto& slot : app->b3InUse_)
            if (slot == buffer) slot = nullptr;
        buffer->inUse = false;
        buffer->got = false;
        buffer->dataLength = 0;
        app->freeB3_.appendNode(buffer);
        return;
    }
    buffer->data = nullptr;
    freeBuffers_.appendNode(buffer);
}

CCapiPlci* CCapiAppTable::takePlci(CCapiController* app, CCapiPlci::Kind kind, uint8_t controller) {
    auto* p = static_cast<CCapiPlci*>(freePlcis_.removeNode());
    if (!p) return nullptr;
    p->owner = app;
    p->kind = kind;
    p->controller = controller;
    p->value = controller;
    p->state = kPlciIdle;
    p->requestNumber = 0;
    for (auto& n : p->nccis) n = nullptr;
    usedPlcis_.appendNode(p);
    return p;
}

void CCapiAppTable::freePlci(CCapiPlci* plci) {
    if (!plci) return;
    for (auto& n : plci->nccis) {
        if (n) freeNcci(n);
        n = nullptr;
    }
    if (plci->owner) {
        for (auto& l : plci->owner->listens_)
            if (l.plci == plci) l.plci = nullptr;
        for (auto& r : plci->owner->ports_)
            if (r.registration == plci) r.registration = nullptr;
    }
    plci->owner = nullptr;
    plci->state = kPlciIdle;
    usedPlcis_.removeNode(plci);
    freePlcis_.appendNode(plci);
}

CCapiNcci* CCapiAppTable::takeNcci(CCapiController* app, CCapiPlci* plci) {
    if (!plci) return nullptr;
    unsigned slot = kCapiNcciPerPlci;
    for (unsigned i = 0; i < kCapiNcciPerPlci; ++i)
        if (!plci->nccis[i]) {
            slot = i;
            break;
        }
    if (slot == kCapiNcciPerPlci) return nullptr;
    auto* n = static_cast<CCapiNcci*>(freeNccis_.removeNode());
    if (!n) return nullptr;
    n->owner = app;
    n->plci = plci;
    n->value = 0;
    n->state = kNcciFree;
    n->windowCount = 0;
    n->outstandingCount = 0;
    plci->nccis[slot] = n;
    usedNccis_.appendNode(n);
    return n;
}

void CCapiAppTable::freeNcci(CCapiNcci* ncci) {
    if (!ncci) return;
    if (ncci->plci)
        for (auto& n : ncci->plci->nccis)
            if (n == ncci) n = nullptr;
    while (auto* b = static_cast<CCapiMessageBuffer*>(ncci->held.removeNode())) giveBuffer(b);
    // Data the application took but will not answer now that the connection is gone.
    if (CCapiController* app = ncci->owner)
        for (auto* b : app->b3InUse_)
            if (b && b->got && b->ncci == ncci->value) giveBuffer(b);
    ncci->plci = nullptr;
    ncci->owner = nullptr;
    ncci->state = kNcciFree;
    ncci->windowCount = 0;
    ncci->outstandingCount = 0;
    usedNccis_.removeNode(ncci);
    freeNccis_.appendNode(ncci);
    updatePacingTimer();
}

CCapiPlci* CCapiAppTable::findPlci(CCapiController* app, uint32_t value) {
    for (CDoubleListNode* n = usedPlcis_.head(); n; n = n->next()) {
        auto* p = static_cast<CCapiPlci*>(n);
        if (p->owner == app && p->kind == CCapiPlci::kCall && (p->value & 0xFFFF) == (value & 0xFFFF)) return p;
    }
    return nullptr;
}

CCapiPlci* CCapiAppTable::findPendingCall(CCapiController* app, uint16_t number) {
    for (CDoubleListNode* n = usedPlcis_.head(); n; n = n->next()) {
        auto* p = static_cast<CCapiPlci*>(n);
        if (p->owner == app && p->kind == CCapiPlci::kCall && p->state == kPlciConnectSent &&
            p->requestNumber == number)
            return p;
    }
    return nullptr;
}

CCapiNcci* CCapiAppTable::findNcci(CCapiController* app, uint32_t value) {
    for (CDoubleListNode* n = usedNccis_.head(); n; n = n->next()) {
        auto* c = static_cast<CCapiNcci*>(n);
        if (c->owner == app && c->value == value) return c;
    }
    return nullptr;
}

const CCapiPlci* CCapiAppTable::findPlciObject(uint16_t appId, uint32_t value) {
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    return app ? findPlci(app, value) : nullptr;
}

const CCapiNcci* CCapiAppTable::findNcciObject(uint16_t appId, uint32_t value) {
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    return app ? findNcci(app, value) : nullptr;
}

// ---- B3 blocks -----------------------------------------------------------------------------------

void CCapiAppTable::setUpB3Blocks(CCapiController* app) {
    // The payloads of DATA_B3_IND wait here until the application answers them. One application
    // holds at most kCapiMaxB3BlocksPerApp blocks of at most kCapiMaxB3DataLength bytes, so no
    // register parameters make the sizes overflow or take the pool.
    const uint16_t blocks = app->params_.maxB3Blocks < kCapiMaxB3BlocksPerApp ? app->params_.maxB3Blocks
                                                                              : kCapiMaxB3BlocksPerApp;
    const size_t length = app->params_.maxB3DataLength;
    app->b3Blocks_ = 0;
    if (blocks == 0 || length == 0) return;
    app->b3Memory_ = new (std::nothrow) uint8_t[length * kCapiMaxB3BlocksPerApp];
    if (!app->b3Memory_) return;
    for (uint16_t i = 0; i < blocks; ++i) {
        CCapiMessageBuffer* b = takeBuffer();
        if (!b) continue;  // a block without a buffer is skipped
        b->data = app->b3Memory_ + i * length;
        b->b3Owner = app;
        app->freeB3_.appendNode(b);
        ++app->b3Blocks_;
    }
}

void CCapiAppTable::freeB3Memory(CCapiController* app) {
    for (auto& slot : app->b3InUse_) {
        if (slot) {
            slot->data = nullptr;
            slot->inUse = false;
            slot->b3Owner = nullptr;
            freeBuffers_.appendNode(slot);
        }
        slot = nullptr;
    }
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->freeB3_.removeNode())) {
        b->data = nullptr;
        b->b3Owner = nullptr;
        freeBuffers_.appendNode(b);
    }
    delete[] app->b3Memory_;
    app->b3Memory_ = nullptr;
    app->b3Blocks_ = 0;
}

// ---- register and release ------------------------------------------------------------------------

uint16_t CCapiAppTable::registerApplication(const CapiRegisterParams& params, uint16_t* appId) {
    EngineGuard g(*this);
    if (appId) *appId = 0;
    if (!created_) return kCapiErrNotInstalled;
    if (portCount() == 0) return kCapiErrNotInstalled;
    CCapiController* app = allocateController();
    if (!app) return kCapiErrUnknownApplication;

    app->state_ = kAppRegistering;
    app->params_ = params;
    if (app->params_.queueWord < 5) app->params_.queueWord = 5;
    if (app->params_.maxB3DataLength > kCapiMaxB3DataLength) app->params_.maxB3DataLength = kCapiMaxB3DataLength;
    app->capi11_ = params.versionWord == 11;
    app->messageNumber_ = 0x8000;
    app->pendingError_ = 0;
    app->signal_ = nullptr;
    app->signalContext_ = 0;
    app->signalOwed_ = 0;
    app->registrationResult_ = 0;
    for (auto& r : app->ports_) {
        r.registration = nullptr;
        r.state = kAppFree;
    }
    for (auto& l : app->listens_) l = CCapiController::ListenRecord();
    if (appId) *appId = app->id_;

    setUpB3Blocks(app);
    if (params.maxB3Blocks && params.maxB3DataLength && !app->b3Memory_) {
        app->state_ = kAppReleased;
        if (appId) *appId = 0;
        return kCapiErrResources;
    }

    uint16_t result = 0;
    if (portCount() == 1 && ports_[1]) result = registerAtAdapter(app, 1);
    if (result != 0) {
        // Nothing of a failed registration stays: its object is free for the next one. A late
        // confirmation from the adapter is answered with a release (internalMessage).
        releaseResources(app);
        app->state_ = kAppReleased;
        if (appId) *appId = 0;
    }
    return result;
}

uint16_t CCapiAppTable::registerAtAdapter(CCapiController* app, uint8_t port) {
    CCapiController::PortRecord& record = app->ports_[port];
    if (!record.registration) {
        record.registration = takePlci(app, CCapiPlci::kRegistration, port);
        if (!record.registration) return kCapiErrResources;
    }
    uint8_t m[16];
    put16(m, 16);
    put16(m + 2, app->id_);
    m[4] = 0x01;
    m[5] = app->capi11_ ? 0x40 : 0xC0;
    put16(m + 6, port);
    put16(m + 8, app->params_.maxLogicalConnections);
    // The adapter holds back DATA_B3_IND beyond this count: only blocks that exist are offered.
    put16(m + 10, app->b3Blocks_);
    put16(m + 12, app->params_.maxB3DataLength);
    put16(m + 14, firstRegistration_ ? kCapiFirstRegistrationMark : 0);
    firstRegistration_ = false;

    const uint16_t before = app->state_;
    record.event.reset();
    record.state = kAppRegistrationSent;
    app->state_ = kAppRegistrationSent;
    app->registrationResult_ = kCapiErrNotInstalled;
    const uint16_t sent = sendNow(port, m, 16);
    if (sent != 0) {
        debugPrint(0x08000000, "! registration of application %u not sent (%04X)", app->id_, sent);
        freePlci(record.registration);
        record.state = kAppFree;
        app->state_ = before;
        return kCapiErrNotInstalled;
    }
    if (record.state == kAppRegistrationSent) waitUnlocked(record.event, registerWaitMs_);
    const uint16_t result = record.state == kAppRegistered ? uint16_t(0) : app->registrationResult_;
    if (result != 0) {
        if (record.registration) freePlci(record.registration);
        if (before == kAppRegistered) {
            // Registered already, only not on this port (the link had dropped): it stays so.
            record.state = kAppFree;
            app->state_ = kAppRegistered;
        } else {
            record.state = kAppAbandoned;
        }
        return result;
    }
    return 0;
}

void CCapiAppTable::releaseResources(CCapiController* app) {
    for (auto& l : app->listens_) l = CCapiController::ListenRecord();
    // Calls and B3 connections of the application, the registration records included.
    for (CDoubleListNode* n = usedPlcis_.head(); n;) {
        CDoubleListNode* next = n->next();
        auto* p = static_cast<CCapiPlci*>(n);
        if (p->owner == app) {
            freePlci(p);
            next = usedPlcis_.head();  // freeing may have unlinked further nodes
        }
        n = next;
    }
    for (CDoubleListNode* n = usedNccis_.head(); n;) {
        CDoubleListNode* next = n->next();
        if (static_cast<CCapiNcci*>(n)->owner == app) {
            freeNcci(static_cast<CCapiNcci*>(n));
            next = usedNccis_.head();
        }
        n = next;
    }
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->receiveQueue_.removeNode())) giveBuffer(b);
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->waiting_.removeNode())) giveBuffer(b);
    if (app->got_) {
        giveBuffer(app->got_);
        app->got_ = nullptr;
    }
    freeB3Memory(app);
    app->signal_ = nullptr;
}

uint16_t CCapiAppTable::releaseApplication(uint16_t appId) {
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleasing || app->state_ == kAppReleased)
        return kCapiErrUnknownApplication;
    for (auto& l : app->listens_) l = CCapiController::ListenRecord();
    app->state_ = kAppReleasing;
    // The application's calls end here; the registration records stay for the release below.
    for (CDoubleListNode* n = usedPlcis_.head(); n;) {
        CDoubleListNode* next = n->next();
        auto* p = static_cast<CCapiPlci*>(n);
        if (p->owner == app && p->kind != CCapiPlci::kRegistration) {
            freePlci(p);
            next = usedPlcis_.head();
        }
        n = next;
    }
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->receiveQueue_.removeNode())) giveBuffer(b);
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->waiting_.removeNode())) giveBuffer(b);
    for (uint8_t port = 1; port <= kCapiPorts; ++port) {
        CCapiController::PortRecord& record = app->ports_[port];
        if (!record.registration) continue;
        uint8_t m[8];
        put16(m, 8);
        put16(m + 2, app->id_);
        m[4] = 0x02;
        m[5] = 0xC0;
        put16(m + 6, port);
        record.state = kAppReleasing;
        record.event.reset();
        if (sendNow(port, m, 8) == 0 && record.state == kAppReleasing)
            waitUnlocked(record.event, releaseWaitMs_);
        if (record.registration) freePlci(record.registration);
        record.state = kAppReleased;
    }
    releaseResources(app);
    app->state_ = kAppReleased;
    return 0;
}

// ---- signal, queue, get --------------------------------------------------------------------------

uint16_t CCapiAppTable::installSignal(uint16_t appId, CapiSignalProc proc, uintptr_t context) {
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleased) return kCapiErrUnknownApplication;
    app->signal_ = proc;
    app->signalContext_ = context;
    return 0;
}

uint16_t CCapiAppTable::nextNumber(CCapiController* app) {
    app->messageNumber_ = app->messageNumber_ == 0xFFFF ? uint16_t(0x8000) : uint16_t(app->messageNumber_ + 1);
    return app->messageNumber_;
}

void CCapiAppTable::signalApplication(CCapiController* app) {
    stageclock::stamp(stageclock::kEngineSignal);
    // A signal procedure that puts or gets from inside is not called again from inside; its
    // calls are owed and made when it returns.
    ++app->signalOwed_;
    if (app->signalDepth_) return;
    ++app->signalDepth_;
    while (app->signalOwed_) {
        --app->signalOwed_;
        if (app->signal_) app->signal_(app->id_, app->signalContext_);
    }
    --app->signalDepth_;
}

void CCapiAppTable::queueForApplication(CCapiController* app, CCapiMessageBuffer* buffer) {
    if (app->capi11_) buffer->bytes[5] &= 0x7F;
    app->receiveQueue_.appendNode(buffer);
    app->pendingError_ = 0;
    signalApplication(app);
}

uint16_t CCapiAppTable::queueBytes(CCapiController* app, const uint8_t* bytes, uint16_t length) {
    CCapiMessageBuffer* b = takeBuffer();
    if (!b) {
        app->pendingError_ = kCapiErrQueueOverflow;
        return kCapiErrQueueFull;
    }
    std::memcpy(b->bytes, bytes, length);
    b->length = length;
    put16(b->bytes, length);
    queueForApplication(app, b);
    return 0;
}

uint16_t CCapiAppTable::getMessage(uint16_t appId, CapiGotMessage* got) {
    EngineGuard g(*this);
    if (got) *got = CapiGotMessage();
    CCapiController* app = lookup(appId);
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleased || app->state_ == kAppReleasing)
        return kCapiErrUnknownApplication;
    if (app->got_) {
        giveBuffer(app->got_);
        app->got_ = nullptr;
    }
    auto* b = static_cast<CCapiMessageBuffer*>(app->receiveQueue_.removeNode());
    if (!b) {
        const uint16_t pending = app->pendingError_;
        app->pendingError_ = 0;
        return pending ? pending : uint16_t(kCapiErrQueueEmpty);
    }
    if (got) {
        got->message = b->bytes;
        got->length = b->length;
        if (b->b3Owner && b->inUse) {
            got->b3Data = b->data;
            got->b3Length = b->dataLength;
        }
    }
    // A B3 block stays with its DATA_B3_IND until the application answers it; any other buffer
    // until the caller has copied the message (completeGet or the next get).
    if (b->b3Owner && b->inUse)
        b->got = true;
    else
        app->got_ = b;
    return 0;
}

void CCapiAppTable::completeGet(uint16_t appId) {
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    if (!app || !app->got_) return;
    giveBuffer(app->got_);
    app->got_ = nullptr;
}

// ---- identity ------------------------------------------------------------------------------------

uint16_t CCapiAppTable::requestIdentity(uint8_t port, uint8_t* record) {
    EngineGuard g(*this);
    if (port < 1 || port > kCapiPorts || !ports_[port]) return kCapiErrNotInstalled;
    CCapiController* app = nullptr;
    for (unsigned i = 1; i <= kCapiAppSlots && !app; ++i)
        if (apps_[i] && apps_[i]->state_ == kAppRegistered) app = apps_[i];
    bool lent = false;
    if (!app) {
        // Lent for the question only: the next registration still gets the id it would have.
        const unsigned cursor = cursor_;
        app = allocateController();
        cursor_ = cursor;
        if (!app) return kCapiErrUnknownApplication;
        lent = true;
        app->state_ = kAppRegistering;
        app->ports_[port].registration = takePlci(app, CCapiPlci::kRegistration, port);
    }
    uint8_t m[18];
    put16(m, 18);
    put16(m + 2, app->id_);
    m[4] = 0xFF;
    m[5] = 0xC0;
    put16(m + 6, 0xFFFF);
    put32(m + 8, port);
    std::memcpy(m + 12, "kolv", 4);
    m[16] = 7;
    m[17] = 16;
    CCapiController::PortRecord& r = app->ports_[port];
    r.event.reset();
    app->identityResult_ = record;
    app->identityArrived_ = false;
    if (sendNow(port, m, 18) == 0 && !app->identityArrived_)
        waitUnlocked(r.event, identityWaitMs_);
    const bool arrived = app->identityArrived_;
    app->identityResult_ = nullptr;
    if (lent) {
        if (app->ports_[port].registration) freePlci(app->ports_[port].registration);
        app->state_ = kAppFree;
    }
    return arrived ? uint16_t(0) : uint16_t(kCapiErrNotInstalled);
}
