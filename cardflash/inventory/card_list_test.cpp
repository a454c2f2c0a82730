// The adapter lists: the device keys that each Windows road walks, and the refresh that keeps the
// maker's adapters and pairs the two functions of one card. CardListTest builds its records with
// small test readers that take what they report from the key text, so those cases check the lists
// alone; MachineCardListTest lists the fixture machine through the real readers.
#include "cardflash/inventory/card_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cardflash/inventory/cis_test_data.h"
#include "cardflash/inventory/static_card_info.h"
#include "cardflash/inventory/test_util.h"
#include "cardflash/testdata/machine/machine_cis.h"
#include "standins/drivers.h"
#include "watchsvc/client/RegistryClient.h"
#include "watchsvc/tests/testserver.h"
#include "winetest/process.h"
#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

using watchtest::FailingRegistry;

const char kDatabase[] =
    "[Version]\r\n"
    "Version=1.00\r\n"
    "[Manufacturers]\r\n"
    "0=Dorvex\r\n"
    "1=Qorvane\r\n"
    "PCIVENDORIDS=VEN_1B2C&DEV_0002 VEN_1B2C&DEV_0003 VEN_1B2C&DEV_0004 VEN_1B2C&DEV_0005\r\n"
    "[1]\r\n"
    "GEN_PNPID_1=PCMCIA\\DORVEX-EM56\r\n"
    "GEN_NT4ID_1=Root\\LEGACY_DVXEM56\r\n"
    "MODEM_NT4ID_1=Root\\MDMDVXEM56\r\n"
    "GEN_MFG=Dorvex\r\n"
    "GEN_LONGNAME=Dorvex EtherModem 56\r\n"
    "MODEM_SB2_1=EM56\r\n"
    "[2]\r\n"
    "GEN_PNPID_1=PCMCIA\\DORVEX-M56K\r\n"
    "MODEM_NT4ID_1=Root\\MDMDVX56K\r\n"
    "GEN_MFG=Dorvex\r\n"
    "GEN_LONGNAME=Dorvex 56K Modem\r\n"
    // The two PCI functions of one card, a PCI device without a pairing key (and without a long
    // name), and another maker's function with the same pairing key.
    "[3]\r\n"
    "GEN_PNPID_1=PCI\\VEN_1B2C&DEV_0002\r\n"
    "GEN_MFG=Dorvex\r\n"
    "GEN_LONGNAME=Dorvex PCI LAN\r\n"
    "MODEM_SB2_1=PCI56\r\n"
    "[4]\r\n"
    "GEN_PNPID_1=PCI\\VEN_1B2C&DEV_0003\r\n"
    "GEN_MFG=Dorvex\r\n"
    "[5]\r\n"
    "GEN_PNPID_1=PCI\\VEN_1B2C&DEV_0004\r\n"
    "GEN_MFG=Dorvex\r\n"
    "GEN_LONGNAME=Dorvex PCI 56K Modem\r\n"
    "MODEM_SB2_1=PCI56\r\n"
    "[6]\r\n"
    "GEN_PNPID_1=PCI\\VEN_1B2C&DEV_0005\r\n"
    "GEN_MFG=Qorvane\r\n"
    "GEN_LONGNAME=Qorvane PCI Modem\r\n"
    "MODEM_SB2_1=PCI56\r\n";

std::string Version() { return winetest::RequestedVersion(); }
bool Is9x() { return Version() == "win95" || Version() == "win98"; }
bool IsWin2k() { return Version() == "win2k"; }

// The Enum branch as the running road reads it.
std::string EnumRoot() { return Is9x() ? "HKLM\\Enum\\" : "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\"; }

// Fixture text of empty keys below the Enum branch.
std::string Keys(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& p : paths) text += "[" + EnumRoot() + p + "]\n";
    return text;
}

std::string Joined(const CStringArray& keys) {
    std::string out;
    for (int i = 0; i < keys.GetSize(); ++i) out += (i ? "; " : "") + keys.GetAt(i).str();
    return out;
}

// The entries as "key" or "key + partner key", in table order. A record after the first empty
// slot or a partner without an entry shows as a stray.
std::string Summary(const CActiveCardList& list) {
    std::string out;
    bool ended = false;
    for (int i = 0; i < CActiveCardList::kMaxCards; ++i) {
        const CCardInfo* card = list.m_Cards[i];
        const CCardInfo* partner = list.m_Partners[i];
        if (!card) ended = true;
        if (ended) {
            if (card || partner) out += " !stray in slot " + std::to_string(i);
            continue;
        }
        out += (i ? "; " : "") + card->m_PnPID.str();
        if (partner) out += " + " + partner->m_PnPID.str();
    }
    return out;
}

// --- Test readers: what a record reports comes from its key. An instance named GONE... is not
// inserted; the hardware id is the key without its instance, except that an instance AS<n> reads
// the hardware id of PCI device 000<n> (a key and an id that differ); the description names the key.

bool Inserted(const CCardInfo& card) {
    return card.m_PnPID.Mid(card.m_PnPID.ReverseFind('\\') + 1).Find("GONE") != 0;
}

void ReadByKey(CCardInfo& card) {
    card.m_CardInserted = Inserted(card);
    card.m_HardwareID = card.m_PnPID.Left(card.m_PnPID.ReverseFind('\\'));
    const CString instance = card.m_PnPID.Mid(card.m_PnPID.ReverseFind('\\') + 1);
    if (instance.Find("AS") == 0) card.m_HardwareID = "PCI\\VEN_1B2C&DEV_000" + instance.Mid(2);
    card.m_DeviceDesc = "Read " + card.m_PnPID;
    card.m_Flags = card.m_PnPID.Find("DEV_0002") >= 0 || card.m_PnPID.Find("LEGACY") >= 0 ? CCardInfo::kFlagNet
                                                                                          : CCardInfo::kFlagModem;
}

void Read9x(CCardInfo& card, BOOL) { ReadByKey(card); }
void ReadWin2000(CCardInfo& card) { ReadByKey(card); }
void ReadNt351(CCardInfo& card) { ReadByKey(card); }

// As on NT 4.0: the database knows a device by its key, a generic modem by what it reports.
void ReadNt40(CCardInfo& card) {
    ReadByKey(card);
    CStaticCardInfo db(card.m_PnPID);
    if (card.m_PnPID.Find("MDMGEN") >= 0) {
        card.m_ModemBoardCode = "EM56";
        card.m_ModemManufacturer = "Dorvex";
        card.m_StaticInfo = db.SearchSections("MODEM_SB2_", card.m_ModemBoardCode, card.m_ModemManufacturer) ==
                            CStaticCardInfo::kFound;
    } else {
        card.m_StaticInfo = db.FindSection("GEN_NT4ID_") == CStaticCardInfo::kFound ||
                            db.FindSection("MODEM_NT4ID_") == CStaticCardInfo::kFound;
    }
}

// What every case sets and gives back: COM, the device database, the readers, and on Windows 2000
// watchsvc registered as the local server the lists read through.
class ListCase : public ::testing::Test {
protected:
    void Begin(const std::string& database, const CCardInfoReaders& readers) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CStaticCardInfo::SetIniFile(database.c_str());
        previous_ = CCardInfo::SetReaders(readers);
        if (IsWin2k()) {
            watchsvc_.emplace(watchtest::ServerExe("..\\..\\watchsvc\\watchsvc.exe"));
            ASSERT_TRUE(watchsvc_->registered()) << "watchsvc /RegServer";
        }
    }
    void TearDown() override {
        CCardInfo::SetReaders(previous_);
        CStaticCardInfo::SetIniFile("");
        watchsvc_.reset();
        CoUninitialize();
    }

    CCardInfoReaders previous_;
    std::optional<watchtest::ServerRegistration> watchsvc_;
};

class CardListTest : public ListCase {
protected:
    void SetUp() override {
        db_.Write(kDatabase);
        Begin(db_.path(), {ReadNt351, ReadNt40, ReadWin2000, Read9x});
    }

    invtest::TempFile db_{"QorvDevices.ini"};
};

// --- CCardList::Build

// Windows 9x and 2000: PCCARD is passed over but counts among the 20 devices looked at; every
// instance of a device is taken; PCI devices only when the vendor-id list holds their stem.
TEST_F(CardListTest, BusWalksTakeTheFirstTwentyDevicesAndTheMakersPciStems) {
    if (!Is9x() && !IsWin2k()) GTEST_SKIP() << "Windows 9x and 2000";
    std::vector<std::string> paths = {"PCMCIA\\PCCARD\\0"};
    std::string expected;
    char name[64];
    for (int instance = 0; instance < 25; ++instance) {
        std::snprintf(name, sizeof name, "PCMCIA\\XCARD00\\%02d", instance);
        paths.push_back(name);
        expected += std::string(expected.empty() ? "" : "; ") + name;
    }
    // Index 0 is PCCARD, 1 XCARD00: XCARD01 to XCARD18 fill the twenty, XCARD19 to 21 are past them.
    for (int device = 1; device <= 21; ++device) {
        std::snprintf(name, sizeof name, "PCMCIA\\XCARD%02d\\1", device);
        paths.push_back(name);
        if (device <= 18) expected += std::string("; ") + name;
    }
    paths.push_back("PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C\\3&61AAA01&0&40");
    paths.push_back("PCI\\VEN_1B2C&DEV_0004\\1");          // exactly the stem
    paths.push_back("PCI\\VEN_1B2C&DEV_0009&SUBSYS_0\\1");  // the maker's vendor, not a listed device
    paths.push_back("PCI\\VEN_8086&DEV_1229\\1");
    expected += "; PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C\\3&61AAA01&0&40; PCI\\VEN_1B2C&DEV_0004\\1";
    winetest::RegFixture reg(Keys(paths));

    CCardList list;
    EXPECT_TRUE(list.Build());
    EXPECT_EQ(Joined(list.m_Keys), expected);
    EXPECT_EQ(list.m_ReadError, S_OK);

    // Without a database no PCI device is the maker's; the PC Card walk does not need it.
    CStaticCardInfo::SetIniFile("");
    EXPECT_TRUE(list.Build());
    EXPECT_EQ(list.m_Keys.GetSize(), 25 + 18);
}

// NT 4.0: a Root device instance is taken when its description holds one of the maker's names
// (exactly, case and all).
TEST_F(CardListTest, Nt40TakesRootDevicesThatNameTheMaker) {
    if (Version() != "nt40") GTEST_SKIP() << "NT 4.0";
    winetest::RegFixture reg(
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_DVXEM56\\0000]\n"
        "\"DeviceDesc\"=\"Dorvex EtherModem 56 Ethernet\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_DVXEM56\\0001]\n"
        "\"DeviceDesc\"=\"Acme Ethernet\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_QLAN\\0000]\n"
        "\"DeviceDesc\"=\"Fast LAN by Qorvane\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMLOWER\\0000]\n"
        "\"DeviceDesc\"=\"dorvex modem\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMNODESC\\0000]\n"
        "\"Class\"=\"Modem\"\n"
        "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\MDMNUMBER\\0000]\n"
        "\"DeviceDesc\"=dword:00000001\n");
    CCardList list;
    EXPECT_TRUE(list.Build());
    EXPECT_EQ(Joined(list.m_Keys), "Root\\LEGACY_DVXEM56\\0000; Root\\LEGACY_QLAN\\0000");
}

// NT 3.51: the cards in sockets 0 to 7 of the PCMCIA driver, named by their CIS.
TEST_F(CardListTest, Nt351NamesTheCardsInTheDriversSockets) {
    if (Version() != "nt351") GTEST_SKIP() << "NT 3.51";
    using namespace cistest;
    auto cisOf = [](const char* maker, const char* product) {
        return Cat({Tuple(0x15, Cat({{0x04, 0x01}, Text(maker), Text(product), {0xFF}})), {0xFF}});
    };
    auto idOf = [](const char* maker, const char* product, const char* name) {
        char crc[8];
        std::snprintf(crc, sizeof crc, "%X", BitwiseCrc(Cat({{0x04, 0x01}, Text(maker), Text(product)})));
        return std::string("PCMCIA\\") + name + "-" + crc;
    };
    standins::StandinDrivers drivers;
    standins::NtPcmciaDriver pcmcia;
    drivers.Add("\\\\.\\pcmcia0", &pcmcia);
    pcmcia.SetCard(2, cisOf("Dorvex", "Modem 56K"));
    pcmcia.SetCard(0, cisOf("Dorvex", "EtherModem 56"));
    pcmcia.SetCard(8, cisOf("Dorvex", "Socket Eight"));

    CCardList list;
    EXPECT_TRUE(list.Build());
    EXPECT_EQ(Joined(list.m_Keys), idOf("Dorvex", "EtherModem 56", "DORVEX-ETHERMODEM_56") + "; " +
                                       idOf("Dorvex", "Modem 56K", "DORVEX-MODEM_56K"));
}

const HRESULT kGone = RPC_E_DISCONNECTED;  // how a call fails once the service went away

// Windows 2000: a registry service that fails in the middle of a walk ends that walk with what it
// found, its keys closed; nothing escapes to the caller.
TEST_F(CardListTest, Win2000ServiceFailureEndsTheWalkWithWhatItFound) {
    if (!IsWin2k()) GTEST_SKIP() << "Windows 2000";
    winetest::RegFixture reg(Keys({"PCMCIA\\DORVEX-EM56-1111\\1", "PCMCIA\\DORVEX-EM56-1111\\2",
                                   "PCMCIA\\DORVEX-M56K-2222\\1", "PCI\\VEN_1B2C&DEV_0002\\1",
                                   "PCI\\VEN_1B2C&DEV_0004\\1"}));
    const std::string all =
        "PCMCIA\\DORVEX-EM56-1111\\1; PCMCIA\\DORVEX-EM56-1111\\2; PCMCIA\\DORVEX-M56K-2222\\1; "
        "PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0004\\1";
    watchsvc::CRegistryPtr service = watchsvc::CreateRegistry();
    ASSERT_TRUE(service);

    FailingRegistry clean(service.get(), 0, kGone);
    CCardList list;
    EXPECT_TRUE(list.BuildWin2000(&clean));
    EXPECT_EQ(Joined(list.m_Keys), all);
    EXPECT_TRUE(clean.open().empty());
    const int calls = clean.calls();

    // The service gone at any call: the keys found before it stay, in order, and every key that
    // was opened had its close asked for.
    for (int failAt = 1; failAt <= calls; ++failAt) {
        SCOPED_TRACE("service gone at call " + std::to_string(failAt));
        FailingRegistry failing(service.get(), failAt, kGone, FailingRegistry::kFromThatCallOn);
        CCardList cut;
        BOOL built = TRUE;
        EXPECT_NO_THROW(built = cut.BuildWin2000(&failing));
        const std::string found = Joined(cut.m_Keys);
        EXPECT_EQ(all.compare(0, found.size(), found), 0) << found;
        EXPECT_TRUE(failing.open().empty());
        // A failing close loses nothing and is not reported; any other failure is.
        EXPECT_TRUE(cut.m_ReadError == S_OK || cut.m_ReadError == kGone);
        EXPECT_EQ(built, cut.m_ReadError == S_OK);
    }

    // One failing call in the PC Card walk (its second instance listing): the PCI walk still runs.
    FailingRegistry once(service.get(), 5, kGone);
    CCardList partial;
    EXPECT_FALSE(partial.BuildWin2000(&once));
    EXPECT_EQ(partial.m_ReadError, kGone);
    EXPECT_EQ(Joined(partial.m_Keys),
              "PCMCIA\\DORVEX-EM56-1111\\1; PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0004\\1");
    EXPECT_TRUE(once.open().empty());
}

// Windows 2000 without the registry service: no adapter keys, and the reason.
TEST_F(CardListTest, Win2000WithoutTheServiceFindsNothing) {
    if (!IsWin2k()) GTEST_SKIP() << "Windows 2000";
    watchsvc_.reset();
    winetest::RegFixture reg(Keys({"PCMCIA\\DORVEX-EM56-1111\\1"}));
    CCardList list;
    BOOL built = TRUE;
    EXPECT_NO_THROW(built = list.Build());
    EXPECT_FALSE(built);
    EXPECT_EQ(list.m_ReadError, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(list.m_Keys.GetSize(), 0);

    CActiveCardList cards;
    EXPECT_TRUE(cards.Refresh(FALSE));
    EXPECT_EQ(cards.m_Cards[0], nullptr);
}

// --- CActiveCardList::Refresh

struct RefreshCase {
    const char* what;
    std::vector<std::string> keys;
    BOOL insertedOnly;
    const char* expected;
};

// Windows 9x and 2000: the maker's adapters, present or installed, with the PCI functions of one
// card paired.
TEST_F(CardListTest, RefreshKeepsTheMakersAdaptersAndPairsPciFunctions) {
    if (!Is9x() && !IsWin2k()) GTEST_SKIP() << "Windows 9x and 2000";
    const RefreshCase cases[] = {
        {"present only; another maker's card never",
         {"PCMCIA\\DORVEX-EM56-1111\\1", "PCMCIA\\DORVEX-EM56-1111\\GONE", "PCMCIA\\ACME-NIC-2222\\1"},
         TRUE,
         "PCMCIA\\DORVEX-EM56-1111\\1"},
        {"installed too; PC Cards with a pairing key stay apart",
         {"PCMCIA\\DORVEX-EM56-1111\\1", "PCMCIA\\DORVEX-EM56-1111\\GONE", "PCMCIA\\ACME-NIC-2222\\1"},
         FALSE,
         "PCMCIA\\DORVEX-EM56-1111\\1; PCMCIA\\DORVEX-EM56-1111\\GONE"},
        {"network and modem function of one card",
         {"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0004\\1"},
         TRUE,
         "PCI\\VEN_1B2C&DEV_0002\\1 + PCI\\VEN_1B2C&DEV_0004\\1"},
        {"a removed second function is no partner of a present card",
         {"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0004\\GONE"},
         TRUE,
         "PCI\\VEN_1B2C&DEV_0002\\1"},
        {"the later function has no pairing key",
         {"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0003\\1"},
         FALSE,
         "PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0003\\1"},
        {"the listed function has no pairing key",
         {"PCI\\VEN_1B2C&DEV_0003\\1", "PCI\\VEN_1B2C&DEV_0004\\1"},
         FALSE,
         "PCI\\VEN_1B2C&DEV_0003\\1; PCI\\VEN_1B2C&DEV_0004\\1"},
        {"the same pairing key from another maker",
         {"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0005\\1"},
         FALSE,
         "PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0005\\1"},
        {"a taken partner slot is kept; the third function gets its own entry",
         {"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0004\\1", "PCI\\VEN_1B2C&DEV_0004\\2"},
         FALSE,
         "PCI\\VEN_1B2C&DEV_0002\\1 + PCI\\VEN_1B2C&DEV_0004\\1; PCI\\VEN_1B2C&DEV_0004\\2"},
    };
    for (const RefreshCase& c : cases) {
        SCOPED_TRACE(c.what);
        winetest::RegFixture reg(Keys(c.keys));
        CActiveCardList list;
        EXPECT_TRUE(list.Refresh(c.insertedOnly));
        EXPECT_EQ(Summary(list), c.expected);
        EXPECT_EQ(list.m_KeyCount, c.keys.size());
    }
}

// The second function's key names a device without a pairing key, its hardware id the modem
// function that pairs with the first: Windows 95 looks PCI functions up by hardware id, Windows 98
// and 2000 by key.
TEST_F(CardListTest, RefreshPairsByHardwareIdOnWindows95AndByKeyElsewhere) {
    winetest::RegFixture reg(Keys({"PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0003\\AS4"}));
    CActiveCardList list;
    EXPECT_TRUE(list.Refresh(TRUE));
    if (Version() == "win95") {
        EXPECT_EQ(Summary(list), "PCI\\VEN_1B2C&DEV_0002\\1 + PCI\\VEN_1B2C&DEV_0003\\AS4");
        ASSERT_NE(list.m_Partners[0], nullptr);
        EXPECT_EQ(list.m_Partners[0]->m_DeviceDesc, "Dorvex PCI 56K Modem");
    } else {
        EXPECT_EQ(Summary(list), "PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0003\\AS4");
        ASSERT_NE(list.m_Cards[1], nullptr);
        EXPECT_EQ(list.m_Cards[1]->m_DeviceDesc, "");
    }
}

// Windows 9x and 2000: a PCI function shows the database's long name (empty when there is none);
// a PC Card keeps what its record read. The record's own description comes back with
// UpdateDescription.
TEST_F(CardListTest, PciFunctionsShowTheDatabaseLongName) {
    if (!Is9x() && !IsWin2k()) GTEST_SKIP() << "Windows 9x and 2000";
    winetest::RegFixture reg(
        Keys({"PCMCIA\\DORVEX-EM56-1111\\1", "PCI\\VEN_1B2C&DEV_0002\\1", "PCI\\VEN_1B2C&DEV_0003\\1"}));
    CActiveCardList list;
    list.Refresh(TRUE);
    ASSERT_EQ(Summary(list), "PCMCIA\\DORVEX-EM56-1111\\1; PCI\\VEN_1B2C&DEV_0002\\1; PCI\\VEN_1B2C&DEV_0003\\1");
    EXPECT_EQ(list.m_Cards[0]->m_DeviceDesc, "Read PCMCIA\\DORVEX-EM56-1111\\1");
    EXPECT_EQ(list.m_Cards[1]->m_DeviceDesc, "Dorvex PCI LAN");
    EXPECT_EQ(list.m_Cards[2]->m_DeviceDesc, "");
    for (int i = 0; i < 3; ++i) {
        list.m_Cards[i]->UpdateDescription(FALSE);
        EXPECT_EQ(list.m_Cards[i]->m_DeviceDesc, "Read " + list.m_Cards[i]->m_PnPID);
    }
}

// NT 4.0: the two Root devices of one card (by key, or a generic modem by what it reports) give
// one entry, which takes the second function's description.
TEST_F(CardListTest, Nt40PairsTheFunctionsOfOneCard) {
    if (Version() != "nt40") GTEST_SKIP() << "NT 4.0";
    struct {
        const char* what;
        std::vector<std::string> devices;
        BOOL insertedOnly;
        const char* expected;
        const char* firstDesc;
    } cases[] = {
        {"network and modem device, and a modem-only card",
         {"LEGACY_DVXEM56\\0000", "MDMDVXEM56\\0000", "MDMDVX56K\\0000"},
         TRUE,
         "Root\\LEGACY_DVXEM56\\0000 + Root\\MDMDVXEM56\\0000; Root\\MDMDVX56K\\0000",
         "Read Root\\MDMDVXEM56\\0000"},
        {"a generic modem paired by its board code",
         {"LEGACY_DVXEM56\\0000", "MDMGEN\\0000"},
         TRUE,
         "Root\\LEGACY_DVXEM56\\0000 + Root\\MDMGEN\\0000",
         "Read Root\\MDMGEN\\0000"},
        {"a removed modem function",
         {"LEGACY_DVXEM56\\0000", "MDMDVXEM56\\GONE"},
         TRUE,
         "Root\\LEGACY_DVXEM56\\0000",
         "Read Root\\LEGACY_DVXEM56\\0000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text;
        for (const std::string& d : c.devices)
            text += "[HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\" + d + "]\n\"DeviceDesc\"=\"Dorvex " +
                    d.substr(0, d.find('\\')) + "\"\n";
        winetest::RegFixture reg(text);
        CActiveCardList list;
        EXPECT_TRUE(list.Refresh(c.insertedOnly));
        ASSERT_EQ(Summary(list), c.expected);
        EXPECT_EQ(list.m_Cards[0]->m_DeviceDesc, c.firstDesc);
        list.m_Cards[0]->UpdateDescription(FALSE);
        EXPECT_EQ(list.m_Cards[0]->m_DeviceDesc, "Read " + list.m_Cards[0]->m_PnPID);
    }
}

// A full table takes no more entries: the 256 first stay as they were, later records are dropped,
// and a second function whose card is listed still becomes its partner.
TEST_F(CardListTest, AFullTableKeepsItsEntries) {
    if (Version() != "win98") GTEST_SKIP() << "once is enough";
    std::vector<std::string> keys = {"PCI\\VEN_1B2C&DEV_0002\\000"};
    char name[64];
    for (int i = 0; i < CActiveCardList::kMaxCards; ++i) {
        std::snprintf(name, sizeof name, "PCI\\VEN_1B2C&DEV_0003\\%03d", i);
        keys.push_back(name);
    }
    keys.push_back("PCI\\VEN_1B2C&DEV_0004\\000");
    keys.push_back("PCI\\VEN_1B2C&DEV_0004\\001");
    winetest::RegFixture reg(Keys(keys));

    CActiveCardList list;
    list.Refresh(FALSE);
    EXPECT_EQ(list.m_KeyCount, 259u);
    for (int i = 0; i < CActiveCardList::kMaxCards; ++i) {
        ASSERT_NE(list.m_Cards[i], nullptr) << i;
        EXPECT_EQ(list.m_Cards[i]->m_PnPID, keys[i]);
        if (i > 0) {
            EXPECT_EQ(list.m_Partners[i], nullptr) << i;
        }
    }
    ASSERT_NE(list.m_Partners[0], nullptr);
    EXPECT_EQ(list.m_Partners[0]->m_PnPID, "PCI\\VEN_1B2C&DEV_0004\\000");

    // A refresh replaces the whole contents.
    winetest::RegFixture fewer("[-" + EnumRoot() + "PCI\\VEN_1B2C&DEV_0003]\n");
    list.Refresh(FALSE);
    EXPECT_EQ(Summary(list), "PCI\\VEN_1B2C&DEV_0002\\000 + PCI\\VEN_1B2C&DEV_0004\\000; PCI\\VEN_1B2C&DEV_0004\\001");
}

// --- The fixture machine through the real readers

std::string Machine(const char* name) { return winetest::ProgramFolder() + "\\..\\testdata\\machine\\" + name; }

std::string Descriptions(const CActiveCardList& list) {
    std::string out;
    for (int i = 0; i < CActiveCardList::kMaxCards && list.m_Cards[i]; ++i)
        out += (i ? "; " : "") + list.m_Cards[i]->m_DeviceDesc.str();
    return out;
}

// A CIS as the driver hands it over: 1024 bytes, the rest erased flash.
standins::Bytes Padded(machine::Bytes cis) {
    cis.resize(1024, 0xFF);
    return cis;
}

class MachineCardListTest : public ListCase {
protected:
    void SetUp() override { Begin(Machine("QorvDevices.ini"), CCardInfo::BuiltInReaders()); }
};

// The machine's two PC Cards (card A, the combined one, and card B), the removed second card B
// only among the installed ones, and on Windows 9x the PCI card's two functions as one adapter.
TEST_F(MachineCardListTest, ListsTheMachinesAdapters) {
    struct Road {
        std::vector<const char*> versions;
        std::vector<const char*> files;
        DWORD keys;
        const char* present;
        const char* installed;
        const char* descriptions;  // of the present adapters
    };
    const Road roads[] = {
        {{"win95", "win98"},
         {"win9x.reg", "win9x_dyn.reg"},
         5,
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1; PCMCIA\\DORVEX-MODEM_56K-77C2\\1; "
         "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00021B2C&REV_01\\BUS_00&DEV_0B&FUNC_00 + "
         "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00031B2C&REV_01\\BUS_00&DEV_0B&FUNC_01",
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1; PCMCIA\\DORVEX-MODEM_56K-77C2\\1; "
         "PCMCIA\\DORVEX-MODEM_56K-77C2\\2; "
         "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00021B2C&REV_01\\BUS_00&DEV_0B&FUNC_00 + "
         "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00031B2C&REV_01\\BUS_00&DEV_0B&FUNC_01",
         "Dorvex EtherModem 56 ; Dorvex 56K PC Card Modem; Dorvex PCI LAN"},
        {{"win2k"},
         {"win2k.reg"},
         5,
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1; PCMCIA\\DORVEX-MODEM_56K-77C2\\1; "
         "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F0 + "
         "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F1",
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A\\1; PCMCIA\\DORVEX-MODEM_56K-77C2\\1; "
         "PCMCIA\\DORVEX-MODEM_56K-91D0\\1; "
         "PCI\\VEN_1B2C&DEV_0002&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F0 + "
         "PCI\\VEN_1B2C&DEV_0003&SUBSYS_00011B2C&REV_01\\4&2A4B1C3D&0&38F1",
         "Dorvex EtherModem 56 PC Card; Dorvex 56K PC Card Modem; Dorvex PCI LAN"},
        {{"nt40"},
         {"nt40.reg"},
         4,
         "Root\\LEGACY_DVXEM56\\0000 + Root\\MDMDVXEM56\\0000; Root\\MDMDVX56K\\0000",
         "Root\\LEGACY_DVXEM56\\0000 + Root\\MDMDVXEM56\\0000; Root\\MDMDVX56K\\0000; Root\\MDMDVX56K\\0001",
         "Dorvex EtherModem 56 PC Card; Dorvex 56K PC Card Modem"},
        {{"nt351"},
         {"nt351.reg"},
         2,
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A; PCMCIA\\DORVEX-MODEM_56K-77C2",
         "PCMCIA\\DORVEX-ETHERMODEM_56-3F1A; PCMCIA\\DORVEX-MODEM_56K-77C2",
         "Dorvex EtherModem 56 Adapter Driver; Dorvex Modem 56K"},
    };
    const Road* road = nullptr;
    for (const Road& r : roads)
        for (const char* v : r.versions)
            if (Version() == v) road = &r;
    if (!road) GTEST_SKIP() << "no fixture machine for " << Version();

    winetest::RegFixture reg;
    for (const char* f : road->files) reg.LoadFile(Machine(f));
    // NT 3.51 finds the cards in the PCMCIA driver's sockets.
    standins::StandinDrivers drivers;
    standins::NtPcmciaDriver pcmcia;
    drivers.Add("\\\\.\\pcmcia0", &pcmcia);
    pcmcia.SetCard(0, Padded(machine::CardACis()));
    pcmcia.SetCard(1, Padded(machine::CardBCis()));

    CActiveCardList present;
    EXPECT_TRUE(present.Refresh(TRUE));
    EXPECT_EQ(present.m_KeyCount, road->keys);
    EXPECT_EQ(Summary(present), road->present);
    EXPECT_EQ(Descriptions(present), road->descriptions);

    CActiveCardList installed;
    EXPECT_TRUE(installed.Refresh(FALSE));
    EXPECT_EQ(Summary(installed), road->installed);
}

}  // namespace
