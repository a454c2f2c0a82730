// CCapiMessageHandlerBase: what a port can register and offer messages to.
// CCapiMessageHandler: one ISDN connection (one PLCI, at most one NCCI) on a CCapiPort: its
// settings, the requests an application makes (call, listen, accept, transmit, hang up), every
// CAPI message it builds in its own message buffer, and the connection state machine that the
// port's incoming messages drive, with the events it reports to its owner procedure.
//
// Requests come from the application's threads and messages from the port's receive thread; both
// run under the handler's lock, which is given up while the owner procedure runs (HandlerLock). No
// Windows header: the state machine runs natively too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/capimsg.h"
#include "common/tobject.h"
#include "msgcore/handler_lock.h"
#include "msgcore/isdn_types.h"

class CCapiPort;
namespace capi { class Writer; }

class MSGCORE_API CCapiMessageHandlerBase : public CDoubleListNode {
public:
    CCapiMessageHandlerBase() { name_ = "CCapiMessageHandlerBase"; }
    ~CCapiMessageHandlerBase() override;
    // Non-zero when the handler took the message.
    virtual int dispatchMessage(tagAPIMsg* message) = 0;
    virtual void traceMessage(tagAPIMsg* message);
    virtual int rejectCall(uint32_t plci);
    virtual void disconnectResponse(uint32_t plci);
};

class MSGCORE_API CCapiMessageHandler : public CCapiMessageHandlerBase {
public:
    static constexpr size_t kCalledDigits = 38;
    static constexpr size_t kCalledSubaddress = 19;
    static constexpr size_t kMsnDigits = 39;
    static constexpr size_t kLlc = 16;
    static constexpr int kDataRing = 10;

    CCapiMessageHandler();
    CCapiMessageHandler(const CCapiMessageHandler& other);
    CCapiMessageHandler& operator=(const CCapiMessageHandler& other);
    ~CCapiMessageHandler() override;

    void shutDown() override;
    int dispatchMessage(tagAPIMsg* message) override;
    void traceMessage(tagAPIMsg* message) override;
    int rejectCall(uint32_t plci) override;
    void disconnectResponse(uint32_t plci) override;
    virtual uint16_t init(CCapiPort* port, uint32_t controller, uint16_t maxDataLength);
    virtual void resetDefaults();
    virtual uint16_t call(const char* calledNumber, const char* calledSubaddress, uint16_t b3Mode);
    virtual uint16_t listen(uint16_t b3Mode);
    virtual uint16_t cancelListen();
    virtual uintptr_t signalProc(uint32_t event, uintptr_t p1, uintptr_t p2, uintptr_t p3, uintptr_t p4);
    virtual size_t insertCallParam(int kind, capi::Writer& w);
    virtual size_t insertBProtocol(capi::Writer& w);
    virtual size_t insertB1Protocol(capi::Writer& w);
    virtual size_t insertB2Protocol(capi::Writer& w);
    virtual size_t insertB3Protocol(capi::Writer& w);
    virtual void getB1Parameter(uint16_t* rate, uint16_t* bits, uint16_t* parity, uint16_t* stopBits);
    virtual void postISDNInformation(uint32_t kind, uint32_t value);
    virtual void postB3Transmit(uint16_t info, uint16_t handle);
    virtual uintptr_t postB3Receive(uintptr_t data, uint16_t length, uint16_t handle, uint16_t flags);
    virtual void postFailedListen(uint16_t reason, uint16_t reasonB3);
    virtual void postFailedCall(uint16_t reason, uint16_t reasonB3);
    virtual void postConnection(const char* text);
    virtual void postDisconnect(uint16_t reason, uint16_t reasonB3);
    virtual void postHangup();
    virtual void postRejectCall();
    virtual void postHandsetEvent(uint32_t value);
    virtual uintptr_t signalIncomingCall(const char* called, const char* calling, const char* callingSubaddress);
    virtual void setState(TConnectionState state);
    // Reads an X.25 NCPI: the digits (terminated, at most 15), facilities and user data. False, with
    // empty results, when a field passes the NCPI or the message.
    virtual int unpackNCPI(const tagNCPI* ncpi, size_t available, char* called, char* calling,
                           uint16_t* facilitiesLength, uint8_t* facilities, uint16_t* userDataLength,
                           uint8_t* userData, int withCause);
    virtual int unpackNCPI(const tagAPIMsg* message, char* called, char* calling, uint16_t* facilitiesLength,
                           uint8_t* facilities, uint16_t* userDataLength, uint8_t* userData);
    virtual int connectB3Indication(tagAPIMsg* message);
    virtual int connectConfirmation(tagAPIMsg* message);
    virtual int dataB3Indication(tagAPIMsg* message);
    virtual int facilityConfirmation(tagAPIMsg* message);
    virtual int facilityIndication(tagAPIMsg* message);
    virtual int infoConfirmation(tagAPIMsg* message);
    virtual int infoIndication(tagAPIMsg* message);
    virtual int selectBProtocolConfirmation(tagAPIMsg* message);
    virtual void exceptionHandler(tagAPIMsg* message);
    virtual uint16_t infoRequest(const uint8_t* calledNumber, const uint8_t* bChannelInfo, const uint8_t* keypad,
                                 const uint8_t* userData, const uint8_t* facilityData);

    // X.25 calls, listens and clearing with an NCPI.
    uint16_t call(const char* number, const char* x25Called, const char* x25Calling, uint16_t facilitiesLength,
                  const uint8_t* facilities, uint16_t userDataLength, const uint8_t* userData);
    uint16_t call(const char* number, const char* x25Calling, uint16_t facilitiesLength, const uint8_t* facilities,
                  uint16_t userDataLength, const uint8_t* userData);
    uint16_t listen(const char* x25Called, const char* x25Calling, uint16_t facilitiesLength,
                    const uint8_t* facilities, uint16_t userDataLength, const uint8_t* userData);
    uint16_t hangup(uint16_t mode);
    uint16_t hangup(uint8_t cause, uint8_t diagnostic, const char* x25Called, const char* x25Calling,
                    uint16_t facilitiesLength, const uint8_t* facilities, uint16_t userDataLength,
                    const uint8_t* userData);
    uint16_t acceptIncomingCall(uint16_t reject);
    uint16_t getB3Connection();
    uint16_t transmit(const void* data, uint16_t length, uint16_t flags);
    uint16_t dataResponse();
    uint16_t disconnectB2();
    uint16_t sendUTU(const uint8_t* userData);
    void processNetEvent(uint32_t ignored);

    // NCPI blocks are a length byte and that many bytes (createNCPI makes room for them).
    static uint8_t* ncpiBytes(tagNCPI* block) { return &block->length + 1; }
    // The outgoing X.25 NCPI; false (nothing kept) when the fields are out of range.
    bool packNCPI(const char* called, const char* calling, uint16_t facilitiesLength, const uint8_t* facilities,
                  uint16_t userDataLength, const uint8_t* userData, const uint8_t* causeDiagnostic);
    void getClearInfo(uint8_t* cause, uint8_t* diagnostic);
    // Keeps the NCPI of a B3 message as the received NCPI (when it has contents inside the message).
    void getNCPIData(const tagAPIMsg* message, uint16_t command);
    const tagNCPI* getReceivedNCPI() const { return receivedNcpi_; }
    const tagNCPI* getOutgoingNCPI() const { return outgoingNcpi_; }
    void setNCPIData(const uint8_t* block);
    static tagNCPI* createNCPI(uint16_t size);
    static void deleteNCPI(tagNCPI* block);
    static uint16_t setVariableData(uint8_t** block, uint16_t length, const void* bytes);

    // Settings.
    void setController(uint32_t c) { controller_ = c; }
    uint32_t getController() const { return controller_; }
    void setInfoMask(uint32_t m) { infoMask_ = m; }
    uint32_t getInfoMask() const { return infoMask_; }
    void setServiceMask(uint32_t m) { cipMask_ = m; }
    uint32_t getServiceMask() const { return cipMask_; }
    void setProfile(uint16_t cip) { cipValue_ = cip; }
    uint16_t getProfile() const { return cipValue_; }
    void setTEI(uint16_t t) { tei_ = t; }
    uint16_t getTEI() const { return tei_; }
    void setB1Protocol(uint16_t v) { b1_ = v; }
    void setB2Protocol(uint16_t v) { b2_ = v; }
    void setB3Protocol(uint16_t v) { b3_ = v; }
    uint16_t getB1Protocol() const { return b1_; }
    uint16_t getB2Protocol() const { return b2_; }
    uint16_t getB3Protocol() const { return b3_; }
    uint16_t getCIP() const { return incomingCip_; }
    TConnectionState getState() const { return state_; }
    void setMsnOut(const char* number);
    // The digits of the outgoing MSN, terminated, into `out` (40 bytes).
    void getMsnOut(char* out) const;
    void setMsnIn(const char* number);
    const char* getMsnIn() const { return msnIn_; }
    // The called number digits of the last call, terminated, into `out` (39 bytes).
    void getDestinationAddress(char* out) const;
    uint32_t getSupportedSupplementaryServices() const { return supplementaryServices_; }
    void setLLC(const uint8_t* block);
    void getLLC(uint8_t* block) const;
    uint16_t setBaudRate(uint16_t rate);
    uint16_t setParity(uint16_t parity);
    uint16_t setStopBits(uint16_t stopBits);
    uint16_t setBitsPerCharacter(uint16_t bits);
    void enableX25() { b2_ = 0; b3_ = 2; }
    void enableX31(uint16_t tei) { b2_ = 3; tei_ = tei; b3_ = 2; }
    void pushState() { savedState_ = state_; }
    TConnectionState popState() const { return savedState_; }
    static const char* getStateStr(TConnectionState state);
    int checkPLCI(uint32_t x) const { return plci_ == (x & 0xFFFF); }
    int checkNCCI(uint32_t x) const { return ncci_ == x; }
    // The pair is swapped under the handler's lock, so an event never gets one without the other.
    void registerOwnerInstance(void* instance, TOwnerProc proc);
    // What isdnClose sends before a connection goes: nothing where no call exists, else the clearing
    // its state needs (an offered call is ignored, a connected one cleared B3 first when `graceful`,
    // directly otherwise). Returns 0, or the library's refusal of the clearing, which leaves the
    // connection as it was. `reported`: the end of the call will be reported (hangup done,
    // disconnected or failed), so a caller may wait for it.
    uint16_t clearForClose(bool graceful, bool* reported);
    // True on a thread that is inside one of this handler's owner events (an incoming message's,
    // or the trace of its own request): what that thread is in the middle of cannot happen until
    // the event returns.
    bool insideOwnEvent() const;
    void* getOwnerInstance() const { return owner_; }
    TOwnerProc getOwnerProc() const { return ownerProc_; }
    CCapiPort* getPort() const { return port_; }
    uint32_t getPLCI() const { return plci_; }
    uint32_t getNCCI() const { return ncci_; }
    uint16_t getB3Mode() const { return b3Mode_; }
    uint16_t getLastReason() const { return lastReason_; }
    uint16_t getLastB3Reason() const { return lastB3Reason_; }
    uint16_t getBChannel() const { return bChannel_; }
    const char* getCallingNumber() const { return lastCalling_; }
    const char* getCallingSubaddress() const { return lastCallingSubaddress_; }
    // Received data handles not answered yet.
    int pendingDataResponses() const { return ringCount_; }

protected:
    void initialInit();
    // Builds the header and sends: `number` is the message number (0: the port's next one);
    // `sent` receives the number used before the message leaves.
    uint16_t sendMessage(uint8_t command, uint8_t sub, size_t length, uint16_t number = 0, uint16_t* sent = nullptr);
    uint16_t sendPlciOnly(uint8_t command, uint8_t sub, uint32_t id, uint16_t number);
    uint16_t sendConnectRequest();
    uint16_t sendConnectResponse(uint32_t plci, uint16_t reject, uint16_t number);
    uint16_t sendListenRequest(uint32_t cipMask);
    uint16_t sendDisconnectRequest();
    uint16_t sendConnectB3Request();
    uint16_t sendDisconnectB3Request();
    uint8_t* buffer() const { return messageBuffer_; }

    CCapiPort* port_ = nullptr;
    uint8_t* messageBuffer_ = nullptr;
    uint32_t plci_ = 0;
    uint32_t ncci_ = 0;
    uint8_t calledNumber_[2 + kCalledDigits] = {};        // length, type 0x80, digits
    uint8_t calledSubaddress_[2 + kCalledSubaddress] = {};
    uint8_t callingNumber_[3 + kMsnDigits] = {};          // length, 0x00, 0x80, digits
    uint16_t b1_ = 0, b2_ = 0, b3_ = 0;
    uint8_t llc_[1 + kLlc] = {};
    tagNCPI* outgoingNcpi_ = nullptr;
    uint16_t cipValue_ = 2;
    uint32_t cipMask_ = 4, cipMask2_ = 0, infoMask_ = 0x40;
    uint16_t tei_ = 0;
    uint16_t bitsPerCharacter_ = 8, baudRate_ = 38400, stopBits_ = 1, parity_ = 0;
    char msnIn_[kMsnDigits + 1] = {};
    char lastCalled_[39] = {};
    char lastCallingSubaddress_[20] = {};
    char lastCalling_[36] = {};
    tagNCPI* receivedNcpi_ = nullptr;
    uint16_t incomingCip_ = 0;
    uint32_t supplementaryServices_ = 0;
    uint16_t lastB3Reason_ = 0, lastReason_ = 0;
    TConnectionState state_ = csIdle;
    TConnectionState savedState_ = csIdle;
    void* owner_ = nullptr;
    TOwnerProc ownerProc_ = nullptr;
    uint32_t controller_ = 1;
    uint32_t listenFlag_ = 0;
    uint16_t b3Mode_ = 0;
    uint16_t hangupMode_ = 1;
    uint16_t maxDataLength_ = 2048;
    uint16_t lastOfferedNumber_ = 0;
    uint16_t dataHandle_ = 0;
    uint16_t connectIndNumber_ = 0;
    uint16_t ringHandle_[kDataRing] = {};
    uint16_t ringNumber_[kDataRing] = {};  // the DATA_B3_IND's message number, for its response
    int ringWrite_ = 0, ringRead_ = 0, ringCount_ = 0;
    uint16_t bChannel_ = 0;
    uint16_t connectReqNumber_ = 0;  // the CONNECT_REQ that a CONNECT_CONF answers
    bool disconnectPending_ = false; // hangup before CONNECT_CONF brought the PLCI

private:
    void copyFrom(const CCapiMessageHandler& other);
    HandlerLock lock_;
};
