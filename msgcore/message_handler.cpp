#include "msgcore/message_handler.h"

#include <cstdlib>
#include <cstring>

#include "common/cracker.h"
#include "common/debug.h"
#include "common/capi_data_b3.h"
#include "msgcore/capi_bytes.h"
#include "msgcore/capi_port.h"
#include "msgcore/x25_ncpi.h"

using capi::View;
using capi::Writer;

// --- CCapiMessageHandlerBase -------------------------------------------------------------------

CCapiMessageHandlerBase::~CCapiMessageHandlerBase() = default;
void CCapiMessageHandlerBase::traceMessage(tagAPIMsg*) {}
int CCapiMessageHandlerBase::rejectCall(uint32_t) { return 1; }
void CCapiMessageHandlerBase::disconnectResponse(uint32_t) {}

// --- life cycle ----------------------------------------------------------------------------------

namespace {

uint8_t* copyBlock(const tagNCPI* from) {
    if (!from) return nullptr;
    uint8_t* b = static_cast<uint8_t*>(malloc(size_t(from->length) + 1));
    if (b) memcpy(b, from, size_t(from->length) + 1);
    return b;
}

// Copies up to `max` characters of `text` and terminates.
void copyCut(char* out, const char* text, size_t max) {
    size_t n = 0;
    if (text)
        while (n < max && text[n]) ++n;
    if (n) memcpy(out, text, n);
    out[n] = 0;
}

// A party number struct: length, `header` bytes, then at most `max` characters of `digits`.
void buildNumber(uint8_t* s, const uint8_t* header, size_t headerLength, const char* digits, size_t max) {
    size_t n = 0;
    if (digits)
        while (digits[n] && n < max) ++n;
    s[0] = uint8_t(n + headerLength);
    memcpy(s + 1, header, headerLength);
    if (n) memcpy(s + 1 + headerLength, digits, n);
}

// Digits longer than a field holds are cut the way the outgoing MSN is: 40 or more characters
// become the first 38.
size_t cutLength(const char* text, size_t field) {
    size_t n = text ? strlen(text) : 0;
    if (n >= 40) n = 38;
    return n > field ? field : n;
}

}  // namespace

CCapiMessageHandler::CCapiMessageHandler() {
    name_ = "CCapiMessageHandler";
    initialInit();
}

CCapiMessageHandler::CCapiMessageHandler(const CCapiMessageHandler& other) : CCapiMessageHandlerBase(other) {
    copyFrom(other);
}

CCapiMessageHandler& CCapiMessageHandler::operator=(const CCapiMessageHandler& other) {
    if (this != &other) {
        CCapiMessageHandlerBase::operator=(other);
        deleteNCPI(outgoingNcpi_);
        deleteNCPI(receivedNcpi_);
        copyFrom(other);
    }
    return *this;
}

// Every setting as it is; the NCPI blocks are copied, not shared, so each copy frees its own.
void CCapiMessageHandler::copyFrom(const CCapiMessageHandler& o) {
    port_ = o.port_;
    messageBuffer_ = o.messageBuffer_;
    plci_ = o.plci_;
    ncci_ = o.ncci_;
    memcpy(calledNumber_, o.calledNumber_, sizeof calledNumber_);
    memcpy(calledSubaddress_, o.calledSubaddress_, sizeof calledSubaddress_);
    memcpy(callingNumber_, o.callingNumber_, sizeof callingNumber_);
    b1_ = o.b1_; b2_ = o.b2_; b3_ = o.b3_;
    memcpy(llc_, o.llc_, sizeof llc_);
    outgoingNcpi_ = reinterpret_cast<tagNCPI*>(copyBlock(o.outgoingNcpi_));
    receivedNcpi_ = reinterpret_cast<tagNCPI*>(copyBlock(o.receivedNcpi_));
    cipValue_ = o.cipValue_; cipMask_ = o.cipMask_; cipMask2_ = o.cipMask2_; infoMask_ = o.infoMask_;
    tei_ = o.tei_;
    bitsPerCharacter_ = o.bitsPerCharacter_; baudRate_ = o.baudRate_; stopBits_ = o.stopBits_; parity_ = o.parity_;
    memcpy(msnIn_, o.msnIn_, sizeof msnIn_);
    memcpy(lastCalled_, o.lastCalled_, sizeof lastCalled_);
    memcpy(lastCallingSubaddress_, o.lastCallingSubaddress_, sizeof lastCallingSubaddress_);
    memcpy(lastCalling_, o.lastCalling_, sizeof lastCalling_);
    incomingCip_ = o.incomingCip_;
    supplementaryServices_ = o.supplementaryServices_;
    lastB3Reason_ = o.lastB3Reason_; lastReason_ = o.lastReason_;
    state_ = o.state_; savedState_ = o.savedState_;
    owner_ = o.owner_; ownerProc_ = o.ownerProc_;
    controller_ = o.controller_; listenFlag_ = o.listenFlag_; b3Mode_ = o.b3Mode_; hangupMode_ = o.hangupMode_;
    maxDataLength_ = o.maxDataLength_; lastOfferedNumber_ = o.lastOfferedNumber_; dataHandle_ = o.dataHandle_;
    connectIndNumber_ = o.connectIndNumber_;
    memcpy(ringHandle_, o.ringHandle_, sizeof ringHandle_);
    memcpy(ringNumber_, o.ringNumber_, sizeof ringNumber_);
    ringWrite_ = o.ringWrite_; ringRead_ = o.ringRead_; ringCount_ = o.ringCount_;
    bChannel_ = o.bChannel_;
    connectReqNumber_ = o.connectReqNumber_;
    disconnectPending_ = o.disconnectPending_;
}

CCapiMessageHandler::~CCapiMessageHandler() {
    deleteNCPI(outgoingNcpi_);
    deleteNCPI(receivedNcpi_);
}

void CCapiMessageHandler::initialInit() {
    plci_ = ncci_ = 0;
    memset(calledNumber_, 0, sizeof calledNumber_);
    memset(calledSubaddress_, 0, sizeof calledSubaddress_);
    static const uint8_t msnHeader[2] = {0x00, 0x80};
    buildNumber(callingNumber_, msnHeader, 2, "", 0);
    b1_ = b2_ = b3_ = 0;
    memset(llc_, 0, sizeof llc_);
    cipValue_ = 2;
    cipMask_ = 4;
    cipMask2_ = 0;
    infoMask_ = 0x40;
    tei_ = 0;
    bitsPerCharacter_ = 8;
    baudRate_ = 38400;
    stopBits_ = 1;
    parity_ = 0;
    msnIn_[0] = lastCalled_[0] = lastCallingSubaddress_[0] = lastCalling_[0] = 0;
    incomingCip_ = 0;
    supplementaryServices_ = 0;
    state_ = savedState_ = csIdle;
    controller_ = 1;
    listenFlag_ = 0;
    maxDataLength_ = 2048;
    lastOfferedNumber_ = connectIndNumber_ = connectReqNumber_ = 0;
    ringWrite_ = ringRead_ = ringCount_ = 0;
    bChannel_ = 0;
    disconnectPending_ = false;
}

void CCapiMessageHandler::resetDefaults() {
    hangupMode_ = 1;
    dataHandle_ = 0;
    b3Mode_ = 0;
    lastReason_ = lastB3Reason_ = 0;
}

uint16_t CCapiMessageHandler::init(CCapiPort* port, uint32_t controller, uint16_t maxDataLength) {
    HandlerGuard g(lock_);
    initialInit();
    resetDefaults();
    port_ = port;
    controller_ = controller;
    maxDataLength_ = maxDataLength;
    if (!port) return mcOk;
    messageBuffer_ = static_cast<uint8_t*>(port->allocMessageBuffer());
    if (!messageBuffer_) return mcNoBuffer;
    capi::put16(messageBuffer_ + 2, uint16_t(port->getApplicationID()));
    if (!port->registerHandler(this)) {
        // A full table: the handler would never be offered a message.
        port->freeMessageBuffer(messageBuffer_);
        messageBuffer_ = nullptr;
        return mcNoBuffer;
    }
    return mcOk;
}

void CCapiMessageHandler::shutDown() {
    // Out of the table first: no dispatch starts in this handler after. One already inside it
    // finds no buffer once we have the lock, and the port answers for it.
    if (port_) port_->unregisterHandler(this);
    HandlerGuard g(lock_);
    if (port_ && messageBuffer_) port_->freeMessageBuffer(messageBuffer_);
    messageBuffer_ = nullptr;
    deleteNCPI(outgoingNcpi_);
    outgoingNcpi_ = nullptr;
    deleteNCPI(receivedNcpi_);
    receivedNcpi_ = nullptr;
}

void CCapiMessageHandler::processNetEvent(uint32_t) {
    if (!port_) return;
    if (tagAPIMsg* m = port_->getMessage()) dispatchMessage(m);
}

// --- settings --------------------------------------------------------------------------------------

void CCapiMessageHandler::setMsnOut(const char* number) {
    HandlerGuard g(lock_);
    static const uint8_t header[2] = {0x00, 0x80};
    buildNumber(callingNumber_, header, 2, number, cutLength(number, kMsnDigits));
}

void CCapiMessageHandler::getMsnOut(char* out) const {
    size_t n = callingNumber_[0] >= 2 ? callingNumber_[0] - 2 : 0;
    memcpy(out, callingNumber_ + 3, n);
    out[n] = 0;
}

void CCapiMessageHandler::setMsnIn(const char* number) { copyCut(msnIn_, number, kMsnDigits); }

void CCapiMessageHandler::getDestinationAddress(char* out) const {
    size_t n = calledNumber_[0] >= 1 ? calledNumber_[0] - 1 : 0;
    memcpy(out, calledNumber_ + 2, n);
    out[n] = 0;
}

void CCapiMessageHandler::setLLC(const uint8_t* block) {
    HandlerGuard g(lock_);
    memset(llc_, 0, sizeof llc_);
    if (!block || block[0] == 0) return;
    size_t n = block[0] > kLlc ? kLlc : block[0];
    llc_[0] = uint8_t(n);
    memcpy(llc_ + 1, block + 1, n);
}

void CCapiMessageHandler::getLLC(uint8_t* block) const { memcpy(block, llc_, size_t(llc_[0]) + 1); }

uint16_t CCapiMessageHandler::setBaudRate(uint16_t rate) {
    static const uint16_t rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
    for (uint16_t r : rates)
        if (r == rate) {
            baudRate_ = rate;
            return mcOk;
        }
    return mcParameter;
}

uint16_t CCapiMessageHandler::setParity(uint16_t parity) {
    if (parity > 2) return mcParameter;
    parity_ = parity;
    return mcOk;
}

uint16_t CCapiMessageHandler::setStopBits(uint16_t stopBits) {
    if (stopBits > 1) return mcParameter;
    stopBits_ = stopBits;
    return mcOk;
}

uint16_t CCapiMessageHandler::setBitsPerCharacter(uint16_t bits) {
    if (bits != 7 && bits != 8) return mcParameter;
    bitsPerCharacter_ = bits;
    return mcOk;
}

void CCapiMessageHandler::getB1Parameter(uint16_t* rate, uint16_t* bits, uint16_t* parity, uint16_t* stopBits) {
    if (rate) *rate = baudRate_;
    if (bits) *bits = bitsPerCharacter_;
    if (parity) *parity = parity_;
    if (stopBits) *stopBits = stopBits_;
}

const char* CCapiMessageHandler::getStateStr(TConnectionState) { return ""; }

// --- NCPI blocks ---------------------------------------------------------------------------------

tagNCPI* CCapiMessageHandler::createNCPI(uint16_t size) {
    if (size > 255) return nullptr;
    tagNCPI* b = static_cast<tagNCPI*>(calloc(1, size_t(size) + 1));
    if (b) b->length = uint8_t(size);
    return b;
}

void CCapiMessageHandler::deleteNCPI(tagNCPI* block) { free(block); }

uint16_t CCapiMessageHandler::setVariableData(uint8_t** block, uint16_t length, const void* bytes) {
    static uint8_t emptyBlock[2] = {0, 0};
    if (*block && *block != emptyBlock) free(*block);
    *block = nullptr;
    if (length == 0) {
        *block = emptyBlock;
        return mcOk;
    }
    uint8_t* b = static_cast<uint8_t*>(malloc(size_t(length) + 2));
    if (!b) return mcNoBuffer;
    capi::put16(b, length);
    if (bytes) memcpy(b + 2, bytes, length);
    else memset(b + 2, 0, length);
    *block = b;
    return mcOk;
}

void CCapiMessageHandler::setNCPIData(const uint8_t* block) {
    HandlerGuard g(lock_);
    deleteNCPI(outgoingNcpi_);
    outgoingNcpi_ = nullptr;
    if (!block || block[0] == 0) return;
    outgoingNcpi_ = createNCPI(block[0]);
    if (outgoingNcpi_) memcpy(ncpiBytes(outgoingNcpi_), block + 1, block[0]);
}

bool CCapiMessageHandler::packNCPI(const char* called, const char* calling, uint16_t facilitiesLength,
                                   const uint8_t* facilities, uint16_t userDataLength, const uint8_t* userData,
                                   const uint8_t* causeDiagnostic) {
    HandlerGuard g(lock_);
    deleteNCPI(outgoingNcpi_);
    outgoingNcpi_ = nullptr;
    uint8_t packed[256];
    if (!x25::pack(called, calling, facilitiesLength, facilities, userDataLength, userData, causeDiagnostic, packed))
        return false;
    outgoingNcpi_ = createNCPI(packed[0]);
    if (outgoingNcpi_) memcpy(ncpiBytes(outgoingNcpi_), packed + 1, packed[0]);
    return true;
}

void CCapiMessageHandler::getNCPIData(const tagAPIMsg* message, uint16_t command) {
    View v(message);
    size_t at = (command == (capi::kDisconnectB3 | (capi::kInd << 8))) ? 14 : 12;
    if (v.u8(at) == 0 || v.size() <= at) return;
    size_t len = v.structLength(at);
    if (len == 0) return;  // passes the message's end
    tagNCPI* copy = createNCPI(uint16_t(len));
    if (!copy) return;
    memcpy(ncpiBytes(copy), v.data() + at + 1, len);
    deleteNCPI(receivedNcpi_);
    receivedNcpi_ = copy;
}

void CCapiMessageHandler::getClearInfo(uint8_t* cause, uint8_t* diagnostic) {
    *cause = *diagnostic = 0;
    if (!receivedNcpi_ || receivedNcpi_->length <= 1) return;
    x25::NcpiFields f;
    if (x25::unpack(reinterpret_cast<const uint8_t*>(receivedNcpi_), size_t(receivedNcpi_->length) + 1, true, &f)) {
        *cause = f.cause;
        *diagnostic = f.diagnostic;
    }
}

int CCapiMessageHandler::unpackNCPI(const tagNCPI* ncpi, size_t available, char* called, char* calling,
                                    uint16_t* facilitiesLength, uint8_t* facilities, uint16_t* userDataLength,
                                    uint8_t* userData, int withCause) {
    x25::NcpiFields f;
    bool ok = x25::unpack(reinterpret_cast<const uint8_t*>(ncpi), available, withCause != 0, &f);
    if (called) strcpy(called, f.called);
    if (calling) strcpy(calling, f.calling);
    if (facilitiesLength) *facilitiesLength = f.facilitiesLength;
    if (facilities && f.facilitiesLength) memcpy(facilities, f.facilities, f.facilitiesLength);
    if (userDataLength) *userDataLength = f.userDataLength;
    if (userData && f.userDataLength) memcpy(userData, f.userData, f.userDataLength);
    return ok ? 1 : 0;
}

int CCapiMessageHandler::unpackNCPI(const tagAPIMsg* message, char* called, char* calling,
                                    uint16_t* facilitiesLength, uint8_t* facilities, uint16_t* userDataLength,
                                    uint8_t* userData) {
    View v(message);
    const bool disconnect = v.command() == capi::kDisconnectB3 && v.sub() == capi::kInd;
    const bool known = disconnect || (v.sub() == capi::kInd && (v.command() == capi::kConnectB3 ||
                                                                v.command() == capi::kConnectB3Active ||
                                                                v.command() == capi::kResetB3));
    size_t at = disconnect ? 14 : 12;
    size_t available = known && at < v.size() ? v.size() - at : 0;
    return unpackNCPI(available ? reinterpret_cast<const tagNCPI*>(v.data() + at) : nullptr, available, called,
                      calling, facilitiesLength, facilities, userDataLength, userData, disconnect);
}

// --- owner events --------------------------------------------------------------------------------

void CCapiMessageHandler::registerOwnerInstance(void* instance, TOwnerProc proc) {
    HandlerGuard g(lock_);
    owner_ = instance;
    ownerProc_ = proc;
}

namespace {
// The owner events running on this thread, innermost first: a close from inside one of them must
// not wait for what only this thread, once the event has returned, can bring about.
struct EventFrame {
    const CCapiMessageHandler* handler;
    EventFrame* outer;
};
thread_local EventFrame* t_events = nullptr;
}  // namespace

bool CCapiMessageHandler::insideOwnEvent() const {
    for (const EventFrame* f = t_events; f; f = f->outer)
        if (f->handler == this) return true;
    return false;
}

uintptr_t CCapiMessageHandler::signalProc(uint32_t event, uintptr_t p1, uintptr_t p2, uintptr_t p3, uintptr_t p4) {
    lock_.lock();
    TOwnerProc proc = ownerProc_;
    void* owner = owner_;
    lock_.unlock();
    if (!proc) return 1;
    // The owner may call back into this handler from any thread: it never meets our lock.
    int held = lock_.releaseAll();
    EventFrame frame{this, t_events};
    t_events = &frame;
    uintptr_t result = proc(owner, event, reinterpret_cast<uintptr_t>(this), p1, p2, p3, p4);
    t_events = frame.outer;
    lock_.reacquire(held);
    return result;
}

void CCapiMessageHandler::traceMessage(tagAPIMsg* message) {
    signalProc(ieMessageTrace, 20, reinterpret_cast<uintptr_t>(message), 0, 0);
}

void CCapiMessageHandler::postISDNInformation(uint32_t, uint32_t) {}
void CCapiMessageHandler::postB3Transmit(uint16_t info, uint16_t handle) { signalProc(ieB3Transmit, info, handle, 0, 0); }
uintptr_t CCapiMessageHandler::postB3Receive(uintptr_t data, uint16_t length, uint16_t handle, uint16_t flags) {
    return signalProc(ieB3Receive, data, length, handle, flags);
}
void CCapiMessageHandler::postFailedListen(uint16_t reason, uint16_t reasonB3) { postFailedCall(reason, reasonB3); }
void CCapiMessageHandler::postFailedCall(uint16_t reason, uint16_t reasonB3) {
    signalProc(ieCallFailed, reason, reasonB3, 0, 0);
}
void CCapiMessageHandler::postConnection(const char* text) {
    signalProc(ieConnection, reinterpret_cast<uintptr_t>(text), 0, 0, 0);
}
void CCapiMessageHandler::postDisconnect(uint16_t reason, uint16_t reasonB3) {
    signalProc(ieDisconnected, reason, reasonB3, 0, 0);
}
void CCapiMessageHandler::postHangup() { signalProc(ieHangupDone, 0, 0, 0, 0); }
void CCapiMessageHandler::postRejectCall() { signalProc(ieCallRejected, 0, 0, 0, 0); }
void CCapiMessageHandler::postHandsetEvent(uint32_t value) { signalProc(ieHandset, value, 0, 0, 0); }
uintptr_t CCapiMessageHandler::signalIncomingCall(const char* called, const char* calling, const char* callingSubaddress) {
    return signalProc(ieIncomingCall, reinterpret_cast<uintptr_t>(called), reinterpret_cast<uintptr_t>(calling),
                      reinterpret_cast<uintptr_t>(callingSubaddress), 0);
}
void CCapiMessageHandler::setState(TConnectionState state) { state_ = state; }
void CCapiMessageHandler::exceptionHandler(tagAPIMsg*) {}

// --- building and sending ----------------------------------------------------------------------------

uint16_t CCapiMessageHandler::sendMessage(uint8_t command, uint8_t sub, size_t length, uint16_t number,
                                          uint16_t* sent) {
    if (!port_ || !messageBuffer_) return mcNoBuffer;
    uint8_t* b = messageBuffer_;
    capi::put16(b, uint16_t(length));
    capi::put16(b + 2, uint16_t(port_->getApplicationID()));
    b[4] = command;
    b[5] = sub;
    if (sub == capi::kResp) capi::put16(b + 6, number ? number : lastOfferedNumber_);
    else capi::put16(b + 6, port_->getNextMessageNumber());
    if (sent) *sent = capi::get16(b + 6);
    // The owner's trace runs without our lock, so another request may build in the buffer
    // meanwhile: what goes out is this copy.
    uint8_t copy[CCapiPort::kMessageBufferSize];
    memcpy(copy, b, length);
    traceMessage(reinterpret_cast<tagAPIMsg*>(copy));
    // Closed from inside the trace: the close sent the clearing the call needs, and a request of
    // a connection that is gone is not sent after it. Answers still go: CAPI needs them.
    if (!messageBuffer_ && sub != capi::kResp) return mcNoBuffer;
    return port_->putMessage(reinterpret_cast<tagAPIMsg*>(copy));
}

uint16_t CCapiMessageHandler::sendPlciOnly(uint8_t command, uint8_t sub, uint32_t id, uint16_t number) {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(id);
    return sendMessage(command, sub, w.length(), number);
}

size_t CCapiMessageHandler::insertB1Protocol(Writer& w) {
    if (b1_ != 2) { w.empty(); return 1; }
    uint16_t rate, bits, parity, stop;
    getB1Parameter(&rate, &bits, &parity, &stop);
    w.u8(8);
    w.u16(rate);
    w.u16(bits);
    w.u16(parity);
    w.u16(stop);
    return 9;
}

size_t CCapiMessageHandler::insertB2Protocol(Writer& w) {
    if (b2_ != 3) { w.empty(); return 1; }
    w.u8(5);
    w.u8(uint8_t(2 * tei_ + 1));  // address A
    w.u8(0);                      // address B
    w.u8(0);                      // modulo mode
    w.u8(7);                      // window size
    w.empty();                    // XID
    return 6;
}

size_t CCapiMessageHandler::insertB3Protocol(Writer& w) {
    if (b3_ != 2) { w.empty(); return 1; }
    w.u8(16);
    for (int i = 0; i < 6; ++i) w.u16(0);  // LIC, HIC, LTC, HTC, LOC, HOC
    w.u16(8);                              // modulo mode
    w.u16(2);                              // window size
    return 17;
}

size_t CCapiMessageHandler::insertBProtocol(Writer& w) {
    uint8_t* lengthByte = w.at();
    size_t start = w.length();
    w.u8(0);
    w.u16(b1_);
    w.u16(b2_);
    w.u16(b3_);
    size_t configs = insertB1Protocol(w) + insertB2Protocol(w) + insertB3Protocol(w);
    if (!w.overflowed()) *lengthByte = uint8_t(6 + configs);
    return w.length() - start;
}

size_t CCapiMessageHandler::insertCallParam(int kind, Writer& w) {
    switch (kind) {
    case 1: return w.structure(calledSubaddress_);
    case 2: return w.structure(callingNumber_);
    case 4: return insertBProtocol(w);
    case 6: return w.structure(llc_);
    default: w.empty(); return 1;
    }
}

uint16_t CCapiMessageHandler::sendConnectRequest() {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(controller_);
    w.u16(cipValue_);
    w.structure(calledNumber_);
    w.structure(callingNumber_);
    w.structure(calledSubaddress_);
    for (int kind = 3; kind <= 8; ++kind) insertCallParam(kind, w);
    // The number the CONNECT_CONF will carry, kept before the request can be answered.
    return sendMessage(capi::kConnect, capi::kReq, w.length(), 0, &connectReqNumber_);
}

uint16_t CCapiMessageHandler::sendConnectResponse(uint32_t plci, uint16_t reject, uint16_t number) {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(plci);
    w.u16(reject);
    if (reject) w.empty();
    else insertBProtocol(w);
    w.structure(callingNumber_);  // connected number
    w.empty();                    // connected subaddress
    w.structure(llc_);
    w.empty();                    // additional info
    return sendMessage(capi::kConnect, capi::kResp, w.length(), number);
}

uint16_t CCapiMessageHandler::sendListenRequest(uint32_t cipMask) {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(controller_);
    w.u32(infoMask_);
    w.u32(cipMask);
    w.u32(cipMask2_);
    w.structure(callingNumber_);
    w.empty();
    return sendMessage(capi::kListen, capi::kReq, w.length());
}

uint16_t CCapiMessageHandler::sendDisconnectRequest() {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(plci_);
    w.empty();
    return sendMessage(capi::kDisconnect, capi::kReq, w.length());
}

uint16_t CCapiMessageHandler::sendConnectB3Request() {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(plci_);
    w.structure(reinterpret_cast<const uint8_t*>(outgoingNcpi_));
    return sendMessage(capi::kConnectB3, capi::kReq, w.length());
}

uint16_t CCapiMessageHandler::sendDisconnectB3Request() {
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(ncci_);
    w.structure(reinterpret_cast<const uint8_t*>(outgoingNcpi_));
    return sendMessage(capi::kDisconnectB3, capi::kReq, w.length());
}

// --- requests -------------------------------------------------------------------------------------

uint16_t CCapiMessageHandler::call(const char* calledNumber, const char* calledSubaddress, uint16_t b3Mode) {
    HandlerGuard g(lock_);
    switch (state_) {
    case csIdle: case csRejected: case csCancellingListen: case csFailed: case csDisconnected:
    case csState19: case csIncomingEnded:
        break;
    case csListenRequested: case csListening:
        cancelListen();
        break;
    default:
        return mcWrongState;
    }
    dataHandle_ = 0;
    ringWrite_ = ringRead_ = ringCount_ = 0;  // data of an earlier call is not answered in this one
    static const uint8_t type = 0x80;
    buildNumber(calledNumber_, &type, 1, calledNumber, cutLength(calledNumber, kCalledDigits));
    buildNumber(calledSubaddress_, &type, 1, calledSubaddress, cutLength(calledSubaddress, kCalledSubaddress));
    if (!calledNumber) calledNumber_[0] = 0;
    if (!calledSubaddress) calledSubaddress_[0] = 0;
    b3Mode_ = b3Mode;
    plci_ = 0;
    ncci_ = 0;
    disconnectPending_ = false;
    const TConnectionState before = state_;
    setState(csOutgoingCall);
    uint16_t rc = sendConnectRequest();
    if (rc) setState(before);  // refused: nothing is under way
    return rc;
}

uint16_t CCapiMessageHandler::call(const char* number, const char* x25Called, const char* x25Calling,
                                   uint16_t facilitiesLength, const uint8_t* facilities, uint16_t userDataLength,
                                   const uint8_t* userData) {
    HandlerGuard g(lock_);
    if (!packNCPI(x25Called, x25Calling, facilitiesLength, facilities, userDataLength, userData, nullptr))
        return mcBadCoding;
    return call(number, nullptr, 1);
}

uint16_t CCapiMessageHandler::call(const char* number, const char* x25Calling, uint16_t facilitiesLength,
                                   const uint8_t* facilities, uint16_t userDataLength, const uint8_t* userData) {
    return call(number, number, x25Calling, facilitiesLength, facilities, userDataLength, userData);
}

uint16_t CCapiMessageHandler::listen(uint16_t b3Mode) {
    HandlerGuard g(lock_);
    if (cipMask_ == 0) return cancelListen();
    switch (state_) {
    case csIdle: case csRejected: case csCancellingListen: case csFailed: case csDisconnected:
    case csState19: case csIncomingEnded:
    {
        const TConnectionState before = state_;
        const uint32_t flagBefore = listenFlag_;
        setState(csListenRequested);
        b3Mode_ = b3Mode;
        listenFlag_ = 1;
        uint16_t rc = sendListenRequest(cipMask_);
        if (rc) {
            setState(before);
            listenFlag_ = flagBefore;
        }
        return rc;
    }
    case csListening:
        return mcOk;
    default:
        return mcWrongState;
    }
}

uint16_t CCapiMessageHandler::listen(const char* x25Called, const char* x25Calling, uint16_t facilitiesLength,
                                     const uint8_t* facilities, uint16_t userDataLength, const uint8_t* userData) {
    HandlerGuard g(lock_);
    if (!packNCPI(x25Called, x25Calling, facilitiesLength, facilities, userDataLength, userData, nullptr))
        return mcBadCoding;
    return listen(1);
}

uint16_t CCapiMessageHandler::cancelListen() {
    HandlerGuard g(lock_);
    if (state_ != csListenRequested && state_ != csListening) return mcOk;
    const TConnectionState before = state_;
    setState(csCancellingListen);
    b3Mode_ = 1;
    // The controller no longer offers calls: a call that ends later must not fall back to listening.
    const uint32_t flagBefore = listenFlag_;
    listenFlag_ = 0;
    uint16_t rc = sendListenRequest(0);
    if (rc) {
        setState(before);
        listenFlag_ = flagBefore;
    }
    return rc;
}

uint16_t CCapiMessageHandler::hangup(uint16_t mode) {
    HandlerGuard g(lock_);
    hangupMode_ = mode;
    const TConnectionState before = state_;
    // A clearing the library refuses leaves the call as it was, so the caller may try again.
    auto sent = [&](uint16_t rc) {
        if (rc) setState(before);
        return rc;
    };
    switch (state_) {
    case csIdle: case csListenRequested: case csFailed: case csDisconnected:
        postHangup();
        return mcOk;
    case csOutgoingCall:
        setState(csClearing);
        if (plci_) return sent(sendDisconnectRequest());
        disconnectPending_ = true;  // the CONNECT_CONF brings the PLCI
        return mcOk;
    case csConnected:
        deleteNCPI(outgoingNcpi_);
        outgoingNcpi_ = nullptr;
        setState(csB3Clearing);
        return sent(sendDisconnectB3Request());
    case csB3Clearing: case csB3Cleared:
        return mcOk;
    default:
        if (plci_ == 0) {
            // No call to clear (listening, a listen being cancelled, a call that ended): a
            // DISCONNECT_REQ for PLCI 0 would only be refused and leave the handler in 15 for
            // good. A listen is cancelled, as a call in that state does.
            if (state_ == csListening) cancelListen();
            postHangup();
            return mcOk;
        }
        // An accepted call (10) is cleared like any other: its CONNECT_RESP went out already.
        setState(csClearing);
        return sent(sendDisconnectRequest());
    }
}

uint16_t CCapiMessageHandler::clearForClose(bool graceful, bool* reported) {
    HandlerGuard g(lock_);
    *reported = false;
    if (!messageBuffer_) return mcOk;
    const uint16_t hangupBefore = hangupMode_;
    const uint32_t listenBefore = listenFlag_;
    // A refused clearing leaves the connection as it was: the caller keeps it and may try again.
    auto refused = [&](uint16_t rc) {
        hangupMode_ = hangupBefore;
        listenFlag_ = listenBefore;
        return rc;
    };
    hangupMode_ = 1;
    // A connection that goes takes no further call: the end of this one must not bring it back
    // to listening (and an ownerless handler would accept what it is offered).
    listenFlag_ = 0;
    switch (state_) {
    case csOutgoingCall:
        // Without a PLCI yet the confirmation brings it and the clearing follows: from this
        // handler while it is still there, from the port (a confirmation nobody claims) after.
        // Nothing to wait for here.
        if (!plci_) {
            hangup(1);
            return mcOk;
        }
        break;
    case csIncomingCall: {
        // Offered and not answered: the answer is the clearing.
        if (!plci_) return mcOk;
        setState(csRejected);
        if (uint16_t rc = sendConnectResponse(plci_, 1, connectIndNumber_)) {
            setState(csIncomingCall);
            return refused(rc);
        }
        return mcOk;
    }
    case csConnected:
        if (graceful) {
            if (uint16_t rc = hangup(1)) return refused(rc);
            *reported = true;
            return mcOk;
        }
        break;
    case csB3Clearing:
        // DISCONNECT_B3_REQ is out; its indication sends the DISCONNECT_REQ (hangupMode_ 1).
        if (graceful) {
            *reported = true;
            return mcOk;
        }
        break;
    case csClearing:
        *reported = plci_ || disconnectPending_;  // the DISCONNECT_REQ is out or follows
        return mcOk;
    default:
        break;
    }
    if (!plci_) return mcOk;
    // Every other state with a call: the controller clears B3 with it.
    const TConnectionState before = state_;
    setState(csClearing);
    if (uint16_t rc = sendDisconnectRequest()) {
        setState(before);
        return refused(rc);
    }
    *reported = true;
    return mcOk;
}

uint16_t CCapiMessageHandler::hangup(uint8_t cause, uint8_t diagnostic, const char* x25Called,
                                     const char* x25Calling, uint16_t facilitiesLength, const uint8_t* facilities,
                                     uint16_t userDataLength, const uint8_t* userData) {
    HandlerGuard g(lock_);
    const uint8_t cd[2] = {cause, diagnostic};
    if (!packNCPI(x25Called, x25Calling, facilitiesLength, facilities, userDataLength, userData, cd))
        return mcBadCoding;
    return hangup(1);
}

uint16_t CCapiMessageHandler::acceptIncomingCall(uint16_t reject) {
    HandlerGuard g(lock_);
    // Refused by the library: the call is still offered, and the answer may be given again.
    const TConnectionState before = state_;
    setState(reject ? csRejected : csAccepted);
    uint16_t rc = sendConnectResponse(plci_, reject, connectIndNumber_);
    if (rc) setState(before);
    return rc;
}

uint16_t CCapiMessageHandler::getB3Connection() {
    HandlerGuard g(lock_);
    const TConnectionState before = state_;
    setState(csB3Requested);
    uint16_t rc = sendConnectB3Request();
    if (rc) setState(before);
    return rc;
}

uint16_t CCapiMessageHandler::disconnectB2() {
    HandlerGuard g(lock_);
    const TConnectionState before = state_;
    setState(csClearing);
    uint16_t rc = sendDisconnectRequest();
    if (rc) setState(before);
    return rc;
}

uint16_t CCapiMessageHandler::transmit(const void* data, uint16_t length, uint16_t flags) {
    HandlerGuard g(lock_);
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(ncci_);
    w.u32(0);  // Data: named below, in the form of this platform
    w.u16(length);
    w.u16(dataHandle_);
    w.u16(flags);
    const uint16_t size = capib3::name(messageBuffer_, CCapiPort::kMessageBufferSize, uint16_t(w.length()),
                                       capib3::addressOf(data), capib3::kWideAddresses);
    uint16_t rc = sendMessage(capi::kDataB3, capi::kReq, size);
    if (rc == 0) ++dataHandle_;
    return rc;
}

uint16_t CCapiMessageHandler::dataResponse() {
    HandlerGuard g(lock_);
    if (ringCount_ == 0) return mcWrongState;  // nothing received that waits for an answer
    if (!messageBuffer_) return mcNoBuffer;
    // Taken out before the send: the trace runs without our lock, and another answer made
    // meanwhile must not find the same handle.
    const uint16_t handle = ringHandle_[ringRead_], number = ringNumber_[ringRead_];
    ringRead_ = (ringRead_ + 1) % kDataRing;
    --ringCount_;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(ncci_);
    w.u16(handle);
    uint16_t rc = sendMessage(capi::kDataB3, capi::kResp, w.length(), number);
    if (rc && messageBuffer_ && ringCount_ < kDataRing) {
        // Refused: the handle goes back to the front, so a retry answers it.
        ringRead_ = (ringRead_ + kDataRing - 1) % kDataRing;
        ringHandle_[ringRead_] = handle;
        ringNumber_[ringRead_] = number;
        ++ringCount_;
    }
    return rc;
}

int CCapiMessageHandler::rejectCall(uint32_t plci) {
    HandlerGuard g(lock_);
    if (!messageBuffer_) return 1;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(plci);
    w.u16(1);
    w.empty();
    w.structure(callingNumber_);
    w.empty();
    w.structure(llc_);
    w.empty();
    sendMessage(capi::kConnect, capi::kResp, w.length());
    return 1;
}

void CCapiMessageHandler::disconnectResponse(uint32_t plci) {
    HandlerGuard g(lock_);
    sendPlciOnly(capi::kDisconnect, capi::kResp, plci, 0);
}

uint16_t CCapiMessageHandler::sendUTU(const uint8_t* userData) {
    return infoRequest(nullptr, nullptr, nullptr, userData, nullptr);
}

uint16_t CCapiMessageHandler::infoRequest(const uint8_t* calledNumber, const uint8_t* bChannelInfo,
                                          const uint8_t* keypad, const uint8_t* userData,
                                          const uint8_t* facilityData) {
    HandlerGuard g(lock_);
    if (!messageBuffer_) return mcNoBuffer;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(plci_);
    w.structure(calledNumber);
    // Additional info: the four structs inside one.
    uint8_t* lengthByte = w.at();
    w.u8(0);
    size_t inner = w.structure(bChannelInfo) + w.structure(keypad) + w.structure(userData) + w.structure(facilityData);
    if (inner > 255 || w.overflowed()) return mcBadCoding;
    *lengthByte = uint8_t(inner);
    return sendMessage(capi::kInfo, capi::kReq, w.length());
}

// --- incoming messages ------------------------------------------------------------------------------

int CCapiMessageHandler::connectConfirmation(tagAPIMsg* message) {
    View v(message);
    if ((state_ != csOutgoingCall && state_ != csClearing) || plci_ != 0) return 0;
    // Only the confirmation of our own CONNECT_REQ: two calls on one port never swap PLCIs.
    if (v.number() != connectReqNumber_) return 0;
    const uint16_t info = v.u16(12);
    lastReason_ = info;
    if (info) {
        setState(csFailed);
        postFailedCall(info, 0);
        return 1;
    }
    plci_ = v.u32(8);
    if (state_ == csClearing) {
        disconnectPending_ = false;
        sendDisconnectRequest();
    } else {
        signalProc(ieCallAccepted, 0, 0, 0, 0);
    }
    return 1;
}

int CCapiMessageHandler::connectB3Indication(tagAPIMsg* message) {
    View v(message);
    if (ncci_ != 0) return 0;
    // The NCCI names its PLCI: only the handler of that call takes it.
    if (!checkPLCI(v.u32(8))) return 0;
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    if (state_ == csWaitingForB3) {
        ncci_ = v.u32(8);
        getNCPIData(message, capi::kConnectB3 | (capi::kInd << 8));
        w.u32(ncci_);
        w.u16(0);
        w.structure(reinterpret_cast<const uint8_t*>(outgoingNcpi_));
        sendMessage(capi::kConnectB3, capi::kResp, w.length(), v.number());
        setState(csB3SettingUp);
        return 1;
    }
    // Our call, but no B3 connection is wanted now: taken means answered, so it is rejected.
    w.u32(v.u32(8));
    w.u16(2);
    w.empty();
    sendMessage(capi::kConnectB3, capi::kResp, w.length(), v.number());
    return 1;
}

int CCapiMessageHandler::dataB3Indication(tagAPIMsg* message) {
    View v(message);
    if (!checkNCCI(v.u32(8))) return 0;
    const uint16_t handle = v.u16(18), number = v.number();
    const uintptr_t data = reinterpret_cast<uintptr_t>(capib3::pointer(capib3::address(v.data(), v.size())));
    uintptr_t ack = postB3Receive(data, v.u16(16), handle, v.u16(20));
    // Closed from inside the event: the handler has nothing left to answer with; the port does.
    if (!messageBuffer_) return 0;
    if (ack || ringCount_ == kDataRing) {
        // Acknowledged by the owner; or the ring is full and would lose the oldest handle.
        if (!ack) debugPrint(0x08000000, "data ring full, handle %u acknowledged at once", handle);
        Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
        w.u32(ncci_);
        w.u16(handle);
        sendMessage(capi::kDataB3, capi::kResp, w.length(), number);
    } else {
        ringHandle_[ringWrite_] = handle;
        ringNumber_[ringWrite_] = number;
        ringWrite_ = (ringWrite_ + 1) % kDataRing;
        ++ringCount_;
    }
    return 1;
}

int CCapiMessageHandler::facilityConfirmation(tagAPIMsg* message) {
    View v(message);
    const uint32_t id = v.u32(8);
    if (id & 0xFF00) return checkPLCI(id);
    if (id & 0xFFFF0000) return checkNCCI(id);
    return 1;
}

int CCapiMessageHandler::facilityIndication(tagAPIMsg* message) {
    if (!facilityConfirmation(message)) return 0;
    // Taken means answered: the selector comes back with empty response parameters.
    View v(message);
    Writer w(messageBuffer_, CCapiPort::kMessageBufferSize);
    w.u32(v.u32(8));
    w.u16(v.u16(12));
    w.empty();
    sendMessage(capi::kFacility, capi::kResp, w.length(), v.number());
    return 1;
}

int CCapiMessageHandler::infoConfirmation(tagAPIMsg* message) {
    View v(message);
    const uint32_t id = v.u32(8);
    return (id & 0xFF00) == 0 || checkPLCI(id);
}

int CCapiMessageHandler::infoIndication(tagAPIMsg* message) {
    View v(message);
    const uint32_t id = v.u32(8);
    if ((id & 0xFF00) && !checkPLCI(id)) return 0;
    const uint16_t number = v.u16(12);
    const size_t element = 14;
    const size_t len = v.structLength(element);
    if (number == 0x8045) {
        bChannel_ = 0;
    } else if (number == 0x4000 || number == 0x4001) {
        if (len >= 4) postISDNInformation(0, v.u32(element + 1));
    } else if ((number & 0xC000) == 0 && (number & 0xFF) == 0x18) {
        if (len >= 1) bChannel_ = v.u8(element + 1) & 7;
    }
    sendPlciOnly(capi::kInfo, capi::kResp, id, v.number());
    return 1;
}

int CCapiMessageHandler::selectBProtocolConfirmation(tagAPIMsg* message) {
    View v(message);
    return v.u32(8) == plci_ && plci_ != 0;
}

int CCapiMessageHandler::dispatchMessage(tagAPIMsg* message) {
    HandlerGuard g(lock_);
    // Closed while the dispatch was on its way here: what CAPI needs answered, the port answers.
    if (!messageBuffer_) return 0;
    View v(message);
    if (v.size() < capi::kHeader) return 0;
    lastOfferedNumber_ = v.number();
    const uint8_t cmd = v.command(), sub = v.sub();
    const uint16_t number = v.number();
    const uint32_t id = v.u32(8);

    if (sub == capi::kConf) {
        switch (cmd) {
        case capi::kAlert: case capi::kManufacturer:
            return 1;
        case capi::kConnect:
            return connectConfirmation(message);
        case capi::kListen: {
            if (state_ == csOutgoingCall || state_ == csCancellingListen) return 1;
            if (state_ != csListenRequested) return 0;
            const uint16_t info = v.u16(12);
            lastReason_ = info;
            signalProc(ieListenConfirmed, info, 0, 0, 0);
            // The owner may have called, cancelled or closed from inside its event: that stands.
            if (state_ != csListenRequested || !messageBuffer_) return 1;
            if (info) {
                setState(csFailed);
                postFailedCall(info, 0);
            } else {
                setState(csListening);
            }
            return 1;
        }
        case capi::kConnectB3: {
            if (!checkPLCI(id)) return 0;
            const uint16_t info = v.u16(12);
            lastB3Reason_ = info;
            if (info) {
                if (state_ != csState29) setState(csB3Failed);
                sendDisconnectRequest();
            } else {
                ncci_ = id;
                if (state_ != csClearing && state_ != csState24 && state_ != csState29) setState(csB3SettingUp);
            }
            return 1;
        }
        case capi::kDataB3:
            if (!checkNCCI(id)) return 0;
            postB3Transmit(v.u16(14), v.u16(12));
            return 1;
        case capi::kDisconnectB3:
            if (!checkNCCI(id)) return 0;
            if (state_ == csClearing) ncci_ = 0;
            return 1;
        case capi::kDisconnect:
            if (!checkPLCI(id)) return 0;
            if (state_ != csB3SettingUp && state_ != csB3Failed && state_ != csB3Cleared && state_ != csClearing)
                exceptionHandler(message);
            return 1;
        case capi::kInfo:
            return infoConfirmation(message);
        case capi::kFacility:
            return facilityConfirmation(message);
        case capi::kSelectBProtocol:
            return selectBProtocolConfirmation(message);
        default:
            return 0;
        }
    }

    if (sub != capi::kInd) return 0;
    switch (cmd) {
    case capi::kConnectB3T90Active:
        // Ours only with our NCCI; taken means answered.
        if (!checkNCCI(id)) return 0;
        sendPlciOnly(capi::kConnectB3T90Active, capi::kResp, id, number);
        return 1;
    case capi::kConnect: {
        // A waiting call (B channel information "no B channel") is refused whatever the state.
        CMessageCracker cracker(message);
        const tagBChannelInformation* bci = cracker.getBChannelInformation();
        if (bci && bci->length >= 2 && capiGet16(capiStructData(bci)) == 2) {
            sendConnectResponse(id, 1, number);
            return 1;
        }
        if (state_ != csListening && state_ != csRejected && state_ != csIncomingEnded) return 0;
        plci_ = id;
        ncci_ = 0;
        connectIndNumber_ = number;
        incomingCip_ = v.u16(12);
        // Each field is cut to what its buffer holds and terminated: the network decides the
        // lengths the message claims.
        cracker.getCalledPartyNumber(lastCalled_, sizeof lastCalled_);
        cracker.getCallingPartyNumber(lastCalling_, sizeof lastCalling_);
        cracker.getCallingPartySubAddress(lastCallingSubaddress_, sizeof lastCallingSubaddress_);
        // The called number struct keeps what the caller dialled (cut to its field).
        static const uint8_t type = 0x80;
        buildNumber(calledNumber_, &type, 1, lastCalled_, kCalledDigits);
        memset(llc_, 0, sizeof llc_);
        if (const tagLowLayerCompatibility* llc = cracker.getLowLayerCompatibility()) {
            llc_[0] = uint8_t(llc->length > kLlc ? kLlc : llc->length);
            memcpy(llc_ + 1, capiStructData(llc), llc_[0]);
        }
        ringWrite_ = ringRead_ = ringCount_ = 0;
        setState(csIncomingCall);
        // The owner sees copies: they stay what this call brought even if another call arrives.
        char calledCopy[sizeof lastCalled_], callingCopy[sizeof lastCalling_], subCopy[sizeof lastCallingSubaddress_];
        memcpy(calledCopy, lastCalled_, sizeof calledCopy);
        memcpy(callingCopy, lastCalling_, sizeof callingCopy);
        memcpy(subCopy, lastCallingSubaddress_, sizeof subCopy);
        uintptr_t answer = signalIncomingCall(calledCopy, callingCopy, subCopy);
        if (state_ != csIncomingCall) return 1;  // the owner answered from inside the event
        if (!messageBuffer_) return 0;           // closed inside it: the port ignores the call
        if (answer == 1) acceptIncomingCall(0);
        else if (answer == 0) acceptIncomingCall(7);
        return 1;
    }
    case capi::kConnectActive: {
        if (!checkPLCI(id)) return 0;
        sendPlciOnly(capi::kConnectActive, capi::kResp, id, number);
        if (state_ == csOutgoingCall || state_ == csIncomingCall) {
            setState(csDChannelUp);
            if (b3Mode_ == 1) {
                setState(csB3Requested);
                sendConnectB3Request();
            } else if (b3Mode_ == 2) {
                postConnection("");
            }
        } else if (state_ == csAccepted) {
            setState(csDChannelUp);
            if (b3Mode_ == 1) setState(csWaitingForB3);
            else if (b3Mode_ == 2) postConnection("");
        }
        return 1;
    }
    case capi::kConnectB3:
        return connectB3Indication(message);
    case capi::kConnectB3Active: {
        if (!checkNCCI(id)) return 0;
        sendPlciOnly(capi::kConnectB3Active, capi::kResp, id, number);
        if (state_ == csB3SettingUp) {
            getNCPIData(message, capi::kConnectB3Active | (capi::kInd << 8));
            setState(csConnected);
            postConnection("");
            return 1;
        }
        if (state_ == csClearing) return 1;
        // Answered above: offered on, the port would answer it a second time.
        exceptionHandler(message);
        return 1;
    }
    case capi::kDataB3:
        return dataB3Indication(message);
    case capi::kDisconnectB3: {
        if (!checkNCCI(id)) return 0;
        const TConnectionState arrival = state_;
        lastB3Reason_ = v.u16(12);
        if (v.u8(14) >= 5) getNCPIData(message, capi::kDisconnectB3 | (capi::kInd << 8));
        if (arrival != csState23 && arrival != csState26 && arrival != csState32) setState(csB3Cleared);
        sendPlciOnly(capi::kDisconnectB3, capi::kResp, id, number);
        ncci_ = 0;
        switch (arrival) {
        case csB3Requested: case csB3SettingUp:
            setState(csB3Failed);
            sendDisconnectRequest();
            break;
        case csConnected:
            setState(csB3Cleared);
            break;
        case csB3Clearing:
            if (hangupMode_ != 0) {
                setState(csClearing);
                sendDisconnectRequest();
            }
            break;
        case csB3Cleared: case csClearing: case csState23: case csState26: case csState32:
            break;
        case csState24:
            setState(csClearingAfter24);
            sendDisconnectRequest();
            break;
        default:
            exceptionHandler(message);
            break;
        }
        return 1;
    }
    case capi::kDisconnect: {
        if (!checkPLCI(id)) return 0;
        const uint16_t reason = v.u16(12);
        lastReason_ = reason;
        sendPlciOnly(capi::kDisconnect, capi::kResp, id, number);
        plci_ = 0;
        ncci_ = 0;
        switch (state_) {
        case csOutgoingCall: case csIncomingCall: case csB3Requested: case csB3SettingUp: case csB3Failed:
        case csListening:
            setState(csFailed);
            postFailedCall(reason, lastB3Reason_);
            break;
        case csAccepted: case csWaitingForB3:
            setState(csIncomingEnded);
            postFailedListen(reason, lastB3Reason_);
            break;
        case csB3Cleared: case csDChannelUp:
            setState(csDisconnected);
            postDisconnect(reason, lastB3Reason_);
            if (listenFlag_ && state_ == csDisconnected) setState(csListening);
            break;
        case csClearing:
            setState(csIdle);
            postHangup();
            break;
        default:
            break;
        }
        return 1;
    }
    case capi::kInfo:
        return infoIndication(message);
    case capi::kFacility:
        return facilityIndication(message);
    case capi::kResetB3:
        if (!checkNCCI(id)) return 0;
        sendPlciOnly(capi::kResetB3, capi::kResp, id, number);
        return 1;
    default:
        return 0;
    }
}
