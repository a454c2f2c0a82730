#include "portbridge/provider/ta_bindings.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "portbridge/stack/link_control.h"

namespace pbprov {

namespace {
void copyText(char* out, size_t size, const std::string& text) {
    std::snprintf(out, size, "%s", text.c_str());
}
}  // namespace

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

}  // namespace pbprov
