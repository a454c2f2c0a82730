#include "portbridge/worker_thread.h"

#include <windows.h>

namespace portbridge {

TSemaphore::~TSemaphore() {
    if (handle_) CloseHandle(handle_);
}

uint32_t TSemaphore::create(int32_t initial, int32_t maximum, uint32_t value) {
    if (handle_) CloseHandle(handle_);
    handle_ = CreateSemaphoreA(nullptr, initial, maximum, nullptr);
    value_ = value;
    return handle_ ? 0 : kNoResources;
}

void TSemaphore::wait() {
    if (handle_) WaitForSingleObject(handle_, INFINITE);
}

void TSemaphore::release() {
    if (handle_) ReleaseSemaphore(handle_, 1, nullptr);
}

TWorkerThread::~TWorkerThread() {
    HANDLE t = thread_;
    if (!t) return;
    keepRunning_ = false;
    semaphore_.release();
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
}

uint32_t TWorkerThread::create(Callback callback, void* argument, uint32_t, uint32_t semaphoreValue) {
    if (thread_) return kThreadExists;
    callback_ = callback;
    argument_ = argument;
    keepRunning_ = true;
    if (semaphore_.create(0, 0x7FFFFFFF, semaphoreValue) != 0) return kNoResources;
    thread_ = CreateThread(nullptr, 12288, &TWorkerThread::main, this, STACK_SIZE_PARAM_IS_A_RESERVATION, &id_);
    if (!thread_) {
        keepRunning_ = false;
        return kNoResources;
    }
    return 0;
}

void TWorkerThread::wake() { semaphore_.release(); }

unsigned long __stdcall TWorkerThread::main(void* context) {
    TWorkerThread& self = *static_cast<TWorkerThread*>(context);
    for (;;) {
        self.semaphore_.wait();
        if (!self.keepRunning_) break;
        ++self.rounds_;
        if (self.callback_) self.callback_(self.argument_);
    }
    // Passes the stop on to anyone else waiting on the semaphore.
    self.semaphore_.release();
    return 0;
}

}  // namespace portbridge
