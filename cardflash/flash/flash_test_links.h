// Links for the flash tests: a scripted one that answers reads from a list and records writes,
// and one that puts the simulated card's state machine behind the link, with a clock of its own
// so the fixed waits cost no time. No Windows header.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "cardflash/flash/flash_protocol.h"
#include "simulators/modem/modemengine.h"

namespace flashtest {

// Every read takes the next entry: bytes, or an empty text for "nothing came", or a failed read
// (kFail). When the script is exhausted, reads come back empty.
class ScriptLink : public flash::FlashLink {
public:
    static constexpr const char* kFail = "\x01<fail>";
    std::deque<std::string> reads;
    std::vector<std::string> writes;
    long shortWriteAt = -1;  // this write (counted from 0) goes out one byte short
    int opens = 0, closes = 0;
    bool openFails = false;

    bool OpenPort() override {
        ++opens;
        return !openFails;
    }
    void ClosePort() override { ++closes; }
    long Write(const void* data, size_t size) override {
        const long index = static_cast<long>(writes.size());
        writes.emplace_back(static_cast<const char*>(data), size);
        if (index == shortWriteAt && size > 0) return static_cast<long>(size) - 1;
        return static_cast<long>(size);
    }
    long Read(void* buffer, size_t max, unsigned) override {
        if (reads.empty()) return 0;
        std::string next = reads.front();
        reads.pop_front();
        if (next == kFail) return -1;
        if (next.size() > max) {
            reads.push_front(next.substr(max));
            next.resize(max);
        }
        next.copy(static_cast<char*>(buffer), next.size());
        return static_cast<long>(next.size());
    }
    void Purge() override {}
    void Sleep(unsigned) override {}
};

// The card's engine behind the link: each write of the card is one read here.
class EngineLink : public flash::FlashLink {
public:
    explicit EngineLink(modemsim::ModemState state) : engine(std::move(state)) {}
    modemsim::ModemEngine engine;
    unsigned long clock = 0;
    long shortWriteAt = -1;   // this write goes out one byte short (the byte is lost)
    long writes = 0;
    int opens = 0, closes = 0;

    bool OpenPort() override {
        ++opens;
        return true;
    }
    void ClosePort() override { ++closes; }
    long Write(const void* data, size_t size) override {
        std::string bytes(static_cast<const char*>(data), size);
        if (writes++ == shortWriteAt && !bytes.empty()) bytes.pop_back();
        for (std::string& piece : engine.FeedPieces(bytes)) queue_.push_back(std::move(piece));
        return static_cast<long>(bytes.size());
    }
    // The virtual clock moves on while a read waits; a read on the port's own time-outs waits as
    // long as the modem's port would (10 ms a byte and 300 ms).
    long Read(void* buffer, size_t max, unsigned timeoutMs) override {
        const unsigned limit = timeoutMs == flash::kPortTimeouts ? static_cast<unsigned>(10 * max + 300) : timeoutMs;
        for (unsigned waited = 0; queue_.empty() && waited < limit; waited += 10) Advance(10);
        if (queue_.empty()) return 0;
        std::string next = queue_.front();
        queue_.pop_front();
        if (next.size() > max) {
            queue_.push_front(next.substr(max));
            next.resize(max);
        }
        next.copy(static_cast<char*>(buffer), next.size());
        return static_cast<long>(next.size());
    }
    void Purge() override { queue_.clear(); }
    void Sleep(unsigned ms) override { Advance(ms); }

private:
    void Advance(unsigned ms) {
        clock += ms;
        std::string own = engine.Tick(clock);
        if (!own.empty()) queue_.push_back(own);
    }
    std::deque<std::string> queue_;
};

}  // namespace flashtest
