#include "portbridge/chain/isdn_app.h"

namespace chain {

IsdnApp::IsdnApp() : changed_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

IsdnApp::~IsdnApp() {
    Close();
    CloseHandle(changed_);
}

DWORD IsdnApp::Open() {
    DWORD rc = isdnInit(&port_, 2, 2048);
    if (rc) {
        port_ = nullptr;
        return rc;
    }
    rc = isdnOpen(port_, 1, &IsdnApp::Owner, this, &connection_);
    if (rc) {
        connection_ = nullptr;
        return rc;
    }
    isdnSetProperty(connection_, ipPresetHdlc, 0, 0);
    isdnSetProperty(connection_, ipMsnOut, reinterpret_cast<DWORD_PTR>("12345"), 0);
    return 0;
}

void IsdnApp::Close() {
    if (connection_) isdnClose(connection_);
    connection_ = nullptr;
    if (port_) isdnDone(port_);
    port_ = nullptr;
}

DWORD IsdnApp::Connect(const char* number) { return isdnConnect(connection_, number, nullptr, nullptr); }
DWORD IsdnApp::Listen() { return isdnListen(connection_, 0); }
DWORD IsdnApp::Disconnect() { return isdnDisconnect(connection_, 0); }

bool IsdnApp::Send(const std::vector<uint8_t>& data, size_t block, unsigned window, DWORD ms) {
    const unsigned confirmedBefore = Count(ieB3Transmit);
    unsigned sent = 0;
    for (size_t offset = 0; offset < data.size(); offset += block) {
        // Room in the window: wait for the confirmation of the block `window` places back.
        if (sent >= window && !Await(ieB3Transmit, confirmedBefore + sent - window + 1, ms)) return false;
        const size_t n = data.size() - offset < block ? data.size() - offset : block;
        if (isdnSend(connection_, data.data() + offset, DWORD(n), 0) != 0) return false;
        ++sent;
    }
    return Await(ieB3Transmit, confirmedBefore + sent, ms);
}

bool IsdnApp::Await(uint32_t event, unsigned count, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        ResetEvent(changed_);
        if (Count(event) >= count) return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        WaitForSingleObject(changed_, ms - spent < 100 ? ms - spent : 100);
    }
}

unsigned IsdnApp::Count(uint32_t event) {
    std::lock_guard<std::mutex> lock(mutex_);
    return event >= 0x1000 && event < 0x1020 ? counts_[event - 0x1000] : 0;
}

bool IsdnApp::AwaitReceived(size_t bytes, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        ResetEvent(changed_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (received_.size() >= bytes) return true;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        WaitForSingleObject(changed_, ms - spent < 100 ? ms - spent : 100);
    }
}

std::vector<uint8_t> IsdnApp::Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void IsdnApp::ClearReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
}

uint32_t IsdnApp::LastReason() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastReason_;
}

std::vector<uint16_t> IsdnApp::TransmitInfos() {
    std::lock_guard<std::mutex> lock(mutex_);
    return transmitInfos_;
}

uintptr_t WINAPI IsdnApp::Owner(void* self, uint32_t event, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t,
                                uintptr_t) {
    return static_cast<IsdnApp*>(self)->OnEvent(event, p1, p2);
}

uintptr_t IsdnApp::OnEvent(uint32_t event, uintptr_t p1, uintptr_t p2) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (event >= 0x1000 && event < 0x1020) ++counts_[event - 0x1000];
        if (event == ieB3Receive && p1)
            received_.insert(received_.end(), reinterpret_cast<const uint8_t*>(p1),
                             reinterpret_cast<const uint8_t*>(p1) + p2);
        if (event == ieB3Transmit) transmitInfos_.push_back(static_cast<uint16_t>(p1));
        if (event == ieDisconnected || event == ieCallFailed) lastReason_ = static_cast<uint32_t>(p1);
    }
    SetEvent(changed_);
    return 1;  // accept incoming calls, acknowledge data at once
}

}  // namespace chain
