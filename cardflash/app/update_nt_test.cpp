// The update routine in the running program on Windows NT 4.0: the DOS flasher cannot run under
// Windows NT, so the hand-over only registers the restart and tells the user; the run after the
// reboot names the MS-DOS prompt when the version is not the new one.
#include "cardflash/app/update_fixture.h"

using namespace updatetest;

TEST_F(UpdateTest, NtHandOverRegistersTheRestartAndStartsNothing) {
    sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.60"; });
    Write("EM56.MPK", ModemPackage(true));
    CopyFlasher();
    Run("PERFORM:EM56.MPK");
    Answer("In order to update the adapter you need to shutdown Windows NT and run Ostrel.exe from a MS-DOS Prompt. "
           "Run Ostrel.exe from the " + folder_ + " directory. Refer to readme.txt for further details.",
           IDOK);
    Finish();
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRunOnce, "cardflash"), folder_ + "\\cardflash.EXE UPGRADE");
    EXPECT_EQ(Key("UpdatePnP"), Card());
    EXPECT_NE(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
    Sleep(500);
    EXPECT_EQ(ReadFileText(folder_ + "\\flasher.txt"), "");
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "perform 0")) << report;
    EXPECT_TRUE(HasLine(report, "runonce registered 1")) << report;
    EXPECT_TRUE(HasLine(report, "post-restart 0")) << report;
}

TEST_F(UpdateTest, NtAfterTheRebootTheOtherVersionNamesTheDosPrompt) {
    Write("EM56.MPK", ModemPackage(true));
    WritePostRebootRecord();
    sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.80"; });
    Run("UPGRADE");
    Answer("The adapter was to be updated to version 1.90. Ostrel.exe failed to update the adapter to the newer "
           "version. Make sure that Ostrel.exe has been run from a MS-DOS prompt prior to restarting Windows NT.",
           IDOK);
    Finish();
    EXPECT_TRUE(HasLine(Report(), "settings dialog 2")) << Report();
    EXPECT_NE(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(UpdateTest, NtAfterTheRebootTheNewVersionPasses) {
    Write("EM56.MPK", ModemPackage(true));
    WritePostRebootRecord();
    sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.90"; });
    Run("UPGRADE");
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ui::Click(settings, IDC_MODSET_UPDATE);
    Answer("The update completed successfully!", IDOK);
    Finish();
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "settings dialog 1")) << report;
    EXPECT_TRUE(HasLine(report, "post-restart 0")) << report;
    EXPECT_EQ(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
}
