// CCapiPort: one registered CAPI 2.0 application, without the operating system. It owns the
// registration parameters, the message number counter, two pools of 20 buffers and the table of up
// to ten message handlers, and hands each incoming message to them (dispatchMessage). The system
// side (library binding, buffers, receive thread, the CAPI calls) is CCapiPortWin32.
//
// Handlers are offered a message in slot order; the first that takes it ends the walk. A message
// nobody takes is answered through the first handler where CAPI needs an answer (CONNECT_IND is
// rejected, DISCONNECT_IND answered); with no handler left, and for the indications of a call
// whose connection was closed (B3 clearing, data, the connection coming up), the port answers
// itself, and a successful CONNECT_CONF nobody asked for is cleared. Anything else is dumped.
//
// No port-wide lock is held while a handler (and so an owner callback) runs: an owner that waits
// for another thread which closes a connection never deadlocks. A handler that leaves the table
// while a dispatch or a pinned request may still be inside it is destroyed when the last of them
// has ended (destroyHandler).
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
    // Like isValidHandler, and on success keeps the handler alive until unpin(): a request made
    // through a handle cannot have the object deleted under it by a close on another thread.
    int pinHandler(CCapiMessageHandlerBase* handler);
    void unpin();
    // Takes the handler out of the table and destroys it (shutDown, delete). While a dispatch or
    // a pinned request is in progress (an owner callback, a request on another thread) the object
    // lives on until the last of them has ended, since its code may still be on a stack.
    void destroyHandler(CCapiMessageHandlerBase* handler);
    int handlerCount() const { return handlerCount_; }
    CCapiMessageHandlerBase* getHandler(int slot);

protected:
    uint16_t startApplication();
    // The answer a message nobody took needs, built by the port itself; non-zero when one went out.
    int answerUnclaimed(const tagAPIMsg* message);

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

    int users_ = 0;  // dispatches and pinned requests in progress, on any thread
    std::vector<CCapiMessageHandlerBase*> doomed_;  // destroyed when users_ comes back to 0
    TMutex poolLock_;      // pools, message numbers, the table, users_ and doomed_ (short holds only)
};
