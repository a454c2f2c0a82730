// CCapiMessageMonitor: drives a controller's trace and monitor functions through CAPI
// MANUFACTURER messages (manufacturer id "kolv") on a port of its own, on which it is the only
// handler. Up to four monitor classes (0x2100, 0x2200, 0x2400, 0x2900) each have a callback and a
// context; confirmations and indications of a class go to its callback on the port's receive
// thread.
//
// A callback is the last thing a dispatch does with the monitor: what the dispatch needs after it
// is taken before it. A monitor destroyed while a callback still runs (its shut-down gave up
// waiting for the receive thread) is never touched again by that thread; the port is deleted
// when the thread has ended.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "msgcore/message_handler.h"

class CCapiPort;

typedef void(WINAPI* TMonitorProc)(void* context, tagAPIMsg* message);

class MSGCORE_API CCapiMessageMonitor : public CCapiMessageHandlerBase {
public:
    static constexpr int kClasses = 4;
    static constexpr DWORD kSuspendWaitMs = 500;

    CCapiMessageMonitor();
    ~CCapiMessageMonitor() override;
    CCapiMessageMonitor(const CCapiMessageMonitor&) = delete;
    CCapiMessageMonitor& operator=(const CCapiMessageMonitor&) = delete;

    void shutDown() override;
    int dispatchMessage(tagAPIMsg* message) override;
    virtual uint16_t init(uint32_t controller);
    virtual CCapiPort* createCapiPort();
    virtual void manufacturerConfirmation(tagAPIMsg* message);
    virtual void manufacturerIndication(tagAPIMsg* message);
    // Builds and sends a MANUFACTURER_REQ with `length` data bytes (at most 64).
    virtual uint16_t sendMessage(tagAPIMsg* buffer, uint16_t function, const void* data, uint32_t length);
    virtual uint16_t sendMessage(tagAPIMsg* buffer, uint16_t function);

    int isValid() const { return controller_ != 0; }
    uint16_t addMonitor(uint32_t monitorClass, TMonitorProc callback, void* context, uint32_t value);
    uint16_t deleteMonitor(uint32_t monitorClass, uint32_t value);
    uint16_t registerMonitor(uint32_t monitorClass, uint32_t value);
    uint16_t releaseMonitor(uint32_t monitorClass, uint32_t value);
    uint16_t getBChannelInfo(uint32_t value);
    uint16_t enableSystemTrace(int on);
    uint16_t enableTrace(int on, uint32_t monitorClass);
    uint16_t flushTrace(uint32_t monitorClass);
    uint16_t getTrace(uint32_t monitorClass);
    uint16_t setTraceFilter() { return 0; }
    void suspend();
    int resume();
    CCapiPort* getPort() const { return port_; }

    static void WINAPI messageStub(void* context, tagAPIMsg* message);

private:
    int initPort();
    void donePort();
    // The slot of a class, or -1.
    static int slotOf(uint32_t monitorClass);
    void handToCallback(tagAPIMsg* message, int slot);
    uint16_t request(uint16_t function, uint32_t value);

    CCapiPort* port_ = nullptr;
    // The event suspend waits on, shared with a confirmation that may set it after the monitor
    // is gone; the last owner closes it.
    std::shared_ptr<void> suspendEvent_;
    std::mutex suspendLock_;
    TMonitorProc callbacks_[kClasses];
    void* contexts_[kClasses];
    uint32_t controller_ = 0;
    uint32_t lastClass_ = 0;
};
