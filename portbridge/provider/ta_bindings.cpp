#include "portbridge/provider/ta_bindings.h"

#include <atomic>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "portbridge/capi/capi_engine.h"
#include "portbridge/provider/ta_port.h"
#include "portbridge/stack/link_control.h"
#include "portbridge/stack/runtime_message.h"

namespace pbprov {

namespace {
void copyText(char* out, size_t size, const std::string& text) {
    std::snprintf(out, size, "%s", text.c_str());
}
}  // namespace

class CTaStackLink : public CTaLinkOps {
public:
    bool startRuntime(const CTaPortSettings& settings, CTaIndicationFn fn, void* context) override;
    bool bringUpLink(const CTaPortSettings& settings) override;
    uint32_t connectLink(uint8_t reactivation) override;
    uint32_t sendLinkRequest(uint16_t id) override;
    bool sendLinkData(const uint8_t* data, size_t length) override;
    void runtimeTick() override;
    void shutDownLink() override;

private:
    static void indication(void* context, const stack::RuntimeMessage& message);
    CTaIndicationFn fn_ = nullptr;
    void* context_ = nullptr;
};

class CTaEngine : public CTaEngineOps, public CCapiEngineHost {
public:
    explicit CTaEngine(CTaTimerOps* timers) : timers_(timers) {}
    ~CTaEngine() override;

    uint32_t createTable(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) override;
    void destroyTable() override;
    void setPort(unsigned index, CTaPort* port) override;
    void addB3Options(uint32_t bits) override { table_.addB3Options(bits); }
    uint32_t registerApplication(const CTaRegisterParams& params, uint16_t* appId) override;
    uint32_t releaseApplication(uint16_t appId) override { return table_.releaseApplication(appId); }
    uint32_t putMessage(uint16_t appId, const uint8_t* message, size_t size, const uint8_t* payload) override {
        return table_.putMessage(appId, message, size, payload);
    }
    uint32_t getMessage(uint16_t appId, CTaGot* got) override;
    void completeGet(uint16_t appId) override { table_.completeGet(appId); }
    uint32_t installSignal(uint16_t appId, CTaSignalFn fn, uintptr_t context) override {
        return table_.installSignal(appId, fn, context);
    }
    bool knowsApplication(uint16_t appId) override;
    uint32_t requestIdentity(unsigned port, uint8_t* record) override {
        return table_.requestIdentity(static_cast<uint8_t>(port), record);
    }
    void adapterMessage(unsigned port, const uint8_t* message, size_t size) override {
        table_.adapterMessage(static_cast<uint8_t>(port), message, size);
    }
    void dataSent(const uint8_t* message, size_t size) override { table_.dataSent(message, size); }
    void linkUp(unsigned port) override { table_.linkUp(static_cast<uint8_t>(port)); }
    void linkDown(unsigned port) override { table_.linkDown(static_cast<uint8_t>(port)); }

    void startPacingTimer() override;
    void stopPacingTimer() override;
    uint32_t nowMs() override;

private:
    // The engine's view of one port: a message is taken only while the port is connected.
    class PortLink : public CCapiPortLink {
    public:
        CTaPort* port = nullptr;
        uint16_t sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                    uint16_t payloadLength) override;
    };
    static void pacingExpired(void* context);

    CTaTimerOps* timers_;
    CCapiAppTable table_;
    PortLink links_[5];
    std::atomic<void*> pacingTimer_{nullptr};
};

// ---- link control

bool CTaStackLink::startRuntime(const CTaPortSettings&, CTaIndicationFn fn, void* context) {
    fn_ = fn;
    context_ = context;
    return stack::startRuntime(&CTaStackLink::indication, this) == 0;
}

void CTaStackLink::indication(void* context, const stack::RuntimeMessage& message) {
    auto* self = static_cast<CTaStackLink*>(context);
    CTaIndication ind;
    ind.id = message.id();
    if (ind.id == kLinkDataUp) {
        ind.dataOffset = message.u16(8);
        ind.dataLength = message.u16(10);
        ind.data = static_cast<const uint8_t*>(message.pointer());
    }
    if (self->fn_) self->fn_(self->context_, ind);
}

bool CTaStackLink::bringUpLink(const CTaPortSettings& settings) {
    stack::LinkSettings link;
    std::snprintf(link.portName, sizeof(link.portName), "\\\\.\\COM%u", settings.comPort);
    link.baudRate = settings.baudRate;
    link.windowSize = settings.windowSize;
    copyText(link.versionCommand, sizeof(link.versionCommand), settings.versionCommand);
    copyText(link.versionAnswer, sizeof(link.versionAnswer), settings.versionAnswer);
    copyText(link.nameCommand, sizeof(link.nameCommand), settings.nameCommand);
    copyText(link.nameAnswer, sizeof(link.nameAnswer), settings.nameAnswer);
    return stack::bringUpLink(link) == 1;
}

uint32_t CTaStackLink::connectLink(uint8_t) { return stack::connectLink(); }

uint32_t CTaStackLink::sendLinkRequest(uint16_t id) { return stack::sendLinkRequest(id); }

bool CTaStackLink::sendLinkData(const uint8_t* data, size_t length) {
    if (length > 0xFFFF) return false;
    return stack::sendLinkData(0, static_cast<uint16_t>(length), data, 0, nullptr) == 1;
}

void CTaStackLink::runtimeTick() { stack::runtimeTick(); }

void CTaStackLink::shutDownLink() { stack::shutDownLink(); }

// ---- the engine

CTaEngine::~CTaEngine() { stopPacingTimer(); }

uint32_t CTaEngine::createTable(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) {
    table_.setHost(this);
    return table_.create(applications, plcis, nccis, buffers);
}

void CTaEngine::destroyTable() {
    stopPacingTimer();
    for (uint8_t i = 1; i <= 4; ++i) table_.setPort(i, nullptr);
    table_.shutDown();
}

void CTaEngine::setPort(unsigned index, CTaPort* port) {
    if (index < 1 || index > 4) return;
    links_[index].port = port;
    table_.setPort(static_cast<uint8_t>(index), port ? &links_[index] : nullptr);
}

uint32_t CTaEngine::registerApplication(const CTaRegisterParams& p, uint16_t* appId) {
    CapiRegisterParams params;
    params.messageBufferSize = p.bufferSize;
    params.maxLogicalConnections = p.maxLogicalConnections;
    params.maxB3Blocks = p.maxB3Blocks;
    params.maxB3DataLength = p.maxB3DataLength;
    params.versionWord = p.version;
    params.queueWord = p.queueWord;
    return table_.registerApplication(params, appId);
}

uint32_t CTaEngine::getMessage(uint16_t appId, CTaGot* got) {
    CapiGotMessage m;
    uint32_t result = table_.getMessage(appId, &m);
    if (got) {
        got->message = m.message;
        got->length = m.length;
        got->b3Data = m.b3Data;
        got->b3Length = m.b3Length;
    }
    return result;
}

bool CTaEngine::knowsApplication(uint16_t appId) {
    CCapiController* app = table_.controller(appId);
    return app && app->state() != kAppFree && app->state() != kAppReleased;
}

uint16_t CTaEngine::PortLink::sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                                 uint16_t payloadLength) {
    if (!port) return kCapiErrNotInstalled;
    uint32_t result = port->putMessage(message, length, payload, payloadLength);
    return result == kInfoPending ? uint16_t(0) : static_cast<uint16_t>(result);
}

void CTaEngine::startPacingTimer() {
    if (!timers_ || pacingTimer_.load()) return;
    pacingTimer_ = timers_->startTimer(10, &CTaEngine::pacingExpired, this, true);
}

void CTaEngine::stopPacingTimer() {
    void* timer = pacingTimer_.exchange(nullptr);
    if (timer && timers_) timers_->cancelTimer(timer);
}

void CTaEngine::pacingExpired(void* context) { static_cast<CTaEngine*>(context)->table_.pacingTick(); }

uint32_t CTaEngine::nowMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CTaLinkOps* createStackLink() { return new CTaStackLink; }

CTaEngineOps* createCapiEngine(CTaTimerOps* timers) { return new CTaEngine(timers); }

}  // namespace pbprov
