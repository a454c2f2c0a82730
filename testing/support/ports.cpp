#include "winetest/ports.h"

#include <cstdlib>
#include <stdexcept>

namespace winetest {

std::vector<PortPair> PortPairs() {
    std::vector<PortPair> pairs;
    const char* env = std::getenv("WINETEST_PORTS");
    std::string s = env ? env : "";
    size_t pos = 0;
    while (pos < s.size()) {
        size_t end = s.find(';', pos);
        if (end == std::string::npos) end = s.size();
        std::string item = s.substr(pos, end - pos);
        size_t comma = item.find(',');
        if (comma != std::string::npos) pairs.push_back({item.substr(0, comma), item.substr(comma + 1)});
        pos = end + 1;
    }
    return pairs;
}

PortPair GetPortPair(size_t i) {
    std::vector<PortPair> pairs = PortPairs();
    if (i >= pairs.size())
        throw std::runtime_error("this test has " + std::to_string(pairs.size()) +
                                 " port pair(s); give it PORT_PAIRS in its CMakeLists");
    return pairs[i];
}

namespace {

// The Windows path of a file beside the relay's link of `port` (dosdevices/com12<suffix>); "" when
// no prefix is known.
std::string RelayFile(const std::string& port, const char* suffix) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix) return "";
    std::string name = port;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string path = std::string("Z:") + prefix + "/dosdevices/" + name + suffix;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Sets or clears one of the relay's request files for a port's end and waits until the relay says
// it acts on it (its answer file is there) or no longer does (gone).
bool AskRelay(const std::string& port, const char* request, const char* answer, bool on, DWORD wait_ms) {
    const std::string flag = RelayFile(port, request);
    const std::string done = RelayFile(port, answer);
    if (flag.empty()) return false;
    if (on) {
        HANDLE f = CreateFileA(flag.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return false;
        CloseHandle(f);
    } else if (!DeleteFileA(flag.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    for (DWORD waited = 0;; waited += 10) {
        if ((GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) == on) return true;
        if (waited >= wait_ms) return false;
        Sleep(10);
    }
}

}  // namespace

bool HoldLine(const std::string& port, bool hold, DWORD wait_ms) { return AskRelay(port, ".hold", ".held", hold, wait_ms); }

bool UnplugPort(const std::string& port, bool unplugged, DWORD wait_ms) {
    return AskRelay(port, ".unplug", ".unplugged", unplugged, wait_ms);
}

std::string LineSettings(const std::string& port, const std::string& expected, DWORD wait_ms) {
    const std::string path = RelayFile(port, ".line");
    if (path.empty()) return "";
    std::string text;
    for (DWORD waited = 0;; waited += 20) {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            char buf[64];
            DWORD n = 0;
            if (ReadFile(f, buf, sizeof(buf), &n, nullptr)) {
                text.assign(buf, n);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            }
            CloseHandle(f);
        }
        if (text == expected || waited >= wait_ms) return text;
        Sleep(20);
    }
}

std::string DevicePath(const std::string& port) {
    if (port.rfind("\\\\.\\", 0) == 0) return port;
    return "\\\\.\\" + port;
}

bool SerialPort::Open(const std::string& port, DWORD baud) {
    Close();
    h_ = CreateFileA(DevicePath(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h_ == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(h_, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!SetCommState(h_, &dcb)) {
        error_ = GetLastError();
        Close();
        return false;
    }
    PurgeComm(h_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

void SerialPort::Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
}

bool SerialPort::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(h_, p, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            error_ = GetLastError();
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

std::string SerialPort::Read(size_t max, DWORD timeout_ms) {
    std::string out;
    DWORD start = GetTickCount();
    while (out.size() < max) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) break;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;  // return what is there, waiting at most the total
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = timeout_ms - elapsed;
        SetCommTimeouts(h_, &t);
        char buf[4096];
        DWORD want = static_cast<DWORD>(max - out.size() < sizeof(buf) ? max - out.size() : sizeof(buf));
        DWORD got = 0;
        if (!ReadFile(h_, buf, want, &got, nullptr)) {
            error_ = GetLastError();
            break;
        }
        out.append(buf, got);
    }
    return out;
}

std::string SerialPort::ReadUntil(const std::string& marker, DWORD timeout_ms) {
    std::string out;
    DWORD start = GetTickCount();
    while (out.find(marker) == std::string::npos) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) break;
        out += Read(1, timeout_ms - elapsed);
    }
    return out;
}

DWORD SerialPort::Baud() const {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    return GetCommState(h_, &dcb) ? dcb.BaudRate : 0;
}

}  // namespace winetest
