#include "simulators/isdn/isdn_simulator.h"

#include <algorithm>

namespace isdnsim {

bool IsdnSimulator::Start(const std::string& port) {
    Stop();
    std::string path = port.rfind("\\\\.\\", 0) == 0 ? port : "\\\\.\\" + port;
    port_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(port_, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = dcb.fInX = FALSE;
    SetCommState(port_, &dcb);
    // Short reads so the thread notices Stop() within a few tens of milliseconds.
    COMMTIMEOUTS to{};
    to.ReadIntervalTimeout = 5;
    to.ReadTotalTimeoutConstant = 50;
    SetCommTimeouts(port_, &to);
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    stop_ = false;
    thread_ = std::thread(&IsdnSimulator::Serve, this);
    return true;
}

void IsdnSimulator::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
}

void IsdnSimulator::SetPieces(size_t size, DWORD gap_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    piece_size_ = size;
    piece_gap_ms_ = gap_ms;
}

std::vector<std::string> IsdnSimulator::Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& all = adapter_.Commands();
    return std::vector<std::string>(all.begin() + static_cast<long>(log_start_), all.end());
}

void IsdnSimulator::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_start_ = adapter_.Commands().size();
}

void IsdnSimulator::Serve() {
    char buf[256];
    while (!stop_) {
        DWORD got = 0;
        if (!ReadFile(port_, buf, sizeof(buf), &got, nullptr)) {
            Sleep(10);
            continue;
        }
        if (got == 0) continue;
        std::vector<std::string> replies;
        size_t piece;
        DWORD gap;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            replies = adapter_.Receive(buf, got);
            piece = piece_size_;
            gap = piece_gap_ms_;
        }
        for (const std::string& r : replies) {
            size_t step = piece ? piece : r.size();
            for (size_t at = 0; at < r.size() && !stop_; at += step) {
                if (at > 0 && gap) Sleep(gap);
                DWORD n = static_cast<DWORD>(std::min(step, r.size() - at));
                DWORD written = 0;
                WriteFile(port_, r.data() + at, n, &written, nullptr);
            }
        }
    }
}

}  // namespace isdnsim
