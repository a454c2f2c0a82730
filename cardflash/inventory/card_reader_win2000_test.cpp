// The Windows 2000 adapter reader on the fixture machine, through watchsvc.exe as the local server
// that COM starts: each device of the machine, presence, the database step, the addresses from IP
// Helper, and what a failing registry service leaves behind.
#include "cardflash/inventory/card_reader_win2000.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "watchsvc/tests/testserver.h"
#include "winetest/registry.h"

namespace {

using watchtest::FailingRegistry;

const char kCardA[] = "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1";
const char kNetClassA[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000";

// The members the reader fills, one per line.
std::string Describe(const CCardInfo& c) {
    std::ostringstream s;
    s << "class=" << c.m_DeviceClass.str() << " flags=" << c.m_Flags << " mf=" << c.m_MFCard
      << " inserted=" << c.m_CardInserted << " child=" << c.m_ChildPath.str() << "\n"
      << "modem=" << c.m_ModemClassDriver.str() << " desc=" << c.m_ModemDesc.str()
      << " port=" << c.m_ModemComPort.str() << " inf=" << c.m_ModemINF.str() << "\n"
      << "net=" << c.m_NetClassDriver.str() << " key=" << c.m_NetClassKey.str() << " driver=" << c.m_NetDriver.str()
      << " version=" << c.m_NetDriverVersion.str() << " id=" << c.m_NetCfgInstanceId.str()
      << " mac=" << c.m_NetMACAddress.str() << " ip=" << c.m_NetIPAddress.str() << "\n"
      << "hwid=" << c.m_HardwareID.str() << " desc=" << c.m_DeviceDesc.str() << " mfg=" << c.m_Manufacturer.str()
      << "\n"
      << "static=" << c.m_StaticInfo << " flash=" << c.m_FlashProg.str() << " country=" << int(c.m_CountrySelect)
      << " calls=" << int(c.m_CallLogging) << " at=" << int(c.m_FlashModeAT) << "\n";
    return s.str();
}

// Every case loads the machine, places card A's network driver file, and ends with nothing of
// watchsvc left: no registration and no running server.
class Win2000ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                             nullptr, EOAC_NONE, nullptr);
        machine.LoadFile(invtest::Machine("win2k.reg"));
        CStaticCardInfo::SetIniFile(invtest::Machine("QorvDevices.ini").c_str());
    }
    void TearDown() override {
        CStaticCardInfo::SetIniFile("");
        CoUninitialize();
        server.reset();
    }
    void Register() {
        server.emplace(watchtest::ServerExe("..\\..\\watchsvc\\watchsvc.exe"));
        ASSERT_TRUE(server->registered()) << "watchsvc /RegServer";
    }

    std::optional<watchtest::ServerRegistration> server;
    winetest::RegFixture machine;
    invtest::PlacedFile driver{invtest::Fixture("verfix_a.dll"),
                               std::string(COSInfo(FALSE).m_DriverDir) + "\\dvxem56.sys"};
};

const char kExpectCardA[] =
    "class=MULTIFUNCTION flags=3 mf=1 inserted=1 child=MF\\PCMCIA#DORVEX-ETHERMODEM_56-3F1A\\1#Child0000\n"
    "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000 desc=Dorvex EtherModem 56 Modem port=COM3 inf=oem2.inf\n"
    "net=DvxEm56 key=SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000"
    " driver=DVXEM56.SYS version=1.2.3.4 id={6A1F3C20-51B4-4E8A-9D07-2C5B8E41A7F3} mac= ip=\n"
    "hwid=PCMCIA\\DORVEX-ETHERMODEM_56-3F1A desc=Dorvex EtherModem 56 PC Card mfg=Dorvex\n"
    "static=1 flash=Ostrel country=1 calls=1 at=1\n";

const char kExpectCardB[] =
    "class=MODEM flags=2 mf=0 inserted=1 child=\n"
    "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001 desc=Dorvex 56K PC Card Modem port=COM4 inf=oem4.inf\n"
    "net= key= driver= version= id= mac= ip=\n"
    "hwid=PCMCIA\\DORVEX-MODEM_56K-77C2 desc=Dorvex 56K PC Card Modem mfg=Dorvex\n"
    "static=1 flash=Ostrel country=1 calls=0 at=1\n";

// Card B's key under another instance: read like card B, but its service does not list it.
const char kExpectCardBNotPresent[] =
    "class=MODEM flags=2 mf=0 inserted=0 child=\n"
    "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001 desc=Dorvex 56K PC Card Modem port=COM4 inf=oem4.inf\n"
    "net= key= driver= version= id= mac= ip=\n"
    "hwid=PCMCIA\\DORVEX-MODEM_56K-77C2 desc=Dorvex 56K PC Card Modem mfg=Dorvex\n"
    "static=1 flash=Ostrel country=1 calls=0 at=1\n";

const char kCardBInstance[] =
    "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\PCMCIA\\DORVEX-MODEM_56K-77C2\\%s]\n"
    "\"DeviceDesc\"=\"Dorvex 56K PC Card Modem\"\n"
    "\"Class\"=\"Modem\"\n"
    "\"HardwareID\"=\"PCMCIA\\\\DORVEX-MODEM_56K-77C2\"\n"
    "\"Service\"=\"Modem\"\n"
    "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0001\"\n";

const char kPciLan[] = "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F0";
const char kExpectPciLan[] =
    "class=NET flags=1 mf=0 inserted=1 child=\n"
    "modem= desc= port= inf=\n"
    "net=DvxPci key=SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001"
    " driver=DVXPCI.SYS version= id={B3C2D1E0-7A6B-4C5D-8E9F-0A1B2C3D4E5F} mac= ip=\n"
    "hwid=PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C&REV_01 desc=Dorvex PCI LAN mfg=Dorvex\n"
    "static=1 flash= country=0 calls=0 at=0\n";

std::string CardBInstance(const char* instance, const std::string& more = "") {
    char text[1024];
    snprintf(text, sizeof(text), kCardBInstance, instance);
    return text + more;
}

struct DeviceCase {
    const char* what;
    const char* pnpId;
    std::string extra;  // fixture text loaded over the machine
    const char* expected;
};

TEST_F(Win2000ReaderTest, ReadsEachDeviceOfTheMachine) {
    Register();
    const DeviceCase cases[] = {
        {"card A: the functions of a multi-function card", kCardA, "", kExpectCardA},
        {"card A beside the children of its instance 11", kCardA,
         "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\MF\\PCMCIA#DORVEX-ETHERMODEM_56-3F1A\\11#Child0001]\n"
         "\"Class\"=\"Net\"\n\"Service\"=\"DvxOther\"\n"
         "\"Driver\"=\"{4D36E972-E325-11CE-BFC1-08002BE10318}\\\\0009\"\n",
         kExpectCardA},
        {"card B", "PCMCIA\\DORVEX-MODEM_56K-77C2\\1", "", kExpectCardB},
        {"card C: installed, removed", "PCMCIA\\DORVEX-MODEM_56K-91D0\\1", "",
         "class=MODEM flags=2 mf=0 inserted=0 child=\n"
         "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0003 desc=Dorvex 56K PC Card Modem port=COM6 inf=oem4.inf\n"
         "net= key= driver= version= id= mac= ip=\n"
         "hwid=PCMCIA\\DORVEX-MODEM_56K-91D0 desc=Dorvex 56K PC Card Modem mfg=Dorvex\n"
         "static=1 flash=Ostrel country=1 calls=0 at=1\n"},
        {"PCI network function", kPciLan, "", kExpectPciLan},
        {"a driver path without a folder", kPciLan,
         "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\DvxPci]\n\"ImagePath\"=\"dvxpci.sys\"\n", kExpectPciLan},
        {"PCI modem function", "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F1", "",
         "class=MODEM flags=2 mf=0 inserted=1 child=\n"
         "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0002 desc=Dorvex PCI 56K Modem port=COM5 inf=oem5.inf\n"
         "net= key= driver= version= id= mac= ip=\n"
         "hwid=PCI\\VEN_1B2C&DEV_0003&SUBSYS_00011B2C&REV_01 desc=Dorvex PCI 56K Modem mfg=Dorvex\n"
         "static=1 flash=Ostrel country=0 calls=0 at=1\n"},
        {"the database is asked by the hardware id, upper-cased", "PCMCIA\\OEM-MODEM-1234\\1",
         "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\PCMCIA\\OEM-MODEM-1234\\1]\n"
         "\"DeviceDesc\"=\"PC Card Modem\"\n\"Class\"=\"modem\"\n"
         "\"HardwareID\"=\"pcmcia\\\\dorvex-modem_56k-77c2\"\n"
         "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0001\"\n",
         "class=MODEM flags=2 mf=0 inserted=0 child=\n"
         "modem={4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001 desc=PC Card Modem port=COM4 inf=oem4.inf\n"
         "net= key= driver= version= id= mac= ip=\n"
         "hwid=PCMCIA\\DORVEX-MODEM_56K-77C2 desc=Dorvex 56K PC Card Modem mfg=Dorvex\n"
         "static=1 flash=Ostrel country=1 calls=0 at=1\n"},
        {"listed by its service in other case only", "PCMCIA\\DORVEX-MODEM_56K-77C2\\2",
         CardBInstance("2", "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum]\n"
                            "\"3\"=\"pcmcia\\\\dorvex-modem_56k-77c2\\\\2\"\n"),
         kExpectCardBNotPresent},
        {"instance 10 is not instance 1", "PCMCIA\\DORVEX-MODEM_56K-77C2\\10", CardBInstance("10"),
         kExpectCardBNotPresent},
        {"a service entry without a path names no device", "PCMCIA\\DORVEX-MODEM_56K-77C2\\3",
         CardBInstance("3", "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum]\n\"3\"=\"\"\n"),
         kExpectCardBNotPresent},
        {"neither modem nor network, no MF key", "PCMCIA\\DORVEX-GPS-5E21\\1",
         "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\PCMCIA\\DORVEX-GPS-5E21\\1]\n"
         "\"DeviceDesc\"=\"Dorvex GPS PC Card\"\n\"Class\"=\"Ports\"\n"
         "\"HardwareID\"=\"PCMCIA\\\\DORVEX-GPS-5E21\"\n\"Service\"=\"Serial\"\n",
         "class=MULTIFUNCTION flags=0 mf=1 inserted=0 child=\n"
         "modem= desc= port= inf=\n"
         "net= key= driver= version= id= mac= ip=\n"
         "hwid=PCMCIA\\DORVEX-GPS-5E21 desc=Dorvex GPS PC Card mfg=\n"
         "static=0 flash= country=0 calls=0 at=0\n"},
        // The reader stops at once; the record keeps the database match of its key.
        {"no such device key", "PCMCIA\\DORVEX-MODEM_56K-0000\\1", "",
         "class= flags=0 mf=0 inserted=0 child=\n"
         "modem= desc= port= inf=\n"
         "net= key= driver= version= id= mac= ip=\n"
         "hwid= desc= mfg=\n"
         "static=1 flash= country=0 calls=0 at=0\n"},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture extra(c.extra);
        CCardInfo card(c.pnpId, TRUE);
        EXPECT_EQ(card.m_ReadError, S_OK);
        EXPECT_EQ(Describe(card), c.expected);
    }
}

TEST_F(Win2000ReaderTest, TheModemFunctionsPathIsKeptWhicheverFunctionShowedThePresence) {
    Register();
    // The modem child is not listed by its service, so presence comes from the network child,
    // which the walk reads after it.
    winetest::RegFixture extra(
        "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum]\n\"0\"=\"PCMCIA\\\\OTHER\\\\1\"\n");
    CCardInfo card(kCardA, TRUE);
    EXPECT_TRUE(card.m_CardInserted);
    EXPECT_EQ(card.m_ChildPath, "MF\\PCMCIA#DORVEX-ETHERMODEM_56-3F1A\\1#Child0001");
    EXPECT_EQ(card.m_ModemInstancePath, "MF\\PCMCIA#DORVEX-ETHERMODEM_56-3F1A\\1#Child0000");
}

TEST_F(Win2000ReaderTest, ThePresentNetworkFunctionTakesItsAddressesFromIpHelper) {
    std::vector<IP_ADAPTER_INFO> list(32);
    ULONG size = ULONG(list.size() * sizeof(IP_ADAPTER_INFO));
    if (GetAdaptersInfo(list.data(), &size) != ERROR_SUCCESS)
        GTEST_SKIP() << "Wine reports no network adapter here: the address road is not checked";
    const IP_ADAPTER_INFO& first = list[0];
    std::string mac;
    for (UINT i = 0; i < first.AddressLength; ++i) {
        char byte[4];
        snprintf(byte, sizeof(byte), "%02X ", first.Address[i]);
        mac += byte;
    }
    // Card A's network function becomes the host's first adapter.
    winetest::RegFixture id(std::string("[") + kNetClassA + "]\n\"NetCfgInstanceId\"=\"" + first.AdapterName + "\"\n");
    Register();
    CCardInfo card(kCardA, TRUE);
    EXPECT_EQ(card.m_NetCfgInstanceId, first.AdapterName);
    EXPECT_EQ(card.m_NetMACAddress, mac);
    EXPECT_EQ(card.m_NetIPAddress, first.IpAddressList.IpAddress.String);
    EXPECT_EQ(card.m_NetLinkSpeed, 0u);
}

// IP Helper as a machine with twelve adapters shows it: records in the caller's buffer, chained,
// ERROR_BUFFER_OVERFLOW and the size needed when the buffer is too small. The last one's fields are
// filled to their ends.
int g_AdapterCalls = 0;
DWORD WINAPI TwelveAdapters(PIP_ADAPTER_INFO info, PULONG size) {
    ++g_AdapterCalls;
    const ULONG needed = 12 * sizeof(IP_ADAPTER_INFO);
    if (*size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    memset(info, 0, needed);
    for (int i = 0; i < 12; ++i) {
        IP_ADAPTER_INFO& a = info[i];
        a.Next = i < 11 ? &info[i + 1] : nullptr;
        snprintf(a.AdapterName, sizeof(a.AdapterName), "{ADAPTER-%02d}", i + 1);
        a.AddressLength = 6;
        for (int b = 0; b < 6; ++b) a.Address[b] = BYTE(0xA0 + i + b);
        snprintf(a.IpAddressList.IpAddress.String, sizeof(a.IpAddressList.IpAddress.String), "10.0.0.%d", i + 1);
    }
    IP_ADAPTER_INFO& last = info[11];
    last.AddressLength = 200;
    memset(last.IpAddressList.IpAddress.String, '7', sizeof(last.IpAddressList.IpAddress.String));
    return ERROR_SUCCESS;
}

TEST(Win2000AdapterLookUp, FindsAdaptersBeyondTheTenthAndReadsFieldsWithinTheirSize) {
    AdapterAddresses found;
    ASSERT_TRUE(LookUpAdapter("{ADAPTER-11}", &found, TwelveAdapters));
    EXPECT_EQ(found.mac, "AA AB AC AD AE AF ");
    EXPECT_EQ(found.ip, "10.0.0.11");
    EXPECT_EQ(g_AdapterCalls, 2);  // the first buffer holds ten

    ASSERT_TRUE(LookUpAdapter("{ADAPTER-12}", &found, TwelveAdapters));
    EXPECT_EQ(found.mac, "AB AC AD AE AF B0 00 00 ");  // eight address bytes exist, not 200
    EXPECT_EQ(found.ip, std::string(16, '7'));

    EXPECT_FALSE(LookUpAdapter("{ADAPTER-13}", &found, TwelveAdapters));
}

TEST_F(Win2000ReaderTest, WithoutWatchsvcTheRecordIsUnread) {
    // Not registered: creating the registry object fails.
    CCardInfo card(kCardA, TRUE);
    EXPECT_EQ(card.m_ReadError, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(card.m_StaticInfo);  // the database knows the key; the lists must drop the record
    EXPECT_FALSE(card.m_CardInserted);
    EXPECT_EQ(card.m_DeviceClass, "");
}

FailingRegistry* g_Registry = nullptr;
void ReadThroughFailingRegistry(CCardInfo& card) { ReadCardWin2000(card, g_Registry); }

TEST_F(Win2000ReaderTest, AFailingCallLeavesNoKeyOpen) {
    Register();
    watchsvc::CRegistryPtr real = watchsvc::CreateRegistry();
    ASSERT_TRUE(real);
    CCardInfoReaders readers = CCardInfo::BuiltInReaders();
    readers.win2000 = ReadThroughFailingRegistry;
    const CCardInfoReaders previous = CCardInfo::SetReaders(readers);

    // Card A takes every road of the reader; first without a failure, to count its calls.
    int total = 0;
    {
        FailingRegistry registry(real.get(), 0, RPC_E_DISCONNECTED);
        g_Registry = &registry;
        CCardInfo card(kCardA, TRUE);
        EXPECT_EQ(Describe(card), kExpectCardA);
        EXPECT_TRUE(registry.open().empty());
        total = registry.calls();
    }
    ASSERT_GT(total, 10);
    for (int failAt = 1; failAt <= total; ++failAt) {
        SCOPED_TRACE("failing call " + std::to_string(failAt));
        FailingRegistry registry(real.get(), failAt, RPC_E_DISCONNECTED);
        g_Registry = &registry;
        CCardInfo card(kCardA, TRUE);
        // Every key handed out was closed, once; a close that failed is given up, not retried.
        const std::vector<LONG>& closed = registry.closed();
        std::set<LONG> closedOnce(closed.begin(), closed.end());
        EXPECT_EQ(closedOnce.size(), closed.size());
        for (LONG h : registry.open()) ADD_FAILURE() << "key " << h << " left open";
        if (registry.failedClose()) {
            // A key that cannot be closed changes nothing for the record.
            EXPECT_EQ(card.m_ReadError, S_OK);
            EXPECT_EQ(Describe(card), kExpectCardA);
        } else {
            EXPECT_EQ(card.m_ReadError, RPC_E_DISCONNECTED);
            EXPECT_FALSE(card.m_StaticInfo);
        }
    }
    CCardInfo::SetReaders(previous);
    g_Registry = nullptr;
}

}  // namespace
