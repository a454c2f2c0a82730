// The rules of an uninstall: what the lines of a .UNI list mean, which paths lie inside the
// installation, how the directory walk climbs, and how WININIT.INI gains a deletion entry.
//
// Everything here works on values and includes no Windows header, so tests and the fuzzer drive
// the rules directly; the program only does the system calls around them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "framework/cstring.h"

namespace remover {

// What the profile reader gives for a value that the list lacks.
constexpr const char* kNotFound = "NOT FOUND";

// The lines of a section as the profile reader returns them: strings each ended by a zero, the
// last followed by a second zero. `length` is what the reader returned (without the last zero);
// nothing past it is read, and a last string without its zero still counts.
std::vector<CString> SplitSection(const char* buffer, std::size_t length);

// The list path from the command line: blanks around it and one pair of quotes around it go.
CString ListPathFromCommandLine(const CString& command_line);

// [Version] FileVersion: read as a number (text that is no number reads as 0), at most 1 passes.
bool FileVersionAccepted(const CString& file_version);

enum class RegRoot { LocalMachine, ClassesRoot, CurrentConfig, CurrentUser, Users, PerformanceData, DynData };

struct RegistryLine {
    RegRoot root = RegRoot::LocalMachine;
    CString subkey;  // never empty; no backslash at either end
};

// A [RegistryList] line: a root abbreviation and a backslash ("HKLM\"), then the subkey. False
// for an unknown root, for a subkey that is empty once blanks and backslashes around it are gone
// (such a line would name the whole root), for one with an empty, blank, "." or ".." component,
// for a top-level key of any root but HKCR ("HKLM\SOFTWARE", "HKCU\Software": everything below
// would go), and for the keys that hold every program's entries of one kind under any of their
// names and spellings: the classes root (also as HKLM\SOFTWARE\Classes, HKCU\Software\Classes),
// its shared containers (CLSID, ...), a control set and its parts, the Windows settings keys, and
// under HKUS the same keys of each hive (its first component names the hive).
bool ParseRegistryLine(const CString& line, RegistryLine* out);

// The product key's name: the last component of [Version] FolderName ("" when the name is
// missing, empty or ends in nothing but backslashes and blanks, or the component is "." or "..").
CString FolderWord(const CString& folder_name);

// The value name of a shortcut's use count: the file name of the .lnk path, up to its first dot
// when the path holds ".lnk".
CString ShortcutTitle(const CString& lnk_path);

// True when the shortcut's arguments name an uninstall list (".UNI" or ".uni").
bool ArgumentsNameList(const CString& arguments);

// A path with its separators unified ('/' becomes '\', repeated ones become one), its "." and
// ".." components resolved, blanks around it and a trailing backslash removed (a drive root keeps
// its own). Case is kept. "" when ".." climbs above the start of the path.
CString CleanPath(const CString& path);

// The same paths compare equal: clean and without regard to case.
bool SamePath(const CString& a, const CString& b);

// True when `path` lies strictly below `folder`. A folder that is empty, a bare drive or a drive
// or share root holds nothing in this sense: an installation is never a whole drive.
bool IsInside(const CString& path, const CString& folder);

// The directories a [DirectoryList] entry removes, in order: the entry and each folder above it
// while that folder still lies strictly below the destination directory. The destination
// itself is never part of it (it is removed last, on its own). An entry that does not lie below
// the destination removes only itself; one equal to it removes nothing.
std::vector<CString> DirectoryWalk(const CString& entry, const CString& destination);

// A folder that every program shares. Folders inside it are a program's own (C:\Program
// Files\App) unless the whole tree is shared (the system folders, Fonts, Common Files, the
// users' profiles).
struct SharedFolder {
    CString path;
    bool whole_tree = false;
};

// Whether a shortcut's target may be deleted with the shortcut: only a file of the installation,
// one named by [FileList] or one inside the destination directory, unless that directory is one of
// the system's shared folders, lies in a shared tree, or holds a shared folder: then only
// [FileList] counts. All paths are compared as given: the caller spells them alike (long names).
bool TargetMayBeDeleted(const CString& target, const CString& destination, const std::vector<CString>& file_list,
                        const std::vector<SharedFolder>& shared_folders);

// A [Launch] line: the program and up to eight arguments, comma-separated. False, and nothing is
// to be run, for an empty program, more than eight arguments or a field over 499 characters
// (running a cut-down command could do something else than the list asked for).
bool SplitLaunchLine(const CString& line, std::vector<CString>* fields);

// WININIT.INI with one more "NUL=<path>" entry at the end of its [Rename] section (the section is
// added when missing). `text` is the file's bytes ("" for a file that does not exist yet: it
// becomes "[Rename]" and the entry, without a final line break). Every other line is kept as it
// was.
std::string AddRenameEntry(const std::string& text, const CString& path);

// Whether the boot-time rename of Windows 9x (WININIT.INI, carried out before long names exist)
// takes `path`: a full path from a drive letter whose every component is a plain 8.3 name (no
// blanks, none of the characters such names exclude).
bool BootRenameTakes(const CString& path);

// The system code of the removal engine: 1 Windows 95 build 950, 2 other Windows 95, 3 Windows 98
// build 1998, 6 Windows 98 build 2222, 4 Windows NT 4, 5 Windows 2000; 0 for the rest, and -1 for
// Windows NT 3 (the program does not run there).
int SystemCode(unsigned long platform, unsigned long major, unsigned long minor, unsigned long build);

// Files in use are deleted at the next start through the NT rename list on every NT platform,
// and through WININIT.INI on Windows 9x.
constexpr unsigned long kPlatformWindows = 1, kPlatformNt = 2;
inline bool UsesRenameList(unsigned long platform) { return platform == kPlatformNt; }

}  // namespace remover
