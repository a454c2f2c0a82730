// remover as a user runs it, under Wine, over fixture installations: the checks of the list
// and their boxes, the dialog, and whole removals with their boxes, answered as a user would
// (the restart question always No).
#include "remover/program_fixture.h"

#include <memory>
#include <thread>

namespace rmtest {
namespace {

const std::string kList = std::string(RemoverTest::kRoot) + "\\app.uni";

struct StartCase {
    const char* name;
    const char* version;
    const char* args;      // "$" stands for the list's path
    const char* list;      // nullptr: no file
    const char* box;       // the first box's text ("$" the path), "" none, "-" the dialog
    const char* caption;
    int answer;            // to the box
    DWORD exit_code;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

std::string Fill(std::string s, const std::string& path) {
    for (size_t at; (at = s.find('$')) != std::string::npos;) s.replace(at, 1, path);
    return s;
}

class RemoverStartTest : public RemoverTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(RemoverStartTest, ChecksTheListBeforeTheDialog) {
    const StartCase& c = GetParam();
    std::string path = kList;
    if (std::string(c.name) == "LongPathInQuotes") {
        std::string dir = std::string(kRoot) + "\\" + std::string(70, 'd') + "\\" + std::string(70, 'e');
        Dir(dir);
        path = dir + "\\app.uni";
        ASSERT_GT(path.size(), 128u);
    }
    if (c.list) Put(path, c.list);
    Start(Fill(c.args, path), c.version);
    if (std::string(c.box) == "-") {
        HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall");
        ASSERT_TRUE(dlg);
        EXPECT_FALSE(ui::IsMessageBox(dlg));
        ui::Click(dlg, IDCANCEL);
    } else if (*c.box) {
        Box b = Answer(c.answer);
        EXPECT_EQ(b.text, Fill(c.box, path));
        EXPECT_EQ(b.caption, c.caption);
        if (std::string(c.name) == "MessageCancelled") {
            EXPECT_FALSE(ui::WaitDialog(p_.pid(), "UnInstall", 1500));
        }
        if (std::string(c.name) == "MessageAccepted") {
            HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall Application");
            ASSERT_TRUE(dlg);
            ui::Click(dlg, IDCANCEL);
        }
    }
    EXPECT_EQ(ExitCode(), c.exit_code);
    if (c.list) {
        EXPECT_TRUE(Exists(path)) << "nothing is removed before Finish";
    }
}

constexpr DWORD kFailed = static_cast<DWORD>(-1);

const StartCase kStartCases[] = {
    {"NoPath", "win2k", "", nullptr, "A path to an .UNI file is not specified.", "UnInstall", IDOK, 0},
    {"BlankPath", "win2k", "   ", nullptr, "A path to an .UNI file is not specified.", "UnInstall", IDOK, 0},
    {"NoFile", "win2k", "$", nullptr, "The file that is specified does not exist:\n$", "UnInstall", IDOK, 0},
    {"NoVersion", "win2k", "$", "[Version]\r\nProductName=X\r\n",
     "$ is an invalid UNI file.  It does not contain a version number.", "UnInstall", IDOK, kFailed},
    {"EmptyFile", "win2k", "$", "", "$ is an invalid UNI file.  It does not contain a version number.", "UnInstall",
     IDOK, kFailed},
    {"NewerVersion", "win2k", "$", "[Version]\r\nFileVersion=1.01\r\n",
     "$ is an invalid UNI file.  Its version is incompatible with UnInstall.", "UnInstall", IDOK, kFailed},
    {"VersionOne", "win2k", "$", "[Version]\r\nFileVersion=1.0\r\n", "-", "", 0, 0},
    {"VersionNotANumber", "win2k", "$", "[Version]\r\nFileVersion=abc\r\n", "-", "", 0, 0},
    {"LongPathInQuotes", "win2k", "\"$\"", "[Version]\r\nFileVersion=1\r\n", "-", "", 0, 0},
    {"MessageCancelled", "win2k", "$", "[Version]\r\nFileVersion=1\r\nUninstallMessage=Remove the old one?\r\n",
     "Remove the old one?", "UnInstall", IDCANCEL, 0},
    {"MessageAccepted", "win2k", "$", "[Version]\r\nFileVersion=1\r\nUninstallMessage=Remove the old one?\r\n",
     "Remove the old one?", "UnInstall", IDOK, 0},
    {"Win32s", "win31", "$", "[Version]\r\nFileVersion=1\r\n",
     "This is a 32-bit application.  It can not run on a 16-bit system.", "Error", IDOK, kFailed},
    {"WindowsNT3", "nt351", "$", "[Version]\r\nFileVersion=1\r\n", "", "", 0, kFailed},
};

INSTANTIATE_TEST_SUITE_P(Lists, RemoverStartTest, ::testing::ValuesIn(kStartCases),
                         [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST_F(RemoverTest, DialogNamesTheProduct) {
    Put(kList, "[Version]\r\nFileVersion=1\r\nProductName=Dorvex Test\r\n");
    Start(kList);
    HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall for Dorvex Test");
    ASSERT_TRUE(dlg);
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_MAIN), "UnInstall will completely remove all the files associated with Dorvex Test");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE1), "To exit UnInstall now click Cancel.");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE2), "To complete UnInstall click Finish.");
    EXPECT_EQ(ui::ControlText(dlg, IDOK), "Finish");
    ui::Click(dlg, IDCANCEL);
    EXPECT_EQ(ExitCode(), 0u);

    Put(kList, "[Version]\r\nFileVersion=1\r\n");
    Start(kList);
    dlg = ui::WaitDialog(p_.pid(), "UnInstall Application");
    ASSERT_TRUE(dlg);
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_MAIN), "UnInstall will completely remove all the files associated with NOT FOUND");
    ui::Click(dlg, IDCANCEL);
    EXPECT_EQ(ExitCode(), 0u);
}

// A whole installation: programs to launch, shortcuts of counts 1 and 3 with targets inside and
// outside the installation, files (one held open), created files, a nested registry tree, a
// line with an unknown root, directories, the product key.
TEST_F(RemoverTest, RemovesAnInstallation) {
    const std::string app = std::string(kRoot) + "\\App", group = std::string(kRoot) + "\\Menu\\App Group";
    const std::string outside = std::string(kRoot) + "\\Outside";
    Dir(app + "\\Sub\\Deep");
    Dir(group);
    Dir(outside);
    ASSERT_TRUE(CopyFileA(Recorder().c_str(), (app + "\\clean.exe").c_str(), FALSE));
    for (const char* f : {"main.exe", "main2.exe", "shared.exe", "held.dll", "data.log", "uninst.exe"}) Put(app + "\\" + f);
    Put(outside + "\\tool.exe");
    ASSERT_TRUE(MakeShortcut(group + "\\Main.lnk", app + "\\main2.exe"));
    ASSERT_TRUE(MakeShortcut(group + "\\Readme.lnk", outside + "\\tool.exe"));
    ASSERT_TRUE(MakeShortcut(group + "\\Shared.lnk", app + "\\shared.exe"));
    ASSERT_TRUE(MakeShortcut(group + "\\Uninstall.lnk", app + "\\uninst.exe", app + "\\app.uni"));
    const std::string list = app + "\\app.uni";
    Put(list,
        "[Version]\r\nFileVersion=1\r\nProductName=Dorvex Test\r\nFolderName=" + group + "\r\nDestinationDir=" + app +
            "\r\n"
            "[Launch]\r\n" + app + "\\clean.exe,/quiet,two\r\n"
            "[ShortcutList]\r\n" + group + "\\Main.lnk\r\n" + group + "\\Readme.lnk\r\n" + group + "\\Shared.lnk\r\n" +
            group + "\\Uninstall.lnk\r\n"
            "[FileList]\r\n" + app + "\\main.exe\r\n" + app + "\\held.dll\r\n" + app + "\\clean.exe\r\n"
            "[CreatedAfterInstall]\r\n" + app + "\\data.log\r\n" + app + "\\never-made.tmp\r\n"
            "[RegistryList]\r\nHKLM\\SOFTWARE\\RmTest\\Nested\r\nXXXX\\SOFTWARE\\RmTest\\Bogus\r\n"
            "HKCU\\Software\\RmTest\\User\\\r\n"
            "[DirectoryList]\r\n" + app + "\\Sub\\Deep\r\n");
    winetest::RegFixture reg(
        "[HKLM\\SOFTWARE\\App Group]\n\"FolderCreated\"=dword:1\n\"DirectoryCreated\"=dword:1\n"
        "\"Main\"=dword:1\n\"Shared\"=dword:3\n"
        "[HKLM\\SOFTWARE\\RmTest\\Nested\\A\\B\\C]\n\"v\"=\"1\"\n[HKLM\\SOFTWARE\\RmTest\\Nested\\D]\n"
        "[HKLM\\SOFTWARE\\RmTest\\Bogus]\n[HKCU\\Software\\RmTest\\User\\X]\n");
    // A file in use: held open without sharing by this process while remover runs.
    HANDLE held = CreateFileA((app + "\\held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    Start(list);
    HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall for Dorvex Test");
    ASSERT_TRUE(dlg);
    ui::Click(dlg, IDOK);
    Box report = Answer(IDOK, 30000);
    EXPECT_EQ(report.caption, "UnInstall");
    EXPECT_EQ(report.text, "UnInstall completed successfully.");
    Box reboot = Answer(IDNO);
    EXPECT_EQ(reboot.caption, "UnInstall");
    EXPECT_EQ(reboot.text,
              "For changes to take effect, UnInstall recommends you reboot your system.  Would you like to reboot "
              "your system now?");
    EXPECT_EQ(ExitCode(), 0u);
    CloseHandle(held);

    // [Launch] ran with its arguments before the program's own file went.
    EXPECT_NE(Get(app + "\\started.txt").find("/quiet two"), std::string::npos) << Get(app + "\\started.txt");
    // Shortcuts: count 1 goes with its target; a target outside the installation stays; count 3
    // becomes 2; the uninstall shortcut goes, but its program (inside the installation, not in
    // [FileList]) stays, as its arguments name an uninstall list.
    EXPECT_FALSE(Exists(group + "\\Main.lnk"));
    EXPECT_FALSE(Exists(app + "\\main2.exe"));
    EXPECT_FALSE(Exists(group + "\\Readme.lnk"));
    EXPECT_TRUE(Exists(outside + "\\tool.exe"));
    EXPECT_TRUE(Exists(group + "\\Shared.lnk"));
    EXPECT_TRUE(Exists(app + "\\shared.exe"));
    EXPECT_FALSE(Exists(group + "\\Uninstall.lnk"));
    EXPECT_TRUE(Exists(app + "\\uninst.exe"));
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\App Group", "Shared"), 2);
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\App Group", "Main"), -1);
    // Files, created files, the held file at the next start.
    EXPECT_FALSE(Exists(app + "\\main.exe"));
    EXPECT_FALSE(Exists(app + "\\clean.exe"));
    EXPECT_FALSE(Exists(app + "\\data.log"));
    EXPECT_TRUE(Exists(app + "\\held.dll"));
    std::vector<std::string> pending = PendingRenames();
    ASSERT_GE(pending.size(), 1u);
    EXPECT_EQ(pending[0], "\\??\\" + app + "\\held.dll");
    // The registry: the nested tree and the user's key gone; an unknown root is no line.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmTest\\Nested"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmTest\\Bogus"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\RmTest\\User"));
    // The list file went first, and its [DirectoryList] was still followed.
    EXPECT_FALSE(Exists(list));
    EXPECT_FALSE(Exists(app + "\\Sub"));
    // Still in use by the shared shortcut: the product key, the folder and the destination.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\App Group"));
    EXPECT_TRUE(Exists(group));
    EXPECT_TRUE(Exists(app));
}

// The last product of a shared key: the key, the program folder and the destination go, nothing
// waits for a restart, so no restart is offered. The dialog shows the stages, newest on top.
TEST_F(RemoverTest, RemovesTheLastProductOfItsKey) {
    const std::string app = std::string(kRoot) + "\\App", group = std::string(kRoot) + "\\Menu\\App Group";
    Dir(app);
    Dir(group);
    Put(app + "\\main.exe");
    ASSERT_TRUE(MakeShortcut(group + "\\Main.lnk", app + "\\main.exe"));
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\nProductName=Dorvex Test\r\nFolderName=" + group + "\\\r\nDestinationDir=" +
                  app + "\r\n[ShortcutList]\r\n" + group + "\\Main.lnk\r\n");
    winetest::RegFixture reg("[HKLM\\SOFTWARE\\App Group]\n\"FolderCreated\"=\"\"\n\"Main\"=dword:1\n");
    Start(list);
    HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall for Dorvex Test");
    ASSERT_TRUE(dlg);
    ui::Click(dlg, IDOK);
    HWND box = ui::WaitMessageBox(p_.pid(), 30000);
    ASSERT_TRUE(box);
    EXPECT_EQ(ui::MessageBoxText(box), "UnInstall completed successfully.");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_MAIN), "Deletion completed.");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE1), "Directories\t\t\t\t\t\tDone");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE2), "Files\t\t\t\t\t\t\tDone");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE3), "Shortcuts\t\t\t\t\t\tDone");
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE4), "Application Files\t\t\t\t\t\tDone");
    EXPECT_FALSE(ui::IsEnabled(dlg, IDOK));
    EXPECT_FALSE(ui::IsEnabled(dlg, IDCANCEL));
    ui::Click(box, IDOK);
    EXPECT_EQ(ExitCode(), 0u) << "a restart question came: " << Answer(IDNO).text;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\App Group"));
    EXPECT_FALSE(Exists(group));
    EXPECT_FALSE(Exists(app));
    EXPECT_FALSE(Exists(list));
    EXPECT_TRUE(Exists(std::string(kRoot) + "\\Menu"));
}

// The directory walk compares paths as the file system does and never reaches the destination's
// parents; an entry outside the destination removes only itself.
TEST_F(RemoverTest, WalksDirectoriesInsideTheDestinationOnly) {
    const std::string app = std::string(kRoot) + "\\App";
    Dir(app + "\\Data\\Cache");
    Dir(std::string(kRoot) + "\\Outside\\Empty");
    Dir(std::string(kRoot) + "\\Sibling");
    const std::string list = app + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\nDestinationDir=" + app +
                  "\\\r\n[FileList]\r\n" + list + "\r\n[DirectoryList]\r\nc:\\RMTEST\\APP\\data\\cache\\\r\n" + kRoot +
                  "\\Outside\\Empty\r\n" + app + "\\..\\Sibling\r\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_FALSE(Exists(app));  // [FileList] took the list file before the walk: the walk still ran
    EXPECT_TRUE(Exists(kRoot));
    EXPECT_FALSE(Exists(std::string(kRoot) + "\\Outside\\Empty"));
    EXPECT_TRUE(Exists(std::string(kRoot) + "\\Outside"));
    EXPECT_FALSE(Exists(std::string(kRoot) + "\\Sibling"));
}

// The hive of the user this program runs as, as HKEY_USERS names it ("" when none is found).
std::string UserHive() {
    HKEY users = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, &users) != ERROR_SUCCESS) return "";
    std::string found;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(users, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string n = name;
        if (n.rfind("S-1-5-21-", 0) == 0 && n.find("_Classes") == std::string::npos) found = n;
    }
    RegCloseKey(users);
    return found;
}

// Lines that would name a whole root, one of its top-level keys, or such a root under another
// name (all classes, a control set, a user's whole software) in any spelling, are no lines: a
// sentinel key under each stays. Keys of the product's own below them go. A tree with a key that
// cannot be deleted (its name has no spelling in the ANSI code page) loses everything else, and
// the walk ends.
TEST_F(RemoverTest, RegistryLinesNeverTakeARoot) {
    const std::string user = UserHive();
    ASSERT_FALSE(user.empty());
    // The user's hive is this program's HKCU: a sentinel written there shows under both names.
    const std::vector<std::pair<HKEY, std::string>> shared = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE"}, {HKEY_CURRENT_USER, "Software"}, {HKEY_LOCAL_MACHINE, "SYSTEM"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"}, {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"},
        {HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001"}, {HKEY_USERS, ".DEFAULT\\Software"},
        {HKEY_USERS, user + "\\Software\\Classes"},
    };
    std::string fixture = "[HKLM\\SOFTWARE\\RmTest\\Tree\\A\\A1]\n[HKLM\\SOFTWARE\\RmTest\\Tree\\Z]\n"
                          "[HKLM\\SOFTWARE\\Classes\\RmTestClass\\shell]\n[HKU\\" + user + "\\Software\\RmTest\\Mine]\n"
                          "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\RmTestDrv\\Enum]\n";
    const char* const kRootNames[] = {"HKLM", "HKCU", "HKLM", "HKLM", "HKLM", "HKLM", "HKU", "HKU"};
    for (size_t i = 0; i < shared.size(); ++i)
        fixture += std::string("[") + kRootNames[i] + "\\" + shared[i].second + "\\RmSentinel]\n\"v\"=\"1\"\n";
    winetest::RegFixture reg(fixture);
    HKEY odd = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RmTest\\Tree\\\x4E2D\x6587", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &odd, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(odd);

    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list,
        "[Version]\r\nFileVersion=1\r\n[RegistryList]\r\nHKLM\\\r\nHKCU\\   \r\nHKLM\\\\\r\n"
        "HKLM\\SOFTWARE\r\nHKLM\\SOFTWARE\\\r\nHKLM\\SOFTWARE\\ \\\r\nHKLM\\SYSTEM\r\nHKCU\\Software\r\n"
        "HKLM\\SOFTWARE\\Classes\r\nHKLM\\software\\CLASSES\\\\\r\nHKLM\\SOFTWARE\\ Classes \r\n"
        "HKLM\\SYSTEM\\CurrentControlSet\r\nHKLM\\SYSTEM\\\\currentcontrolset\\\r\nHKLM\\SYSTEM\\ControlSet001\r\n"
        "HKLM\\SOFTWARE\\RmTest\\..\\..\\SYSTEM\r\n"
        "HKUS\\.DEFAULT\\Software\r\nHKUS\\.default\\SOFTWARE\\\r\nHKUS\\" + user + "\\Software\r\n"
        "HKUS\\" + user + "\\Software\\Classes\r\nHKCU\\Software\\Classes\r\nHKCU\\software\\classes\\ \\\r\n"
        "HKLM\\SOFTWARE\\RmTest\\Tree\r\nHKLM\\SOFTWARE\\Classes\\RmTestClass\r\n"
        "HKUS\\" + user + "\\Software\\RmTest\\Mine\r\nHKLM\\SYSTEM\\CurrentControlSet\\Services\\RmTestDrv\r\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u);
    for (const auto& k : shared) EXPECT_TRUE(KeyExists(k.first, k.second + "\\RmSentinel")) << k.second;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\RmTestClass"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, user + "\\Software\\RmTest\\Mine"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\RmTestDrv"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmTest\\Tree\\A"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmTest\\Tree\\Z"));
    HKEY still = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RmTest\\Tree\\\x4E2D\x6587", 0, KEY_READ, &still),
              ERROR_SUCCESS);
    if (still) RegCloseKey(still);
}

// Shortcuts without a product key stay, and so do their targets.
TEST_F(RemoverTest, KeepsShortcutsWithoutAProductKey) {
    const std::string app = std::string(kRoot) + "\\App";
    Dir(app);
    Put(app + "\\main.exe");
    ASSERT_TRUE(MakeShortcut(app + "\\Main.lnk", app + "\\main.exe"));
    const std::string list = std::string(kRoot) + "\\app.uni";
    // No FolderName: no product key is looked at, least of all HKLM\SOFTWARE itself.
    Put(list, "[Version]\r\nFileVersion=1\r\nDestinationDir=" + app + "\r\n[ShortcutList]\r\n" + app + "\\Main.lnk\r\n");
    winetest::RegFixture reg("[HKLM\\SOFTWARE]\n\"Main\"=dword:1\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(Exists(app + "\\Main.lnk"));
    EXPECT_TRUE(Exists(app + "\\main.exe"));
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, "SOFTWARE", "Main"), 1);
}

// A product key that holds a key of its own is not the product's alone (a FolderName ending in
// "\\Classes" names every program's classes): it stays, with everything below it, and that is
// no failure to report.
TEST_F(RemoverTest, KeepsAProductKeyThatHoldsKeys) {
    const std::string group = std::string(kRoot) + "\\Menu\\RmShared";
    Dir(group);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\nFolderName=" + group + "\r\n");
    winetest::RegFixture reg("[HKLM\\SOFTWARE\\RmShared\\Other]\n\"v\"=\"1\"\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u) << "a restart question came: " << Answer(IDNO).text;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmShared\\Other"));
}

// The product key's only key is one that [RegistryList] removes: the key is looked at again
// after the list and goes then, with the program folder, and no restart is offered.
TEST_F(RemoverTest, RemovesAProductKeyThatTheListEmptied) {
    const std::string group = std::string(kRoot) + "\\Menu\\RmOwn";
    Dir(group);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\nFolderName=" + group +
                  "\r\n[RegistryList]\r\nHKLM\\SOFTWARE\\RmOwn\\Settings\r\n");
    winetest::RegFixture reg("[HKLM\\SOFTWARE\\RmOwn]\n\"FolderCreated\"=dword:1\n[HKLM\\SOFTWARE\\RmOwn\\Settings\\Deep]\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u) << "a box came: " << Answer(IDNO).text;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\RmOwn"));
    EXPECT_FALSE(Exists(group));
}

// A path value of HKLM, environment strings expanded ("" when missing).
std::string MachinePath(const std::string& key_path, const std::string& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value) - 1;
    LONG rc = RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return "";
    char expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
    return expanded;
}

const char* const kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A DestinationDir that names a folder every program shares, or one inside a shared tree, in any
// spelling, is no installation's own: a readme shortcut into it goes, the program it starts
// stays.
struct SharedCase {
    const char* name;
    enum Folder { kWindows, kProgramFiles, kDrivers, kFonts, kMicrosoftShared, kShortProgramFiles, kProfiles, kX86 } folder;
};

void PrintTo(const SharedCase& c, std::ostream* os) { *os << c.name; }

class RemoverSharedFolderTest : public RemoverTest, public ::testing::WithParamInterface<SharedCase> {};

TEST_P(RemoverSharedFolderTest, KeepsShortcutTargetsInSharedFolders) {
    const SharedCase& c = GetParam();
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof(system));
    const std::string program_files = MachinePath(kCurrentVersion, "ProgramFilesDir");
    ASSERT_FALSE(program_files.empty());
    std::string destination;
    std::unique_ptr<winetest::RegFixture> x86;
    switch (c.folder) {
    case SharedCase::kWindows: destination = WindowsFolder(); break;
    case SharedCase::kProgramFiles: destination = program_files; break;
    case SharedCase::kDrivers: destination = std::string(system) + "\\drivers"; break;
    case SharedCase::kFonts: destination = WindowsFolder() + "\\Fonts"; break;
    case SharedCase::kMicrosoftShared:
        destination = MachinePath(kCurrentVersion, "CommonFilesDir") + "\\Microsoft Shared";
        break;
    case SharedCase::kShortProgramFiles: {
        char short_name[MAX_PATH] = {};
        ASSERT_GT(GetShortPathNameA(program_files.c_str(), short_name, sizeof(short_name)), 0u);
        destination = short_name;
        ASSERT_NE(destination, program_files);
        break;
    }
    case SharedCase::kProfiles:
        destination = MachinePath("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProfilesDirectory");
        break;
    case SharedCase::kX86:
        // What 64-bit Windows shows a 32-bit program beside its ProgramFilesDir.
        destination = program_files + " (x86)";
        {
            std::string escaped;
            for (char ch : destination) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
            x86 = std::make_unique<winetest::RegFixture>("[HKLM\\" + std::string(kCurrentVersion) +
                                                         "]\n\"ProgramFilesDir (x86)\"=\"" + escaped + "\"\n");
        }
        break;
    }
    ASSERT_GT(destination.size(), 3u);
    Dir(destination);
    const std::string target = destination + "\\rmtool.exe";
    if (c.folder != SharedCase::kWindows) Put(target);
    const std::string group = std::string(kRoot) + "\\Menu\\App Group";
    Dir(group);
    ASSERT_TRUE(MakeShortcut(group + "\\Readme.lnk", c.folder == SharedCase::kWindows ? WindowsFolder() + "\\notepad.exe" : target));
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\nFolderName=" + group + "\r\nDestinationDir=" + destination +
                  "\r\n[ShortcutList]\r\n" + group + "\\Readme.lnk\r\n");
    winetest::RegFixture reg("[HKLM\\SOFTWARE\\App Group]\n\"Readme\"=dword:1\n");
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_FALSE(Exists(group + "\\Readme.lnk"));
    EXPECT_TRUE(Exists(c.folder == SharedCase::kWindows ? WindowsFolder() + "\\notepad.exe" : target)) << destination;
}

const SharedCase kSharedCases[] = {
    {"Windows", SharedCase::kWindows},
    {"ProgramFiles", SharedCase::kProgramFiles},
    {"Drivers", SharedCase::kDrivers},
    {"Fonts", SharedCase::kFonts},
    {"MicrosoftShared", SharedCase::kMicrosoftShared},
    {"ProgramFilesShortName", SharedCase::kShortProgramFiles},
    {"Profiles", SharedCase::kProfiles},
    {"ProgramFilesX86", SharedCase::kX86},
};

INSTANTIATE_TEST_SUITE_P(Folders, RemoverSharedFolderTest, ::testing::ValuesIn(kSharedCases),
                         [](const ::testing::TestParamInfo<SharedCase>& info) { return std::string(info.param.name); });

// Windows 9x: a file in use is deleted at the next start through WININIT.INI, by its short name;
// the restart is then offered although no product key asked for it. WININIT.INI holds every
// program's pending deletions: one that cannot be read whole, or written, stays as it was and the
// file is reported; one that another program holds open is replaced only by a complete copy, and
// another remover's new copy in the making is left alone. A remover that died between its two
// renames (its lock abandoned), or could not rename back, left no WININIT.INI but its aside
// copy: that copy goes back before the entry is added. A hidden system file stays one.
struct WininitCase {
    const char* name;
    const char* before;  // nullptr: no WININIT.INI; "/": a folder of that name
    enum Hold { kNone, kNoReading, kSharingDelete, kOthersCopy, kAsideCopy, kDiedBetweenRenames, kHiddenSystem } hold;
    const char* after;   // "$" stands for the short name; nullptr: unchanged, the file is reported
};

void PrintTo(const WininitCase& c, std::ostream* os) { *os << c.name; }

const char* const kOldEntries = "[Rename]\r\nNUL=C:\\OLD.TXT\r\n[Other]\r\nx=1\r\n";
const char* const kOldAndNew = "[Rename]\r\nNUL=C:\\OLD.TXT\r\nNUL=$\r\n[Other]\r\nx=1\r\n";

class RemoverWininitTest : public RemoverTest, public ::testing::WithParamInterface<WininitCase> {};

TEST_P(RemoverWininitTest, SchedulesFilesInUse) {
    const WininitCase& c = GetParam();
    const std::string wininit = WindowsFolder() + "\\WININIT.INI";
    if (c.before && std::string(c.before) == "/") {
        ASSERT_TRUE(CreateDirectoryA(wininit.c_str(), nullptr));
    } else if (c.before) {
        Put(wininit, c.before);
    }
    // Another program's handle on WININIT.INI, or another remover writing its new copy under the
    // name a fixed choice would take.
    HANDLE other = INVALID_HANDLE_VALUE;
    const std::string others_copy = wininit + ".NEW";
    if (c.hold == WininitCase::kOthersCopy) Put(others_copy, "[Rename]\r\nNUL=C:\\THEIRS.TXT");
    const DWORD hidden_system = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (c.hold == WininitCase::kHiddenSystem) {
        ASSERT_TRUE(SetFileAttributesA(wininit.c_str(), hidden_system));
    }
    // What a remover leaves that ends between its renames: the file as it was aside, its new
    // copy beside it, and (when it died) its lock abandoned.
    HANDLE dead_lock = nullptr;
    if (c.hold == WininitCase::kAsideCopy || c.hold == WininitCase::kDiedBetweenRenames) {
        Put(WindowsFolder() + "\\RMV1A2B.OLD", kOldEntries);
        Put(WindowsFolder() + "\\RMV1A2B.TMP", std::string(kOldEntries) + "NUL=C:\\DEAD.TXT\r\n");
    }
    if (c.hold == WininitCase::kDiedBetweenRenames) {
        std::thread([&dead_lock] { dead_lock = CreateMutexA(nullptr, TRUE, "DorvexRemoverWininit"); }).join();
        ASSERT_TRUE(dead_lock);
    }
    if (c.hold == WininitCase::kNoReading || c.hold == WininitCase::kSharingDelete ||
        c.hold == WininitCase::kOthersCopy) {
        const DWORD share = c.hold == WininitCase::kNoReading ? FILE_SHARE_DELETE
                            : c.hold == WininitCase::kSharingDelete ? FILE_SHARE_READ | FILE_SHARE_DELETE
                                                                      : 0;
        other = CreateFileA((c.hold == WininitCase::kOthersCopy ? others_copy : wininit).c_str(), GENERIC_READ, share,
                            nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
    }
    const std::string held_path = std::string(kRoot) + "\\held library.dll";
    Put(held_path);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + held_path + "\r\n");
    HANDLE held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    char short_name[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(held_path.c_str(), short_name, sizeof(short_name)), 0u);
    ASSERT_NE(std::string(short_name), held_path);

    Start(list, "win98");
    const std::string report = Finish();
    if (c.after) {
        EXPECT_EQ(report, "UnInstall completed successfully.");
        EXPECT_EQ(Answer(IDNO).caption, "UnInstall");
    } else {
        EXPECT_EQ(report,
                  "UnInstall was unable to remove the following files which have either been moved or are currently "
                  "in use:\n" + held_path + "\n");
    }
    EXPECT_EQ(ExitCode(), 0u);
    CloseHandle(held);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    if (dead_lock) CloseHandle(dead_lock);
    if (!c.before || std::string(c.before) != "/") {
        EXPECT_EQ(Get(wininit), Fill(c.after ? c.after : c.before, short_name));
    }
    if (c.hold == WininitCase::kHiddenSystem) {
        EXPECT_EQ(GetFileAttributesA(wininit.c_str()) & hidden_system, hidden_system);
        SetFileAttributesA(wininit.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (c.hold == WininitCase::kOthersCopy) {
        EXPECT_EQ(Get(others_copy), "[Rename]\r\nNUL=C:\\THEIRS.TXT");
    }
    // Nothing of the remover's own is left beside it.
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((WindowsFolder() + "\\*.*").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do {
        const std::string name = fd.cFileName;
        if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".TMP") == 0 || name.compare(name.size() - 4, 4, ".OLD") == 0))
            names.push_back(name);
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    EXPECT_TRUE(names.empty()) << names.front();
    EXPECT_TRUE(PendingRenames().empty()) << "Windows 9x has no rename list";
}

const WininitCase kWininitCases[] = {
    {"NoFile", nullptr, WininitCase::kNone, "[Rename]\r\nNUL=$"},
    {"ExistingFile", kOldEntries, WininitCase::kNone, kOldAndNew},
    {"FileWithoutRename", "[Other]\r\nx=1\r\n", WininitCase::kNone, "[Other]\r\nx=1\r\n[Rename]\r\nNUL=$\r\n"},
    {"Unwritable", "/", WininitCase::kNone, nullptr},
    {"Unreadable", kOldEntries, WininitCase::kNoReading, nullptr},
    {"HeldOpen", kOldEntries, WininitCase::kSharingDelete, kOldAndNew},
    {"AnotherRemoversCopy", kOldEntries, WininitCase::kOthersCopy, kOldAndNew},
    {"RenameBackFailed", nullptr, WininitCase::kAsideCopy, kOldAndNew},
    {"DiedBetweenRenames", nullptr, WininitCase::kDiedBetweenRenames, kOldAndNew},
    {"HiddenSystemFile", kOldEntries, WininitCase::kHiddenSystem, kOldAndNew},
};

INSTANTIATE_TEST_SUITE_P(Win98, RemoverWininitTest, ::testing::ValuesIn(kWininitCases),
                         [](const ::testing::TestParamInfo<WininitCase>& info) { return std::string(info.param.name); });

// Windows 9x carries out WININIT.INI at the next start in a folder of its own: a relative
// [FileList] line (relative to the folder remover runs in) is scheduled by its full short name.
TEST_F(RemoverTest, Windows9xSchedulesRelativeFilesByTheirFullPath) {
    const std::string folder = std::string(kRoot) + "\\Run Here", held_path = folder + "\\held library.dll";
    Dir(folder);
    Put(held_path);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\nheld library.dll\r\n");
    HANDLE held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    char short_name[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(held_path.c_str(), short_name, sizeof(short_name)), 0u);
    Start(list, "win98", folder);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(Answer(IDNO).caption, "UnInstall");
    EXPECT_EQ(ExitCode(), 0u);
    CloseHandle(held);
    EXPECT_EQ(Get(WindowsFolder() + "\\WININIT.INI"), std::string("[Rename]\r\nNUL=") + short_name);
}

// A file whose name has no short form (a path longer than the ANSI calls take, with blanks): an
// entry with the long name would be no rename the next start can carry out. The file is
// reported, WININIT.INI is not touched and no restart is offered for it.
TEST_F(RemoverTest, Windows9xReportsFilesWithoutAShortName) {
    const std::string folder = std::string(kRoot) + "\\" + std::string(120, 'f') + " with blanks\\" +
                               std::string(120, 'g') + " more";
    const std::string file = folder + "\\held library.dll";
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    const std::wstring wide_folder = L"\\\\?\\" + std::wstring(folder.begin(), folder.end());
    const std::wstring parent = wide_folder.substr(0, wide_folder.find_last_of(L'\\'));
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(wide_folder.c_str(), nullptr));
    HANDLE made = CreateFileW((L"\\\\?\\" + std::wstring(file.begin(), file.end())).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + file + "\r\n");
    Start(list, "win98");
    EXPECT_EQ(Finish(),
              "UnInstall was unable to remove the following files which have either been moved or are currently "
              "in use:\n" + file + "\n");
    EXPECT_EQ(ExitCode(), 0u) << "a restart question came: " << Answer(IDNO).text;
    EXPECT_FALSE(Exists(WindowsFolder() + "\\WININIT.INI")) << Get(WindowsFolder() + "\\WININIT.INI");
}

// Removers take turns at WININIT.INI: while another one holds the turn, remover waits at its
// file in use (the Files stage does not end, the file is not written), and adds its entry once
// the turn is free.
TEST_F(RemoverTest, Windows9xWaitsForItsTurnAtWininit) {
    const std::string held_path = std::string(kRoot) + "\\held.dll", wininit = WindowsFolder() + "\\WININIT.INI";
    Put(held_path);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + held_path + "\r\n");
    HANDLE held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE turn = CreateMutexA(nullptr, TRUE, "DorvexRemoverWininit");
    ASSERT_TRUE(turn);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    Start(list, "win98");
    HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall");
    ASSERT_TRUE(dlg);
    ui::Click(dlg, IDOK);
    // Read without a message: the dialog's thread is blocked while it waits.
    auto line1 = [dlg] {
        char text[128] = {};
        GetWindowTextA(GetDlgItem(dlg, IDC_TEXT_LINE1), text, sizeof(text));
        return std::string(text);
    };
    ASSERT_TRUE(ui::WaitUntil([&] { return line1() == "Files\t\t\t\t\t\t\t"; }, 20000)) << line1();
    EXPECT_FALSE(ui::WaitMessageBox(p_.pid(), 3000)) << "no wait for the turn";
    EXPECT_EQ(line1(), "Files\t\t\t\t\t\t\t");
    EXPECT_FALSE(Exists(wininit));
    ASSERT_TRUE(ReleaseMutex(turn));
    EXPECT_EQ(Answer(IDOK, 30000).text, "UnInstall completed successfully.");
    EXPECT_EQ(Answer(IDNO).caption, "UnInstall");
    EXPECT_EQ(ExitCode(), 0u);
    CloseHandle(turn);
    CloseHandle(held);
    char short_name[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(held_path.c_str(), short_name, sizeof(short_name)), 0u);
    EXPECT_EQ(Get(wininit), std::string("[Rename]\r\nNUL=") + short_name);
}

// Files in use take the road of the platform: Windows NT after 2000 (system code 0) has the
// rename list too, and WININIT.INI, which only Windows 9x carries out, stays untouched there.
TEST_F(RemoverTest, SchedulesOnTheRoadOfThePlatform) {
    const std::string held_path = std::string(kRoot) + "\\held.dll";
    Put(held_path);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + held_path + "\r\n");
    HANDLE held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Start(list, "win7");
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(Answer(IDNO).caption, "UnInstall");
    EXPECT_EQ(ExitCode(), 0u);
    CloseHandle(held);
    const std::vector<std::string> pending = PendingRenames();
    ASSERT_GE(pending.size(), 1u);
    EXPECT_EQ(pending[0], "\\??\\" + held_path);
    EXPECT_FALSE(Exists(WindowsFolder() + "\\WININIT.INI"));
}

// Windows 2000 with a rename list the system cannot extend (a value of the wrong type): a file in
// use that cannot be scheduled is reported, and no restart is offered for it.
TEST_F(RemoverTest, ReportsAFileThatCannotBeScheduled) {
    const std::string held_path = std::string(kRoot) + "\\held.dll";
    Put(held_path);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + held_path + "\r\n");
    winetest::RegFixture reg(
        "[HKLM\\System\\CurrentControlSet\\Control\\Session Manager]\n\"PendingFileRenameOperations\"=dword:5\n");
    HANDLE held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Start(list);
    EXPECT_EQ(Finish(),
              "UnInstall was unable to remove the following files which have either been moved or are currently "
              "in use:\n" + held_path + "\n");
    EXPECT_EQ(ExitCode(), 0u) << "a restart question came: " << Answer(IDNO).text;
    CloseHandle(held);
    EXPECT_TRUE(Exists(held_path));
}

// A list section longer than any first buffer: every line is followed whole, the last one too.
// The lines are laid out so that a single read of 32,000 bytes would cut the last line
// "...\last.dll" to "...\last", a file that exists.
TEST_F(RemoverTest, ReadsLongSectionsWhole) {
    const std::string app = std::string(kRoot) + "\\App";
    Dir(app);
    const std::string last = app + "\\last.dll", cut = app + "\\last";
    // A cut section ends with its last string and two zeros, within size - 2 characters.
    const size_t before_last = 32000 - 2 - cut.size();
    std::string files;
    size_t used = 0;
    for (int i = 0; used < before_last; ++i) {
        std::string line = app + "\\never-installed-file-with-a-long-name-number-" + std::to_string(i) + ".dat";
        const size_t left = before_last - used;
        if (left < 2 * (line.size() + 1)) line = app + "\\" + std::string(left - 1 - app.size() - 1, 'p');
        files += line + "\r\n";
        used += line.size() + 1;
    }
    Put(last);
    Put(cut);
    const std::string list = std::string(kRoot) + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + files + last + "\r\n");
    {
        std::vector<char> buf(32000);
        DWORD n = GetPrivateProfileSectionA("FileList", buf.data(), static_cast<DWORD>(buf.size()), list.c_str());
        ASSERT_EQ(n, buf.size() - 2) << "the section does not fill a first buffer";
        size_t at = n;
        while (at > 0 && buf[at - 1] != '\0') --at;
        ASSERT_EQ(std::string(buf.data() + at), cut) << "a first read does not cut the last line there";
    }
    Start(list);
    EXPECT_EQ(Finish(), "UnInstall completed successfully.");
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_FALSE(Exists(last));
    EXPECT_TRUE(Exists(cut));
}

}  // namespace
}  // namespace rmtest
