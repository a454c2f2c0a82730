// The adapter record: which reader each Windows version runs, the database flags, the description
// with and without the ISDN add-on, and the dump.
#include "cardflash/inventory/card_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "watchsvc/client/RegistryClient.h"
#include "winetest/version.h"

namespace {

const char kDatabase[] =
    "[Version]\r\n"
    "Version=1.05\r\n"
    "[1]\r\n"
    "GEN_PNPID_1=PCMCIA\\DORVEX-MODEM\r\n"
    "GEN_NT4ID_1=PCMCIA\\DORVEX-MODEM\r\n"
    "MODEM_FLASHPROG=Ostrel\r\n"
    "MODEM_COUNTRYSELECT=  1  \r\n"
    "MODEM_CALLLOGGING=yes\r\n"
    "MODEM_FLASHMODE=AT\r\n"
    "[2]\r\n"
    "GEN_PNPID_1=PCI\\VEN_1B2C&DEV_0002\r\n"
    "MODEM_CALLLOGGING=1\r\n"
    "MODEM_FLASHMODE=at\r\n"
    "MODEM_COUNTRYSELECT=01\r\n";

std::string g_Road;

void Nt351(CCardInfo&) { g_Road = "nt351"; }
void Nt40(CCardInfo&) { g_Road = "nt40"; }
void Win2000(CCardInfo& card) {
    g_Road = "win2k";
    card.m_DeviceDesc = "Dorvex 56K";
    if (card.m_PnPID.Find("FAIL") >= 0) watchsvc::CheckResult(E_ACCESSDENIED, nullptr, IID_IUnknown);
    card.m_ModemComPort = "COM3";
}
std::string g_HardwareId;  // what the Windows 9x reader reads

void Win9x(CCardInfo& card, BOOL) {
    g_Road = "win9x";
    card.m_DeviceDesc = "Dorvex 56K";
    card.m_HardwareID = g_HardwareId.c_str();
}

class CardInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.Write(kDatabase);
        CStaticCardInfo::SetIniFile(db.path().c_str());
        previous = CCardInfo::SetReaders({Nt351, Nt40, Win2000, Win9x});
        g_Road.clear();
        g_HardwareId = "PCI\\VEN_1B2C&DEV_0002&SUBSYS_1";
    }
    void TearDown() override {
        CCardInfo::SetReaders(previous);
        CStaticCardInfo::SetIniFile("");
    }
    invtest::TempFile db{"QorvDevices.ini"};
    CCardInfoReaders previous;
};

TEST_F(CardInfoTest, EachWindowsVersionRunsItsReader) {
    const std::string v = winetest::RequestedVersion();
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", TRUE);
    EXPECT_EQ(card.m_PnPID, "PCMCIA\\DORVEX-MODEM\\1");
    if (v == "nt351") {
        // The CIS id is looked up in the NT key families, with the flash flags taken as on 9x.
        EXPECT_EQ(g_Road, "nt351");
        EXPECT_TRUE(card.m_StaticInfo);
        EXPECT_EQ(card.m_FlashProg, "Ostrel");
        EXPECT_EQ(card.m_FlashModeAT, 1);
        CCardInfo unknown("PCMCIA\\ACME-MODEM\\1", TRUE);
        EXPECT_FALSE(unknown.m_StaticInfo);
        EXPECT_EQ(unknown.m_FlashProg, "");
    } else if (v == "nt40" || v == "win2k") {
        EXPECT_EQ(g_Road, v);
        EXPECT_TRUE(card.m_StaticInfo);
        EXPECT_EQ(card.m_FlashProg, "");  // the readers take the database values there
    } else {
        EXPECT_EQ(g_Road, "win9x");
        EXPECT_TRUE(card.m_StaticInfo);
        EXPECT_EQ(card.m_FlashProg, "Ostrel");
        EXPECT_EQ(card.m_CountrySelect, 1);  // "  1  " is trimmed
        EXPECT_EQ(card.m_CallLogging, 0);    // "yes" is not "1"
        EXPECT_EQ(card.m_FlashModeAT, 1);
    }
    EXPECT_EQ(card.m_BaseDesc, card.m_DeviceDesc);
}

TEST_F(CardInfoTest, PciDevicesOnWindows9xAreLookedUpByVersion) {
    const std::string v = winetest::RequestedVersion();
    if (v != "win95" && v != "win98") GTEST_SKIP() << "Windows 9x only";
    CCardInfo card("PCI\\VEN_1B2C&DEV_0002\\3&1", FALSE);
    // Windows 98 by the device key; Windows 95 by the hardware id.
    EXPECT_TRUE(card.m_StaticInfo);
    EXPECT_EQ(card.m_CallLogging, 1);
    EXPECT_EQ(card.m_FlashModeAT, 0);     // "at" is not "AT"
    EXPECT_EQ(card.m_CountrySelect, 0);   // "01" is not "1"

    // A key and a hardware id of different devices tell the two lookups apart.
    struct {
        const char* key;
        const char* hardwareId;
        bool found95, found98;
    } cases[] = {
        {"PCI\\VEN_1B2C&DEV_0009\\3&1", "PCI\\VEN_1B2C&DEV_0002&SUBSYS_1", true, false},
        {"PCI\\VEN_1B2C&DEV_0002\\3&1", "PCI\\VEN_1B2C&DEV_0009", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        g_HardwareId = c.hardwareId;
        CCardInfo other(c.key, FALSE);
        EXPECT_EQ(!!other.m_StaticInfo, v == "win95" ? c.found95 : c.found98);
    }
}

TEST_F(CardInfoTest, ARegistryServiceFailureDoesNotEscape) {
    if (winetest::RequestedVersion() != "win2k") GTEST_SKIP() << "Windows 2000 only";
    CCardInfo* card = nullptr;
    EXPECT_NO_THROW(card = new CCardInfo("PCMCIA\\DORVEX-MODEM\\FAIL", FALSE));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->m_ReadError, E_ACCESSDENIED);
    EXPECT_FALSE(card->m_StaticInfo);  // the database knows the key, but the record is unread
    EXPECT_EQ(card->m_DeviceDesc, "Dorvex 56K");  // what was read before the failure stays
    EXPECT_EQ(card->m_ModemComPort, "");
    EXPECT_EQ(card->m_BaseDesc, "Dorvex 56K");
    delete card;

    CCardInfo good("PCMCIA\\DORVEX-MODEM\\1", FALSE);
    EXPECT_EQ(good.m_ReadError, S_OK);
    EXPECT_TRUE(good.m_StaticInfo);
    EXPECT_EQ(good.m_ModemComPort, "COM3");
}

TEST_F(CardInfoTest, WithoutReadersOnlyTheKeyIsFilled) {
    CCardInfo::SetReaders({});
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", TRUE);
    EXPECT_EQ(card.m_DeviceDesc, "");
    EXPECT_EQ(card.m_ModemComPort, "");
    EXPECT_FALSE(card.m_CardInserted);
}

TEST_F(CardInfoTest, UpdateDescription) {
    if (winetest::RequestedVersion() != "win98") GTEST_SKIP() << "once is enough";
    struct {
        const char* base;
        DWORD flags;
        BOOL kit;
        const char* expected;
    } cases[] = {
        {"Dorvex 56K +GSM", CCardInfo::kFlagModem, TRUE, "Dorvex 56K +ISDN Tamrisk"},
        {"Dorvex 56K", CCardInfo::kFlagModem, TRUE, "Dorvex 56K+ISDN Tamrisk"},
        {"Dorvex ISDN 56K", CCardInfo::kFlagModem, TRUE, "Dorvex ISDN 56K"},
        {"Dorvex ISDN +X", CCardInfo::kFlagModem, TRUE, "Dorvex ISDN +ISDN Tamrisk"},
        {"Dorvex LAN", CCardInfo::kFlagNet, TRUE, "Dorvex LAN"},
        {"Dorvex 56K +GSM", CCardInfo::kFlagModem, FALSE, "Dorvex 56K +GSM"},
        {"", CCardInfo::kFlagModem, TRUE, "+ISDN Tamrisk"},
    };
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", FALSE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        card.m_BaseDesc = c.base;
        card.m_DeviceDesc = "changed";
        card.m_Flags = c.flags;
        card.UpdateDescription(c.kit);
        EXPECT_EQ(card.m_DeviceDesc, c.expected);
        card.UpdateDescription(FALSE);
        EXPECT_EQ(card.m_DeviceDesc, c.base);
    }
}

TEST_F(CardInfoTest, DumpWritesItsLines) {
    if (winetest::RequestedVersion() != "win98") GTEST_SKIP() << "once is enough";
    CCardInfo card("PCMCIA\\DORVEX-MODEM\\1", FALSE);
    card.m_CardInserted = TRUE;
    card.m_ModemComPort = "COM3";
    invtest::TempFile out{"carddump.txt"};
    out.Write("old text\n");
    card.Dump(out.path().c_str());
    std::ifstream in(out.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string lines = text.str();
    // The log may write its own line ends; compare without carriage returns.
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    EXPECT_EQ(lines,
              "m_PnPID\t\t= PCMCIA\\DORVEX-MODEM\\1\n"
              "m_Manufacturer\t= \n"
              "m_DeviceDesc\t= Dorvex 56K\n"
              "m_DeviceClass\t= \n"
              "m_HardwareID\t= PCI\\VEN_1B2C&DEV_0002&SUBSYS_1\n"
              "m_HardWareKey\t= \n"
              "m_DevNode\t\t= \n\n"
              "m_CardInserted\t= YES\n"
              "m_OSR2MFBug\t\t= NO\n"
              "m_MFCard\t\t= NO\n"
              "\n"
              "m_NetClassDriver\t= \n"
              "m_NetDriver\t\t= \n"
              "m_NetINF\t\t= \n"
              "m_NetDriverVersion\t= \n"
              "m_NetDriverDate\t= \n"
              "m_NetIPAddress\t\t= \n\n"
              "No net bindings\n\n"
              "m_ModemClassDriver\t= \n"
              "m_ModemComPort\t= COM3\n"
              "m_ModemDriver\t= \n"
              "m_ModemINF\t\t= \n\n"
              "m_MFClassDriver\t= \n"
              "m_MFINF\t\t= \n");

    card.m_NetBindings.Add("MSTCP\\0000");
    card.m_NetBindings.Add("NETBEUI\\0001");
    card.Dump(out.path().c_str());
    std::ifstream again(out.path(), std::ios::binary);
    std::stringstream text2;
    text2 << again.rdbuf();
    lines = text2.str();
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    EXPECT_NE(lines.find("Net bindings:\n\tMSTCP\\0000\n\tNETBEUI\\0001\n\nm_ModemClassDriver"), std::string::npos);
}

}  // namespace
