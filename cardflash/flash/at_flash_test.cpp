// CATFlash over a real COM-port pair: a port another program holds is refused before anything
// is sent, a free one takes the package's image through the simulated card's boot loader, with a
// modem of its own or the caller's.
#include "cardflash/flash/at_flash.h"

#include <gtest/gtest.h>

#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/modem_flash_fixture.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"
#include "winetest/ports.h"

namespace {

using flashtest::kModemId;

std::vector<int> g_progress;
void Record(int percent) { g_progress.push_back(percent); }

class ATFlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = CCardInfo::SetReaders(flashtest::NoRegistryReaders());
        card = std::make_unique<CCardInfo>(kModemId, FALSE);
        package = dir.Write("CARDS.MPK", flashtest::ModemPackage());
        pair = winetest::GetPortPair(0);
        port = "\\\\.\\" + pair.a;
        ASSERT_TRUE(sim.Start(pair.b));
        flashtest::PrepareCard(sim);
        drivers.Add("\\\\.\\Wendlow.vxd", &manager);
        g_progress.clear();
    }
    void TearDown() override {
        card.reset();
        CCardInfo::SetReaders(previous);
    }

    standins::StandinDrivers drivers;
    standins::PortManagerDriver manager;
    CCardInfoReaders previous;
    std::unique_ptr<CCardInfo> card;
    fwtest::TempFolder dir;
    std::string package;
    winetest::PortPair pair;
    std::string port;
    modemsim::ModemSimulator sim;
};

TEST_F(ATFlashTest, BusyPortIsRefusedWithoutAWord) {
    manager.SetPortFree(port, false);
    CATFlash flash;
    EXPECT_EQ(flash.Flash(card.get(), pair.a.c_str(), package.c_str(), Record, nullptr), 14);
    EXPECT_EQ(sim.Commands(), std::vector<std::string>{});
    EXPECT_EQ(sim.State().bootStarts, 0);
    EXPECT_TRUE(g_progress.empty());
    EXPECT_EQ(flash.m_PnPID, kModemId);
    EXPECT_EQ(flash.m_ImagePath, package.c_str());
    EXPECT_TRUE(flash.m_OwnsModem);
}

TEST_F(ATFlashTest, FreePortTakesThePackageImage) {
    const std::vector<uint8_t> want = flashtest::ExpectedImage(package);
    {
        CATFlash flash;
        ASSERT_EQ(flash.Flash(card.get(), pair.a.c_str(), package.c_str(), Record, nullptr), 0);
        EXPECT_TRUE(flash.m_OwnsModem);
        ASSERT_NE(flash.m_Modem, nullptr);
        EXPECT_EQ(flash.m_Modem->m_CardDescription, kModemId);
    }
    const modemsim::ModemState s = sim.State();
    EXPECT_EQ(s.bootStarts, 1);
    EXPECT_EQ(s.bootReceived, want);
    EXPECT_TRUE(s.bootFlashed);
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.back(), 100);
}

TEST_F(ATFlashTest, CallersModemIsUsedAndKept) {
    CModem modem;
    ASSERT_EQ(modem.AttachCard(card.get(), pair.a.c_str()), 0);
    {
        CATFlash flash;
        // The port given is not used: the modem is bound already.
        ASSERT_EQ(flash.Flash(card.get(), "COM250", package.c_str(), nullptr, &modem), 0);
        EXPECT_EQ(flash.m_Modem, &modem);
        EXPECT_FALSE(flash.m_OwnsModem);
    }
    EXPECT_TRUE(sim.State().bootFlashed);
    // The modem outlives the wrapper and runs its new firmware.
    EXPECT_EQ(modem.ReadFirmwareVersion(), 0);
    EXPECT_EQ(modem.m_FirmwareVersion, "1.90");
    EXPECT_EQ(modem.m_OpenCount, 0);
}

}  // namespace
