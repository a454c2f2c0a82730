// CInfToReg against the fixture machine's registry and Wine's own Setup API: a small modem INF
// re-installed into a modem's driver key (its values kept, its subkey tree replaced by the INF's),
// the INF copied into the INF folder, the Windows NT responses moved to Unimodem's key, and every
// refusal leaving the registry exactly as it was.
#include "cardflash/inventory/inf_to_reg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cardflash/flash/fw_test_files.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "framework/handles.h"
#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

// Names of these cases' own: the update tests install the card's INF into the same Windows folder.
const char kInfName[] = "DVXIREG.INF";
const char kKeptInf[] = "DVXIRE~1.INF";
const char kResponsesName[] = "Dorvex 56K PC Card Modem::Dorvex::Dorvex";
const char kDeviceSpecific[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";

const char kInf[] =
    "[Version]\r\n"
    "Signature=\"$CHICAGO$\"\r\n"
    "Class=%s\r\n"
    "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n"
    "Provider=Dorvex\r\n"
    "\r\n"
    "[Modem1-Upgrade]\r\n"
    "AddReg=Upgrade.AddReg, Named.AddReg\r\n"
    "\r\n"
    "[Modem1-Unnamed]\r\n"
    "AddReg=Upgrade.AddReg\r\n"
    "\r\n"
    "[Modem1-BadName]\r\n"
    "AddReg=Upgrade.AddReg, BadName.AddReg\r\n"
    "\r\n"
    "[Modem1-Inis]\r\n"
    "AddReg=Upgrade.AddReg, Named.AddReg\r\n"
    "UpdateInis=Upgrade.Inis\r\n"
    "\r\n"
    "[Upgrade.Inis]\r\n"
    "dvxireg.ini,Modem,,\"FirmwareLevel=1.90\"\r\n"
    "\r\n"
    "[Upgrade.AddReg]\r\n"
    "HKR,,FirmwareLevel,,\"1.90\"\r\n"
    "HKR,Init,1,,\"AT<cr>\"\r\n"
    "HKR,Init,2,,\"AT&F&C1&D2<cr>\"\r\n"
    "HKR,Settings,Prefix,,\"AT\"\r\n"
    "HKR,Responses,\"<cr><lf>OK<cr><lf>\",1,00,00,00,00,00,00,00,00,00,00\r\n"
    "HKR,Responses,\"<cr><lf>RING<cr><lf>\",1,08,00,00,00,00,00,00,00,00,00\r\n"
    "HKR,Responses,Long,1,%s\r\n"
    "\r\n"
    "[BadName.AddReg]\r\n"
    "HKR,,ResponsesKeyName,,\"NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN\"\r\n"
    "\r\n"
    "[Named.AddReg]\r\n"
    "HKR,,ResponsesKeyName,,\"Dorvex 56K PC Card Modem::Dorvex::Dorvex\"\r\n";

struct Road {
    const char* pnp;
    const char* classKey;  // below HKLM
    const char* driverKey;
    const char* keptInf;   // the name Windows keeps the card's INF under, "" when it has no "~"
};

std::string Hex(uint8_t b) {
    const char digits[] = "0123456789abcdef";
    return std::string{digits[b >> 4], digits[b & 15]};
}

std::string LongValue() {
    std::string v;
    for (int i = 0; i < 600; ++i) v += static_cast<char>(i);
    return v;
}

bool IsNt() { return winetest::RequestedVersion() == "nt40"; }

Road ThisRoad() {
    if (IsNt())
        return {"Root\\MDMDVX56K\\0000", "System\\CurrentControlSet\\Control\\Class",
                "System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001", ""};
    return {"PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1", "System\\CurrentControlSet\\Services\\Class",
            "System\\CurrentControlSet\\Services\\Class\\Modem\\0000", kKeptInf};
}

// A key's whole tree as text: values with type and data, then the subkeys in order.
std::string Dump(HKEY root, const std::string& path) {
    fw::RegKey key;
    if (!key.Open(root, path.c_str(), KEY_READ)) return "(missing " + path + ")\n";
    std::string out = "[" + path + "]\n";
    for (DWORD i = 0;; ++i) {
        char name[512];
        BYTE data[4096];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        out += std::string(name) + "=" + std::to_string(type) + ":" +
               std::string(reinterpret_cast<char*>(data), dataSize) + "\n";
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        out += Dump(root, path + "\\" + name);
    }
    return out;
}

std::string Text(HKEY root, const std::string& path, const char* name) {
    fw::RegKey key;
    if (!key.Open(root, path.c_str(), KEY_READ)) return "(no key)";
    char value[512] = {};
    DWORD size = sizeof value - 1, type = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return "(no value)";
    return value;
}

bool KeyExists(const std::string& path) {
    fw::RegKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Also a read-only copy: a copy takes the attributes of its INF.
void RemoveFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

class InfToRegTest : public ::testing::Test {
protected:
    void SetUp() override {
        road = ThisRoad();
        if (IsNt()) {
            reg.LoadFile(invtest::Machine("nt40.reg"));
        } else {
            reg.LoadFile(invtest::Machine("win9x.reg"));
            reg.LoadFile(invtest::Machine("win9x_dyn.reg"));
        }
        CStaticCardInfo::SetIniFile(invtest::Machine("QorvDevices.ini").c_str());
        // The driver key as an earlier install left it: its own values, a tree three levels deep,
        // and responses of an older firmware.
        const std::string k = std::string("[HKLM\\") + road.driverKey;
        reg.Load(k + "\\Init]\n\"1\"=\"ATZ<cr>\"\n\"3\"=\"ATS0=0<cr>\"\n" + k + "\\Init\\Old]\n\"x\"=\"1\"\n" + k +
                 "\\Init\\Old\\Older]\n\"y\"=\"2\"\n" + k + "\\Fax]\n\"Class\"=\"2\"\n");
        // The card's INF under a kept name of these cases' own.
        if (!IsNt()) reg.Load(k + "]\n\"InfPath\"=\"" + kKeptInf + "\"\n");
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, MAX_PATH);
        infDir = std::string(windows) + "\\INF";
        copied = {infDir + "\\" + kInfName};
        if (road.keptInf[0]) copied.push_back(infDir + "\\OTHER\\" + road.keptInf);
        for (const std::string& f : copied) RemoveFile(f);
        winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kDeviceSpecific + std::string("\\") + kResponsesName);
    }
    void TearDown() override {
        for (const std::string& f : copied) RemoveFile(f);
        winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kDeviceSpecific + std::string("\\") + kResponsesName);
        // What the install put below the driver key goes with the fixture's own keys.
        winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(road.driverKey) + "\\Responses");
        winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(road.driverKey) + "\\Settings");
        CStaticCardInfo::SetIniFile("");
    }

    std::string WriteInf(const char* infClass) {
        // A response longer than 512 bytes moves whole too.
        std::string longValue;
        for (int i = 0; i < 600; ++i) longValue += (i ? ",": "") + Hex(static_cast<uint8_t>(i));
        std::vector<char> text(sizeof kInf + longValue.size() + 16);
        snprintf(text.data(), text.size(), kInf, infClass, longValue.c_str());
        std::ofstream(dir.path() + "\\" + kInfName, std::ios::binary) << text.data();
        return dir.path();
    }

    Road road;
    winetest::RegFixture reg;
    fwtest::TempFolder dir;
    std::string infDir;
    std::vector<std::string> copied;
};

TEST_F(InfToRegTest, SectionReplacesTheDriverKeysTree) {
    const std::string before = Dump(HKEY_LOCAL_MACHINE, road.driverKey);
    CInfToReg inf;
    ASSERT_EQ(inf.Install(road.pnp, kInfName, WriteInf("Modem").c_str(), "Modem", "Modem1-Upgrade"), 0);

    const std::string key = road.driverKey;
    // The key's own values stay; the INF adds its own.
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key, "DriverDesc"), IsNt() ? "Dorvex 56K PC Card Modem" : "Dorvex EtherModem 56 Modem");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key, "FirmwareLevel"), "1.90");
    // The old tree is gone, the INF's subkeys take its place.
    EXPECT_FALSE(KeyExists(key + "\\Fax"));
    EXPECT_FALSE(KeyExists(key + "\\Init\\Old"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key + "\\Init", "1"), "AT<cr>");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key + "\\Init", "2"), "AT&F&C1&D2<cr>");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key + "\\Init", "3"), "(no value)");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, key + "\\Settings", "Prefix"), "AT");

    const std::string unimodem = kDeviceSpecific + std::string("\\") + kResponsesName + "\\Responses";
    if (IsNt()) {
        // The responses moved where Unimodem reads them, names, types and data whole.
        EXPECT_FALSE(KeyExists(key + "\\Responses"));
        const std::string moved = Dump(HKEY_LOCAL_MACHINE, unimodem);
        EXPECT_NE(moved.find("<cr><lf>OK<cr><lf>=3:" + std::string(10, '\0') + "\n"), std::string::npos) << moved;
        EXPECT_NE(moved.find("<cr><lf>RING<cr><lf>=3:\x08" + std::string(9, '\0') + "\n"), std::string::npos);
        EXPECT_NE(moved.find("Long=3:" + LongValue() + "\n"), std::string::npos);
    } else {
        EXPECT_TRUE(KeyExists(key + "\\Responses"));
        EXPECT_FALSE(KeyExists(unimodem));
    }
    // The INF in the INF folder, and under the name Windows keeps the card's copied INF.
    for (const std::string& f : copied) EXPECT_TRUE(FileExists(f)) << f;
    EXPECT_NE(before, Dump(HKEY_LOCAL_MACHINE, road.driverKey));
}

// The section's settings-file lines are installed with its registry lines.
TEST_F(InfToRegTest, SettingsFileLinesAreInstalledToo) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string ini = std::string(windows) + "\\dvxireg.ini";
    DeleteFileA(ini.c_str());
    CInfToReg inf;
    ASSERT_EQ(inf.Install(road.pnp, kInfName, WriteInf("Modem").c_str(), "Modem", "Modem1-Inis"), 0);
    char value[64] = {};
    GetPrivateProfileStringA("Modem", "FirmwareLevel", "(none)", value, sizeof value, ini.c_str());
    EXPECT_STREQ(value, "1.90");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, road.driverKey, "FirmwareLevel"), "1.90");
    DeleteFileA(ini.c_str());
}

TEST_F(InfToRegTest, RefusalsLeaveTheRegistryAsItWas) {
    struct Case {
        const char* what;
        const char* pnp;      // null: the road's modem
        const char* infClass;
        const char* deviceClass;
        const char* section;
        int result;
    } cases[] = {
        {"device class in lower case", nullptr, "Modem", "modem", "Modem1-Upgrade", 1},
        {"an INF of another class", nullptr, "Net", "Modem", "Modem1-Upgrade", 3},
        {"a section the INF lacks", nullptr, "Modem", "Modem", "Modem9-Upgrade", 3},
        {"no such adapter", "PCMCIA\\DORVEX-NOT-INSTALLED\\1", "Modem", "Modem", "Modem1-Upgrade", 2},
        {"an adapter without a modem function",
         IsNt() ? "Root\\LEGACY_DVXEM56\\0000" : "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00021B2C&REV_01\\BUS_00&DEV_0B&FUNC_00",
         "Modem", "Modem", "Modem1-Upgrade", 2},
    };
    const std::string before = Dump(HKEY_LOCAL_MACHINE, road.classKey);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CInfToReg inf;
        EXPECT_EQ(inf.Install(c.pnp ? c.pnp : road.pnp, kInfName, WriteInf(c.infClass).c_str(), c.deviceClass,
                              c.section),
                  c.result);
        EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, road.classKey), before);
        for (const std::string& f : copied) EXPECT_FALSE(FileExists(f)) << f;
    }
}

TEST_F(InfToRegTest, EmptyDriverValueTouchesNothing) {
    // Read literally, the driver key would be the whole Class key.
    const std::string device = IsNt() ? "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMDVX56K\\0000]\n"
                                      : "[HKLM\\Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n";
    if (!IsNt()) {
        // Card A's modem function is its first child; its Driver value names the modem's key.
        ASSERT_EQ(Text(HKEY_LOCAL_MACHINE, "Enum\\MF\\CHILD0000\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1", "Driver"),
                  "Modem\\0000");
    }
    reg.Load(device + "\"Driver\"=\"\"\n");
    const std::string before = Dump(HKEY_LOCAL_MACHINE, road.classKey);
    CInfToReg inf;
    EXPECT_EQ(inf.Install(road.pnp, kInfName, WriteInf("Modem").c_str(), "Modem", "Modem1-Upgrade"), 2);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, road.classKey), before);
}

TEST_F(InfToRegTest, ResponsesStayWhenTheyCannotBeMoved) {
    if (!IsNt()) GTEST_SKIP() << "Windows 9x moves no responses";
    // No registry key can carry a name this long.
    CInfToReg inf;
    EXPECT_EQ(inf.Install(road.pnp, kInfName, WriteInf("Modem").c_str(), "Modem", "Modem1-BadName"), 6);
    const std::string responses = std::string(road.driverKey) + "\\Responses";
    EXPECT_NE(Dump(HKEY_LOCAL_MACHINE, responses).find("Long=3:"), std::string::npos);
}

TEST_F(InfToRegTest, WindowsNtWithoutResponsesKeyName) {
    if (!IsNt()) GTEST_SKIP() << "Windows 9x moves no responses";
    CInfToReg inf;
    EXPECT_EQ(inf.Install(road.pnp, kInfName, WriteInf("Modem").c_str(), "Modem", "Modem1-Unnamed"), -1);
    // The responses stay below the driver key.
    EXPECT_TRUE(KeyExists(std::string(road.driverKey) + "\\Responses"));
}

TEST_F(InfToRegTest, DeleteSubkeysKeepsTheKeysValues) {
    fw::RegKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, road.driverKey, KEY_ALL_ACCESS));
    CInfToReg inf;
    EXPECT_EQ(inf.DeleteSubkeys(road.driverKey, key.get()), 1);
    DWORD subkeys = 99, values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_GE(values, 4u);
}

}  // namespace
