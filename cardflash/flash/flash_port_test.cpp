// Both flash roads end to end: the image taken from its file, the dialogues run over a real COM
// port pair against the simulated card, and what the card received compared byte for byte. The
// boot loader's and the add-on's fixed waits are real here, so these cases are few.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/flash_codes.h"
#include "cardflash/flash/flash_image.h"
#include "cardflash/flash/flash_protocol.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "simulators/modem/modemsim.h"

namespace {

// The dialogues' link over the test's end of the pair, as the modem object's port will be.
class SerialLink : public flash::FlashLink {
public:
    explicit SerialLink(winetest::SerialPort& port) : port_(port) {}
    int opens = 0, closes = 0;
    bool OpenPort() override {
        ++opens;
        return port_.IsOpen();
    }
    void ClosePort() override { ++closes; }
    long Write(const void* data, size_t size) override { return port_.Write(data, size) ? static_cast<long>(size) : 0; }
    long Read(void* buffer, size_t max, unsigned timeoutMs) override {
        std::string got;
        if (timeoutMs == 0) {
            // Only what is queued.
            COMMTIMEOUTS t{};
            t.ReadIntervalTimeout = MAXDWORD;
            SetCommTimeouts(port_.handle(), &t);
            got.resize(max);
            DWORD n = 0;
            if (!ReadFile(port_.handle(), &got[0], static_cast<DWORD>(max), &n, nullptr)) return -1;
            got.resize(n);
        } else {
            // The modem's port waits 10 ms a byte and 300 ms more on its own time-outs.
            got = port_.Read(max, timeoutMs == flash::kPortTimeouts ? static_cast<DWORD>(10 * max + 300) : timeoutMs);
        }
        got.copy(static_cast<char*>(buffer), got.size());
        return static_cast<long>(got.size());
    }
    void Purge() override { PurgeComm(port_.handle(), PURGE_TXCLEAR | PURGE_RXCLEAR); }
    void Sleep(unsigned ms) override { ::Sleep(ms); }

private:
    winetest::SerialPort& port_;
};

std::vector<uint8_t> FileImage() {
    fwtest::FisImage builder(0x4A10);
    builder.Cis(4, 0x4100).Put(0x4100, {1, 2, 3, 4}).TextItem(0x30, 8, 0x4600).Put(0x4600, {9, 9, 9, 9, 9, 9, 9, 9});
    return builder.Build();
}

// By hand: the card's CIS and settings in their areas, and the sum over all.
std::vector<uint8_t> ExpectedImage() { return flashtest::FlashedImage(FileImage()); }

std::vector<int> g_progress;
void Record(int percent) { g_progress.push_back(percent); }

class FlashPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        winetest::PortPair pair = winetest::GetPortPair(0);
        modemsim::ModemState s;
        s.cis = flashtest::CardCis();
        s.savedSettings = flashtest::kCardSettings;
        s.bootImageSize = FileImage().size();
        ASSERT_TRUE(sim.Start(pair.b));
        sim.Update([&](modemsim::ModemState& st) { st = s; });
        ASSERT_TRUE(port.Open(pair.a, CBR_19200));
        g_progress.clear();
    }

    int FlashModem() {
        const std::string path = dir.Write("card.bin", FileImage());
        CFis fis;
        EXPECT_EQ(flash::LoadModemImage(path.c_str(), CString(), nullptr, &fis), 0);
        return flash::FlashModemImage(link, fis, Record);
    }

    bool Sent(const std::string& command) const {
        const std::vector<std::string> c = sim.Commands();
        return std::find(c.begin(), c.end(), command) != c.end();
    }

    fwtest::TempFolder dir;
    modemsim::ModemSimulator sim;
    winetest::SerialPort port;
    SerialLink link{port};
};

TEST_F(FlashPortTest, ModemReceivesTheWholeImageByteForByte) {
    ASSERT_EQ(FlashModem(), 0);
    const modemsim::ModemState s = sim.State();
    EXPECT_EQ(s.bootStarts, 1);
    EXPECT_EQ(s.bootReceived, ExpectedImage());
    EXPECT_TRUE(s.bootFlashed);
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_EQ(link.opens, link.closes);
    // The card runs its new firmware.
    ASSERT_TRUE(port.Write("AT+GMR\r"));
    EXPECT_NE(port.ReadUntil("OK\r", 3000).find("1.90"), std::string::npos);
}

// "checksum error" in lower case and split over two writes, on the first try: the loader says
// "UPLOAD" again and the second try goes through.
TEST_F(FlashPortTest, ModemTriesAgainAfterAChecksumError) {
    sim.Update([](modemsim::ModemState& s) { s.bootFaults = {{1, 9, "\r\nchecksum error\r\n", true}}; });
    ASSERT_EQ(FlashModem(), 0);
    const modemsim::ModemState s = sim.State();
    EXPECT_EQ(s.bootStarts, 2);
    EXPECT_EQ(s.bootReceived, ExpectedImage());
    EXPECT_TRUE(s.bootFlashed);
}

TEST_F(FlashPortTest, ModemErrorsOnAllThreeTriesGive129) {
    sim.Update([](modemsim::ModemState& s) {
        s.bootFaults = {{1, 0, "\r\nCHECKSUM ERROR\r\n", false}, {2, 0, "\r\nCHECKSUM ERROR\r\n", false},
                        {3, 0, "\r\nCHECKSUM ERROR\r\n", false}};
    });
    EXPECT_EQ(FlashModem(), 129);
    EXPECT_EQ(sim.State().bootStarts, 3);
    EXPECT_FALSE(sim.State().bootFlashed);
    EXPECT_EQ(link.opens, link.closes);
}

TEST_F(FlashPortTest, ModemWithA255ByteCisIsNotFlashed) {
    sim.Update([](modemsim::ModemState& s) { s.cis.pop_back(); });
    EXPECT_EQ(FlashModem(), 124);
    EXPECT_FALSE(Sent("AT&&XX"));
    EXPECT_EQ(sim.State().bootStarts, 0);
}

// The add-on's image from its package; one NAK and one lost ACK on the way.
TEST_F(FlashPortTest, AddOnTakesItsImageByXmodem) {
    const fwtest::Bytes addon = [] {
        fwtest::Bytes b(2500);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 256);
        return b;
    }();
    const std::string path =
        dir.Write("isdn.mpk", fwtest::MpkFile(3, {{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V10.02",
                                                   {{mpk::kKindAddOnImage, addon}}}}));
    std::vector<uint8_t> image;
    ASSERT_EQ(flash::LoadAddOnImage(path.c_str(), &image), 0);
    ASSERT_EQ(image, addon);

    sim.Update([](modemsim::ModemState& s) {
        s.addOn = true;
        s.addOnNakPackets = {2};
        s.addOnSilentPackets = {3};
    });
    ASSERT_EQ(flash::FlashAddOnImage(link, image.data(), image.size(), Record), 0);
    const modemsim::ModemState s = sim.State();
    std::vector<uint8_t> want = addon;
    want.resize(3072, 0x1A);
    EXPECT_EQ(s.addOnReceived, want);
    EXPECT_EQ(s.addOnPackets, 5);
    EXPECT_TRUE(s.addOnFlashed);
    EXPECT_EQ(g_progress.back(), 100);
    ASSERT_TRUE(port.Write("ATI3\r"));
    EXPECT_NE(port.ReadUntil("OK\r", 3000).find("V2.20"), std::string::npos);
}

TEST_F(FlashPortTest, AddOnThatRejectsEveryPacketGetsCan) {
    sim.Update([](modemsim::ModemState& s) {
        s.addOn = true;
        s.addOnNakPackets = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    });
    const std::vector<uint8_t> image(1500, 0x5A);
    EXPECT_EQ(flash::FlashAddOnImage(link, image.data(), image.size(), nullptr), 39);
    for (int i = 0; i < 100 && !sim.State().addOnAborted; ++i) Sleep(20);
    EXPECT_TRUE(sim.State().addOnAborted);
    EXPECT_EQ(sim.State().addOnPackets, 10);
    EXPECT_TRUE(sim.State().addOnReceived.empty());
}

// Which file gives which image, and the codes of the ones that give none.
TEST(LoadModemImage, TakesTheImageTheFileHolds) {
    fwtest::TempFolder dir;
    const fwtest::Bytes plain = FileImage();
    const fwtest::Bytes modem_image = fwtest::FisImage().Cis(0, 0x4100).TextItem(0x30, 8, 0x4600).Build();
    const char kId[] = "PCMCIA\\DORVEX-MODEM56-1A2B";
    auto record = [&](std::vector<fwtest::MpkSection> sections) {
        return fwtest::MpkFile(4, {{3, kId, 0x1143, 3, "MDM56K", "Modem firmware", sections}});
    };
    const fwtest::Bytes cis = {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C};
    const fwtest::Bytes patches = {0, 0};
    struct Case {
        const char* name;
        std::string file;
        fwtest::Bytes bytes;
        const char* pnp;
        int result;
    } cases[] = {
        {"plain image", "card.bin", plain, "", 0},
        {"not an image", "card.txt", fwtest::Bytes(100, 0x41), "", 120},
        {"package without the card's id", "p.mpk",
         record({{mpk::kKindCis, cis}, {mpk::kKindPatchList, patches}, {mpk::kKindImage, modem_image}}), "", 131},
        {"package without its image", "p.mpk", record({{mpk::kKindCis, cis}, {mpk::kKindPatchList, patches}}), kId, 132},
        {"package with two images", "p.mpk",
         record({{mpk::kKindCis, cis}, {mpk::kKindPatchList, patches}, {mpk::kKindImage, modem_image},
                 {mpk::kKindImage, modem_image}}),
         kId, 132},
        {"package", "p.mpk",
         record({{mpk::kKindCis, cis}, {mpk::kKindPatchList, patches}, {mpk::kKindImage, modem_image}}), kId, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write(c.file, c.bytes);
        CFis fis;
        EXPECT_EQ(flash::LoadModemImage(path.c_str(), CString(c.pnp), nullptr, &fis), c.result) << c.name;
        EXPECT_EQ(fis.IsLoaded(), c.result == 0) << c.name;
    }
}

}  // namespace
