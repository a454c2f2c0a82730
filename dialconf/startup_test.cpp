// Start-up of dialconf as a user meets it: the Windows version, finding the adapter's port
// through the registry and a scan, remembering it, and telling portbridge in serlink.ini.
#include "dialconf/program_fixture.h"

namespace {

const char kNoProducts[] = "The program found no attached Dorvex products.";

std::string Win98Device(const std::string& bus, const std::string& device, const std::string& instance,
                        const std::string& mfg, const std::string& port) {
    std::string key = "[HKEY_LOCAL_MACHINE\\Enum\\" + bus + "\\" + device + "\\" + instance + "]\n";
    if (!mfg.empty()) key += "\"Mfg\"=\"" + mfg + "\"\n";
    if (!port.empty()) key += "\"PORTNAME\"=\"" + port + "\"\n";
    return key;
}

// On Windows, CurrentControlSet is ControlSet001; Wine keeps them apart, so a fixture writes the
// modem entries into both: discovery reads the first, the delays go into the second.
const char kModemClass[] = "HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char kCurrentModemClass[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

std::string ModemEntries(const char* cls, const std::string& port) {
    return std::string("[") + cls + "\\0000]\n\"Manufacturer\"=\"Dorvex\"\n\"AttachedTo\"=\"" + port + "\"\n[" + cls +
           "\\0001]\n\"Manufacturer\"=\"Acme\"\n\"AttachedTo\"=\"COM96\"\n";
}

}  // namespace

TEST_F(DialconfTest, FindsTheAdapterOnEachWindows98Bus) {
    // The adapter's port on one bus; the maker's other devices there have ports that are gone.
    for (const char* bus : {"MF", "PCI", "PCMCIA"}) {
        SCOPED_TRACE(bus);
        StartAdapter();
        std::string text;
        for (const char* other : {"MF", "PCI", "PCMCIA"}) {
            std::string port = std::string(other) == bus ? AdapterPort() : "COM97";
            text += Win98Device(other, "DORVEX_CARD", "0", "Dorvex", port);
        }
        // Under PCMCIA only instance "0" counts; under MF a device of another maker never does.
        text += Win98Device("PCMCIA", "DORVEX_CARD", "1", "Dorvex", "COM96");
        text += Win98Device("MF", "OTHER_CARD", "0", "Acme", AdapterPort());
        winetest::RegFixture reg(text);
        WriteIni("");
        Start("win98");
        HWND welcome = ui::WaitDialog(p_.pid(), "Dorvex ISDN Configuration", 30000);
        ASSERT_NE(welcome, nullptr);
        ui::Click(welcome, IDCANCEL);
        EXPECT_EQ(ExitCode(), 0u);
        EXPECT_EQ(Settings()["COM PORT"]["PORT"], AdapterPort());
        EXPECT_EQ(ReadIni(Serlink())["COMM"]["comPort"], AdapterPort().substr(3));  // COM12 gives 12
        sim_.Stop();
    }
}

TEST_F(DialconfTest, FindsTheAdapterInTheNtModemClassAndSetsDelaysOnWindows2000) {
    for (const char* version : {"nt40", "win2k"}) {
        SCOPED_TRACE(version);
        StartAdapter();
        winetest::RegFixture reg(ModemEntries(kModemClass, AdapterPort()) + ModemEntries(kCurrentModemClass, AdapterPort()));
        WriteIni("");
        Start(version);
        HWND welcome = ui::WaitDialog(p_.pid(), "Dorvex ISDN Configuration", 30000);
        ASSERT_NE(welcome, nullptr);
        ui::Click(welcome, IDCANCEL);
        EXPECT_EQ(ExitCode(), 0u);
        EXPECT_EQ(Settings()["COM PORT"]["PORT"], AdapterPort());

        bool win2k = std::string(version) == "win2k";
        HKEY key;
        for (const char* instance : {"0000", "0001"}) {
            std::string path = std::string(kCurrentModemClass).substr(strlen("HKEY_LOCAL_MACHINE\\")) + "\\" + instance;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
            for (const char* name : {"PowerDelay", "ConfigDelay"}) {
                DWORD type = 0, value = 0, size = sizeof(value);
                LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
                bool expect = win2k && std::string(instance) == "0000";
                EXPECT_EQ(r == ERROR_SUCCESS, expect) << instance << " " << name;
                if (expect) {
                    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
                    EXPECT_EQ(value, 1500u);
                }
            }
            RegCloseKey(key);
        }
        sim_.Stop();
    }
}

TEST_F(DialconfTest, ManufacturerMatchingRule) {
    struct {
        const char* mfg;  // nullptr: no Mfg value
        bool port;        // PORTNAME present
        bool found;
    } cases[] = {
        {"Dorvex", true, true},                     // part of the entry "Dorvex Networks"
        {"", true, true},                           // empty: part of every entry
        {"Dorvex Networks Inc", true, false},       // longer than the entry
        {nullptr, true, false},                     // unreadable: matches nothing
        {"Dorvex", false, false},                   // no port to add
    };
    StartAdapter();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mfg ? c.mfg : "(none)");
        std::string text = "[HKEY_LOCAL_MACHINE\\Enum\\MF\\CARD\\0]\n";
        if (c.mfg) text += std::string("\"Mfg\"=\"") + c.mfg + "\"\n";
        if (c.port) text += "\"PORTNAME\"=\"" + AdapterPort() + "\"\n";
        winetest::RegFixture reg(text);
        WriteIni("");
        Start("win98");
        if (c.found) {
            HWND welcome = ui::WaitDialog(p_.pid(), "Dorvex ISDN Configuration", 30000);
            ASSERT_NE(welcome, nullptr);
            ui::Click(welcome, IDCANCEL);
            EXPECT_EQ(ExitCode(), 0u);
        } else {
            EXPECT_EQ(AnswerMessageBox(), kNoProducts);
            EXPECT_EQ(ExitCode(), kFailed);
        }
    }
}

TEST_F(DialconfTest, ASavedPortThatIsGoneLeadsToDiscovery) {
    StartAdapter();
    winetest::RegFixture reg(Win98Device("MF", "CARD", "0", "Dorvex", AdapterPort()));
    WriteIni("[COM PORT]\nPORT=COM95\n");
    Start("win98");
    HWND welcome = ui::WaitDialog(p_.pid(), "Dorvex ISDN Configuration", 30000);
    ASSERT_NE(welcome, nullptr);
    ui::Click(welcome, IDCANCEL);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_EQ(Settings()["COM PORT"]["PORT"], AdapterPort());
}

TEST_F(DialconfTest, StartUpFailuresEndWithMinusOne) {
    // No device of the maker at all.
    Start("win98");
    EXPECT_EQ(AnswerMessageBox(), kNoProducts);
    EXPECT_EQ(ExitCode(), kFailed);

    // A plain modem where the adapter should be.
    StartAdapter();
    sim_.With([](isdnsim::IsdnAdapter& a) { a.behaviour().plain_modem = true; });
    {
        winetest::RegFixture reg(Win98Device("MF", "CARD", "0", "Dorvex", AdapterPort()));
        Start("win98");
        EXPECT_EQ(AnswerMessageBox(), "The program found no ISDN Tamrisk attached to any Dorvex Products.");
        EXPECT_EQ(ExitCode(), kFailed);
    }
    EXPECT_EQ(ReadIni(Serlink()).count("COMM"), 0u);

    // A silent port: ten wake-up attempts of two seconds, then the same answer.
    winetest::RegFixture reg(Win98Device("MF", "CARD", "0", "Dorvex", AdapterPort(1)));
    Start("win98");
    EXPECT_EQ(AnswerMessageBox(), "The program found no ISDN Tamrisk attached to any Dorvex Products.");
    EXPECT_EQ(ExitCode(), kFailed);
}

TEST_F(DialconfTest, CancelBeforeTheScanEndsTheProgram) {
    // The scan starts 100 ms after its dialog shows; a press that comes later is lost in the busy
    // scan of the silent saved port, and the try is repeated.
    WriteIni("[COM PORT]\nPORT=" + AdapterPort(1) + "\n");
    bool cancelled = false;
    for (int attempt = 0; attempt < 5 && !cancelled; ++attempt) {
        winetest::Process p;
        ASSERT_TRUE(winetest::SetProgramVersion("dialconf.exe", "win98"));
        ASSERT_TRUE(p.Start(Exe()));
        HWND scan = ui::WaitDialog(p.pid(), "Scanning Com Ports...");
        ASSERT_NE(scan, nullptr);
        ui::Click(scan, IDCANCEL);
        HWND box = ui::WaitMessageBox(p.pid(), 3000);
        if (!box) continue;
        EXPECT_EQ(ui::MessageBoxText(box), "Scanning aborted. Application will terminate.");
        ui::Click(box, IDOK);
        ASSERT_TRUE(p.Wait(10000));
        EXPECT_EQ(p.exit_code(), kFailed);
        cancelled = true;
    }
    EXPECT_TRUE(cancelled);
}

TEST_F(DialconfTest, RefusesWin32sAndNt3) {
    struct {
        const char* version;
        const char* text;
    } cases[] = {
        {"win31", "This is a 32-bit application.  It can not run on a 16-bit system."},
        {"nt351", "This program is designed to run on Windows NT Version 4.0 or above."},
    };
    for (const auto& c : cases) {
        Start(c.version);
        HWND box = ui::WaitMessageBox(p_.pid());
        ASSERT_NE(box, nullptr) << c.version;
        EXPECT_EQ(ui::Text(box), "Error");
        EXPECT_EQ(ui::MessageBoxText(box), c.text);
        ui::Click(box, IDOK);
        EXPECT_EQ(ExitCode(), kFailed);
    }
}
