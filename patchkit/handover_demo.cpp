// The demo: patchkit cleaning up a fixture ISDN installation on Windows 2000 and handing it over
// to its uninstaller (remover, installed as apremover.exe), which removes it as a user would see
// it: each box and dialog printed and answered, then what was removed and what stayed. It runs in
// a throw-away prefix of its own (scripts/demo.sh starts it with prefix=own).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <fstream>
#include <string>
#include <vector>

#include "remover/resource.h"
#include "winetest/demo.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/shortcut.h"
#include "winetest/ui.h"
#include "winetest/version.h"

namespace ui = winetest::ui;
using winetest::Fail;
using winetest::Indent;
using winetest::Say;

namespace {

const std::string kFolder = "c:\\Dorvex\\ISDN";
const char* const kModemEntry =
    "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

void Put(const std::string& path, const std::string& text = "x") { std::ofstream(path, std::ios::binary) << text; }

using winetest::MakeShortcut;

// A window of any process: the uninstaller was started by patchkit, not by us.
HWND WaitAnyDialog(const char* caption, DWORD timeout_ms) {
    for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
        HWND h = FindWindowA("#32770", caption);
        if (h && IsWindowVisible(h)) return h;
        Sleep(50);
    }
    return nullptr;
}

// The next message box of the process, printed and answered.
bool AnswerBox(DWORD pid, int answer, const char* answer_name) {
    HWND box = ui::WaitMessageBox(pid, 30000);
    if (!box) return false;
    Say("   box \"" + ui::Text(box) + "\":");
    Say(Indent(ui::MessageBoxText(box)));
    Say("   answered " + std::string(answer_name) + ".");
    ui::Click(box, answer);
    ui::WaitGone(box);
    return true;
}

void Report(const std::string& what, bool gone) { Say(std::string(gone ? "   removed: " : "   stayed:  ") + what); }

}  // namespace

int main() {
    CoInitialize(nullptr);
    char windows_buf[MAX_PATH];
    GetWindowsDirectoryA(windows_buf, sizeof(windows_buf));
    const std::string windows = windows_buf;
    const std::string group = windows + "\\Start Menu\\Programs\\Dorvex ISDN";
    const std::string utilities = windows + "\\Start Menu\\Programs\\Dorvex Utilities";

    // --- The fixture installation ---------------------------------------------------------------
    CreateDirectoryA("c:\\Dorvex", nullptr);
    CreateDirectoryA(kFolder.c_str(), nullptr);
    CreateDirectoryA((kFolder + "\\Logs").c_str(), nullptr);
    CreateDirectoryA((windows + "\\Start Menu").c_str(), nullptr);
    CreateDirectoryA((windows + "\\Start Menu\\Programs").c_str(), nullptr);
    CreateDirectoryA(group.c_str(), nullptr);
    CreateDirectoryA(utilities.c_str(), nullptr);
    const std::string remover = winetest::ProgramFolder() + "\\..\\remover\\remover.exe";
    if (!CopyFileA(remover.c_str(), (kFolder + "\\apremover.exe").c_str(), FALSE)) return Fail("cannot copy remover.exe");
    for (const char* f : {"dialconf.exe", "msgcore.dll", "zov.dll", "cardflash.exe", "cardflash.ini", "tvl5324a.mpk",
                          "serlink.ini"})
        Put(kFolder + "\\" + f);
    Put(kFolder + "\\Logs\\trace.log");
    MakeShortcut(group + "\\ISDN Configuration.lnk", kFolder + "\\dialconf.exe");
    MakeShortcut(group + "\\Notepad.lnk", windows + "\\notepad.exe");
    MakeShortcut(group + "\\Uninstall.lnk", kFolder + "\\apremover.exe", kFolder + "\\apremover.uni");
    Put(utilities + "\\LINEEC~1.LNK");
    Put(kFolder + "\\APREMOVER.UNI",
        "[Version]\r\nFileVersion=1.0\r\nProductName=Dorvex ISDN\r\nFolderName=" + group + "\r\nDestinationDir=" +
            kFolder + "\r\nUninstallMessage=This removes the Dorvex ISDN software from your computer. Continue?\r\n"
            "[ShortcutList]\r\n" + group + "\\ISDN Configuration.lnk\r\n" + group + "\\Notepad.lnk\r\n" + group +
            "\\Uninstall.lnk\r\n"
            "[FileList]\r\n" + kFolder + "\\dialconf.exe\r\n" + kFolder + "\\serlink.ini\r\n" + kFolder +
            "\\apremover.exe\r\n"
            "[CreatedAfterInstall]\r\n" + kFolder + "\\Logs\\trace.log\r\n"
            "[DirectoryList]\r\n" + kFolder + "\\Logs\r\n"
            "[RegistryList]\r\nHKLM\\SOFTWARE\\Dorvex\\ISDN\r\nHKLM\\\r\n");
    winetest::ApplyRegText(
        "[HKLM\\SOFTWARE\\Dorvex ISDN]\n\"FolderCreated\"=dword:1\n\"DirectoryCreated\"=dword:1\n"
        "\"ISDN Configuration\"=dword:1\n\"Notepad\"=dword:1\n\"Uninstall\"=dword:2\n"
        "[HKLM\\SOFTWARE\\Dorvex\\ISDN\\Profiles\\Office]\n\"MSN\"=\"4930123\"\n"
        "[HKLM\\SOFTWARE\\Dorvex Utilities]\n\" Line Echo Check\"=dword:1\n"
        "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\n"
        "\"Model\"=\"Dorvex ISDN V.120\"\n"
        "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Init]\n"
        "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\HDLCPPP]\n"
        "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\X75]\n");
    Say("1. A previous ISDN installation on Windows 2000 (a throw-away prefix): " + kFolder +
        " with the old programs and apremover.exe (remover) and its list APREMOVER.UNI; the Start menu group "
        "\"Dorvex ISDN\" with three shortcuts (one to Notepad, outside the installation); the line test tool's "
        "shortcut; the product key HKLM\\SOFTWARE\\Dorvex ISDN (the Uninstall shortcut shared by 2 products); "
        "HKLM\\SOFTWARE\\Dorvex\\ISDN; the old protocols' modem keys and a \"Dorvex ISDN V.120\" modem entry. "
        "The list also names \"HKLM\\\", which must never empty the root.");

    // --- patchkit -------------------------------------------------------------------------------
    winetest::SetProgramVersion("patchkit.exe", "win2k");
    winetest::SetProgramVersion("apremover.exe", "win2k");
    winetest::Process patchkit;
    if (!patchkit.Start(winetest::ProgramFolder() + "\\patchkit.exe")) return Fail("cannot start patchkit.exe");
    Say("2. patchkit starts (no /NS: it cleans up and ends by itself) ...");
    if (!patchkit.Wait(60000)) return Fail("patchkit did not end");
    Say("   patchkit ended with exit code " + std::to_string(patchkit.exit_code()) + ":");
    Report("modem keys HDLCPPP, X75", !KeyExists("System\\CurrentControlSet\\Services\\Class\\Modem\\HDLCPPP"));
    Report("modem entry \"Dorvex ISDN V.120\"", !KeyExists(kModemEntry));
    Report("line test shortcut LINEEC~1.LNK", !Exists(utilities + "\\LINEEC~1.LNK"));
    Report("old files msgcore.dll, zov.dll, cardflash.exe, cardflash.ini, tvl5324a.mpk",
           !Exists(kFolder + "\\msgcore.dll") && !Exists(kFolder + "\\cardflash.exe"));
    Report("the uninstaller apremover.exe (kept: it is started from there)", !Exists(kFolder + "\\apremover.exe"));

    // --- remover, started by patchkit -----------------------------------------------------------
    Say("3. patchkit started \"apremover.exe c:\\dorvex\\isdn\\apremover.uni\" in " + kFolder + ":");
    HWND first = WaitAnyDialog("UnInstall", 30000);
    if (!first) return Fail("the uninstaller showed nothing");
    DWORD pid = 0;
    GetWindowThreadProcessId(first, &pid);
    if (!AnswerBox(pid, IDOK, "OK")) return Fail("no confirmation box");
    HWND dlg = ui::WaitDialog(pid, "UnInstall for Dorvex ISDN", 30000);
    if (!dlg) return Fail("no uninstall dialog");
    Say("4. Dialog \"" + ui::Text(dlg) + "\":");
    Say(Indent(ui::ControlText(dlg, IDC_TEXT_MAIN) + "\n" + ui::ControlText(dlg, IDC_TEXT_LINE1) + "\n" +
               ui::ControlText(dlg, IDC_TEXT_LINE2)));
    Say("   pressing \"Finish\" ...");
    ui::Click(dlg, IDOK);
    HWND box = ui::WaitMessageBox(pid, 30000);
    if (!box) return Fail("no report");
    Say("5. The stages as the dialog shows them at the end:");
    std::string stages;
    for (int id : {IDC_TEXT_MAIN, IDC_TEXT_LINE1, IDC_TEXT_LINE2, IDC_TEXT_LINE3, IDC_TEXT_LINE4}) {
        std::string line = ui::ControlText(dlg, id);
        for (size_t at; (at = line.find('\t')) != std::string::npos;) line.replace(at, line.find_first_not_of('\t', at) - at, "  ");
        stages += line + "\n";
    }
    Say(Indent(stages));
    if (!AnswerBox(pid, IDOK, "OK")) return Fail("no report box");
    Say("6. The restart question (answered No: a restart would end the Wine session):");
    if (!AnswerBox(pid, IDNO, "No")) return Fail("no restart question");
    for (int i = 0; i < 200 && FindWindowA("#32770", "UnInstall for Dorvex ISDN"); ++i) Sleep(50);

    Say("7. What the uninstaller removed and what stayed:");
    Report("shortcut ISDN Configuration.lnk and its program dialconf.exe",
           !Exists(group + "\\ISDN Configuration.lnk") && !Exists(kFolder + "\\dialconf.exe"));
    Report("shortcut Notepad.lnk", !Exists(group + "\\Notepad.lnk"));
    Report("notepad.exe (outside the installation)", !Exists(windows + "\\notepad.exe"));
    Report("shortcut Uninstall.lnk (another product still counts on it)", !Exists(group + "\\Uninstall.lnk"));
    Report("serlink.ini, Logs\\trace.log, the folder Logs", !Exists(kFolder + "\\Logs"));
    Report("the list APREMOVER.UNI", !Exists(kFolder + "\\APREMOVER.UNI"));
    Report("HKLM\\SOFTWARE\\Dorvex\\ISDN", !KeyExists("SOFTWARE\\Dorvex\\ISDN"));
    Report("the whole of HKLM\\SOFTWARE (the line \"HKLM\\\")", !KeyExists("SOFTWARE\\Microsoft"));
    Report("product key HKLM\\SOFTWARE\\Dorvex ISDN (Uninstall count now 1)", !KeyExists("SOFTWARE\\Dorvex ISDN"));
    Report("apremover.exe (it was running: deleted at the next start)", !Exists(kFolder + "\\apremover.exe"));
    Report(kFolder, !Exists(kFolder));
    if (!KeyExists("SOFTWARE\\Microsoft") || Exists(windows + "\\notepad.exe") == false)
        return Fail("something outside the installation went");
    Say("demo: patchkit and remover done.");
    return 0;
}
