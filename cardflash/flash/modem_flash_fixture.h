// What the Wine tests that flash the simulated modem card through its boot loader share: the
// card's id and a package for it, the card set up as the flash expects it, readers that leave the
// registry alone, and the image the card must hold once the package's modem image is flashed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_image.h"
#include "cardflash/flash/flash_test_card.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/card_info.h"
#include "simulators/modem/modemsim.h"

namespace flashtest {

constexpr char kModemId[] = "PCMCIA\\DORVEX-MODEM56-1A2B";

// A package with one modem record for the card: an image whose CIS and settings areas the
// flash fills from the card.
inline fwtest::Bytes ModemPackage() {
    const fwtest::Bytes image = fwtest::FisImage(0x4A10)
                                    .Cis(4, 0x4100)
                                    .Put(0x4100, {1, 2, 3, 4})
                                    .TextItem(0x30, 8, 0x4600)
                                    .Put(0x4600, {9, 9, 9, 9, 9, 9, 9, 9})
                                    .Build();
    const fwtest::Bytes cis = {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C};
    return fwtest::MpkFile(4, {{3, kModemId, 0x1143, 3, "MDM56K", "Modem firmware",
                                {{mpk::kKindCis, cis}, {mpk::kKindPatchList, {0, 0}}, {mpk::kKindImage, image}}}});
}

// The card's CIS and saved settings, and the size of the image its boot loader takes.
inline void PrepareCard(modemsim::ModemSimulator& sim) {
    sim.Update([](modemsim::ModemState& s) {
        s.cis = CardCis();
        s.savedSettings = kCardSettings;
        s.bootImageSize = 0x4A10;
    });
}

inline void NoRegistry(CCardInfo&) {}
inline void NoRegistry9x(CCardInfo&, BOOL) {}
inline CCardInfoReaders NoRegistryReaders() { return {nullptr, nullptr, NoRegistry, NoRegistry9x}; }

// The image the card must hold after the flash of `package`: the image reader's, with the card's
// own CIS and settings worked in by hand.
inline std::vector<uint8_t> ExpectedImage(const std::string& package) {
    CFis fis;
    EXPECT_EQ(flash::LoadModemImage(package.c_str(), CString(kModemId), nullptr, &fis), 0);
    std::vector<uint8_t> want(static_cast<size_t>(fis.GetSize()));
    EXPECT_EQ(fis.CopyOut(want.data(), static_cast<int>(want.size())), 0);
    return FlashedImage(want);
}

}  // namespace flashtest
