// remover on a German Windows, with its language library.
#include "remover/program_fixture.h"

namespace rmtest {
namespace {

// Windows in German: remover takes its texts from Vetra_Ger.DLL in the current folder (as data,
// its code never runs) and the rest from its own; a command line without a backslash keeps
// English.
TEST_F(RemoverTest, SpeaksTheSystemsLanguage) {
    const std::string folder = std::string(kRoot) + "\\lang";
    Dir(folder);
    ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\Vetra_Ger.DLL").c_str(), (folder + "\\Vetra_Ger.DLL").c_str(),
                          FALSE));
    char language[100] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, language, sizeof(language));
    ASSERT_STREQ(language, "German");
    const std::string missing = std::string(kRoot) + "\\none.uni";
    Start(missing, "win2k", folder);
    Box b = Answer();
    EXPECT_EQ(b.text, "Die angegebene Datei existiert nicht:\n" + missing);
    EXPECT_EQ(b.caption, "Deinstallation");
    EXPECT_EQ(ExitCode(), 0u);
    Put(folder + "\\app.uni", "[Version]\r\n");
    Start(folder + "\\app.uni", "win2k", folder);
    EXPECT_EQ(Answer().text, folder + "\\app.uni is an invalid UNI file.  It does not contain a version number.");
    EXPECT_EQ(ExitCode(), static_cast<DWORD>(-1));
    Start("none.uni", "win2k", folder);
    EXPECT_EQ(Answer().text, "The file that is specified does not exist:\nnone.uni");
    EXPECT_EQ(ExitCode(), 0u);
    // The library has no dialog of its own: the program's dialog opens, with the program's texts
    // where the library has none.
    Put(folder + "\\app.uni", "[Version]\r\nFileVersion=1\r\n");
    Start(folder + "\\app.uni", "win2k", folder);
    HWND dlg = ui::WaitDialog(p_.pid(), "UnInstall Application");
    ASSERT_TRUE(dlg) << "no dialog; a box said: " << Answer().text;
    EXPECT_EQ(ui::ControlText(dlg, IDC_TEXT_LINE1), "To exit UnInstall now click Cancel.");
    ui::Click(dlg, IDCANCEL);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(Exists(folder + "\\app.uni"));
    EXPECT_FALSE(Exists(std::string(kRoot) + "\\library-code-ran"));
}

// A language library whose dialog cannot be made: the program says that it could not open its
// window, removes nothing and ends with -1.
TEST_F(RemoverTest, SaysWhenItsDialogCannotOpen) {
    const std::string folder = std::string(kRoot) + "\\lang";
    Dir(folder);
    ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\baddialog\\Vetra_Ger.DLL").c_str(),
                          (folder + "\\Vetra_Ger.DLL").c_str(), FALSE));
    const std::string list = folder + "\\app.uni";
    Put(list, "[Version]\r\nFileVersion=1\r\n[FileList]\r\n" + list + "\r\n");
    Start(list, "win2k", folder);
    Box b = Answer();
    EXPECT_EQ(b.text, "UnInstall could not open its window.  Nothing was removed.");
    EXPECT_EQ(b.caption, "Error");
    EXPECT_EQ(ExitCode(), static_cast<DWORD>(-1));
    EXPECT_TRUE(Exists(list));
}

}  // namespace
}  // namespace rmtest
