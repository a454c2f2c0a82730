// The CAPI engine of portbridge: the application objects, the call (PLCI) and B3 connection (NCCI)
// objects, the message pools, and every message path between a CAPI application and the terminal
// adapter, which runs the ISDN protocols itself and speaks CAPI 2.0 messages over the serial link.
//
//   CCapiAppTable engine;                        // owned by the provider
//   engine.create(8, 8, 4, 50);                  // 8 applications, 8 PLCI, 4 NCCI, 50 buffers
//   engine.setPort(1, &port);                    // the terminal-adapter port (a CCapiPortLink)
//   engine.registerApplication(params, &id);     // window thread
//   engine.putMessage(id, bytes, size, payload); engine.getMessage(id, &got); engine.completeGet(id);
//   engine.adapterMessage(1, item, size);        // runtime thread, one CAPI message from the adapter
//   engine.linkUp(1); engine.linkDown(1);        // runtime thread
//   engine.pacingTick();                         // every 10 ms while the host's pacing timer runs
//
// One engine lock (recursive) is held around every entry point. What an entry point has for the
// port waits in an outbox and is sent, in order, as the entry point lets the lock go; the waits for
// the adapter (registration 5000 ms, release 2000 ms, identity 2000 ms) send first and give the
// lock up while they wait, so the port can deliver the confirmation from its own thread. A port
// may also answer from inside sendAdapterMessage on the calling thread.
//
// Nothing here includes a Windows header: pointers into the provider never travel inside a 32-bit
// message field. The payload of a DATA_B3_REQ comes beside the message, and the payload of a
// DATA_B3_IND goes out beside it (CapiGotMessage::b3Data).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/tobject.h"

namespace capi_engine {
class EngineGuard;
}

// Info values the engine answers with.
enum : uint16_t {
    kCapiInfoOk = 0,
    kCapiErrUnknownApplication = 0x1101,
    kCapiErrIllegalMessage = 0x1102,
    kCapiErrQueueFull = 0x1103,
    kCapiErrQueueEmpty = 0x1104,
    kCapiErrQueueOverflow = 0x1105,
    kCapiErrResources = 0x1108,
    kCapiErrNotInstalled = 0x1109,
    kCapiErrStateWaitingForListen = 0x2001,
    kCapiErrIllegalIdentifier = 0x2002,
    kCapiErrNoPlci = 0x2003,
    kCapiErrNoNcci = 0x2004,
    kCapiErrIllegalCommand = 0x2007,
    kCapiErrNoB3Connection = 0x3205,
    kCapiReasonLinkLost = 0x3301,
    kCapiReasonLinkLostV11 = 0x3308,
    kCapiAdapterInfoListenIllegal = 0x1008,
};

constexpr size_t kCapiMessageBufferSize = 512;  // a pool buffer, and the largest adapter item
constexpr uint16_t kCapiMinPutLength = 12;
constexpr uint16_t kCapiMaxPutLength = 282;
constexpr unsigned kCapiPorts = 4;
constexpr unsigned kCapiAppSlots = 16;
constexpr unsigned kCapiNcciPerPlci = 4;
constexpr uint16_t kCapiMaxB3BlocksPerApp = 7;     // the most unanswered DATA_B3_IND of one application
constexpr uint16_t kCapiMaxB3DataLength = 2048;    // a larger asked length is cut to this
constexpr uint16_t kCapiDataB3IndLength = 22;      // the fixed part of DATA_B3_IND and DATA_B3_REQ
constexpr uint32_t kCapiRegisterWaitMs = 5000;
constexpr uint32_t kCapiReleaseWaitMs = 2000;
constexpr uint32_t kCapiIdentityWaitMs = 2000;
constexpr size_t kCapiIdentitySize = 148;
constexpr uint16_t kCapiFirstRegistrationMark = 0x4E4B;
constexpr uint16_t kCapiLinkDownPlci = 0x7080;   // local CONNECT_CONF / DISCONNECT_IND while the link is down
constexpr uint16_t kCapiLostCallPlci = 0x0666;   // CONNECT_CONF for a call in set-up when the link drops

// B3 options bits (serlink.ini [CAPI]): 0x1 a transmit window of 10 per B3 connection, 0x2 of 2.
constexpr uint32_t kB3OptionWindow10 = 0x1;
constexpr uint32_t kB3OptionWindow2 = 0x2;

// Application object states.
enum : uint16_t {
    kAppFree = 0,
    kAppRegistering = 1,
    kAppRegistered = 2,
    kAppRegistrationSent = 4,
    kAppReleasing = 8,
    kAppReleased = 16,
    kAppAbandoned = 32,  // port record only: a registration given up on time-out
};

// Call and B3 connection states.
enum : uint16_t {
    kPlciIdle = 0,
    kPlciConnectSent = 1,
    kPlciConnectConfirmed = 16,
    kPlciIncoming = 32,
    kPlciDisconnectSent = 80,
    kPlciDisconnected = 96,
    kPlciActive = 172,
    kNcciFree = 0,
    kNcciSetUp = 1,
    kNcciAttached = 32,
    kNcciDisconnectSent = 64,
    kNcciDisconnected = 80,
};

// What the engine needs of the terminal-adapter port. The port copies what it keeps before it
// returns; the engine's buffer goes back to its pool at once. The engine never holds its lock
// while it calls the port: a port may wait for the runtime thread to take the message while that
// thread brings an indication in. The call comes from the thread whose entry point made the
// message: the window thread (puts, registration, release), the pacing timer's thread (held
// DATA_B3_REQ), and the runtime thread itself (what waited for link up; the release that answers
// a late registration confirmation), where a port must not wait for its own thread.
class CCapiPortLink {
public:
    virtual ~CCapiPortLink() = default;
    // Hands one CAPI message (and for a DATA_B3_REQ its payload, which follows the message on the
    // line) to the adapter. 0 when taken; otherwise the info value the sender gets (the port is not
    // connected, the link refused it, ...).
    virtual uint16_t sendAdapterMessage(const uint8_t* message, uint16_t length, const uint8_t* payload,
                                        uint16_t payloadLength) = 0;
    // A message waits for the port (in the engine's waiting list): the port may try to come up.
    virtual void prod() {}
};

// The host's side: the periodic pacing timer (10 ms, it calls pacingTick) and the clock.
class CCapiEngineHost {
public:
    virtual ~CCapiEngineHost() = default;
    virtual void startPacingTimer() = 0;
    virtual void stopPacingTimer() = 0;
    // Milliseconds, wrapping.
    virtual uint32_t nowMs() = 0;
};

// Calls the application's signal procedure once per queued message.
typedef uint32_t (*CapiSignalProc)(uint16_t appId, uintptr_t context);

struct CapiRegisterParams {
    uint32_t messageBufferSize = 0;
    uint16_t maxLogicalConnections = 0;
    uint16_t maxB3Blocks = 0;
    uint16_t maxB3DataLength = 0;
    uint16_t versionWord = 0;  // 11 selects CAPI 1.1 coding of the messages the engine makes
    uint16_t queueWord = 0;    // raised to 5 when smaller
};

// A message taken by getMessage; valid until completeGet or the next get of that application.
struct CapiGotMessage {
    const uint8_t* message = nullptr;
    uint16_t length = 0;
    const uint8_t* b3Data = nullptr;  // DATA_B3_IND: its payload (DataLength bytes), else null
    uint16_t b3Length = 0;
};

// A wait the adapter's side ends: set from any thread.
class CEngineEvent {
public:
    void reset();
    void set();
    // true when set within `ms`.
    bool wait(uint32_t ms);

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

class CCapiController;
class CCapiAppTable;

// A pool buffer: one CAPI message, or a B3 block (the message and a slice of the application's
// B3 memory for the payload).
class CCapiMessageBuffer : public CDoubleListNode {
public:
    CCapiMessageBuffer() { name_ = "CCapiMessageBuffer"; }
    uint8_t bytes[kCapiMessageBufferSize] = {};
    uint16_t length = 0;
    uint8_t* data = nullptr;       // B3 block: the slice
    uint16_t dataLength = 0;       // B3 block: payload held
    const uint8_t* payload = nullptr;  // a held DATA_B3_REQ: the sender's payload
    uint16_t payloadLength = 0;
    uint32_t ncci = 0;             // B3 block in use: the NCCI and data handle it waits on
    uint16_t handle = 0;
    bool inUse = false;            // B3 block holding a DATA_B3_IND, not yet answered
    bool got = false;              // B3 block: the application has taken its DATA_B3_IND
    CCapiController* b3Owner = nullptr;  // B3 block: the application whose memory `data` is
    uint8_t port = 1;
    uint16_t appId = 0;            // outbox: the sender
};

// A B3 connection.
class CCapiNcci : public CDoubleListNode {
public:
    CCapiNcci() { name_ = "CCapiNcci"; }
    static constexpr unsigned kWindowMax = 10;
    static constexpr unsigned kOutstandingMax = 32;
    struct WindowEntry {
        uint32_t time;
        uint32_t delay;
    };
    struct Outstanding {
        uint16_t handle;
        uint16_t number;
    };
    CCapiController* owner = nullptr;
    class CCapiPlci* plci = nullptr;
    uint32_t value = 0;
    uint16_t state = kNcciFree;
    WindowEntry window[kWindowMax] = {};
    unsigned windowCount = 0;
    Outstanding outstanding[kOutstandingMax] = {};
    unsigned outstandingCount = 0;
    CDoubleList held;  // DATA_B3_REQ waiting for a window entry
};

// A call, a listen, or the registration record of an application on a port.
class CCapiPlci : public CDoubleListNode {
public:
    CCapiPlci() { name_ = "CCapiPlci"; }
    enum Kind : uint8_t { kCall, kListen, kRegistration };
    CCapiController* owner = nullptr;
    Kind kind = kCall;
    uint8_t controller = 1;
    uint32_t value = 0;
    uint16_t state = kPlciIdle;
    uint16_t requestNumber = 0;  // CONNECT_REQ's message number, matched by CONNECT_CONF
    CCapiNcci* nccis[kCapiNcciPerPlci] = {};
};

// One application object.
class CCapiController : public CDoubleListNode {
public:
    CCapiController(CCapiAppTable* table, uint16_t id);
    ~CCapiController() override;
    void shutDown() override;

    uint16_t id() const { return id_; }
    uint16_t state() const { return state_; }
    bool capi11() const { return capi11_; }
    uint16_t registrationState(uint8_t port) const { return port >= 1 && port <= kCapiPorts ? ports_[port].state : 0; }
    const CapiRegisterParams& params() const { return params_; }
    unsigned queuedMessages() const { return unsigned(receiveQueue_.getSize()); }
    unsigned waitingMessages() const { return unsigned(waiting_.getSize()); }
    unsigned freeB3Blocks() const;
    uint16_t pendingError() const { return pendingError_; }

private:
    friend class CCapiAppTable;
    struct PortRecord {
        CCapiPlci* registration = nullptr;
        uint16_t state = kAppFree;
        CEngineEvent event;
    };
    struct ListenRecord {
        bool used = false;
        uint32_t infoMask = 0;
        uint32_t cipMask = 0;
        CCapiPlci* plci = nullptr;
    };

    CCapiAppTable* table_;
    uint16_t id_;
    uint16_t messageNumber_ = 0x8000;
    uint16_t pendingError_ = 0;
    CapiSignalProc signal_ = nullptr;
    uintptr_t signalContext_ = 0;
    unsigned signalDepth_ = 0;
    unsigned signalOwed_ = 0;
    CDoubleList receiveQueue_;
    CDoubleList waiting_;
    CDoubleList freeB3_;
    uint16_t state_ = kAppFree;
    CapiRegisterParams params_;
    bool capi11_ = false;
    PortRecord ports_[kCapiPorts + 1];
    uint16_t registrationResult_ = 0;
    ListenRecord listens_[kCapiPorts + 1];
    uint8_t* b3Memory_ = nullptr;
    uint16_t b3Blocks_ = 0;  // the blocks made for it: what the adapter may have unanswered
    CCapiMessageBuffer* got_ = nullptr;  // the last got message, kept until its completion
    CCapiMessageBuffer* b3InUse_[kCapiMaxB3BlocksPerApp] = {};
    uint8_t* identityResult_ = nullptr;
    bool identityArrived_ = false;
};

class CCapiAppTable : public TObject {
public:
    CCapiAppTable();
    ~CCapiAppTable() override;
    // Frees every object. A running pacing timer is stopped through the host, so shut the engine
    // down (or setHost(nullptr)) before the host goes.
    void shutDown() override;

    // Builds the application objects and pools once: 0, or 3 when they cannot be made.
    uint32_t create(unsigned applications, unsigned plcis, unsigned nccis, unsigned buffers);
    void setHost(CCapiEngineHost* host);
    // Ports 1 to 4; null removes one.
    void setPort(uint8_t index, CCapiPortLink* port);
    bool hasPort(uint8_t index) const;
    unsigned portCount() const;
    // Bits are OR-ed in; never cleared while the process runs.
    void addB3Options(uint32_t bits);
    uint32_t b3Options() const { return b3Options_; }
    // Shorter waits for tests.
    void setWaitTimes(uint32_t registerMs, uint32_t releaseMs, uint32_t identityMs);

    // Window thread.
    uint16_t registerApplication(const CapiRegisterParams& params, uint16_t* appId);
    uint16_t releaseApplication(uint16_t appId);
    // `size` bytes readable at `message` (the put area); `payload` is a DATA_B3_REQ's data.
    uint16_t putMessage(uint16_t appId, const uint8_t* message, size_t size, const uint8_t* payload);
    uint16_t getMessage(uint16_t appId, CapiGotMessage* got);
    // The got message has been copied: its buffer may be used again (a DATA_B3_IND's block is
    // kept until the application's DATA_B3_RESP).
    void completeGet(uint16_t appId);
    uint16_t installSignal(uint16_t appId, CapiSignalProc proc, uintptr_t context);
    // Asks the adapter for its 148-byte identity through a registered application, or a free one
    // lent for the question: 0 when the record arrived, 0x1109 when it did not, 0x1101 with no
    // application object to ask through.
    uint16_t requestIdentity(uint8_t port, uint8_t* record);

    // Runtime thread (the port).
    void adapterMessage(uint8_t port, const uint8_t* item, size_t size);
    void linkUp(uint8_t port);
    void linkDown(uint8_t port);
    bool isLinkUp(uint8_t port) const;
    // A DATA_B3_REQ has left towards the adapter (link control's paced confirmation of it): the
    // application gets its DATA_B3_CONF.
    void dataSent(const uint8_t* message, size_t size);

    // Pacing timer thread.
    void pacingTick();

    // Read-outs, for the provider and tests.
    CCapiController* controller(uint16_t appId);
    unsigned freeBuffers() const { return unsigned(freeBuffers_.getSize()); }
    unsigned freePlcis() const { return unsigned(freePlcis_.getSize()); }
    unsigned freeNccis() const { return unsigned(freeNccis_.getSize()); }
    const CCapiPlci* findPlciObject(uint16_t appId, uint32_t value);
    const CCapiNcci* findNcciObject(uint16_t appId, uint32_t value);

private:
    friend class CCapiController;
    friend class capi_engine::EngineGuard;
    // Gives the engine lock up entirely for a wait and takes it back as deep as it was held; what
    // waits for the port is sent first.
    bool waitUnlocked(CEngineEvent& event, uint32_t ms);
    // Sends one message at once, with the lock given up around the port's call (after what waits
    // in the outbox, so the order holds): the port's result.
    uint16_t sendNow(uint8_t port, const uint8_t* message, uint16_t length);
    // Sends the outbox, in order, the lock given up around each send; one thread at a time.
    void flushOutbox();
    // A message the port did not take: its request is confirmed with the port's info, and what
    // the engine took for it is given back.
    void sendFailed(CCapiMessageBuffer* buffer, uint16_t info);
    void queueOutbox(CCapiController* app, uint8_t port, const uint8_t* message, uint16_t length,
                     const uint8_t* payload, uint16_t payloadLength, CCapiMessageBuffer* buffer = nullptr);

    CCapiController* lookup(uint16_t appId);
    CCapiController* allocateController();
    uint16_t registerAtAdapter(CCapiController* app, uint8_t port);
    void releaseResources(CCapiController* app);
    void freeB3Memory(CCapiController* app);
    void setUpB3Blocks(CCapiController* app);

    // Pools.
    CCapiMessageBuffer* takeBuffer();
    void giveBuffer(CCapiMessageBuffer* buffer);
    CCapiPlci* takePlci(CCapiController* app, CCapiPlci::Kind kind, uint8_t controller);
    void freePlci(CCapiPlci* plci);
    CCapiNcci* takeNcci(CCapiController* app, CCapiPlci* plci);
    void freeNcci(CCapiNcci* ncci);
    CCapiPlci* findPlci(CCapiController* app, uint32_t value);
    // The call whose CONNECT_REQ with message number `number` is out and not yet confirmed.
    CCapiPlci* findPendingCall(CCapiController* app, uint16_t number);
    CCapiNcci* findNcci(CCapiController* app, uint32_t value);

    // Messages to the application.
    uint16_t nextNumber(CCapiController* app);
    void queueForApplication(CCapiController* app, CCapiMessageBuffer* buffer);
    void signalApplication(CCapiController* app);
    uint16_t queueBytes(CCapiController* app, const uint8_t* bytes, uint16_t length);
    uint16_t localConfirmation(CCapiController* app, const uint8_t* request, uint16_t info);
    void makeIndication(CCapiController* app, uint8_t command, uint32_t ident, const uint8_t* params,
                        uint16_t paramLength);
    void disconnectInd(CCapiController* app, uint32_t plci, uint16_t reason);
    void disconnectB3Ind(CCapiController* app, uint32_t ncci, uint16_t reason);
    uint16_t connectConf(CCapiController* app, uint16_t number, uint32_t plci, uint16_t info);
    void dataB3Conf(CCapiController* app, uint16_t number, uint32_t ncci, uint16_t handle, uint16_t info);

    // Messages to the adapter.
    uint16_t sendToPort(CCapiController* app, uint8_t port, const uint8_t* message, uint16_t length,
                        const uint8_t* payload, uint16_t payloadLength, bool isRequest);
    void flushWaiting(CCapiController* app, uint8_t port);

    // Dispatch.
    uint16_t dispatchRequest(CCapiController* app, const uint8_t* m, uint16_t length, const uint8_t* payload);
    uint16_t dispatchResponse(CCapiController* app, const uint8_t* m, uint16_t length);
    uint8_t portFor(uint32_t ident) const;
    uint16_t forward(CCapiController* app, const uint8_t* m, uint16_t length, const uint8_t* payload = nullptr,
                     uint16_t payloadLength = 0);
    uint16_t reject(CCapiController* app, const uint8_t* m, uint16_t length, uint16_t info);
    // Sends a request for which the engine took a call, a connection or a window entry; where no
    // buffer carries it, undo gives that back and the sender gets the failure as its confirmation.
    template <class Undo>
    uint16_t sendTaken(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length,
                       const uint8_t* payload, uint16_t payloadLength, Undo undo);
    uint32_t now();
    uint16_t dataB3Request(CCapiController* app, const uint8_t* m, uint16_t length, const uint8_t* payload);
    void confirmation(CCapiController* app, uint8_t port, uint8_t* m, uint16_t length);
    void indication(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length, size_t itemSize);
    void dataB3Indication(CCapiController* app, const uint8_t* m, uint16_t length, size_t itemSize);
    void internalMessage(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length);
    void confirmDataSent(CCapiController* app, uint32_t ncci, uint16_t handle, uint16_t number, uint16_t info);

    // Pacing.
    void paceStart(CCapiNcci* ncci, uint16_t dataLength);
    bool windowFull(const CCapiNcci* ncci) const;
    unsigned windowSize() const;
    void updatePacingTimer();

    mutable std::recursive_mutex lock_;
    int lockDepth_ = 0;  // how deep the owning thread holds lock_ (for waitUnlocked)
    CDoubleList outbox_;  // messages for the ports, sent when the entry point lets the lock go
    bool flushing_ = false;

    CCapiController* apps_[kCapiAppSlots + 1] = {};
    unsigned appCount_ = 0;
    unsigned cursor_ = 1;
    CCapiPortLink* ports_[kCapiPorts + 1] = {};
    bool linkUp_[kCapiPorts + 1] = {};
    CCapiEngineHost* host_ = nullptr;
    bool created_ = false;
    bool firstRegistration_ = true;
    bool pacingRunning_ = false;
    uint32_t b3Options_ = 0;
    uint32_t registerWaitMs_ = kCapiRegisterWaitMs;
    uint32_t releaseWaitMs_ = kCapiReleaseWaitMs;
    uint32_t identityWaitMs_ = kCapiIdentityWaitMs;

    CDoubleList freeBuffers_;
    CDoubleList freePlcis_;
    CDoubleList freeNccis_;
    CDoubleList usedPlcis_;
    CDoubleList usedNccis_;
    unsigned bufferCount_ = 0;
};
