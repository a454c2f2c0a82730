// The flat C API: a port handle is a CCapiPortWin32 of the library's port list, a connection
// handle a CCapiMessageHandler registered on one of those ports. Every handle is checked against
// the list (by address) before it is used, so a stale or foreign one gives 6, never a crash, and
// the object found is pinned under the list's lock for the length of the call: a close or an
// isdnDone, on another thread or from inside this call's own events, cannot free it under the
// call (the lifetime rule of capi_port.h).
#include <windows.h>

#include <cstring>
#include <new>

#include "common/capitrace.h"
#include "common/tobject.h"
#include "msgcore/capi_port_win32.h"
#include "msgcore/isdn_api_internal.h"
#include "msgcore/message_handler.h"
#include "msgcore/msgcore.h"

namespace {

// The port list, searched under its own lock so that a port found there is pinned before an
// isdnDone on another thread can take it out.
class PortList : public CDoubleList {
public:
    // The port `handle` when it is in the list, pinned; else null.
    CCapiPortWin32* pinPort(void* handle) {
        if (!handle) return nullptr;
        disableAccess();
        CCapiPortWin32* found = nullptr;
        for (CDoubleListNode* n = head(); n; n = n->next())
            if (n == handle) {
                found = static_cast<CCapiPortWin32*>(n);
                found->pin();
                break;
            }
        enableAccess();
        return found;
    }
    // The port on which `handler` is registered, with the handler pinned there; else null.
    CCapiPortWin32* pinHandler(CCapiMessageHandlerBase* handler) {
        if (!handler) return nullptr;
        disableAccess();
        CCapiPortWin32* found = nullptr;
        for (CDoubleListNode* n = head(); n; n = n->next()) {
            CCapiPortWin32* port = static_cast<CCapiPortWin32*>(n);
            if (port->pinHandler(handler)) {
                found = port;
                break;
            }
        }
        enableAccess();
        return found;
    }
};

PortList& ports() {
    static PortList list;
    return list;
}

// Built with the library for applications that reach it through the exported class; nothing in
// the library traces with it.
CCapiMessageTrace g_trace;

uint8_t g_profile[64];  // controller 1's CAPI profile, fetched at each successful isdnInit

// A port handle found in the list, pinned for the length of the call.
class Port {
public:
    explicit Port(void* handle) : p_(ports().pinPort(handle)) {}
    ~Port() {
        if (p_) p_->unpin();
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    explicit operator bool() const { return p_ != nullptr; }
    CCapiPortWin32* operator->() const { return p_; }
    CCapiPortWin32* get() const { return p_; }

private:
    CCapiPortWin32* p_;
};

// A connection of the C API: the library's handler, which also tells isdnClose when its call has
// ended. The event lives as long as the handler, so a report that races with the end of a close
// never finds it gone.
class CApiConnection : public CCapiMessageHandler {
public:
    CApiConnection() { ended_ = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~CApiConnection() override {
        if (ended_) CloseHandle(ended_);
    }
    HANDLE ended() const { return ended_; }
    void postFailedCall(uint16_t reason, uint16_t reasonB3) override {
        if (ended_) SetEvent(ended_);
        CCapiMessageHandler::postFailedCall(reason, reasonB3);
    }
    void postDisconnect(uint16_t reason, uint16_t reasonB3) override {
        if (ended_) SetEvent(ended_);
        CCapiMessageHandler::postDisconnect(reason, reasonB3);
    }
    void postHangup() override {
        if (ended_) SetEvent(ended_);
        CCapiMessageHandler::postHangup();
    }

private:
    HANDLE ended_ = nullptr;
};

// A connection handle found on one of the ports, pinned there for the length of the call: a close
// on another thread cannot delete the handler while this request (and its trace event) runs.
class Connection {
public:
    explicit Connection(void* handle) {
        port_ = ports().pinHandler(static_cast<CCapiMessageHandlerBase*>(handle));
        if (port_) h_ = static_cast<CApiConnection*>(handle);
    }
    ~Connection() {
        if (port_) port_->unpin();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    explicit operator bool() const { return h_ != nullptr; }
    CApiConnection* operator->() const { return h_; }
    CApiConnection* get() const { return h_; }
    CCapiPortWin32* port() const { return port_; }

private:
    CCapiPortWin32* port_ = nullptr;
    CApiConnection* h_ = nullptr;
};

void preset(CCapiMessageHandler* h, uint16_t b1, uint16_t b2, uint16_t b3, uint16_t cip, uint32_t cipMask,
            uint32_t infoMask) {
    h->setB1Protocol(b1);
    h->setB2Protocol(b2);
    h->setB3Protocol(b3);
    h->setProfile(cip);
    h->setServiceMask(cipMask);
    h->setInfoMask(infoMask);
}

uint32_t globalOptions() { return uint32_t(g_profile[4]) | (uint32_t(g_profile[5]) << 8) |
                                  (uint32_t(g_profile[6]) << 16) | (uint32_t(g_profile[7]) << 24); }

}  // namespace

DWORD msgcoreMapInitResult(DWORD code) {
    switch (code) {
    case 0: return 0;
    case 0x1001: return 4;
    case 0x1109: return 119;
    case 0xA000: return 8;
    case 0xA003: return 1157;
    case 0xA004: return 127;
    default: return 5;
    }
}

extern "C" {

DWORD WINAPI isdnInit(ISDN_PORT* port, DWORD maxConnections, DWORD b3BlockSize) {
    if (!port) return ISDN_INVALID_HANDLE;
    *port = nullptr;
    CCapiPortWin32* p = new (std::nothrow) CCapiPortWin32;
    if (!p) return ISDN_NO_MEMORY;
    uint16_t rc = p->init(uint16_t(4 * maxConnections), uint16_t(maxConnections), 8, uint16_t(b3BlockSize), 0, 0,
                          reinterpret_cast<uintptr_t>("CAPI2032.DLL"), 0);
    if (rc) {
        delete p;
        return msgcoreMapInitResult(rc);
    }
    ports().appendNodeInterlocked(p);
    uint8_t profile[64] = {};
    profile[0] = 1;  // controller 1
    if (p->getProfile(profile, 1) == 0) memcpy(g_profile, profile, sizeof g_profile);
    *port = p;
    return 0;
}

DWORD WINAPI isdnDone(ISDN_PORT port) {
    // Pinned by this call too: it is deleted, at the earliest, when we return.
    Port p(port);
    // Taking it out of the list is the claim: of two isdnDone calls only one gets here, and no
    // call starting after this finds the port. Calls already inside it keep it pinned.
    if (!p || !ports().removeNodeInterlocked(p.get())) return ISDN_INVALID_HANDLE;
    // The owners first, all of them: no event of this port reaches an owner after we return.
    for (int i = 0; i < CCapiPort::kHandlers; ++i)
        if (CCapiMessageHandlerBase* h = p->getHandler(i))
            static_cast<CCapiMessageHandler*>(h)->registerOwnerInstance(nullptr, nullptr);
    // Then the connections, each with its buffer: a dispatch or a request still running in one of
    // them finds nothing to send with, and is not freed under its feet.
    for (int i = 0; i < CCapiPort::kHandlers; ++i)
        if (CCapiMessageHandlerBase* h = p->getHandler(i)) p->destroyHandler(h);
    // Releases the application (which wakes the receive thread), joins it and frees the buffers;
    // from one of its own callbacks, or when the join gives up, the thread is left to end.
    p->shutDown();
    // Deleted now, or when the last call inside it and its receive thread have ended.
    p->destroyWhenUnused();
    return 0;
}

DWORD WINAPI isdnOpen(ISDN_PORT port, DWORD controller, TOwnerProc ownerProc, void* ownerInstance,
                      ISDN_CONNECTION* connection) {
    if (connection) *connection = nullptr;
    Port p(port);
    if (!p) return ISDN_INVALID_HANDLE;
    if (!connection) return ISDN_INVALID_HANDLE;
    // A handler the port's table cannot take would never be reachable again.
    if (p->handlerCount() >= CCapiPort::kHandlers) return ISDN_NO_MEMORY;
    CApiConnection* h = new (std::nothrow) CApiConnection;
    if (!h) return ISDN_NO_MEMORY;
    h->registerOwnerInstance(ownerInstance, ownerProc);
    uint16_t rc = h->init(p.get(), controller, p->getB3BufferSize());
    if (rc) {
        h->shutDown();
        delete h;
        return rc;
    }
    // An isdnDone on another thread that took the port out of the list meanwhile may have gone
    // through its connections before this one joined them: it is taken away here (once, by
    // whichever of the two gets it out of the table).
    if (!Port(port)) {
        p->destroyHandler(h);
        return ISDN_INVALID_HANDLE;
    }
    *connection = h;
    return 0;
}

DWORD WINAPI isdnClose(ISDN_CONNECTION connection) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    CCapiPortWin32* port = h.port();
    // The owner hears nothing more: what arrives until the handler is gone is answered without it
    // (data acknowledged at once). A close that cannot clear the call gives it back.
    void* owner = h->getOwnerInstance();
    TOwnerProc ownerProc = h->getOwnerProc();
    h->registerOwnerInstance(nullptr, nullptr);
    // The end of the call comes on the receive thread, and a request of this connection that we
    // are inside (its trace) goes out only when we return: from there we cannot wait for it, so
    // the clearing goes out whole at once and the port answers what follows.
    const bool canWait = !port->onReceiveThread() && !h->insideOwnEvent() && h->ended();
    if (h->ended()) ResetEvent(h->ended());
    bool reported = false;
    uint16_t rc = h->clearForClose(canWait, &reported);
    if (rc == 0 && reported && canWait &&
        !CCapiPortWin32::waitServingSentMessages(h->ended(), msgcoreCloseWaitMs())) {
        // The clearing of B3 was not answered in time: the D channel goes now, or it stays up.
        rc = h->clearForClose(false, &reported);
    }
    if (rc) {
        h->registerOwnerInstance(owner, ownerProc);
        return rc;
    }
    // Deleted when this call (and any dispatch inside it) has let go of it. A close that another
    // caller (another thread, or a window procedure served during our wait) finished first finds
    // it gone: the connection is closed as asked, and destroyed once, by that caller.
    port->destroyHandler(h.get());
    return 0;
}

DWORD WINAPI isdnConnect(ISDN_CONNECTION connection, const char* number, const char* subaddress,
                         const ISDN_X25_PARAMS* x25) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    if (!x25) return h->call(number, subaddress, 1);
    return h->call(number, x25->called, x25->calling, x25->facilitiesLength, x25->facilities, x25->userDataLength,
                   x25->userData);
}

DWORD WINAPI isdnListen(ISDN_CONNECTION connection, DWORD) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    return h->listen(1);
}

DWORD WINAPI isdnAcceptCall(ISDN_CONNECTION connection, DWORD reject) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    return h->acceptIncomingCall(uint16_t(reject));
}

DWORD WINAPI isdnSend(ISDN_CONNECTION connection, const void* data, DWORD length, DWORD flags) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    // A block longer than the registered B3 block size would go out cut to 16 bits.
    if (length > h->getPort()->getB3BufferSize()) return mcDataLength;
    return h->transmit(data, uint16_t(length), uint16_t(flags));
}

DWORD WINAPI isdnDataResponse(ISDN_CONNECTION connection) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    return h->dataResponse();
}

DWORD WINAPI isdnDisconnect(ISDN_CONNECTION connection, DWORD) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    return h->hangup(1);
}

DWORD WINAPI isdnCallControl(ISDN_CONNECTION connection, DWORD, DWORD, DWORD) {
    Connection h(connection);
    if (!h) return ISDN_INVALID_HANDLE;
    return ISDN_NOT_SUPPORTED;
}

DWORD WINAPI isdnSetProperty(void* handle, DWORD id, DWORD_PTR value, DWORD) {
    if (id == ipB3BlockSize) {
        Port p(handle);
        if (!p) return ISDN_INVALID_HANDLE;
        return p->reinit(uint16_t(value));
    }
    Connection h(handle);
    if (!h) return ISDN_INVALID_HANDLE;
    const char* text = reinterpret_cast<const char*>(uintptr_t(value));
    switch (id) {
    case ipB1Protocol: h->setB1Protocol(uint16_t(value)); return 0;
    case ipB2Protocol: h->setB2Protocol(uint16_t(value)); return 0;
    case ipB3Protocol: h->setB3Protocol(uint16_t(value)); return 0;
    case ipInfoMask: h->setInfoMask(DWORD(value)); return 0;
    case ipProfile: h->setProfile(uint16_t(value)); return 0;
    case ipMsnIn: h->setMsnIn(text); return 0;
    case ipMsnOut: h->setMsnOut(text); return 0;
    case ipServiceMask: h->setServiceMask(DWORD(value)); return 0;
    case ipController: h->setController(DWORD(value)); return 0;
    case ipTEI: h->setTEI(uint16_t(value)); return 0;
    case ipLLC: h->setLLC(reinterpret_cast<const uint8_t*>(text)); return 0;
    case ipBaudRate: return value > 0xFFFF ? DWORD(mcParameter) : h->setBaudRate(uint16_t(value));
    case ipParity: return h->setParity(value > 0xFFFF ? 0xFFFF : uint16_t(value));
    case ipBitsPerCharacter: return h->setBitsPerCharacter(value > 0xFFFF ? 0xFFFF : uint16_t(value));
    case ipStopBits: return h->setStopBits(value > 0xFFFF ? 0xFFFF : uint16_t(value));
    case ipPresetSpeech: preset(h.get(), 1, 1, 0, 4, 0x10012, 0x35E); return 0;
    case ipPresetHdlc: preset(h.get(), 0, 0, 0, 2, 4, 0x40); return 0;
    case ipPresetX75: preset(h.get(), 0, 1, 0, 2, 4, 0x40); return 0;
    case ipPresetX25: preset(h.get(), 0, 0, 2, 2, 4, 0x40); return 0;
    case ipPresetV120: preset(h.get(), 0, 9, 0, 2, 4, 0x40); return 0;
    case ipPresetX31: preset(h.get(), 0, 3, 2, 2, 4, 0x40); return 0;
    case ipPresetTransparent: preset(h.get(), 1, 1, 0, 2, 4, 0x40); return 0;
    default: return ISDN_BAD_PROPERTY;
    }
}

DWORD WINAPI isdnGetProperty(void* handle, DWORD id, void* result, DWORD) {
    DWORD* number = static_cast<DWORD*>(result);
    char* text = static_cast<char*>(result);
    switch (id) {
    case ipCapiProfile: case ipManufacturer: case ipVersion: {
        Port p(handle);
        if (!p) return ISDN_INVALID_HANDLE;
        if (!result) return ISDN_INVALID_HANDLE;
        if (id == ipCapiProfile) p->getProfile(result, *number);
        else if (id == ipManufacturer) p->getManufacturer(text);
        else p->getVersion(text);
        return 0;
    }
    case ipExternalEquipment: if (result) *number = globalOptions() & 2; return 0;
    case ipHandset: if (result) *number = globalOptions() & 4; return 0;
    case ipDTMF: if (result) *number = globalOptions() & 8; return 0;
    case ipSupplementaryServices:
        if (result && Port(handle)) *number = globalOptions() & 0x10;
        return 0;
    default: break;
    }
    if (id > 18) return ISDN_BAD_PROPERTY;
    Connection h(handle);
    if (!h) return ISDN_INVALID_HANDLE;
    if (!result) return ISDN_INVALID_HANDLE;
    switch (id) {
    case ipB1Protocol: *number = h->getB1Protocol(); return 0;
    case ipB2Protocol: *number = h->getB2Protocol(); return 0;
    case ipB3Protocol: *number = h->getB3Protocol(); return 0;
    case ipInfoMask: *number = h->getInfoMask(); return 0;
    case ipProfile: *number = h->getProfile(); return 0;
    case ipMsnIn: strcpy(text, h->getMsnIn()); return 0;
    case ipMsnOut: h->getMsnOut(text); return 0;
    case ipServiceMask: *number = h->getServiceMask(); return 0;
    case ipController: *number = h->getController(); return 0;
    case ipTEI: *number = h->getTEI(); return 0;
    case ipLLC: h->getLLC(static_cast<uint8_t*>(result)); return 0;
    case ipIncomingCIP: *number = h->getCIP(); return 0;
    default: return ISDN_BAD_PROPERTY;
    }
}

void WINAPI isdnTraceMessage(DWORD) {}

}  // extern "C"
