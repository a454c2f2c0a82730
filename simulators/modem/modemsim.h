// The simulated modem card (and its ISDN add-on) on one end of a COM-port pair, at 19200 bit/s, on
// a thread of its own inside the test program. Paced at a line rate, it takes and gives bytes no
// faster than such a line carries them. The test sets the state, the program under test
// talks to the other end of the pair, and the test reads back every byte the card received.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulators/modem/modemengine.h"
#include "winetest/ports.h"

namespace modemsim {

class ModemSimulator {
public:
    ModemSimulator() = default;
    explicit ModemSimulator(const ModemState& state) : engine_(state) {}
    ~ModemSimulator() { Stop(); }
    ModemSimulator(const ModemSimulator&) = delete;
    ModemSimulator& operator=(const ModemSimulator&) = delete;

    // Opens `port` ("COM13") at 19200 bit/s and starts answering; false when the port did not open.
    bool Start(const std::string& port);
    void Stop();

    // Changes the state while the simulator runs: sim.Update([](ModemState& s) { s.addOn = true; });
    template <class F>
    void Update(F change) {
        std::lock_guard<std::mutex> lock(lock_);
        change(engine_.state());
    }
    // The user plugs the ISDN add-on in or pulls it out while the program runs.
    void SetAddOn(bool present) {
        Update([present](ModemState& s) { s.addOn = present; });
    }
    ModemState State() const;
    ModemEngine::Mode Mode() const;

    std::string Received() const;               // every byte received since the start or the last clear
    std::vector<std::string> Commands() const;  // the command lines among them
    void ClearReceived();
    // Waits until `count` command lines have arrived; false after `timeoutMs`.
    bool WaitForCommands(size_t count, unsigned timeoutMs) const;

    // Every write the card made to its end of the line since the start or the last clear, with
    // the time it went out (ms of a precise clock of its own, MonotonicMs).
    struct Write {
        double atMs;
        std::string bytes;
        bool own;  // said of its own accord (the add-on's start requests), not an answer
    };
    std::vector<Write> Writes() const;
    // When the card last came to have a whole image (the boot loader's or the add-on's), on that
    // clock; 0 while it has none, and after a clear.
    double FlashedAtMs() const;
    static double MonotonicMs();

private:
    void Run();
    std::string ReadSome(size_t max);
    void Answer(const std::string& reply, size_t chunk, unsigned gapMs, unsigned rate, bool own);
    // Waits until the line has carried `bytes` at `rate` from when it was free (or `now`), as a
    // line that takes 10 bits a byte would; `free` moves on to that time.
    static void Carry(double* free, size_t bytes, unsigned rate);

    mutable std::mutex lock_;
    ModemEngine engine_;
    std::string received_;
    std::vector<Write> writes_;
    double flashedAt_ = 0;
    size_t commandsBase_ = 0;
    winetest::SerialPort port_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

}  // namespace modemsim
