// The rules of an uninstall over plain values: list lines, the paths of the installation, the
// directory walk, WININIT.INI entries and the system code.
#include "remover/uninstall_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace remover {
namespace {

std::vector<std::string> Strings(const std::vector<CString>& v) {
    std::vector<std::string> out;
    for (const CString& s : v) out.push_back(s.str());
    return out;
}

TEST(UninstallRules, SplitsSectionBuffers) {
    const char buf[] = "a.txt\0b c\0\0";
    EXPECT_EQ(Strings(SplitSection(buf, 10)), (std::vector<std::string>{"a.txt", "b c"}));
    EXPECT_TRUE(SplitSection(buf, 0).empty());
    // A reader that stopped inside a line: the part up to the length counts, nothing past it.
    const char cut[] = {'x', '\0', 'y', 'z', 'Q'};
    EXPECT_EQ(Strings(SplitSection(cut, 4)), (std::vector<std::string>{"x", "yz"}));
    EXPECT_TRUE(SplitSection(nullptr, 5).empty());
}

TEST(UninstallRules, TakesTheListPathFromTheCommandLine) {
    const struct {
        const char* command;
        const char* path;
    } kCases[] = {
        {"C:\\App\\app.uni", "C:\\App\\app.uni"},
        {"  \"C:\\Program Files\\App\\app.uni\"  ", "C:\\Program Files\\App\\app.uni"},
        {"\"\"C:\\a.uni\"\"", "\"C:\\a.uni\""},  // one pair only
        {"\"", "\""},
        {"", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(ListPathFromCommandLine(c.command).str(), c.path) << c.command;
}

TEST(UninstallRules, AcceptsFileVersionsUpToOne) {
    const struct {
        const char* text;
        bool ok;
    } kCases[] = {{"1", true}, {"1.0", true}, {"0.5", true}, {"abc", true}, {"1.01", false}, {"2", false},
                  {" 1.5", false}, {"-3", true}};
    for (const auto& c : kCases) EXPECT_EQ(FileVersionAccepted(c.text), c.ok) << c.text;
}

TEST(UninstallRules, ReadsRegistryLines) {
    const struct {
        const char* line;
        bool ok;
        RegRoot root;
        const char* subkey;
    } kCases[] = {
        {"HKLM\\SOFTWARE\\Dorvex\\App", true, RegRoot::LocalMachine, "SOFTWARE\\Dorvex\\App"},
        {"HKCU\\Software\\App\\", true, RegRoot::CurrentUser, "Software\\App"},
        {"HKCR\\.xyz", true, RegRoot::ClassesRoot, ".xyz"},
        {"HKCC\\System\\x", true, RegRoot::CurrentConfig, "System\\x"},
        {"HKUS\\.DEFAULT\\Software\\App", true, RegRoot::Users, ".DEFAULT\\Software\\App"},
        {"HKUS\\S-1-5-21-1-1000_Classes\\.xyz", true, RegRoot::Users, "S-1-5-21-1-1000_Classes\\.xyz"},
        {"HKLM\\SOFTWARE\\Classes\\.xyz", true, RegRoot::LocalMachine, "SOFTWARE\\Classes\\.xyz"},
        {"HKCU\\Software\\Classes\\CLSID\\{1}", true, RegRoot::CurrentUser, "Software\\Classes\\CLSID\\{1}"},
        {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\DorvexDrv", true, RegRoot::LocalMachine,
         "SYSTEM\\CurrentControlSet\\Services\\DorvexDrv"},
        {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App", true, RegRoot::LocalMachine,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App"},
        {"HKLM\\Enum\\Root\\Modem\\0000", true, RegRoot::LocalMachine, "Enum\\Root\\Modem\\0000"},
        {"HKPD\\x\\y", true, RegRoot::PerformanceData, "x\\y"},
        {"HKDD\\Config Manager\\Enum\\C29A0000", true, RegRoot::DynData, "Config Manager\\Enum\\C29A0000"},
        {"HKLM\\ \\SOFTWARE\\App\\ \\", true, RegRoot::LocalMachine, "SOFTWARE\\App"},
        // A top-level key takes everything below it: only classes are named so.
        {"HKLM\\SOFTWARE", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\ \\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM", false, RegRoot::LocalMachine, ""},
        {"HKCU\\Software", false, RegRoot::LocalMachine, ""},
        {"HKUS\\.DEFAULT", false, RegRoot::LocalMachine, ""},
        {"HKCC\\System", false, RegRoot::LocalMachine, ""},
        {"HKDD\\Config Manager", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\\\App", false, RegRoot::LocalMachine, ""},
        // The same roots under other names: all classes, a control set, a user's software.
        {"HKLM\\SOFTWARE\\Classes", false, RegRoot::LocalMachine, ""},
        {"HKLM\\software\\CLASSES\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\ Classes ", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\\\Classes", false, RegRoot::LocalMachine, ""},
        {"HKLM\\\\SOFTWARE\\Classes\\\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\Classes\\CLSID", false, RegRoot::LocalMachine, ""},
        {"HKCR\\CLSID", false, RegRoot::LocalMachine, ""},
        {"HKCR\\*", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\CurrentControlSet", false, RegRoot::LocalMachine, ""},
        {"HKLM\\system\\currentcontrolset\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\ControlSet001", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\ControlSet002\\Services", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}", false,
         RegRoot::LocalMachine, ""},
        {"HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SYSTEM\\Select", false, RegRoot::LocalMachine, ""},
        {"HKLM\\Enum\\Root", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\Microsoft", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false, RegRoot::LocalMachine, ""},
        {"HKUS\\.DEFAULT\\Software", false, RegRoot::LocalMachine, ""},
        {"HKUS\\.default\\SOFTWARE\\\\", false, RegRoot::LocalMachine, ""},
        {"HKUS\\S-1-5-21-1-1000\\Software", false, RegRoot::LocalMachine, ""},
        {"HKUS\\S-1-5-21-1-1000\\Software\\Classes", false, RegRoot::LocalMachine, ""},
        {"HKUS\\S-1-5-21-1-1000_Classes", false, RegRoot::LocalMachine, ""},
        {"HKUS\\S-1-5-21-1-1000_Classes\\CLSID", false, RegRoot::LocalMachine, ""},
        {"HKUS\\.DEFAULT\\x", false, RegRoot::LocalMachine, ""},
        {"HKCU\\Software\\Classes", false, RegRoot::LocalMachine, ""},
        {"HKCU\\SOFTWARE\\classes\\ \\", false, RegRoot::LocalMachine, ""},
        {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion", false, RegRoot::LocalMachine, ""},
        {"HKCC\\System\\CurrentControlSet", false, RegRoot::LocalMachine, ""},
        {"HKDD\\Config Manager\\Enum", false, RegRoot::LocalMachine, ""},
        // Components that name no key of their own.
        {"HKLM\\SOFTWARE\\App\\..\\..\\SYSTEM", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\.\\Classes", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\App\\.", false, RegRoot::LocalMachine, ""},
        {"HKLM\\SOFTWARE\\ \\App", false, RegRoot::LocalMachine, ""},
        // The whole root is never a list entry.
        {"HKLM\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\   ", false, RegRoot::LocalMachine, ""},
        {"HKLM\\\\\\", false, RegRoot::LocalMachine, ""},
        {"HKLM\\ \\ ", false, RegRoot::LocalMachine, ""},
        {"HKLM", false, RegRoot::LocalMachine, ""},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\x", false, RegRoot::LocalMachine, ""},
        {"hklm\\SOFTWARE\\x", false, RegRoot::LocalMachine, ""},
        {"XXXX\\SOFTWARE", false, RegRoot::LocalMachine, ""},
        {"", false, RegRoot::LocalMachine, ""},
    };
    for (const auto& c : kCases) {
        RegistryLine r;
        ASSERT_EQ(ParseRegistryLine(c.line, &r), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(r.root, c.root) << c.line;
        EXPECT_EQ(r.subkey.str(), c.subkey) << c.line;
    }
}

TEST(UninstallRules, NamesTheProductKeyAfterTheFolder) {
    const struct {
        const char* folder;
        const char* word;
    } kCases[] = {
        {"C:\\WINDOWS\\Start Menu\\Programs\\Dorvex ISDN", "Dorvex ISDN"},
        {"C:\\WINDOWS\\Start Menu\\Programs\\Dorvex ISDN\\", "Dorvex ISDN"},
        {"C:\\Grp", "Grp"},  // a last backslash among the first four characters
        {"Grp", "Grp"},
        {"NOT FOUND", ""},
        {"", ""},
        {"C:\\", ""},
        {"\\\\\\", ""},
        {"C:\\x\\..", ""},
        {"C:", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(FolderWord(c.folder).str(), c.word) << c.folder;
}

TEST(UninstallRules, NamesShortcutCounts) {
    const struct {
        const char* path;
        const char* title;
    } kCases[] = {
        {"C:\\Menu\\Programs\\Dorvex\\Line Echo Check.lnk", "Line Echo Check"},
        {"C:\\Menu\\Read.me.lnk", "Read"},
        {"C:\\Menu\\Read.me.pif", "Read.me.pif"},
        {"C:\\Menu\\", ""},
        {"plain.lnk", "plain"},
    };
    for (const auto& c : kCases) EXPECT_EQ(ShortcutTitle(c.path).str(), c.title) << c.path;
    EXPECT_TRUE(ArgumentsNameList("C:\\App\\app.UNI"));
    EXPECT_TRUE(ArgumentsNameList("x.uni"));
    EXPECT_FALSE(ArgumentsNameList("x.Uni /q"));
}

TEST(UninstallRules, CleansPaths) {
    const struct {
        const char* in;
        const char* out;
    } kCases[] = {
        {"C:\\App\\", "C:\\App"},
        {"C:/App//Sub\\\\x", "C:\\App\\Sub\\x"},
        {" C:\\App\\.\\Sub\\..\\Data ", "C:\\App\\Data"},
        {"C:\\", "C:\\"},
        {"C:\\..", ""},
        {"C:\\App\\..\\..", ""},
        {"C:\\App.\\x. ", "C:\\App\\x"},
        {"C:\\App\\...", ""},
        {"\\\\srv\\share\\x\\", "\\\\srv\\share\\x"},
        {"\\\\srv\\share\\..", ""},
        {"rel\\dir\\", "rel\\dir"},
        {"", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(CleanPath(c.in).str(), c.out) << c.in;
}

TEST(UninstallRules, KnowsWhatLiesInsideTheInstallation) {
    const struct {
        const char* path;
        const char* folder;
        bool inside;
    } kCases[] = {
        {"C:\\App\\a.exe", "C:\\App", true},
        {"c:\\app\\SUB\\a.exe", "C:\\App\\", true},
        {"C:\\App", "C:\\App", false},
        {"C:\\App\\", "C:\\App", false},
        {"C:\\Apple\\a.exe", "C:\\App", false},
        {"C:\\App\\..\\WINDOWS\\notepad.exe", "C:\\App", false},
        {"C:\\WINDOWS\\notepad.exe", "C:\\", false},  // a drive root is no installation
        {"C:\\WINDOWS\\notepad.exe", "C:", false},
        {"\\\\srv\\share\\x", "\\\\srv\\share", false},
        {"\\\\srv\\share\\app\\x", "\\\\srv\\share\\app", true},
        {"C:\\App\\a.exe", "", false},
        {"", "C:\\App", false},
        {"rel\\a", "rel", false},
    };
    for (const auto& c : kCases) EXPECT_EQ(IsInside(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

TEST(UninstallRules, WalksDirectoriesUpToTheDestination) {
    const struct {
        const char* entry;
        const char* destination;
        std::vector<std::string> dirs;
    } kCases[] = {
        {"C:\\App\\Data\\Cache", "C:\\App", {"C:\\App\\Data\\Cache", "C:\\App\\Data"}},
        // Case and a trailing backslash do not hide the destination (the walk never reaches it).
        {"c:\\app\\data\\", "C:\\App\\", {"c:\\app\\data"}},
        {"C:\\App", "C:\\App", {}},
        {"C:\\APP\\", "c:\\app", {}},
        // Outside: only the entry itself, never its parents.
        {"C:\\Other\\Deep\\Dir", "C:\\App", {"C:\\Other\\Deep\\Dir"}},
        {"C:\\App\\..\\WINDOWS\\x", "C:\\App", {"C:\\WINDOWS\\x"}},
        {"C:\\App\\Data", "C:\\", {"C:\\App\\Data"}},
        {"C:\\..\\x", "C:\\App", {}},
        {"", "C:\\App", {}},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Strings(DirectoryWalk(c.entry, c.destination)), c.dirs) << c.entry << " / " << c.destination;
}

TEST(UninstallRules, DeletesOnlyTheInstallationsShortcutTargets) {
    std::vector<CString> files = {"C:\\Shared\\tool.exe", "C:\\App\\main.exe", "C:\\WINDOWS\\app.hlp"};
    const std::vector<SharedFolder> shared = {
        {"C:\\WINDOWS", false},           {"C:\\WINDOWS\\SYSTEM", true},
        {"C:\\WINDOWS\\SYSTEM32", true}, {"C:\\WINDOWS\\Fonts", true},
        {"C:\\Program Files", false},     {"C:\\Program Files\\Common Files", true},
        {"C:\\Program Files (x86)", false}, {"C:\\Documents and Settings", true}};
    const struct {
        const char* target;
        const char* destination;
        bool ok;
    } kCases[] = {
        {"C:\\App\\main.exe", "C:\\App", true},
        {"C:\\App\\Sub\\help.exe", "C:\\App", true},
        {"c:\\shared\\TOOL.EXE", "C:\\App", true},
        {"C:\\WINDOWS\\notepad.exe", "C:\\App", false},
        {"C:\\Apple\\x.exe", "C:\\App", false},
        {"C:\\App\\..\\WINDOWS\\notepad.exe", "C:\\App", false},
        {"C:\\WINDOWS\\notepad.exe", "C:\\", false},
        {"C:\\App\\main.exe", "NOT FOUND", true},  // listed
        {"C:\\App\\other.exe", "NOT FOUND", false},
        {"", "C:\\App", false},
        // A shared folder given as the destination is no installation's own.
        {"C:\\WINDOWS\\notepad.exe", "C:\\WINDOWS", false},
        {"C:\\WINDOWS\\notepad.exe", "c:\\windows\\", false},
        {"C:\\WINDOWS\\SYSTEM\\x.dll", "C:\\WINDOWS\\SYSTEM", false},
        {"C:\\WINDOWS\\SYSTEM32\\x.dll", "C:\\WINDOWS\\System32", false},
        {"C:\\Program Files\\Other\\x.exe", "C:\\Program Files", false},
        {"C:\\Program Files\\Common Files\\x.dll", "C:\\Program Files\\Common Files", false},
        {"D:\\x.exe", "D:\\", false},
        {"C:\\WINDOWS\\app.hlp", "C:\\WINDOWS", true},  // listed
        // Inside a folder whose whole tree is shared: still everybody's.
        {"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\x.sys", "C:\\WINDOWS\\SYSTEM32\\DRIVERS", false},
        {"C:\\WINDOWS\\Fonts\\x.exe", "c:\\windows\\fonts\\", false},
        {"C:\\Program Files\\Common Files\\Microsoft Shared\\x.dll",
         "C:\\Program Files\\Common Files\\Microsoft Shared", false},
        {"C:\\Documents and Settings\\x.exe", "C:\\Documents and Settings", false},
        {"C:\\Documents and Settings\\All Users\\Desktop\\x.exe", "C:\\Documents and Settings\\All Users", false},
        {"C:\\Program Files (x86)\\x.exe", "C:\\Program Files (x86)", false},
        // A folder of its own inside the others is.
        {"C:\\Program Files\\App\\x.exe", "C:\\Program Files\\App", true},
        {"C:\\Program Files (x86)\\App\\x.exe", "C:\\Program Files (x86)\\App", true},
        {"C:\\WINDOWS\\App\\x.exe", "C:\\WINDOWS\\App", true},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(TargetMayBeDeleted(c.target, c.destination, files, shared), c.ok) << c.target << " / " << c.destination;
}

TEST(UninstallRules, SplitsLaunchLines) {
    std::vector<CString> f;
    ASSERT_TRUE(SplitLaunchLine("C:\\App\\clean.exe,/q,x y", &f));
    EXPECT_EQ(Strings(f), (std::vector<std::string>{"C:\\App\\clean.exe", "/q", "x y"}));
    ASSERT_TRUE(SplitLaunchLine("p,1,2,3,4,5,6,7,8", &f));
    EXPECT_EQ(f.size(), 9u);
    EXPECT_FALSE(SplitLaunchLine("p,1,2,3,4,5,6,7,8,9", &f));
    EXPECT_TRUE(f.empty());
    EXPECT_FALSE(SplitLaunchLine(",x", &f));
    EXPECT_FALSE(SplitLaunchLine("", &f));
    EXPECT_TRUE(SplitLaunchLine(CString('a', 499), &f));
    EXPECT_FALSE(SplitLaunchLine(CString('a', 500), &f));
    EXPECT_FALSE(SplitLaunchLine("p," + CString('a', 500), &f));
}

TEST(UninstallRules, AddsWininitEntries) {
    const struct {
        const char* before;
        const char* after;
    } kCases[] = {
        {"", "[Rename]\r\nNUL=C:\\A\\B.EXE"},
        {"[Rename]\r\nNUL=C:\\OLD", "[Rename]\r\nNUL=C:\\OLD\r\nNUL=C:\\A\\B.EXE"},
        {"[Rename]\r\nNUL=C:\\OLD\r\n", "[Rename]\r\nNUL=C:\\OLD\r\nNUL=C:\\A\\B.EXE\r\n"},
        {"[rename]\r\nNUL=C:\\OLD\r\n\r\n[Other]\r\nx=1\r\n",
         "[rename]\r\nNUL=C:\\OLD\r\nNUL=C:\\A\\B.EXE\r\n\r\n[Other]\r\nx=1\r\n"},
        {"[Other]\r\nx=1\r\n", "[Other]\r\nx=1\r\n[Rename]\r\nNUL=C:\\A\\B.EXE\r\n"},
        {"[Other]\nx=1", "[Other]\nx=1\n[Rename]\nNUL=C:\\A\\B.EXE\n"},
        {"; note\r\n[ Rename ]\r\n", "; note\r\n[ Rename ]\r\nNUL=C:\\A\\B.EXE\r\n"},
        // A section named alike is not the one.
        {"[Renamed]\r\n", "[Renamed]\r\n[Rename]\r\nNUL=C:\\A\\B.EXE\r\n"},
    };
    for (const auto& c : kCases) EXPECT_EQ(AddRenameEntry(c.before, "C:\\A\\B.EXE"), c.after) << c.before;
    // Two files in a row: the second entry follows the first (the file has no final break).
    EXPECT_EQ(AddRenameEntry(AddRenameEntry("", "C:\\X"), "C:\\Y"), "[Rename]\r\nNUL=C:\\X\r\nNUL=C:\\Y");
}

TEST(UninstallRules, KnowsWhatTheBootTimeRenameTakes) {
    const struct {
        const char* path;
        bool ok;
    } kCases[] = {
        {"C:\\RMTEST\\HELDLI~1.DLL", true},
        {"c:\\windows\\system\\x.vxd", true},
        {"D:\\A\\B", true},
        {"C:\\RMTEST\\held library.dll", false},
        {"C:\\PROGRAM FILES\\APP\\A.DLL", false},
        {"C:\\Program Files\\App\\a.dll", false},
        {"HELDLI~1.DLL", false},  // relative: carried out in another folder
        {"RMTEST\\HELDLI~1.DLL", false},
        {"\\RMTEST\\A.DLL", false},
        {"\\\\srv\\share\\A.DLL", false},
        {"C:\\LONGFILENAME.DLL", false},
        {"C:\\A.DLLX", false},
        {"C:\\A.B.C", false},
        {"C:\\A\\\\B", false},
        {"C:\\A\\", false},
        {"C:\\A+B.DLL", false},
        {"C:\\", false},
        {"", false},
    };
    for (const auto& c : kCases) EXPECT_EQ(BootRenameTakes(c.path), c.ok) << c.path;
}

TEST(UninstallRules, TellsTheSystemCode) {
    const struct {
        unsigned long platform, major, minor, build;
        int code;
    } kCases[] = {
        {1, 4, 0, 950, 1},  {1, 4, 0, 1111, 2}, {1, 4, 0, 0x040003B6, 1}, {1, 4, 10, 1998, 3},
        {1, 4, 10, 2222, 6}, {1, 4, 10, 2000, 0}, {1, 4, 90, 3000, 0},     {2, 4, 0, 1381, 4},
        {2, 5, 0, 2195, 5},  {2, 5, 1, 2600, 5},  {2, 6, 1, 7601, 0},      {2, 3, 51, 1057, -1},
        {0, 3, 10, 0, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(SystemCode(c.platform, c.major, c.minor, c.build), c.code)
            << c.platform << " " << c.major << "." << c.minor << "." << c.build;
    // The road of a file in use follows the platform, also where the code is 0.
    EXPECT_TRUE(UsesRenameList(kPlatformNt));
    EXPECT_FALSE(UsesRenameList(kPlatformWindows));
}

}  // namespace
}  // namespace remover
