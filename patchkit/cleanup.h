// The clean-up of a previous ISDN installation: the old protocols' registry entries, the line
// test tool's shortcut, the old files, and the hand-over to the old uninstaller with its list.
// Every registry and file step ignores its own failure; the program only deletes (and starts the
// uninstaller).
#pragma once

#include <windows.h>

#include <string>

class OldInstallCleaner {
public:
    explicit OldInstallCleaner(int version_code) : version_code_(version_code) {}

    // The per-version clean-up that start-up runs.
    void RemoveOldInstallNT4();
    void RemoveOldInstall();

    // The dialog's part: the maker's modem class entries, then its root-enumerated devices.
    static void RemoveModemClassEntries();
    static void RemoveRootEnumEntries();

    bool ShortcutFound() const { return shortcut_found_; }
    bool ListFound() const { return found_; }

private:
    void ShortcutStep(const std::string& lnk_path);
    // True when the list was in the fixed folder (handed over there).
    bool HandOverStep();
    void SearchDriveForUninstallList(const std::string& folder);
    void HandOverFound(const std::string& folder, const std::string& list_path);
    // Deletes one group file by file; the first that stays ends the group.
    void DeleteGroup(int group, bool bare, const std::string& folder);
    // Starts the uninstaller from `folder` (its own copy there when it has one); false when it
    // did not start.
    bool StartUninstaller(const std::string& folder, const std::string& command_line);

    int version_code_;
    bool shortcut_found_ = false;
    bool found_ = false;
};

// Deletes `name` below `parent` with everything under it, depth first; false when something
// (and so the key) stays.
bool DeleteKeyWithSubkeys(HKEY parent, const std::string& name, int depth = 0);
