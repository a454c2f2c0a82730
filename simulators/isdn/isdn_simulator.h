// The ISDN Tamrisk on the far end of a COM-port pair: an IsdnAdapter served by a thread of its
// own, for tests and the demo. Replies can be sent in pieces with gaps between them.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulators/isdn/isdn_adapter.h"

namespace isdnsim {

class IsdnSimulator {
public:
    IsdnSimulator() = default;
    ~IsdnSimulator() { Stop(); }
    IsdnSimulator(const IsdnSimulator&) = delete;
    IsdnSimulator& operator=(const IsdnSimulator&) = delete;

    // Opens `port` ("COM13") at 115200 bit/s and starts answering; false when it cannot be opened.
    bool Start(const std::string& port);
    void Stop();

    // Replies go out in pieces of `size` bytes with `gap_ms` between them (0: whole).
    void SetPieces(size_t size, DWORD gap_ms);

    // Runs `f` on the adapter while the serving thread waits (settings, behaviour, log).
    template <class F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(adapter_);
    }
    std::vector<std::string> Commands();  // a copy of the command log
    void ClearLog();

private:
    void Serve();

    HANDLE port_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    IsdnAdapter adapter_;
    size_t log_start_ = 0;
    size_t piece_size_ = 0;
    DWORD piece_gap_ms_ = 0;
};

}  // namespace isdnsim
