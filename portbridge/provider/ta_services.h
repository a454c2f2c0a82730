// What the terminal-adapter provider and its port need from the rest of portbridge, as narrow
// interfaces, so that the provider's rules run against fakes in tests and against the real link
// control, timer service and CAPI engine in the program (ta_bindings.cpp).
//
//   CTaLinkOps      the link-control operations on the CAPI side's thread (start, bring-up,
//                   requests, data, tick, shut-down)
//   CTaTimerOps     millisecond timers whose callbacks run on the multimedia-timer thread
//   CTaEngineOps    the CAPI engine: application table, register, release, put, get, signal,
//                   messages from the adapter, link up and down
//   CTaEvent        a manual-reset event with a bounded wait
//
// No Windows header: the provider and the port also build natively.
#pragma once

#include <condition_variable>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace pbprov {

// Runtime message ids the port exchanges with link control.
enum : uint16_t {
    kLinkEstablish = 513,
    kLinkRelease = 514,
    kLinkData = 515,
    kLinkEstablishedUp = 577,
    kLinkReleasedUp = 578,
    kLinkEstablished = 641,
    kLinkReleased = 642,
    kLinkDataUp = 643,
    kLinkDown = 645,
    kLinkPresent = 648,
    kLinkStopped = 649,
};

// Info values the provider answers with.
enum : uint32_t {
    kInfoOk = 0,
    kInfoPending = 15,
    kInfoTimeout = 88,
    kInfoUnknownApp = 0x1101,
    kInfoBadPut = 0x1102,
    kInfoResources = 0x1108,
    kInfoNotInState = 0x2001,
    kInfoNotReachable = 0x1109,
};

// The settings the port needs for one open, from serlink.ini.
struct CTaPortSettings {
    unsigned comPort = 2;
    uint32_t baudRate = 115200;
    uint8_t windowSize = 4;
    std::string versionCommand;   // sent with "\n\r" when not empty
    std::string versionAnswer;
    std::string nameCommand;
    std::string nameAnswer;
    bool traceMessages = false;   // [DEBUG] traceCapiMessage
    uint32_t b3Options = 0;       // [CAPI] bits for the engine's B3 pacing
};

// An indication from link control as the port's runtime callback receives it: the message id and,
// for 643, the received item (data offset, length, the buffer).
struct CTaIndication {
    uint16_t id = 0;
    uint16_t dataOffset = 0;
    uint16_t dataLength = 0;
    const uint8_t* data = nullptr;
};

using CTaIndicationFn = void (*)(void* context, const CTaIndication& indication);

class CTaLinkOps {
public:
    virtual ~CTaLinkOps() = default;
    // Starts the protocol-stack runtime on `settings`' port; indications go to fn(context, ...).
    // True when it runs.
    virtual bool startRuntime(const CTaPortSettings& settings, CTaIndicationFn fn, void* context) = 0;
    // The AT wake-up and framed start-up; true when the link came up.
    virtual bool bringUpLink(const CTaPortSettings& settings) = 0;
    // Sends 513 (establish); 0 when sent.
    virtual uint32_t connectLink(uint8_t reactivation) = 0;
    // Sends the id (514) with a zero payload; 0 when sent.
    virtual uint32_t sendLinkRequest(uint16_t id) = 0;
    // Sends the bytes as one data item (515). True when link control has it: it then confirms
    // whatever of it cannot go. False when it never got it: the caller confirms.
    virtual bool sendLinkData(const uint8_t* data, size_t length) = 0;
    // Every 10 ms.
    virtual void runtimeTick() = 0;
    // Stops the runtime and closes the serial port.
    virtual void shutDownLink() = 0;
};

using CTaTimerFn = void (*)(void* context);

class CTaTimerOps {
public:
    virtual ~CTaTimerOps() = default;
    // Starts the service with its period; 0 when running.
    virtual uint32_t startService(unsigned periodMs) = 0;
    virtual void stopService() = 0;
    // A timer of `ms` (at least one period), one-shot or periodic; null when none is free.
    virtual void* startTimer(unsigned ms, CTaTimerFn fn, void* context, bool periodic) = 0;
    // Null does nothing.
    virtual void cancelTimer(void* timer) = 0;
};

// A signal procedure of an application: called once per message queued for it.
using CTaSignalFn = uint32_t (*)(uint16_t appId, uintptr_t context);

// The parameters of a registration (function 1).
struct CTaRegisterParams {
    uint32_t bufferSize = 0;
    uint16_t maxLogicalConnections = 0;
    uint16_t maxB3Blocks = 0;
    uint16_t maxB3DataLength = 0;
    uint16_t version = 0;
    uint16_t queueWord = 0;
};

// A message taken by a get: valid until completeGet. A DATA_B3_IND's payload comes beside it.
struct CTaGot {
    const uint8_t* message = nullptr;
    uint16_t length = 0;
    const uint8_t* b3Data = nullptr;
    uint16_t b3Length = 0;
};

class CTaPort;

// The CAPI engine. It holds its own lock around each of these, and gives it up while it waits for
// the adapter.
class CTaEngineOps {
public:
    virtual ~CTaEngineOps() = default;
    // The application table: application objects, PLCI and NCCI objects, message buffers of 512
    // bytes. 0 when made.
    virtual uint32_t createTable(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers) = 0;
    virtual void destroyTable() = 0;
    // The port the engine sends to (null: none).
    virtual void setPort(unsigned index, CTaPort* port) = 0;
    // B3 option bits from serlink.ini, OR-ed in.
    virtual void addB3Options(uint32_t bits) = 0;
    // Info value; the new application id in *appId (0 when none).
    virtual uint32_t registerApplication(const CTaRegisterParams& params, uint16_t* appId) = 0;
    virtual uint32_t releaseApplication(uint16_t appId) = 0;
    // `size` readable bytes at `message`; `payload` is a DATA_B3_REQ's data.
    virtual uint32_t putMessage(uint16_t appId, const uint8_t* message, size_t size, const uint8_t* payload) = 0;
    virtual uint32_t getMessage(uint16_t appId, CTaGot* got) = 0;
    // The got message has been copied.
    virtual void completeGet(uint16_t appId) = 0;
    virtual uint32_t installSignal(uint16_t appId, CTaSignalFn fn, uintptr_t context) = 0;
    // True when the id names an application object in use.
    virtual bool knowsApplication(uint16_t appId) = 0;
    // Asks the adapter on `port` for its 148-byte identity: 0 when it came into `record`.
    virtual uint32_t requestIdentity(unsigned port, uint8_t* record) = 0;
    // A CAPI message from the adapter (`size` bytes of the item from the message on; its length
    // field checked against the item and 512).
    virtual void adapterMessage(unsigned port, const uint8_t* message, size_t size) = 0;
    // Link control's confirmation of a DATA_B3_REQ that left for the adapter.
    virtual void dataSent(const uint8_t* message, size_t size) = 0;
    virtual void linkUp(unsigned port) = 0;
    virtual void linkDown(unsigned port) = 0;
};

// A manual-reset event with a bounded wait, usable from any thread.
class CTaEvent {
public:
    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    // True when set within `ms`.
    bool wait(unsigned ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace pbprov
