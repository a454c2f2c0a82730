// The test side of the scripted CAPI library: its control interface bound from the loaded
// capi2032.dll, the message log as bytes, and an owner procedure that records events.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "msgcore/isdn_types.h"
#include "standins/capi2032/capi_wire.h"
#include "standins/capi2032/capisim.h"

namespace capitest {

using capiwire::Bytes;

struct Sim {
    capisimReset_t Reset;
    capisimSetMode_t SetMode;
    capisimFlush_t Flush;
    capisimSetOption_t SetOption;
    capisimSetProfile_t SetProfile;
    capisimSetVersion_t SetVersion;
    capisimSetManufacturer_t SetManufacturer;
    capisimFailCall_t FailCall;
    capisimFailPut_t FailPut;
    capisimFailConf_t FailConf;
    capisimInject_t Inject;
    capisimIncomingCall_t IncomingCall;
    capisimRemoteDisconnect_t RemoteDisconnect;
    capisimRemoteData_t RemoteData;
    capisimLogCount_t LogCount;
    capisimLogEntry_t LogEntry;
    capisimLogData_t LogData;
    capisimWaitPuts_t WaitPuts;
    capisimViolations_t Violations;
    capisimQueued_t Queued;
    capisimWaiters_t Waiters;

    // Binds the library beside the test program (loaded with capi2032=n).
    static Sim& Get();

    struct Logged {
        CapisimEntry e;
        Bytes bytes;
        Bytes data;
        uint16_t word() const { return bytes.size() >= 6 ? uint16_t(bytes[4] | (bytes[5] << 8)) : 0; }
    };
    std::vector<Logged> Log(DWORD kind = 0);
    // The messages the application put, from log entry `from` on.
    std::vector<Logged> Puts(size_t from = 0);
    std::vector<uint16_t> PutWords(size_t from = 0);
    // Waits (bounded) until the application has put `n` messages in all.
    bool WaitForPuts(DWORD n) { return WaitPuts(n, 10000) >= n; }
    std::string ViolationText();
    // The application id of the last registration.
    DWORD LastApp();
};

// Records every owner event but the traces; answers set per event.
class Owner {
public:
    struct Event {
        uint32_t event;
        uintptr_t p1, p2, p3, p4;
        DWORD thread;
        std::string text1, text2, text3;
    };
    static uintptr_t MSGCORE_STDCALL Proc(void* instance, uint32_t event, uintptr_t connection, uintptr_t p1,
                                          uintptr_t p2, uintptr_t p3, uintptr_t p4);
    std::vector<Event> events();
    std::vector<uint32_t> ids();
    // Waits (bounded) until an event `id` has arrived, `count` times in all.
    bool WaitFor(uint32_t id, int count = 1, DWORD timeoutMs = 10000);
    uintptr_t incomingAnswer = 1;
    uintptr_t dataAnswer = 1;
    int traces = 0;
    // Runs inside the owner procedure for an event, on the thread that raised it.
    std::function<void(uint32_t event, uintptr_t connection)> inside;
    // Runs inside the owner procedure for a trace event, with the traced message.
    std::function<void(const uint8_t* message)> insideTrace;

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

}  // namespace capitest
