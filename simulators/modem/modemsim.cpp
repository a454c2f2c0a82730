#include "simulators/modem/modemsim.h"

#include <windows.h>

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
    commandsBase_ = engine_.commands().size();
}

bool ModemSimulator::WaitForCommands(size_t count, unsigned timeoutMs) const {
    DWORD start = GetTickCount();
    for (;;) {
        if (Commands().size() >= count) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

void ModemSimulator::Run() {
    while (!stop_) {
        std::string bytes = port_.Read(1024, 20);
        const unsigned paced = State().paceBitRate;
        // Bytes that came at once over the pty took their wire time on a real line.
        if (paced && !bytes.empty()) Sleep(static_cast<DWORD>(bytes.size() * 10 * 1000 / paced));
        std::vector<std::string> pieces;
        size_t chunk = 0;
        unsigned gap = 0, rate = 0, ackDelay = 0;
        {
            std::lock_guard<std::mutex> lock(lock_);
            received_ += bytes;
            if (!bytes.empty()) pieces = engine_.FeedPieces(bytes);
            std::string own = engine_.Tick(GetTickCount());
            if (!own.empty()) pieces.push_back(own);
            if (!pieces.empty() && engine_.mode() == ModemEngine::Mode::AddOnFlash) ackDelay = engine_.state().addOnAckDelayMs;
            chunk = engine_.state().chunkSize;
            gap = engine_.state().gapMs;
            rate = engine_.state().paceBitRate;
        }
        if (ackDelay) Sleep(ackDelay);
        for (size_t i = 0; i < pieces.size() && !stop_; ++i) {
            // Separate writes of the card arrive as separate reads on the other side.
            if (i > 0) Sleep(gap ? gap : 100);
            Answer(pieces[i], chunk, gap, rate);
        }
    }
}

void ModemSimulator::Answer(const std::string& reply, size_t chunk, unsigned gapMs, unsigned rate) {
    if (chunk == 0) chunk = rate ? 64 : reply.size();
    for (size_t at = 0; at < reply.size() && !stop_; at += chunk) {
        if (at > 0 && gapMs) Sleep(gapMs);
        std::string piece = reply.substr(at, chunk);
        port_.Write(piece);
        // A pty has no line rate: the card takes the time the bytes would take on the wire.
        if (rate) Sleep(static_cast<DWORD>(piece.size() * 10 * 1000 / rate));
    }
}

}  // namespace modemsim
