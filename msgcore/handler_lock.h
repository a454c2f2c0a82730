// The lock of one connection handler: recursive, and released in full while the owner procedure
// runs, so an owner that calls back into the library (from any thread) never meets a lock held by
// the thread that called it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class HandlerLock {
public:
    void lock() {
        std::unique_lock<std::mutex> g(m_);
        const std::thread::id me = std::this_thread::get_id();
        if (depth_ && owner_ == me) { ++depth_; return; }
        free_.wait(g, [&] { return depth_ == 0; });
        owner_ = me;
        depth_ = 1;
    }
    void unlock() {
        std::lock_guard<std::mutex> g(m_);
        if (depth_ && --depth_ == 0) free_.notify_all();
    }
    // Gives up every level this thread holds; returns them for reacquire().
    int releaseAll() {
        std::lock_guard<std::mutex> g(m_);
        if (!depth_ || owner_ != std::this_thread::get_id()) return 0;
        int held = depth_;
        depth_ = 0;
        free_.notify_all();
        return held;
    }
    void reacquire(int held) {
        if (!held) return;
        std::unique_lock<std::mutex> g(m_);
        free_.wait(g, [&] { return depth_ == 0; });
        owner_ = std::this_thread::get_id();
        depth_ = held;
    }

private:
    std::mutex m_;
    std::condition_variable free_;
    std::thread::id owner_;
    int depth_ = 0;
};

class HandlerGuard {
public:
    explicit HandlerGuard(HandlerLock& l) : l_(l) { l_.lock(); }
    ~HandlerGuard() { l_.unlock(); }
    HandlerGuard(const HandlerGuard&) = delete;
    HandlerGuard& operator=(const HandlerGuard&) = delete;

private:
    HandlerLock& l_;
};
