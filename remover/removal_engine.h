// The removal engine: works through an uninstall list in its fixed stages, keeps the product key
// HKLM\SOFTWARE\<folder word> consistent, schedules files in use for deletion at the next start,
// and collects the files it could not remove.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/cstring.h"
#include "remover/uninstall_list.h"
#include "remover/uninstall_rules.h"

// What the engine shows while it works: the uninstall dialog.
class RemovalView {
public:
    virtual ~RemovalView() = default;
    virtual void ShowText(int id, const CString& text) = 0;
    // A pause in which the window is repainted.
    virtual void Pause(DWORD ms) = 0;
    // A message box owned by the view.
    virtual int Ask(const CString& text, const CString& caption, UINT flags) = 0;
};

// Restarts the machine; under the test harness (REMOVER_NO_RESTART set) it only says that it would.
bool RestartMachine();

class RemovalEngine {
public:
    RemovalEngine(const UninstallList& list, int system_code, unsigned long platform, RemovalView* view);

    // The whole removal, up to the report and the restart question.
    void RunUninstall();

    // The stages, public for the dialog's tests of single steps.
    void RunLaunchSection();
    void RemoveShortcutList();
    void RemoveShortcut(const CString& path);
    void RemoveFileList(bool created_after_install);
    void RemoveRegistryList();
    void RemoveDirectoryList();
    // False (and the path on the list of files not removed) when it could not be scheduled.
    bool DeleteAtReboot(const CString& path);
    void ShowUninstallReport();

    bool RebootNeeded() const { return reboot_needed_; }
    const std::vector<CString>& NotRemoved() const { return not_removed_; }

private:
    void ShowStage(int stage, bool done);
    // Reads the product key's flags (before [RegistryList] may take the key); a key without
    // other products' counts is removed after it, when it holds no keys then.
    void ProductKeyStage();
    void RemoveUnusedProductKey();
    bool ScheduleWithRenameList(const CString& path);
    bool ScheduleWithWininit(const CString& path);

    const UninstallList& list_;
    int system_code_;
    unsigned long platform_;
    RemovalView* view_;
    CString folder_word_;
    bool directory_created_ = true;
    bool folder_created_ = false;
    bool reboot_needed_ = false;
    bool product_key_unused_ = false;
    std::vector<CString> not_removed_;
};

// The folders that every program shares, by their long names: the Windows folder, the system
// folders, Fonts, Program Files (each of a 64-bit system's) and Common Files, the users' profiles.
std::vector<remover::SharedFolder> SharedFolders();

// HRESULT of loading the shortcut; the target is "" on failure and for a shortcut whose
// arguments name an uninstall list.
HRESULT GetShortcutTarget(const CString& lnk_path, CString* target);

// Deletes `subkey` of `root` with everything below it, depth first; false when it stays. A
// subkey that cannot be deleted stays, and the walk goes on with the next one (the key itself
// then stays too).
bool DeleteKeyTree(HKEY root, const CString& subkey, int depth = 0);
