// The ISDN Tamrisk's CAPI side, as the computer meets it inside the HDLC link: every I frame
// carries a 2-byte prefix (we send 00 00 and ignore what comes) and one CAPI message; a DATA_B3
// message has its data behind it. The adapter is controller 1. An application the provider
// registered for CAPI 1.1 (internal register with subcommand 0x40) codes its messages with bit 7
// of the subcommand clear (requests 0x00, confirmations 0x01, indications 0x02, responses 0x03)
// and is answered in that coding; command words below are those of CAPI 2.0.
//
// It answers the provider's internal messages (subcommand bit 6 set): register (0x01), release
// (0x02) and the identity fetch (MANUFACTURER "kolv", class 0x1007, answered with the 148-byte
// identity record). For the applications it is a CAPI 2.0 controller with a network behind it
// that answers every call: LISTEN, outgoing calls (the far end answers at once), incoming calls
// when a test offers one, B3 connections, data (kept and either only counted or sent back),
// hang-ups from either side; every other request is confirmed. DATA_B3_REQ gets no confirmation
// here: the computer makes those itself as the line takes the data.
//
// A DATA_B3_IND carries its data behind its 22 bytes; its Data field names where, relative to 32
// bytes into the message, as a negative offset: 0xFFFFFFF6.
//
// A pure state machine over byte buffers and a millisecond clock; IsdnSimulator puts it behind
// the framed link. Tests spoil it on purpose through CapiKnobs and read what it did in
// CapiCounters, all under the simulator's lock:
//
//   sim.WithCapi([](isdnsim::CapiController& c) { c.knobs.late_ms[isdnsim::kWordRegister] = 6000; });
//   sim.WithCapi([](isdnsim::CapiController& c) { return c.IncomingCall("4930123", "77"); });
//   unsigned asked = sim.WithCapi([](isdnsim::CapiController& c) { return c.counters.identity_requests; });
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace isdnsim {

using Bytes = std::vector<uint8_t>;

// Command words: command | subcommand << 8, as the requests arrive.
enum CapiWord : uint16_t {
    kWordRegister = 0xC001,      // internal register
    kWordRelease = 0xC002,       // internal release
    kWordIdentity = 0xC0FF,      // internal MANUFACTURER: the identity fetch
    kWordAlertReq = 0x8001,
    kWordConnectReq = 0x8002,
    kWordDisconnectReq = 0x8004,
    kWordListenReq = 0x8005,
    kWordInfoReq = 0x8008,
    kWordSelectBReq = 0x8041,
    kWordFacilityReq = 0x8080,
    kWordConnectB3Req = 0x8082,
    kWordDisconnectB3Req = 0x8084,
    kWordDataB3Req = 0x8086,
    kWordResetB3Req = 0x8087,
    kWordManufacturerReq = 0x80FF,
};

// What the identity reply carries. Texts longer than their field are cut and then have no NUL:
// an 8-character serial number fills its field unterminated.
struct CapiIdentity {
    // The version words, each a major number in the high byte and a minor in the low one (as
    // CAPI_GET_VERSION hands them on): CAPI 2.0, and the adapter's own 2.14.
    uint16_t major = 0x0200, minor = 0x020E;
    uint8_t kept[8] = {2, 0, 0, 0, 14, 0, 0, 0};     // the adapter's own version (never read)
    std::string manufacturer = "Quarnbeck A+R GmbH ISDN Tamrisk";  // 64 bytes
    Bytes profile;                                   // 64 bytes; empty: DefaultProfile()
    std::string serial = "0004711";                  // 8 bytes
    static Bytes DefaultProfile();                   // one controller, 2 B channels, HDLC/transparent
    Bytes Record() const;                            // the 148 bytes
};

enum class DataMode { kSink, kEcho };

// Spoils the DATA_B3_INDs that go out next.
struct OddData {
    unsigned count = 0;        // this many DATA_B3_INDs carry the values below, then normal again
    bool set_data_field = false;
    uint32_t data_field = 0;   // written into Data instead of the normal offset
    int length_delta = 0;      // added to DataLength; the payload sent stays what it is
};

struct CapiKnobs {
    // Requests (by command word) that are taken but never answered; answers held back this many
    // milliseconds. Everything the request sets off goes with its answer.
    std::set<uint16_t> no_reply;
    std::map<uint16_t, uint32_t> late_ms;
    // Bytes of the identity record in its reply (less than 148: a short reply).
    size_t identity_record_bytes = 148;
    CapiIdentity identity;
    DataMode data_mode = DataMode::kEcho;
    OddData odd_data;
    // Data towards the computer leaves at most at this rate (8000: one B channel; 0: at once).
    unsigned b_channel_bytes_per_second = 0;
    // Outgoing calls: 0 the far end answers, else DISCONNECT_IND with this reason.
    uint16_t answer_reason = 0;
};

struct CapiCounters {
    unsigned messages_in = 0, messages_out = 0;
    std::map<uint16_t, unsigned> in, out;  // per command word
    unsigned identity_requests = 0, registrations = 0, releases = 0, fresh_starts = 0;
    unsigned malformed = 0;          // too short, length field out of the frame, fields missing
    unsigned unregistered = 0;       // from an application that is not registered
    unsigned unknown = 0;            // requests of unknown commands (confirmed), unknown internals
    unsigned unexpected = 0;         // responses that fit no call, connection or data block
    size_t data_bytes_in = 0, data_bytes_out = 0;
    unsigned max_unanswered = 0;     // most DATA_B3_INDs one connection had out at once
};

struct CapiRegistration {
    uint16_t max_connections = 0, max_b3_blocks = 0, max_b3_length = 0;
    bool capi11 = false;
    uint32_t cip_mask = 0;  // from LISTEN_REQ
};

class CapiController {
public:
    // One I frame's information field from the computer.
    void Receive(const Bytes& info, uint32_t now_ms);
    // The clock: releases late answers and paced data.
    void Tick(uint32_t now_ms);
    // I-frame information fields to send, in order (each: 00 00 and one message).
    std::vector<Bytes> TakeOutput();
    // The link to the computer is gone: calls end without a word (nobody hears it), nothing
    // pending goes out. Registrations stay; the provider registers again.
    void LinkDown();

    // The network side, for tests.
    // A call comes in: CONNECT_IND to every application listening for `cip`; false when none.
    bool IncomingCall(const std::string& calling, const std::string& called, uint16_t cip = 2);
    // The far end hangs up every call: DISCONNECT_B3_IND, then DISCONNECT_IND with `reason`.
    unsigned RemoteHangup(uint16_t reason = 0x3490);
    // Data from the far end on the first connected B3 connection; false when there is none.
    bool SendData(const Bytes& data);

    CapiKnobs knobs;
    CapiCounters counters;
    Bytes data_in;  // every byte DATA_B3_REQ brought, in order
    const std::map<uint16_t, CapiRegistration>& registrations() const { return apps_; }
    size_t Calls() const { return calls_.size(); }
    size_t ConnectedB3() const;

private:
    enum CallState { kOffered, kActive, kClearing, kDisconnected };
    enum B3State { kB3None, kB3Offered, kB3Active, kB3Clearing };
    struct Call {
        uint16_t app = 0;
        uint8_t number = 0;                   // PLCI = number << 8 | controller
        CallState state = kOffered;
        bool outgoing = false;
        std::set<uint16_t> offered_to;        // incoming: applications that still may answer
        std::set<uint16_t> owe_resp;          // told DISCONNECT_IND, no DISCONNECT_RESP yet
        uint16_t reason = 0;                  // for the DISCONNECT_IND after the B3 connection
        B3State b3 = kB3None;
        uint16_t next_handle = 0;
        std::set<uint16_t> unanswered;        // DATA_B3_IND handles without DATA_B3_RESP
        std::deque<Bytes> to_send;            // data waiting for a free block
        uint32_t plci() const { return static_cast<uint32_t>(number) << 8 | 1; }
        uint32_t ncci() const { return 1u << 16 | plci(); }
    };
    struct Timed {
        uint32_t due;
        Bytes info;
    };

    void Handle(const uint8_t* m, size_t length, const uint8_t* extra, size_t extra_size);
    void Request(uint16_t word, const uint8_t* m, size_t length, const uint8_t* extra, size_t extra_size);
    void Response(uint16_t word, const uint8_t* m, size_t length);
    void Emit(uint16_t app, uint16_t word, uint16_t number, const Bytes& params, const Bytes& extra = {});
    void Indicate(uint16_t app, uint16_t word, const Bytes& params, const Bytes& extra = {});
    void Confirm(uint16_t app, uint16_t word, uint16_t number, uint32_t id, uint16_t info);
    void Clear(Call& c, uint16_t reason);
    void Disconnected(Call& c, uint16_t reason);
    void DisconnectInd(Call& c, uint16_t app, uint16_t reason);
    void Pump(Call& c);
    Call* FindCall(uint32_t plci_or_ncci, uint16_t app);
    bool Capi11(uint16_t app) const;
    // The command word in CAPI 2.0 coding, whatever coding the sender uses.
    uint16_t WordOf(const uint8_t* m) const;
    void Forget(uint8_t number);
    uint16_t NextNumber();

    std::map<uint16_t, CapiRegistration> apps_;
    std::map<uint8_t, Call> calls_;  // by PLCI number
    uint16_t message_number_ = 0;
    uint32_t now_ = 0;
    uint32_t data_due_ = 0;     // when the block at the front has come over the B channel
    bool data_timed_ = false;  // data_due_ is that block's
    std::vector<Bytes> batch_;       // what the message being handled makes
    std::vector<Bytes> out_;
    std::vector<Timed> late_;
};

}  // namespace isdnsim
