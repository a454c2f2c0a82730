#include "portbridge/chain/chain_rig.h"

#include <cstdio>
#include <cstdlib>

namespace chain {

std::string SerlinkIniPath() {
    char folder[MAX_PATH] = {};
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\serlink.ini";
}

bool ChainRig::Start(const std::string& exe, const std::string& adapterPort, const std::string& simulatorPort,
                     const std::string& extraSettings) {
    simulatorPort_ = simulatorPort;
    settingsFile_ = SerlinkIniPath();
    // As dialconf writes it, and whatever else a case wants in it.
    std::string text = "[COMM]\r\ncomPort=" + adapterPort.substr(3) + "\r\n" + extraSettings;
    FILE* f = std::fopen(settingsFile_.c_str(), "wb");
    if (!f) return false;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    const int window = adapterWindow;
    sim.WithLink([window](isdnsim::TamriskLink& l) {
        l.window = window;
        return isdnsim::Bytes();
    });
    if (!portbridge.Start(exe)) return false;
    for (int i = 0; i < 200; ++i) {
        if (FindWindowA("capispAppWinClass", "TA capi service provider")) return true;
        Sleep(50);
    }
    return false;
}

void ChainRig::Stop() {
    if (portbridge.running()) {
        portbridge.Terminate();
        portbridge.Wait(5000);
    }
    sim.Stop();
    if (!settingsFile_.empty()) DeleteFileA(settingsFile_.c_str());
    settingsFile_.clear();
}

}  // namespace chain
