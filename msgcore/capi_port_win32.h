// CCapiPortWin32: a CCapiPort on the system's CAPI 2.0 library, bound by file name at run time
// (its nine entry points by name), with global-memory buffers and one receive thread that waits in
// CAPI_WAIT_FOR_SIGNAL and dispatches one message per signal to the port's handlers.
//
// The thread's events exist before it starts; it ends when the application is released (the wait
// wakes, or fails) and the port sets its stop event, and is joined, never terminated. The join
// serves messages sent to the joining thread, so an owner that forwards its events with
// SendMessage does not stall it. The buffers and the library are freed only after the join: never
// under a live thread. The thread holds the port (CCapiPort::hold): a port shut down from inside an
// owner callback, on its own receive thread, does not wait for itself, and one whose thread does
// not end in time is not freed; either way the port is deleted when its owner has let go of it
// (destroyWhenUnused) and the thread has ended.
#pragma once

#include <windows.h>

#include "msgcore/capi_port.h"

class MSGCORE_API CCapiPortWin32 : public CCapiPort {
public:
    typedef DWORD(WINAPI* CapiRelease)(DWORD);
    typedef DWORD(WINAPI* CapiRegister)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    typedef DWORD(WINAPI* CapiGetVersion)(DWORD*, DWORD*, DWORD*, DWORD*);
    typedef DWORD(WINAPI* CapiGetManufacturer)(char*);
    typedef DWORD(WINAPI* CapiWaitForSignal)(DWORD);
    typedef DWORD(WINAPI* CapiGetMessage)(DWORD, void**);
    typedef DWORD(WINAPI* CapiPutMessage)(DWORD, void*);
    typedef DWORD(WINAPI* CapiInstalled)(void);
    typedef DWORD(WINAPI* CapiGetProfile)(void*, DWORD);

    // How long a shut-down waits for the receive thread before it leaves the port to it.
    static constexpr DWORD kJoinTimeoutMs = 10000;

    // Waits up to `limitMs` for `object`, serving the messages other threads send to this one
    // meanwhile. True when the object was signalled.
    static bool waitServingSentMessages(HANDLE object, DWORD limitMs);

    CCapiPortWin32();
    CCapiPortWin32(const CCapiPortWin32& other);
    CCapiPortWin32& operator=(const CCapiPortWin32& other);
    ~CCapiPortWin32() override;

    void shutDown() override;
    uint16_t putMessage(tagAPIMsg* message) override;
    uint16_t getManufacturer(char* buffer) override;
    uint16_t getVersion(char* buffer) override;
    tagAPIMsg* getMessage() override;
    uint16_t getProfile(void* buffer, uint32_t controller) override;
    uint16_t installSignalHandler(uint32_t a, uint32_t b) override;
    uint16_t create(uintptr_t libraryName, uintptr_t ignored) override;
    uint16_t registerApplication(void* buffer, uint16_t units, uint16_t maxLogicalConnection,
                                 uint16_t maxBDataBlocks, uint16_t maxBDataLen) override;
    uint16_t releaseApplication() override;
    void* allocBuffer(uint32_t size) override;
    void freeBuffer(void* buffer, uint32_t size) override;
    void stopSignalHandling() override;
    virtual DWORD getMessageThread();

    // True on the port's own receive thread (inside a dispatch or an owner callback).
    bool onReceiveThread() const { return thread_ && GetCurrentThreadId() == threadId_; }
    // True while the receive thread exists (not joined yet).
    bool threadRunning() const { return thread_ != nullptr; }
    LONG waiters() const { return waiters_; }
    // The join's limit (kJoinTimeoutMs unless set).
    void setJoinTimeout(DWORD ms) { joinTimeoutMs_ = ms; }

private:
    uint16_t initializeCapiDLL(const char* name);
    uint16_t startReceiveTask();
    static DWORD WINAPI threadEntry(void* self);
    void closeEvents();

    CapiRelease release_ = nullptr;
    CapiRegister register_ = nullptr;
    CapiGetVersion getVersion_ = nullptr;
    CapiGetManufacturer getManufacturer_ = nullptr;
    CapiWaitForSignal waitForSignal_ = nullptr;
    CapiGetMessage getMessage_ = nullptr;
    CapiPutMessage putMessage_ = nullptr;
    CapiInstalled installed_ = nullptr;
    CapiGetProfile getProfile_ = nullptr;
    HMODULE library_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE doneEvent_ = nullptr;
    HANDLE stopEvent_ = nullptr;
    volatile LONG waiters_ = 0;
    DWORD joinTimeoutMs_ = kJoinTimeoutMs;
};
