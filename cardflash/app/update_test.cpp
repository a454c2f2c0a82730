// The update routine in the running program on Windows 98: the in-place road with the progress and
// settings dialogs, the settings-only road, the DOS-flasher hand-over, the run after the reboot
// and the command-line upgrade with the add-on swapped through the simulator.
#include "cardflash/app/update_fixture.h"

using namespace updatetest;

TEST_F(UpdateTest, InPlaceUpgradeFlashesInstallsTheSettingsAndSendsTheCountryBack) {
    const std::string package = Write("EM56.MPK", ModemPackage(true));
    Run("PERFORM:EM56.MPK");
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(ui::IsVisible(dlg, IDC_PROG_START));
    EXPECT_EQ(ui::ControlText(dlg, IDC_PROG_STATUS), "");
    ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));

    HWND box = ui::WaitMessageBox(p_.pid(), 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), "The firmware update has completed successfully!");
    EXPECT_EQ(SendMessageA(ui::Control(dlg, IDC_PROG_BAR), PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(ui::ControlText(dlg, IDC_PROG_STATUS), "100%");
    ui::Click(box, IDOK);

    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
    Answer("The update completed successfully!", IDOK);
    Finish();

    const modemsim::ModemState s = sim.State();
    EXPECT_TRUE(s.bootFlashed);
    EXPECT_EQ(s.bootReceived, ExpectedImage(package));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "1.90");
    const std::vector<std::string> commands = sim.Commands();
    auto flashAt = std::find(commands.begin(), commands.end(), "AT&&XX");
    ASSERT_NE(flashAt, commands.end());
    EXPECT_NE(std::find(flashAt, commands.end(), "AT+GCI=3D"), commands.end()) << "country code not sent back";
    EXPECT_EQ(Key("MdmCountryCode"), "61");
    EXPECT_EQ(Key("UpdateOldVer"), "1.80");
    EXPECT_EQ(Key("UpdateNewVer"), "1.90");
    EXPECT_EQ(Key("UpdateFile"), "EM56.MPK");
    EXPECT_EQ(Key("UpdatePnP"), kCardA9x);
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "perform 1")) << report;
    EXPECT_TRUE(HasLine(report, "version 1.90")) << report;
    EXPECT_TRUE(HasLine(report, "progress dialog none")) << report;
}

// A flash that ends with an error is no success: the routine says so and the settings stay.
TEST_F(UpdateTest, AFailedFlashIsNoSuccess) {
    Write("EM56.MPK", ModemPackage(true));
    sim.Update([](modemsim::ModemState& s) { s.errorCommands = {"AT!XCIS"}; });  // the card's CIS is not read
    Run("PERFORM:EM56.MPK");
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));
    HWND box = ui::WaitMessageBox(p_.pid(), 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(ui::MessageBoxText(box), "The firmware update has completed successfully!");
    ui::Click(box, IDOK);
    Finish();
    EXPECT_FALSE(sim.State().bootFlashed);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "<none>");
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "perform 0")) << report;
    EXPECT_TRUE(HasLine(report, "progress dialog none")) << report;
}

// Settings only: the INF is written under its bare name in the program folder, whatever folder
// the package names, and the header's status is applied after the write, so a second upgrade
// over a read-only INF of the first still works.
TEST_F(UpdateTest, SettingsOnlyWritesTheInfUnderItsBareNameTwice) {
    Write("SET.MPK", ModemPackage(false, "..\\outside\\DVXUPG.INF", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    const std::string inf = folder_ + "\\DVXUPG.INF";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        Run("PERFORM:SET.MPK");
        HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(ui::ControlText(settings, IDC_MODSET_STATUS), "");
        ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
        Answer("The update completed successfully!", IDOK);
        Finish();
        EXPECT_TRUE(HasLine(Report(), "perform 1")) << Report();
        EXPECT_EQ(ReadFileText(inf), kInf);
        DWORD attributes = GetFileAttributesA(inf.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExA(inf.c_str(), GetFileExInfoStandard, &data));
        unsigned long long t = (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
        EXPECT_EQ(t / 10000000ULL - 11644473600ULL, kInfWritten);
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "1.90");
    }
    EXPECT_EQ(GetFileAttributesA((winetest::ProgramFolder() + "\\outside\\DVXUPG.INF").c_str()),
              INVALID_FILE_ATTRIBUTES);
    SetFileAttributesA(inf.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(SettingsHeader, NamesThatAreNoBareFileName) {
    struct Case {
        std::string field;
        bool ok;
        std::string name;
    } cases[] = {
        {"DVXUPG.INF", true, "DVXUPG.INF"},
        {"C:\\WINDOWS\\INF\\DVXUPG.INF", true, "DVXUPG.INF"},
        {"..\\..\\DVXUPG.INF", true, "DVXUPG.INF"},
        {"a/b/UP.INF", true, "UP.INF"},
        {"D:UP.INF", true, "UP.INF"},
        {"", false, ""},
        {"C:\\WINDOWS\\", false, ""},
        {"..", false, ""},
        {std::string(260, 'A'), false, ""},  // not terminated inside its field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        Bytes header(mpk::kSettingsHeaderSize, 0);
        header[16] = 0x21;
        std::copy(c.field.begin(), c.field.end(), header.begin() + 17);
        SettingsFileStatus status;
        EXPECT_EQ(ParseSettingsHeader(header.data(), header.size(), &status), c.ok);
        if (c.ok) {
            EXPECT_EQ(status.infName, c.name);
            EXPECT_EQ(status.attributes, 0x21);
        }
    }
    Bytes shortHeader(100, 0);
    SettingsFileStatus status;
    EXPECT_FALSE(ParseSettingsHeader(shortHeader.data(), shortHeader.size(), &status));
}
