#include "patchkit/cleanup.h"

#include <vector>

#include "framework/handles.h"
#include "patchkit/cleanup_rules.h"

namespace {

std::string WindowsFolder() {
    char w[MAX_PATH];
    UINT n = GetWindowsDirectoryA(w, sizeof(w));
    return n > 0 && n < sizeof(w) ? std::string(w) : std::string("C:\\WINDOWS");
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The walk over one class of entries: each subkey of `path` whose value `value_name` names the
// maker's ISDN device loses `subkeys` and then itself. An entry that stays (it has a subkey
// more than these) is passed over, so the walk always ends.
void RemoveMakersEntries(const char* path, const char* value_name, const std::vector<const char*>& subkeys) {
    fw::RegKey klass;
    if (!klass.Open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS)) return;
    for (DWORD index = 0;;) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(klass.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        bool makers = false;
        {
            fw::RegKey entry;
            if (entry.Open(klass.get(), name, KEY_READ)) {
                char value[256];
                DWORD size = sizeof(value), type = 0;
                if (RegQueryValueExA(entry.get(), value_name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                        ERROR_SUCCESS &&
                    type == REG_SZ)
                    makers = patchkit::IsMakersIsdnEntry(value, size);
            }
        }
        if (!makers) {
            ++index;
            continue;
        }
        for (const char* sub : subkeys) DeleteKeyWithSubkeys(klass.get(), std::string(name) + "\\" + sub);
        // The next entry moves into this index only when this one went.
        if (RegDeleteKeyA(klass.get(), name) != ERROR_SUCCESS) ++index;
    }
}

}  // namespace

bool DeleteKeyWithSubkeys(HKEY parent, const std::string& name, int depth) {
    if (depth > 512) return false;
    {
        fw::RegKey key;
        if (!key.Open(parent, name.c_str(), KEY_ALL_ACCESS)) return false;
        for (;;) {
            char sub[257];
            DWORD length = sizeof(sub);
            if (RegEnumKeyExA(key.get(), 0, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (!DeleteKeyWithSubkeys(key.get(), sub, depth + 1)) return false;
        }
    }
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

void OldInstallCleaner::RemoveOldInstallNT4() {
    for (const std::string& path : patchkit::DeviceSpecificKeys()) {
        // The key goes with its whole tree; a subtree that stays keeps the key.
        size_t slash = path.find_last_of('\\');
        fw::RegKey parent;
        if (!parent.Open(HKEY_LOCAL_MACHINE, path.substr(0, slash).c_str(), KEY_ALL_ACCESS)) continue;
        DeleteKeyWithSubkeys(parent.get(), path.substr(slash + 1));
    }
    ShortcutStep(WindowsFolder() + "\\Profiles\\All Users\\Start Menu\\Programs\\Dorvex Utilities\\LINEEC~1.LNK");
    if (HandOverStep()) return;
    SearchDriveForUninstallList("C:\\");
    if (!found_) SearchDriveForUninstallList("D:\\");
    if (!found_) SearchDriveForUninstallList("E:\\");
}

void OldInstallCleaner::RemoveOldInstall() {
    for (const char* path : {"System\\CurrentControlSet\\Services\\Class\\Modem", "Enum\\Root\\Modem"}) {
        fw::RegKey modem;
        if (!modem.Open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS)) continue;
        fw::RegKey first;
        // Only an installation that had the first protocol had the others.
        if (!first.Open(modem.get(), patchkit::ModemKeyNames()[0].c_str(), KEY_READ)) continue;
        first.Close();
        for (const std::string& name : patchkit::ModemKeyNames()) DeleteKeyWithSubkeys(modem.get(), name);
    }
    ShortcutStep(WindowsFolder() + "\\Start Menu\\Programs\\Dorvex Utilities\\LINEEC~1.LNK");
    if (HandOverStep()) return;
    SearchDriveForUninstallList("C:");
    SearchDriveForUninstallList("D:");
    SearchDriveForUninstallList("E:");
}

void OldInstallCleaner::ShortcutStep(const std::string& lnk_path) {
    shortcut_found_ = false;
    fw::RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dorvex Utilities", KEY_READ)) return;
    BYTE count[4];
    DWORD size = sizeof(count);
    if (RegQueryValueExA(key.get(), " Line Echo Check", nullptr, nullptr, count, &size) != ERROR_SUCCESS) return;
    shortcut_found_ = true;
    DeleteFileA(lnk_path.c_str());
}

bool OldInstallCleaner::HandOverStep() {
    SetCurrentDirectoryA(patchkit::kFixedFolder);
    if (!Exists(std::string(patchkit::kFixedFolder) + "\\" + patchkit::kListName)) return false;
    if (shortcut_found_) {
        DeleteGroup(1, false, patchkit::kFixedFolder);
        DeleteGroup(2, false, patchkit::kFixedFolder);
    }
    found_ = StartUninstaller(patchkit::kFixedFolder, patchkit::kFixedCommandLine);
    return true;
}

void OldInstallCleaner::DeleteGroup(int group, bool bare, const std::string& folder) {
    for (const std::string& file : patchkit::FileGroup(group, version_code_ == 4, bare)) {
        if (patchkit::IsUninstaller(file)) continue;
        const std::string path = bare ? folder + "\\" + file : file;
        if (!DeleteFileA(path.c_str())) break;
    }
}

bool OldInstallCleaner::StartUninstaller(const std::string& folder, const std::string& command_line) {
    // Its own copy in the list's folder, by its full name, so no other program of that name
    // on the search path is started in its place; the system's search only when it has none.
    const std::string own = folder + "\\" + patchkit::kUninstallerName;
    const bool has_own = Exists(own);
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(has_own ? own.c_str() : nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, folder.c_str(), &si, &pi))
        return false;
    // Not awaited.
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void OldInstallCleaner::SearchDriveForUninstallList(const std::string& start) {
    const std::string folder = patchkit::SearchRoot(start);
    const std::string pattern = folder + "\\*.*";
    if (!patchkit::PathFits(pattern)) return;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern.c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        if (!patchkit::PathFits(path)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link leads out of the drive (Wine's user folders lead to the Linux home).
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            SearchDriveForUninstallList(path);
        } else if (patchkit::IsListToHandOver(name, path)) {
            HandOverFound(folder, path);
            break;
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
}

void OldInstallCleaner::HandOverFound(const std::string& folder, const std::string& list_path) {
    SetCurrentDirectoryA(folder.c_str());
    if (shortcut_found_) DeleteGroup(1, true, folder);
    DeleteGroup(2, true, folder);
    if (StartUninstaller(folder, patchkit::SearchCommandLine(list_path))) found_ = true;
}

void OldInstallCleaner::RemoveModemClassEntries() {
    RemoveMakersEntries("System\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}", "Model",
                        {"Settings", "Monitor", "Init", "Hangup", "Answer"});
    RemoveRootEnumEntries();
}

void OldInstallCleaner::RemoveRootEnumEntries() {
    RemoveMakersEntries("System\\CurrentControlSet\\Enum\\Root", "FriendlyName", {"0000\\LogConf", "0000"});
}
