// The demo of scripts/demo.sh: an ISDN application on msgcore.dll, over the scripted CAPI 2.0
// library, through a whole outgoing call (data both ways, local clear-down) and a whole incoming
// call (cleared by the far end). Every CAPI message the library sends or receives reaches the
// application as a trace event; it prints each with the library's own message tracer.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "common/capitrace.h"
#include "msgcore/msgcore.h"
#include "standins/capi2032/capisim.h"
#include "winetest/demo.h"

namespace {

std::mutex g_print;
CCapiMessageTrace* g_trace;
HANDLE g_event[0x10];  // set when event 0x1000 + i arrives

void PrintLine(uint32_t, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::printf("        %s\n", line);
}

const char* EventName(uint32_t event) {
    switch (event) {
    case ieConnection: return "connection up";
    case ieCallFailed: return "call failed";
    case ieDisconnected: return "disconnected";
    case ieHangupDone: return "hangup done";
    case ieB3Transmit: return "data sent";
    case ieB3Receive: return "data received";
    case ieIncomingCall: return "incoming call";
    case ieCallAccepted: return "call accepted by the controller";
    case ieListenConfirmed: return "listen confirmed";
    default: return "event";
    }
}

uintptr_t WINAPI Owner(void*, uint32_t event, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t, uintptr_t) {
    std::lock_guard<std::mutex> g(g_print);
    if (event == ieMessageTrace) {
        g_trace->traceMessage(reinterpret_cast<const tagAPIMsg*>(p2));
    } else {
        std::string extra;
        if (event == ieIncomingCall)
            extra = std::string(": called ") + reinterpret_cast<const char*>(p1) + ", calling " +
                    reinterpret_cast<const char*>(p2);
        if (event == ieB3Receive) extra = ": \"" + std::string(reinterpret_cast<const char*>(p1), p2) + "\"";
        if (event == ieDisconnected || event == ieCallFailed) {
            char r[32];
            snprintf(r, sizeof r, ": reason %04X", unsigned(p1));
            extra = r;
        }
        std::printf("      event %04X %s%s\n", event, EventName(event), extra.c_str());
    }
    std::fflush(stdout);
    if (event >= 0x1000 && event < 0x1010) SetEvent(g_event[event - 0x1000]);
    return 1;  // accept incoming calls, acknowledge data at once
}

bool Await(uint32_t event) { return WaitForSingleObject(g_event[event - 0x1000], 10000) == WAIT_OBJECT_0; }

template <typename F>
F Bind(HMODULE m, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

}  // namespace

int main() {
    using winetest::Fail;
    using winetest::Say;
    for (HANDLE& e : g_event) e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CCapiMessageTrace trace;
    trace.setOutputProc(PrintLine);
    g_trace = &trace;

    Say("msgcore: an ISDN application on msgcore.dll and the scripted CAPI 2.0 controller");
    ISDN_PORT port;
    ISDN_CONNECTION c;
    DWORD rc = isdnInit(&port, 2, 2048);
    if (rc) return Fail("isdnInit: " + std::to_string(rc));
    HMODULE sim = GetModuleHandleA("capi2032.dll");
    auto loopback = Bind<capisimSetOption_t>(sim, "capisimSetOption");
    auto incoming = Bind<capisimIncomingCall_t>(sim, "capisimIncomingCall");
    auto remoteDisconnect = Bind<capisimRemoteDisconnect_t>(sim, "capisimRemoteDisconnect");
    if (!loopback || !incoming || !remoteDisconnect) return Fail("capi2032.dll is not the scripted library");
    loopback(CAPISIM_LOOPBACK, 1);
    char version[64];
    isdnGetProperty(port, ipVersion, version, 0);
    Say(std::string("  port open on ") + version);
    if ((rc = isdnOpen(port, 1, Owner, nullptr, &c)) != 0) return Fail("isdnOpen: " + std::to_string(rc));
    isdnSetProperty(c, ipPresetHdlc, 0, 0);
    isdnSetProperty(c, ipMsnOut, reinterpret_cast<DWORD_PTR>("12345"), 0);

    Say("  outgoing call to 0987, B3 up:");
    if ((rc = isdnConnect(c, "0987", nullptr, nullptr)) != 0) return Fail("isdnConnect: " + std::to_string(rc));
    if (!Await(ieConnection)) return Fail("no connection");
    Say("  data both ways (the controller loops it back):");
    static const char text[] = "hello";
    isdnSend(c, text, 5, 0);
    if (!Await(ieB3Receive) || !Await(ieB3Transmit)) return Fail("no data");
    Say("  local clear-down:");
    isdnDisconnect(c, 0);
    if (!Await(ieHangupDone)) return Fail("no hangup");

    Say("  listening; an incoming call from 5555 is accepted:");
    isdnListen(c, 0);
    if (!Await(ieListenConfirmed)) return Fail("no listen");
    DWORD plci = incoming(2, "12345", "5555", "", 0);
    if (!Await(ieConnection)) return Fail("incoming call not connected");
    Say("  the far end clears the call:");
    remoteDisconnect(plci, 0x3490);
    if (!Await(ieDisconnected)) return Fail("no disconnect");

    isdnClose(c);
    isdnDone(port);
    Say("  msgcore demo done");
    return 0;
}
