#include "msgcore/capi_port_win32.h"

#include <cstdio>

#include "common/debug.h"
#include "msgcore/capi_bytes.h"
#include "msgcore/message_handler.h"

namespace {
const uint16_t kIllegalApplication = 0x1101;  // CAPI: illegal application number
}

CCapiPortWin32::CCapiPortWin32() { name_ = "CCapiPortWin32"; }

// A copy shares the bound entry points and the library (loaded once more, so each frees its own)
// but never the receive thread or its events: those belong to the port that started them.
CCapiPortWin32::CCapiPortWin32(const CCapiPortWin32& other) : CCapiPort(other) { *this = other; }

CCapiPortWin32& CCapiPortWin32::operator=(const CCapiPortWin32& other) {
    if (this == &other) return *this;
    CCapiPort::operator=(other);
    release_ = other.release_;
    register_ = other.register_;
    getVersion_ = other.getVersion_;
    getManufacturer_ = other.getManufacturer_;
    waitForSignal_ = other.waitForSignal_;
    getMessage_ = other.getMessage_;
    putMessage_ = other.putMessage_;
    installed_ = other.installed_;
    getProfile_ = other.getProfile_;
    if (other.library_) {
        char path[MAX_PATH];
        if (GetModuleFileNameA(other.library_, path, sizeof path)) library_ = LoadLibraryA(path);
    }
    return *this;
}

CCapiPortWin32::~CCapiPortWin32() {
    // Deleted on the receive thread itself: that is the thread's last act (it holds the port until
    // it has left its loop), so there is nothing left to join.
    if (thread_ && onReceiveThread()) {
        CloseHandle(thread_);
        thread_ = nullptr;
        threadId_ = 0;
    }
    if (library_ || applicationId_) shutDown();
    closeEvents();
}

bool CCapiPortWin32::waitServingSentMessages(HANDLE object, DWORD limitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= limitMs) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
        DWORD r = MsgWaitForMultipleObjects(1, &object, FALSE, limitMs - spent, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;  // timed out or failed
        MSG m;
        PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // delivers the sent messages only
    }
}

void CCapiPortWin32::closeEvents() {
    if (doneEvent_) CloseHandle(doneEvent_);
    if (stopEvent_) CloseHandle(stopEvent_);
    doneEvent_ = stopEvent_ = nullptr;
}

namespace {
template <typename F>
F bind(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace

uint16_t CCapiPortWin32::initializeCapiDLL(const char* name) {
    UINT old = SetErrorMode(0x8000);
    library_ = LoadLibraryA(name);
    SetErrorMode(old);
    if (!library_) return mcNoLibrary;
    getProfile_ = bind<CapiGetProfile>(library_, "CAPI_GET_PROFILE");
    getVersion_ = bind<CapiGetVersion>(library_, "CAPI_GET_VERSION");
    getManufacturer_ = bind<CapiGetManufacturer>(library_, "CAPI_GET_MANUFACTURER");
    waitForSignal_ = bind<CapiWaitForSignal>(library_, "CAPI_WAIT_FOR_SIGNAL");
    getMessage_ = bind<CapiGetMessage>(library_, "CAPI_GET_MESSAGE");
    putMessage_ = bind<CapiPutMessage>(library_, "CAPI_PUT_MESSAGE");
    release_ = bind<CapiRelease>(library_, "CAPI_RELEASE");
    register_ = bind<CapiRegister>(library_, "CAPI_REGISTER");
    installed_ = bind<CapiInstalled>(library_, "CAPI_INSTALLED");
    if (!getProfile_ || !getVersion_ || !getManufacturer_ || !waitForSignal_ || !getMessage_ || !putMessage_ ||
        !release_ || !register_ || !installed_)
        return mcNoEntryPoint;
    return mcOk;
}

uint16_t CCapiPortWin32::create(uintptr_t libraryName, uintptr_t) {
    if (library_) return mcOk;  // bound already (a port initialised a second time)
    return initializeCapiDLL(reinterpret_cast<const char*>(libraryName));
}

uint16_t CCapiPortWin32::registerApplication(void*, uint16_t units, uint16_t maxLogicalConnection,
                                             uint16_t maxBDataBlocks, uint16_t maxBDataLen) {
    if (!register_) return mcNoEntryPoint;
    DWORD id = 0;
    DWORD rc = register_(DWORD(units) * 1024, maxLogicalConnection, maxBDataBlocks, maxBDataLen, &id);
    if (rc == 0) applicationId_ = id;
    return uint16_t(rc);
}

uint16_t CCapiPortWin32::releaseApplication() {
    if (!release_) return mcOk;
    DWORD id = applicationId_;
    applicationId_ = 0;  // the receive thread sees it before its wait wakes
    if (!id) return mcOk;
    return uint16_t(release_(id));
}

uint16_t CCapiPortWin32::installSignalHandler(uint32_t, uint32_t) {
    if (thread_) return mcOk;
    if (!applicationId_) return mcOk;  // shutting down: nothing to receive
    return startReceiveTask();
}

uint16_t CCapiPortWin32::startReceiveTask() {
    // Both events exist before the thread can look at them.
    closeEvents();
    doneEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stopEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!doneEvent_ || !stopEvent_) {
        uint16_t err = uint16_t(GetLastError());
        closeEvents();
        return err ? err : uint16_t(mcNoBuffer);
    }
    hold();  // given back by the thread when it ends
    thread_ = CreateThread(nullptr, 0, threadEntry, this, 0, &threadId_);
    if (!thread_) {
        uint16_t err = uint16_t(GetLastError());
        releaseHold();
        return err;
    }
    return mcOk;
}

DWORD WINAPI CCapiPortWin32::threadEntry(void* self) {
    CCapiPortWin32* port = static_cast<CCapiPortWin32*>(self);
    DWORD rc = port->getMessageThread();
    // Deletes the port when its owner has let go of it already (shut down from one of our own
    // callbacks, or not joined in time); nothing of it is touched after.
    port->releaseHold();
    return rc;
}

DWORD CCapiPortWin32::getMessageThread() {
    for (;;) {
        DWORD id = applicationId_;
        if (!id) break;
        InterlockedIncrement(&waiters_);
        DWORD rc = waitForSignal_(id);
        InterlockedDecrement(&waiters_);
        if (!applicationId_) break;
        if (rc != 0) {
            // A library that cannot wait cannot deliver either: asking again would only spin.
            debugPrint(0x08000000, "CAPI_WAIT_FOR_SIGNAL failed (0x%04lX); receiving stopped",
                       static_cast<unsigned long>(rc));
            break;
        }
        if (tagAPIMsg* m = getMessage()) dispatchMessage(m);
    }
    WaitForSingleObject(stopEvent_, INFINITE);
    SetEvent(doneEvent_);
    return 0;
}

void CCapiPortWin32::stopSignalHandling() {
    if (!thread_) return;
    SetEvent(stopEvent_);
    // Called from a callback on the thread itself: it leaves its loop when the callback returns,
    // since the application is released; waiting here would wait for ourselves.
    if (onReceiveThread()) return;
    // An owner callback of this thread may be forwarding an event to us with SendMessage.
    if (!waitServingSentMessages(thread_, joinTimeoutMs_)) {
        debugPrint(0x08000000, "receive thread %lu did not end; the port stays until it does",
                   static_cast<unsigned long>(threadId_));
        return;
    }
    CloseHandle(thread_);
    thread_ = nullptr;
    threadId_ = 0;
}

void CCapiPortWin32::shutDown() {
    // The release first: it wakes the receive thread out of its wait, so the join below is short.
    if (applicationId_) releaseApplication();
    stopSignalHandling();
    // Still running (our own thread, or one that did not end in time): the buffers and the
    // library stay for it, and are freed when it has ended.
    if (thread_) return;
    CCapiPort::shutDown();
    if (library_) FreeLibrary(library_);
    library_ = nullptr;
    release_ = nullptr;
    register_ = nullptr;
    getVersion_ = nullptr;
    getManufacturer_ = nullptr;
    waitForSignal_ = nullptr;
    getMessage_ = nullptr;
    putMessage_ = nullptr;
    installed_ = nullptr;
    getProfile_ = nullptr;
}

uint16_t CCapiPortWin32::putMessage(tagAPIMsg* message) {
    if (!putMessage_) return mcNoEntryPoint;
    // Released (a port shut down while a request or an answer was on its way): nothing may go out.
    if (!applicationId_) return kIllegalApplication;
    capi::put16(capi::bytes(message) + 2, uint16_t(applicationId_));
    return uint16_t(putMessage_(applicationId_, message));
}

tagAPIMsg* CCapiPortWin32::getMessage() {
    if (!getMessage_) return nullptr;
    void* p = nullptr;
    if (getMessage_(applicationId_, &p) != 0) return nullptr;
    return static_cast<tagAPIMsg*>(p);
}

uint16_t CCapiPortWin32::getManufacturer(char* buffer) {
    if (!getManufacturer_) return mcNoEntryPoint;
    getManufacturer_(buffer);
    return mcOk;
}

uint16_t CCapiPortWin32::getProfile(void* buffer, uint32_t controller) {
    if (!getProfile_) return mcNoEntryPoint;
    return uint16_t(getProfile_(buffer, controller));
}

uint16_t CCapiPortWin32::getVersion(char* buffer) {
    if (!getVersion_) {
        strcpy(buffer, "bad dynalink");
        return mcNoEntryPoint;
    }
    DWORD capiMajor = 0, capiMinor = 0, makerMajor = 0, makerMinor = 0;
    getVersion_(&capiMajor, &capiMinor, &makerMajor, &makerMinor);
    // Callers give 64 bytes; four numbers of up to ten digits fit.
    snprintf(buffer, 64, "CAPI %u.%lu, release %u.%u", unsigned(capiMajor), static_cast<unsigned long>(capiMinor),
             unsigned(makerMajor), unsigned(makerMinor));
    return mcOk;
}

void* CCapiPortWin32::allocBuffer(uint32_t size) {
    HGLOBAL h = GlobalAlloc(GMEM_FIXED, size);
    if (!h) return nullptr;
    return GlobalLock(h);
}

void CCapiPortWin32::freeBuffer(void* buffer, uint32_t) {
    if (!buffer) return;
    HGLOBAL h = GlobalHandle(buffer);
    if (!h) return;
    GlobalUnlock(h);
    GlobalFree(h);
}
