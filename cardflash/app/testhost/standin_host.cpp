// cardflash with in-process stand-ins of the maker's drivers, for the tests only: the same
// application object and resources as the program, started the same way, writing what it detected
// to its log in place of the main window (testhost/detection_log.h). The Windows NT PCMCIA
// driver holds the fixture machine's two cards (cardflash/testdata/machine). What the program did
// with the port manager goes to "standins.txt" beside the exe once the application has ended
// (after ExitInstance, before the object is gone), for the test that started it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "cardflash/app/testhost/detection_log.h"
#include "cardflash/testdata/machine/machine_cis.h"
#include "standins/drivers.h"

namespace {

std::string ReportPath() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n < sizeof(path) ? n : 0);
    return s.substr(0, s.find_last_of('\\') + 1) + "standins.txt";
}

void Report(const standins::PortManagerDriver& portManager, const standins::StandinDrivers& drivers) {
    std::FILE* f = std::fopen(ReportPath().c_str(), "w");
    if (!f) return;
    for (const drv::OpenRequest& r : portManager.opens())
        std::fprintf(f, "opened %s access 0x%X share 0x%X disposition %u attributes 0x%X\n", r.path.c_str(),
                     static_cast<unsigned>(r.access), static_cast<unsigned>(r.share),
                     static_cast<unsigned>(r.disposition), static_cast<unsigned>(r.attributes));
    std::fprintf(f, "port manager handles open: %d\n", portManager.open_handles());
    for (const std::string& path : drivers.unknown_opens()) std::fprintf(f, "no stand-in for %s\n", path.c_str());
    std::fclose(f);
}

void InsertMachineCards(standins::NtPcmciaDriver& pcmcia) {
    const std::pair<machine::Bytes, machine::SocketConfig> cards[] = {
        {machine::CardACis(), machine::CardAConfig()},
        {machine::CardBCis(), machine::CardBConfig()},
    };
    for (const auto& card : cards) {
        const machine::SocketConfig& socket = card.second;
        standins::NtPcmciaDriver::Config config;
        config.irq = socket.irq;
        for (const machine::IoWindow& io : socket.io)
            config.io.emplace_back(io.base, static_cast<uint16_t>(io.length - 1));
        if (socket.memBase) config.mem.emplace_back(socket.memBase, socket.memLength);
        pcmcia.SetCard(socket.socket, card.first);
        pcmcia.SetConfig(socket.socket, config);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    standins::StandinDrivers drivers;
    standins::PortManagerDriver portManager;
    drivers.Add("\\\\.\\Wendlow.vxd", &portManager);
    drivers.Add("\\\\.\\Wendlow", &portManager);
    standins::NtPcmciaDriver pcmcia;
    InsertMachineCards(pcmcia);
    drivers.Add("\\\\.\\pcmcia0", &pcmcia);
    DetectionLogApp app;
    int code = app.Run(instance, command_line);
    Report(portManager, drivers);
    return code;
}
