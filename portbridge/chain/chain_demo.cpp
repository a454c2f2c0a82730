// The demo of scripts/demo.sh: the whole ISDN chain. An ISDN application on msgcore.dll, the
// stand-in capi2032.dll beside it, portbridge.exe, a pty pair and the simulated ISDN Tamrisk:
// registration, the adapter's identity, an outgoing call with data both ways, an incoming call
// cleared by the far end, and a call lost with the adapter's link. Each step is printed with what
// the simulated adapter counted.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "portbridge/chain/chain_rig.h"
#include "portbridge/chain/isdn_app.h"
#include "winetest/demo.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/version.h"

using winetest::Fail;
using winetest::Say;

namespace {

std::string Counted(isdnsim::IsdnSimulator& sim) {
    return sim.WithCapi([](isdnsim::CapiController& c) {
        char line[200];
        std::snprintf(line, sizeof(line),
                      "    adapter: %u messages in, %u out, %u identity request(s), %zu data bytes in, %zu out",
                      c.counters.messages_in, c.counters.messages_out, c.counters.identity_requests,
                      c.counters.data_bytes_in, c.counters.data_bytes_out);
        return std::string(line);
    });
}

}  // namespace

int main() {
    Say("ISDN chain: application -> msgcore.dll -> capi2032.dll -> portbridge.exe -> COM port -> ISDN Tamrisk");
    winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::SetProgramVersion("portbridge.exe", "win98");
    chain::ChainRig rig;
    if (!rig.Start(winetest::ProgramFolder() + "\\..\\portbridge.exe", pair.a, pair.b))
        return Fail("portbridge.exe did not come up");
    if (!rig.StartSimulator()) return Fail("the simulated adapter cannot open " + pair.b);
    Say("  serlink.ini names " + pair.a + "; portbridge.exe runs; the adapter listens on " + pair.b);

    chain::IsdnApp app;
    const DWORD started = GetTickCount();
    if (DWORD rc = app.Open()) return Fail("isdnInit/isdnOpen: " + std::to_string(rc));
    char text[64] = {};
    isdnGetProperty(app.port(), ipManufacturer, text, 0);
    Say("  registered (the link came up in " + std::to_string(GetTickCount() - started) + " ms); manufacturer \"" +
        text + "\"");
    Say(Counted(rig.sim));

    Say("  outgoing call to 0987:");
    if (app.Connect("0987") != 0 || !app.Await(ieConnection, 1, 20000)) return Fail("no connection");
    std::vector<uint8_t> data(64 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    const DWORD sendStart = GetTickCount();
    if (!app.Send(data, 2048, 7, 20000) || !app.AwaitReceived(data.size(), 20000)) return Fail("data");
    const DWORD ms = GetTickCount() - sendStart;
    const bool same = app.Received() == data;
    Say("    64 KiB sent in 2048-byte blocks and echoed back by the adapter in " + std::to_string(ms) + " ms (" +
        std::to_string(static_cast<unsigned>(data.size() * 8.0 / (ms ? ms : 1))) + " kbit/s), every byte " +
        (same ? "the same" : "NOT the same"));
    if (!same) return Fail("the echo differs");
    app.Disconnect();
    if (!app.Await(ieHangupDone, 1, 20000)) return Fail("no hang-up");
    Say("    hung up from here");
    Say(Counted(rig.sim));

    Say("  listening; a call from 5555 comes in:");
    if (app.Listen() != 0 || !app.Await(ieListenConfirmed, 1, 20000)) return Fail("no listen");
    rig.sim.WithCapi([](isdnsim::CapiController& c) { return c.IncomingCall("5555", "12345"); });
    if (!app.Await(ieConnection, 2, 20000)) return Fail("incoming call not connected");
    Say("    accepted and connected; the far end hangs up");
    rig.sim.WithCapi([](isdnsim::CapiController& c) { return c.RemoteHangup(0x3490); });
    if (!app.Await(ieDisconnected, 1, 20000)) return Fail("no disconnect");
    char reason[16];
    std::snprintf(reason, sizeof(reason), "%04X", static_cast<unsigned>(app.LastReason()));
    Say(std::string("    disconnected, reason ") + reason);

    Say("  another call, and the adapter's link drops during it:");
    if (app.Connect("0987") != 0 || !app.Await(ieConnection, 3, 20000)) return Fail("no connection");
    rig.sim.WithLink([](isdnsim::TamriskLink& l) { return l.SendDm(); });
    if (!app.Await(ieDisconnected, 2, 20000)) return Fail("no disconnect after the link loss");
    std::snprintf(reason, sizeof(reason), "%04X", static_cast<unsigned>(app.LastReason()));
    Say(std::string("    the call ended with reason ") + reason + " (link lost)");
    Say(Counted(rig.sim));
    app.Close();
    Say("  ISDN chain demo done");
    return 0;
}
