// The rules of the clean-up of a previous ISDN installation: the Windows version codes, the
// command line, the old files and registry names, which entries are the maker's, and which found
// uninstall lists are handed over. No Windows header: tests drive these directly.
#pragma once

#include <string>
#include <vector>

namespace patchkit {

// 1 Windows 95 build 950, 2 other Windows 95, 3 Windows 98 and later 9x, 4 NT 4, 5 NT 5; other
// NT versions get 5's road with code 0. Refusals: Win32s and NT 3.
enum class Start { Run, RefuseWin32s, RefuseNt3 };
Start VersionCode(unsigned long platform, unsigned long major, unsigned long minor, unsigned long build, int* code);

// Without "/NS" (any case, anywhere) the program cleans up and ends by itself.
bool QuietFromCommandLine(const std::string& command_line);

// The Unimodem DeviceSpecific keys (NT 4) below HKLM, and the modem key names of the others.
std::vector<std::string> DeviceSpecificKeys();
const std::vector<std::string>& ModemKeyNames();

// The two groups of old files: absolute names in c:\Dorvex\ISDN (NT 4 spells them in lower
// case, the others with upper-case file names), or the bare upper-case names of the drive
// search. The uninstaller is the first file of group 1.
std::vector<std::string> FileGroup(int group, bool nt4, bool bare);
constexpr const char* kUninstallerName = "APREMOVER.EXE";
constexpr const char* kListName = "APREMOVER.UNI";
constexpr const char* kFixedFolder = "c:\\Dorvex\\ISDN";

// The uninstaller itself never goes with its group: it is about to be started from that folder.
bool IsUninstaller(const std::string& file);

// A registry string of the maker's ISDN entries: the bytes read (up to the first zero, never
// past `size`) contain "Dorvex ISDN ".
bool IsMakersIsdnEntry(const char* value, std::size_t size);

// A file entry of the drive search that is an uninstall list to hand over: named exactly
// "APREMOVER.UNI", with "ISDN" (case as written) in its full path.
bool IsListToHandOver(const std::string& name, const std::string& full_path);

// The search keeps to paths that Win32's ANSI calls take whole: a longer path is skipped, never cut.
constexpr std::size_t kMaxPath = 259;
bool PathFits(const std::string& path);

// A search root as given ("C:", "C:\"): the folder to list, without a trailing backslash.
std::string SearchRoot(const std::string& drive);

// The command lines of the hand-over: after the fixed-folder check, and after a drive search
// (the list's path unquoted, as the uninstaller takes its whole command line as the path).
constexpr const char* kFixedCommandLine = "apremover.exe c:\\dorvex\\isdn\\apremover.uni";
std::string SearchCommandLine(const std::string& list_path);

}  // namespace patchkit
