#include "simulators/isdn/isdn_simulator.h"

#include <algorithm>

#include "common/stage_clock.h"

namespace isdnsim {

namespace {

// Milliseconds on the performance counter: the line's clock needs better than GetTickCount's steps.
double NowMs() {
    static const double per_ms = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / per_ms;
}

void SleepUntil(double due_ms) {
    const double wait = due_ms - NowMs();
    if (wait >= 1) Sleep(static_cast<DWORD>(wait));
}

// A write on the overlapped port, waited for.
void WriteAll(HANDLE port, const uint8_t* data, DWORD size) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!WriteFile(port, data, size, &written, &ov) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &ov, &written, TRUE);
    CloseHandle(ov.hEvent);
}

// The writer sends paced output in pieces this long (2.8 ms of a 115200 bit/s line), each when its
// last byte would have arrived: finer than the computer's frames, coarse enough for Sleep.
constexpr size_t kPacedPiece = 32;
// Longest wait of the serving thread with nothing arriving: the link's and the CAPI side's timers
// (T1, the B channel's next block) run on its turns.
constexpr DWORD kTurnMs = 2;

}  // namespace

bool IsdnSimulator::Start(const std::string& port) {
    Stop();
    std::string path = port.rfind("\\\\.\\", 0) == 0 ? port : "\\\\.\\" + port;
    // Overlapped: one thread reads while the other writes, as the two wires of a line do.
    port_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr);
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
    // A read ends 1 ms after the last byte that came (the shortest interval there is), so an
    // answer waits for no read time-out; the serving thread also wakes for its own turns.
    COMMTIMEOUTS to{};
    to.ReadIntervalTimeout = 1;
    SetCommTimeouts(port_, &to);
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stop_ = false;
    read_until_ms_ = paced_until_ms_ = 0;
    frame_ends_ = SerialFrames();
    thread_ = std::thread(&IsdnSimulator::Serve, this);
    writer_ = std::thread(&IsdnSimulator::Write, this);
    return true;
}

void IsdnSimulator::Stop() {
    stop_ = true;
    if (wake_) SetEvent(wake_);
    {
        std::lock_guard<std::mutex> lock(out_mutex_);
        out_ready_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    if (writer_.joinable()) writer_.join();
    {
        std::lock_guard<std::mutex> lock(out_mutex_);
        out_.clear();
    }
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    if (wake_) CloseHandle(wake_);
    wake_ = nullptr;
}

void IsdnSimulator::Wake() {
    if (wake_) SetEvent(wake_);
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

void IsdnSimulator::Send(Outgoing piece) {
    if (piece.bytes.empty()) return;
    piece.queued_ms = NowMs();
    std::lock_guard<std::mutex> lock(out_mutex_);
    out_.push_back(std::move(piece));
    out_ready_.notify_one();
}

void IsdnSimulator::Write() {
    for (;;) {
        Outgoing piece;
        {
            std::unique_lock<std::mutex> lock(out_mutex_);
            out_ready_.wait(lock, [&] { return stop_ || !out_.empty(); });
            if (stop_) return;
            piece = std::move(out_.front());
            out_.pop_front();
        }
        if (piece.delay_ms) Sleep(piece.delay_ms);
        unsigned pace;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pace = pace_;
        }
        if (!piece.paced || !pace) {
            WriteAll(port_, piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()));
            continue;
        }
        // The line carries one byte after the other: what the adapter says starts when what it
        // said before has left (a writer that slept too long catches up, as the wire would not
        // have waited), or when it was said on an idle line; each piece reaches the computer
        // with its last byte.
        paced_until_ms_ = std::max(paced_until_ms_, piece.queued_ms);
        for (size_t at = 0; at < piece.bytes.size() && !stop_; at += kPacedPiece) {
            const size_t n = std::min(kPacedPiece, piece.bytes.size() - at);
            paced_until_ms_ += 1000.0 * static_cast<double>(n) / pace;
            SleepUntil(paced_until_ms_);
            WriteAll(port_, piece.bytes.data() + at, static_cast<DWORD>(n));
            stageclock::stamp(stageclock::kAdapterWritten);
        }
    }
}

size_t IsdnSimulator::FrameEnds(const uint8_t* data, size_t size, std::vector<size_t>* ends) {
    // Byte by byte through a framer of its own: the offset just past each frame (good or spoiled)
    // is where the adapter can first act on it.
    ends->clear();
    for (size_t i = 0; i < size; ++i) {
        std::vector<Bytes> whole;
        const unsigned spoiled = frame_ends_.resyncs + frame_ends_.bad_sums;
        frame_ends_.Take(data + i, 1, &whole);
        if (!whole.empty() || frame_ends_.resyncs + frame_ends_.bad_sums != spoiled) ends->push_back(i + 1);
    }
    if (ends->empty() || ends->back() != size) ends->push_back(size);
    return ends->size();
}

void IsdnSimulator::Turn(const uint8_t* buf, DWORD got) {
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
            if (got) {
                stageclock::stamp(stageclock::kAdapterHandled);
                framed_out = link_.Receive(buf, got);
            }
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
        if (r.empty()) continue;
        DWORD delay = k < delays.size() ? delays[k] : 0;
        const size_t step = piece ? piece : r.size();
        for (size_t at = 0; at < r.size(); at += step) {
            Outgoing o;
            o.bytes.assign(r.begin() + static_cast<long>(at), r.begin() + static_cast<long>(std::min(r.size(), at + step)));
            o.delay_ms = at > 0 ? gap : delay;
            Send(std::move(o));
        }
    }
    if (switch_to_framed) {
        std::lock_guard<std::mutex> lock(mutex_);
        framed_ = true;
        link_.line = SerialFrames();
        frame_ends_ = SerialFrames();
        capi_seen_ = link_.received.size();
    }
    if (!framed_out.empty()) {
        Outgoing o;
        o.bytes = std::move(framed_out);
        o.paced = true;
        Send(std::move(o));
    }
}

void IsdnSimulator::Serve() {
    uint8_t buf[4096];
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool reading = false;
    double waiting_since = 0;  // bytes were already in the port then; 0: the read waited for them
    std::vector<size_t> ends;
    while (!stop_) {
        DWORD got = 0;
        if (!reading) {
            DWORD errors = 0;
            COMSTAT stat{};
            waiting_since = ClearCommError(port_, &errors, &stat) && stat.cbInQue ? NowMs() : 0;
            ResetEvent(ov.hEvent);
            if (ReadFile(port_, buf, sizeof(buf), &got, &ov)) {
                // done at once
            } else if (GetLastError() == ERROR_IO_PENDING) {
                reading = true;
            } else {
                Sleep(10);
                continue;
            }
        }
        if (reading) {
            HANDLE waits[2] = {ov.hEvent, wake_};
            const DWORD w = WaitForMultipleObjects(2, waits, FALSE, kTurnMs);
            if (w == WAIT_OBJECT_0) {
                reading = false;
                if (!GetOverlappedResult(port_, &ov, &got, FALSE)) got = 0;
            }
        }
        if (stop_) break;
        unsigned pace;
        bool framed;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pace = pace_;
            framed = framed_;
        }
        if (got) stageclock::stamp(stageclock::kAdapterRead);
        if (!pace || !got) {
            Turn(buf, got);
            continue;
        }
        // A paced line also takes the computer's bytes at its rate: each frame is handled when
        // its own last byte would have arrived (so each is answered in its time, not the whole
        // read at once), and the pty holds back what follows meanwhile. Bytes that were waiting
        // in the port when the read began were sent no later than that: on a busy line they
        // follow the ones before at once. Others count from when the read brought them.
        const double arrived = std::max(read_until_ms_, waiting_since ? waiting_since : NowMs());
        if (framed)
            FrameEnds(buf, got, &ends);
        else
            ends.assign(1, got);
        size_t from = 0;
        for (size_t end : ends) {
            read_until_ms_ = arrived + 1000.0 * static_cast<double>(end) / pace;
            SleepUntil(read_until_ms_);
            Turn(buf + from, static_cast<DWORD>(end - from));
            from = end;
        }
    }
    if (reading) {
        CancelIo(port_);
        DWORD unused = 0;
        GetOverlappedResult(port_, &ov, &unused, TRUE);
    }
    CloseHandle(ov.hEvent);
}

}  // namespace isdnsim
