// CCapiPort: one registered CAPI 2.0 application, without the operating system. It owns the
// registration parameters, the message number counter, two pools of 20 buffers and the table of up
// to ten message handlers, and hands each incoming message to them (dispatchMessage). The system
// side (library binding, buffers, receive thread, the CAPI calls) is CCapiPortWin32.
//
// Handlers are offered a message in slot order; the first that takes it ends the walk. A message
// nobody takes is answered by the port itself wherever CAPI needs an answer (a call is ignored, a
// B3 connection rejected, every other indication acknowledged), and a successful CONNECT_CONF
// nobody asked for is cleared. Anything else is dumped.
//
// No port-wide lock is held while a handler (and so an owner callback) runs: an owner that waits
// for another thread which closes a connection never deadlocks. What replaces that lock is one
// lifetime rule, for handlers and ports alike:
//   - A handler is destroyed exactly once, by the one caller whose unregister succeeded
//     (destroyHandler), and only when its last pin is released: every dispatch and every pinned
//     request (pinHandler) holds the port's use count, and handlers destroyed meanwhile wait for it
//     to come back to 0.
//   - A port likewise: its owner lets go of it once (destroyWhenUnused, after its shutDown), and it
//     is deleted when the last pin (pin, pinHandler, a dispatch) and the receive thread that holds it
//     have ended, whichever comes last.
//   - Closing a connection or a port first detaches the owner of each connection it takes away, so
//     no owner event is raised after the close has returned; a close that cannot clear the call
//     (the library refuses) leaves the connection as it was and says so.
//   - An indication that no handler claims is always answered by the port itself, never through a
//     handler that may be closing on another thread.
#pragma once

#include <cstdint>
#include <vector>

#include "common/tobject.h"
#include "msgcore/isdn_types.h"

struct tagAPIMsg;
class CCapiMessageHandlerBase;

class MSGCORE_API CCapiPort : public CDoubleListNode {
public:
    static constexpr int kHandlers = 10;
    static constexpr int kPoolSize = 20;
    static constexpr uint16_t kMessageBufferSize = 1024;

    CCapiPort();
    CCapiPort(const CCapiPort& other);
    CCapiPort& operator=(const CCapiPort& other);
    ~CCapiPort() override;

    void shutDown() override;
    // create(createArg1, createArg2), then the parameters are kept and the application registered.
    virtual uint16_t init(uint16_t units, uint16_t maxLogicalConnection, uint16_t maxBDataBlocks,
                          uint16_t maxBDataLen, uint32_t signalArg1, uint32_t signalArg2,
                          uintptr_t createArg1, uintptr_t createArg2);
    // Registers again with a new B3 block size.
    virtual uint16_t reinit(uint16_t newB3BlockSize);
    virtual uint16_t putMessage(tagAPIMsg* message) = 0;
    virtual uint16_t getManufacturer(char* buffer) = 0;
    virtual uint16_t getVersion(char* buffer) = 0;
    virtual tagAPIMsg* getMessage() = 0;
    virtual uint16_t getProfile(void* buffer, uint32_t controller);
    virtual uint16_t installSignalHandler(uint32_t a, uint32_t b) = 0;
    virtual void* allocMessageBuffer();
    virtual void* allocB3DataBuffer();
    virtual void* allocApplicationBuffer(uint16_t size);
    virtual void freeMessageBuffer(void* buffer);
    virtual void freeB3Buffer(void* buffer);
    virtual void freeApplicationBuffer();
    virtual int signalEvent();
    virtual int dispatchMessage(tagAPIMsg* message);
    virtual uint16_t create(uintptr_t arg1, uintptr_t arg2) = 0;
    virtual uint16_t registerApplication(void* buffer, uint16_t units, uint16_t maxLogicalConnection,
                                         uint16_t maxBDataBlocks, uint16_t maxBDataLen) = 0;
    virtual uint16_t releaseApplication() = 0;
    virtual void* allocBuffer(uint32_t size) = 0;
    virtual void freeBuffer(void* buffer, uint32_t size) = 0;
    virtual void stopSignalHandling();

    uint32_t getApplicationID() const { return applicationId_; }
    uint16_t getB3BufferSize() const { return maxBDataLen_; }
    // 1, 2, ... 0x7FFF, 0, 1, ...
    uint16_t getNextMessageNumber();
    int registerHandler(CCapiMessageHandlerBase* handler);
    // Takes the handler out of the table; a dispatch already inside it may still be running.
    int unregisterHandler(CCapiMessageHandlerBase* handler);
    int isValidHandler(CCapiMessageHandlerBase* handler);
    // Like isValidHandler, and on success keeps the handler (and the port) alive until unpin(): a
    // request made through a handle cannot have the object deleted under it by a close on another
    // thread, or by a close from inside its own events.
    int pinHandler(CCapiMessageHandlerBase* handler);
    // Keeps the port (and every handler destroyed meanwhile) alive until unpin().
    void pin();
    void unpin();
    // Takes the handler out of the table and destroys it (shutDown, delete). Only the caller whose
    // unregister succeeded does so (true); a second close of the same handler gets false and
    // touches nothing. While a dispatch or a pinned request is in progress (an owner callback, a
    // request on another thread) the object lives on until the last of them has ended, since its
    // code may still be on a stack.
    bool destroyHandler(CCapiMessageHandlerBase* handler);
    // The owner of a port created with new lets go of it (after its shutDown): it is deleted now,
    // or by whoever ends the last pin or hold on it. Called once per port.
    void destroyWhenUnused();
    int handlerCount() const { return handlerCount_; }
    CCapiMessageHandlerBase* getHandler(int slot);

protected:
    uint16_t startApplication();
    // The answer a message nobody took needs, built by the port itself; non-zero when one went out.
    int answerUnclaimed(const tagAPIMsg* message);
    // A thread of the port's own (the receive thread) holds it for its whole life: the port is not
    // deleted under it. releaseHold may delete the port: the caller touches nothing of it after.
    void hold();
    void releaseHold();

    uint32_t applicationId_ = 0;
    CCapiMessageHandlerBase* handlers_[kHandlers] = {};
    void* applicationBuffer_ = nullptr;
    uint16_t applicationBufferSize_ = 0;
    void* messagePool_[kPoolSize] = {};
    void* b3Pool_[kPoolSize] = {};
    uint16_t maxBDataLen_ = 0;
    uint16_t maxLogicalConnection_ = 0;
    uint16_t maxBDataBlocks_ = 0;
    uint16_t units_ = 0;
    uint32_t signalArg1_ = 0;
    uint32_t signalArg2_ = 0;
    uint16_t messageNumber_ = 0;
    uint16_t handlerCount_ = 0;
    uint16_t messageBufferSize_ = kMessageBufferSize;

private:
    void* allocFrom(void** pool, uint32_t size);
    void freeFrom(void** pool, void* buffer, uint32_t size);
    void enterUse();
    void leaveUse();
    // Under poolLock_: true once, for the caller that found the port let go of and unused.
    bool claimDeletion();

    int users_ = 0;  // dispatches and pinned requests in progress, on any thread
    int holds_ = 0;  // threads of the port's own that are still running
    bool orphaned_ = false;  // its owner has let go (destroyWhenUnused)
    bool deleting_ = false;  // the one deletion is under way
    std::vector<CCapiMessageHandlerBase*> doomed_;  // destroyed when users_ comes back to 0
    TMutex poolLock_;      // pools, message numbers, the table and the counts above (short holds only)
};
