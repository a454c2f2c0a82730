// CModem::FlashFirmware end to end over a real COM-port pair against the simulated card: the
// modem's image from its package, the add-on's by XMODEM-1K, and a boot loader that refuses every
// try. The card's fixed waits are real, so the cases are few.
#include <gtest/gtest.h>

#include <algorithm>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/flash_image.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"

namespace {

const char kId[] = "PCMCIA\\DORVEX-MODEM56-1A2B";

fwtest::Bytes ModemPackage() {
    const fwtest::Bytes image = fwtest::FisImage(0x4A10)
                                    .Cis(4, 0x4100)
                                    .Put(0x4100, {1, 2, 3, 4})
                                    .TextItem(0x30, 8, 0x4600)
                                    .Put(0x4600, {9, 9, 9, 9, 9, 9, 9, 9})
                                    .Build();
    const fwtest::Bytes cis = {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C};
    return fwtest::MpkFile(4, {{3, kId, 0x1143, 3, "MDM56K", "Modem firmware",
                                {{mpk::kKindCis, cis}, {mpk::kKindPatchList, {0, 0}}, {mpk::kKindImage, image}}}});
}

// What the card must receive, worked out by hand from the package's image: the card's CIS in its
// area with its used length in the entry, the saved settings in theirs, and the sum over all.
std::vector<uint8_t> Expected(const std::string& package) {
    CFis fis;
    EXPECT_EQ(flash::LoadModemImage(package.c_str(), CString(kId), nullptr, &fis), 0);
    std::vector<uint8_t> want(static_cast<size_t>(fis.GetSize()));
    EXPECT_EQ(fis.CopyOut(want.data(), static_cast<int>(want.size())), 0);
    return flashtest::FlashedImage(want);
}

std::vector<int> g_progress;
void Record(int percent) { g_progress.push_back(percent); }

void NoRegistry(CCardInfo&) {}
void NoRegistry9x(CCardInfo&, BOOL) {}

class ModemFlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = CCardInfo::SetReaders({nullptr, nullptr, NoRegistry, NoRegistry9x});
        package = dir.Write("CARDS.MPK", ModemPackage());
        winetest::PortPair pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        sim.Update([&](modemsim::ModemState& s) {
            s.cis = flashtest::CardCis();
            s.savedSettings = flashtest::kCardSettings;
            s.bootImageSize = 0x4A10;
        });
        ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
        modem.m_CardDescription = kId;
        g_progress.clear();
    }
    void TearDown() override { CCardInfo::SetReaders(previous); }

    standins::StandinDrivers drivers;
    CCardInfoReaders previous;
    fwtest::TempFolder dir;
    std::string package;
    modemsim::ModemSimulator sim;
    CModem modem;
};

TEST_F(ModemFlashTest, ModemTakesItsPackageImageByteForByte) {
    const std::vector<uint8_t> want = Expected(package);
    ASSERT_EQ(modem.FlashFirmware(package.c_str(), Record), 0);
    const modemsim::ModemState s = sim.State();
    EXPECT_EQ(s.bootStarts, 1);
    EXPECT_EQ(s.bootReceived, want);
    EXPECT_TRUE(s.bootFlashed);
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_EQ(modem.m_OpenCount, 0);
    // The card runs its new firmware.
    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "1.90");
}

TEST_F(ModemFlashTest, ModemErrorsOnAllThreeTriesGive129) {
    sim.Update([](modemsim::ModemState& s) {
        s.bootFaults = {{1, 0, "\r\nCHECKSUM ERROR\r\n", false}, {2, 0, "\r\nCHECKSUM ERROR\r\n", false},
                        {3, 0, "\r\nCHECKSUM ERROR\r\n", false}};
    });
    EXPECT_EQ(modem.FlashFirmware(package.c_str(), nullptr), 129);
    EXPECT_EQ(sim.State().bootStarts, 3);
    EXPECT_FALSE(sim.State().bootFlashed);
    EXPECT_EQ(modem.m_OpenCount, 0);
}

TEST_F(ModemFlashTest, AddOnTakesItsImageByXmodem) {
    fwtest::Bytes addon(2500);
    for (size_t i = 0; i < addon.size(); ++i) addon[i] = static_cast<uint8_t>(i * 7 + i / 256);
    const std::string path = dir.Write(
        "isdn.mpk", fwtest::MpkFile(3, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V10.02",
                                         {{mpk::kKindAddOnImage, addon}}}}));
    sim.Update([](modemsim::ModemState& s) { s.addOn = true; });
    ASSERT_EQ(modem.DetectIsdnAddOn(nullptr), 1);

    ASSERT_EQ(modem.FlashFirmware(path.c_str(), Record), 0);
    const modemsim::ModemState s = sim.State();
    std::vector<uint8_t> want = addon;
    want.resize(3072, 0x1A);
    EXPECT_EQ(s.addOnReceived, want);
    EXPECT_TRUE(s.addOnFlashed);
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_EQ(modem.m_OpenCount, 0);
    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "2.20");
}

TEST(ModemFlash, BootLoaderErrorUpperCasesItsReply) {
    CString reply = "\r\nchecksum error\r\n";
    EXPECT_EQ(CModem::BootLoaderError(reply), 129);
    EXPECT_EQ(reply, "\r\nCHECKSUM ERROR\r\n");
}

}  // namespace
