// CModem::FlashFirmware end to end over a real COM-port pair against the simulated card: the
// modem's image from its package, the add-on's by XMODEM-1K, and a boot loader that refuses every
// try. The card's fixed waits are real, so the cases are few.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/modem_flash_fixture.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemsim.h"
#include "standins/drivers.h"

namespace {

using flashtest::kModemId;

std::vector<int> g_progress;
void Record(int percent) { g_progress.push_back(percent); }

class ModemFlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = CCardInfo::SetReaders(flashtest::NoRegistryReaders());
        package = dir.Write("CARDS.MPK", flashtest::ModemPackage());
        winetest::PortPair pair = winetest::GetPortPair(0);
        ASSERT_TRUE(sim.Start(pair.b));
        flashtest::PrepareCard(sim);
        ASSERT_EQ(modem.AttachCard(nullptr, pair.a.c_str()), 0);
        modem.m_CardDescription = kModemId;
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
    const std::vector<uint8_t> want = flashtest::ExpectedImage(package);
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

// No start request ever comes (the card is not in flash mode): each of the 21 reads waits as long
// as the port's read time-outs say (about 310 ms), so the sender gives up after about 6.5 s, and
// tells the card with CAN.
TEST_F(ModemFlashTest, AddOnUploadWithoutAStartRequestGivesUpAfterTwentyOneReadsOfThePortsWait) {
    sim.ClearReceived();
    const std::vector<uint8_t> image(1000, 0x42);
    const DWORD start = GetTickCount();
    EXPECT_EQ(modem.UploadXmodem(image.data(), static_cast<unsigned>(image.size()), nullptr), 37);
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 21u * 300);
    EXPECT_LT(took, 13000u);
    EXPECT_EQ(modem.m_OpenCount, 0);
    for (int i = 0; i < 100 && sim.Received().find('\x18') == std::string::npos; ++i) Sleep(20);
    EXPECT_EQ(sim.Received().substr(sim.Received().size() - 1), "\x18");
    EXPECT_EQ(sim.State().addOnPackets, 0);
}

// Not a timed test: with FLASH_BENCHMARK set, both roads flash 64 KiB through FlashFirmware with
// the card paced at 19200 and 115200 bit/s. Each time runs from the call until both the call has
// returned and the card has the image; it is printed against the least time the flash can take
// on that line, as minimum / measured (1.0 is the limit).
TEST_F(ModemFlashTest, FlashBenchmark) {
    if (!getenv("FLASH_BENCHMARK")) GTEST_SKIP() << "set FLASH_BENCHMARK=1 to run";
    const size_t kSize = 64 * 1024;
    const std::string modem_path =
        dir.Write("big.bin", fwtest::FisImage(kSize).Cis(4, 0x4100).TextItem(0x30, 8, 0x4600).Build());
    const std::string addon_path = dir.Write(
        "isdn.mpk", fwtest::MpkFile(3, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V2.20",
                                         {{mpk::kKindAddOnImage, fwtest::Bytes(kSize, 0x3C)}}}}));
    using Sim = modemsim::ModemSimulator;
    struct Run {
        double measured;
        size_t received, answered;  // bytes the card took and gave in answers
    };
    auto flash = [&](const std::string& path, bool addon) {
        sim.Update([&](modemsim::ModemState& s) {
            s.addOn = addon;
            s.bootFlashed = s.addOnFlashed = false;
        });
        EXPECT_EQ(modem.DetectIsdnAddOn(nullptr), addon ? 1 : 0);  // the road is chosen by the flag
        sim.ClearReceived();
        const double t0 = Sim::MonotonicMs();
        EXPECT_EQ(modem.FlashFirmware(path.c_str(), nullptr), 0);
        const double t1 = Sim::MonotonicMs();
        // A pty takes the modem road's blocks at once: the card may still be taking them.
        for (int i = 0; i < 120000 && sim.FlashedAtMs() == 0; ++i) Sleep(1);
        EXPECT_NE(sim.FlashedAtMs(), 0);
        Run r{(std::max(t1, sim.FlashedAtMs()) - t0) / 1000.0, sim.Received().size(), 0};
        for (const Sim::Write& w : sim.Writes())
            if (!w.own) r.answered += w.bytes.size();
        return r;
    };
    for (unsigned rate : {19200u, 115200u}) {
        sim.Update([&](modemsim::ModemState& s) {
            s.paceBitRate = rate;
            s.bootImageSize = kSize;
        });
        auto line = [&](double bytes) { return bytes * 10.0 / rate; };
        // Modem road: every byte of the commands and answers; the add-on detection's 0.1 s and
        // the 1 s after ATE0V1; the mode code and the first block, which the line carries during
        // the 6 s pause after them; the other blocks, during which the final 2 s read runs.
        const Run m = flash(modem_path, false);
        const double modem_min = line(static_cast<double>(m.received - kSize - 6 + m.answered)) + 0.1 + 1.0 +
                                 std::max(6.0, line(6 + 1024)) + std::max(2.0, line(kSize - 1024));
        // Add-on road: every byte both ways (64 packets of 1029 bytes, each answered, and the one
        // start request that began the transfer); the detection's 0.1 s, the 0.5 s before flash
        // mode, the 1 s before the upload and the 6 s after it.
        const Run a = flash(addon_path, true);
        const double addon_min = line(static_cast<double>(a.received + a.answered + 1)) + 0.1 + 0.5 + 1.0 + 6.0;
        printf("%6u bit/s  modem %.2f s (minimum %.2f s, ratio %.3f)  add-on %.2f s (minimum %.2f s, ratio %.3f)\n",
               rate, m.measured, modem_min, modem_min / m.measured, a.measured, addon_min, addon_min / a.measured);
    }
}

TEST(ModemFlash, BootLoaderErrorUpperCasesItsReply) {
    CString reply = "\r\nchecksum error\r\n";
    EXPECT_EQ(CModem::BootLoaderError(reply), 129);
    EXPECT_EQ(reply, "\r\nCHECKSUM ERROR\r\n");
}

}  // namespace
