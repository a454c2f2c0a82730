// The Windows version a test runs as (WineTests.cmake VERSIONS), and the version a test gives to a
// program that it starts.
#pragma once

#include <windows.h>

#include <string>

namespace winetest {

struct WindowsVersion {
    const char* name;  // Wine's name: "win98", "nt40", ...
    DWORD platform;    // VER_PLATFORM_WIN32s / _WINDOWS / _NT
    DWORD major, minor;
    DWORD build;       // 0: any build
};

// What Wine reports for a version name; nullptr for an unknown name.
const WindowsVersion* FindWindowsVersion(const std::string& name);

// The version this test run was started as ("" when none was set).
std::string RequestedVersion();

// Sets the version that Wine reports to the program `exe_name` ("dialconf.exe") at its next
// start. Tests that do this share the program's name, so they take a LOCK in their CMakeLists.
bool SetProgramVersion(const std::string& exe_name, const std::string& version);

}  // namespace winetest
