// The demo's second part: cardflash.exe started as a user would on the fixture machine
// (cardflash/testdata/machine) under Windows 98, NT 4.0 and Windows 2000 (there through the
// watchsvc registry service), with what it detected printed from its log.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "winetest/demo.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/version.h"

using winetest::Fail;
using winetest::Indent;
using winetest::Say;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `exe` with `args` in `folder` to its end: its exit code, or -1 when it did not start or end.
long RunToEnd(const std::string& exe, const std::string& args, const std::string& folder) {
    winetest::Process p;
    if (!p.Start(exe, args, folder) || !p.Wait(60000)) return -1;
    return static_cast<long>(p.exit_code());
}

struct Road {
    const char* version;
    const char* title;
    std::vector<const char*> registry;  // the machine's registry files on this road
};

}  // namespace

int main() {
    const std::string here = winetest::ProgramFolder();
    const std::string machine = here + "\\..\\testdata\\machine\\";
    const std::string folder = here + "\\demo";
    const std::string watchsvc = here + "\\..\\..\\watchsvc\\watchsvc.exe";

    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA((here + "\\cardflash.exe").c_str(), (folder + "\\cardflash.exe").c_str(), FALSE) ||
        !CopyFileA((machine + "QorvDevices.ini").c_str(), (folder + "\\QorvDevices.ini").c_str(), FALSE))
        return Fail("cannot place cardflash.exe and its device database in " + folder);

    const Road roads[] = {
        {"win98", "Windows 98", {"win9x.reg", "win9x_dyn.reg"}},
        {"nt40", "Windows NT 4.0", {"nt40.reg"}},
        {"win2k", "Windows 2000", {"win2k.reg"}},
    };
    Say("cardflash on the fixture machine: a combined Ethernet+modem PC Card, a 56K modem card,");
    Say("a card that was removed, and (on Windows 98 and 2000) a PCI card with two functions.");
    for (const Road& road : roads) {
        Say(std::string("== ") + road.title);
        winetest::RegFixture reg("");
        try {
            for (const char* file : road.registry) reg.LoadFile(machine + file);
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
        const bool service = std::string(road.version) == "win2k";
        if (service) {
            Say("   registering watchsvc, the registry service cardflash reads Windows 2000 through");
            if (RunToEnd(watchsvc, "/RegServer", "") != 0) return Fail("watchsvc /RegServer");
        }
        if (!winetest::SetProgramVersion("cardflash.exe", road.version)) return Fail("setting the Windows version");
        DeleteFileA((folder + "\\cardflash.LOG").c_str());
        Say("   starting cardflash.exe");
        long rc = RunToEnd(folder + "\\cardflash.exe", "", folder);
        if (service) RunToEnd(watchsvc, "/UnregServer", "");
        if (rc != 0) return Fail("cardflash.exe ended with " + std::to_string(rc));
        std::string log = ReadText(folder + "\\cardflash.LOG");
        if (log.empty()) return Fail("cardflash.exe wrote no log");
        Say("   it ended; its log:");
        Say(Indent(log));
    }
    Say("demo done");
    return 0;
}
