// The demo: dialconf run as a user would, against the simulated ISDN Tamrisk on a COM-port pair,
// driven through its dialogs, with each step printed.
#include <cstdio>
#include <fstream>
#include <string>

#include "dialconf/resource.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"
#include "winetest/demo.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;

using winetest::Fail;
using winetest::Indent;
using winetest::Say;

int main(int argc, char** argv) {
    // "hold": keep the configuration dialog open a while at the end, for a screenshot.
    const bool hold = argc > 1 && std::string(argv[1]) == "hold";
    winetest::PortPair pair = winetest::GetPortPair(0);
    const std::string folder = winetest::ProgramFolder();
    const std::string ini = folder + "\\dialconf.ini";

    isdnsim::IsdnSimulator adapter;
    if (!adapter.Start(pair.b)) return Fail("cannot open " + pair.b);
    Say("1. The ISDN Tamrisk (simulated) answers on " + pair.b + "; the PC card's modem port is " + pair.a + ".");

    winetest::RegFixture reg("[HKEY_LOCAL_MACHINE\\Enum\\MF\\DORVEX_CARD\\0]\n\"Mfg\"=\"Dorvex\"\n\"PORTNAME\"=\"" +
                             pair.a + "\"\n");
    std::ofstream(ini, std::ios::trunc) << "[Manufacturer]\n0=Dorvex Networks\n";
    Say("2. Windows 98 registry: a Dorvex card under Enum\\MF with PORTNAME " + pair.a +
        "; dialconf.ini names the maker, no port saved yet.");

    winetest::SetProgramVersion("dialconf.exe", "win98");
    winetest::Process p;
    if (!p.Start(folder + "\\dialconf.exe")) return Fail("cannot start dialconf.exe");
    Say("3. dialconf starts, reads the registry and scans the candidate ports ...");
    HWND welcome = ui::WaitDialog(p.pid(), "Dorvex ISDN Configuration", 30000);
    if (!welcome) return Fail("no welcome dialog");
    {
        std::ifstream in(ini);
        std::string line, port;
        while (std::getline(in, line))
            if (line.rfind("PORT=", 0) == 0) port = line.substr(5);
        Say("   found the adapter on " + port + " and saved it in dialconf.ini [COM PORT] PORT.");
    }
    Say("4. Welcome dialog \"" + ui::Text(welcome) + "\": pressing \"&Next >\".");
    ui::Click(welcome, IDOK);
    HWND dlg = ui::WaitDialog(p.pid(), "ISDN Tamrisk Configuration", 30000);
    if (!dlg) return Fail("no configuration dialog");
    Say("5. Configuration dialog; the adapter's settings as read from it:");
    Say(Indent(ui::ControlText(dlg, IDC_SETTINGS)));

    Say("6. Profile \"Office\": Euro-ISDN (DSS1), MSN 4930123, X.75, Point to Multipoint; \"Save Current Profile\".");
    ui::SetEditText(dlg, IDC_MSN, "4930123");
    ui::SelectComboText(dlg, IDC_BCHANNEL, "X.75");
    ui::Click(dlg, IDC_SAVE);
    Sleep(500);
    adapter.ClearLog();
    Say("7. \"Send Profile to Modem\" ...");
    ui::Click(dlg, IDC_SEND);
    HWND box = ui::WaitMessageBox(p.pid(), 60000);
    if (!box) return Fail("no answer to the send");
    std::string commands;
    for (const std::string& c : adapter.Commands()) {
        std::string shown = c.substr(0, c.size() - 1);
        if (shown != "AT") commands += (commands.empty() ? "" : ", ") + shown;
    }
    Say("   commands the adapter received (wake-up ATs left out): " + commands);
    Say("   dialconf says: \"" + ui::MessageBoxText(box) + "\"");
    ui::Click(box, IDOK);
    for (int i = 0; i < 100 && ui::ControlText(dlg, IDC_SETTINGS).find("4930123") == std::string::npos; ++i) Sleep(50);
    Say("8. The adapter's settings, read again:");
    Say(Indent(ui::ControlText(dlg, IDC_SETTINGS)));

    if (hold) Sleep(20000);
    Say("9. \"Exit\".");
    ui::Click(dlg, IDOK);
    if (!p.Wait(10000)) return Fail("dialconf did not end");
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    char port[16];
    GetPrivateProfileStringA("COMM", "comPort", "", port, sizeof(port), (std::string(windows) + "\\serlink.ini").c_str());
    Say("   dialconf ended with exit code " + std::to_string(static_cast<int>(p.exit_code())) +
        "; serlink.ini [COMM] comPort = " + port + " for portbridge.");
    DeleteFileA(ini.c_str());
    return p.exit_code() == 0 ? 0 : 1;
}
