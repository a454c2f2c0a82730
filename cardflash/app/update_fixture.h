// What the tests of the update routine in the running program share: the fixture machine with card
// A's modem as the simulated card on a COM-port pair, packages from the test builders, the DOS
// flasher's stub, and the user's answers through the UI driver. The program is the update host
// (testhost/update_host.cpp): cardflash with a way in to the routine.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cardflash/app/program_fixture.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/settings_header.h"
#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_image.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"
#include "winetest/ports.h"
#include "winetest/registry.h"

namespace updatetest {

using fwtest::Bytes;

inline const char kRecord9x[] = "PCMCIA\\DORVEX-ETHERMODEM_56";
inline const char kCardA9x[] = "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1";
inline const char kRunOnce[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline const char kDriverKey9x[] = "System\\CurrentControlSet\\Services\\Class\\Modem\\0000";
inline constexpr size_t kImageSize = 0x4A10;
inline constexpr uint32_t kInfWritten = 1000000000;  // 2001-09-09

inline bool IsNt() { return winetest::RequestedVersion() == "nt40"; }

inline const char kInf[] =
    "[Version]\r\n"
    "Signature=\"$CHICAGO$\"\r\n"
    "Class=Modem\r\n"
    "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n"
    "Provider=Dorvex\r\n"
    "\r\n"
    "[Modem1-Upgrade]\r\n"
    "AddReg=Upgrade.AddReg\r\n"
    "\r\n"
    "[Upgrade.AddReg]\r\n"
    "HKR,,FirmwareLevel,,\"1.90\"\r\n"
    "HKR,Init,1,,\"AT<cr>\"\r\n";

// A settings section: the 357-byte file status, then the INF.
inline Bytes SettingsSection(const std::string& infName, uint8_t attributes, const std::string& inf = kInf) {
    Bytes header(mpk::kSettingsHeaderSize, 0);
    fwtest::Put32(&header, 0, kInfWritten);
    fwtest::Put32(&header, 4, kInfWritten);
    fwtest::Put32(&header, 8, kInfWritten);
    fwtest::Put32(&header, 12, static_cast<uint32_t>(inf.size()));
    header[16] = attributes;
    std::copy(infName.begin(), infName.end(), header.begin() + 17);
    return fwtest::Cat({header, fwtest::Text(inf)});
}

inline Bytes ModemImage(const std::string& version) {
    return fwtest::FisImage(kImageSize)
        .Cis(4, 0x4100)
        .Put(0x4100, {1, 2, 3, 4})
        .Version(0x4300, version)
        .TextItem(0x30, 8, 0x4600)
        .Build();
}

// The modem package of card A: its image (when `image`), and settings for Windows 9x and NT.
inline Bytes ModemPackage(bool image, const std::string& infName = "DVXUPG.INF", uint8_t attributes = FILE_ATTRIBUTE_ARCHIVE,
                          const std::string& version = "1.90", const std::string& inf = kInf) {
    std::vector<fwtest::MpkSection> sections;
    if (image) {
        sections.push_back({mpk::kKindCis, {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C}});
        sections.push_back({mpk::kKindPatchList, {0, 0}});
        sections.push_back({mpk::kKindImage, ModemImage(version)});
    }
    sections.push_back({mpk::kKindSettings9x, SettingsSection(infName, attributes, inf)});
    sections.push_back({mpk::kKindSettingsNt, SettingsSection(infName, attributes, inf)});
    return fwtest::MpkFile(static_cast<uint8_t>(sections.size()), {{3, kRecord9x, 0x1143, 3, "EM56", "EtherModem firmware", sections}});
}

inline Bytes AddOnPackage() {
    Bytes image(2048);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    return fwtest::MpkFile(4, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V2.20", {{mpk::kKindAddOnImage, image}}}});
}

inline std::string UpdateKey(const std::string& ini, const char* key) {
    char buf[512] = {};
    GetPrivateProfileStringA("Update", key, "<none>", buf, sizeof(buf), ini.c_str());
    return buf;
}

inline std::string RegText(HKEY root, const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char buf[1024] = {};
    DWORD size = sizeof(buf) - 1, type = 0;
    LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(buf) : "<none>";
}

inline void DeleteRunOnce() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, "cardflash");
    RegCloseKey(key);
}

inline std::string ShortPath(const std::string& path) {
    char buf[MAX_PATH] = {};
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof(buf));
    return n > 0 && n < sizeof(buf) ? std::string(buf) : path;
}

// The settings install copies the package's INF into the Windows INF folder, and on Windows 9x
// also under the name the fixture machine keeps card A's INF by in INF\OTHER, with the package's
// attributes: a read-only copy would outlast the case and every other case's delete of it.
inline void RemoveInstalledInfs() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    for (const char* name : {"\\INF\\DVXUPG.INF", "\\INF\\OTHER\\DORVEX~1.INF"}) {
        const std::string path = std::string(windows) + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

class UpdateTest : public CardflashTest {
protected:
    void SetUp() override {
        RemoveInstalledInfs();
        CardflashTest::SetUp();
        Prepare("run");
    }
    void TearDown() override {
        DeleteRunOnce();
        CardflashTest::TearDown();
        RemoveInstalledInfs();
        sim.Stop();
    }

    void Prepare(const std::string& folder) {
        MakeFolder(folder);
        ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\cardflash_update_host.exe").c_str(), Exe().c_str(), FALSE));
        pair = winetest::GetPortPair(0);
        if (!reg) {
            reg = std::make_unique<winetest::RegFixture>();
            if (IsNt()) {
                ASSERT_NO_THROW(reg->LoadFile(MachineFile("nt40.reg")));
                ASSERT_NO_THROW(reg->Load(
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                    "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\n\"AttachedTo\"=\"" + pair.a + "\"\n"));
            } else {
                ASSERT_NO_THROW(reg->LoadFile(MachineFile("win9x.reg")));
                ASSERT_NO_THROW(reg->LoadFile(MachineFile("win9x_dyn.reg")));
                ASSERT_NO_THROW(reg->Load("[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n"
                                          "\"PORTNAME\"=\"" + pair.a + "\"\n"));
            }
            ASSERT_NO_THROW(reg->Load(std::string("[HKEY_LOCAL_MACHINE\\") + kRunOnce + "]\n\"cardflash\"=-\n"));
            ASSERT_TRUE(sim.Start(pair.b));
        }
        sim.Update([](modemsim::ModemState& s) {
            s.cis = flashtest::CardCis();
            s.savedSettings = flashtest::kCardSettings;
            s.bootImageSize = kImageSize;
            s.firmwareVersion = "1.80";
        });
    }

    std::string Write(const std::string& name, const Bytes& bytes) {
        std::string path = folder_ + "\\" + name;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        CloseHandle(h);
        return path;
    }
    void CopyFlasher() {
        ASSERT_TRUE(CopyFileA((winetest::ProgramFolder() + "\\flasher_stub.exe").c_str(),
                              (folder_ + "\\Ostrel.EXE").c_str(), FALSE));
    }
    // What the update routine left for the run after the flasher's reboot.
    void WritePostRebootRecord() {
        const std::pair<const char*, std::string> keys[] = {
            {"UpdatePath", folder_}, {"UpdateFile", "EM56.MPK"}, {"UpdatePnP", Card()},
            {"UpdateOldVer", "1.60"}, {"UpdateNewVer", "1.90"}, {"MdmCountryCode", "61"}};
        for (const auto& k : keys) WritePrivateProfileStringA("Update", k.first, k.second.c_str(), Ini().c_str());
        WriteFileText(folder_ + "\\TEMP.PAK", "image");
    }
    std::string Key(const char* name) const { return UpdateKey(Ini(), name); }
    std::string Report() const { return ReadFileText(folder_ + "\\update_host.txt"); }
    std::string Card() const { return IsNt() ? "Root\\MDMDVXEM56\\0000" : kCardA9x; }

    // Waits for the next message box, checks its text, answers it.
    void Answer(const std::string& text, int button) {
        HWND box = ui::WaitMessageBox(p_.pid(), 60000);
        ASSERT_NE(box, nullptr) << "no message box; expected: " << text;
        EXPECT_EQ(ui::MessageBoxText(box), text);
        ASSERT_TRUE(ui::Click(box, button));
        ui::WaitGone(box);
    }
    void Finish() { ASSERT_TRUE(p_.Wait(60000)) << "cardflash did not end"; }
    void Run(const std::string& args) { Start(winetest::RequestedVersion(), args); }

    winetest::PortPair pair;
    std::unique_ptr<winetest::RegFixture> reg;
    modemsim::ModemSimulator sim;
};

// The image the card must hold: the package's image with the card's own CIS and settings.
inline std::vector<uint8_t> ExpectedImage(const std::string& package) {
    CFis fis;
    EXPECT_EQ(flash::LoadModemImage(package.c_str(), CString(kRecord9x), nullptr, &fis), 0);
    std::vector<uint8_t> want(static_cast<size_t>(fis.GetSize()));
    EXPECT_EQ(fis.CopyOut(want.data(), static_cast<int>(want.size())), 0);
    return flashtest::FlashedImage(want);
}

}  // namespace updatetest
