// Helpers of the tests that run the last-call monitor on their own thread: its timer and TAPI's
// line events come as this thread's messages, and a message box it must not show is answered and
// counted by a thread of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "winetest/ui.h"

namespace monitortest {

// Dispatches this thread's messages until `done` or the time-out; false on time-out.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

inline void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

// Answers every message box of this process with `button` while it lives, so that one shown by
// mistake cannot block the test; Count() tells how many came.
class BoxGuard {
public:
    explicit BoxGuard(int button)
        : thread_([this, button] {
              while (!stop_) {
                  if (HWND box = winetest::ui::WaitMessageBox(GetCurrentProcessId(), 100)) {
                      ++boxes_;
                      winetest::ui::Click(box, button);
                  }
              }
          }) {}
    ~BoxGuard() { Stop(); }
    BoxGuard(const BoxGuard&) = delete;
    BoxGuard& operator=(const BoxGuard&) = delete;

    // Ends the watch (any box that came has been answered) and tells how many boxes came.
    int Count() {
        Stop();
        return boxes_;
    }

private:
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> boxes_{0};
    std::thread thread_;
};

}  // namespace monitortest
