// patchkit as it runs before a new installation, under Wine: the refusals, the registry
// clean-up per Windows version, the fixed-folder hand-over and the drive search, each in a
// throw-away prefix of its own (D: a folder of the case's own).
#include "remover/program_fixture.h"
#include "winetest/process.h"

namespace pktest {
namespace {

using rmtest::Dir;
using rmtest::Exists;
using rmtest::Get;
using rmtest::KeyExists;
using rmtest::Put;

const char* const kModemClass = "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

class PatchkitTest : public ::testing::Test {
protected:
    static std::string Exe() { return winetest::ProgramFolder() + "\\patchkit.exe"; }
    static std::string Recorder() { return winetest::ProgramFolder() + "\\..\\standins\\startrecorder.exe"; }

    void SetUp() override {
        // Only a prefix of the case's own: drives C: and D: are searched.
        char home[MAX_PATH] = {};
        GetEnvironmentVariableA("WINEPREFIX", home, sizeof(home));
        ASSERT_EQ(std::string(home).rfind("/tmp/winetest-own.", 0), 0u) << home;
        ASSERT_EQ(GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    }

    void Start(const std::string& version, const std::string& args = "") {
        ASSERT_TRUE(winetest::SetProgramVersion("patchkit.exe", version));
        ASSERT_TRUE(p_.Start(Exe(), args)) << p_.last_error();
    }
    // Without /NS the program ends by itself; no window of it stays.
    DWORD EndsByItself() {
        EXPECT_TRUE(p_.Wait(60000)) << "patchkit did not end by itself";
        return p_.exit_code();
    }
    // The uninstaller stand-in in `folder`; what it recorded of its start(s).
    void PlaceUninstaller(const std::string& folder) {
        ASSERT_TRUE(CopyFileA(Recorder().c_str(), (folder + "\\APREMOVER.EXE").c_str(), FALSE));
    }
    static std::string Started(const std::string& folder) {
        // The stand-in runs on its own; give it the time to write.
        for (int i = 0; i < 500 && !Exists(folder + "\\started.txt"); ++i) Sleep(20);
        Sleep(200);
        return Get(folder + "\\started.txt");
    }

    winetest::Process p_;
};

TEST_F(PatchkitTest, RefusesWin32sAndNt3) {
    const struct {
        const char* version;
        const char* text;
    } kCases[] = {
        {"win31", "This is a 32-bit application.  It can not run on a 16-bit system."},
        {"nt351", "This program is designed to run on Windows NT Version 4.0 or above."},
    };
    for (const auto& c : kCases) {
        Start(c.version);
        HWND box = ui::WaitMessageBox(p_.pid(), 20000);
        ASSERT_TRUE(box) << c.version;
        EXPECT_EQ(ui::MessageBoxText(box), c.text);
        EXPECT_EQ(ui::Text(box), "Error");
        ui::Click(box, IDOK);
        EXPECT_EQ(EndsByItself(), static_cast<DWORD>(-1));
    }
}

// The maker's modem class entries: two in a row go with their five subkeys; one with a subkey
// more cannot go and the walk moves on past it; entries of others stay.
const char* const kModemClassFixture =
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\n"
    "\"Model\"=\"Dorvex ISDN HDLC\"\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Settings]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000\\Extra]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001]\n"
    "\"Model\"=\"Dorvex ISDN V.120\"\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\\Settings\\Deep]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\\Monitor]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\\Init]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\\Hangup]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\\Answer]\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0002]\n"
    "\"Model\"=\"Dorvex ISDN X.75\"\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003]\n"
    "\"DriverDesc\"=\"no model\"\n"
    "[HKLM\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0004]\n"
    "\"Model\"=\"Other Modem 56k\"\n"
    "[HKLM\\System\\CurrentControlSet\\Enum\\Root\\DORVEX_ISDN]\n\"FriendlyName\"=\"Dorvex ISDN Adapter\"\n"
    "[HKLM\\System\\CurrentControlSet\\Enum\\Root\\DORVEX_ISDN\\0000\\LogConf]\n"
    "[HKLM\\System\\CurrentControlSet\\Enum\\Root\\OTHER_DEV]\n\"FriendlyName\"=\"Other device\"\n";

// Windows 9x deletes a key with its subkeys; NT leaves a key that still has one.
void ExpectModemClassCleaned(bool nt) {
    const std::string c = kModemClass;
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0000"), nt) << "it has a subkey more than the five";
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0000\\Extra"), nt);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0000\\Settings"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0001"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0002"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0003"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, c + "\\0004"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum\\Root\\DORVEX_ISDN"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum\\Root\\OTHER_DEV"));
}

// Windows 98 and 2000: the old protocols' modem keys, only when the first of them is there.
TEST_F(PatchkitTest, RemovesTheOldModemKeys) {
    for (const char* version : {"win98", "win2k"}) {
        SCOPED_TRACE(version);
        winetest::RegFixture reg(std::string(kModemClassFixture) +
                                 "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\HDLCPPP\\Sub]\n"
                                 "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\MLPPP]\n"
                                 "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\X75]\n"
                                 "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\Other]\n"
                                 "[HKLM\\Enum\\Root\\Modem\\MLPPP]\n"  // no HDLCPPP here: it stays
                                 "[HKLM\\Enum\\Root\\Modem\\V110]\n");
        Start(version);
        EXPECT_EQ(EndsByItself(), 0u);
        const std::string m = "System\\CurrentControlSet\\Services\\Class\\Modem";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, m + "\\HDLCPPP"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, m + "\\MLPPP"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, m + "\\X75"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, m + "\\Other"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Enum\\Root\\Modem\\MLPPP"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Enum\\Root\\Modem\\V110"));
        ExpectModemClassCleaned(std::string(version) == "win2k");
    }
}

// Windows NT 4: the Unimodem DeviceSpecific trees, whole; the others' modem keys are not NT 4's.
TEST_F(PatchkitTest, RemovesTheNt4DeviceSpecificTrees) {
    const std::string ds = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";
    const std::string fixture = std::string(kModemClassFixture) + "[HKLM\\" + ds +
                                "\\Dorvex ISDN ML-PPP::Dorvex::Dorvex\\Init\\1]\n\"x\"=\"AT\"\n"
                                "[HKLM\\" + ds + "\\Dorvex ISDN ML-PPP::Dorvex::Dorvex\\Answer]\n"
                                "[HKLM\\" + ds + "\\Dorvex ISDN V.110::Dorvex::Dorvex]\n\"y\"=dword:1\n"
                                "[HKLM\\" + ds + "\\Other Modem::Maker::Model]\n"
                                "[HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\HDLCPPP]\n";
    // With the trees and, in a second run, with none of them left: the program goes on.
    winetest::RegFixture reg(fixture);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Start("nt40");
        EXPECT_EQ(EndsByItself(), 0u);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ds + "\\Dorvex ISDN ML-PPP::Dorvex::Dorvex"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ds + "\\Dorvex ISDN V.110::Dorvex::Dorvex"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ds + "\\Other Modem::Maker::Model"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\Modem\\HDLCPPP"));
        ExpectModemClassCleaned(true);
    }
}

// The list in the fixed folder with the line test tool installed: its shortcut goes, the old
// files go group by group (a read-only file ends its group), the uninstaller stays and is
// started there, not awaited; with /NS the dialog stays until Exit.
TEST_F(PatchkitTest, HandsOverInTheFixedFolder) {
    const std::string folder = "c:\\Dorvex\\ISDN";
    Dir(folder);
    PlaceUninstaller(folder);
    Put(folder + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    for (const char* f : {"MSGCORE.DLL", "ZOV.DLL", "ZOVTEST.CNT", "CARDFLASH.EXE", "KWTEST32.DLL", "ZOVTEST.HPJ",
                          "CARDFLASH.INI", "CARDFLASH.HLP", "TVL5324A.MPK"})
        Put(folder + "\\" + f);
    ASSERT_TRUE(SetFileAttributesA((folder + "\\ZOV.DLL").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string menu = rmtest::WindowsFolder() + "\\Start Menu\\Programs\\Dorvex Utilities";
    Dir(menu);
    Put(menu + "\\LINEEC~1.LNK");
    winetest::RegFixture reg("[HKLM\\SOFTWARE\\Dorvex Utilities]\n\" Line Echo Check\"=dword:1\n");

    Start("win2k", "/ns");
    HWND dlg = ui::WaitDialog(p_.pid(), "Dorvex Linkmend", 20000);
    ASSERT_TRUE(dlg);
    EXPECT_EQ(Started(folder), "apremover.exe c:\\dorvex\\isdn\\apremover.uni|" + folder + "\r\n");
    EXPECT_FALSE(Exists(menu + "\\LINEEC~1.LNK"));
    EXPECT_TRUE(Exists(folder + "\\APREMOVER.EXE"));
    EXPECT_FALSE(Exists(folder + "\\MSGCORE.DLL"));
    EXPECT_TRUE(Exists(folder + "\\ZOV.DLL"));
    EXPECT_TRUE(Exists(folder + "\\ZOVTEST.CNT")) << "the read-only file ended group 1";
    for (const char* f : {"CARDFLASH.EXE", "KWTEST32.DLL", "ZOVTEST.HPJ", "CARDFLASH.INI", "CARDFLASH.HLP", "TVL5324A.MPK"})
        EXPECT_FALSE(Exists(folder + "\\" + f)) << f;
    EXPECT_TRUE(Exists(folder + "\\APREMOVER.UNI"));

    Sleep(500);
    EXPECT_TRUE(p_.running()) << "with /NS the dialog stays";
    EXPECT_TRUE(IsWindowVisible(dlg));
    // The system menu's own entry opens the About box.
    PostMessageA(dlg, WM_SYSCOMMAND, 0x10, 0);
    HWND about = ui::WaitDialog(p_.pid(), "About Linkmend");
    ASSERT_TRUE(about);
    EXPECT_EQ(ui::ControlText(about, 1000), "Linkmend Version 1.0");
    ui::Click(about, IDOK);
    ASSERT_TRUE(ui::WaitGone(about));
    ui::Click(dlg, IDCANCEL);
    EXPECT_EQ(EndsByItself(), 0u);
    SetFileAttributesA((folder + "\\ZOV.DLL").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The uninstaller is started by its full name in the list's folder: another program of that name
// that the system's search finds first (here one in the Windows folder, with the current folder
// left out of the search) is not started in its place.
TEST_F(PatchkitTest, StartsTheListsOwnUninstaller) {
    const std::string folder = "c:\\Dorvex\\ISDN", decoy = rmtest::WindowsFolder();
    Dir(folder);
    PlaceUninstaller(folder);
    PlaceUninstaller(decoy);
    Put(folder + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    ASSERT_TRUE(SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", "1"));
    Start("win2k");
    SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr);
    EXPECT_EQ(EndsByItself(), 0u);
    EXPECT_EQ(Started(folder), "apremover.exe c:\\dorvex\\isdn\\apremover.uni|" + folder + "\r\n");
    EXPECT_FALSE(Exists(decoy + "\\started.txt"));
}

DWORD RunAndWait(const std::string& cmd) {
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!winetest::CreateTestProcess(nullptr, line.data(), FALSE, 0, nullptr, &si, &pi)) return 999;
    WaitForSingleObject(pi.hProcess, 10000);
    DWORD code = 998;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// Unix path of a Windows path, through Wine's own export.
std::string UnixPath(const std::string& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return "";
    std::wstring wide(path.begin(), path.end());
    char* unix_path = fn(wide.c_str());
    if (!unix_path) return "";
    std::string out = unix_path;
    HeapFree(GetProcessHeap(), 0, unix_path);
    return out;
}

// No list in the fixed folder: the drive search hands over every list in an "ISDN" folder (case
// as written) on C:, D: and E:, unquoted, deleting group 2 there; it does not follow links (here
// one into the home folder, which holds a list as well).
TEST_F(PatchkitTest, SearchesTheDrives) {
    const std::string taken = "D:\\Old\\ISDN", blanks = "D:\\Old Stuff\\ISDN Tools", lower = "D:\\Other\\Isdn";
    for (const std::string& f : {taken, blanks, lower}) {
        Dir(f);
        PlaceUninstaller(f);
        Put(f + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
        Put(f + "\\MSGCORE.DLL");
        Put(f + "\\CARDFLASH.EXE");
        Put(f + "\\KWTEST32.DLL");
    }
    // The case's home folder lies beside its prefix.
    char prefix[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)), 0u);
    std::string home = prefix;
    home = home.substr(0, home.find_last_of('/')) + "/home";
    const std::string home_isdn = "Z:" + home + "\\ISDN";
    std::string home_win = home_isdn;
    for (char& c : home_win) if (c == '/') c = '\\';
    Dir(home_win);
    PlaceUninstaller(home_win);
    Put(home_win + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    // D:\Linked is a link to the home folder.
    const std::string target = UnixPath(home_win.substr(0, home_win.size() - 5)), link = UnixPath("D:\\") + "/Linked";
    ASSERT_FALSE(target.empty());
    // Made by a Linux program; a process started after it sees the link (this one may not).
    RunAndWait("/bin/ln -s " + target + " " + link);  // a Linux process leaves no exit code
    EXPECT_EQ(RunAndWait("cmd /c if exist D:\\Linked\\ISDN\\APREMOVER.UNI exit 7"), 7u);

    // A list whose path is as long as the ANSI calls take is handed over whole, never cut to a
    // shorter buffer. (A longer one no ANSI call reaches at all: the search cannot but pass it.)
    const std::string edge = "D:\\Edge\\" + std::string(232, 'a') + "\\ISDN";
    ASSERT_EQ((edge + "\\APREMOVER.UNI").size(), 259u);
    Dir(edge);
    Put(edge + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    PlaceUninstaller(edge);

    Start("win98");
    EXPECT_EQ(EndsByItself(), 0u);
    EXPECT_EQ(Started(edge), "APREMOVER.EXE " + edge + "\\APREMOVER.UNI|" + edge + "\r\n");
    EXPECT_EQ(Started(taken), "APREMOVER.EXE " + taken + "\\APREMOVER.UNI|" + taken + "\r\n");
    EXPECT_EQ(Started(blanks), "APREMOVER.EXE " + blanks + "\\APREMOVER.UNI|" + blanks + "\r\n");
    EXPECT_FALSE(Exists(lower + "\\started.txt"));
    EXPECT_FALSE(Exists(home_win + "\\started.txt")) << "the search followed a link out of the drive";
    for (const std::string& f : {taken, blanks}) {
        EXPECT_FALSE(Exists(f + "\\CARDFLASH.EXE")) << f;
        EXPECT_FALSE(Exists(f + "\\KWTEST32.DLL")) << f;
        EXPECT_TRUE(Exists(f + "\\MSGCORE.DLL")) << "group 1 only with the line test tool";
        EXPECT_TRUE(Exists(f + "\\APREMOVER.EXE"));
    }
    EXPECT_TRUE(Exists(lower + "\\CARDFLASH.EXE"));
}

// A list whose full path is longer than the ANSI calls take, in a folder that they still list
// (250 characters): it is passed over, never handed over cut or whole (here the system's search
// would find another program of the uninstaller's name in the Windows folder), and the search
// goes on to the next list.
TEST_F(PatchkitTest, PassesOverListsWithTooLongAPath) {
    const std::string deep = "D:\\L\\" + std::string(240, 'x') + "\\ISDN", taken = "D:\\Old\\ISDN";
    ASSERT_EQ(deep.size(), 250u);
    const std::wstring wide = L"\\\\?\\" + std::wstring(deep.begin(), deep.end());
    ASSERT_TRUE(CreateDirectoryW(L"\\\\?\\D:\\L", nullptr));
    ASSERT_TRUE(CreateDirectoryW(wide.substr(0, wide.size() - 5).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
    HANDLE list = CreateFileW((wide + L"\\APREMOVER.UNI").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    CloseHandle(list);
    const std::string decoy = rmtest::WindowsFolder();
    PlaceUninstaller(decoy);
    Dir(taken);
    PlaceUninstaller(taken);
    Put(taken + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    Start("win98");
    EXPECT_EQ(EndsByItself(), 0u);
    EXPECT_EQ(Started(taken), "APREMOVER.EXE " + taken + "\\APREMOVER.UNI|" + taken + "\r\n");
    Sleep(500);
    EXPECT_FALSE(Exists(decoy + "\\started.txt")) << Get(decoy + "\\started.txt");
}

// Windows NT 4 searches D: only while no uninstaller was handed over: a list on C: whose
// uninstaller is missing hands over nothing, so the search goes on to D:.
TEST_F(PatchkitTest, Nt4SearchGoesOnWhenTheUninstallerDidNotStart) {
    const std::string orphan = "C:\\Old\\ISDN", taken = "D:\\New\\ISDN";
    Dir(orphan);
    Put(orphan + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    Dir(taken);
    PlaceUninstaller(taken);
    Put(taken + "\\APREMOVER.UNI", "[Version]\r\nFileVersion=1\r\n");
    Start("nt40");
    EXPECT_EQ(EndsByItself(), 0u);
    EXPECT_EQ(Started(taken), "APREMOVER.EXE " + taken + "\\APREMOVER.UNI|" + taken + "\r\n");
}

}  // namespace
}  // namespace pktest
