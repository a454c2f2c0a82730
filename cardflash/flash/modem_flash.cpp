// The in-place flash of a modem object: the dialogues of flash_protocol run over the modem's own
// port, with its counted open and close and its text send.
#include <memory>
#include <string>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_image.h"
#include "cardflash/flash/flash_protocol.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_card_match.h"

namespace {

// The flash's view of a modem's port.
class CModemLink : public flash::FlashLink {
public:
    explicit CModemLink(CModem* modem) : m_Modem(modem) {}

    bool OpenPort() override { return m_Modem->OpenPort() != FALSE; }
    void ClosePort() override { m_Modem->ClosePort(); }

    long Write(const void* data, size_t size) override {
        HANDLE port = Port();
        if (!port) return -1;
        const DWORD start = GetTickCount();
        DWORD written = 0;
        if (!WriteFile(port, data, static_cast<DWORD>(size), &written, nullptr)) {
            m_Modem->m_LastError = GetLastError();
            return -1;
        }
        if (written != size) m_Modem->m_LastError = ERROR_WRITE_FAULT;
        // When the line has carried these bytes at the port's rate. A port whose write returns
        // once the bytes are out is past that already; a driver that takes the write into a
        // buffer of its own (as under Wine) returns at once, with the bytes still to go.
        const DWORD rate = m_Modem->m_PortSettings.BaudRate;
        if (rate > 0) {
            if (static_cast<LONG>(start - m_LineFreeAt) > 0) m_LineFreeAt = start;
            m_LineFreeAt += static_cast<DWORD>((static_cast<unsigned long long>(written) * 10000 + rate - 1) / rate);
        }
        return static_cast<long>(written);
    }

    long Read(void* buffer, size_t max, unsigned timeoutMs) override {
        HANDLE port = Port();
        if (!port) return -1;
        if (max == 0) return 0;
        if (timeoutMs == flash::kPortTimeouts) {
            // An answer cannot come before what was written has crossed the line: until then the
            // read is not yet the one the port's time-outs bound. It ends the moment a byte
            // comes, so an answer is taken as soon as it is there.
            for (;;) {
                const LONG left = static_cast<LONG>(m_LineFreeAt - GetTickCount());
                if (left <= 0) break;
                if (left >= kPortByteWaitMs) {
                    DWORD got = 0;
                    if (!ReadFile(port, buffer, static_cast<DWORD>(max), &got, nullptr)) return -1;
                    if (got > 0) return static_cast<long>(got);
                    continue;
                }
                DWORD errors = 0;
                COMSTAT stat{};
                if (!ClearCommError(port, &errors, &stat)) return -1;
                if (stat.cbInQue > 0) break;
                ::Sleep(1);
            }
            DWORD got = 0;
            if (!ReadFile(port, buffer, static_cast<DWORD>(max), &got, nullptr)) return -1;
            return static_cast<long>(got);
        }
        const DWORD start = GetTickCount();
        for (;;) {
            DWORD errors = 0;
            COMSTAT stat{};
            if (!ClearCommError(port, &errors, &stat)) return -1;
            if (stat.cbInQue > 0) {
                DWORD want = stat.cbInQue < max ? stat.cbInQue : static_cast<DWORD>(max);
                DWORD got = 0;
                if (!ReadFile(port, buffer, want, &got, nullptr)) return -1;
                return static_cast<long>(got);
            }
            if (GetTickCount() - start >= timeoutMs) return 0;
            ::Sleep(1);
        }
    }

    void Purge() override {
        if (HANDLE port = Port()) PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    void Sleep(unsigned ms) override { ::Sleep(ms); }

    int SendText(const std::string& command, const std::string& expected, unsigned timeoutMs,
                 std::string* reply) override {
        CString got;
        const int seconds = static_cast<int>((timeoutMs + 999) / 1000);
        int result = m_Modem->Exchange(CString(command), got, CString(expected), seconds);
        if (reply) reply->assign(got.c_str(), static_cast<size_t>(got.GetLength()));
        // Nothing expected: whatever came (or nothing) is not waited for.
        return expected.empty() && result == kModemTimeout ? 0 : result;
    }

    unsigned long LastError() const override { return m_Modem->m_LastError; }

private:
    HANDLE Port() const {
        HANDLE port = m_Modem->m_Port;
        return port == INVALID_HANDLE_VALUE ? nullptr : port;
    }

    // How long the port's read time-outs (set when it opens) wait for a single byte.
    static constexpr LONG kPortByteWaitMs = 310;

    CModem* m_Modem;
    DWORD m_LineFreeAt = GetTickCount();
};

}  // namespace

int CModem::FlashFirmware(const CString& path, void (*progress)(int)) {
    CModemLink link(this);
    if (m_AddOn) {
        std::vector<uint8_t> image;
        if (int code = flash::LoadAddOnImage(path.c_str(), &image)) return code;
        CPortLock lock(this);
        return flash::FlashAddOnImage(link, image.data(), image.size(), progress);
    }
    CFis fis;
    CMpkCardResolver resolver(this);
    if (int code = flash::LoadModemImage(path.c_str(), m_CardDescription, &resolver, &fis)) return code;
    CPortLock lock(this);
    return flash::FlashModemImage(link, fis, progress);
}

int CModem::UploadXmodem(const uint8_t* data, unsigned length, void (*progress)(int)) {
    CModemLink link(this);
    CPortLock lock(this);
    return flash::UploadXmodem(link, data, length, progress);
}

int CModem::BootLoaderError(CString& reply) {
    std::string text(reply.c_str(), static_cast<size_t>(reply.GetLength()));
    const int code = flash::BootLoaderError(text);
    reply = CString(text);
    return code;
}
