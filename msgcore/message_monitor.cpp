#include "msgcore/message_monitor.h"

#include <cstring>

#include "common/debug.h"
#include "msgcore/capi_bytes.h"
#include "msgcore/capi_port_win32.h"

namespace {
const uint32_t kClassValues[CCapiMessageMonitor::kClasses] = {0x2100, 0x2200, 0x2400, 0x2900};
}

void WINAPI CCapiMessageMonitor::messageStub(void*, tagAPIMsg*) {}

CCapiMessageMonitor::CCapiMessageMonitor() {
    name_ = "CCapiMessageMonitor";
    for (int i = 0; i < kClasses; ++i) {
        callbacks_[i] = messageStub;
        contexts_[i] = this;
    }
}

CCapiMessageMonitor::~CCapiMessageMonitor() { donePort(); }

int CCapiMessageMonitor::slotOf(uint32_t monitorClass) {
    for (int i = 0; i < kClasses; ++i)
        if (kClassValues[i] == monitorClass) return i;
    return -1;
}

CCapiPort* CCapiMessageMonitor::createCapiPort() { return new (std::nothrow) CCapiPortWin32; }

int CCapiMessageMonitor::initPort() {
    port_ = createCapiPort();
    if (!port_) return 0;
    if (port_->init(4, 1, 6, 2048, 0, 0, reinterpret_cast<uintptr_t>("capi2032.dll"), 0) != 0) {
        // A port that could not register is dropped at once, so a later init tries afresh.
        donePort();
        return 0;
    }
    port_->registerHandler(this);
    return 1;
}

void CCapiMessageMonitor::donePort() {
    CCapiPort* port = port_;
    if (!port) return;
    port->unregisterHandler(this);
    port->shutDown();
    port_ = nullptr;
    // A receive thread that did not end in time still uses the port: it goes when that has ended.
    port->destroyWhenUnused();
}

void CCapiMessageMonitor::shutDown() { donePort(); }

uint16_t CCapiMessageMonitor::init(uint32_t controller) {
    if (port_) return 0;
    if (!initPort()) return 8;
    controller_ = controller;
    return 0;
}

uint16_t CCapiMessageMonitor::sendMessage(tagAPIMsg* buffer, uint16_t function, const void* data, uint32_t length) {
    if (!port_) return 0;
    if (length > 64) length = 64;
    uint8_t* b = capi::bytes(buffer);
    capi::put16(b, uint16_t(18 + length));
    capi::put16(b + 2, uint16_t(port_->getApplicationID()));
    b[4] = capi::kManufacturer;
    b[5] = capi::kReq;
    capi::put16(b + 6, port_->getNextMessageNumber());
    capi::put32(b + 8, controller_);
    memcpy(b + 12, "kolv", 4);
    capi::put16(b + 16, function);
    if (length) memcpy(b + 18, data, length);
    return port_->putMessage(buffer);
}

uint16_t CCapiMessageMonitor::sendMessage(tagAPIMsg* buffer, uint16_t function) {
    return sendMessage(buffer, function, nullptr, 0);
}

uint16_t CCapiMessageMonitor::request(uint16_t function, uint32_t value) {
    // On the caller's stack: several threads may send requests at once.
    alignas(4) uint8_t message[18 + 64];
    uint8_t data[4];
    capi::put32(data, value);
    return sendMessage(reinterpret_cast<tagAPIMsg*>(message), function, data, 4);
}

uint16_t CCapiMessageMonitor::addMonitor(uint32_t monitorClass, TMonitorProc callback, void* context, uint32_t value) {
    lastClass_ = monitorClass;
    int slot = slotOf(monitorClass);
    if (slot >= 0) {
        callbacks_[slot] = callback ? callback : messageStub;
        contexts_[slot] = context;
    }
    return registerMonitor(monitorClass, value);
}

uint16_t CCapiMessageMonitor::deleteMonitor(uint32_t monitorClass, uint32_t value) {
    if (!port_) return 0;
    int slot = slotOf(monitorClass);
    if (slot >= 0) {
        callbacks_[slot] = messageStub;
        contexts_[slot] = this;
    }
    return releaseMonitor(monitorClass, value);
}

uint16_t CCapiMessageMonitor::registerMonitor(uint32_t monitorClass, uint32_t value) {
    return request(uint16_t(monitorClass | 1), value);
}

uint16_t CCapiMessageMonitor::releaseMonitor(uint32_t monitorClass, uint32_t value) {
    if (!port_) return 0;
    return request(uint16_t((monitorClass & 0xFF00) | ((monitorClass & 0xFF) | 2)), value);
}

uint16_t CCapiMessageMonitor::getBChannelInfo(uint32_t value) { return request(0x2103, value); }
uint16_t CCapiMessageMonitor::enableSystemTrace(int on) { return request(0x2403, on ? 1 : 2); }
uint16_t CCapiMessageMonitor::enableTrace(int on, uint32_t monitorClass) {
    return request(uint16_t(monitorClass | 3), on ? 8 : 16);
}
uint16_t CCapiMessageMonitor::flushTrace(uint32_t monitorClass) { return request(uint16_t(monitorClass | 3), 4); }
uint16_t CCapiMessageMonitor::getTrace(uint32_t monitorClass) { return request(uint16_t(monitorClass | 3), 64); }

void CCapiMessageMonitor::suspend() {
    if (!port_) return;
    std::shared_ptr<void> event;
    if (HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr)) event.reset(e, CloseHandle);
    {
        std::lock_guard<std::mutex> g(suspendLock_);
        suspendEvent_ = event;
    }
    releaseMonitor(lastClass_, 0);
    if (event) WaitForSingleObject(event.get(), kSuspendWaitMs);
    donePort();
    std::lock_guard<std::mutex> g(suspendLock_);
    suspendEvent_.reset();
}

int CCapiMessageMonitor::resume() {
    if (port_) return 0;
    if (!initPort()) return 0;
    registerMonitor(lastClass_, 0);
    return 1;
}

int CCapiMessageMonitor::dispatchMessage(tagAPIMsg* message) {
    capi::View v(message);
    if (v.command() == capi::kManufacturer && v.sub() == capi::kConf) {
        manufacturerConfirmation(message);
        return 1;
    }
    if (v.command() == capi::kManufacturer && v.sub() == capi::kInd) {
        manufacturerIndication(message);
        return 1;
    }
    debugHexDump(message, uint16_t(v.size()));
    return 0;
}

void CCapiMessageMonitor::manufacturerConfirmation(tagAPIMsg* message) {
    capi::View v(message);
    // The function word must lie inside the message before it decides anything.
    const uint16_t function = v.size() >= 18 ? v.u16(16) : 0;
    int slot = v.size() >= 18 ? slotOf(uint32_t(function & 0xFF00)) : -1;
    // Everything taken before the callback: the monitor may be gone when it returns.
    std::shared_ptr<void> wake;
    if (function == 0x2102) {
        std::lock_guard<std::mutex> g(suspendLock_);
        wake = suspendEvent_;
    }
    handToCallback(message, slot);
    if (wake) SetEvent(wake.get());
}

void CCapiMessageMonitor::manufacturerIndication(tagAPIMsg* message) {
    capi::View v(message);
    const uint16_t function = v.size() >= 18 ? v.u16(16) : 0;
    handToCallback(message, v.size() >= 18 ? slotOf(uint32_t(function & 0xFF00)) : -1);
}

// The message to the callback of `slot`, or to the debug output when no callback takes it. The
// monitor may be gone when the callback returns: nothing of it is used afterwards.
void CCapiMessageMonitor::handToCallback(tagAPIMsg* message, int slot) {
    if (slot >= 0) {
        TMonitorProc callback = callbacks_[slot];
        void* context = contexts_[slot];
        callback(context, message);
    } else {
        debugHexDump(message, uint16_t(capi::View(message).size()));
    }
}
