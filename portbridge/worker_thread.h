// Two small utilities of the provider: a counting semaphore, and a worker thread that runs a
// callback once for every wake-up. (Nothing in the provider uses the worker yet.)
#pragma once

#include <cstdint>

namespace portbridge {

constexpr uint32_t kNoResources = 0xC000009A;
constexpr uint32_t kThreadExists = 0xC0000005;

class TSemaphore {
public:
    TSemaphore() = default;
    ~TSemaphore();
    TSemaphore(const TSemaphore&) = delete;
    TSemaphore& operator=(const TSemaphore&) = delete;
    // 0, or 0xC000009A when it cannot be had.
    uint32_t create(int32_t initial, int32_t maximum, uint32_t value = 0);
    void wait();    // without time-out
    void release();  // one count
    uint32_t value() const { return value_; }
    void* handle() const { return handle_; }

private:
    void* handle_ = nullptr;
    uint32_t value_ = 0;
};

class TWorkerThread {
public:
    using Callback = void (*)(void* argument);
    TWorkerThread() = default;
    // Ends the thread: keep running := 0, one wake-up, join.
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // 0xC0000005 when a thread exists already; 0xC000009A when the semaphore or the thread (a
    // 12288-byte stack) cannot be had; else 0.
    uint32_t create(Callback callback, void* argument, uint32_t spare = 0, uint32_t semaphoreValue = 0);
    // The callback runs once more on the thread.
    void wake();
    uint32_t rounds() const { return rounds_; }

private:
    static unsigned long __stdcall main(void* self);
    TSemaphore semaphore_;
    void* thread_ = nullptr;
    unsigned long id_ = 0;
    Callback callback_ = nullptr;
    void* argument_ = nullptr;
    volatile uint32_t rounds_ = 0;
    volatile bool keepRunning_ = false;
};

}  // namespace portbridge
