// The simulated card's side of a flash test: the CIS and saved settings it reports, and the image it
// must receive once a flash has written them into a test image, worked out by hand rather than by
// the flash code. No Windows header: the protocol tests also run natively.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace flashtest {

// A 256-byte CIS whose version tuple names the maker and the card, as the flash checks it.
inline std::vector<uint8_t> CardCis() {
    std::vector<uint8_t> cis = {0x01, 0x02, 0x00, 0xFF};
    const char names[] = "Dorvex\0" "56K PC Card Modem\0";
    cis.push_back(0x15);
    cis.push_back(static_cast<uint8_t>(2 + sizeof names));
    cis.push_back(0x04);
    cis.push_back(0x01);
    cis.insert(cis.end(), names, names + sizeof names);
    cis.push_back(0xFF);
    cis.resize(256, 0xFF);
    return cis;
}

inline const std::vector<uint8_t> kCardSettings = {0x01, 0x4B, 0x32, 0x00, 0x10, 0x20, 0x30, 0x40};

// `image` (CIS area at 0x4100, settings item at 0x4600) with the card's CIS and settings in their
// areas, the CIS entry's used length set to 256, and the 16-bit sum over all in the last two bytes.
inline std::vector<uint8_t> FlashedImage(std::vector<uint8_t> want) {
    const std::vector<uint8_t> cis = CardCis();
    std::copy(cis.begin(), cis.end(), want.begin() + 0x4100);
    std::copy(kCardSettings.begin(), kCardSettings.end(), want.begin() + 0x4600);
    size_t entry = 0x4000;
    while (want[entry] != 0x10) entry += 2 + want[entry + 1];
    want[entry + 4] = 0x00;
    want[entry + 5] = 0x01;
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 < want.size(); ++i) sum = static_cast<uint16_t>(sum + want[i]);
    want[want.size() - 2] = static_cast<uint8_t>(sum & 0xFF);
    want[want.size() - 1] = static_cast<uint8_t>(sum >> 8);
    return want;
}

}  // namespace flashtest
