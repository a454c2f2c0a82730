// Writes the seed corpora of the fuzz targets from the test builders: valid firmware files and
// adapter replies in the layouts the unit tests use. Run once after a layout changes and commit
// the files (they are kept small):   build-native/make_seeds native/corpus
#include <cstdio>
#include <string>
#include <vector>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/fw_test_files.h"
#include "cardflash/flash/mpk_format.h"
#include "cardflash/inventory/alloc_test_data.h"
#include "cardflash/inventory/cis_test_data.h"
#include "common/capi_test_messages.h"
#include "simulators/isdn/isdn_replies.h"

using fwtest::Bytes;
using fwtest::MpkRecordLayout;

namespace {

std::string root;
int failures = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string path = root + "/" + target + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++failures;
    }
    if (f) std::fclose(f);
}

void Write(const std::string& target, const std::string& name, const std::string& text) {
    Write(target, name, Bytes(text.begin(), text.end()));
}

// The fwinfo target takes the image from the directory on.
Bytes FromDirectory(const Bytes& image) { return Bytes(image.begin() + fis::kDirectoryOffset, image.end()); }

// The smallest image with the items a package patches: texts 0x21 and 0x22, the CIS area, a version.
Bytes SmallModemImage() {
    return fwtest::FisImage(0x4280)
        .TextItem(0x21, 8, 0x4100)
        .TextItem(0x22, 16, 0x4110)
        .Version(0x4130, "2.04")
        .Cis(0, 0x4140)
        .Build();
}

Bytes PatchList() {
    return fwtest::Cat({fwtest::Le16(3), Bytes{0x21, 3}, fwtest::Text("ABC"), Bytes{0x21, 0}, Bytes{0x22, 5},
                        fwtest::Text("HELLO")});
}

Bytes Settings(uint8_t fill, size_t data) {
    Bytes b(mpk::kSettingsHeaderSize + data, fill);
    b[0] = 0x48;
    return b;
}

const Bytes kCis = {0x01, 0x03, 0xD9, 0x01, 0xFF, 0x1C, 0x04, 0x02, 0xD9, 0x01, 0xFF};

void Firmware() {
    Write("fwinfo", "full", FromDirectory(fwtest::FullFisImage().Build()));
    Write("fwinfo", "plain", FromDirectory(fwtest::FisImage(0x4100).Build()));
    Write("fwinfo", "modem", FromDirectory(SmallModemImage()));

    const std::string name = "MDM56K", desc = "Modem firmware 2.4";
    const uint32_t table = static_cast<uint32_t>(fwtest::PakTableOffset(name, desc));
    const Bytes cis(8, 0xC1), image(100, 0x5A);
    Write("pak", "two_entries.pak",
          fwtest::PakFile(0x0204, 0x1146, 2, 0, name, desc,
                          {{0x0103, table + 28, 0x800, static_cast<uint32_t>(cis.size())},
                           {0x8000, table + 28 + static_cast<uint32_t>(cis.size()), 0x3000,
                            static_cast<uint32_t>(image.size())}},
                          fwtest::Cat({cis, image})));
    Write("pak", "one_entry.pak",
          fwtest::PakFile(0x0110, 0x1143, 0, 1, name, desc, {{0x8000, table + 14, 0x3000, 64}}, Bytes(64, 0x33)));

    // The flash engine's target: a .PAK whose table passes, a CIS with the tuples that take the
    // card's values, and an information block whose CIS entry leads to such a CIS.
    Write("flashdrv", "two_entries.pak",
          fwtest::PakFile(0x0204, 0x1146, 2, 0, name, desc,
                          {{0x0103, table + 28, 0x800, static_cast<uint32_t>(cis.size())},
                           {0x8000, table + 28 + static_cast<uint32_t>(cis.size()), 0x3000,
                            static_cast<uint32_t>(image.size())}},
                          fwtest::Cat({cis, image})));
    const Bytes values_cis = {0x01, 0x02, 0xD9, 0xFF, 0x44, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x08, 0, 0,
                              0, 0, 0, 0, 0, 0, 0x21, 0x02, 0x06, 0x00, 0x22, 0x08, 0x04, 0x06, 0, 0,
                              0, 0, 0, 0, 0x89, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
    Write("flashdrv", "cis", values_cis);
    Write("flashdrv", "image_cis",
          FromDirectory(fwtest::FisImage(0x4200).Cis(static_cast<uint16_t>(values_cis.size()), 0x4080)
                            .Put(0x4080, values_cis)
                            .Build()));

    const MpkRecordLayout combo{1, "PCMCIA\\DORVEX-LANMODEM-77", 0x1143, 3, "MDM56K", "Modem firmware V2.04",
                                {{mpk::kKindCis, kCis}, {mpk::kKindPatchList, PatchList()},
                                 {mpk::kKindImage, Bytes(64, 0x11)}}};
    MpkRecordLayout modem{3, "PCMCIA\\DORVEX-MODEM56-1A2B", 0x1143, 3, "MDM56K", "Modem firmware V2.04",
                          {{mpk::kKindCis, kCis}, {mpk::kKindPatchList, PatchList()}, {mpk::kKindImage, Bytes(32, 0x22)},
                           {mpk::kKindSettings9x, Settings(0x94, 40)}, {mpk::kKindSettingsNt, Settings(0x4E, 20)}}};
    const MpkRecordLayout addon{5, "ISDN", 0x2000, 0, "TAMRISK", "ISDN Tamrisk V10.02",
                                {{mpk::kKindAddOnImage, Bytes(48, 0x1A)}}};
    Write("mpk", "standard.mpk", fwtest::MpkFile(6, {combo, modem, addon}));
    modem.sections = {{mpk::kKindCis, kCis}, {mpk::kKindPatchList, PatchList()}, {mpk::kKindImage, SmallModemImage()}};
    Write("mpk", "buildable.mpk", fwtest::MpkFile(3, {modem}));
    Write("mpk", "no_sections.mpk", fwtest::MpkFile(2, {{2, "PCMCIA\\OTHER", 0x1146, 1, "X", "no images", {}}}));
}

void AdapterReplies() {
    using isdnsim::Reply;
    Write("dialconf", "ati", Reply("ATI\r", isdnsim::IdentityInfo(true)));
    Write("dialconf", "ati3", Reply("ATI3\r", isdnsim::FirmwareInfo(isdnsim::kDefaultFirmware)));
    Write("dialconf", "msn", Reply("AT **MSN\r", isdnsim::MsnInfo("4930123")));
    Write("dialconf", "number", Reply("AT #H\r", isdnsim::NumberInfo("5551234")));
    Write("dialconf", "spid", Reply("AT**SPID1\r", isdnsim::SpidInfo("01234567890123")));
    Write("dialconf", "ptp", Reply("AT **PTP\r", isdnsim::PointToPointInfo(true)));
    Write("dialconf", "switch", Reply("AT **ISDN\r", isdnsim::SwitchTypeInfo(5)));
    Write("dialconf", "prot", Reply("AT ** PROT\r", isdnsim::ProtocolInfo(2)));
    Write("dialconf", "error", Reply("AT **MSN\r", "", false));
}

void Inventory() {
    using cistest::Tuple;
    Write("cis", "card", cistest::CardCis());
    Write("cis", "modem", cistest::Cat({Tuple(0x01, cistest::kDevice), Tuple(0x15, cistest::kVers1),
                                        Tuple(0x21, {0x02, 0x00}), Tuple(0x20, cistest::kManfid), {0xFF}}));
    Write("cis", "end_only", Bytes{0xFF});
    // One tuple and no end mark: the fuzzer puts it in its own place, where it ends the data.
    Write("cis", "last_tuple", Tuple(0x01, {0xAA, 0xBB}));

    Write("resdesc", "modem", alloctest::ModemAllocation());
    Bytes forced(8, 0);
    alloctest::Record(forced, 0x43, Bytes{0x5A});
    alloctest::Record(forced, 4, alloctest::Irq(0, 5, 0x20));
    alloctest::Put(forced, 0, 8);
    Write("resdesc", "forced", forced);

    Write("devicedb", "QorvDevices.ini",
          std::string("[Version]\r\nVersion=1.05\r\n"
                      "[Manufacturers]\r\n0=Dorvex\r\n1=Acme Corp\r\n"
                      "PCIVENDORIDS=VEN_1B2C&DEV_0001 VEN_1B2C&DEV_0002\r\n"
                      "[Alpha]\r\nGEN_PNPID_1=PCMCIA\\ACME\r\n"
                      "[10]\r\nGEN_PNPID_1=   \r\nGEN_PNPID_2=PCMCIA\\ACME-MODEM\r\nGEN_MFG=Acme Corp\r\n"
                      "GEN_LONGNAME=  Acme Modem 56  \r\nMODEM_COUNTRYSELECT= 1 \r\n"
                      "[20]\r\nGEN_PNPID_1=PCMCIA\\acme-modem\r\nGEN_NT4ID_1=Root\\Modem\\\r\nGEN_MFG=acme corp\r\n"
                      "[30]\r\nGEN_PNPID_1=PCMCIA\\DORVEX-LANMODEM\r\nGEN_MFG=Dorvex\r\n"));
}

// CAPI messages of each command group, for the cracker, the tracer and msgcore's handler.
void CapiMessages() {
    for (const auto& seed : capitest::SeedMessages()) {
        Write("common_cracker", seed.first, seed.second);
        Write("common_trace", seed.first, seed.second);
        Write("msgcore_dispatch", seed.first, seed.second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS-FOLDER\n");
        return 2;
    }
    root = argv[1];
    Firmware();
    AdapterReplies();
    Inventory();
    CapiMessages();
    return failures ? 1 : 0;
}
