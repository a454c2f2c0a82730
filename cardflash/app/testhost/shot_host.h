// What the screenshot hosts share: the program folder beside the host and the fixture machine of
// Windows 98 with card A on a port pair.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "cardflash/flash/fw_test_files.h"
#include "winetest/registry.h"

namespace shothost {

// Makes the folder `name` beside this program and puts in it `program` (from beside this
// program) as cardflash.exe, the fixture machine's device list, and `package` as `packageFile`.
// Returns the folder, or "" where something could not be put there.
inline std::string PrepareFolder(const char* name, const char* program, const char* packageFile,
                                 const fwtest::Bytes& package) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string here(self);
    here = here.substr(0, here.find_last_of('\\'));
    const std::string folder = here + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string machine = CARDFLASH_MACHINE_DIR;
    if (!CopyFileA((here + "\\" + program).c_str(), (folder + "\\cardflash.exe").c_str(), FALSE) ||
        !CopyFileA((machine + "/QorvDevices.ini").c_str(), (folder + "\\QorvDevices.ini").c_str(), FALSE)) {
        std::fprintf(stderr, "cannot prepare %s\n", folder.c_str());
        return "";
    }
    std::FILE* f = std::fopen((folder + "\\" + packageFile).c_str(), "wb");
    if (!f) return "";
    std::fwrite(package.data(), 1, package.size(), f);
    std::fclose(f);
    return folder;
}

// The fixture machine of Windows 98, its card A's modem on `port`.
inline void LoadMachine(winetest::RegFixture& reg, const std::string& port) {
    const std::string machine = CARDFLASH_MACHINE_DIR;
    reg.LoadFile(machine + "/win9x.reg");
    reg.LoadFile(machine + "/win9x_dyn.reg");
    reg.Load("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"" + port +
             "\"\n");
}

}  // namespace shothost
