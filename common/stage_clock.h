// Time stamps on the stages a CAPI request and its confirmation cross between the application and
// the adapter, for finding where a round trip's time goes. Off unless a measuring program makes
// the shared clock section (stage_clock_win32.cpp) before the processes attach: a stamp is then
// one load and a branch.
//
// Each stage keeps the first time it was crossed after the measuring program cleared the
// section, so one request on an idle line gives one time per stage. No Windows header: the
// protocol stack stamps from its portable code.
#pragma once

#include <atomic>
#include <cstdint>

namespace stageclock {

// In the order a request and its answer cross them.
enum Stage : unsigned {
    kAppPut,          // the application puts the request
    kLibraryPut,      // the CAPI library takes it
    kWindowPut,       // the provider's window procedure gets the put call
    kEnginePut,       // the CAPI engine takes the message
    kLinkSend,        // link control takes it for the link
    kHdlcSend,        // HDLC hands a frame to the serial task
    kSerialWritten,   // the serial writer's write is done
    kAdapterRead,     // the adapter reads bytes from its port
    kAdapterHandled,  // the adapter's link handles a frame (its last byte has come over the line)
    kAdapterWritten,  // the adapter has written its answer (its last byte has left the wire)
    kSerialRead,      // the serial reader gets bytes
    kHdlcReceive,     // HDLC takes an I frame
    kLinkIndicate,    // link control indicates data to the port
    kEngineSignal,    // the CAPI engine queues a message and signals the application
    kLibraryGot,      // the CAPI library hands the message back
    kAppGot,          // the application has it
    kStages
};

const char* stageName(unsigned stage);

using StampFn = void (*)(unsigned stage);
extern std::atomic<StampFn> g_stamp;

// Where stamps go (null: nowhere); the Windows side installs its shared section's writer.
inline void install(StampFn fn) { g_stamp.store(fn); }

inline void stamp(Stage stage) {
    if (StampFn fn = g_stamp.load(std::memory_order_relaxed)) fn(stage);
}

}  // namespace stageclock
