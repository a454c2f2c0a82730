// A small ISDN application on msgcore.dll's C API, for the end-to-end tests and the demo: one
// connection on controller 1 that places or accepts a call, sends data with at most a window of
// blocks unconfirmed, keeps every byte it receives, and counts the owner events.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "msgcore/msgcore.h"

namespace chain {

class IsdnApp {
public:
    IsdnApp();
    ~IsdnApp();
    IsdnApp(const IsdnApp&) = delete;
    IsdnApp& operator=(const IsdnApp&) = delete;

    // isdnInit (2 connections, 2048-byte blocks) and isdnOpen on controller 1 with HDLC: 0, or the
    // first failing result.
    DWORD Open();
    void Close();

    DWORD Connect(const char* number);
    DWORD Listen();
    DWORD Disconnect();
    // Sends `data` in blocks of `block` bytes, at most `window` of them unconfirmed; false when a
    // send fails or a confirmation does not come within `ms` (or the call ends).
    bool Send(const std::vector<uint8_t>& data, size_t block, unsigned window, DWORD ms);

    // Waits until `event` (0x1001 ...) has come `count` times in all; false after `ms`.
    bool Await(uint32_t event, unsigned count, DWORD ms);
    unsigned Count(uint32_t event);
    // Waits until `bytes` have been received in all; false after `ms`.
    bool AwaitReceived(size_t bytes, DWORD ms);
    std::vector<uint8_t> Received();
    void ClearReceived();
    uint32_t LastReason();
    std::vector<uint16_t> TransmitInfos();  // info of every DATA_B3_CONF, in order

    ISDN_PORT port() const { return port_; }
    ISDN_CONNECTION connection() const { return connection_; }

private:
    static uintptr_t WINAPI Owner(void* self, uint32_t event, uintptr_t connection, uintptr_t p1, uintptr_t p2,
                                  uintptr_t p3, uintptr_t p4);
    uintptr_t OnEvent(uint32_t event, uintptr_t p1, uintptr_t p2);

    ISDN_PORT port_ = nullptr;
    ISDN_CONNECTION connection_ = nullptr;
    HANDLE changed_;
    std::mutex mutex_;
    unsigned counts_[0x20] = {};
    std::vector<uint8_t> received_;
    std::vector<uint16_t> transmitInfos_;
    uint32_t lastReason_ = 0;
};

}  // namespace chain
