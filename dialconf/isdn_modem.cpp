#include "dialconf/isdn_modem.h"

#include "dialconf/adapter_replies.h"
#include "dialconf/reply_deadline.h"
#include "dialconf/resource.h"
#include "dialconf/trace.h"
#include "framework/app.h"

namespace {

const char kOkCr[] = "OK\r";

// The process clock in milliseconds; deadlines compare by difference, so the wrap of the tick
// count after 49 days does not end a wait early.
DWORD Now() { return GetTickCount(); }
bool Passed(DWORD deadline) { return static_cast<LONG>(Now() - deadline) >= 0; }

}  // namespace

void IsdnModem::Init(const CString& port, const CString& description) {
    port_ = port;
    description_ = description;
    Close();
    Probe();
    changed_ = false;
}

int IsdnModem::Open() {
    Close();
    // The device form opens every port number, COM10 and up included.
    CString path = "\\\\.\\" + port_;
    port_handle_.Reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_NO_BUFFERING, nullptr));
    if (!port_handle_.IsOpen()) {
        last_error_ = GetLastError();
        return 0;
    }
    HANDLE h = port_handle_.get();
    auto fail = [&]() {
        last_error_ = GetLastError();
        Close();
        return 0;
    };

    // Ask once to learn the size the driver wants, then with that size; the buffer is never
    // smaller than the structure the system fills in, whatever size the driver reports.
    properties_.assign(sizeof(COMMPROP), 0);
    auto* prop = reinterpret_cast<COMMPROP*>(properties_.data());
    prop->wPacketLength = sizeof(COMMPROP);
    if (!GetCommProperties(h, prop)) return fail();
    size_t wanted = prop->wPacketLength > sizeof(COMMPROP) ? prop->wPacketLength : sizeof(COMMPROP);
    properties_.assign(wanted, 0);
    prop = reinterpret_cast<COMMPROP*>(properties_.data());
    prop->wPacketLength = static_cast<WORD>(wanted);
    if (!GetCommProperties(h, prop)) return fail();

    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(dcb_);
    if (!GetCommState(h, &dcb_)) return fail();
    dcb_.BaudRate = CBR_115200;
    dcb_.ByteSize = 8;
    dcb_.Parity = NOPARITY;
    dcb_.StopBits = ONESTOPBIT;
    if (!SetCommState(h, &dcb_)) return fail();

    COMMTIMEOUTS to{};
    to.ReadIntervalTimeout = 20;
    to.ReadTotalTimeoutMultiplier = 10;
    to.ReadTotalTimeoutConstant = 300;
    to.WriteTotalTimeoutMultiplier = 10;
    to.WriteTotalTimeoutConstant = 100;
    if (!SetCommTimeouts(h, &to)) return fail();
    return 1;
}

void IsdnModem::Close() {
    port_handle_.Close();
    properties_.clear();
}

void IsdnModem::Probe() {
    int before = presence_;
    presence_ = Open() ? kPresent : kAbsent;
    Close();
    changed_ = presence_ != before;
}

void IsdnModem::Purge() {
    if (IsOpen()) PurgeComm(port_handle_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
}

int IsdnModem::Transact(const CString& command, CString* reply, const char* expected, int timeout_s) {
    if (!IsOpen() && !Open()) return kOpenFailed;
    Purge();
    HANDLE h = port_handle_.get();

    DWORD written = 0;
    if (!WriteFile(h, command.c_str(), static_cast<DWORD>(command.GetLength()), &written, nullptr) ||
        written != static_cast<DWORD>(command.GetLength())) {
        last_error_ = GetLastError();
        Trace("Failed to write to port");
        Purge();
        Close();
        return kWriteFailed;
    }

    ReplyBuffer buffer;
    ReplyDeadline deadline(Now(), timeout_s);
    bool done = false;
    while (!done && !buffer.Full()) {
        DWORD errors = 0;
        COMSTAT stat{};
        ClearCommError(h, &errors, &stat);
        if (stat.cbInQue > 0) {
            char piece[512];
            DWORD want = stat.cbInQue;
            if (want > sizeof(piece)) want = sizeof(piece);
            if (want > static_cast<DWORD>(buffer.Room())) want = static_cast<DWORD>(buffer.Room());
            DWORD got = 0;
            if (!ReadFile(h, piece, want, &got, nullptr)) break;
            buffer.Append(piece, static_cast<int>(got));
            done = buffer.Contains(expected);
            deadline.Piece(Now());
        } else if (!deadline.Passed(Now())) {
            Sleep(1);
        }
        if (!done && deadline.Passed(Now())) {
            Purge();
            Trace("Timed out while reading from modem (3)");
            return kTimeOut;
        }
    }
    Purge();
    *reply = buffer.Text();
    // A full buffer without the expected text is not an answer.
    return done ? kOk : kTimeOut;
}

int IsdnModem::WakeUp() {
    fw::BusyWait(10);
    Purge();
    for (int attempt = 0; attempt < 10; ++attempt) {
        DWORD began = Now();
        CString reply;
        if (Transact("AT\r", &reply, "OK\r\n", 2) == kOk) return 1;
        while (!Passed(began + 1000)) Sleep(1);
    }
    return 0;
}

int IsdnModem::IsPresent() {
    fw::WaitCursor wait;
    Probe();
    if (presence_ == kAbsent) return 0;
    if (!WakeUp()) Trace("ISDN Did not power up!");
    CString identity = fw::App::Text(IDS_ISDN_IDENTITY);
    CString reply;
    int r = Transact("ATI\r", &reply, identity, 1);
    if (r != kOk) {
        CString t;
        t.Format("AT Command write failed! [ATI\r] (%d)", r);
        Trace(t);
        Close();
        return 0;
    }
    Trace("ATI->" + reply);
    Close();
    return reply.Find(identity) >= 0 ? 1 : 0;
}

int IsdnModem::TransactTwice(const CString& command, CString* reply, int timeout_s, int retry_timeout_s,
                             const char* retry_trace) {
    if (Transact(command, reply, kOkCr, timeout_s) == kOk) return 1;
    Trace(retry_trace);
    return Transact(command, reply, kOkCr, retry_timeout_s) == kOk ? 1 : 0;
}

int IsdnModem::SetNumber(const CString& number) {
    CString reply;
    WakeUp();
    if (Transact("AT #z=" + number + "\r", &reply, kOkCr, 2) != kOk) {
        Trace("1");
        return 0;
    }
    if (Transact("AT &W\r", &reply, kOkCr, 2) != kOk) {
        Trace("2");
        return 0;
    }
    if (Transact("AT #H\r", &reply, kOkCr, 4) != kOk) {
        Trace("3");
        return 0;
    }
    return reply.Find(number) >= 0 ? 1 : 0;
}

int IsdnModem::SetProtocol(int number) {
    Trace("Setting ISDN protocol by protocol number.");
    CString command, reply;
    command.Format("AT ** PROT=%d\r", number);
    if (Transact(command, &reply, kOkCr, 2) != kOk) return 0;
    if (Transact("AT &W\r", &reply, kOkCr, 2) != kOk) return 0;
    Trace("Verifying that protocol has been set correctly");
    if (Transact("AT ** PROT\r", &reply, kOkCr, 4) != kOk) return 0;
    CString decimal;
    decimal.Format("%d", number);
    return reply.Find(decimal) >= 0 ? 1 : 0;
}

int IsdnModem::SetProtocolByName(const CString& name) {
    WakeUp();
    int number = ProtocolFromName(name);
    if (number == -1) {
        Trace("Failed setting protocol: unknown protocol \"" + name + "\"");
        return 0;
    }
    if (!SetProtocol(number)) {
        Trace("Failed to send protocol command.");
        return 0;
    }
    return 1;
}

int IsdnModem::SetSwitchType(int type) {
    Trace("Setting ISDN switch type");
    CString command, reply;
    WakeUp();
    command.Format("AT ** ISDN=%d\r", type);
    if (Transact(command, &reply, kOkCr, 2) != kOk) return 0;
    if (Transact("AT &W\r", &reply, kOkCr, 2) != kOk) return 0;
    Trace("Resetting modem");
    if (Transact("AT ** RESET\r", &reply, "\r", 4) != kOk) Trace("Failed Reset in SetIsdnSwitch");
    WakeUp();
    Trace("Verifying that switch type has been set correctly");
    if (Transact("AT ** ISDN\r", &reply, kOkCr, 4) != kOk) {
        Trace("Unable to verify switch type");
        return 0;
    }
    return 1;
}

int IsdnModem::SetSpid(const CString& index, const CString& spid) {
    CString reply;
    WakeUp();
    // The adapter takes no empty SPID; "-" stands for none.
    CString value = spid.IsEmpty() ? CString("-") : spid;
    Trace("Gonna set SPID number now");
    if (!TransactTwice("AT**SPID" + index + "=" + value + "\r", &reply, 10, 10, "Trying setspid again after failure."))
        return 0;
    if (!TransactTwice("AT &W\r", &reply, 20, 4, "Saving again")) return 0;
    Trace("Gonna verify SPID number now");
    if (!TransactTwice("AT**SPID" + index + "\r", &reply, 100, 100, "Verify failed - verify again!")) return 0;
    return 1;
}

int IsdnModem::SetPointToPoint(int multipoint) {
    CString reply;
    WakeUp();
    if (Transact(multipoint == 1 ? "AT **PTP=0\r" : "AT **PTP=1\r", &reply, kOkCr, 2) != kOk) return 0;
    if (Transact("AT &W\r", &reply, kOkCr, 2) != kOk) return 0;
    if (Transact("AT **PTP\r", &reply, kOkCr, 2) != kOk) return 0;
    bool is_multipoint = reply.Find("0-P-MP") >= 0;
    return is_multipoint == (multipoint == 1) ? 1 : 0;
}

int IsdnModem::GetProtocol(CString* name) {
    Trace("Getting ISDN Protocol String from Modem");
    CString reply;
    WakeUp();
    if (Transact("AT ** PROT\r", &reply, kOkCr, 4) != kOk) {
        Trace("Unable to verify protocol");
        return 0;
    }
    *name = ProtocolNameFromReply(reply);
    if (name->IsEmpty()) *name = fw::App::Text(IDS_UNKNOWN_PROTOCOL);
    return 1;
}

int IsdnModem::GetSwitchType() {
    Trace("GetIsdnSwitchType");
    CString reply;
    WakeUp();
    if (Transact("AT **ISDN\r", &reply, kOkCr, 6) != kOk) {
        Trace("GetIsdnSwitchType failed");
        return -1;
    }
    Trace("Result from AT **ISDN is " + reply);
    int type = SwitchTypeFromReply(reply);
    if (type < 0) Trace("GetIsdnSwitchType failed");
    return type;
}

CString IsdnModem::GetMsn() {
    CString reply, number;
    WakeUp();
    if (Transact("AT **MSN\r", &reply, kOkCr, 2) != kOk || !MsnFromReply(reply, &number)) return "Not available";
    Trace("Msn = " + number);
    return number;
}

CString IsdnModem::GetSpid(const CString& index) {
    Trace("Get SPID");
    CString command, reply, spid;
    WakeUp();
    command.Format("AT**SPID%s\r", index.c_str());
    if (Transact(command, &reply, kOkCr, 20) != kOk || !SpidFromReply(reply, &spid)) return "Not available";
    Trace("Spid = " + spid);
    return spid;
}

CString IsdnModem::GetPointToPoint() {
    CString reply;
    WakeUp();
    if (Transact("AT **PTP\r", &reply, kOkCr, 4) != kOk) return "Not available";
    return PointToPointFromReply(reply);
}

CString IsdnModem::GetFirmwareVersion() {
    CString reply;
    for (int attempt = 0; attempt < 2; ++attempt)
        if (Transact("ATI3\r", &reply, kOkCr, 6) == kOk) return FirmwareFromReply(reply);
    return CString();
}
