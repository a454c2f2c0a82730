#include "portbridge/provider/ta_provider.h"

#include <cstring>
#include <new>

#include "common/debug.h"
#include "common/le_bytes.h"

namespace pbprov {

namespace {
constexpr uint32_t kInfoUnknownCommand = 0x2007;
constexpr uint32_t kTraceClassProvider = 0xA5;
constexpr uint16_t kVersionTextSelector = 11;
constexpr uint8_t kCommandConnect = 0x02, kCommandListen = 0x05, kSubRequest = 0x80, kSubRequest11 = 0x00;

using le::get16;
}  // namespace

// ---------------------------------------------------------------------------------------------
// CCapiProvider

CCapiProvider::CCapiProvider() {
    name_ = "CCapiProvider";
    // The manufacturer text is padded with blanks to 47 characters.
    std::memset(manufacturerText_, ' ', 47);
    std::memcpy(manufacturerText_, "Quarnbeck A+R GmbH", 18);
    manufacturerText_[47] = 0;
}

CCapiProvider::~CCapiProvider() = default;

uint32_t CCapiProvider::call(CCapiCall& call) { return baseCall(call); }

void CCapiProvider::completeGet(uint16_t appId) {
    if (engine_) engine_->completeGet(appId);
}

uint32_t CCapiProvider::manufacturer(uint8_t* out) {
    if (!out) return kInfoResources;
    std::memcpy(out, manufacturerText_, sizeof(manufacturerText_));
    return kInfoOk;
}

uint32_t CCapiProvider::version(uint16_t* major, uint16_t* minor) {
    if (!major || !minor) return kInfoResources;
    *major = 0x0200;
    *minor = 0x0107;
    return kInfoOk;
}

uint32_t CCapiProvider::serialNumber(uint8_t* out) {
    if (!out) return kInfoResources;
    out[0] = 0;
    return kInfoOk;
}

uint32_t CCapiProvider::profile(uint32_t, uint8_t* out) {
    if (!out) return kInfoResources;
    std::memset(out, 0, kResultBufferSize);
    out[0] = 1;
    return kInfoOk;
}

void CCapiProvider::traceMessage(const uint8_t* message, size_t size) {
    if (traceMessages_ && message) tracer_.traceMessageBytes(message, static_cast<unsigned>(size));
}

uint32_t CCapiProvider::baseCall(CCapiCall& c) {
    if (!engine_) return kInfoNotReachable;
    switch (c.function) {
    case kFnRegister: {
        uint16_t id = 0;
        uint32_t result = engine_->registerApplication(c.reg, &id);
        if (c.appIdResult) *c.appIdResult = result == kInfoOk ? id : 0;
        if (result == kInfoOk) ++registered_;
        return result;
    }
    case kFnRelease: {
        uint32_t result = engine_->releaseApplication(c.appId);
        // Only a release that took place lowers the count.
        if (result == kInfoOk && registered_ > 0) --registered_;
        return result;
    }
    case kFnPut: {
        if (!c.message || c.messageSize < 2) return kInfoBadPut;
        size_t length = get16(c.message);
        if (length < kPutMin || length > kPutMax || length > c.messageSize) return kInfoBadPut;
        traceMessage(c.message, length);
        if (!engine_->knowsApplication(c.appId)) {
            debugPrint(kTraceClassProvider, "put for unknown application %u", c.appId);
            debugHexDump(c.message, 16);
        }
        return engine_->putMessage(c.appId, c.message, length, c.payload);
    }
    case kFnGet: {
        CTaGot got;
        uint32_t result = engine_->getMessage(c.appId, &got);
        if (result == kInfoOk && got.message) traceMessage(got.message, got.length);
        if (c.got) *c.got = result == kInfoOk ? got : CTaGot{};
        return result;
    }
    case kFnSignal:
        return engine_->installSignal(c.appId, c.signal, c.signalContext);
    case kFnManufacturer:
        return manufacturer(c.resultBuffer);
    case kFnVersion:
        if (c.selector == kVersionTextSelector) {
            if (!c.versionText) return kInfoResources;
            std::strcpy(c.versionText, versionText());
            return kInfoOk;
        }
        return version(c.majorVersion, c.minorVersion);
    case kFnSerialNumber:
        return serialNumber(c.resultBuffer);
    case kFnProfile:
        return profile(c.controller, c.resultBuffer);
    default:
        return kInfoUnknownCommand;
    }
}

// ---------------------------------------------------------------------------------------------
// CTaProvider

CTaProvider::CTaProvider(CTaLinkOps* link, CTaTimerOps* timers, CTaEngineOps* engine, CTaSettingsFn readSettings,
                         CTaPostFn post)
    : link_(link), timers_(timers), readSettings_(readSettings), post_(post) {
    name_ = "CTaProvider";
    engine_ = engine;
}

CTaProvider::~CTaProvider() { shutDown(); }

uint32_t CTaProvider::start(void* window) {
    if (timers_) timers_->startService(10);
    uint32_t result = init(8, 8, 4, 50);
    if (result != 0) return result;
    if (!ports_[1].port) {
        CTaPort* port = new (std::nothrow) CTaPort(1, link_, timers_);
        if (!port) return 20;
        result = addPort(1, port);
        if (result != 0) {
            delete port;
            return result;
        }
    }
    window_ = window;
    started_ = true;
    return 0;
}

uint32_t CTaProvider::init(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) {
    if (tableMade_) return 0;
    if (!engine_ || engine_->createTable(applications, plcis, nccis, buffers) != 0) return 3;
    tableMade_ = true;
    return 0;
}

uint32_t CTaProvider::addPort(unsigned index, CTaPort* port) {
    index %= 128;
    if (index < 1 || index > 4) return 85;
    if (ports_[index].port) return 86;
    if (!port) return 20;
    ports_[index] = PortRecord{};
    ports_[index].port = port;
    port->setIndicationProc(&CTaProvider::portIndicationProc, this);
    if (engine_) engine_->setPort(index, port);
    return 0;
}

CTaProvider::PortRecord* CTaProvider::record(unsigned index) {
    index %= 128;
    if (index < 1 || index > 4 || !ports_[index].port) return nullptr;
    return &ports_[index];
}

CTaPort* CTaProvider::port(unsigned index) {
    PortRecord* r = record(index);
    return r ? r->port : nullptr;
}

void CTaProvider::setPortTiming(const CTaPort::Timing& timing) {
    for (auto& r : ports_)
        if (r.port) r.port->setTiming(timing);
}

void CTaProvider::shutDown() {
    cancelDeferred();
    for (unsigned i = 0; i <= 4; ++i) closePort(i);
    for (unsigned i = 0; i <= 4; ++i) {
        if (ports_[i].port && engine_) engine_->setPort(i, nullptr);
        delete ports_[i].port;
        ports_[i] = PortRecord{};
    }
    if (tableMade_ && engine_) engine_->destroyTable();
    tableMade_ = false;
    if (started_ && timers_) timers_->stopService();
    started_ = false;
}

uint32_t CTaProvider::call(CCapiCall& c) {
    if (c.function == kFnRegister) {
        cancelDeferred();
        // The adapter is opened at the first registration, and again after its link was lost.
        if (!portOpen_ && openPort(1) != 0) {
            if (c.appIdResult) *c.appIdResult = 0;
            return kInfoNotReachable;
        }
        if (!record(1)) return kInfoNotReachable;
    } else if (c.function == kFnPut && !portOpen_ && registered_ > 0 && startsACall(c)) {
        // The link was lost while applications stayed registered: a new call or listen opens
        // the adapter again (the engine registers them there once the link is up). Should that
        // fail, the port refuses the put as before.
        cancelDeferred();
        openPort(1);
    } else if (c.function >= kFnManufacturer && c.function <= kFnProfile) {
        cancelDeferred();
        fetchIdentity();
    }
    return baseCall(c);
}

bool CTaProvider::startsACall(const CCapiCall& c) {
    if (!c.message || c.messageSize < 6) return false;
    const uint8_t command = c.message[4], sub = c.message[5];
    return (command == kCommandConnect || command == kCommandListen) && (sub == kSubRequest || sub == kSubRequest11);
}

uint32_t CTaProvider::manufacturer(uint8_t* out) {
    if (!out) return kInfoResources;
    identity_.manufacturer(reinterpret_cast<char*>(out), kResultBufferSize);
    return kInfoOk;
}

uint32_t CTaProvider::version(uint16_t* major, uint16_t* minor) {
    if (!major || !minor) return kInfoResources;
    *major = identity_.majorVersion();
    *minor = identity_.minorVersion();
    return kInfoOk;
}

uint32_t CTaProvider::serialNumber(uint8_t* out) {
    if (!out) return kInfoResources;
    identity_.serialNumber(reinterpret_cast<char*>(out), kResultBufferSize);
    return kInfoOk;
}

uint32_t CTaProvider::profile(uint32_t controller, uint8_t* out) {
    if (!out) return kInfoResources;
    if (controller == 0) {
        // One controller.
        std::memset(out, 0, kResultBufferSize);
        out[0] = 1;
        return kInfoOk;
    }
    std::memcpy(out, identity_.profile(), kResultBufferSize);
    return kInfoOk;
}

uint32_t CTaProvider::openPort(unsigned index) {
    CTaPortSettings settings;
    if (readSettings_) readSettings_(&settings);
    traceMessages_ = settings.traceMessages;
    if (engine_) engine_->addB3Options(settings.b3Options);
    CTaPort* p = port(index);
    if (!p) return 4;
    uint32_t result = p->open(settings);
    if (result == 0) {
        result = p->connect();
        // A link that never came up is not left running.
        if (result != 0) p->close();
    }
    portOpen_ = result == 0;
    return result;
}

uint32_t CTaProvider::closePort(unsigned index) {
    cancelDeferred();
    CTaPort* p = port(index);
    if (p) {
        p->close();
        PortRecord* r = record(index);
        r->linkUp = r->present = false;
        portOpen_ = false;
    }
    return 0;
}

void CTaProvider::portIndicationProc(void* context, unsigned index, const CTaPortMessage& message) {
    static_cast<CTaProvider*>(context)->portIndication(index, message);
}

void CTaProvider::portIndication(unsigned index, const CTaPortMessage& m) {
    PortRecord* r = record(index);
    if (!r || !engine_) return;
    switch (m.id) {
    case kLinkEstablished:
        r->linkUp = r->present = true;
        engine_->linkUp(index);
        break;
    case kLinkReleased:
    case kLinkStopped:
        // A lost link: the calls on it are gone. (645, a reset the link comes back from at once,
        // changes nothing here.)
        r->linkUp = r->present = false;
        if (r->port->state() == CTaPort::kFailed) portOpen_ = false;
        engine_->linkDown(index);
        break;
    case kLinkPresent:
        r->present = true;
        r->linkUp = false;
        break;
    case kLinkDataUp:
        // An identity reply too short for its record is dropped: the request then times out.
        if (isIdentityReply(m.message, m.size) && !identityReplyComplete(m.message, m.size)) break;
        // Link control's own confirmation of a sent DATA_B3_REQ.
        if (m.message[4] == 0x86 && m.message[5] == 0x81)
            engine_->dataSent(m.message, m.size);
        else
            engine_->adapterMessage(index, m.message, m.size);
        break;
    default:
        break;
    }
}

void CTaProvider::fetchIdentity() {
    if (identity_.valid()) return;
    if (!portOpen_ && openPort(1) != 0) return;
    uint8_t record[kIdentityRecordSize] = {};
    if (engine_ && engine_->requestIdentity(1, record) == 0) identity_.takeRecord(record);
}

void CTaProvider::deferAction(uint32_t action, unsigned ms) {
    std::lock_guard<std::mutex> lock(deferredMutex_);
    if (deferredTimer_ || !timers_) return;
    deferredAction_ = action;
    deferredTimer_ = timers_->startTimer(ms, &CTaProvider::deferredExpired, this, false);
}

void CTaProvider::cancelDeferred() {
    std::lock_guard<std::mutex> lock(deferredMutex_);
    if (deferredTimer_ && timers_) timers_->cancelTimer(deferredTimer_);
    deferredTimer_ = nullptr;
    deferredAction_ = 0;
}

bool CTaProvider::deferredPending() {
    std::lock_guard<std::mutex> lock(deferredMutex_);
    return deferredTimer_ != nullptr;
}

void CTaProvider::deferredExpired(void* context) {
    // On the timer thread: the action is posted to the window, whose thread opens the port.
    CTaProvider* self = static_cast<CTaProvider*>(context);
    uint32_t action;
    {
        std::lock_guard<std::mutex> lock(self->deferredMutex_);
        if (!self->deferredTimer_) return;
        action = self->deferredAction_;
        self->deferredTimer_ = nullptr;
        self->deferredAction_ = 0;
    }
    if (action == kOpenPortAction && self->post_) self->post_(self->window_, action, 1);
}

}  // namespace pbprov
