// The ISDN add-on's trace, read with TRCREAD, turned into readable lines: layer 1 states and C/I
// indications, LAPD frames, Q.931 messages with their information elements, serial-port control
// and data, and the call-log record of the last call.
//
// Plain functions over text; no Windows header. Every read is bounded by the raw text's length, so
// a cut or garbled trace ends with an error line, never with a read past the end.
#pragma once

#include "framework/cstring.h"

// Classes of trace events that DecodeTrace shows (its mask argument).
enum TraceClass {
    kTraceLayer1 = 0x01,        // layer 1 states
    kTraceLayer1CI = 0x02,      // layer 1 C/I indications
    kTraceLapd = 0x04,          // LAPD (layer 2) frames
    kTraceQ931 = 0x08,          // Q.931 (layer 3) messages
    kTraceSerialCtrl = 0x10,    // serial port control lines
    kTraceSerialData = 0x20,    // serial port data
    kTraceDetail = 0x40,        // hexadecimal dumps: undecoded events, each element, Q.931 header
};

// What the last complete call-log record of a trace said.
struct TraceCallLog {
    CString callType;  // "Outgoing Call", "Incoming Call", "Call Busy"; empty when unknown
    CString callText;  // the record's own text, trailing white space removed
    CString cause;     // Q.850 cause text; empty when unknown
};

// Clears `out` and appends the decoded lines of `raw`, showing the event classes in `mask`.
// Returns whether a complete call-log record was found in this decoding.
bool DecodeTrace(const CString& raw, CString& out, int mask);

// Process-wide results: the found flag of the last decoding, and the last complete call-log record
// of any decoding (kept until the next one).
bool TraceCallLogFound();
TraceCallLog LastTraceCallLog();

// The name tables of the decoder; an empty text when the value has no entry.
CString Q931MessageName(int type);
CString Q931ElementName(int id);
CString Q850CauseText(int cause);
CString TraceCallTypeText(int type);
