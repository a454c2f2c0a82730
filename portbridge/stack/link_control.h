// The link control (task 137): the top of the protocol stack and its only door to the CAPI side.
// Downward it has the stack that layer management builds for it (HDLC over the serial task);
// upward it hands indications to one callback. Around it stand the operations the CAPI side calls
// on its own thread: start of the runtime, the link bring-up (AT wake-up and identification in raw
// mode, then framed mode), requests, data, the 10 ms tick and shut-down. It also paces DATA_B3
// confirmations to the rate of one B channel (64 kbit/s = 8 bytes per millisecond).
//
// Threads: the operations below run on the caller's thread and block it while they wait (one
// wait at a time). The task's handler and the indication callback run on the runtime thread.
// runtimeTick runs on the multimedia-timer thread; it never calls the callback itself: due
// confirmations are handed to the runtime thread, so every indication comes from that one thread.
//
// Every wait is armed before its request is sent, so an answer that comes within the same
// scheduler step is never lost.
#pragma once

#include <cstddef>
#include <cstdint>

#include "portbridge/stack/layer_management.h"
#include "portbridge/stack/runtime_message.h"
#include "portbridge/stack/stack_messages.h"

namespace stack {

// Indications handed to the callback (runtime message ids, the message as link control got it):
//
//   577, 641  link established (kEstablishedConfirm, kEstablishedInd)    link state 2
//   578, 642  link released (kReleaseConfirm, kReleasedInd)               link state 0
//   643       data (kDataIndication): offset 8 data offset, offset 10 length, pointer at offset 12.
//             The data is a 2-byte prefix followed by a CAPI message from the adapter, or a
//             confirmation made here (data offset 0): a DATA_B3_CONF of the pacing (length 18),
//             or the error confirmation of a request that did not go (see sendLinkData). The
//             buffer belongs to link control and is valid only during the call: copy what you keep.
//   645       link down (kLinkReset)                                     link state 0
//   649       stopped: the port is closed (kPortDownIndication)          link state 4
//
// 578/642 that come while the stack is stopped (state 4, right after 649) are not passed up.
// 648 (port up) and 584 (configured) only move the state to 1 and are not passed up.
constexpr uint16_t kEstablishedConfirm = 577;
using LinkIndicationFn = void (*)(void* context, const RuntimeMessage& message);

enum LinkState : uint32_t { kLinkDown = 0, kLinkEstablishing = 1, kLinkConnected = 2, kLinkStackReady = 4 };

// Requests the CAPI side sends through sendLinkRequest: kEstablishRequest (513), kReleaseRequest
// (514) and kLinkStop (265, the same id as the serial task's close).
constexpr uint16_t kLinkStop = 265;

// What a bring-up needs, filled by the terminal-adapter port from the configuration file.
struct LinkSettings {
    // The line.
    char portName[64] = "COM2";  // "COM2" or "\\.\COM12"
    uint32_t baudRate = 115200;  // 1200 .. 230400; other rates run at 115200
    uint8_t windowSize = 4;      // 1..7; 0 and values above 7 are taken as 7 (with a debug line)
    // The adapter's identification, asked in raw mode before the framed link when either command
    // is not empty. Commands are sent as they stand (the port appends "\n\r"); a reply passes
    // when it contains the expected text.
    char versionCommand[16] = "";
    char versionAnswer[80] = "";
    char nameCommand[16] = "";
    char nameAnswer[80] = "";
    // Set by bringUpLink: 0 when the link came up, 1 when it failed.
    uint32_t failed = 0;
};

// --- operations for the CAPI side

// Builds the runtime and starts the runtime thread, which starts layer management and the tasks
// 66 (timer), 48 (HDLC), 38 (serial) and 137 (link control); the link control then asks layer
// management for its stack. A second call while the thread runs only replaces the callback.
// 0, or 1 when the runtime or its thread cannot be had.
uint32_t startRuntime(LinkIndicationFn callback, void* context);

// Brings the link up (raw phase when an identification command is set, then framed mode).
// Result: 1 when the link is up (settings.failed = 0), 0 when it failed (settings.failed = 1).
// That is the one sense of the result: 1 is success, everywhere. After success, connectLink
// establishes the HDLC link (641 follows through the callback).
uint32_t bringUpLink(LinkSettings& settings);

// Sends `id` (513 establish, 514 release, 265 stop) with a zero payload to the link control.
// Waits in steps of 50 ms (at most 5000 ms) for the link control's queue. 0 when sent, else the
// runtime's status (3: no link control, 7: no message node).
uint32_t sendLinkRequest(uint16_t id);
// 513 as the originator of the link (payload offset 6 = 1). Same results as sendLinkRequest.
uint32_t connectLink();

// Copies `length` bytes from data + offset, then the `extraLength` extra bytes, into one buffer
// and hands it to the link control as data (a 2-byte prefix and a CAPI message, with a DATA_B3_REQ
// its data as the extra bytes). 1 when the link control has it: from then on it answers for it,
// and 0 when it never got it (too long for a data buffer, no buffer, no runtime), so the caller
// answers. After handing it over the caller waits (at most 5000 ms) until the link control has
// taken it, only to keep pace with it. Called on the runtime thread (from the callback) it does
// not wait. The link control confirms through the callback: a DATA_B3_REQ with info 0 once the
// adapter acknowledged it and the B channel would have sent it, or with an error info when it did not go (0x2001 link not up or gone
// before the peer acknowledged it, 0x1107 20 already pending, 0x1108 no transmit buffer); any
// other request of an application only when it did not go, with the same infos (the adapter
// confirms the rest).
uint32_t sendLinkData(uint16_t offset, uint16_t length, const void* data, uint16_t extraLength, const void* extra);

// Waits for the indication `id` (armed now). 1 when it came, 0 on time-out.
uint32_t waitForIndication(uint16_t id, uint32_t timeoutMs);
// Collects the text of data indications into `buffer` (cleared first, NUL-terminated, at most
// maximum - 1 characters) until it contains `expected` (1) or `timeoutMs` has passed (0).
uint32_t collectAtReply(uint32_t timeoutMs, char* buffer, size_t maximum, const char* expected);
// The text goes to the adapter as data (raw mode). 0 when sent.
uint32_t sendAtCommand(const char* text);
// "at\n\r" up to 10 times until "OK" (1000 ms each), then each identification pair whose command
// is set. 1 when every answer came, else 0.
uint32_t runAtDialogue(const LinkSettings& settings);
// The 141-byte port-configuration block for mode 255 (raw) or 8 (framed) with the line settings of
// the last bringUpLink (or setLinkLine), sent to the link control as 194. 0 when sent.
uint32_t sendPortConfiguration(uint16_t mode);
// The line used by sendPortConfiguration and the serial task (bringUpLink sets it from its settings).
void setLinkLine(const char* portName, uint32_t baudRate, uint8_t windowSize);

// Every 10 ms from a periodic multimedia timer: the stack's timer tick, then the pacing of
// pending DATA_B3 confirmations. Safe to call when no runtime runs (does nothing).
void runtimeTick();

// Sends 265, waits up to 1000 ms for 649, forgets the callback and ends the runtime thread (stop
// flag and join). Returns 0. The next startRuntime builds a fresh runtime.
uint32_t shutDownLink();

// The link state (LinkState), for the port and for tests.
uint32_t linkState();

// --- the pieces, for tests and for the start-up

// The task's init function (a TaskInit): queue, pools 0x4F0 and 0x8F0, then 208 to itself.
uint32_t linkControlInit(void* instance, uint32_t address);

// startRuntime with the tasks and the serial task's settings given: the Win32 build passes the
// real serial task; tests of the link control alone pass stand-ins.
struct LinkPlatform {
    void (*setPortName)(const char* name);
    void (*setModeCommand)(const char* command);
    // Milliseconds for the pacing of confirmations; null: the system's steady clock.
    uint32_t (*nowMs)() = nullptr;
    // The longest wait of sendLinkData for the link control to take its data.
    uint32_t dataTakenMs = 5000;
};
uint32_t startRuntimeWith(const StackTaskInits& inits, const LinkPlatform& platform, LinkIndicationFn callback,
                          void* context);
// The runtime that startRuntime built (null before), for tests.
COSRuntime* linkRuntime();

// Baud code of a rate: 1200 2, 2400 3, 4800 4, 9600 5, 19200 6, 38400 7, 57600 8, 115200 9,
// 230400 10, any other 9.
uint16_t baudCodeOf(uint32_t baudRate);
// The window size that goes into the framed block: 1..7 as given, anything else 7.
uint8_t linkWindowOf(uint8_t windowSize);
constexpr size_t kPortConfigurationSize = 141;
// Fills the port-configuration block (kPortConfigurationSize bytes) for mode 255 or 8.
void buildPortConfiguration(uint8_t* block, uint16_t mode, uint32_t baudRate, uint8_t windowSize);
// The build-stack request block (17 16-bit words) for a requester's queue.
constexpr size_t kBuildRequestWords = 17;
void buildStackRequest(uint8_t* block, uint16_t requesterQueue);

}  // namespace stack
