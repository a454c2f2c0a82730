// COM-port pairs made for a test by the harness (WineTests.cmake PORT_PAIRS, testing/wine/winerun),
// and a small serial port for the test's side of them (a simulator or a probe).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winetest {

struct PortPair {
    std::string a, b;  // "COM12", "COM13": what one side writes, the other reads
};

// The pairs of this run, from WINETEST_PORTS ("COM12,COM13;COM14,COM15"); empty when none.
std::vector<PortPair> PortPairs();

// Pair i of this run; throws std::runtime_error when the test was not given that many.
PortPair GetPortPair(size_t i = 0);

// The rate and framing ("19200 8N1") that the program on `port`'s side of its pair set, as the
// relay reports them (it looks every 20 ms): waits up to `wait_ms` for them to read `expected`,
// and returns what it read last ("" when the relay reported nothing).
std::string LineSettings(const std::string& port, const std::string& expected, DWORD wait_ms = 3000);

// Holds back what the program on `port`'s side of its pair writes (the relay stops taking it: it
// waits in the pty as bytes a driver has not sent yet, which a purge of that port's output
// discards), or lets it go on again. Waits up to `wait_ms` until the relay has taken the change;
// false when it did not.
bool HoldLine(const std::string& port, bool hold, DWORD wait_ms = 3000);

// Takes `port` away as if its card had been pulled (the relay removes its link: opening it then
// fails with ERROR_FILE_NOT_FOUND), or puts it back. The other side of the pair notices nothing.
// Waits up to `wait_ms` until the relay has done it; false when it did not.
bool UnplugPort(const std::string& port, bool unplugged, DWORD wait_ms = 3000);

// "COM12" -> "\\.\COM12" (the only form that opens ports above COM9).
std::string DevicePath(const std::string& port);

// One open serial port, 8N1, no flow control; closed on destruction.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool Open(const std::string& port, DWORD baud);  // "COM12" or "\\.\COM12"
    void Close();
    bool IsOpen() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return h_; }
    DWORD last_error() const { return error_; }

    bool Write(const void* data, size_t size);  // all of it, or false
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // Reads what arrives within timeout_ms (at most max bytes); returns early once max bytes came.
    std::string Read(size_t max, DWORD timeout_ms);
    // Reads until `marker` has arrived (returns everything read, marker included) or the time is up.
    std::string ReadUntil(const std::string& marker, DWORD timeout_ms);
    DWORD Baud() const;  // the rate the port is set to now

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
};

}  // namespace winetest
