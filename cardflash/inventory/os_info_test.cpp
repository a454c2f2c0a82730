#include "cardflash/inventory/os_info.h"

#include <gtest/gtest.h>

#include "cardflash/inventory/test_util.h"
#include "winetest/registry.h"
#include "winetest/version.h"

namespace {

struct Expected {
    const char* version;
    int index;
    const char* name;
    DWORD platform;
};

const Expected kVersions[] = {
    {"win95", 0, "Windows 95", 1},       {"winme", 1, "Windows 95 OSR2", 1}, {"win98", 2, "Windows 98", 1},
    {"nt351", 4, "Windows NT 3.51", 2},  {"nt40", 5, "Windows NT 4.0", 2},   {"win2k", 8, "Windows 2000", 2},
};

const Expected& ThisVersion() {
    for (const Expected& e : kVersions)
        if (winetest::RequestedVersion() == e.version) return e;
    static const Expected none{"", -100, "", 0};
    return none;
}

bool IsNT() { return ThisVersion().platform == 2; }

TEST(COSInfoTest, VersionIndexAndNameOfTheRunningWindows) {
    COSInfo os(FALSE);
    const Expected& e = ThisVersion();
    ASSERT_NE(e.index, -100) << "no expectation for " << winetest::RequestedVersion();
    EXPECT_EQ(os.m_PlatformId, e.platform);
    EXPECT_EQ(os.m_OSIndex, e.index);
    EXPECT_EQ(os.m_OSName, e.name);
    EXPECT_EQ(os.m_Win9xIndex, e.platform == 1 ? e.index : -1);
    if (winetest::RequestedVersion() == "win95") {
        EXPECT_EQ(os.m_BuildNumber, 950u);
    }
    if (winetest::RequestedVersion() == "win98") {
        EXPECT_EQ(os.m_CSDVersion, " A ");
    }
}

TEST(COSInfoTest, FoldersFollowThePlatform) {
    COSInfo os(FALSE);
    char sys[MAX_PATH], win[MAX_PATH], cur[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    GetWindowsDirectoryA(win, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, cur);
    EXPECT_EQ(os.m_SystemDir, sys);
    EXPECT_EQ(os.m_WindowsDir, win);
    EXPECT_EQ(os.m_CurrentDir, cur);
    EXPECT_EQ(os.m_InfDir, std::string(win) + "\\INF");
    EXPECT_EQ(os.m_InfOtherDir, std::string(win) + "\\INF\\OTHER");
    EXPECT_EQ(os.m_DriverDir, IsNT() ? std::string(sys) + "\\DRIVERS" : std::string(sys));
}

TEST(COSInfoTest, DriverVersionsPresentAndMissing) {
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    std::string dir = sys;
    std::string a = invtest::Fixture("verfix_a.dll"), b = invtest::Fixture("verfix_b.dll");
    std::string plain = invtest::Fixture("verfix_plain.dll");
    // 9x: pccard and cbss with versions, pci without a version resource, ndis.vxd missing.
    invtest::PlacedFile pccard(a, dir + "\\pccard.vxd"), cbss(b, dir + "\\cbss.vxd"), pci(plain, dir + "\\pci.vxd");
    // NT: PCMCIA.SYS with a version.
    CreateDirectoryA((dir + "\\DRIVERS").c_str(), nullptr);
    invtest::PlacedFile pcmcia(a, dir + "\\DRIVERS\\PCMCIA.SYS");
    ASSERT_TRUE(pccard.placed() && cbss.placed() && pci.placed() && pcmcia.placed());

    COSInfo without(FALSE);
    for (const CString* v : {&without.m_NdisVersion, &without.m_CbssVersion, &without.m_PccardVersion,
                             &without.m_PciVersion, &without.m_PcmciaVersion})
        EXPECT_EQ(*v, "");

    COSInfo os(TRUE);
    if (IsNT()) {
        EXPECT_EQ(os.m_PcmciaVersion, "1.2.3.4");
        EXPECT_EQ(os.m_PccardVersion, "");
        EXPECT_EQ(os.m_CbssVersion, "");
        EXPECT_EQ(os.m_PciVersion, "");
    } else {
        EXPECT_EQ(os.m_PccardVersion, "1.2.3.4");
        EXPECT_EQ(os.m_CbssVersion, "4.10.2222");
        EXPECT_EQ(os.m_PciVersion, "");
        EXPECT_EQ(os.m_NdisVersion, "");
        EXPECT_EQ(os.m_PcmciaVersion, "");
    }
}

TEST(COSInfoTest, ComputerNameFromTheRegistry) {
    const char* key = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\ComputerName\\ComputerName]\n";
    {
        winetest::RegFixture reg(std::string(key) + "\"ComputerName\"=\"DORVEX-BENCH\"\n");
        EXPECT_EQ(COSInfo(FALSE).m_ComputerName, "DORVEX-BENCH");
    }
    {
        winetest::RegFixture reg(std::string(key) + "\"ComputerName\"=-\n");
        EXPECT_EQ(COSInfo(FALSE).m_ComputerName, "");
    }
}

}  // namespace
