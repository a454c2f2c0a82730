// The Windows 9x adapter reader against the fixture machine (testdata/machine): every adapter's
// record as the constructor leaves it, the roads to the IP address, multi-function parents,
// presence and resources, and NDIS through the diagnostics driver's stand-in.
#include "cardflash/inventory/card_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cardflash/inventory/alloc_test_data.h"
#include "cardflash/inventory/ndis.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "standins/drivers.h"
#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

using Bytes = std::vector<uint8_t>;
using alloctest::Hex;

const char kCardA[] = "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1";
const char kCardB[] = "PCMCIA\\DORVEX-MODEM_56K-77C2\\1";
const char kAbsent[] = "PCMCIA\\DORVEX-MODEM_56K-77C2\\2";
const char kPciLan[] = "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00021B2C&REV_01\\BUS_00&DEV_0B&FUNC_00";
const char kPciModem[] = "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00031B2C&REV_01\\BUS_00&DEV_0B&FUNC_01";

const Bytes kMacA = {0x00, 0x40, 0xF4, 0x3F, 0x1A, 0x56};
const Bytes kMacPci = {0x00, 0x40, 0xF4, 0xB2, 0x0C, 0x02};
const Bytes kMacOther = {0x00, 0x60, 0x97, 0x1C, 0x2D, 0x3E};

// Keys of the machine that the cases below change.
const char kLeaseA[] = "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\0001]\n";
const char kTcpA[] = "[HKLM\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000]\n";
const char kParentA[] = "[HKLM\\Enum\\PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1]\n";
const char kNodeB[] = "[HKDD\\Config Manager\\Enum\\C1A74A60]\n";

std::string Machine(const char* name) { return invtest::Machine(name); }

// The values of a lease of `ip` to the adapter with hardware address `mac`, as both Windows
// versions keep them.
std::string Lease(const Bytes& ip, const Bytes& mac) {
    Bytes info(100, 0);
    std::copy(ip.begin(), ip.end(), info.begin() + 4);
    std::copy(mac.begin(), mac.end(), info.begin() + 45);
    return "\"DhcpInfo\"=hex:" + Hex(info) + "\n\"HardwareAddress\"=hex:" + Hex(mac) + "\n\"DhcpIPAddress\"=hex:" +
           Hex(ip) + "\n";
}

std::string Join(const CStringArray& a) {
    std::string s;
    for (int i = 0; i < a.GetSize(); ++i) s += (i ? ", " : "") + a[i].str();
    return s;
}

Bytes Le32(uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

class Win9xMachine : public ::testing::Test {
protected:
    void SetUp() override {
        reg_.LoadFile(Machine("win9x.reg"));
        reg_.LoadFile(Machine("win9x_dyn.reg"));
        CStaticCardInfo::SetIniFile(Machine("QorvDevices.ini").c_str());
        drivers_.Add("\\\\.\\DIAG.VXD", &ndis_);
        Adapter("0001", kMacA, 100000, 0x01F44000);   // 10 Mbit/s
        Adapter("0002", kMacPci, 1000000, 0x02F44000);  // 100 Mbit/s
    }
    void TearDown() override { CStaticCardInfo::SetIniFile(""); }

    void Adapter(const char* name, const Bytes& mac, uint32_t speed, uint32_t vendor) {
        ndis_.SetAnswer(name, ndis::kGenLinkSpeed, Le32(speed));
        ndis_.SetAnswer(name, ndis::kGenVendorId, Le32(vendor));
        ndis_.SetAnswer(name, ndis::k8023PermanentAddress, mac);
    }

    standins::NdisDiagDriver ndis_;
    standins::StandinDrivers drivers_;
    winetest::RegFixture reg_;
};

TEST_F(Win9xMachine, EveryAdapterOfTheMachine) {
    struct {
        const char* key;
        DWORD flags;
        BOOL mfCard;
        const char* node;  // empty: not inserted
        const char* deviceClass;
        const char* desc;
        const char* port;
        const char* netDriver;
        const char* ip;
        const char* mem;
        const char* io;
        const char* irq;
        const char* flashProg;
        BYTE countrySelect, callLogging, flashModeAT;
    } cases[] = {
        {kCardA, 3, TRUE, "C1A72D20", "MultiFunction", "Dorvex EtherModem 56 ", "COM3", "DVXEM56.VXD", "192.168.1.23",
         "D4000 - D4FFF", "300 - 31F, 3E8 - 3EF", "10", "Ostrel", 1, 1, 1},
        {kCardB, 2, FALSE, "C1A74A60", "Modem", "Dorvex 56K PC Card Modem", "COM4", "", "", "", "2E8 - 2EF", "5",
         "Ostrel", 1, 0, 1},
        {kAbsent, 2, FALSE, "", "Modem", "Dorvex 56K PC Card Modem", "COM6", "", "", "", "", "", "Ostrel", 1, 0, 1},
        {kPciLan, 1, FALSE, "C1A75100", "Net", "Dorvex PCI LAN Adapter", "", "DVXPCI.VXD", "192.168.10.7",
         "E1000000 - E1000FFF", "6100 - 617F", "11", "", 0, 0, 0},
        {kPciModem, 2, FALSE, "C1A75340", "Modem", "Dorvex PCI 56K Modem", "COM5", "", "", "", "6200 - 6207", "11",
         "Ostrel", 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        CCardInfo card(c.key, TRUE);
        const BOOL inserted = c.node[0] != 0;
        EXPECT_EQ(card.m_Flags, c.flags);
        EXPECT_EQ(card.m_MFCard, c.mfCard);
        EXPECT_FALSE(card.m_OSR2MFBug);
        EXPECT_EQ(card.m_DeviceClass, c.deviceClass);
        EXPECT_EQ(card.m_DeviceDesc, c.desc);
        EXPECT_EQ(card.m_BaseDesc, c.desc);
        EXPECT_EQ(card.m_Manufacturer, "Dorvex");
        EXPECT_EQ(card.m_ModemComPort, c.port);
        EXPECT_EQ(card.m_NetDriver, c.netDriver);
        EXPECT_EQ(card.m_NetIPAddress, c.ip);
        EXPECT_EQ(card.m_HardWareKey, c.key);
        EXPECT_EQ(card.m_DevNode, c.node);
        EXPECT_EQ(card.m_CardInserted, inserted);
        EXPECT_EQ(card.m_ResourcesRead, inserted);
        EXPECT_EQ(Join(card.m_MemTexts), c.mem);
        EXPECT_EQ(Join(card.m_IoTexts), c.io);
        EXPECT_EQ(Join(card.m_IrqTexts), c.irq);
        EXPECT_EQ(Join(card.m_DmaTexts), "");
        EXPECT_TRUE(card.m_StaticInfo);
        EXPECT_EQ(card.m_FlashProg, c.flashProg);
        EXPECT_EQ(card.m_CountrySelect, c.countrySelect);
        EXPECT_EQ(card.m_CallLogging, c.callLogging);
        EXPECT_EQ(card.m_FlashModeAT, c.flashModeAT);
    }
}

TEST_F(Win9xMachine, CardAFunctionByFunction) {
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    invtest::PlacedFile driver(invtest::Fixture("verfix_a.dll"), std::string(sys) + "\\DVXEM56.VXD");
    ASSERT_TRUE(driver.placed());

    CCardInfo card(kCardA, TRUE);
    EXPECT_EQ(card.m_HardwareID, "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A");
    EXPECT_EQ(card.m_MFClassDriver, "MultiFunction\\0000");
    EXPECT_EQ(card.m_MFINF, "DVXEM56.INF");

    EXPECT_EQ(card.m_ModemClassDriver, "Modem\\0000");
    EXPECT_EQ(card.m_ModemDesc, "Dorvex EtherModem 56 Modem");
    EXPECT_EQ(card.m_ModemINF, "DORVEX~1.INF");
    EXPECT_EQ(card.m_ModemDriver, "");

    EXPECT_EQ(card.m_NetClassDriver, "Net\\0001");
    EXPECT_EQ(card.m_NetClassKey, "System\\CurrentControlSet\\Services\\Class\\Net\\0001");
    EXPECT_EQ(card.m_NetINF, "DVXEM56.INF");
    EXPECT_EQ(card.m_NetDriverVersion, "1.2.3.4");
    EXPECT_EQ(Join(card.m_NetBindings), "MSTCP\\0000, NETBEUI\\0000");

    // NDIS by the class instance of the network function.
    EXPECT_EQ(card.m_NetLinkSpeed, 100000u);
    EXPECT_EQ(card.m_NetMACAddress, "00 40 F4 3F 1A 56");
    EXPECT_EQ(card.m_NetVendorVersion, 0x01F44000u);
    bool openedByInstance = false;
    for (const auto& r : ndis_.requests())
        if (r.code == 1 && std::string(r.input.begin(), r.input.end()) == "0001") openedByInstance = true;
    EXPECT_TRUE(openedByInstance);
    EXPECT_EQ(ndis_.open_handles(), 0);

    EXPECT_EQ(card.m_ResourceData.ioCount, 2);
    EXPECT_EQ(card.m_ResourceData.ioBase[1], 0x3E8);
    EXPECT_EQ(card.m_ResourceData.ioLength[1], 7);
    EXPECT_EQ(card.m_ResourceData.irqCount, 1);

    CCardInfo pci(kPciLan, FALSE);  // a driver file without a version resource: none
    EXPECT_EQ(pci.m_NetDriverVersion, "");
    EXPECT_EQ(pci.m_NetMACAddress, "00 40 F4 B2 0C 02");
    EXPECT_EQ(pci.m_NetLinkSpeed, 1000000u);
}

TEST_F(Win9xMachine, WithoutResourcesPresenceIsStillRead) {
    CCardInfo card(kCardA, FALSE);
    EXPECT_TRUE(card.m_CardInserted);
    EXPECT_EQ(card.m_DevNode, "C1A72D20");
    EXPECT_FALSE(card.m_ResourcesRead);
    EXPECT_EQ(card.m_ResourceData.ioCount, 0);
    EXPECT_TRUE(card.m_IoTexts.IsEmpty() && card.m_IrqTexts.IsEmpty() && card.m_MemTexts.IsEmpty());
}

TEST_F(Win9xMachine, AKeyNotInTheRegistryGivesAnEmptyRecord) {
    CCardInfo card("PCMCIA\\DORVEX-NOT-INSTALLED\\1", TRUE);
    EXPECT_EQ(card.m_Flags, 0u);
    EXPECT_EQ(card.m_DeviceDesc, "");
    EXPECT_EQ(card.m_HardWareKey, "");
    EXPECT_FALSE(card.m_CardInserted);
    EXPECT_FALSE(card.m_ResourcesRead);
}

TEST_F(Win9xMachine, IpAddressOfCardA) {
    const bool win98 = winetest::RequestedVersion() == "win98";
    const std::string otherLease = kLeaseA + Lease({192, 168, 1, 23}, kMacOther);
    const std::string fixedTcp = std::string(kTcpA) + "\"IPAddress\"=\"10.1.2.3\"\n";
    const std::string bindings =
        "[HKLM\\Enum\\MF\\CHILD0001\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1\\Bindings]\n";
    struct {
        const char* what;
        std::string change;
        bool ndis;
        const char* win95;
        const char* win98;
    } cases[] = {
        {"card A's lease", "", true, "192.168.1.23", "192.168.1.23"},
        {"lease values too short to hold the hardware address",
         kLeaseA + std::string("\"DhcpInfo\"=hex:01,00,00,00,c0,a8,01,17,ff,ff,ff,00\n"
                               "\"HardwareAddress\"=hex:00,40,f4\n"),
         true, "", ""},
        // The lease before it (another adapter's, 192.168.1.9) must not lend its address.
        {"a Windows 98 lease address of two bytes", kLeaseA + std::string("\"DhcpIPAddress\"=hex:c0,a8\n"), true,
         "192.168.1.23", ""},
        {"a lease of 0.0.0.0: TCP/IP's fixed address", kLeaseA + Lease({0, 0, 0, 0}, kMacA) + fixedTcp, true,
         "10.1.2.3", "10.1.2.3"},
        {"no lease of card A: TCP/IP's fixed address", otherLease + fixedTcp, true, "10.1.2.3", "10.1.2.3"},
        {"no NDIS answer: no lease looked for", fixedTcp, false, "10.1.2.3", "10.1.2.3"},
        {"bindings after an empty one are not looked at", otherLease + fixedTcp + bindings + "@=\"\"\n", true, "",
         ""},
        {"a TCP/IP driver value shorter than an instance",
         otherLease +
             "[HKLM\\Enum\\Network\\MSTCP\\0000]\n\"Driver\"=\"12\"\n"
             "[HKLM\\System\\CurrentControlSet\\Services\\Class\\NetTrans\\12]\n\"IPAddress\"=\"10.9.9.9\"\n",
         true, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(c.change);
        ndis_.FailOpens(c.ndis ? 0 : ERROR_FILE_NOT_FOUND);
        CCardInfo card(kCardA, FALSE);
        EXPECT_EQ(card.m_NetIPAddress, win98 ? c.win98 : c.win95);
        EXPECT_EQ(card.m_NetMACAddress, c.ndis ? "00 40 F4 3F 1A 56" : "");
    }
}

TEST_F(Win9xMachine, MultiFunctionParents) {
    const std::string child1 = "[-HKLM\\Enum\\MF\\CHILD0001\\PCMCIA&DORVEX-ETHERMODEM_56-3F1A&1]\n";
    struct {
        const char* what;
        std::string change;
        DWORD flags;
        BOOL osr2Bug;
        const char* desc;
        const char* mfDriver;
        const char* mfInf;
    } cases[] = {
        // Windows 95 OSR2 may give the parent the class of its first function.
        {"a parent of class Modem", kParentA + std::string("\"Class\"=\"Modem\"\n"), 3, TRUE,
         "Dorvex EtherModem 56 ", "MultiFunction\\0000", "DVXEM56.INF"},
        {"the tail without a blank",
         kParentA + std::string("\"DeviceDesc\"=\"EM56(Multi-function Parent Device)\"\n"), 3, FALSE, "EM56",
         "MultiFunction\\0000", "DVXEM56.INF"},
        {"a parent without a driver", kParentA + std::string("\"Driver\"=-\n"), 3, FALSE, "Dorvex EtherModem 56 ",
         "???", ""},
        {"no network child", child1, 2, FALSE, "Dorvex EtherModem 56 ", "MultiFunction\\0000", "DVXEM56.INF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(c.change);
        CCardInfo card(kCardA, FALSE);
        EXPECT_TRUE(card.m_MFCard);
        EXPECT_EQ(card.m_Flags, c.flags);
        EXPECT_EQ(card.m_OSR2MFBug, c.osr2Bug);
        EXPECT_EQ(card.m_DeviceDesc, c.desc);
        EXPECT_EQ(card.m_MFClassDriver, c.mfDriver);
        EXPECT_EQ(card.m_MFINF, c.mfInf);
        EXPECT_EQ(card.m_ModemComPort, "COM3");
    }
}

TEST_F(Win9xMachine, ResourcesOfOtherAllocations) {
    struct {
        const char* what;
        std::string allocation;  // the node's value line
        BOOL read;
        const char* mem;
        const char* io;
        const char* irq;
        const char* dma;
    } cases[] = {
        {"one of each", "\"Allocation\"=hex:" + Hex(alloctest::ModemAllocation()) + "\n", TRUE, "D0000 - D0FFF",
         "2F8 - 2FF", "3", "1"},
        {"only the header", "\"Allocation\"=hex:00,04,00,00,00,00,00,00\n", FALSE, "", "", "", ""},
        {"no allocation", "\"Allocation\"=-\n", FALSE, "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(kNodeB + c.allocation);
        CCardInfo card(kCardB, TRUE);
        EXPECT_TRUE(card.m_CardInserted);
        EXPECT_EQ(card.m_ResourcesRead, c.read);
        EXPECT_EQ(Join(card.m_MemTexts), c.mem);
        EXPECT_EQ(Join(card.m_IoTexts), c.io);
        EXPECT_EQ(Join(card.m_IrqTexts), c.irq);
        EXPECT_EQ(Join(card.m_DmaTexts), c.dma);
    }
}

}  // namespace
