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

bool IsdnSimulator::Framed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return framed_;
}

void IsdnSimulator::SetPacing(unsigned bytes_per_second) {
    std::lock_guard<std::mutex> lock(mutex_);
    pace_ = bytes_per_second;
}

void IsdnSimulator::ServeCapi(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    capi_on_ = on;
}

void IsdnSimulator::PassToCapi(uint32_t now) {
    // A link being set up again (SABM) keeps the calls; only a link that is gone ends them.
    const bool up = link_.state() != TamriskLink::kDisconnected;
    if (link_up_ && !up) capi_.LinkDown();
    link_up_ = up;
    if (!capi_on_) {
        capi_seen_ = link_.received.size();
        return;
    }
    while (capi_seen_ < link_.received.size()) capi_.Receive(link_.received[capi_seen_++], now);
    capi_.Tick(now);
    std::vector<Bytes> out = capi_.TakeOutput();
    if (up)
        for (Bytes& b : out) link_.QueueData(b);
}

void IsdnSimulator::WritePaced(const Bytes& out) {
    unsigned pace;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pace = pace_;
    }
    const size_t chunk = pace ? 64 : out.size();
    for (size_t at = 0; at < out.size() && !stop_; at += chunk) {
        const DWORD n = static_cast<DWORD>(std::min(chunk, out.size() - at));
        if (pace) {
            // The line is busy until paced_until_ms_: each chunk leaves when the one before
            // would have left the wire.
            const double now = static_cast<double>(GetTickCount());
            if (paced_until_ms_ < now) paced_until_ms_ = now;
            paced_until_ms_ += 1000.0 * n / pace;
            const double wait = paced_until_ms_ - 1000.0 * n / pace - now;
            if (wait >= 1) Sleep(static_cast<DWORD>(wait));
        }
        DWORD written = 0;
        WriteFile(port_, out.data() + at, n, &written, nullptr);
    }
}

void IsdnSimulator::Serve() {
    uint8_t buf[4096];
    while (!stop_) {
        DWORD got = 0;
        if (!ReadFile(port_, buf, sizeof(buf), &got, nullptr)) {
            Sleep(10);
            continue;
        }
        unsigned pace;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pace = pace_;
        }
        if (pace && got) {
            // A paced line also takes the computer's bytes at its rate: they are handled when
            // the last of them would have arrived, and the pty holds back the rest meanwhile.
            const double now = static_cast<double>(GetTickCount());
            if (read_until_ms_ < now) read_until_ms_ = now;
            read_until_ms_ += 1000.0 * got / pace;
            if (read_until_ms_ - now >= 1) Sleep(static_cast<DWORD>(read_until_ms_ - now));
        }
        std::vector<std::string> replies;
        std::vector<unsigned> delays;
        Bytes framed_out;
        bool switch_to_framed = false;
        size_t piece;
        DWORD gap;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (framed_) {
                link_.SetClock(GetTickCount());
                if (got) framed_out = link_.Receive(buf, got);
                if (link_.back_to_command_mode) {
                    link_.back_to_command_mode = false;
                    framed_ = false;
                    replies = adapter_.Receive(reinterpret_cast<const char*>(buf), got);
                    capi_.LinkDown();
                    link_up_ = false;
                } else {
                    const uint32_t now = GetTickCount();
                    Bytes t = link_.Tick(now);
                    framed_out.insert(framed_out.end(), t.begin(), t.end());
                    PassToCapi(now);
                    Bytes f = link_.Flush();
                    framed_out.insert(framed_out.end(), f.begin(), f.end());
                }
            } else if (got) {
                replies = adapter_.Receive(reinterpret_cast<const char*>(buf), got, &delays);
                switch_to_framed = adapter_.TakeFramedRequest() && !adapter_.behaviour().silent;
            }
            framed_out.insert(framed_out.end(), pending_out_.begin(), pending_out_.end());
            pending_out_.clear();
            piece = piece_size_;
            gap = piece_gap_ms_;
        }
        for (size_t k = 0; k < replies.size(); ++k) {
            const std::string& r = replies[k];
            if (k < delays.size() && delays[k] && !r.empty()) Sleep(delays[k]);
            size_t step = piece ? piece : r.size();
            for (size_t at = 0; at < r.size() && !stop_; at += step) {
                if (at > 0 && gap) Sleep(gap);
                DWORD n = static_cast<DWORD>(std::min(step, r.size() - at));
                DWORD written = 0;
                WriteFile(port_, r.data() + at, n, &written, nullptr);
            }
        }
        if (switch_to_framed) {
            std::lock_guard<std::mutex> lock(mutex_);
            framed_ = true;
            link_.line = SerialFrames();
            capi_seen_ = link_.received.size();
        }
        if (!framed_out.empty()) WritePaced(framed_out);
    }
}

}  // namespace isdnsim
