// The progress dialog in the middle of a flash, for the screenshot in docs/ (run under
// testing/screenshot.sh with one port pair): the fixture machine's card A is the simulated card
// with the ISDN add-on plugged in, slow to acknowledge each block, and the update host flashes
// the add-on's package while the picture is taken.
//   testing/screenshot.sh -w 12 -p 1 docs/cardflash_progress.png build/cardflash/app/cardflash_progress_shot.exe
#include <windows.h>

#include <string>

#include "cardflash/app/resource.h"
#include "cardflash/app/testhost/shot_host.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

int main() {
    fwtest::Bytes image(24 * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13);
    const fwtest::Bytes package =
        fwtest::MpkFile(1, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V2.20", {{mpk::kKindAddOnImage, image}}}});
    const std::string folder = shothost::PrepareFolder("progress_shot", "cardflash_update_host.exe", "TVL.MPK", package);
    if (folder.empty()) return 1;

    const winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::RegFixture reg;
    shothost::LoadMachine(reg, pair.a);
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
