// The progress dialog in the middle of a flash, for the screenshot in docs/ (run under
// testing/screenshot.sh with one port pair): the fixture machine's card A is the simulated card
// with the ISDN add-on plugged in, slow to acknowledge each block, and the update host flashes
// the add-on's package while the picture is taken.
//   testing/screenshot.sh -w 12 -p 1 docs/cardflash_progress.png build/cardflash/app/cardflash_progress_shot.exe
#include <windows.h>

#include <cstdio>
#include <string>

#include "cardflash/app/resource.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

int main() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string here(self);
    here = here.substr(0, here.find_last_of('\\'));
    const std::string folder = here + "\\progress_shot";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string machine = CARDFLASH_MACHINE_DIR;
    if (!CopyFileA((here + "\\cardflash_update_host.exe").c_str(), (folder + "\\cardflash.exe").c_str(), FALSE) ||
        !CopyFileA((machine + "/QorvDevices.ini").c_str(), (folder + "\\QorvDevices.ini").c_str(), FALSE)) {
        std::fprintf(stderr, "cannot prepare %s\n", folder.c_str());
        return 1;
    }
    fwtest::Bytes image(24 * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13);
    const fwtest::Bytes package =
        fwtest::MpkFile(1, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V2.20", {{mpk::kKindAddOnImage, image}}}});
    std::FILE* f = std::fopen((folder + "\\TVL.MPK").c_str(), "wb");
    if (!f) return 1;
    std::fwrite(package.data(), 1, package.size(), f);
    std::fclose(f);

    const winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::RegFixture reg;
    reg.LoadFile(machine + "/win9x.reg");
    reg.LoadFile(machine + "/win9x_dyn.reg");
    reg.Load("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"" + pair.a +
             "\"\n");
    modemsim::ModemSimulator sim;
    if (!sim.Start(pair.b)) return 1;
    sim.Update([](modemsim::ModemState& s) {
        s.addOn = true;
        s.addOnAckDelayMs = 800;
    });

    winetest::SetProgramVersion("cardflash.exe", "win98");
    winetest::Process p;
    if (!p.Start(folder + "\\cardflash.exe", "PERFORM:TVL.MPK", folder)) return 1;
    HWND dlg = ui::WaitDialog(p.pid(), "Update", 20000);
    if (!dlg) return 1;
    ui::Click(dlg, IDC_PROG_START);
    // The picture is taken while the blocks go; afterwards the program ends by itself.
    HWND box = ui::WaitMessageBox(p.pid(), 60000);
    if (box) ui::Click(box, IDOK);
    p.Wait(20000);
    return 0;
}
