// The demo's second part: cardflash.exe started as a user would on the fixture machine
// (cardflash/testdata/machine) under Windows 98, NT 4.0 and Windows 2000 (there through the
// watchsvc registry service), with the adapters its Update page offers; then, on Windows 98, a
// whole in-place upgrade of card A's modem, the simulated card on a COM-port pair, from the
// Update page: the package chosen, the Update button, the progress dialog to 100 %, and what the
// card received.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cardflash/app/resource.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"
#include "winetest/demo.h"
#include "winetest/ports.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/ui.h"
#include "winetest/version.h"

using winetest::Fail;
using winetest::Indent;
using winetest::Say;
namespace ui = winetest::ui;

namespace {

const char kCaption[] = "Dorvex Upgrade Utility";
constexpr size_t kImageSize = 0x4A10;

// Runs `exe` with `args` in `folder` to its end: its exit code, or -1 when it did not start or end.
long RunToEnd(const std::string& exe, const std::string& args, const std::string& folder) {
    winetest::Process p;
    if (!p.Start(exe, args, folder) || !p.Wait(60000)) return -1;
    return static_cast<long>(p.exit_code());
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 30000) { return ui::WaitUntil(done, timeoutMs); }

struct Road {
    const char* version;
    const char* title;
    std::vector<const char*> registry;  // the machine's registry files on this road
};

// Card A's firmware package: its CIS, patch list and an image of version 1.90.
fwtest::Bytes ModemPackage() {
    const fwtest::Bytes image = fwtest::FisImage(kImageSize)
                                    .Cis(4, 0x4100)
                                    .Put(0x4100, {1, 2, 3, 4})
                                    .Version(0x4300, "1.90")
                                    .TextItem(0x30, 8, 0x4600)
                                    .Build();
    return fwtest::MpkFile(3, {{3, "PCMCIA\\DORVEX-ETHERMODEM_56", 0x1143, 3, "EM56", "EtherModem firmware",
                                {{mpk::kKindCis, {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C}},
                                 {mpk::kKindPatchList, {0, 0}},
                                 {mpk::kKindImage, image}}}});
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t count) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
        std::snprintf(b, sizeof(b), "%02X ", bytes[i]);
        s += b;
    }
    return s;
}

int Upgrade(const std::string& folder, const std::string& machine) {
    Say("== A whole upgrade on Windows 98, from the Update page");
    const winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::RegFixture reg("");
    try {
        reg.LoadFile(machine + "win9x.reg");
        reg.LoadFile(machine + "win9x_dyn.reg");
        reg.Load("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"" +
                 pair.a + "\"\n");
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    modemsim::ModemSimulator sim;
    if (!sim.Start(pair.b)) return Fail("cannot start the simulated card on " + pair.b);
    sim.Update([](modemsim::ModemState& s) {
        s.cis = flashtest::CardCis();
        s.savedSettings = flashtest::kCardSettings;
        s.bootImageSize = kImageSize;
        s.firmwareVersion = "1.80";
    });
    Say("   card A's modem is the simulated card on " + pair.a + ", running firmware 1.80");
    const fwtest::Bytes package = ModemPackage();
    std::FILE* f = std::fopen((folder + "\\EM56.MPK").c_str(), "wb");
    if (!f) return Fail("cannot write EM56.MPK");
    std::fwrite(package.data(), 1, package.size(), f);
    std::fclose(f);
    Say("   EM56.MPK (firmware 1.90 for card A) lies in the program folder");

    if (!winetest::SetProgramVersion("cardflash.exe", "win98")) return Fail("setting the Windows version");
    winetest::Process p;
    if (!p.Start(folder + "\\cardflash.exe", "", folder)) return Fail("cardflash.exe did not start");
    HWND sheet = ui::WaitDialog(p.pid(), kCaption, 30000);
    if (!sheet) return Fail("no main window");
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    if (!WaitFor([&] { return ui::IsEnabled(page, IDC_UPD_UPDATE); })) return Fail("the Update button stayed off");
    Say("   the Update page: adapter \"" + ui::Text(ui::Control(page, IDC_UPD_ADAPTERS)) + "\", firmware " +
        ui::ControlText(page, IDC_UPD_MODEM_STATE) + ", folder " + ui::ControlText(page, IDC_UPD_FOLDER));
    Say("   pressing Update with EM56.MPK chosen");
    ui::Click(page, IDC_UPD_UPDATE);
    HWND progress = ui::WaitDialog(p.pid(), "Update", 20000);
    if (!progress || progress == sheet) return Fail("no progress dialog");
    Say("   the progress dialog: pressing Start Update");
    ui::Click(progress, IDC_PROG_START);
    HWND box = ui::WaitMessageBox(p.pid(), 90000);
    if (!box) return Fail("the flash did not end");
    char percent[16];
    std::snprintf(percent, sizeof(percent), "%d %%",
                  static_cast<int>(SendMessageA(ui::Control(progress, IDC_PROG_BAR), PBM_GETPOS, 0, 0)));
    Say(std::string("   progress ") + percent + "; the message: " + ui::MessageBoxText(box));
    ui::Click(box, IDOK);
    if (!WaitFor([&] { return ui::ControlText(page, IDC_UPD_MODEM_STATE) == "1.90"; }))
        return Fail("the page shows " + ui::ControlText(page, IDC_UPD_MODEM_STATE));
    Say("   the Update page now shows firmware " + ui::ControlText(page, IDC_UPD_MODEM_STATE));
    ui::Click(sheet, IDCANCEL);
    p.Wait(30000);

    const modemsim::ModemState s = sim.State();
    Say("   what the card received:");
    std::string commands;
    for (const std::string& c : sim.Commands()) commands += c + " ";
    Say(Indent("commands: " + commands));
    Say(Indent("boot loader starts: " + std::to_string(s.bootStarts) + ", image bytes: " +
               std::to_string(s.bootReceived.size()) + ", sum right and flashed: " + (s.bootFlashed ? "yes" : "no")));
    Say(Indent("first bytes: " + Hex(s.bootReceived, 16)));
    if (!s.bootFlashed || s.bootReceived.size() != kImageSize) return Fail("the card was not flashed");
    return 0;
}

}  // namespace

int main() {
    const std::string here = winetest::ProgramFolder();
    const std::string machine = here + "\\..\\testdata\\machine\\";
    const std::string folder = here + "\\demo";
    const std::string watchsvc = here + "\\..\\..\\watchsvc\\watchsvc.exe";

    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA((folder + "\\cardflash.INI").c_str());
    DeleteFileA((folder + "\\EM56.MPK").c_str());
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
        Say("   starting cardflash.exe");
        winetest::Process p;
        if (!p.Start(folder + "\\cardflash.exe", "", folder)) return Fail("cardflash.exe did not start");
        HWND sheet = ui::WaitDialog(p.pid(), kCaption, 30000);
        if (!sheet) return Fail("no main window");
        HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        Say("   its Update page offers the present adapters with a modem:");
        for (const std::string& line : ui::ComboItems(page, IDC_UPD_ADAPTERS)) Say(Indent("\"" + line + "\""));
        ui::Click(sheet, IDCANCEL);
        bool ended = p.Wait(30000);
        if (service) RunToEnd(watchsvc, "/UnregServer", "");
        if (!ended || p.exit_code() != 0) return Fail("cardflash.exe did not end cleanly");
        Say("   closed");
    }
    if (int rc = Upgrade(folder, machine)) return rc;
    Say("demo done");
    return 0;
}
