// In-process stand-ins of the drivers cardflash talks to, installed through the driver-access
// layer. Each answers the requests the program relies on from state a test sets, and records
// every open and every request (code, input bytes, output size) so the test can check what the
// program sent.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cardflash/inventory/driver_access.h"

namespace standins {

using Bytes = std::vector<uint8_t>;

struct RecordedRequest {
    uint32_t code = 0;
    Bytes input;
    uint32_t out_size = 0;
};

class DriverStandin {
public:
    DriverStandin() = default;
    virtual ~DriverStandin() = default;
    DriverStandin(const DriverStandin&) = delete;
    DriverStandin& operator=(const DriverStandin&) = delete;

    std::vector<drv::OpenRequest> opens() const;
    std::vector<RecordedRequest> requests() const;
    int open_handles() const;             // opened and not yet closed
    void FailOpens(uint32_t error);       // 0: opens succeed again
    void FailRequests(bool fail);         // every control request fails

    // Used by the installed handles.
    std::unique_ptr<drv::DriverHandle> Open(const drv::OpenRequest& r, uint32_t* error);
    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* returned);
    void Closed();

protected:
    // Called under the stand-in's lock; `returned` is set to 0 before.
    virtual bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                        uint32_t* returned) = 0;
    mutable std::mutex lock_;

private:
    std::vector<drv::OpenRequest> opens_;
    std::vector<RecordedRequest> requests_;
    int open_ = 0;
    uint32_t open_error_ = 0;
    bool fail_requests_ = false;
};

// Routes the driver-access layer to stand-ins for its lifetime; a path no stand-in serves fails
// with error 2 as a missing driver does. Paths compare without regard to case.
class StandinDrivers {
public:
    StandinDrivers();
    ~StandinDrivers();
    StandinDrivers(const StandinDrivers&) = delete;
    StandinDrivers& operator=(const StandinDrivers&) = delete;

    void Add(const std::string& path, DriverStandin* standin);
    std::vector<std::string> unknown_opens() const;  // paths asked for that nothing serves

private:
    struct Table;
    std::shared_ptr<Table> table_;
    drv::DriverOpener previous_;
};

// The Windows 9x card-information driver "\\.\Quenby.VXD": request 1 with the 736-byte block
// (status at 0, device id at 2, CIS at 474, 0x1146 at 734).
class CardInfoDriver : public DriverStandin {
public:
    void SetCard(const std::string& device_id, const Bytes& cis);  // cis: up to 256 bytes
    void SetStatus(uint16_t status);  // non-zero: every request answers with it

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    std::map<std::string, Bytes> cards_;
    uint16_t status_ = 0;
};

// The Windows NT PCMCIA driver "\\.\pcmcia0": tuple data (0x42EE0) and configuration (0x42EE4)
// of the card in a socket, each asked with an 80-byte block (socket at 0, the byte 1 at 4).
class NtPcmciaDriver : public DriverStandin {
public:
    struct Config {
        uint8_t irq = 0;
        std::vector<std::pair<uint16_t, uint16_t>> io;    // base, length value (length - 1)
        std::vector<std::pair<uint32_t, uint32_t>> mem;   // base, length
        int io_count = -1;   // the count the driver reports; -1: io.size()
        int mem_count = -1;
    };
    void SetCard(int socket, const Bytes& cis);
    void SetConfig(int socket, const Config& config);

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    std::map<int, Bytes> cis_;
    std::map<int, Config> config_;
};

// The Windows 9x NDIS diagnostics driver "\\.\DIAG.VXD": open (1) with an adapter name, requests
// (3) in a 40-byte block that points at the caller's buffer, close (2).
class NdisDiagDriver : public DriverStandin {
public:
    void SetAnswer(const std::string& adapter, uint32_t oid, const Bytes& answer);
    void SetWriteCount(uint32_t count);  // bytes-written answer to a set; default: the length
    Bytes last_set() const;
    std::string opened_adapter() const;

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    std::map<std::string, std::map<uint32_t, Bytes>> answers_;
    std::string adapter_;
    Bytes last_set_;
    int64_t write_count_ = -1;
};

// A Windows NT network adapter's device object: IOCTL_NDIS_QUERY_GLOBAL_STATS (0x170002) with
// the OID as input.
class NdisNtAdapter : public DriverStandin {
public:
    void SetAnswer(uint32_t oid, const Bytes& answer);

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    std::map<uint32_t, Bytes> answers_;
};

// The maker's port-manager driver: "\\.\Wendlow.vxd" on Windows 9x (codes 1 and 5 register a
// port path and a device description, 4 asks whether a port path is free, 2 gives the 12-byte
// record of the busy port) and "\\.\Wendlow" on Windows NT (0x222000 registers a port path,
// 0x22200C asks whether it is free, 0x222004 gives 24 bytes of call counters, 0x222008 the 4-byte
// status word). Inputs are zero-terminated texts; the port answer is 4 bytes, 1 = free.
class PortManagerDriver : public DriverStandin {
public:
    static constexpr uint32_t k9xRegisterPort = 1;
    static constexpr uint32_t k9xPortRecord = 2;
    static constexpr uint32_t k9xPortQuery = 4;
    static constexpr uint32_t k9xRegisterDevice = 5;
    static constexpr uint32_t kNtRegisterPort = 0x222000;
    static constexpr uint32_t kNtCallCounters = 0x222004;
    static constexpr uint32_t kNtStatusWord = 0x222008;
    static constexpr uint32_t kNtPortQuery = 0x22200C;

    // A port path ("\\.\COM1") not set is free. Paths compare without regard to case.
    void SetPortFree(const std::string& path, bool free);
    // Bit 0x80 of the record's first byte (9x) or of the status word (NT): the port is in a call.
    void SetInCall(bool in_call);
    // What the record requests answer for a port (the one registered last with code 1 or
    // 0x222000 is the one asked about): the 12-byte record (9x), the six call counters and the
    // status word (NT). A port without values answers zeros; SetInCall adds its bit.
    void SetPortRecord(const std::string& path, const Bytes& record12);
    void SetCallCounters(const std::string& path, const std::vector<uint32_t>& counters6);
    void SetStatusWord(const std::string& path, uint32_t status);
    void FailRecord(bool fail);       // the record and status requests fail
    void SetAnswerSize(uint32_t size);  // bytes the port query returns; default 4
    std::vector<std::string> registered() const;  // texts of the registration requests, in order

protected:
    bool Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                uint32_t* returned) override;

private:
    std::map<std::string, bool> free_;
    std::vector<std::string> registered_;
    std::string port_;  // the port registered last
    std::map<std::string, Bytes> records_;
    std::map<std::string, std::vector<uint32_t>> counters_;
    std::map<std::string, uint32_t> status_;
    bool in_call_ = false;
    bool fail_record_ = false;
    uint32_t answer_size_ = 4;
};

}  // namespace standins
