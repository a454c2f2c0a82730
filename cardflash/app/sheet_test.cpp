// The main property sheet and its pages in the running program, as a user meets them: the Update
// page without adapters, with the simulated card of the fixture machine and its packages, an
// adapter that is not flashed through AT commands, a port that another program holds, a whole
// in-place upgrade from the Update button, Plug and Play notices on Windows NT and 9x, and the
// About page.
#include "cardflash/app/update_fixture.h"

#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <prsht.h>

#include <cstring>
#include <functional>

using namespace updatetest;

namespace {

const char kCaption[] = "Dorvex Upgrade Utility";
const char kNoAdapters[] = "No update supported adapters in computer.";
const char kChanging[] = "Plug-and-play system is changing, waiting for system to reset...";

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 30000) { return ui::WaitUntil(done, timeoutMs); }

// A block of memory at one address in this process and in another one, so that a pointer in a
// message means the same bytes on both sides, whether or not the system copies what it points to.
class SharedAddress {
public:
    SharedAddress(DWORD pid, const void* data, size_t size) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
        if (!process_) return;
        // An address that is free in both processes: tried in steps of the allocation granularity.
        for (uintptr_t at = 0x50000000; at < 0x70000000 && !address_; at += 0x10000) {
            void* wanted = reinterpret_cast<void*>(at);
            void* here = VirtualAlloc(wanted, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            if (here != wanted) {
                if (here) VirtualFree(here, 0, MEM_RELEASE);
                continue;
            }
            void* there = VirtualAllocEx(process_, wanted, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            if (there == wanted) {
                address_ = wanted;
            } else {
                if (there) VirtualFreeEx(process_, there, 0, MEM_RELEASE);
                VirtualFree(here, 0, MEM_RELEASE);
            }
        }
        if (!address_) return;
        memcpy(address_, data, size);
        SIZE_T done = 0;
        WriteProcessMemory(process_, address_, data, size, &done);
    }
    ~SharedAddress() {
        if (address_) VirtualFree(address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    void* get() const { return address_; }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
};

// The texts of a list view in another process, row by row, columns joined with " | ".
std::vector<std::string> ListRows(DWORD pid, HWND list, int columns) {
    std::vector<std::string> rows;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
    if (!process) return rows;
    char* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; remote && i < count; ++i) {
        std::string row;
        for (int c = 0; c < columns; ++c) {
            LVITEMA item{};
            item.iSubItem = c;
            item.pszText = remote + 512;
            item.cchTextMax = 1024;
            SIZE_T done = 0;
            WriteProcessMemory(process, remote, &item, sizeof(item), &done);
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
            char text[1024] = {};
            ReadProcessMemory(process, remote + 512, text, sizeof(text) - 1, &done);
            row += (c ? " | " : "") + std::string(text);
        }
        rows.push_back(row);
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return rows;
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

// The sheet of the running program and its pages.
struct Sheet {
    HWND sheet = nullptr;
    HWND page = nullptr;
};

Sheet WaitSheet(DWORD pid) {
    Sheet s;
    s.sheet = ui::WaitDialog(pid, kCaption, 30000);
    if (s.sheet) s.page = CurrentPage(s.sheet);
    return s;
}

void ExpectControls(HWND page, bool update, bool browse, bool list) {
    EXPECT_EQ(ui::IsEnabled(page, IDC_UPD_UPDATE), update);
    EXPECT_EQ(ui::IsEnabled(page, IDC_UPD_BROWSE), browse);
    EXPECT_EQ(ui::IsEnabled(page, IDC_UPD_FILES), list);
}

std::string FirmwareIniVersion(const std::string& ini) {
    char buf[64] = {};
    GetPrivateProfileStringA("Version", "Version", "<none>", buf, sizeof(buf), ini.c_str());
    return buf;
}

size_t CountOf(const std::vector<std::string>& commands, const std::string& command) {
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
}

// A machine without adapters: the program itself in a program folder of its own.
class SheetAloneTest : public CardflashTest {
protected:
    void SetUp() override {
        CardflashTest::SetUp();
        UseProgram();
    }
};

// The fixture machine with card A's modem as the simulated card.
class SheetTest : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        UseProgram();
    }
    // Started and shown, the card's version read and its file list filled.
    Sheet StartFilled() {
        Run("");
        Sheet s = WaitSheet(p_.pid());
        EXPECT_NE(s.sheet, nullptr);
        if (!s.sheet) return s;
        EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); })) << ui::ControlText(s.page, IDC_UPD_STATUS);
        return s;
    }
    std::vector<std::string> Files(const Sheet& s) { return ListRows(p_.pid(), ui::Control(s.page, IDC_UPD_FILES), 3); }
    void Close(const Sheet& s) {
        ASSERT_TRUE(ui::Click(s.sheet, IDCANCEL));
        Finish();
    }
    std::string CardA() const { return IsNt() ? "Dorvex EtherModem 56 PC Card" : "Dorvex EtherModem 56 "; }

    // Windows 9x: the devnode `other` of another maker's modem and the devnode `ours` of card B.
    static std::string Devnodes(const char* other, const char* ours) {
        return std::string("[HKEY_DYN_DATA\\Config Manager\\Enum\\") + other + "]\n" +
               "\"HardWareKey\"=\"PCMCIA\\\\OTHERCO-MODEM_33-1111\\\\1\"\n" +
               "[HKEY_DYN_DATA\\Config Manager\\Enum\\" + ours + "]\n" +
               "\"HardWareKey\"=\"PCMCIA\\\\DORVEX-MODEM_56K-77C2\\\\1\"\n";
    }
    // Windows 9x: `event` for `devnode`, its header at an address that means the same in the program.
    void DevnodeNotice(HWND sheet, WPARAM event, DWORD devnode) {
        struct Devnode {
            DWORD size, type, reserved, devnode;
        };
        Devnode header{sizeof(Devnode), 1, 0, devnode};
        SharedAddress shared(p_.pid(), &header, sizeof(header));
        ASSERT_NE(shared.get(), nullptr);
        SendMessageA(sheet, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(shared.get()));
    }
};

}  // namespace

TEST_F(SheetAloneTest, WithoutAdaptersEveryControlStaysOffAndTheFolderIsKept) {
    Start(winetest::RequestedVersion());
    Sheet s = WaitSheet(p_.pid());
    ASSERT_NE(s.sheet, nullptr);
    ASSERT_NE(s.page, nullptr);
    EXPECT_EQ(ui::Text(s.page), "Update");
    EXPECT_FALSE(ui::IsVisible(s.sheet, IDOK));
    EXPECT_EQ(ui::ControlText(s.sheet, IDCANCEL), "Close");
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS), std::vector<std::string>{kNoAdapters});
    EXPECT_EQ(ui::ComboSelection(s.page, IDC_UPD_ADAPTERS), 0);
    ExpectControls(s.page, false, false, false);
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_FOLDER), folder_);
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_STATUS), "");
    EXPECT_EQ(UpdateKey(Ini(), "UpdatePath"), "<none>");  // written when the page goes
    ASSERT_TRUE(ui::Click(s.sheet, IDCANCEL));
    ASSERT_TRUE(p_.Wait(30000));
    EXPECT_EQ(p_.exit_code(), 0u);
    EXPECT_EQ(UpdateKey(Ini(), "UpdatePath"), folder_);
}

TEST_F(SheetAloneTest, AboutShowsTheVersionResourceAndTheDatabaseVersion) {
    struct {
        const char* name;
        bool withVersion;  // the database's [Version] section
        const char* shown;
    } cases[] = {{"with [Version]", true, "2.31"}, {"without [Version]", false, " "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeFolder("run");
        UseProgram();
        const std::string db = folder_ + "\\QorvDevices.ini";
        if (!c.withVersion) WritePrivateProfileStringA("Version", nullptr, nullptr, db.c_str());
        ASSERT_EQ(FirmwareIniVersion(db), c.withVersion ? "2.31" : "<none>");
        Start(winetest::RequestedVersion());
        Sheet s = WaitSheet(p_.pid());
        ASSERT_NE(s.sheet, nullptr);
        SendMessageA(s.sheet, PSM_SETCURSEL, 1, 0);
        HWND about = CurrentPage(s.sheet);
        ASSERT_NE(about, s.page);
        EXPECT_EQ(ui::Text(about), "About");
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_NAME), kCaption);
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_VERSION), "1.0.0.0");
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_COPYRIGHT), "Copyright (C) 1999-2002 Dorvex");
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_DB_VERSION), c.shown);
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_VERSION_LABEL), "Version:");
        EXPECT_EQ(ui::ControlText(about, IDC_ABOUT_DB_LABEL), "Device Support Version:");
        ASSERT_TRUE(ui::Click(s.sheet, IDCANCEL));
        ASSERT_TRUE(p_.Wait(30000));
    }
}

TEST_F(SheetTest, TheFileListHoldsThePackageThatFitsTheCard) {
    Write("EM56.MPK", ModemPackage(true));
    Write("TVL.MPK", AddOnPackage());  // the add-on's: not for this card without the add-on
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    std::vector<std::string> adapters = ui::ComboItems(s.page, IDC_UPD_ADAPTERS);
    ASSERT_FALSE(adapters.empty());
    EXPECT_EQ(adapters[0], CardA());
    EXPECT_EQ(ui::ComboSelection(s.page, IDC_UPD_ADAPTERS), 0);
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_MODEM_STATE), "1.80");
    EXPECT_EQ(Files(s), std::vector<std::string>{"EM56.MPK | 1.90 | EtherModem firmware"});
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_STATUS), "");
    ExpectControls(s.page, true, true, true);
    Close(s);
    EXPECT_EQ(Key("UpdatePath"), folder_);
}

TEST_F(SheetTest, AnAdapterWithoutAtFlashingOffersNothing) {
    // Card A's database section names another flash mode.
    const std::string db = folder_ + "\\QorvDevices.ini";
    WritePrivateProfileStringA("1", "MODEM_FLASHMODE", "DOS", db.c_str());
    Write("EM56.MPK", ModemPackage(true));
    Run("");
    Sheet s = WaitSheet(p_.pid());
    ASSERT_NE(s.sheet, nullptr);
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_STATUS), "This adapter does not support the Update feature.");
    ExpectControls(s.page, false, false, false);
    EXPECT_EQ(Files(s), std::vector<std::string>{});
    EXPECT_EQ(CountOf(sim.Commands(), "AT+GMR"), 0u);  // the modem is not asked
    Close(s);
}

// 121 from the capability query says the modem is older than in-place flashing: the list still
// fills, and the Update button leads to the DOS flasher.
TEST_F(SheetTest, AnOldModemGetsItsFilesAndTheDosFlashersRoad) {
    sim.Update([](modemsim::ModemState& st) { st.firmwareVersion = "1.60"; });
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_MODEM_STATE), "1.60");
    EXPECT_EQ(Files(s), std::vector<std::string>{"EM56.MPK | 1.90 | EtherModem firmware"});
    ASSERT_TRUE(ui::Click(s.page, IDC_UPD_UPDATE));
    Answer("Unable to locate Ostrel. Place Ostrel.exe in the following directory: " + folder_, IDOK);
    EXPECT_EQ(Key("UpdateOldVer"), "1.60");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kRunOnce, "cardflash"), "<none>");
    Close(s);
}

// A modem that answers no version request: the page gives up after three tries in a row with
// "Communication Error", and what it gave up no longer holds the list back.
TEST_F(SheetTest, GivenUpQueriesDoNotHoldTheFileListBack) {
    sim.Update([](modemsim::ModemState& st) { st.errorCommands = {"AT+GMR"}; });
    Write("EM56.MPK", ModemPackage(true));
    Run("");
    Sheet s = WaitSheet(p_.pid());
    ASSERT_NE(s.sheet, nullptr);
    EXPECT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_MODEM_STATE) == "Communication Error"; }));
    // Both queries have given up once the card hears no more version requests for a while.
    size_t seen = 0;
    EXPECT_TRUE(WaitFor([&] {
        size_t now = CountOf(sim.Commands(), "AT+GMR");
        if (now != seen) {
            seen = now;
            Sleep(1500);
            return false;
        }
        return true;
    }));
    EXPECT_GE(seen, 3u);
    EXPECT_FALSE(ui::IsEnabled(s.page, IDC_UPD_BROWSE));
    // A later answer of the version read fills the list: nothing else is pending.
    ASSERT_TRUE(PostMessageA(s.page, WM_USER, 1, 0));
    EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(Files(s), std::vector<std::string>{"EM56.MPK | 1.90 | EtherModem firmware"});
    Close(s);
}

// The run after the DOS flasher's reboot: the settings dialog's check comes before the sheet.
TEST_F(SheetTest, AfterTheRebootTheCheckComesBeforeTheSheet) {
    WritePostRebootRecord();
    Run("UPGRADE");
    HWND box = ui::WaitMessageBox(p_.pid(), 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box),
              "The adapter was to be updated to version 1.90. Ostrel.exe failed to update the adapter to the newer "
              "version.");
    for (HWND w : ui::TopWindows(p_.pid())) EXPECT_NE(ui::Text(w), kCaption);
    ui::Click(box, IDOK);
    Sheet s = WaitSheet(p_.pid());
    ASSERT_NE(s.sheet, nullptr);
    Close(s);
}

// The run after the reboot with card B recorded: the check selects card B, and the page fills only
// then, so the combo shows card B and the Update button goes to card B's port (card A's is dead).
TEST_F(SheetTest, AfterTheRebootTheSheetShowsTheRecordedAdapter) {
    winetest::RegFixture ports(
        std::string("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n\"PORTNAME\"=\"COM97\"\n") +
        "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\DORVEX-MODEM_56K-77C2\\1]\n\"PORTNAME\"=\"" + pair.a + "\"\n");
    const char kCardB[] = "PCMCIA\\DORVEX-MODEM_56K-77C2\\1";
    WritePostRebootRecord();
    WritePrivateProfileStringA("Update", "UpdatePnP", kCardB, Ini().c_str());
    // Card B's package; the card runs the version the record expects.
    Write("M56.MPK", fwtest::MpkFile(1, {{3, "PCMCIA\\DORVEX-MODEM_56K", 0x1144, 3, "M56", "56K firmware",
                                          {{mpk::kKindImage, ModemImage("1.95")}}}}));
    sim.Update([](modemsim::ModemState& st) { st.firmwareVersion = "1.90"; });
    Run("UPGRADE");
    Answer("The update completed successfully!", IDOK);
    Sheet s = WaitSheet(p_.pid());
    ASSERT_NE(s.sheet, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_UPDATE); })) << ui::ControlText(s.page, IDC_UPD_STATUS);
    const std::vector<std::string> adapters = ui::ComboItems(s.page, IDC_UPD_ADAPTERS);
    const int line = ui::ComboSelection(s.page, IDC_UPD_ADAPTERS);
    ASSERT_GE(line, 0);
    ASSERT_LT(static_cast<size_t>(line), adapters.size());
    EXPECT_NE(adapters[static_cast<size_t>(line)].find("56K PC Card Modem"), std::string::npos) << adapters[static_cast<size_t>(line)];
    EXPECT_EQ(ui::ControlText(s.page, IDC_UPD_MODEM_STATE), "1.90");
    EXPECT_EQ(Files(s), std::vector<std::string>{"M56.MPK | 1.95 | 56K firmware"});

    ASSERT_TRUE(ui::Click(s.page, IDC_UPD_UPDATE));
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(dlg, s.sheet);
    // The progress dialog runs with card B's port locked, and the record names card B.
    EXPECT_EQ(Key("UpdatePnP"), kCardB);
    ASSERT_TRUE(ui::Click(dlg, IDCANCEL));
    ASSERT_TRUE(ui::WaitGone(dlg));
    Close(s);
}

// A report that the port did not open parks the version read; the monitor finds the port free
// and the read runs again by itself.
TEST_F(SheetTest, ABusyPortParksTheVersionReadUntilItIsFree) {
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    const size_t reads = CountOf(sim.Commands(), "AT+GMR");
    ASSERT_TRUE(PostMessageA(s.page, WM_USER, 1, 14));
    EXPECT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_MODEM_STATE) == "Unavailable - modem in use."; }));
    EXPECT_TRUE(WaitFor([&] { return CountOf(sim.Commands(), "AT+GMR") > reads; }));
    EXPECT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_MODEM_STATE) == "1.80"; }));
    Close(s);
}

TEST_F(SheetTest, AWholeInPlaceUpgradeFromTheUpdateButton) {
    const std::string package = Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    ASSERT_TRUE(ui::Click(s.page, IDC_UPD_UPDATE));
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(dlg, s.sheet);
    ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));
    HWND box = ui::WaitMessageBox(p_.pid(), 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), "The firmware update has completed successfully!");
    EXPECT_EQ(SendMessageA(ui::Control(dlg, IDC_PROG_BAR), PBM_GETPOS, 0, 0), 100);
    ui::Click(box, IDOK);
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
    Answer("The update completed successfully!", IDOK);

    // The page asks the card again and shows what it now runs.
    EXPECT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_MODEM_STATE) == "1.90"; }))
        << ui::ControlText(s.page, IDC_UPD_MODEM_STATE);
    const modemsim::ModemState st = sim.State();
    EXPECT_TRUE(st.bootFlashed);
    EXPECT_EQ(st.bootReceived, ExpectedImage(package));
    EXPECT_EQ(Key("UpdateNewVer"), "1.90");
    Close(s);
}

// Windows NT: every notice restarts the settling time, so three quick ones rebuild once.
TEST_F(SheetTest, NtThreeQuickNoticesRebuildOnce) {
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    const size_t reads = CountOf(sim.Commands(), "AT+GMR");
    for (WPARAM event : {static_cast<WPARAM>(DBT_DEVNODES_CHANGED), static_cast<WPARAM>(DBT_DEVNODES_CHANGED),
                         static_cast<WPARAM>(DBT_DEVNODES_CHANGED)})
        SendMessageA(s.sheet, WM_DEVICECHANGE, event, 0);
    // The page is told at once, and nothing can be started on the modems that are about to go.
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS), std::vector<std::string>{kChanging});
    ExpectControls(s.page, false, false, false);
    EXPECT_EQ(SendMessageA(s.sheet, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 0), TRUE);

    ASSERT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    EXPECT_EQ(Files(s), std::vector<std::string>{"EM56.MPK | 1.90 | EtherModem firmware"});
    // One rebuild asks the card once more with both queries; a second one would ask again. The
    // settling time is 0.4 s: twice that shows whether another rebuild follows.
    Sleep(1500);
    EXPECT_EQ(CountOf(sim.Commands(), "AT+GMR"), reads + 2);
    Close(s);
}

// Windows 9x: only an arrival whose device carries one of the maker's hardware prefixes counts.
TEST_F(SheetTest, Windows9xArrivalsOfOtherMakersChangeNothing) {
    winetest::RegFixture nodes(Devnodes("C2F00010", "C2F00020"));
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    const size_t reads = CountOf(sim.Commands(), "AT+GMR");

    DevnodeNotice(s.sheet, DBT_DEVICEARRIVAL, 0xC2F00010);
    // A rebuild would follow within 50 ms; a second shows that none comes.
    Sleep(1000);
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    EXPECT_EQ(CountOf(sim.Commands(), "AT+GMR"), reads);

    DevnodeNotice(s.sheet, DBT_DEVICEARRIVAL, 0xC2F00020);
    EXPECT_TRUE(WaitFor([&] { return CountOf(sim.Commands(), "AT+GMR") >= reads + 2; }));
    EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    Close(s);
}

// Windows 9x: the removal of one of the machine's adapters waits until its devnode is gone, then
// rebuilds; the removal of a device the program never knew changes nothing.
TEST_F(SheetTest, Windows9xRemovalWaitsForTheDevnodeToGo) {
    winetest::RegFixture nodes(Devnodes("C2F00030", "C2F00040"));
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    const size_t reads = CountOf(sim.Commands(), "AT+GMR");
    DevnodeNotice(s.sheet, DBT_DEVICEREMOVECOMPLETE, 0xC2F00040);  // card B: the page hears of it at once
    // A device of another maker goes too: were it taken for one of ours, the program would wait
    // for its devnode, which stays, and never rebuild.
    DevnodeNotice(s.sheet, DBT_DEVICEREMOVECOMPLETE, 0xC2F00030);
    EXPECT_TRUE(WaitFor([&] { return ui::ComboItems(s.page, IDC_UPD_ADAPTERS) == std::vector<std::string>{kChanging}; }));
    // While the devnode is there the system has not settled (the timer looks every 50 ms).
    Sleep(1000);
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS), std::vector<std::string>{kChanging});
    EXPECT_EQ(CountOf(sim.Commands(), "AT+GMR"), reads);

    ASSERT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, "Config Manager\\Enum\\C2F00040"), ERROR_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return CountOf(sim.Commands(), "AT+GMR") >= reads + 2; }));
    EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    Close(s);
}

// A folder chosen with Browse while the system changes is kept, but nothing is offered on the
// modems that are about to be rebuilt: the page fills from that folder after the re-detection.
TEST_F(SheetTest, Windows9xABrowsedFolderWaitsForTheRebuild) {
    winetest::RegFixture nodes(Devnodes("C2F00070", "C2F00080"));
    Write("EM56.MPK", ModemPackage(true));
    const std::string other = folder_ + "\\more";
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
    const std::string package = other + "\\EM56B.MPK";
    ASSERT_TRUE(CopyFileA((folder_ + "\\EM56.MPK").c_str(), package.c_str(), FALSE));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    ASSERT_TRUE(ui::Click(s.page, IDC_UPD_BROWSE));
    HWND browse = ui::WaitDialog(p_.pid(), "Browse for Update File", 20000);
    ASSERT_NE(browse, nullptr);

    // Card B goes while the file dialog is open; its devnode stays, so the system has not settled.
    DevnodeNotice(s.sheet, DBT_DEVICEREMOVECOMPLETE, 0xC2F00080);
    ASSERT_TRUE(WaitFor([&] { return ui::ComboItems(s.page, IDC_UPD_ADAPTERS) == std::vector<std::string>{kChanging}; }));
    // The file name box of the dialog: an edit, or the edit of a combo box.
    const int nameIds[] = {0x47C, 0x480};
    bool named = false;
    for (int id : nameIds) {
        HWND name = ui::Control(browse, id);
        if (!name) continue;
        HWND edit = FindWindowExA(name, nullptr, "Edit", nullptr);
        named = SendMessageA(edit ? edit : name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(package.c_str())) != 0;
        if (named) break;
    }
    ASSERT_TRUE(named);
    ASSERT_TRUE(ui::Click(browse, IDOK));
    ASSERT_TRUE(ui::WaitGone(browse));
    // The folder text is set just before the list would fill, in the same handler.
    ASSERT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_FOLDER) == other; }))
        << ui::ControlText(s.page, IDC_UPD_FOLDER);
    ExpectControls(s.page, false, false, false);
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS), std::vector<std::string>{kChanging});

    ASSERT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, "Config Manager\\Enum\\C2F00080"), ERROR_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(Files(s), std::vector<std::string>{"EM56B.MPK | 1.90 | EtherModem firmware"});
    Close(s);
}

// Windows 9x: the notices other than arrival and removal carry no device header (a drive number
// for the disk-space notices, the new screen size for a monitor change, nothing for the
// configuration ones); they change nothing.
TEST_F(SheetTest, Windows9xNoticesWithoutADeviceHeaderChangeNothing) {
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    const size_t reads = CountOf(sim.Commands(), "AT+GMR");
    const std::pair<WPARAM, LPARAM> notices[] = {
        {DBT_LOW_DISK_SPACE, 2}, {DBT_NO_DISK_SPACE, 3}, {DBT_CONFIGCHANGED, 0}, {DBT_QUERYCHANGECONFIG, 0},
        {DBT_MONITORCHANGE, MAKELPARAM(1024, 768)}, {DBT_MONITORCHANGE, MAKELPARAM(1600, 1200)}};
    for (const auto& n : notices) SendMessageA(s.sheet, WM_DEVICECHANGE, n.first, n.second);
    Sleep(500);
    ASSERT_FALSE(p_.Wait(0)) << "cardflash ended";
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    ExpectControls(s.page, true, true, true);
    EXPECT_EQ(CountOf(sim.Commands(), "AT+GMR"), reads);
    Close(s);
}

// A device change while an update holds its modem: the page is told at once and nothing brings
// its controls back, but the lists are rebuilt only after the update has ended.
TEST_F(SheetTest, AnUpdateHoldsTheRebuildBackUntilItEnds) {
    winetest::RegFixture nodes(Devnodes("C2F00050", "C2F00060"));
    Write("EM56.MPK", ModemPackage(true));
    Sheet s = StartFilled();
    ASSERT_NE(s.sheet, nullptr);
    ASSERT_TRUE(ui::Click(s.page, IDC_UPD_UPDATE));
    HWND dlg = ui::WaitDialog(p_.pid(), "Update", 20000);
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(dlg, s.sheet);

    DevnodeNotice(s.sheet, DBT_DEVICEARRIVAL, 0xC2F00060);
    EXPECT_TRUE(WaitFor([&] { return ui::ComboItems(s.page, IDC_UPD_ADAPTERS) == std::vector<std::string>{kChanging}; }));
    // Late answers of the page's queries.
    ASSERT_TRUE(PostMessageA(s.page, WM_USER, 8, 0));
    ASSERT_TRUE(PostMessageA(s.page, WM_USER, 1, 0));
    // The re-detection would follow within 50 ms.
    Sleep(1000);
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS), std::vector<std::string>{kChanging});
    ExpectControls(s.page, false, false, false);

    ASSERT_TRUE(ui::Click(dlg, IDC_PROG_START));
    Answer("The firmware update has completed successfully!", IDOK);
    HWND settings = ui::WaitDialog(p_.pid(), "Update Modem Settings", 20000);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(ui::Click(settings, IDC_MODSET_UPDATE));
    Answer("The update completed successfully!", IDOK);
    EXPECT_TRUE(sim.State().bootFlashed);

    // Once the update is over the lists are rebuilt and the page fills itself again.
    EXPECT_TRUE(WaitFor([&] { return ui::IsEnabled(s.page, IDC_UPD_BROWSE); }));
    EXPECT_EQ(ui::ComboItems(s.page, IDC_UPD_ADAPTERS)[0], CardA());
    EXPECT_TRUE(WaitFor([&] { return ui::ControlText(s.page, IDC_UPD_MODEM_STATE) == "1.90"; }));
    Close(s);
}
