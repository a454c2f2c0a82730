// The update routine in the running program on Windows 98: the in-place road with the progress and
// settings dialogs, the settings-only road, the DOS-flasher hand-over, the run after the reboot
// and the command-line upgrade with the add-on swapped through the simulator.
#include "cardflash/app/update_fixture.h"

using namespace updatetest;

#include <set>

namespace {
// The boot loader's "PROGRAMMING ERROR" (128) has no text of its own in the error table.
const char kProgrammingError[] = "Error code 128";
const char kFlashDoneText[] = "The firmware update has completed successfully!";
const char kOlderText[] =
    "The firmware in the selected file is an older or identical version than what is loaded in the adapter.  \n"
    "Do you wish to continue?";
}

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

// A flash that fails half way through the image is no success: the user is told the boot loader's
// error, no settings are installed, and the [Update] record stays for another try.
TEST_F(UpdateTest, AFailedFlashIsNoSuccess) {
    Write("EM56.MPK", ModemPackage(true));
    sim.Update([](modemsim::ModemState& s) {
        // The boot loader gives up after the tenth block and does not ask for a new start.
        s.bootFaults = {{1, 9, "\r\nPROGRAMMING ERROR\r\n", false}};
        s.bootSilentAfterError = true;
    });
    Run("PERFORM:EM56.MPK");
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));
    Answer(kProgrammingError, IDOK);
    Finish();
    const modemsim::ModemState st = sim.State();
    EXPECT_EQ(st.bootStarts, 1);
    EXPECT_GT(st.bootReceived.size(), 9u * 1024);  // the failure came in the middle of the image
    EXPECT_LT(st.bootReceived.size(), kImageSize);
    EXPECT_FALSE(st.bootFlashed);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "<none>");
    EXPECT_EQ(Key("UpdateFile"), "EM56.MPK");
    EXPECT_EQ(Key("UpdateNewVer"), "1.90");
    EXPECT_EQ(Key("UpdateOldVer"), "1.80");
    EXPECT_EQ(Key("MdmCountryCode"), "61");
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "perform 0")) << report;
    EXPECT_TRUE(HasLine(report, "progress dialog none")) << report;
}

// The modem-settings step can fail after its INF was written: the user is told, and the update is
// no success.
TEST_F(UpdateTest, AFailedSettingsStepIsNoSuccess) {
    struct Case {
        const char* name;
        std::string inf;                 // the package's INF
        std::set<std::string> errors;    // commands the card answers with ERROR
        const char* message;
    } cases[] = {
        {"the INF lacks its section", std::string(kInf).replace(std::string(kInf).find("Modem1-Upgrade"), 14, "Modem2-Upgrade"),
         {}, "Error: Unable to update the modem settings in the Windows registry."},
        {"the country code is refused", kInf, {"AT+GCI=B5"}, "Error: Unable to set the modem's country code."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare("run");
        Write("SET.MPK", ModemPackage(false, "DVXUPG.INF", FILE_ATTRIBUTE_ARCHIVE, "1.90", c.inf));
        sim.Update([&](modemsim::ModemState& s) { s.errorCommands = c.errors; });
        Run("PERFORM:SET.MPK");
        HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
        ASSERT_NE(settings, nullptr);
        ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
        Answer(c.message, IDOK);
        Finish();
        EXPECT_TRUE(HasLine(Report(), "perform 0")) << Report();
    }
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

namespace {

const char kShutdown[] =
    "Windows will now shutdown and the adapter will be updated. After the adapter is updated, Windows will "
    "restart.\n\nContinue update?";

class DosFlasherTest : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        Prepare("run dir");  // a blank in the program folder
        sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.60"; });  // below the in-place level
        package = Write("EM56.MPK", ModemPackage(true));
    }
    std::string FlasherLine() const { return ReadFileText(folder_ + "\\flasher.txt"); }
    std::string RunOnceValue() const { return RegText(HKEY_LOCAL_MACHINE, kRunOnce, "cardflash"); }
    std::string package;
};

}  // namespace

TEST_F(DosFlasherTest, HandsOverWithTempPakAndRunOnce) {
    CopyFlasher();
    Run("PERFORM:EM56.MPK");
    Answer(kShutdown, IDYES);
    Finish();
    for (int i = 0; i < 100 && FlasherLine().empty(); ++i) Sleep(100);

    // TEMP.PAK is the package's record as a .PAK, as the package reader writes it.
    const std::string tempPak = folder_ + "\\TEMP.PAK";
    CMPKFile reader;
    const std::string ownPak = folder_ + "\\OWN.PAK";
    ASSERT_EQ(reader.SetFile(package.c_str()), 0);
    ASSERT_EQ(reader.SelectForCard(CString(kRecord9x), static_cast<CMpkIdResolver*>(nullptr)), 0);
    ASSERT_EQ(reader.WritePakFile(ownPak.c_str()), 0);
    EXPECT_FALSE(ReadFileText(tempPak).empty());
    EXPECT_EQ(ReadFileText(tempPak), ReadFileText(ownPak));

    EXPECT_EQ(RunOnceValue(), "\"" + folder_ + "\\cardflash.EXE\" UPGRADE");
    EXPECT_EQ(FlasherLine(), ShortPath(folder_ + "\\Ostrel.EXE") + " " + ShortPath(tempPak));
    EXPECT_EQ(Key("MdmCountryCode"), "61");
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "perform 1")) << report;
    EXPECT_TRUE(HasLine(report, "runonce registered 1")) << report;
    // Registering the restart does not make this run the one after the reboot.
    EXPECT_TRUE(HasLine(report, "post-restart 0")) << report;
    EXPECT_FALSE(sim.State().bootFlashed);
}

// A translation that lacks texts and dialogs the program needs: the program's own stand in, for
// the settings dialog, the message boxes and the word of the RunOnce command.
TEST_F(DosFlasherTest, AnIncompleteTranslationKeepsTheProgramsOwnResources) {
    const std::string dutch = folder_ + "\\Dutch";
    ASSERT_TRUE(CreateDirectoryA(dutch.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\cardflash_Dutch.dll").c_str(),
                          (dutch + "\\cardflash_Dutch.dll").c_str(), FALSE));
    WritePrivateProfileStringA("Application", "CurLanguage", "Dutch", Ini().c_str());
    Write("SET.MPK", ModemPackage(false));
    Run("PERFORM:SET.MPK");
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
    Answer("The update completed successfully!", IDOK);
    Finish();
    EXPECT_TRUE(HasLine(Report(), "perform 1")) << Report();

    CopyFlasher();
    Run("PERFORM:EM56.MPK");
    Answer(kShutdown, IDYES);
    Finish();
    EXPECT_EQ(RunOnceValue(), "\"" + folder_ + "\\cardflash.EXE\" UPGRADE");
    EXPECT_TRUE(HasLine(Report(), "perform 1")) << Report();
}

namespace {

// Puts a registry link in the place of the RunOnce key for its life (the key goes while it
// exists; it holds no values in the tests).
class RunOnceLink {
public:
    RunOnceLink() {
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunOnce) != ERROR_SUCCESS) return;
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, nullptr, REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t target[] = L"\\Registry\\Machine\\Software\\NoSuchKey\\RunOnce";
        made_ = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                               sizeof target - sizeof(wchar_t)) == ERROR_SUCCESS;
        RegCloseKey(key);
        HKEY probe = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
            made_ = false;  // the link leads somewhere: it proves nothing
        }
    }
    ~RunOnceLink() {
        HKEY link = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link) == ERROR_SUCCESS) {
            using DeleteKey = LONG(WINAPI*)(HANDLE);
            auto zwDelete = reinterpret_cast<DeleteKey>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
            if (zwDelete) zwDelete(link);
            RegCloseKey(link);
        }
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS)
            RegCloseKey(key);
    }
    bool made() const { return made_; }

private:
    bool made_ = false;
};

}  // namespace

// Every way the hand-over stops short of a running flasher leaves no RunOnce command behind (a
// restart with "UPGRADE" would check a flash that never happened) and starts nothing.
TEST_F(DosFlasherTest, NoFlasherRunLeavesNoRestartBehind) {
    struct Case {
        const char* name;
        enum { kFlasher, kBadFlasher, kNoFlasher, kTempPakFolder, kNoRunOnceKey } prepare;
        std::vector<std::pair<std::string, int>> answers;  // message texts ("" any) and buttons
    } cases[] = {
        {"the user says no", Case::kFlasher,
         {{kShutdown, IDNO},
          {"The update has been cancelled. The update may be restarted later by selecting the appropriate file and "
           "clicking the Update button.",
           IDOK}}},
        {"the flasher does not start", Case::kBadFlasher,
         {{kShutdown, IDYES}, {"<launch>", IDOK}}},
        {"no flasher", Case::kNoFlasher,
         {{"<locate>", IDOK}}},
        {"TEMP.PAK cannot be written", Case::kTempPakFolder,
         {{"", IDOK}}},
        {"the restart cannot be registered", Case::kNoRunOnceKey,
         {{"Error: Unable to register the update's restart in the Windows registry. The adapter will not be updated.",
           IDOK}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare("run dir");
        sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.60"; });
        Write("EM56.MPK", ModemPackage(true));
        if (c.prepare == Case::kFlasher || c.prepare == Case::kTempPakFolder || c.prepare == Case::kNoRunOnceKey)
            CopyFlasher();
        // RunOnce as a link to a key that does not exist: it can be neither opened nor created.
        std::unique_ptr<RunOnceLink> link;
        if (c.prepare == Case::kNoRunOnceKey) {
            link = std::make_unique<RunOnceLink>();
            ASSERT_TRUE(link->made());
        }
        if (c.prepare == Case::kBadFlasher) WriteFileText(folder_ + "\\Ostrel.EXE", "not a program");
        if (c.prepare == Case::kTempPakFolder) CreateDirectoryA((folder_ + "\\TEMP.PAK").c_str(), nullptr);
        Run("PERFORM:EM56.MPK");
        for (const auto& answer : c.answers) {
            std::string text = answer.first;
            if (text == "<launch>")
                text = "Unable to launch Ostrel.exe located at: " + folder_ + "\\Ostrel.EXE";
            else if (text == "<locate>")
                text = "Unable to locate Ostrel. Place Ostrel.exe in the following directory: " + folder_;
            HWND box = ui::WaitMessageBox(p_.pid(), 30000);
            ASSERT_NE(box, nullptr);
            if (text.empty())
                EXPECT_NE(ui::MessageBoxText(box), kShutdown);
            else
                EXPECT_EQ(ui::MessageBoxText(box), text);
            ui::Click(box, answer.second);
            ui::WaitGone(box);
        }
        Finish();
        link.reset();
        EXPECT_EQ(RunOnceValue(), "<none>");
        EXPECT_EQ(FlasherLine(), "");
        if (c.prepare == Case::kNoRunOnceKey) {
            EXPECT_EQ(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
        }
        const std::string report = Report();
        EXPECT_TRUE(HasLine(report, "perform 0")) << report;
        EXPECT_TRUE(HasLine(report, "runonce registered 0")) << report;
        DeleteRunOnce();
    }
}

// The run after the flasher's reboot: the modem that reports the new version passes (TEMP.PAK
// goes, the flag is cleared); one that reports another version is told to the user with the
// flasher's name.
TEST_F(UpdateTest, AfterTheRebootTheNewVersionIsChecked) {
    struct Case {
        const char* reported;
        std::string message;
        const char* ended;
        bool tempPakStays;
    } cases[] = {
        {"1.90", "The update completed successfully!", "settings dialog 1", false},
        {"1.80",
         "The adapter was to be updated to version 1.90. Ostrel.exe failed to update the adapter to the newer version.",
         "settings dialog 2", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        Prepare("run");
        Write("EM56.MPK", ModemPackage(true));
        WritePostRebootRecord();
        sim.Update([&](modemsim::ModemState& s) { s.firmwareVersion = c.reported; });
        Run("UPGRADE");
        if (!c.tempPakStays) {
            // The package carries settings: the dialog waits for the user.
            HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
            ASSERT_NE(settings, nullptr);
            ui::Click(settings, IDC_MODSET_UPDATE);
        }
        Answer(c.message, IDOK);
        Finish();
        const std::string report = Report();
        EXPECT_TRUE(HasLine(report, c.ended)) << report;
        // The check runs once, passed or not.
        EXPECT_TRUE(HasLine(report, "post-restart 0")) << report;
        EXPECT_EQ(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()) != INVALID_FILE_ATTRIBUTES, c.tempPakStays);
    }
}

// A failed check after the reboot does not stand in the way of a later update in the same run.
TEST_F(UpdateTest, AFailedRebootCheckRunsOnce) {
    Write("SET.MPK", ModemPackage(false));
    WritePostRebootRecord();
    Run("UPGRADE PERFORM:SET.MPK");
    Answer("The adapter was to be updated to version 1.90. Ostrel.exe failed to update the adapter to the newer version.",
           IDOK);
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
    Answer("The update completed successfully!", IDOK);
    Finish();
    const std::string report = Report();
    EXPECT_TRUE(HasLine(report, "settings dialog 2")) << report;
    EXPECT_TRUE(HasLine(report, "perform 1")) << report;
}

// After the reboot the check and the country code go to the adapter that the record names: here
// card B, which the simulated card now answers for while card A's port is dead. An adapter that
// is not in the computer is told to the user and nothing is sent to any modem; the check is
// registered again for the next start of Windows (a plain start of the program runs none), and
// the user is told when even that cannot be done.
TEST_F(UpdateTest, AfterTheRebootTheRecordedAdapterIsChecked) {
    winetest::RegFixture ports(
        std::string("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"COM97\"\n") +
        "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\DORVEX-MODEM_56K-77C2\\1]\n\"PORTNAME\"=\"" + pair.a + "\"\n");
    const char kAbsent[] = "PCMCIA\\DORVEX-MODEM_56K-77C2\\2";
    struct Case {
        const char* pnp;
        bool runOnceKey;  // the RunOnce key can be written
        std::string message;
        bool registered;
    } cases[] = {
        {"PCMCIA\\DORVEX-MODEM_56K-77C2\\1", true,
         "The adapter was to be updated to version 1.90. Ostrel.exe failed to update the adapter to the newer version.",
         false},
        {kAbsent, true,
         "The adapter that was to be updated to version 1.90 (PCMCIA\\DORVEX-MODEM_56K-77C2\\2) is not in the computer. "
         "Insert it and restart Windows: the update is checked when Windows starts again.",
         true},
        {kAbsent, false,
         "The adapter that was to be updated to version 1.90 (PCMCIA\\DORVEX-MODEM_56K-77C2\\2) is not in the computer, "
         "and the check of the update could not be registered for the next start of Windows. The update cannot be "
         "checked.",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Prepare("run");
        WritePostRebootRecord();
        WritePrivateProfileStringA("Update", "UpdatePnP", c.pnp, Ini().c_str());
        std::unique_ptr<RunOnceLink> link;
        if (!c.runOnceKey) {
            link = std::make_unique<RunOnceLink>();
            ASSERT_TRUE(link->made());
        }
        const size_t before = sim.Commands().size();
        Run("UPGRADE");
        Answer(c.message, IDOK);
        Finish();
        link.reset();
        const std::string report = Report();
        EXPECT_TRUE(HasLine(report, "settings dialog 2")) << report;
        EXPECT_TRUE(HasLine(report, c.registered ? "runonce registered 1" : "runonce registered 0")) << report;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRunOnce, "cardflash"),
                  c.registered ? folder_ + "\\cardflash.EXE UPGRADE" : std::string("<none>"));
        EXPECT_NE(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
        const std::vector<std::string> commands = sim.Commands();
        const std::vector<std::string> sent(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end());
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "ATZ&F&W"), 0);
        EXPECT_EQ(std::find(sent.begin(), sent.end(), "AT+GCI=3D"), sent.end());
        DeleteRunOnce();
    }
}

// After the reboot, what could not be done is said with the end, not passed over: a modem that
// could not be bound is neither checked nor given its country code back, and a stored country
// code that is no code is not sent.
TEST_F(UpdateTest, AfterTheRebootWhatWasLeftOutIsSaid) {
    struct Case {
        const char* name;
        const char* args;
        const char* country;
        std::string message;
    } cases[] = {
        {"no modem", "UPGRADE UNBOUND", "61",
         "The update completed, but not everything was done:"
         "\n- The adapter's modem could not be reached: its firmware was not checked against version 1.90."
         "\n- The adapter's modem could not be reached: its country code was not set."},
        {"no country code", "UPGRADE", "300",
         "The update completed, but not everything was done:"
         "\n- The stored country code 300 is not a country code: the modem's country code was not set."},
        {"nothing left out", "UPGRADE", "61", "The update completed successfully!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare("run");
        Write("EM56.MPK", ModemPackage(true));
        WritePostRebootRecord();
        WritePrivateProfileStringA("Update", "MdmCountryCode", c.country, Ini().c_str());
        sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.90"; });
        const size_t before = sim.Commands().size();
        Run(c.args);
        HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
        ASSERT_NE(settings, nullptr);
        ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
        Answer(c.message, IDOK);
        Finish();
        EXPECT_TRUE(HasLine(Report(), "settings dialog 1")) << Report();
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "1.90");
        const std::vector<std::string> commands = sim.Commands();
        const std::vector<std::string> sent(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end());
        const bool countrySent = std::find_if(sent.begin(), sent.end(), [](const std::string& command) {
                                     return command.rfind("AT+GCI=", 0) == 0;
                                 }) != sent.end();
        EXPECT_EQ(countrySent, std::string(c.name) == "nothing left out");
    }
}

// An adapter taken out under a running update: the user is told once that it is gone and the
// update ends, before the flash as after it (no questions to free a port that will not come
// back, no settings for a modem that is not there).
TEST_F(UpdateTest, AnAdapterTakenOutEndsTheUpdate) {
    const char kGone[] = "The adapter has been removed from the computer. The update has been stopped.";
    for (bool flashed : {false, true}) {
        SCOPED_TRACE(flashed ? "after the flash" : "before the flash");
        Prepare("run");
        // A package as new as the modem asks before the port is locked; a newer one goes on to
        // the progress dialog.
        Write("EM56.MPK", ModemPackage(true, "DVXUPG.INF", FILE_ATTRIBUTE_ARCHIVE, flashed ? "1.90" : "1.80"));
        Run("PERFORM:EM56.MPK");
        if (flashed) {
            HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
            ASSERT_NE(dlg, nullptr);
            ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));
        }
        HWND box = ui::WaitMessageBox(p_.pid(), 60000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ui::MessageBoxText(box), flashed ? kFlashDoneText : kOlderText);
        ASSERT_TRUE(winetest::UnplugPort(pair.a, true));
        ui::Click(box, flashed ? IDOK : IDYES);
        ui::WaitGone(box);
        Answer(kGone, IDCANCEL);
        Finish();
        ASSERT_TRUE(winetest::UnplugPort(pair.a, false));
        EXPECT_TRUE(HasLine(Report(), "perform 0")) << Report();
        EXPECT_EQ(sim.State().bootFlashed, flashed);
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "<none>");
    }
}

namespace {

const char kIsdnEnabled[] = "The adapter firmware is already ISDN enabled.";
const char kFlashDone[] = "The firmware update has completed successfully!";

}  // namespace

TEST_F(UpdateTest, TvlWithTheAddOnAttachedFlashesNothing) {
    Write("EM56.MPK", ModemPackage(true));
    Write("TVL.MPK", AddOnPackage());
    sim.SetAddOn(true);
    Run("/TVL");
    Answer(kIsdnEnabled, IDOK);
    Finish();
    EXPECT_FALSE(sim.State().bootFlashed);
    EXPECT_EQ(sim.State().addOnPackets, 0);
}

TEST_F(UpdateTest, TvlWithOldFirmwareAndNoModemPackageFlashesNothing) {
    Write("TVL.MPK", AddOnPackage());
    sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "2.18"; });
    Run("/tvl");
    Answer("The current modem firmware is not ISDN enabled.\n Please download the latest  firmware from the "
           "manufacturer's website.",
           IDOK);
    Finish();
    EXPECT_FALSE(sim.State().bootFlashed);
    EXPECT_EQ(sim.State().addOnPackets, 0);
    EXPECT_EQ(Key("UpdateFile"), "<none>");
}

// "/FLASH_BOTH": the adapter that is plugged in first, then the other one once the user has
// swapped the add-on, which the test does through the simulated card.
TEST_F(UpdateTest, FlashBothUpgradesTheAddOnAndTheModemAroundTheSwap) {
    for (bool attached : {true, false}) {
        SCOPED_TRACE(attached ? "add-on attached" : "add-on not attached");
        Prepare("run");
        sim.Update([&](modemsim::ModemState& s) {
            s = modemsim::ModemState();
            s.cis = flashtest::CardCis();
            s.savedSettings = flashtest::kCardSettings;
            s.bootImageSize = kImageSize;
            s.firmwareVersion = "1.80";
            s.addOn = attached;
        });
        const std::string modemPackage = Write("EM56.MPK", ModemPackage(true));
        Write("TVL.MPK", AddOnPackage());
        Run("/FLASH_BOTH");
        auto addOn = [&] {
            Answer(kFlashDone, IDOK);  // the add-on's package has no settings
            EXPECT_TRUE(sim.State().addOnFlashed);
        };
        auto modem = [&] {
            // The settings dialog runs by itself and reports the end.
            Answer("The update completed successfully!", IDOK);
            EXPECT_TRUE(sim.State().bootFlashed);
        };
        auto swap = [&](const char* question, bool present) {
            HWND box = ui::WaitMessageBox(p_.pid(), 60000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(ui::MessageBoxText(box), question);
            sim.SetAddOn(present);
            ui::Click(box, IDOK);
            ui::WaitGone(box);
        };
        if (attached) {
            addOn();
            EXPECT_FALSE(sim.State().bootFlashed);
            swap("Please remove the ISDN adapter and press ok when done.", false);
            modem();
        } else {
            modem();
            EXPECT_EQ(sim.State().addOnPackets, 0);
            swap("Please insert the ISDN adapter and press ok when done.", true);
            addOn();
        }
        Finish();
        EXPECT_EQ(sim.State().bootReceived, ExpectedImage(modemPackage));
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "1.90");
        EXPECT_EQ(sim.State().addOnVersion, "2.20");
    }
}

// "/FLASH_BOTH" with both adapters already current: the add-on is "a newer version", the modem
// "already ISDN enabled"; nothing is flashed and the user is asked only for the swap.
TEST_F(UpdateTest, FlashBothWithCurrentFirmwareFlashesNothing) {
    Write("EM56.MPK", ModemPackage(true));
    Write("TVL.MPK", AddOnPackage());
    sim.Update([](modemsim::ModemState& s) {
        s.firmwareVersion = "1.90";
        s.addOnVersion = "2.20";
    });
    sim.SetAddOn(true);
    Run("/FLASH_BOTH");
    Answer("The NUDO firmware is a newer version and does not need to be upgraded.", IDOK);
    HWND box = ui::WaitMessageBox(p_.pid(), 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), "Please remove the ISDN adapter and press ok when done.");
    sim.SetAddOn(false);
    ui::Click(box, IDOK);
    ui::WaitGone(box);
    Answer(kIsdnEnabled, IDOK);
    Finish();
    EXPECT_EQ(sim.State().bootStarts, 0);
    EXPECT_EQ(sim.State().addOnPackets, 0);
}

// A package that has nothing for this adapter on this Windows: only Windows NT settings on
// Windows 98. Refused before anything is written.
TEST_F(UpdateTest, APackageWithNothingForThisWindowsIsRefused) {
    Write("NT.MPK", fwtest::MpkFile(1, {{3, kRecord9x, 0x1143, 3, "EM56", "EtherModem settings",
                                         {{mpk::kKindSettingsNt, SettingsSection("DVXUPG.INF", FILE_ATTRIBUTE_ARCHIVE)}}}}));
    Run("PERFORM:NT.MPK");
    Answer("This update file is not suitable for the current Adapter or Operating System.", IDOK);
    Finish();
    EXPECT_TRUE(HasLine(Report(), "perform 0")) << Report();
    EXPECT_EQ(Key("UpdateFile"), "<none>");
    EXPECT_EQ(GetFileAttributesA((folder_ + "\\DVXUPG.INF").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Nothing to flash is no success: without a selected modem the dialog fails with a message.
TEST_F(UpdateTest, ProgressDialogWithoutAModemFails) {
    Write("EM56.MPK", ModemPackage(true));
    Run("PROGRESS:EM56.MPK");
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ui::Click(dlg, IDC_PROG_START);
    Answer("Unable to communicate with modem. Please stop whatever application is using the modem and try again.",
           IDOK);
    Finish();
    EXPECT_TRUE(HasLine(Report(), "progress dialog ended 2")) << Report();
    EXPECT_EQ(sim.State().bootStarts, 0);
}

// Versions are compared only when both read as major.minor: a package as new as the modem asks
// first; one whose version does not read goes straight to the progress dialog.
TEST_F(UpdateTest, VersionsAreComparedOnlyWhenBothRead) {
    struct Case {
        const char* packageVersion;
        bool asked;
    } cases[] = {{"1.80", true}, {"V2.00", false}, {"beta", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packageVersion);
        Prepare("run");
        Write("EM56.MPK", ModemPackage(true, "DVXUPG.INF", FILE_ATTRIBUTE_ARCHIVE, c.packageVersion));
        Run("PERFORM:EM56.MPK");
        if (c.asked) {
            Answer("The firmware in the selected file is an older or identical version than what is loaded in the "
                   "adapter.  \nDo you wish to continue?",
                   IDNO);
        } else {
            HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
            ASSERT_NE(dlg, nullptr);
            EXPECT_FALSE(ui::IsMessageBox(dlg));
            ui::Click(dlg, IDCANCEL);
        }
        Finish();
        EXPECT_TRUE(HasLine(Report(), "perform 0")) << Report();
        EXPECT_EQ(sim.State().bootStarts, 0);
    }
}

// "/FLASH_BOTH" cannot hand over to the DOS flasher: the modem is left as it is.
TEST_F(UpdateTest, FlashBothRefusesTheDosFlasher) {
    Write("EM56.MPK", ModemPackage(true));
    Write("TVL.MPK", AddOnPackage());
    CopyFlasher();
    sim.Update([](modemsim::ModemState& s) { s.firmwareVersion = "1.60"; });
    Run("/FLASH_BOTH");
    Answer("The modem requires Ostrel which is not supported from the command line.  The modem will not be upgraded.",
           IDOK);
    Answer("Please insert the ISDN adapter and press ok when done.", IDCANCEL);
    Finish();
    EXPECT_EQ(GetFileAttributesA((folder_ + "\\TEMP.PAK").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRunOnce, "cardflash"), "<none>");
    EXPECT_EQ(ReadFileText(folder_ + "\\flasher.txt"), "");
}

TEST_F(UpdateTest, CancelInTheSettingsDialogAsksWithNoAsTheDefault) {
    Write("SET.MPK", ModemPackage(false));
    Run("PERFORM:SET.MPK");
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    const char question[] =
        "Are you sure you want to cancel the update? The firmware has been updated but the modem settings in Windows "
        "have not. The modem could experience difficulty.\n\n";
    for (int button : {IDNO, IDYES}) {
        ui::Click(settings, IDCANCEL);
        HWND box = ui::WaitMessageBox(p_.pid(), 20000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ui::MessageBoxText(box), question);
        EXPECT_EQ(GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
        ui::Click(box, button);
        ui::WaitGone(box);
        if (button == IDNO) {
            EXPECT_TRUE(IsWindow(settings));
        }
    }
    Finish();
    EXPECT_EQ(GetFileAttributesA((folder_ + "\\DVXUPG.INF").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kDriverKey9x, "FirmwareLevel"), "<none>");
}

// A port that does not open: the command-line upgrade asks until the user gives up.
TEST_F(UpdateTest, CommandLineWaitsForThePortUntilTheUserGivesUp) {
    Write("EM56.MPK", ModemPackage(true));
    winetest::RegFixture deadPort(
        "[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"COM97\"\n");
    Run("/TVL");
    const char busy[] =
        "Unable to communicate with modem. Please stop whatever application is using the modem and try again.";
    Answer(busy, IDRETRY);
    Answer(busy, IDCANCEL);
    Finish();
    EXPECT_TRUE(sim.Commands().empty());
    EXPECT_EQ(Key("UpdateFile"), "<none>");
}
