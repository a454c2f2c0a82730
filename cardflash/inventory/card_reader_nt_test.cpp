// The Windows NT 3.51 and NT 4.0 adapter readers against the fixture machine's registry (real
// registry under Wine), its PCMCIA driver and NDIS adapter (stand-ins), and, for a generic modem,
// the simulated card on a real COM-port pair.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"
#include "cardflash/inventory/ndis.h"
#include "cardflash/inventory/nt_resource_text.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "cardflash/testdata/machine/machine_cis.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"
#include "winetest/ports.h"
#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

using Texts = std::vector<std::string>;

// The machine's files, by their Wine path.
std::string MachineFile(const std::string& name) { return invtest::Machine(name); }

Texts ToTexts(const CStringArray& a) {
    Texts out;
    for (int i = 0; i < a.GetSize(); ++i) out.push_back(a.GetAt(i).str());
    return out;
}

bool IsNt40() { return winetest::RequestedVersion() == "nt40"; }

standins::Bytes Padded(machine::Bytes cis) {
    cis.resize(1024, 0xFF);
    return cis;
}

standins::NtPcmciaDriver::Config Config(const machine::SocketConfig& c) {
    standins::NtPcmciaDriver::Config out;
    out.irq = c.irq;
    for (const auto& w : c.io) out.io.push_back({w.base, static_cast<uint16_t>(w.length - 1)});
    if (c.memBase) out.mem.push_back({c.memBase, c.memLength});
    return out;
}

// The fixture machine of the running Windows version: its registry and device database, card A's
// network adapter over NDIS, both cards in the PCMCIA driver, the network driver's file.
class NtMachine : public ::testing::Test {
protected:
    void SetUp() override {
        registry.LoadFile(MachineFile(IsNt40() ? "nt40.reg" : "nt351.reg"));
        CStaticCardInfo::SetIniFile(MachineFile("QorvDevices.ini").c_str());
        drivers.Add("\\\\.\\DvxEm1", &adapter);
        adapter.SetAnswer(ndis::kGenLinkSpeed, {0xA0, 0x86, 0x01, 0x00});  // 100000: 10 Mbit/s
        adapter.SetAnswer(ndis::k8023PermanentAddress, {0x00, 0xA0, 0xC9, 0x5E, 0x12, 0x34});
        drivers.Add("\\\\.\\pcmcia0", &pcmcia);
        pcmcia.SetCard(0, Padded(machine::CardACis()));
        pcmcia.SetConfig(0, Config(machine::CardAConfig()));
        pcmcia.SetCard(1, Padded(machine::CardBCis()));
        pcmcia.SetConfig(1, Config(machine::CardBConfig()));
    }
    void TearDown() override { CStaticCardInfo::SetIniFile(""); }

    winetest::RegFixture registry;
    standins::StandinDrivers drivers;
    standins::NdisNtAdapter adapter;
    standins::NtPcmciaDriver pcmcia;
    // The network driver's file has a version resource.
    invtest::PlacedFile driverFile{invtest::Fixture("verfix_a.dll"), COSInfo(FALSE).m_DriverDir.str() + "\\DVXEM56.SYS"};
};

// --- NT 4.0 --------------------------------------------------------------------------------------

TEST_F(NtMachine, Nt40CardANetworkFunction) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    ASSERT_TRUE(driverFile.placed());
    CCardInfo card("Root\\LEGACY_DVXEM56\\0000", TRUE);
    EXPECT_EQ(card.m_Flags, 1u);  // GEN_CARDTYPE 3 does not widen a network device
    EXPECT_EQ(card.m_DeviceClass, "NET");
    EXPECT_EQ(card.m_NetClassDriver, "DvxEm56");
    EXPECT_TRUE(card.m_StaticInfo);
    EXPECT_EQ(card.m_DeviceDesc, "Dorvex EtherModem 56 PC Card");
    EXPECT_EQ(card.m_BaseDesc, card.m_DeviceDesc);
    EXPECT_EQ(card.m_Manufacturer, "Dorvex");
    EXPECT_EQ(card.m_HardwareID, "PCMCIA\\DORVEX-ETHERMODEM_56");
    EXPECT_EQ(card.m_FlashProg, "Ostrel");
    EXPECT_EQ(card.m_CountrySelect, 1);
    EXPECT_EQ(card.m_FlashModeAT, 1);
    EXPECT_EQ(card.m_NetDriver, "DVXEM56.SYS");
    EXPECT_EQ(card.m_NetDriverVersion, "1.2.3.4");
    EXPECT_EQ(card.m_NetBindName, "DvxEm1");  // the first string of the multi-string Bind
    EXPECT_EQ(card.m_NetClassKey, "SYSTEM\\CurrentControlSet\\Services\\DvxEm1\\Parameters");
    EXPECT_EQ(card.m_NetLinkSpeed, 100000u);
    EXPECT_EQ(card.m_NetMACAddress, "00 A0 C9 5E 12 34");
    EXPECT_EQ(card.m_NetIPAddress, "192.168.7.23");
    EXPECT_TRUE(card.m_ResourcesRead);
    EXPECT_EQ(ToTexts(card.m_MemTexts), (Texts{"D0000 - D0FFF", "D4000 - D4FFF"}));
    EXPECT_EQ(ToTexts(card.m_IoTexts), (Texts{"300 - 37F"}));
    EXPECT_EQ(ToTexts(card.m_IrqTexts), (Texts{"10"}));
    EXPECT_TRUE(card.m_CardInserted);
    EXPECT_EQ(adapter.open_handles(), 0);
    char target[256];
    EXPECT_EQ(QueryDosDeviceA("DvxEm1", target, sizeof target), 0u) << "the DOS name is removed again";
}

// Modems of the machine: the serial driver's road (card A), the modem driver's own road (card B),
// the installed-but-absent modem, and a key that does not exist.
TEST_F(NtMachine, Nt40Modems) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    struct {
        const char* key;
        DWORD flags;
        const char* port;
        Texts io, irq;
        bool inserted;
        const char* desc;
    } cases[] = {
        {"Root\\MDMDVXEM56\\0000", 3, "COM3", {"3E8 - 3F0"}, {"10"}, true, "Dorvex EtherModem 56 PC Card"},
        {"Root\\MDMDVX56K\\0000", 2, "COM4", {"2E8 - 2F0"}, {"5"}, true, "Dorvex 56K PC Card Modem"},
        {"Root\\MDMDVX56K\\0001", 2, "COM5", {}, {}, false, "Dorvex 56K PC Card Modem"},
        {"Root\\MDMDVX56K\\0007", 0, "", {}, {}, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        CCardInfo card(c.key, TRUE);
        EXPECT_EQ(card.m_Flags, c.flags);
        EXPECT_EQ(card.m_ModemComPort, c.port);
        EXPECT_EQ(ToTexts(card.m_IoTexts), c.io);
        EXPECT_EQ(ToTexts(card.m_IrqTexts), c.irq);
        EXPECT_EQ(!!card.m_ResourcesRead, !c.io.empty());
        EXPECT_EQ(!!card.m_CardInserted, c.inserted);
        EXPECT_EQ(card.m_DeviceDesc, c.desc);
        EXPECT_TRUE(card.m_NetClassDriver.IsEmpty());
        EXPECT_EQ(card.m_DeviceClass, c.flags ? "MODEM" : "");
    }
}

// The network function's parameters and TCP/IP values, changed one at a time.
TEST_F(NtMachine, Nt40NetworkParameters) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    const std::string params = "[-HKLM\\SYSTEM\\CurrentControlSet\\Services\\DvxEm1\\Parameters]\n"
                               "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\DvxEm1\\Parameters]\n";
    const std::string tcpip = "[HKLM\\SYSTEM\\CurrentControlSet\\Services\\DvxEm1\\Parameters\\Tcpip]\n";
    struct {
        const char* what;
        std::string reg;
        Texts mem, io, irq;
        const char* ip;
    } cases[] = {
        {"mapped memory and a second I/O range",
         params + "\"MemoryMappedBaseAddress\"=dword:000c8000\n\"MemoryMappedSize\"=dword:00002000\n"
                  "\"IOBaseAddress_1\"=dword:000002e8\n\"IOLength_1\"=dword:00000008\n",
         {"C8000 - C9FFF"}, {"2E8 - 2F0"}, {}, ""},
        {"halves of pairs give nothing",
         params + "\"MemoryMappedBaseAddress\"=dword:000c8000\n\"PCCARDAttributeMemorySize\"=dword:00001000\n"
                  "\"IOLength_1\"=dword:00000008\n",
         {}, {}, {}, ""},
        {"values that are no numbers give nothing",
         params + "\"IOBaseAddress\"=hex:00,03\n\"InterruptNumber\"=\"10\"\n"
                  "\"MemoryBaseAddress\"=hex(4):00,00,0d\n",
         {}, {}, {}, ""},
        {"no DHCP address: the fixed one", tcpip + "\"DhcpIPAddress\"=-\n\"IPAddress\"=hex(7):31,30,2e,30,2e,30,2e,39,00,00\n",
         {"D0000 - D0FFF", "D4000 - D4FFF"}, {"300 - 37F"}, {"10"}, "10.0.0.9"},
        {"a DHCP address of 0.0.0.0: the fixed one",
         tcpip + "\"DhcpIPAddress\"=\"0.0.0.0\"\n\"IPAddress\"=\"10.0.0.9\"\n",
         {"D0000 - D0FFF", "D4000 - D4FFF"}, {"300 - 37F"}, {"10"}, "10.0.0.9"},
        {"no address at all", tcpip + "\"DhcpIPAddress\"=\"0.0.0.0\"\n",
         {"D0000 - D0FFF", "D4000 - D4FFF"}, {"300 - 37F"}, {"10"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(c.reg);
        CCardInfo card("Root\\LEGACY_DVXEM56\\0000", TRUE);
        EXPECT_EQ(ToTexts(card.m_MemTexts), c.mem);
        EXPECT_EQ(ToTexts(card.m_IoTexts), c.io);
        EXPECT_EQ(ToTexts(card.m_IrqTexts), c.irq);
        EXPECT_EQ(!!card.m_ResourcesRead, !(c.mem.empty() && c.io.empty() && c.irq.empty()));
        EXPECT_EQ(card.m_NetIPAddress, c.ip);
    }
}

// Port names and resource values the modem-resource reader meets.
TEST_F(NtMachine, Nt40ModemResourceValues) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    const std::string cls = "[HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                            "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000]\n";
    const std::string serial = "[HKLM\\HARDWARE\\RESOURCEMAP\\LOADED SERIAL DRIVER RESOURCES\\Serial]\n";
    // serial2.RAW cut after the port descriptor (36 bytes), and after the list header (20).
    const std::string portOnly = "\"\\\\Device\\\\serial2.RAW\"=hex(8):01,00,00,00,08,00,00,00,00,00,00,00,01,00,01,00,"
                                 "02,00,00,00,01,01,01,00,e8,03,00,00,00,00,00,00,08,00,00,00\n";
    const std::string headerOnly = "\"\\\\Device\\\\serial2.RAW\"=hex(8):01,00,00,00,08,00,00,00,00,00,00,00,01,00,01,00,"
                                   "02,00,00,00\n";
    struct {
        const char* what;
        std::string reg;
        Texts io, irq;
    } cases[] = {
        {"a value cut after the port", serial + portOnly, {"3E8 - 3F0"}, {}},
        {"a value with nothing but its header", serial + headerOnly, {}, {}},
        {"COM without a number: the modem driver's road", cls + "\"AttachedTo\"=\"COM\"\n\"ModemDriver\"=\"ltmodem.vxd\"\n",
         {"2E8 - 2F0"}, {"5"}},
        {"COM without a number and no modem driver", cls + "\"AttachedTo\"=\"COMX\"\n", {}, {}},
        {"a port the serial driver has not", cls + "\"AttachedTo\"=\"COM9\"\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(c.reg);
        CCardInfo card("Root\\MDMDVXEM56\\0000", TRUE);
        EXPECT_EQ(ToTexts(card.m_IoTexts), c.io);
        EXPECT_EQ(ToTexts(card.m_IrqTexts), c.irq);
        EXPECT_EQ(!!card.m_ResourcesRead, !c.io.empty() || !c.irq.empty());
    }
}

// A generic modem: the device key names no model, the modem on its port says which it is.
// On NT 4.0 the database names the model: a section without the naming keys leaves them empty
// instead of keeping what the registry said.
TEST_F(NtMachine, Nt40SectionWithoutNamesLeavesThemEmpty) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    invtest::TempFile db{"NamelessDevices.ini"};
    db.Write("[1]\r\nMODEM_NT4ID_1=Root\\MDMDVX56K\r\nMODEM_FLASHPROG=Ostrel\r\n");
    CStaticCardInfo::SetIniFile(db.path().c_str());
    CCardInfo card("Root\\MDMDVX56K\\0000", TRUE);
    EXPECT_TRUE(card.m_StaticInfo);
    EXPECT_EQ(card.m_FlashProg, "Ostrel");
    EXPECT_EQ(card.m_DeviceDesc, "");
    EXPECT_EQ(card.m_Manufacturer, "");
    EXPECT_EQ(card.m_HardwareID, "");
}

TEST_F(NtMachine, Nt40GenericModemAsksTheModem) {
    if (!IsNt40()) GTEST_SKIP() << "NT 4.0 device keys";
    const winetest::PortPair pair = winetest::GetPortPair(0);
    winetest::RegFixture keys(
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMGEN\\0000]\n"
        "\"Class\"=\"Modem\"\n\"DeviceDesc\"=\"Standard Modem\"\n"
        "\"Driver\"=\"{4D36E96D-E325-11CE-BFC1-08002BE10318}\\\\0009\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMGEN\\0000\\Control]\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0009]\n"
        "\"AttachedTo\"=\"" + pair.a + "\"\n");
    // A section with the same board code under another maker comes first: the maker decides.
    invtest::TempFile db{"GenericDevices.ini"};
    db.Write("[1]\r\nMODEM_SB2_1=4B\r\nGEN_MFG=Other Corp.\r\nGEN_LONGNAME=Other 56K\r\nGEN_CARDTYPE=3\r\n"
             "[2]\r\nMODEM_SB2_1=4B\r\nGEN_MFG=Dorvex Inc.\r\nGEN_LONGNAME=Dorvex 56K Modem\r\nGEN_CARDTYPE=2\r\n"
             "MODEM_FLASHPROG=Ostrel\r\nGEN_PNPID_1=PCMCIA\\DORVEX-56K\r\n"
             "[3]\r\nMODEM_XMA_1=ISDN\r\nGEN_MFG=DORVEX, INC.\r\nGEN_LONGNAME=Dorvex 56K + ISDN\r\nGEN_CARDTYPE=2\r\n");
    CStaticCardInfo::SetIniFile(db.path().c_str());
    modemsim::ModemSimulator sim;
    ASSERT_TRUE(sim.Start(pair.b));

    struct {
        const char* what;
        bool addOn;
        const char* manufacturer;
        bool found;
        const char* desc;
        const char* boardCode;
        const char* moduleId;
    } cases[] = {
        {"board code and maker", false, "Dorvex Inc.", true, "Dorvex 56K Modem", "4B", "CPST"},
        {"no section for the maker", false, "Qorvane", false, "Standard Modem", "4B", "CPST"},
        {"the add-on has no board code: its module id", true, "DORVEX, INC.", true, "Dorvex 56K + ISDN", "",
         "ISDN Tamrisk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.Update([&](modemsim::ModemState& s) {
            s.addOn = c.addOn;
            if (!c.addOn) s.manufacturer = c.manufacturer;
        });
        CCardInfo card("Root\\MDMGEN\\0000", FALSE);
        EXPECT_EQ(card.m_ModemComPort, pair.a.c_str());
        EXPECT_EQ(card.m_ModemManufacturer, c.manufacturer);
        EXPECT_EQ(card.m_ModemBoardCode, c.boardCode);
        EXPECT_EQ(card.m_ModemModuleId, c.moduleId);
        EXPECT_EQ(!!card.m_StaticInfo, c.found);
        EXPECT_EQ(card.m_DeviceDesc, c.desc);
        EXPECT_EQ(card.m_Flags, 2u);
        EXPECT_TRUE(card.m_CardInserted);
    }
    EXPECT_EQ(CModemProcess::OpenPorts(), 0);
}

// --- NT 3.51 -------------------------------------------------------------------------------------

TEST_F(NtMachine, Nt351CardsFromThePcmciaDriver) {
    if (IsNt40()) GTEST_SKIP() << "NT 3.51 reads the cards themselves";
    // The machine's ids are what the cards' CIS give.
    CCis a, b;
    const machine::Bytes ca = machine::CardACis(), cb = machine::CardBCis();
    a.SetCisData(ca.data(), static_cast<int>(ca.size()));
    b.SetCisData(cb.data(), static_cast<int>(cb.size()));
    CString id;
    a.GetPnpId(&id);
    EXPECT_EQ(id, machine::kCardAPnpId);
    b.GetPnpId(&id);
    EXPECT_EQ(id, machine::kCardBPnpId);
    // ... and the NT key chain of the device database knows them by those ids.
    for (const char* pnp : {machine::kCardAPnpId, machine::kCardBPnpId}) {
        CStaticCardInfo db(pnp);
        EXPECT_EQ(db.FindSection("MODEM_UNI_"), CStaticCardInfo::kFound) << pnp;
    }

    struct {
        const char* id;
        const char* desc;
        const char* cls;
        DWORD flags;
        bool mf;
        const char* port;
        const char* ip;
        int io, irq;  // the socket configuration's counts
    } cases[] = {
        {machine::kCardAPnpId, "Dorvex EtherModem 56 Adapter Driver", "NET", 3, true, "COM3", "192.168.7.41", 2, 1},
        {machine::kCardBPnpId, "Dorvex Modem 56K", "SERIAL", 2, false, "COM4", "", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        CCardInfo card(c.id, TRUE);
        EXPECT_TRUE(card.m_Cis.IsValid());
        EXPECT_EQ(card.m_DeviceDesc, c.desc);
        EXPECT_EQ(card.m_Manufacturer, "Dorvex");
        EXPECT_EQ(card.m_DeviceClass, c.cls);
        EXPECT_EQ(card.m_Flags, c.flags);
        EXPECT_EQ(!!card.m_MFCard, c.mf);
        EXPECT_TRUE(card.m_CardInserted);
        EXPECT_EQ(card.m_ModemComPort, c.port);
        EXPECT_EQ(card.m_NetIPAddress, c.ip);  // card A: its DHCP address is 0.0.0.0
        EXPECT_TRUE(card.m_ResourcesRead);
        EXPECT_EQ(card.m_ResourceData.ioCount, c.io);
        EXPECT_EQ(card.m_ResourceData.irqCount, c.irq);
        // NT 3.51 keeps the configuration as read; it makes no range texts of it.
        EXPECT_TRUE(card.m_MemTexts.IsEmpty() && card.m_IoTexts.IsEmpty() && card.m_IrqTexts.IsEmpty());
    }
    CCardInfo a2(machine::kCardAPnpId, TRUE);
    EXPECT_EQ(a2.m_NetBindName, "DvxEm1");
    EXPECT_EQ(a2.m_NetDriver, "DVXEM56.SYS");
    EXPECT_EQ(a2.m_NetMACAddress, "00 A0 C9 5E 12 34");
    EXPECT_EQ(a2.m_ResourceData.ioCount, 2);

    // A card no socket holds, and a machine without the PCMCIA driver: nothing is read.
    for (bool withDriver : {true, false}) {
        SCOPED_TRACE(withDriver ? "card not inserted" : "no driver");
        if (!withDriver) pcmcia.FailOpens(2);
        CCardInfo card(withDriver ? "PCMCIA\\DORVEX-MODEM_56K-1234" : machine::kCardBPnpId, TRUE);
        EXPECT_FALSE(card.m_Cis.IsValid());
        EXPECT_FALSE(card.m_CardInserted);
        EXPECT_EQ(card.m_DeviceDesc, "");
        EXPECT_EQ(card.m_Flags, 0u);
    }
}

// The serial driver's resources decide which COM port is the card's, whatever else is listed.
TEST_F(NtMachine, Nt351SerialPortOfTheCard) {
    if (IsNt40()) GTEST_SKIP() << "NT 3.51 reads the cards themselves";
    const std::string serial = "[-HKLM\\HARDWARE\\RESOURCEMAP\\LOADED SERIAL DRIVER RESOURCES\\Serial]\n"
                               "[HKLM\\HARDWARE\\RESOURCEMAP\\LOADED SERIAL DRIVER RESOURCES\\Serial]\n";
    const std::string port2e8 = "01,00,00,00,08,00,00,00,00,00,00,00,01,00,01,00,02,00,00,00,"
                                "01,01,01,00,e8,02,00,00,00,00,00,00,08,00,00,00\n";
    struct {
        const char* what;
        std::string reg;
        const char* port;
    } cases[] = {
        {"a short value first", serial + "\"\\\\Device\\\\Serial9.RAW\"=hex(8):01,00,00,00\n"
                                         "\"\\\\Device\\\\Serial3.Raw\"=hex(8):" + port2e8, "COM4"},
        {"names without .RAW are not lists", serial + "\"\\\\Device\\\\Serial3.Translated\"=hex(8):" + port2e8, ""},
        {"a name without its device path", serial + "\"Serial3.RAW\"=hex(8):" + port2e8, "COM4"},
        {"the port is not in SERIALCOMM", serial + "\"\\\\Device\\\\Serial7.RAW\"=hex(8):" + port2e8, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture change(c.reg);
        CCardInfo card(machine::kCardBPnpId, TRUE);
        EXPECT_EQ(card.m_ModemComPort, c.port);
        EXPECT_EQ(card.m_Flags, 2u);
    }
}

// --- Decoding without the registry ---------------------------------------------------------------

TEST(NtResourceText, PortNumbersAndValueNames) {
    if (winetest::RequestedVersion() != "nt40") GTEST_SKIP() << "once is enough";
    struct {
        const char* name;
        int number;
    } ports[] = {{"COM3", 3}, {"com12", 12}, {"COM", -1}, {"COMX", -1}, {"COM0", -1}, {"COM3A", -1},
                 {"LPT1", -1}, {"", -1}, {"COM99999999999", -1}};
    for (const auto& p : ports) EXPECT_EQ(ntres::ComPortNumber(p.name), p.number) << p.name;

    struct {
        const char* name;
        const char* device;
    } names[] = {{"\\Device\\Serial2.RAW", "Serial2"}, {"\\Device\\Serial2.Raw", "Serial2"},
                 {"Serial2.RAW", "Serial2"}, {"\\Device\\Serial2", ""}, {".RAW", ""}, {"\\.RAW\\x", ""}};
    for (const auto& n : names) EXPECT_EQ(ntres::RawValueDevice(n.name), n.device) << n.name;
}

TEST(NtResourceText, ResourceListsAreReadOnlyAsFarAsTheyGo) {
    if (winetest::RequestedVersion() != "nt40") GTEST_SKIP() << "once is enough";
    const std::vector<uint8_t> list = {0x01, 0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0x01, 0, 0x02, 0, 0, 0,
                                       0x01, 0x01, 0x01, 0, 0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0,
                                       0x02, 0x01, 0x01, 0, 0x0A, 0, 0, 0, 0x0A, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    struct {
        size_t length;
        bool header, port, irq;
    } cases[] = {{list.size(), true, true, true}, {51, true, true, false}, {36, true, true, false},
                 {35, true, false, false}, {20, true, false, false}, {19, false, false, false}, {0, false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        ntres::PortAndInterrupt r;
        EXPECT_EQ(ntres::DecodeResourceList(list.data(), c.length, &r), c.header);
        EXPECT_EQ(r.hasPort, c.port);
        EXPECT_EQ(r.hasInterrupt, c.irq);
        if (c.port) {
            EXPECT_EQ(r.portStart, 0x3E8u);
            EXPECT_EQ(r.portLength, 8u);
        }
        if (c.irq) {
            EXPECT_EQ(r.interruptLevel, 10u);
        }
    }
    // The descriptors are told by their type, not by their place; a list count of 0 lists nothing.
    std::vector<uint8_t> swapped(list);
    std::swap_ranges(swapped.begin() + 20, swapped.begin() + 36, swapped.begin() + 36);
    ntres::PortAndInterrupt r;
    ASSERT_TRUE(ntres::DecodeResourceList(swapped.data(), swapped.size(), &r));
    EXPECT_EQ(r.portStart, 0x3E8u);
    EXPECT_EQ(r.interruptLevel, 10u);
    std::vector<uint8_t> none(list);
    none[0] = 0;
    EXPECT_FALSE(ntres::DecodeResourceList(none.data(), none.size(), &r));
}

}  // namespace
