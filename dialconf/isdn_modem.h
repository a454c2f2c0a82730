// IsdnModem: the configuration program's channel to the ISDN Tamrisk on one COM port, at
// 115200 bit/s 8N1, one AT command at a time. Every wait is a busy wait of the calling thread.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/cstring.h"
#include "framework/handles.h"

class IsdnModem {
public:
    enum Presence { kAbsent = 1, kPresent = 2 };
    // Results of Transact.
    enum { kOk = 0, kOpenFailed = 0x0E, kWriteFailed = 0x13, kTimeOut = 0x14 };

    IsdnModem() = default;
    IsdnModem(const IsdnModem&) = delete;
    IsdnModem& operator=(const IsdnModem&) = delete;

    void Init(const CString& port, const CString& description);
    int Open();
    void Close();
    void Probe();
    int Transact(const CString& command, CString* reply, const char* expected, int timeout_s);
    int WakeUp();
    int IsPresent();

    int SetNumber(const CString& number);
    int SetSpid(const CString& index, const CString& spid);
    int SetPointToPoint(int multipoint);
    int SetSwitchType(int type);
    int SetProtocol(int number);
    int SetProtocolByName(const CString& name);

    int GetProtocol(CString* name);
    int GetSwitchType();
    CString GetMsn();
    CString GetSpid(const CString& index);
    CString GetPointToPoint();
    CString GetFirmwareVersion();

    const CString& port() const { return port_; }
    int presence() const { return presence_; }
    bool changed() const { return changed_; }
    bool IsOpen() const { return port_handle_.IsOpen(); }
    DWORD last_error() const { return last_error_; }

private:
    void Purge();
    // A transaction with one retry after a failure of the first (with its own time-out).
    int TransactTwice(const CString& command, CString* reply, int timeout_s, int retry_timeout_s,
                      const char* retry_trace);

    CString port_, description_;
    int presence_ = kPresent;
    bool changed_ = false;
    DCB dcb_{};
    std::vector<unsigned char> properties_;
    fw::FileHandle port_handle_;
    DWORD last_error_ = 0;
};
