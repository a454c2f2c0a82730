// The main property sheet for the screenshots in docs/ (run under testing/screenshot.sh with one
// port pair): the fixture machine's card A is the simulated card, a package for it lies in the
// program folder, and cardflash.exe shows its Update page (argument "update") or its About page
// ("about") while the picture is taken; the sheet is closed afterwards.
//   testing/screenshot.sh -w 12 -p 1 docs/cardflash_update.png build/cardflash/app/cardflash_sheet_shot.exe update
//   testing/screenshot.sh -w 12 -p 1 docs/cardflash_about.png build/cardflash/app/cardflash_sheet_shot.exe about
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "cardflash/app/resource.h"
#include "cardflash/app/testhost/shot_host.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

int main(int argc, char** argv) {
    const bool about = argc > 1 && std::string(argv[1]) == "about";
    const fwtest::Bytes image =
        fwtest::FisImage(0x4A10).Cis(4, 0x4100).Version(0x4300, "1.90").TextItem(0x30, 8, 0x4600).Build();
    const fwtest::Bytes package =
        fwtest::MpkFile(3, {{3, "PCMCIA\\DORVEX-ETHERMODEM_56", 0x1143, 3, "EM56", "EtherModem 56 firmware V1.90",
                             {{mpk::kKindCis, {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C}},
                              {mpk::kKindPatchList, {0, 0}},
                              {mpk::kKindImage, image}}}});
    const std::string folder = shothost::PrepareFolder("sheet_shot", "cardflash.exe", "EM56V190.MPK", package);
    if (folder.empty()) return 1;
    // Each picture from a first start.
    DeleteFileA((folder + "\\cardflash.INI").c_str());

    const winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::RegFixture reg;
    shothost::LoadMachine(reg, pair.a);
    modemsim::ModemSimulator sim;
    if (!sim.Start(pair.b)) return 1;
    sim.Update([](modemsim::ModemState& s) { s.cis = flashtest::CardCis(); });

    winetest::SetProgramVersion("cardflash.exe", "win98");
    winetest::Process p;
    if (!p.Start(folder + "\\cardflash.exe", "", folder)) return 1;
    HWND sheet = ui::WaitDialog(p.pid(), "Dorvex Upgrade Utility", 20000);
    if (!sheet) return 1;
    if (about) SendMessageA(sheet, PSM_SETCURSEL, 1, 0);
    // The picture is taken meanwhile.
    Sleep(20000);
    ui::Click(sheet, IDCANCEL);
    p.Wait(20000);
    return 0;
}
