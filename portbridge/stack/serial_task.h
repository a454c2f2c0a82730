// The serial task (task 38): owns the COM port to the terminal adapter. It opens and configures
// the port, wakes the adapter with "at", switches it to framed mode with the mode command, and
// then moves whole frames (the serial frame of serial_frame.h) or, in raw mode, plain bytes. A
// reader and a writer thread of its own do the overlapped I/O; everything else runs on the runtime
// thread.
//
// A port without modem lines (a pty under Wine, some USB adapters) is served as one with CTS on:
// an unreadable modem status counts as CTS on, and failing DTR/RTS calls and modem-line events
// are tolerated.
#pragma once

#include <cstdint>

namespace stack {

// The task's init function (a TaskInit). 1 when started.
uint32_t serialTaskInit(void* instance, uint32_t address);

// Set before the link is brought up: the port ("COM3" or "\\.\COM12") and the mode command that
// switches the adapter to framed mode ("atcm3\n\r").
void setSerialPortName(const char* name);
void setSerialModeCommand(const char* command);

// What tests look at.
struct SerialTaskCounters {
    bool portOpen;
    bool framing;
    bool modemStatusReadable;
    unsigned framesReceived, badHeaderSums, badPayloadSums, tooLong, emptyLength, noBuffer;
    unsigned framesWritten, sendsRefused;
};
SerialTaskCounters serialTaskCounters();

}  // namespace stack
