// The harness runs a test program as the Windows version it was registered under.
#include <gtest/gtest.h>

#include "winetest/version.h"

TEST(WindowsVersion, GetVersionExReportsTheRequestedVersion) {
    std::string requested = winetest::RequestedVersion();
    ASSERT_FALSE(requested.empty()) << "WINETEST gives no version";
    const winetest::WindowsVersion* want = winetest::FindWindowsVersion(requested);
    ASSERT_NE(want, nullptr) << requested;

    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwPlatformId, want->platform);
    EXPECT_EQ(v.dwMajorVersion, want->major);
    EXPECT_EQ(v.dwMinorVersion, want->minor);
    // Windows 9x keeps its build number in the low word only.
    DWORD build = want->platform == VER_PLATFORM_WIN32_WINDOWS ? LOWORD(v.dwBuildNumber) : v.dwBuildNumber;
    EXPECT_EQ(build, want->build);
}

TEST(WindowsVersion, GetVersionAgreesWithGetVersionEx) {
    const winetest::WindowsVersion* want = winetest::FindWindowsVersion(winetest::RequestedVersion());
    ASSERT_NE(want, nullptr);
    DWORD v = GetVersion();
    EXPECT_EQ(LOBYTE(LOWORD(v)), want->major);
    EXPECT_EQ(HIBYTE(LOWORD(v)), want->minor);
    // The high bit says "not NT" on Windows 9x.
    EXPECT_EQ((v & 0x80000000u) != 0, want->platform != VER_PLATFORM_WIN32_NT);
}
