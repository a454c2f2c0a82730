// main() of every GoogleTest program that runs under Wine. Before any case runs it checks that the
// program really runs as the Windows version the harness asked for, so a broken version set-up
// fails every case loudly instead of testing the wrong branch.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "winetest/version.h"

int main(int argc, char** argv) {
    // No "program error" dialogs: a crash must end the run, not wait for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);

    std::string requested = winetest::RequestedVersion();
    if (!requested.empty()) {
        const winetest::WindowsVersion* want = winetest::FindWindowsVersion(requested);
        OSVERSIONINFOA v{};
        v.dwOSVersionInfoSize = sizeof(v);
        GetVersionExA(&v);
        if (!want || v.dwPlatformId != want->platform || v.dwMajorVersion != want->major ||
            v.dwMinorVersion != want->minor) {
            std::fprintf(stderr, "winetest: asked to run as %s, but Windows reports %lu.%lu platform %lu\n",
                         requested.c_str(), v.dwMajorVersion, v.dwMinorVersion, v.dwPlatformId);
            return 3;
        }
    }
    return RUN_ALL_TESTS();
}
