#include "simulators/modem/modemsim.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace modemsim {

bool ModemSimulator::Start(const std::string& port) {
    Stop();
    if (!port_.Open(port, CBR_19200)) return false;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ModemSimulator::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    port_.Close();
}

ModemState ModemSimulator::State() const {
    std::lock_guard<std::mutex> lock(lock_);
    return engine_.state();
}

ModemEngine::Mode ModemSimulator::Mode() const {
    std::lock_guard<std::mutex> lock(lock_);
    return engine_.mode();
}

std::string ModemSimulator::Received() const {
    std::lock_guard<std::mutex> lock(lock_);
    return received_;
}

std::vector<std::string> ModemSimulator::Commands() const {
    std::lock_guard<std::mutex> lock(lock_);
    const std::vector<std::string>& all = engine_.commands();
    return std::vector<std::string>(all.begin() + static_cast<long>(commandsBase_), all.end());
}

void ModemSimulator::ClearReceived() {
    std::lock_guard<std::mutex> lock(lock_);
    received_.clear();
    writes_.clear();
    flashedAt_ = 0;
    commandsBase_ = engine_.commands().size();
}

std::vector<ModemSimulator::Write> ModemSimulator::Writes() const {
    std::lock_guard<std::mutex> lock(lock_);
    return writes_;
}

double ModemSimulator::FlashedAtMs() const {
    std::lock_guard<std::mutex> lock(lock_);
    return flashedAt_;
}

double ModemSimulator::MonotonicMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void ModemSimulator::Carry(double* free, size_t bytes, unsigned rate) {
    const double now = MonotonicMs();
    if (*free < now) *free = now;
    *free += static_cast<double>(bytes) * 10.0 * 1000.0 / rate;
    // Sleep for the most of it, and yield for the last millisecond, which Sleep would overshoot.
    for (double left = *free - MonotonicMs(); left > 0; left = *free - MonotonicMs()) {
        if (left > 1.5)
            Sleep(static_cast<DWORD>(left - 1));
        else
            SwitchToThread();
    }
}

bool ModemSimulator::WaitForCommands(size_t count, unsigned timeoutMs) const {
    DWORD start = GetTickCount();
    for (;;) {
        if (Commands().size() >= count) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

// What has come, at most `max` bytes, waiting up to 20 ms for a first byte. Only what is queued
// is asked for: under Wine a read that asks for more than is there waits out its whole time-out
// even with bytes in hand, which would hold back every answer by that much.
std::string ModemSimulator::ReadSome(size_t max) {
    HANDLE h = port_.handle();
    auto queued = [h] {
        DWORD errors = 0;
        COMSTAT stat{};
        return ClearCommError(h, &errors, &stat) ? static_cast<size_t>(stat.cbInQue) : 0;
    };
    std::string out;
    char buffer[1024];
    size_t want = std::min(queued(), std::min(max, sizeof buffer));
    if (want == 0) {
        // Nothing yet: wait for one byte, then take what came with it.
        DWORD got = 0;
        if (!ReadFile(h, buffer, 1, &got, nullptr) || got == 0) return out;
        out.assign(buffer, 1);
        want = std::min(queued(), std::min(max - 1, sizeof buffer));
        if (want == 0) return out;
    }
    DWORD got = 0;
    if (ReadFile(h, buffer, static_cast<DWORD>(want), &got, nullptr)) out.append(buffer, got);
    return out;
}

void ModemSimulator::Run() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 20;
    SetCommTimeouts(port_.handle(), &t);
    double rxFree = 0;
    while (!stop_) {
        const std::string bytes = ReadSome(1024);
        const unsigned paced = State().paceBitRate;
        // Bytes that came at once over the pty take their wire time before the card has them.
        if (paced && !bytes.empty()) Carry(&rxFree, bytes.size(), paced);
        std::vector<std::string> pieces;
        size_t own = SIZE_MAX;  // the piece the card says of its own accord, if any
        size_t chunk = 0;
        unsigned gap = 0, rate = 0, ackDelay = 0;
        {
            std::lock_guard<std::mutex> lock(lock_);
            const bool flashed = engine_.state().bootFlashed || engine_.state().addOnFlashed;
            received_ += bytes;
            if (!bytes.empty()) pieces = engine_.FeedPieces(bytes);
            if (!flashed && (engine_.state().bootFlashed || engine_.state().addOnFlashed)) flashedAt_ = MonotonicMs();
            if (!engine_.state().bootFlashed && !engine_.state().addOnFlashed) flashedAt_ = 0;
            std::string said = engine_.Tick(GetTickCount());
            if (!said.empty()) {
                own = pieces.size();
                pieces.push_back(said);
            }
            // A slow card takes its time over each block before it answers.
            if (!bytes.empty() && !pieces.empty() && engine_.mode() == ModemEngine::Mode::AddOnFlash)
                ackDelay = engine_.state().addOnAckDelayMs;
            chunk = engine_.state().chunkSize;
            gap = engine_.state().gapMs;
            rate = engine_.state().paceBitRate;
        }
        if (ackDelay) Sleep(ackDelay);
        for (size_t i = 0; i < pieces.size() && !stop_; ++i) {
            // Separate writes of the card arrive as separate reads on the other side.
            if (i > 0) Sleep(gap ? gap : 100);
            Answer(pieces[i], chunk, gap, rate, i == own);
        }
    }
}

void ModemSimulator::Answer(const std::string& reply, size_t chunk, unsigned gapMs, unsigned rate, bool own) {
    if (chunk == 0) chunk = rate ? 64 : reply.size();
    double txFree = 0;
    for (size_t at = 0; at < reply.size() && !stop_; at += chunk) {
        if (at > 0 && gapMs) Sleep(gapMs);
        std::string piece = reply.substr(at, chunk);
        // A pty has no line rate: the piece goes out once the line would have carried it.
        if (rate) Carry(&txFree, piece.size(), rate);
        // Recorded before it goes out: a reader that has the bytes finds their record too.
        {
            std::lock_guard<std::mutex> lock(lock_);
            writes_.push_back({MonotonicMs(), piece, own});
        }
        port_.Write(piece);
    }
}

}  // namespace modemsim
