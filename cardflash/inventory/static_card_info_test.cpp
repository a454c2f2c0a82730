#include "cardflash/inventory/static_card_info.h"

#include <gtest/gtest.h>

#include "cardflash/inventory/test_util.h"

namespace {

const char kDatabase[] =
    "[Version]\r\n"
    "Version=1.05\r\n"
    "[Manufacturers]\r\n"
    "0=Dorvex\r\n"
    "1=Acme Corp\r\n"
    "PCIVENDORIDS=VEN_1B2C&DEV_0001 VEN_1B2C&DEV_0002\r\n"
    "[Alpha]\r\n"
    "GEN_PNPID_1=PCMCIA\\ACME\r\n"
    "[10]\r\n"
    "GEN_PNPID_1=   \r\n"
    "GEN_PNPID_2=PCMCIA\\ACME-MODEM\r\n"
    "GEN_MFG=Acme Corp\r\n"
    "GEN_LONGNAME=  Acme Modem 56  \r\n"
    "MODEM_COUNTRYSELECT= 1 \r\n"
    "[20]\r\n"
    "GEN_PNPID_1=PCMCIA\\acme-modem\r\n"
    "GEN_NT4ID_1=Root\\Modem\\\r\n"
    "GEN_MFG=acme corp\r\n"
    "[30]\r\n"
    "GEN_PNPID_1=PCMCIA\\ACME\r\n"
    "GEN_MFG=Dorvex\r\n";

class DeviceDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        file_.Write(kDatabase);
        CStaticCardInfo::SetIniFile(file_.path().c_str());
    }
    void TearDown() override { CStaticCardInfo::SetIniFile(""); }
    invtest::TempFile file_{"QorvDevices.ini"};
};

TEST_F(DeviceDatabase, SearchByKeyFamilyAndManufacturer) {
    const CString id = "PCMCIA\\ACME-MODEM-1234";
    struct {
        const char* family;
        const char* id;
        const char* manufacturer;
        int result;
        const char* section;
    } cases[] = {
        // Letter sections are never chosen; a blank first key of a family is passed over.
        {"GEN_PNPID_", "PCMCIA\\ACME-MODEM-1234", "", 0, "10"},
        // With a manufacturer: 10 names another one, 20 differs by case in the id, 30 fits.
        {"GEN_PNPID_", "PCMCIA\\ACME-MODEM-1234", "Dorvex", 0, "30"},
        {"GEN_PNPID_", "PCMCIA\\ACME-MODEM-1234", "acme corp", 7, "30"},
        {"GEN_PNPID_", "PCMCIA\\acme-modem-9", "", 0, "20"},
        {"GEN_NT4ID_", "Root\\Modem\\0001", "", 0, "20"},
        {"GEN_PNPID_", "PCI\\VEN_1B2C", "", 7, "30"},
        {"NO_SUCH_", "PCMCIA\\ACME-MODEM-1234", "", 7, "30"},
    };
    for (const auto& c : cases) {
        CStaticCardInfo info(id);
        EXPECT_EQ(info.SearchSections(c.family, c.id, c.manufacturer), c.result) << c.family << " " << c.id;
        EXPECT_EQ(info.section(), c.section) << c.family << " " << c.id;
    }
    CStaticCardInfo own("Root\\Modem\\0001");
    EXPECT_EQ(own.FindSection("GEN_NT4ID_"), 0);
    EXPECT_EQ(own.section(), "20");
    EXPECT_EQ(own.FindSectionFor("GEN_PNPID_", id), 0);
    EXPECT_EQ(own.section(), "10");
}

TEST_F(DeviceDatabase, ValuesAreTrimmedAndMissingOnesGiveSeven) {
    CStaticCardInfo info("PCMCIA\\ACME-MODEM-1234");
    CString value = "unchanged";
    EXPECT_EQ(info.GetValue("GEN_LONGNAME", &value), 7);  // no section chosen yet
    EXPECT_EQ(value, "unchanged");
    ASSERT_EQ(info.FindSection("GEN_PNPID_"), 0);
    EXPECT_EQ(info.GetValue("GEN_LONGNAME", &value), 0);
    EXPECT_EQ(value, "Acme Modem 56");
    EXPECT_EQ(info.GetValue("MODEM_COUNTRYSELECT", &value), 0);
    EXPECT_EQ(value, "1");
    EXPECT_EQ(info.GetValue("GEN_PNPID_", &value), 0);
    EXPECT_EQ(value, "PCMCIA\\ACME-MODEM");
    value = "unchanged";
    EXPECT_EQ(info.GetValue("MODEM_FLASHPROG", &value), 7);
    EXPECT_EQ(value, "unchanged");
}

TEST_F(DeviceDatabase, ManufacturersAndVendorIds) {
    EXPECT_EQ(CStaticCardInfo::GetManufacturer(0), "Dorvex");
    EXPECT_EQ(CStaticCardInfo::GetManufacturer(1), "Acme Corp");
    EXPECT_EQ(CStaticCardInfo::GetManufacturer(2), "");
    EXPECT_EQ(CStaticCardInfo::GetManufacturer(-1), "");
    EXPECT_EQ(CStaticCardInfo::GetPciVendorIds(), "VEN_1B2C&DEV_0001 VEN_1B2C&DEV_0002");
}

TEST_F(DeviceDatabase, NoDatabasePathFindsNothing) {
    CStaticCardInfo::SetIniFile("");
    CStaticCardInfo info("PCMCIA\\ACME-MODEM-1234");
    EXPECT_EQ(info.FindSection("GEN_PNPID_"), 7);
    EXPECT_EQ(info.section(), "");
    EXPECT_EQ(CStaticCardInfo::GetManufacturer(0), "");
    EXPECT_EQ(CStaticCardInfo::GetPciVendorIds(), "");
}

}  // namespace
