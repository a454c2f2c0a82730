// A CTaTimerOps on a thread of its own that ticks every period: for tests that run the provider
// without the program's multimedia-timer service.
#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>

#include "portbridge/provider/ta_services.h"

namespace pbprov {

class CThreadTimers : public CTaTimerOps {
public:
    ~CThreadTimers() override { stopService(); }
    uint32_t startService(unsigned periodMs) override {
        if (thread_.joinable()) return 0;
        period_ = periodMs ? periodMs : 10;
        stop_ = false;
        thread_ = std::thread([this] { run(); });
        return 0;
    }
    void stopService() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        timers_.clear();
    }
    void* startTimer(unsigned ms, CTaTimerFn fn, void* context, bool periodic) override {
        std::lock_guard<std::mutex> lock(mutex_);
        unsigned ticks = ms / period_ ? ms / period_ : 1;
        timers_.push_back(Timer{ticks, ticks, fn, context, periodic, true});
        return &timers_.back();
    }
    void cancelTimer(void* timer) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (&*it == timer) it->active = false;
    }

private:
    struct Timer {
        unsigned left, reload;
        CTaTimerFn fn;
        void* context;
        bool periodic, active;
    };
    void run() {
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            next += std::chrono::milliseconds(period_);
            std::this_thread::sleep_until(next);
            std::unique_lock<std::mutex> lock(mutex_);
            for (auto it = timers_.begin(); it != timers_.end();) {
                if (!it->active) {
                    it = timers_.erase(it);
                    continue;
                }
                if (--it->left == 0) {
                    it->left = it->reload;
                    if (!it->periodic) it->active = false;
                    CTaTimerFn fn = it->fn;
                    void* context = it->context;
                    lock.unlock();
                    fn(context);
                    lock.lock();
                }
                ++it;
            }
        }
    }
    std::mutex mutex_;
    std::list<Timer> timers_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    unsigned period_ = 10;
};

}  // namespace pbprov
