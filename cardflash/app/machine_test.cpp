// cardflash on the fixture machine (cardflash/testdata/machine) by Windows road: it finds the
// maker's adapters, builds its modem list from the present ones (a card's own modem function or,
// where the system shows the two functions of one card as two devices, its partner) and ends.
#include "cardflash/app/watchsvc_case.h"

#include <vector>

#include "winetest/registry.h"

namespace {

struct Road {
    const char* version;  // on "win2k" watchsvc is registered first
    bool host;            // the program with the drivers' stand-ins (NT 3.51 reads the cards through them)
    std::vector<const char*> files;     // the machine's registry on this road
    std::vector<std::string> expected;  // whole lines of the log
};

class MachineTest : public WatchsvcCase {};

}  // namespace

TEST_F(MachineTest, FindsTheMachinesAdaptersAndModems) {
    const Road roads[] = {
        {"win98", false,
         {"win9x.reg", "win9x_dyn.reg"},
         {
             "Present adapters: 3 (device keys 5)",
             "Installed adapters: 4 (device keys 5)",  // with the second card B, not inserted
             "Modems: 3",
             "  [0] PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1 on COM3 | bound",
             "  [1] PCMCIA\\DORVEX-MODEM_56K-77C2\\1 on COM4 | bound",
             // The PCI card's network function is the entry; its modem is the partner.
             "  [2] PCI\\VEN_1B2C&DEV_0003&SUBSYS_00031B2C&REV_01\\BUS_00&DEV_0B&FUNC_01 on COM5 | bound",
             "Selected modem: 0",
         }},
        // Through watchsvc.
        {"win2k", false,
         {"win2k.reg"},
         {
             "Present adapters: 3 (device keys 5)",
             "Installed adapters: 4 (device keys 5)",  // with card C, removed
             "Modems: 3",
             "  [0] PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1 on COM3 | bound",
             "  [1] PCMCIA\\DORVEX-MODEM_56K-77C2\\1 on COM4 | bound",
             "  [2] PCI\\VEN_1B2C&DEV_0003&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F1 on COM5 | bound",
             "Selected modem: 0",
         }},
        {"nt40", false,
         {"nt40.reg"},
         {
             "Present adapters: 2 (device keys 4)",
             "Installed adapters: 3 (device keys 4)",  // with the card B modem on COM5, not inserted
             // Card A's two functions are one adapter: its modem is the network entry's partner.
             "  [0] Root\\LEGACY_DVXEM56\\0000 | Dorvex EtherModem 56 PC Card | inserted yes | flags 1 | modem port ",
             "      partner Root\\MDMDVXEM56\\0000 | Dorvex EtherModem 56 PC Card | modem port COM3",
             "Modems: 2",
             "  [0] Root\\MDMDVXEM56\\0000 on COM3 | bound",
             "  [1] Root\\MDMDVX56K\\0000 on COM4 | bound",
             "Selected modem: 0",
         }},
        // The cards as the PCMCIA driver's sockets hold them.
        {"nt351", true,
         {"nt351.reg"},
         {
             "Present adapters: 2 (device keys 2)",
             "Modems: 2",
             "  [0] PCMCIA\\DORVEX-ETHERMODEM_56-3F1A on COM3 | bound",
             "  [1] PCMCIA\\DORVEX-MODEM_56K-77C2 on COM4 | bound",
             "Selected modem: 0",
         }},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.version);
        MakeFolder("run");
        if (road.host) UseStandinHost();
        winetest::RegFixture reg("");
        for (const char* file : road.files) {
            ASSERT_NO_THROW(reg.LoadFile(MachineFile(file))) << file;
        }
        if (std::string(road.version) == "win2k") {
            ASSERT_NO_FATAL_FAILURE(RegisterWatchsvc());
        }
        EXPECT_EQ(Run(road.version), 0u);
        std::string log = Log();
        for (const std::string& line : road.expected) {
            EXPECT_TRUE(HasLine(log, line)) << line << "\n" << log;
        }
    }
}
