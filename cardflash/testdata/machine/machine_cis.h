// The CIS of the fixture machine's two PC Cards (README.md), as the card drivers hand it over,
// and where the Windows NT PCMCIA driver finds them with the resources it configured.
//
// The plug-and-play id Windows derives from a CIS is "PCMCIA\" + VERS_1 manufacturer + "-" +
// product + "-" + the CRC of the id tuples, upper-cased with blanks as "_". Each card's MANFID
// card number is the one that gives the CRC its device keys carry:
//   card A  PCMCIA\DORVEX-ETHERMODEM_56-3F1A
//   card B  PCMCIA\DORVEX-MODEM_56K-77C2
// Both cards report the serial-port function code (the modem is what the serial driver sees);
// card A's LAN function comes with its node-id extension.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace machine {

using Bytes = std::vector<uint8_t>;

namespace cisdetail {

inline void Add(Bytes& to, std::initializer_list<uint8_t> bytes) { to.insert(to.end(), bytes); }
inline void AddText(Bytes& to, const char* s) { to.insert(to.end(), s, s + std::strlen(s) + 1); }

// A VERS_1 tuple: version 4.1, three strings, the list's 0xFF end.
inline void AddVers1(Bytes& to, const char* mfr, const char* product, const char* info) {
    Bytes body{0x04, 0x01};
    AddText(body, mfr);
    AddText(body, product);
    AddText(body, info);
    body.push_back(0xFF);
    Add(to, {0x15, static_cast<uint8_t>(body.size())});
    to.insert(to.end(), body.begin(), body.end());
}

}  // namespace cisdetail

constexpr uint8_t kFunctionSerial = 0x02;
constexpr uint16_t kDorvexManufacturerCode = 0x1B2C;

const char kCardAPnpId[] = "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A";
const char kCardBPnpId[] = "PCMCIA\\DORVEX-MODEM_56K-77C2";

// Card A: "Dorvex" "EtherModem 56", Ethernet and 56K modem.
inline Bytes CardACis() {
    using namespace cisdetail;
    Bytes cis;
    Add(cis, {0x01, 0x03, 0xD9, 0x01, 0xFF});                    // DEVICE: 250 ns, 2 KB attribute memory
    AddVers1(cis, "Dorvex", "EtherModem 56", "LAN+56K");
    Add(cis, {0x20, 0x04, 0x2C, 0x1B, 0x27, 0xB6});              // MANFID 1B2C, card B627
    Add(cis, {0x21, 0x02, kFunctionSerial, 0x00});               // FUNCID
    Add(cis, {0x22, 0x08, 0x04, 0x06, 0x00, 0xA0, 0xC9, 0x5E, 0x12, 0x34});  // FUNCE: LAN node id
    Add(cis, {0x1A, 0x05, 0x01, 0x23, 0x00, 0x02, 0x0F});        // CONFIG: registers at 200
    Add(cis, {0x1B, 0x10, 0xC1, 0x41, 0x99, 0x01, 0x55, 0xE9, 0x61, 0x00, 0x03, 0x1F, 0xF8, 0x02, 0x07, 0x30,
              0xFF, 0xFF});                                      // CFTABLE_ENTRY 1: two I/O windows, IRQ
    Add(cis, {0xFF});
    return cis;
}

// Card B: "Dorvex" "Modem 56K", the 56K PC Card Modem.
inline Bytes CardBCis() {
    using namespace cisdetail;
    Bytes cis;
    Add(cis, {0x01, 0x03, 0xD9, 0x01, 0xFF});
    AddVers1(cis, "Dorvex", "Modem 56K", "V.90");
    Add(cis, {0x20, 0x04, 0x2C, 0x1B, 0x26, 0xBB});              // MANFID 1B2C, card BB26
    Add(cis, {0x21, 0x02, kFunctionSerial, 0x00});
    Add(cis, {0x1A, 0x05, 0x01, 0x23, 0x00, 0x02, 0x0F});
    Add(cis, {0x1B, 0x0C, 0xE1, 0x41, 0x99, 0x01, 0x55, 0x60, 0xE8, 0x03, 0x07, 0x30, 0xFF, 0xFF});  // one window
    Add(cis, {0xFF});
    return cis;
}

// What the Windows NT PCMCIA driver configured (nt351.reg's serial resources match the modems).
struct IoWindow {
    uint16_t base;
    uint16_t length;
};
struct SocketConfig {
    int socket;
    uint8_t irq;
    std::vector<IoWindow> io;
    uint32_t memBase;    // 0: no memory window
    uint32_t memLength;
};

// Card A: its LAN registers at 300 and its modem at 3E8 (COM3), a 4 KB shared-memory window.
inline SocketConfig CardAConfig() { return {0, 10, {{0x300, 0x20}, {0x3E8, 8}}, 0xD0000, 0x1000}; }
// Card B: its modem at 2E8 (COM4).
inline SocketConfig CardBConfig() { return {1, 5, {{0x2E8, 8}}, 0, 0}; }

}  // namespace machine
