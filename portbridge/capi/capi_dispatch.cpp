// The message paths of the engine: requests and responses an application puts, confirmations and
// indications from the adapter, the messages the engine makes itself, the lost and restored link,
// and the pacing of B3 data.
#include <cstring>

#include "common/capi_data_b3.h"
#include "common/debug.h"
#include "common/stage_clock.h"
#include "portbridge/capi/capi_engine.h"
#include "portbridge/capi/capi_engine_internal.h"

using capi_engine::EngineGuard;
using namespace capi_engine;

namespace {

enum : uint16_t {
    kAlertReq = 0x8001,
    kConnectReq = 0x8002,
    kDisconnectReq = 0x8004,
    kListenReq = 0x8005,
    kInfoReq7 = 0x8007,
    kInfoReq = 0x8008,
    kSelectBProtocolReq = 0x8041,
    kFacilityReq = 0x8080,
    kConnectB3Req = 0x8082,
    kDisconnectB3Req = 0x8084,
    kDataB3Req = 0x8086,
    kResetB3Req = 0x8087,
    kManufacturerReq = 0x80FF,
    kConnectConf = 0x8102,
    kListenConf = 0x8105,
    kConnectB3Conf = 0x8182,
    kDataB3Conf = 0x8186,
    kConnectInd = 0x8202,
    kConnectActiveInd = 0x8203,
    kDisconnectInd = 0x8204,
    kConnectB3Ind = 0x8282,
    kDisconnectB3Ind = 0x8284,
    kDataB3Ind = 0x8286,
    kConnectResp = 0x8302,
    kConnectActiveResp = 0x8303,
    kDisconnectResp = 0x8304,
    kInfoResp7 = 0x8307,
    kInfoResp = 0x8308,
    kConnectB3Resp = 0x8382,
    kConnectB3ActiveResp = 0x8383,
    kDisconnectB3Resp = 0x8384,
    kDataB3Resp = 0x8386,
    kResetB3Resp = 0x8387,
    kConnectB3T90ActiveResp = 0x8388,
    kManufacturerResp = 0x83FF,
};

constexpr uint16_t kClassAnsweredLocally = 0x1002;
constexpr uint16_t kClassIdentity = 0x1007;
constexpr uint32_t kPendingNcciMark = 0xFFFF0000u;

bool isRequest(const uint8_t* m) { return (m[5] & 0x03) == 0; }

}  // namespace

// ---- helpers -------------------------------------------------------------------------------------

uint32_t CCapiAppTable::now() {
    if (host_) return host_->nowMs();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

uint8_t CCapiAppTable::portFor(uint32_t ident) const {
    const uint8_t controller = uint8_t(ident & 0x7F);
    if (controller >= 1 && controller <= kCapiPorts && ports_[controller]) return controller;
    return 1;
}

uint16_t CCapiAppTable::localConfirmation(CCapiController* app, const uint8_t* request, uint16_t info) {
    const uint16_t length = capiGet16(request);
    uint8_t m[20] = {};
    put16(m + 2, app->id_);
    m[4] = request[4];
    m[5] = 0x81;
    put16(m + 6, capiGet16(request + 6));
    uint16_t size = 14;
    if (request[4] == 0xFF) {
        size = 20;
        for (unsigned i = 8; i < 18 && i < length; ++i) m[i] = request[i];
        put16(m + 18, info);
    } else if (request[4] == 0x86) {
        size = 16;
        put32(m + 8, field32(request, length, 8));
        put16(m + 12, field16(request, length, 18));
        put16(m + 14, info);
    } else {
        put32(m + 8, field32(request, length, 8));
        put16(m + 12, info);
    }
    put16(m, size);
    return queueBytes(app, m, size) == 0 ? uint16_t(0) : uint16_t(kCapiErrQueueFull);
}

void CCapiAppTable::makeIndication(CCapiController* app, uint8_t command, uint32_t ident, const uint8_t* params,
                                   uint16_t paramLength) {
    uint8_t m[32] = {};
    const uint16_t size = uint16_t(12 + paramLength);
    put16(m, size);
    put16(m + 2, app->id_);
    m[4] = command;
    m[5] = 0x82;
    put16(m + 6, nextNumber(app));
    put32(m + 8, ident);
    std::memcpy(m + 12, params, paramLength);
    queueBytes(app, m, size);
}

void CCapiAppTable::disconnectInd(CCapiController* app, uint32_t plci, uint16_t reason) {
    uint8_t p[2];
    put16(p, reason);
    makeIndication(app, 0x04, plci, p, 2);
}

void CCapiAppTable::disconnectB3Ind(CCapiController* app, uint32_t ncci, uint16_t reason) {
    uint8_t p[3] = {};
    put16(p, reason);  // then an empty NCPI
    makeIndication(app, 0x84, ncci, p, 3);
}

uint16_t CCapiAppTable::connectConf(CCapiController* app, uint16_t number, uint32_t plci, uint16_t info) {
    uint8_t m[14] = {};
    put16(m, 14);
    put16(m + 2, app->id_);
    m[4] = 0x02;
    m[5] = 0x81;
    put16(m + 6, number);
    put32(m + 8, plci);
    put16(m + 12, info);
    return queueBytes(app, m, 14);
}

void CCapiAppTable::dataB3Conf(CCapiController* app, uint16_t number, uint32_t ncci, uint16_t handle, uint16_t info) {
    uint8_t m[16] = {};
    put16(m, 16);
    put16(m + 2, app->id_);
    m[4] = 0x86;
    m[5] = 0x81;
    put16(m + 6, number);
    put32(m + 8, ncci);
    put16(m + 12, handle);
    put16(m + 14, info);
    queueBytes(app, m, 16);
}

// ---- towards the adapter -------------------------------------------------------------------------

void CCapiAppTable::queueOutbox(CCapiController* app, uint8_t port, const uint8_t* message, uint16_t length,
                                const uint8_t* payload, uint16_t payloadLength, CCapiMessageBuffer* b) {
    if (!b) {
        b = takeBuffer();
        if (!b) return;
        std::memcpy(b->bytes, message, length);
        put16(b->bytes + 2, app->id_);
        b->length = length;
        b->payload = payload;
        b->payloadLength = payloadLength;
    }
    b->port = port;
    b->appId = app->id_;
    outbox_.appendNode(b);
}

uint16_t CCapiAppTable::sendToPort(CCapiController* app, uint8_t port, const uint8_t* message, uint16_t length,
                                   const uint8_t* payload, uint16_t payloadLength, bool isRequest) {
    (void)isRequest;
    CCapiMessageBuffer* b = takeBuffer();
    if (!b) return kCapiErrResources;
    std::memcpy(b->bytes, message, length);
    put16(b->bytes + 2, app->id_);
    b->length = length;
    b->payload = payload;
    b->payloadLength = payloadLength;
    b->port = port;
    b->appId = app->id_;
    if (!ports_[port] || app->ports_[port].state == kAppRegistrationSent) {
        // Sent once the registration is confirmed or the link is back (flushWaiting).
        app->waiting_.appendNode(b);
        if (ports_[port]) ports_[port]->prod();
        return 0;
    }
    // Sent when the entry point lets the lock go; a failure is confirmed then (sendFailed).
    queueOutbox(app, port, nullptr, 0, nullptr, 0, b);
    return 0;
}

void CCapiAppTable::sendFailed(CCapiMessageBuffer* b, uint16_t info) {
    CCapiController* app = lookup(b->appId);
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleased || app->state_ == kAppReleasing) return;
    const uint8_t* m = b->bytes;
    if (!isRequest(m)) {
        debugPrint(0x08000000, "! response %04X of application %u not sent (%04X)", commandWord(m), app->id_, info);
        return;
    }
    const uint32_t ident = field32(m, b->length, 8);
    switch (commandWord(m)) {
    case kConnectReq:
        if (CCapiPlci* plci = findPendingCall(app, capiGet16(m + 6))) freePlci(plci);
        break;
    case kConnectB3Req:
        if (CCapiNcci* ncci = findNcci(app, kPendingNcciMark | (ident & 0xFFFF))) freeNcci(ncci);
        break;
    case kDataB3Req:
        if (CCapiNcci* ncci = findNcci(app, ident)) {
            const uint16_t handle = capiGet16(m + 18);
            for (unsigned i = 0; i < ncci->outstandingCount; ++i) {
                if (ncci->outstanding[i].handle != handle) continue;
                for (unsigned k = i + 1; k < ncci->outstandingCount; ++k) ncci->outstanding[k - 1] = ncci->outstanding[k];
                --ncci->outstandingCount;
                break;
            }
        }
        break;
    default:
        break;
    }
    // The sender learns from the confirmation that the adapter never saw its request.
    localConfirmation(app, m, info);
}

uint16_t CCapiAppTable::forward(CCapiController* app, const uint8_t* m, uint16_t length, const uint8_t* payload,
                                uint16_t payloadLength) {
    const uint8_t port = portFor(field32(m, length, 8));
    const uint16_t sent = sendToPort(app, port, m, length, payload, payloadLength, isRequest(m));
    if (sent == 0) return 0;
    // No buffer to carry it.
    if (isRequest(m)) localConfirmation(app, m, sent);
    return sent;
}

uint16_t CCapiAppTable::reject(CCapiController* app, const uint8_t* m, uint16_t length, uint16_t info) {
    (void)length;
    return localConfirmation(app, m, info);
}

template <class Undo>
uint16_t CCapiAppTable::sendTaken(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length,
                                  const uint8_t* payload, uint16_t payloadLength, Undo undo) {
    const uint16_t sent = sendToPort(app, port, m, length, payload, payloadLength, true);
    if (sent == 0) return 0;
    undo();
    return reject(app, m, length, sent);
}

void CCapiAppTable::flushWaiting(CCapiController* app, uint8_t port) {
    CDoubleList keep;
    while (auto* b = static_cast<CCapiMessageBuffer*>(app->waiting_.removeNode())) {
        if (b->port != port || !ports_[port]) {
            keep.appendNode(b);
            continue;
        }
        queueOutbox(app, port, nullptr, 0, nullptr, 0, b);
    }
    keep.copy(&app->waiting_);
}

// ---- put -----------------------------------------------------------------------------------------

uint16_t CCapiAppTable::putMessage(uint16_t appId, const uint8_t* message, size_t size, const uint8_t* payload) {
    stageclock::stamp(stageclock::kEnginePut);
    EngineGuard g(*this);
    CCapiController* app = lookup(appId);
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleased || app->state_ == kAppReleasing)
        return kCapiErrUnknownApplication;
    if (!message || size < kCapiMinPutLength) return kCapiErrIllegalMessage;
    const uint16_t length = capiGet16(message);
    if (length < kCapiMinPutLength || length > kCapiMaxPutLength || length > size) return kCapiErrIllegalMessage;
    return isRequest(message) ? dispatchRequest(app, message, length, payload)
                              : dispatchResponse(app, message, length);
}

uint16_t CCapiAppTable::dispatchRequest(CCapiController* app, const uint8_t* m, uint16_t length,
                                        const uint8_t* payload) {
    const uint32_t ident = field32(m, length, 8);
    const uint8_t controller = uint8_t(ident & 0x7F);
    const uint8_t port = portFor(ident);
    switch (commandWord(m)) {
    case kAlertReq:
    case kSelectBProtocolReq:
        if (!findPlci(app, ident)) return reject(app, m, length, kCapiErrIllegalIdentifier);
        return forward(app, m, length);
    case kConnectReq: {
        if (controller < 1 || controller > kCapiPorts || !ports_[controller])
            return reject(app, m, length, kCapiErrIllegalIdentifier);
        if (!linkUp_[port]) {
            // Answered here, and no call object is taken for a call that never starts.
            if (connectConf(app, capiGet16(m + 6), kCapiLinkDownPlci, 0) != 0) return kCapiErrQueueFull;
            disconnectInd(app, kCapiLinkDownPlci, kCapiReasonLinkLost);
            return 0;
        }
        CCapiPlci* plci = takePlci(app, CCapiPlci::kCall, controller);
        if (!plci) return reject(app, m, length, kCapiErrNoPlci);
        if (app->ports_[port].state != kAppRegistered) {
            const uint16_t registered = registerAtAdapter(app, port);
            if (registered != 0) {
                freePlci(plci);
                return reject(app, m, length, registered);
            }
        }
        plci->state = kPlciConnectSent;
        plci->requestNumber = capiGet16(m + 6);
        return sendTaken(app, port, m, length, nullptr, 0, [&] { freePlci(plci); });
    }
    case kDisconnectReq: {
        CCapiPlci* plci = findPlci(app, ident);
        if (!plci) return reject(app, m, length, kCapiErrIllegalIdentifier);
        plci->state = kPlciDisconnectSent;
        return forward(app, m, length);
    }
    case kListenReq: {
        const uint8_t c = controller >= 1 && controller <= kCapiPorts ? controller : 1;
        CCapiController::ListenRecord& listen = app->listens_[c];
        listen.used = true;
        listen.infoMask = field32(m, length, 12);
        listen.cipMask = field32(m, length, 16);
        if (!listen.plci) {
            listen.plci = takePlci(app, CCapiPlci::kListen, c);
            if (!listen.plci) return reject(app, m, length, kCapiErrNoPlci);
        }
        // After the link came back the adapter knows the application no more: register again,
        // as a call would, or the listen goes nowhere.
        if (linkUp_[port] && app->ports_[port].state == kAppFree && ports_[port]) {
            const uint16_t registered = registerAtAdapter(app, port);
            if (registered != 0) return reject(app, m, length, registered);
        }
        return forward(app, m, length);
    }
    case kInfoReq7:
    case kInfoReq:
    case kFacilityReq:
        // For a PLCI (its byte 1 set) or for the controller.
        if ((ident & 0xFF00) && !findPlci(app, ident)) return reject(app, m, length, kCapiErrIllegalIdentifier);
        return forward(app, m, length);
    case kConnectB3Req: {
        CCapiPlci* plci = findPlci(app, ident);
        if (!plci) return reject(app, m, length, kCapiErrIllegalIdentifier);
        CCapiNcci* ncci = takeNcci(app, plci);
        if (!ncci) return reject(app, m, length, kCapiErrNoNcci);
        ncci->value = kPendingNcciMark | (ident & 0xFFFF);
        ncci->state = kNcciSetUp;
        return sendTaken(app, port, m, length, nullptr, 0, [&] { freeNcci(ncci); });
    }
    case kDisconnectB3Req: {
        CCapiNcci* ncci = findNcci(app, ident);
        if (!ncci) return reject(app, m, length, kCapiErrIllegalIdentifier);
        ncci->state = kNcciDisconnectSent;
        return forward(app, m, length);
    }
    case kDataB3Req:
        return dataB3Request(app, m, length, payload);
    case kResetB3Req:
        if (!findNcci(app, ident)) return reject(app, m, length, kCapiErrIllegalIdentifier);
        return forward(app, m, length);
    case kManufacturerReq: {
        if (length < 18 || std::memcmp(m + 12, "kolv", 4) != 0) return reject(app, m, length, kCapiErrIllegalMessage);
        if (capiGet16(m + 16) == kClassAnsweredLocally) return reject(app, m, length, kCapiInfoOk);
        if (controller < 1 || controller > kCapiPorts || !ports_[controller])
            return reject(app, m, length, kCapiErrIllegalIdentifier);
        if (app->ports_[port].state != kAppRegistered && registerAtAdapter(app, port) != 0)
            return reject(app, m, length, kCapiErrResources);
        return forward(app, m, length);
    }
    default:
        return kCapiErrIllegalCommand;
    }
}

uint16_t CCapiAppTable::dataB3Request(CCapiController* app, const uint8_t* m, uint16_t length,
                                      const uint8_t* payload) {
    if (length < kCapiDataB3IndLength || length > 32) return kCapiErrIllegalMessage;
    const uint16_t dataLength = capiGet16(m + 16);
    // More than the registered block length would overrun the sender's slot and the line's buffer.
    if ((dataLength && !payload) || dataLength > app->params_.maxB3DataLength) return kCapiErrIllegalMessage;
    CCapiNcci* ncci = findNcci(app, capiGet32(m + 8));
    if (!ncci || ncci->state != kNcciAttached) return reject(app, m, length, kCapiErrIllegalIdentifier);
    if (ncci->outstandingCount + unsigned(ncci->held.getSize()) >= CCapiNcci::kOutstandingMax)
        return reject(app, m, length, kCapiErrQueueFull);

    // The payload follows the message on the line; the Data field says where, as the adapter's
    // DATA_B3_IND does (the payload at the message + 32 - offset). Whatever form the sender named
    // its payload in (Data, or Data64 from a 64-bit platform), the line carries the 22-byte form:
    // no address of this process goes to the adapter.
    uint8_t copy[32];
    const uint16_t lineLength = kCapiDataB3IndLength;
    std::memcpy(copy, m, lineLength);
    put16(copy, lineLength);
    put32(copy + 12, uint32_t(32 - lineLength));

    if (windowSize() && (windowFull(ncci) || ncci->held.getSize())) {
        // The window is full: the request waits for an entry to retire, with its payload, which
        // the sender keeps until it gets the confirmation.
        CCapiMessageBuffer* b = takeBuffer();
        if (!b) return reject(app, m, length, kCapiErrResources);
        std::memcpy(b->bytes, copy, lineLength);
        put16(b->bytes + 2, app->id_);
        b->length = lineLength;
        b->payload = payload;
        b->payloadLength = dataLength;
        b->port = portFor(ncci->value);
        ncci->held.appendNode(b);
        updatePacingTimer();
        return 0;
    }
    if (windowSize()) paceStart(ncci, dataLength);
    CCapiNcci::Outstanding& o = ncci->outstanding[ncci->outstandingCount++];
    o.handle = capiGet16(m + 18);
    o.number = capiGet16(m + 6);
    // The confirmation reads none of the bytes the copy changed.
    return sendTaken(app, portFor(ncci->value), copy, lineLength, payload, dataLength,
                     [&] { --ncci->outstandingCount; });
}

uint16_t CCapiAppTable::dispatchResponse(CCapiController* app, const uint8_t* m, uint16_t length) {
    const uint16_t command = commandWord(m);
    const uint32_t ident = field32(m, length, 8);
    if (app->state_ != kAppRegistered && command != kDisconnectResp && command != kDisconnectB3Resp)
        return kCapiErrIllegalCommand;
    switch (command) {
    case kConnectResp:
    case kConnectActiveResp:
    case kInfoResp7:
    case kInfoResp:
    case kConnectB3Resp:
    case kConnectB3ActiveResp:
    case kResetB3Resp:
    case kConnectB3T90ActiveResp:
    case kManufacturerResp:
        return forward(app, m, length);
    case kDisconnectResp: {
        const uint16_t result = forward(app, m, length);
        if (CCapiPlci* plci = findPlci(app, ident)) freePlci(plci);
        return result;
    }
    case kDisconnectB3Resp: {
        const uint16_t result = forward(app, m, length);
        if (CCapiNcci* ncci = findNcci(app, ident)) freeNcci(ncci);
        return result;
    }
    case kDataB3Resp: {
        // The block of this very data handle is free again, whatever order the answers come in.
        const uint16_t handle = field16(m, length, 12);
        for (auto* b : app->b3InUse_)
            if (b && b->got && b->ncci == ident && b->handle == handle) {
                giveBuffer(b);
                break;
            }
        return forward(app, m, length);
    }
    default:
        return kCapiErrIllegalCommand;
    }
}

// ---- from the adapter ----------------------------------------------------------------------------

void CCapiAppTable::adapterMessage(uint8_t port, const uint8_t* item, size_t size) {
    EngineGuard g(*this);
    // The item may be longer than the message: a DATA_B3_IND's payload follows it in the item.
    if (!item || size < kCapiHeaderSize) {
        debugPrint(0x08000000, "! adapter message of %u bytes dropped", unsigned(size));
        return;
    }
    const uint16_t length = capiGet16(item);
    if (length < kCapiHeaderSize || length > size || length > kCapiMessageBufferSize) {
        debugPrint(0x08000000, "! adapter message claims %u of %u bytes, dropped", length, unsigned(size));
        return;
    }
    if (port < 1 || port > kCapiPorts) port = 1;
    CCapiController* app = lookup(capiGet16(item + 2));
    if (!app) return;
    if (item[5] & 0x40) {
        internalMessage(app, port, item, length);
        return;
    }
    if (app->state_ == kAppFree || app->state_ == kAppReleased || app->state_ == kAppReleasing) return;
    if (item[5] & 0x02) {
        indication(app, port, item, length, size);
    } else {
        uint8_t copy[kCapiMessageBufferSize];
        std::memcpy(copy, item, length);
        confirmation(app, port, copy, length);
    }
}

void CCapiAppTable::internalMessage(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length) {
    const uint16_t number = capiGet16(m + 6);
    const uint8_t recordPort = number >= 1 && number <= kCapiPorts ? uint8_t(number) : port;
    CCapiController::PortRecord& record = app->ports_[recordPort];
    const uint16_t command = uint16_t(m[4] | ((m[5] | 0x80) << 8));
    switch (command) {
    case 0xC101:
        if (record.state == kAppRegistrationSent || (record.state == kAppFree && app->state_ == kAppRegistered)) {
            record.state = kAppRegistered;
            if (app->state_ == kAppRegistrationSent || app->state_ == kAppRegistering) app->state_ = kAppRegistered;
            app->registrationResult_ = 0;
            record.event.set();
            flushWaiting(app, recordPort);
        } else if (record.state == kAppAbandoned && ports_[recordPort]) {
            // The registration was given up before this came: undo it at the adapter.
            uint8_t release[8];
            put16(release, 8);
            put16(release + 2, app->id_);
            release[4] = 0x02;
            release[5] = 0xC0;
            put16(release + 6, recordPort);
            record.state = kAppReleased;
            queueOutbox(app, recordPort, release, 8, nullptr, 0);
        }
        break;
    case 0xC102:
        if (record.state == kAppReleasing) {
            record.state = kAppReleased;
            record.event.set();
        }
        break;
    case 0xC1FF:
        if (length >= 18 && capiGet16(m + 16) == kClassIdentity && app->identityResult_) {
            const size_t have = length > 20 ? length - 20u : 0u;
            const size_t take = have < kCapiIdentitySize ? have : kCapiIdentitySize;
            std::memset(app->identityResult_, 0, kCapiIdentitySize);
            std::memcpy(app->identityResult_, m + 20, take);
            app->identityArrived_ = true;
            app->ports_[port].event.set();
        }
        break;
    default:
        break;
    }
}

void CCapiAppTable::confirmation(CCapiController* app, uint8_t port, uint8_t* m, uint16_t length) {
    (void)port;
    const uint32_t ident = field32(m, length, 8);
    const uint16_t info = field16(m, length, 12);
    const uint16_t number = capiGet16(m + 6);
    switch (commandWord(m)) {
    case kConnectConf: {
        if (CCapiPlci* plci = findPendingCall(app, number)) {
            if (info == 0) {
                plci->value = ident;
                plci->state = kPlciConnectConfirmed;
            } else {
                freePlci(plci);
            }
        }
        break;
    }
    case kListenConf:
        if (info == kCapiAdapterInfoListenIllegal && length >= 14) put16(m + 12, kCapiErrIllegalIdentifier);
        if (info != 0) {
            const uint8_t c = uint8_t(ident & 0x7F) >= 1 && uint8_t(ident & 0x7F) <= kCapiPorts ? uint8_t(ident & 0x7F) : 1;
            if (app->listens_[c].plci) freePlci(app->listens_[c].plci);
            app->listens_[c].plci = nullptr;
        }
        break;
    case kConnectB3Conf: {
        CCapiNcci* ncci = findNcci(app, kPendingNcciMark | (ident & 0xFFFF));
        if (ncci) {
            if (info == 0) {
                ncci->value = ident;
                ncci->state = kNcciAttached;
            } else {
                freeNcci(ncci);
            }
        }
        break;
    }
    case kDataB3Conf:
        // Link control's paced confirmation of a sent DATA_B3_REQ: the sent report.
        if (length >= 14) confirmDataSent(app, ident, capiGet16(m + 12), number, length >= 16 ? capiGet16(m + 14) : 0);
        return;
    default:
        break;
    }
    queueBytes(app, m, length);
}

void CCapiAppTable::indication(CCapiController* app, uint8_t port, const uint8_t* m, uint16_t length,
                               size_t itemSize) {
    (void)port;
    const uint32_t ident = field32(m, length, 8);
    switch (commandWord(m)) {
    case kConnectInd:
        if (length >= 12 && !findPlci(app, ident)) {
            if (CCapiPlci* plci = takePlci(app, CCapiPlci::kCall, uint8_t(ident & 0x7F))) {
                plci->value = ident;
                plci->state = kPlciIncoming;
            }
        }
        break;
    case kConnectActiveInd:
        if (CCapiPlci* plci = length >= 12 ? findPlci(app, ident) : nullptr) plci->state = kPlciActive;
        break;
    case kDisconnectInd:
        if (CCapiPlci* plci = length >= 12 ? findPlci(app, ident) : nullptr) {
            plci->state = kPlciDisconnected;
            for (auto* n : plci->nccis)
                if (n && n->state == kNcciSetUp) freeNcci(n);
        }
        break;
    case kConnectB3Ind:
        if (length >= 12 && !findNcci(app, ident)) {
            CCapiPlci* plci = findPlci(app, ident & 0xFFFF);
            if (CCapiNcci* ncci = takeNcci(app, plci)) {
                ncci->value = ident;
                ncci->state = kNcciAttached;
            }
        }
        break;
    case kDisconnectB3Ind:
        if (CCapiNcci* ncci = length >= 12 ? findNcci(app, ident) : nullptr) ncci->state = kNcciDisconnected;
        break;
    case kDataB3Ind:
        dataB3Indication(app, m, length, itemSize);
        return;
    default:
        break;
    }
    queueBytes(app, m, length);
}

void CCapiAppTable::dataB3Indication(CCapiController* app, const uint8_t* m, uint16_t length, size_t itemSize) {
    if (length < kCapiDataB3IndLength) {
        debugPrint(0x08000000, "! DATA_B3_IND of %u bytes dropped", length);
        return;
    }
    // The Data field holds an offset: the payload starts at the message + 32 - |offset|, behind
    // the message's fixed part and inside what arrived.
    const int64_t offset = int32_t(capiGet32(m + 12));
    const int64_t start = 32 - (offset < 0 ? -offset : offset);
    uint16_t dataLength = capiGet16(m + 16);
    if (start < kCapiDataB3IndLength || start + dataLength > int64_t(itemSize)) {
        debugPrint(0x08000000, "! DATA_B3_IND data at %lld, %u bytes, outside its %u bytes, dropped", (long long)start,
                   dataLength, unsigned(itemSize));
        return;
    }
    auto* b = static_cast<CCapiMessageBuffer*>(app->freeB3_.removeNode());
    unsigned slot = 0;
    while (b && slot < kCapiMaxB3BlocksPerApp && app->b3InUse_[slot]) ++slot;
    if (!b || slot == kCapiMaxB3BlocksPerApp) {
        // Every block waits for the application's answer: this one is lost, and its next get on
        // an empty queue says so.
        if (b) app->freeB3_.insertNode(b);
        app->pendingError_ = kCapiErrQueueOverflow;
        debugPrint(0x08000000, "! DATA_B3_IND for application %u lost: no B3 block free", app->id_);
        return;
    }
    if (dataLength > app->params_.maxB3DataLength) dataLength = app->params_.maxB3DataLength;
    std::memcpy(b->bytes, m, kCapiDataB3IndLength);
    put16(b->bytes, kCapiDataB3IndLength);
    put16(b->bytes + 16, dataLength);
    // The block's address in this process, in this platform's form (Data64 on a 64-bit build).
    b->length = capib3::name(b->bytes, sizeof b->bytes, kCapiDataB3IndLength, capib3::addressOf(b->data),
                             capib3::kWideAddresses);
    std::memcpy(b->data, m + start, dataLength);
    b->dataLength = dataLength;
    b->ncci = capiGet32(m + 8);
    b->handle = capiGet16(m + 18);
    b->inUse = true;
    b->got = false;
    app->b3InUse_[slot] = b;
    queueForApplication(app, b);
}

// ---- the data-sent report ------------------------------------------------------------------------

void CCapiAppTable::dataSent(const uint8_t* message, size_t size) {
    EngineGuard g(*this);
    if (!message || size < 14) return;
    const uint16_t length = capiGet16(message);
    if (length < 14 || length > size) return;
    CCapiController* app = lookup(capiGet16(message + 2));
    if (!app || app->state_ == kAppFree || app->state_ == kAppReleased) return;
    const uint16_t command = commandWord(message);
    // Link control confirms data it could not send with the reason: it reaches the application.
    if (command == kDataB3Conf)
        confirmDataSent(app, capiGet32(message + 8), capiGet16(message + 12), capiGet16(message + 6),
                        length >= 16 ? capiGet16(message + 14) : 0);
    else if (command == kDataB3Req && length >= kCapiDataB3IndLength)
        confirmDataSent(app, capiGet32(message + 8), capiGet16(message + 18), capiGet16(message + 6), 0);
}

void CCapiAppTable::confirmDataSent(CCapiController* app, uint32_t value, uint16_t handle, uint16_t number,
                                    uint16_t info) {
    CCapiNcci* ncci = findNcci(app, value);
    bool known = false;
    if (ncci) {
        for (unsigned i = 0; i < ncci->outstandingCount; ++i) {
            if (ncci->outstanding[i].handle != handle) continue;
            number = ncci->outstanding[i].number;
            for (unsigned k = i + 1; k < ncci->outstandingCount; ++k) ncci->outstanding[k - 1] = ncci->outstanding[k];
            --ncci->outstandingCount;
            known = true;
            break;
        }
    }
    if (ncci && ncci->state != kNcciFree && ncci->state != kNcciDisconnected) {
        // One confirmation per request: a second report of the same handle finds nothing.
        if (known) dataB3Conf(app, number, value, handle, info);
    } else if (app->capi11_) {
        dataB3Conf(app, number, value, handle, kCapiErrNoB3Connection);
    }
}

// ---- the link ------------------------------------------------------------------------------------

void CCapiAppTable::linkDown(uint8_t port) {
    EngineGuard g(*this);
    if (port < 1 || port > kCapiPorts) return;
    linkUp_[port] = false;
    for (unsigned id = 1; id <= kCapiAppSlots; ++id) {
        CCapiController* app = apps_[id];
        if (!app) continue;
        CCapiController::PortRecord& record = app->ports_[port];
        if (record.state == kAppRegistered) {
            record.state = kAppFree;
            if (record.registration) freePlci(record.registration);
            const uint16_t b3Reason = app->capi11_ ? kCapiReasonLinkLostV11 : kCapiReasonLinkLost;
            for (CDoubleListNode* n = usedNccis_.head(); n;) {
                auto* ncci = static_cast<CCapiNcci*>(n);
                n = n->next();
                if (ncci->owner != app || ncci->state == kNcciDisconnected) continue;
                if ((ncci->value & kPendingNcciMark) == kPendingNcciMark) {
                    freeNcci(ncci);  // never confirmed: the call's DISCONNECT_IND covers it
                    n = usedNccis_.head();
                    continue;
                }
                ncci->state = kNcciDisconnected;
                ncci->windowCount = 0;
                while (auto* b = static_cast<CCapiMessageBuffer*>(ncci->held.removeNode())) giveBuffer(b);
                disconnectB3Ind(app, ncci->value, b3Reason);
            }
            for (CDoubleListNode* n = usedPlcis_.head(); n; n = n->next()) {
                auto* plci = static_cast<CCapiPlci*>(n);
                if (plci->owner != app || plci->kind != CCapiPlci::kCall || plci->state == kPlciDisconnected) continue;
                if (plci->state == kPlciConnectSent) {
                    // A call in set-up is confirmed and then ended, so the application can clear it.
                    plci->value = kCapiLostCallPlci;
                    connectConf(app, plci->requestNumber, kCapiLostCallPlci, 0);
                }
                disconnectInd(app, plci->value, kCapiReasonLinkLost);
                plci->state = kPlciDisconnected;
            }
        } else if (record.state == kAppRegistrationSent) {
            app->registrationResult_ = kCapiErrNotInstalled;
            record.event.set();
            CDoubleList keep;
            while (auto* b = static_cast<CCapiMessageBuffer*>(app->waiting_.removeNode())) {
                if (b->port != port) {
                    keep.appendNode(b);
                    continue;
                }
                const uint16_t command = commandWord(b->bytes);
                if (command == kConnectReq) {
                    if (CCapiPlci* plci = findPlci(app, capiGet32(b->bytes + 8)))
                        if (plci->state == kPlciConnectSent) freePlci(plci);
                    connectConf(app, capiGet16(b->bytes + 6), kCapiLinkDownPlci, 0);
                    disconnectInd(app, kCapiLinkDownPlci, kCapiReasonLinkLost);
                } else if (command == kListenReq) {
                    localConfirmation(app, b->bytes, kCapiErrStateWaitingForListen);
                } else if (isRequest(b->bytes)) {
                    localConfirmation(app, b->bytes, kCapiErrNotInstalled);
                }
                giveBuffer(b);
            }
            keep.copy(&app->waiting_);
        }
    }
    updatePacingTimer();
}

void CCapiAppTable::linkUp(uint8_t port) {
    EngineGuard g(*this);
    if (port < 1 || port > kCapiPorts) return;
    linkUp_[port] = true;
    for (unsigned id = 1; id <= kCapiAppSlots; ++id) {
        CCapiController* app = apps_[id];
        if (!app) continue;
        const uint16_t s = app->ports_[port].state;
        if (s != kAppFree && s != kAppReleased && s != kAppAbandoned && s != kAppRegistrationSent)
            flushWaiting(app, port);
    }
}

// ---- B3 pacing -----------------------------------------------------------------------------------

unsigned CCapiAppTable::windowSize() const {
    if (b3Options_ & kB3OptionWindow10) return 10;
    if (b3Options_ & kB3OptionWindow2) return 2;
    return 0;
}

bool CCapiAppTable::windowFull(const CCapiNcci* ncci) const { return ncci->windowCount >= windowSize(); }

void CCapiAppTable::paceStart(CCapiNcci* ncci, uint16_t dataLength) {
    // The time the data takes on a 64 kbit/s B channel.
    CCapiNcci::WindowEntry& e = ncci->window[ncci->windowCount++];
    e.time = now();
    e.delay = dataLength / 8u;
    updatePacingTimer();
}

void CCapiAppTable::updatePacingTimer() {
    bool busy = false;
    for (CDoubleListNode* n = usedNccis_.head(); n && !busy; n = n->next()) {
        auto* c = static_cast<CCapiNcci*>(n);
        busy = c->windowCount || c->held.getSize();
    }
    if (busy == pacingRunning_) return;
    pacingRunning_ = busy;
    if (!host_) return;
    if (busy)
        host_->startPacingTimer();
    else
        host_->stopPacingTimer();
}

void CCapiAppTable::pacingTick() {
    EngineGuard g(*this);
    const uint32_t t = now();
    for (CDoubleListNode* n = usedNccis_.head(); n;) {
        auto* ncci = static_cast<CCapiNcci*>(n);
        n = n->next();
        // Every entry that is due retires; the next one's time runs from the moment the one before
        // was due, not from this tick, so the 10 ms tick does not slow short blocks below the
        // channel's rate.
        while (ncci->windowCount && uint32_t(t - ncci->window[0].time) >= ncci->window[0].delay) {
            const uint32_t due = ncci->window[0].time + ncci->window[0].delay;
            for (unsigned i = 1; i < ncci->windowCount; ++i) ncci->window[i - 1] = ncci->window[i];
            --ncci->windowCount;
            if (ncci->windowCount && int32_t(due - ncci->window[0].time) > 0) ncci->window[0].time = due;
        }
        while (ncci->held.getSize() && !windowFull(ncci) && ncci->owner) {
            auto* b = static_cast<CCapiMessageBuffer*>(ncci->held.removeNode());
            CCapiController* app = ncci->owner;
            paceStart(ncci, b->payloadLength);
            CCapiNcci::Outstanding& o = ncci->outstanding[ncci->outstandingCount++];
            o.handle = capiGet16(b->bytes + 18);
            o.number = capiGet16(b->bytes + 6);
            queueOutbox(app, b->port, nullptr, 0, nullptr, 0, b);
        }
    }
    updatePacingTimer();
}
