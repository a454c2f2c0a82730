// CCapiPort: one registered CAPI 2.0 application, without the operating system. It owns the
// registration parameters, the message number counter, two pools of 20 buffers and the table of up
// to ten message handlers, and hands each incoming message to them (dispatchMessage). The system
// side (library binding, buffers, receive thread, the CAPI calls) is CCapiPortWin32.
//
// Handlers are offered a message in slot order; the first that takes it ends the walk. A message
// nobody takes is answered through the first handler where CAPI needs an answer (CONNECT_IND is
// rejected, DISCONNECT_IND answered) and dumped otherwise. The walk and unregisterHandler share the
// port's dispatch lock, so a handler leaves the table only between two dispatches; looking a
// handler up does not wait for a dispatch.
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
    int unregisterHandler(CCapiMessageHandlerBase* handler);
    int isValidHandler(CCapiMessageHandlerBase* handler);
    // Takes the handler out of the table and destroys it (shutDown, delete). Called from inside
    // a dispatch (an owner callback on the receive thread), the object lives on until that
    // dispatch has returned, since the handler's own code is still on the stack.
    void destroyHandler(CCapiMessageHandlerBase* handler);
    int handlerCount() const { return handlerCount_; }
    CCapiMessageHandlerBase* getHandler(int slot);

protected:
    uint16_t startApplication();
    // The lock that the handler walk and unregisterHandler share (recursive).
    void lockDispatch() { dispatchLock_.enter(); }
    void unlockDispatch() { dispatchLock_.leave(); }

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

    TMutex dispatchLock_;  // the handler table and the walk over it
    int dispatchDepth_ = 0;  // dispatches in progress on the thread that holds dispatchLock_
    std::vector<CCapiMessageHandlerBase*> doomed_;  // destroyed when the outermost dispatch ends
    TMutex poolLock_;      // pools, message numbers and the table's slots (short holds only)
};
