#include "cardflash/inventory/module_version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cardflash/inventory/test_util.h"

namespace {

TEST(CModuleVersionTest, ReadsTheResourceAndReplacesItOnTheNextFile) {
    CModuleVersion v;
    ASSERT_TRUE(v.GetFileVersionInfo(invtest::Fixture("verfix_a.dll")));
    EXPECT_EQ(v.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(v.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(v.dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(v.language(), 0x409);
    EXPECT_EQ(v.code_page(), 1252);
    EXPECT_EQ(v.GetValue("FileVersion"), "1.2.3.4");
    EXPECT_EQ(v.GetValue("CompanyName"), "Dorvex");
    EXPECT_EQ(v.GetValue("ProductName"), "");

    ASSERT_TRUE(v.GetFileVersionInfo(invtest::Fixture("verfix_b.dll")));
    EXPECT_EQ(v.language(), 0x407);
    EXPECT_EQ(v.code_page(), 1200);
    EXPECT_EQ(v.GetValue("FileVersion"), "4.10.2222");
    EXPECT_EQ(v.GetValue("CompanyName"), "");
    EXPECT_EQ(v.dwFileVersionMS, 0x0004000Au);
}

// A version resource whose fixed part lacks its signature is no version information, though the
// system hands it over.
TEST(CModuleVersionTest, AFixedPartWithoutItsSignatureIsRefused) {
    invtest::TempFile copy{"verfix_bad.dll"};
    std::string bytes;
    {
        std::FILE* f = std::fopen(invtest::Fixture("verfix_a.dll").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        std::fclose(f);
    }
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    const size_t at = bytes.find(signature);
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 0x00;
    copy.Write(bytes);

    CModuleVersion v;
    ASSERT_TRUE(v.GetFileVersionInfo(invtest::Fixture("verfix_a.dll")));
    EXPECT_FALSE(v.GetFileVersionInfo(copy.path().c_str()));
    EXPECT_EQ(v.GetValue("FileVersion"), "");
}

TEST(CModuleVersionTest, NoResourceMissingFileAndOverlongNameFail) {
    CModuleVersion v;
    ASSERT_TRUE(v.GetFileVersionInfo(invtest::Fixture("verfix_a.dll")));
    EXPECT_FALSE(v.GetFileVersionInfo(invtest::Fixture("verfix_plain.dll")));
    EXPECT_EQ(v.dwSignature, 0u);
    EXPECT_EQ(v.code_page(), 1252);
    EXPECT_EQ(v.GetValue("FileVersion"), "");
    EXPECT_FALSE(v.GetFileVersionInfo(invtest::Fixture("no-such-file.dll")));
    EXPECT_FALSE(v.GetFileVersionInfo(CString('x', 300)));
}

TEST(GetDllVersionTest, ExportPresentMissingAndNoLibrary) {
    DllVersionRecord r;
    std::memset(&r, 0xCC, sizeof(r));
    ASSERT_TRUE(GetDllVersion(invtest::Fixture("verfix_a.dll"), &r));
    EXPECT_EQ(r.cbSize, 20u);
    EXPECT_EQ(r.dwMajorVersion, 4u);
    EXPECT_EQ(r.dwMinorVersion, 72u);
    EXPECT_EQ(r.dwBuildNumber, 3110u);
    EXPECT_FALSE(GetDllVersion(invtest::Fixture("verfix_plain.dll"), &r));
    EXPECT_FALSE(GetDllVersion(invtest::Fixture("no-such-library.dll"), &r));
}

}  // namespace
