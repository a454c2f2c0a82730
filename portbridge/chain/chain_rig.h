// The far half of the chain for a test or the demo: serlink.ini in the Windows folder naming the
// adapter's port, the simulated ISDN Tamrisk on the other end of the pair, and portbridge.exe.
#pragma once

#include <windows.h>

#include <string>

#include "simulators/isdn/isdn_simulator.h"
#include "winetest/process.h"

namespace chain {

class ChainRig {
public:
    ChainRig() = default;
    ~ChainRig() { Stop(); }
    ChainRig(const ChainRig&) = delete;
    ChainRig& operator=(const ChainRig&) = delete;

    // Writes serlink.ini for `adapterPort` ("COM12"), keeps the simulator's end, and starts
    // `portbridge` (a path): false when it does not come up with its window within 10 s.
    bool Start(const std::string& portbridge, const std::string& adapterPort, const std::string& simulatorPort,
               const std::string& extraSettings = "");
    bool StartSimulator() { return sim.Start(simulatorPort_); }
    // Ends portbridge and the simulator and removes serlink.ini.
    void Stop();

    isdnsim::IsdnSimulator sim;
    winetest::Process portbridge;
    // The adapter's own window, set before Start. Nothing tells the adapter the computer's
    // window (serlink.ini's windowSize), so the two may differ, as on a real line.
    int adapterWindow = 7;

private:
    std::string simulatorPort_;
    std::string settingsFile_;
};

// The Windows folder's serlink.ini.
std::string SerlinkIniPath();

}  // namespace chain
