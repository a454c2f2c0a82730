// Record selection for an adapter on Windows 98 and Windows 2000: the device database (a real
// QorvDevices.ini) maps the adapter's id to a record name, on Windows 2000 also through the
// identity of a generic modem, read from the simulated card over a COM-port pair or taken from the
// adapter record.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_card_match.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "winetest/version.h"
#include "fw_test_files.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"

namespace {

using fwtest::Bytes;
using fwtest::MpkRecordLayout;

const char kComboId[] = "PCMCIA\\DORVEX-LANMODEM-77";
const char kModemId[] = "PCMCIA\\DORVEX-MODEM56-1A2B";

// The first section has the plain card's board code under another maker: the manufacturer decides.
const char kDatabase[] =
    "[Manufacturers]\r\n"
    "0=Dorvex Inc.\r\n"
    "[Version]\r\n"
    "Version=1.05\r\n"
    "[0]\r\n"
    "GEN_PNPID_1=PCMCIA\\OTHER-MODEM\r\n"
    "MODEM_SB2_1=4B\r\n"
    "GEN_MFG=Other Corp.\r\n"
    "[1]\r\n"
    "GEN_PNPID_1=\r\n"
    "GEN_PNPID_2=PCMCIA\\DORVEX-LANMODEM-77\r\n"
    "GEN_NT4ID_1=MF\\DORVEX-LANMODEM\r\n"
    "GEN_CARDTYPE=3\r\n"
    "[2]\r\n"
    "GEN_PNPID_1=PCMCIA\\DORVEX-MODEM56-1A2B\r\n"
    "MODEM_SB2_1=4B\r\n"
    "GEN_MFG=Dorvex Inc.\r\n"
    "[3]\r\n"
    "GEN_PNPID_1=ISDN\r\n"
    "MODEM_XMA_1=ISDN Tamrisk\r\n"
    "GEN_MFG=DORVEX, INC.\r\n";

// What the adapter registry readers find for each id the tests name.
struct Registry {
    const char* hardware_id;
    const char* board_code;
    const char* manufacturer;
};
const std::map<std::string, Registry> kRegistry = {
    {"PCMCIA\\DORVEX-LANMODEM-77-3C41", {"PCMCIA\\DORVEX-LANMODEM-77-3C41", "", ""}},
    {kModemId, {kModemId, "", ""}},
    {"MDMGEN\\0001", {"MDMGEN\\0001", "4B", "Dorvex Inc."}},
};

void ReadRegistry(CCardInfo& card) {
    auto it = kRegistry.find(std::string(card.m_PnPID));
    if (it == kRegistry.end()) return;
    card.m_HardwareID = it->second.hardware_id;
    card.m_ModemBoardCode = it->second.board_code;
    card.m_ModemManufacturer = it->second.manufacturer;
}
void Win2000(CCardInfo& card) { ReadRegistry(card); }
void Win9x(CCardInfo& card, BOOL) { ReadRegistry(card); }

Bytes Package() {
    const Bytes image = fwtest::FisImage().Version(0x4300, "1.10").Build();
    return fwtest::MpkFile(2, {
        {1, kComboId, 0x1144, 1, "COMBO", "Combined card V1.10", {{mpk::kKindImage, image}}},
        {3, kModemId, 0x1143, 3, "MDM56K", "Modem firmware V2.04", {{mpk::kKindImage, image}}},
        {5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V10.02", {{mpk::kKindAddOnImage, Bytes(64, 0x1A)}}},
    });
}

class MpkSelectTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.Write(kDatabase);
        CStaticCardInfo::SetIniFile(db.path().c_str());
        previous = CCardInfo::SetReaders({nullptr, nullptr, Win2000, Win9x});
        package = folder.Write("CARDS.MPK", Package());
        pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
    }
    void TearDown() override {
        CCardInfo::SetReaders(previous);
        CStaticCardInfo::SetIniFile("");
    }

    standins::StandinDrivers drivers;
    invtest::TempFile db{"QorvDevices.ini"};
    CCardInfoReaders previous;
    fwtest::TempFolder folder;
    std::string package;
    winetest::PortPair pair;
    modemsim::ModemSimulator sim;
    CModem modem;
};

TEST_F(MpkSelectTest, TheRecordForEachCardOnEachWindows) {
    const bool win2k = winetest::RequestedVersion() == "win2k";
    struct Case {
        const char* what;
        const char* pnp_id;
        bool with_modem;
        bool add_on;
        const char* win98;  // the selected record, or null for 154
        const char* win2k;
    } cases[] = {
        {"combined card by its hardware id", "PCMCIA\\DORVEX-LANMODEM-77-3C41", false, false, kComboId, kComboId},
        {"combined card's modem function", "MF\\DORVEX-LANMODEM\\0000", false, false, nullptr, kComboId},
        {"modem card", kModemId, false, false, kModemId, kModemId},
        {"modem card with its modem", kModemId, true, false, kModemId, kModemId},
        {"generic modem, adapter record", "MDMGEN\\0001", false, false, nullptr, kModemId},
        {"generic modem, modem object", "MDMGEN\\0002", true, false, nullptr, kModemId},
        {"generic modem without identity", "MDMGEN\\0002", false, false, nullptr, nullptr},
        {"ISDN add-on by name", "ISDN", false, false, "ISDN", "ISDN"},
        {"ISDN add-on on the generic modem", "MDMGEN\\0002", true, true, nullptr, "ISDN"},
        {"lower-case id", "pcmcia\\dorvex-modem56-1a2b", false, false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim.Update([&](modemsim::ModemState& s) { s.addOn = c.add_on; });
        sim.ClearReceived();
        CMPKFile mpk;
        ASSERT_EQ(mpk.SetFile(package.c_str()), 0);
        const char* expected = win2k ? c.win2k : c.win98;
        CModem* with = c.with_modem ? &modem : nullptr;
        EXPECT_EQ(mpk.SelectForCard(c.pnp_id, with), expected ? 0 : 154);
        EXPECT_EQ(std::string(mpk.GetSelectedName()), expected ? expected : "");
        // Only a generic modem on Windows 2000 is asked who it is.
        const bool asked = win2k && c.with_modem && std::string(c.pnp_id).find("MDMGEN") != std::string::npos;
        EXPECT_EQ(!sim.Commands().empty(), asked);
    }
}

TEST_F(MpkSelectTest, TheFolderScanMapsTheCardThroughTheDatabase) {
    CMPKList list;
    list.Scan(folder.path().c_str(), "PCMCIA\\DORVEX-LANMODEM-77-3C41", mpk::kKindImage);
    ASSERT_EQ(list.GetFiles().GetSize(), 1);
    EXPECT_EQ(std::string(list.GetDescriptions()[0]), "Combined card V1.10");
}

}  // namespace
