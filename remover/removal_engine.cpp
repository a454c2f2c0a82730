#include "remover/removal_engine.h"

#include <objbase.h>
#include <process.h>
#include <shlobj.h>

#include <cctype>
#include <string>

#include "framework/handles.h"
#include "remover/resource.h"
#include "remover/texts.h"
#include "remover/uninstall_rules.h"

namespace {

HKEY RootKey(remover::RegRoot root) {
    switch (root) {
    case remover::RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case remover::RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case remover::RegRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case remover::RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case remover::RegRoot::Users: return HKEY_USERS;
    case remover::RegRoot::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case remover::RegRoot::DynData: return HKEY_DYN_DATA;
    }
    return nullptr;
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Deletes a file; true when it is gone (also when it was not there to begin with).
bool RemoveFile(const CString& path) {
    if (DeleteFileA(path)) return true;
    return IsGone(GetLastError());
}

// Stage strings: the start text of each stage, its "Done" text is the next id.
const UINT kStageText[] = {IDS_STAGE_APP, IDS_STAGE_SHORTCUTS, IDS_STAGE_FILES, IDS_STAGE_DIRS};

class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool ok_;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

// Removers take turns at WININIT.INI (a process that cannot get its turn within a while leaves
// the file alone and reports the file it meant to schedule).
class WininitLock {
public:
    WininitLock() : mutex_(CreateMutexA(nullptr, FALSE, "DorvexRemoverWininit")) {
        if (!mutex_) return;
        DWORD r = WaitForSingleObject(mutex_, 30000);
        held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    ~WininitLock() {
        if (held_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    WininitLock(const WininitLock&) = delete;
    WininitLock& operator=(const WininitLock&) = delete;
    // Held also when the last holder ended without letting go (it may have died between its
    // two renames: the aside copy it left is put back before the file is read).
    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

// A copy of WININIT.INI that a remover put aside while its new copy took the file's place
// ("RMVnnnn.OLD" in the Windows folder, after the temporary file's own name).
bool IsAsideCopyName(const std::string& name) {
    if (name.size() < 8 || name.size() > 11) return false;
    if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name.c_str(), 3, "RMV", 3) != CSTR_EQUAL) return false;
    if (lstrcmpiA(name.c_str() + name.size() - 4, ".OLD") != 0) return false;
    for (size_t i = 3; i < name.size() - 4; ++i)
        if (!isxdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// When WININIT.INI is missing and a remover's aside copy is there, that remover died (or could
// not rename back) between its two renames: the copy holds every program's pending renames and
// goes back first. The newest copy is the file as it was last; the new copy that remover had
// written beside it (same number, ".TMP") goes.
void RestoreAsideCopy(const std::string& windows, const std::string& file) {
    if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES || !IsGone(GetLastError())) return;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((windows + "\\RMV*.OLD").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    std::string newest;
    FILETIME newest_time{};
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsAsideCopyName(fd.cFileName)) continue;
        if (newest.empty() || CompareFileTime(&fd.ftLastWriteTime, &newest_time) > 0) {
            newest = fd.cFileName;
            newest_time = fd.ftLastWriteTime;
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    if (newest.empty()) return;
    const std::string aside = windows + "\\" + newest;
    if (MoveFileA(aside.c_str(), file.c_str())) DeleteFileA((aside.substr(0, aside.size() - 4) + ".TMP").c_str());
}

// A file's bytes. False when it exists but cannot be read whole, is no plain file or may not be
// written: such a file is left as it is. A missing file reads as empty.
bool ReadWholeFile(const std::string& path, std::string* text, bool* exists) {
    text->clear();
    *exists = false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsGone(GetLastError());
    *exists = true;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
    fw::FileHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f.IsOpen()) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(f.get(), &high);
    // Far more than Windows itself carries out: no file of pending renames is this large.
    if (size == INVALID_FILE_SIZE || high != 0 || size > (16u << 20)) return false;
    text->resize(size);
    DWORD got = 0;
    if (size > 0 && (!ReadFile(f.get(), &(*text)[0], size, &got, nullptr) || got != size)) return false;
    return true;
}

// Writes `text` as the whole of an existing file, through to the disk.
bool WriteWholeFile(const char* path, const std::string& text) {
    fw::FileHandle f(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.IsOpen()) return false;
    DWORD written = 0;
    if (!text.empty() && (!WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                          written != text.size()))
        return false;
    return FlushFileBuffers(f.get()) != 0;
}

}  // namespace

bool RestartMachine() {
    if (GetEnvironmentVariableA("REMOVER_NO_RESTART", nullptr, 0) > 0) return true;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES tp{};
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
            tp.PrivilegeCount = 1;
            tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
        }
        CloseHandle(token);
    }
    return ExitWindowsEx(EWX_REBOOT, 0) != 0;
}

HRESULT GetShortcutTarget(const CString& lnk_path, CString* target) {
    target->Empty();
    ComScope com;
    ComPtr<IShellLinkA> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(link.Out()));
    if (FAILED(hr)) return hr;
    ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out()));
    if (FAILED(hr)) return hr;
    int n = MultiByteToWideChar(CP_ACP, 0, lnk_path, -1, nullptr, 0);
    if (n <= 0) return E_INVALIDARG;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, lnk_path, -1, &wide[0], n);
    hr = file->Load(wide.c_str(), STGM_READ);
    if (FAILED(hr)) return hr;
    char path[MAX_PATH + 1] = {};
    WIN32_FIND_DATAA fd;
    hr = link->GetPath(path, MAX_PATH, &fd, SLGP_UNCPRIORITY);
    if (FAILED(hr)) return hr;
    char args[MAX_PATH + 1] = {};
    if (FAILED(link->GetArguments(args, MAX_PATH))) args[0] = 0;
    if (!remover::ArgumentsNameList(args)) *target = path;
    return hr;
}

bool DeleteKeyTree(HKEY root, const CString& subkey, int depth) {
    // Deeper than the registry allows: something is wrong with the names, leave it.
    if (depth > 512) return false;
    fw::RegKey key;
    if (key.Open(root, subkey, KEY_ALL_ACCESS)) {
        for (DWORD index = 0;;) {
            char name[512];
            DWORD length = sizeof(name);
            if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            // A subkey that stays (one that may not be deleted, or whose name has no spelling in
            // this code page) is passed over; the next one moves up only when this one went.
            if (!DeleteKeyTree(root, subkey + "\\" + name, depth + 1)) ++index;
        }
        key.Close();
    }
    return RegDeleteKeyA(root, subkey) == ERROR_SUCCESS;
}

namespace {

// The long name of a path that exists (an 8.3 spelling such as C:\PROGRA~1 names the same folder
// as C:\Program Files); the path as it is otherwise. Windows 95 has no GetLongPathNameA.
CString LongName(const CString& path) {
    using GetLongPathNameFn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const auto get_long = reinterpret_cast<GetLongPathNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA")));
    if (!get_long || path.IsEmpty()) return path;
    char buffer[MAX_PATH * 4];
    DWORD n = get_long(path, buffer, sizeof(buffer));
    return n > 0 && n < sizeof(buffer) ? CString(buffer) : path;
}

bool IsWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto is_wow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

// A string value of a key, environment strings expanded; "" when missing.
CString ReadPathValue(HKEY key, const char* name) {
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return CString();
    value[sizeof(value) - 1] = 0;
    if (type == REG_SZ) return CString(value);
    char expanded[MAX_PATH * 2] = {};
    DWORD n = ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
    return n > 0 && n <= sizeof(expanded) ? CString(expanded) : CString();
}

}  // namespace

RemovalEngine::RemovalEngine(const UninstallList& list, int system_code, unsigned long platform, RemovalView* view)
    : list_(list), system_code_(system_code), platform_(platform), view_(view),
      folder_word_(remover::FolderWord(list.folder_name)) {}

void RemovalEngine::ShowStage(int stage, bool done) {
    int line = IDC_TEXT_LINE1;
    view_->ShowText(line++, RemoverText(kStageText[stage] + (done ? 1 : 0)));
    for (int earlier = stage - 1; earlier >= 0; --earlier) view_->ShowText(line++, RemoverText(kStageText[earlier] + 1));
    if (!(done && stage == 3)) view_->Pause(500);
}

void RemovalEngine::RunUninstall() {
    view_->ShowText(IDC_TEXT_LINE1, "");
    view_->ShowText(IDC_TEXT_LINE2, "");
    view_->ShowText(IDC_TEXT_MAIN, RemoverText(IDS_PREPARING) + " " + list_.product_name);
    view_->Pause(2000);
    view_->ShowText(IDC_TEXT_MAIN, RemoverText(IDS_DELETING));

    ShowStage(0, false);
    if (!list_.launch.empty()) RunLaunchSection();
    ShowStage(0, true);

    ShowStage(1, false);
    if (!list_.shortcuts.empty()) RemoveShortcutList();
    ShowStage(1, true);

    ShowStage(2, false);
    if (!list_.files.empty()) RemoveFileList(false);
    if (!list_.created_after_install.empty()) RemoveFileList(true);
    ShowStage(2, true);

    ShowStage(3, false);
    ProductKeyStage();
    if (!list_.registry.empty()) RemoveRegistryList();
    RemoveUnusedProductKey();
    const bool has_destination = list_.destination_dir != remover::kNotFound;
    if (has_destination) RemoveDirectoryList();
    if (directory_created_ && has_destination) RemoveDirectoryA(list_.destination_dir);
    if (folder_created_) RemoveDirectoryA(list_.folder_name);
    ShowStage(3, true);

    view_->ShowText(IDC_TEXT_MAIN, RemoverText(IDS_DELETION_DONE));
    ShowUninstallReport();
    if (reboot_needed_ &&
        view_->Ask(RemoverText(IDS_REBOOT_QUESTION), RemoverText(IDS_UNINSTALL), MB_YESNO | MB_ICONQUESTION) == IDYES) {
        if (!RestartMachine()) view_->Ask(RemoverText(IDS_NO_RESTART), RemoverText(IDS_UNINSTALL), MB_OK | MB_ICONINFORMATION);
    }
}

void RemovalEngine::ProductKeyStage() {
    if (folder_word_.IsEmpty()) return;
    fw::RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + folder_word_, KEY_ALL_ACCESS)) return;
    DWORD known = 0;
    if (RegQueryValueExA(key.get(), "FolderCreated", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        folder_created_ = true;
        ++known;
    }
    if (RegQueryValueExA(key.get(), "DirectoryCreated", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        directory_created_ = true;
        ++known;
    }
    DWORD values = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    if (values != known) {
        // Other products still count on shared shortcuts.
        reboot_needed_ = true;
        return;
    }
    product_key_unused_ = true;
}

void RemovalEngine::RemoveUnusedProductKey() {
    if (!product_key_unused_) return;
    // Looked at again after [RegistryList]: the list may have taken the keys it held, or the
    // product key itself.
    fw::RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + folder_word_, KEY_READ)) return;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    key.Close();
    // Only a key that holds nothing else goes. One that still holds keys is not this product's
    // alone (a folder named "Classes" makes it every program's classes), and Windows 9x would
    // delete all of it with the key: it stays.
    if (subkeys > 0) return;
    fw::RegKey software;
    if (!software.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS) ||
        RegDeleteKeyA(software.get(), folder_word_) != ERROR_SUCCESS)
        view_->Ask(RemoverText(IDS_KEY_NOT_DELETED), RemoverText(IDS_UNINSTALL), MB_OK);
}

void RemovalEngine::RunLaunchSection() {
    for (const CString& line : list_.launch) {
        std::vector<CString> fields;
        if (!remover::SplitLaunchLine(line, &fields)) continue;
        std::vector<const char*> argv;
        for (const CString& f : fields) argv.push_back(f.c_str());
        argv.push_back(nullptr);
        _spawnv(_P_WAIT, argv[0], argv.data());
    }
}

void RemovalEngine::RemoveShortcutList() {
    for (const CString& line : list_.shortcuts) RemoveShortcut(line);
}

void RemovalEngine::RemoveShortcut(const CString& path) {
    const CString title = remover::ShortcutTitle(path);
    if (title.IsEmpty() || folder_word_.IsEmpty()) return;
    fw::RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + folder_word_, KEY_ALL_ACCESS)) return;
    DWORD count = 0, type = 0, size = sizeof(count);
    if (RegQueryValueExA(key.get(), title, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(count))
        count = 0;
    if (count >= 2) {
        --count;
        RegSetValueExA(key.get(), title, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
        return;
    }
    RegDeleteValueA(key.get(), title);
    key.Close();
    CString target;
    GetShortcutTarget(path, &target);
    if (!RemoveFile(path)) DeleteAtReboot(path);
    // Only a file of this installation goes with its shortcut: a link to a system program or to
    // another product's file leaves that file alone, also when DestinationDir names a folder
    // that all programs share.
    if (target.IsEmpty()) return;
    // Compared by long names: an 8.3 spelling of a shared folder is that folder.
    std::vector<CString> files;
    for (const CString& f : list_.files) files.push_back(LongName(f));
    const CString destination =
        list_.destination_dir == remover::kNotFound ? list_.destination_dir : LongName(list_.destination_dir);
    if (remover::TargetMayBeDeleted(LongName(target), destination, files, SharedFolders()) && !RemoveFile(target))
        not_removed_.push_back(target);
}

void RemovalEngine::RemoveFileList(bool created_after_install) {
    for (const CString& file : created_after_install ? list_.created_after_install : list_.files) {
        if (RemoveFile(file) || created_after_install) continue;
        DeleteAtReboot(file);
    }
}

void RemovalEngine::RemoveRegistryList() {
    for (const CString& line : list_.registry) {
        remover::RegistryLine entry;
        if (!remover::ParseRegistryLine(line, &entry)) continue;
        fw::RegKey root;
        if (!root.Open(RootKey(entry.root), nullptr, KEY_ALL_ACCESS)) continue;
        if (RegDeleteKeyA(root.get(), entry.subkey) != ERROR_SUCCESS) DeleteKeyTree(root.get(), entry.subkey);
    }
}

void RemovalEngine::RemoveDirectoryList() {
    if (!RemoveFile(list_.path)) DeleteAtReboot(list_.path);
    for (const CString& entry : list_.directories)
        for (const CString& dir : remover::DirectoryWalk(entry, list_.destination_dir)) RemoveDirectoryA(dir);
}

std::vector<remover::SharedFolder> SharedFolders() {
    std::vector<remover::SharedFolder> folders;
    auto add = [&folders](const CString& path, bool whole_tree) {
        if (!path.IsEmpty()) folders.push_back({LongName(path), whole_tree});
    };
    char path[MAX_PATH];
    UINT n = GetWindowsDirectoryA(path, sizeof(path));
    if (n > 0 && n < sizeof(path)) {
        const CString windows(path);
        add(windows, false);
        add(windows + "\\SYSTEM", true);
        add(windows + "\\SYSTEM32", true);
        add(windows + "\\SysWOW64", true);
        add(windows + "\\Fonts", true);
        // Windows 9x keeps the users' profiles here.
        add(windows + "\\Profiles", true);
    }
    n = GetSystemDirectoryA(path, sizeof(path));
    if (n > 0 && n < sizeof(path)) add(CString(path), true);
    // Windows 95 without the newer shell has no SHGetSpecialFolderPathA.
    using SpecialFolderFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
    struct Library {
        HMODULE module = LoadLibraryA("shell32.dll");
        ~Library() {
            if (module) FreeLibrary(module);
        }
    } library;
    HMODULE shell = library.module;
    const auto special_folder = shell ? reinterpret_cast<SpecialFolderFn>(reinterpret_cast<void*>(
                                            GetProcAddress(shell, "SHGetSpecialFolderPathA")))
                                      : nullptr;
    for (int csidl : {CSIDL_FONTS, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE}) {
        char folder[MAX_PATH] = {};
        if (special_folder && special_folder(nullptr, folder, csidl, FALSE)) add(CString(folder), true);
    }
    // Program Files and Common Files, in every spelling the system keeps: a 32-bit program on
    // 64-bit Windows reads its own Program Files (x86) as ProgramFilesDir and the other one
    // under other names, also in the 64-bit view of the key.
    std::vector<REGSAM> views = {KEY_READ};
    if (IsWow64()) views.push_back(KEY_READ | KEY_WOW64_64KEY);
    for (REGSAM view : views) {
        fw::RegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", view)) {
            for (const char* name : {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir"})
                add(ReadPathValue(key.get(), name), false);
            for (const char* name : {"CommonFilesDir", "CommonFilesDir (x86)", "CommonW6432Dir"})
                add(ReadPathValue(key.get(), name), true);
        }
        // The folder that holds every user's profile (Documents and Settings).
        fw::RegKey profiles;
        if (profiles.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", view)) {
            for (const char* name : {"ProfilesDirectory", "AllUsersProfile"}) {
                CString value = ReadPathValue(profiles.get(), name);
                // AllUsersProfile is a bare folder name inside ProfilesDirectory.
                if (!value.IsEmpty() && value.Find('\\') < 0) continue;
                add(value, true);
            }
        }
    }
    return folders;
}

bool RemovalEngine::DeleteAtReboot(const CString& path) {
    bool ok = remover::UsesRenameList(platform_) ? ScheduleWithRenameList(path) : ScheduleWithWininit(path);
    if (ok)
        reboot_needed_ = true;
    else
        not_removed_.push_back(path);
    return ok;
}

bool RemovalEngine::ScheduleWithRenameList(const CString& path) {
    return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool RemovalEngine::ScheduleWithWininit(const CString& path) {
    // Windows 9x carries out WININIT.INI before long names exist, in its own current folder:
    // the entry takes the full path's short name. A name it could not take (a long one with
    // blanks, where no short name can be had) would delete nothing, or something else: the
    // file is reported instead.
    char full[MAX_PATH];
    DWORD f = GetFullPathNameA(path, sizeof(full), full, nullptr);
    if (f == 0 || f >= sizeof(full)) return false;
    char short_path[MAX_PATH];
    DWORD n = GetShortPathNameA(full, short_path, sizeof(short_path));
    const CString name = n > 0 && n < sizeof(short_path) ? CString(short_path) : CString(full);
    if (!remover::BootRenameTakes(name)) return false;
    char windows[MAX_PATH];
    UINT w = GetWindowsDirectoryA(windows, sizeof(windows));
    if (w == 0 || w >= sizeof(windows)) return false;

    // WININIT.INI holds every program's pending deletions: two removers that read it at once
    // would each write back only their own entry.
    WininitLock lock;
    if (!lock.Held()) return false;
    const std::string file = std::string(windows) + "\\WININIT.INI";
    RestoreAsideCopy(windows, file);
    // Programs that wrote their entries through the profile calls may still have them in the
    // system's profile cache: out to the file first, or the copy below would drop them.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
    std::string text;
    bool existed = false;
    if (!ReadWholeFile(file, &text, &existed)) return false;
    const DWORD attributes = existed ? GetFileAttributesA(file.c_str()) : INVALID_FILE_ATTRIBUTES;
    const std::string updated = remover::AddRenameEntry(text, name);

    // The new copy is made whole beside it under a name of its own, and only then takes the
    // old one's place, with the old one's attributes (a hidden system file stays one).
    char temp[MAX_PATH];
    if (!GetTempFileNameA(windows, "RMV", 0, temp)) return false;
    if (!WriteWholeFile(temp, updated)) {
        DeleteFileA(temp);
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (kept && !SetFileAttributesA(temp, kept)) {
            DeleteFileA(temp);
            return false;
        }
    }
    if (!existed) {
        if (MoveFileA(temp, file.c_str())) return true;
        DeleteFileA(temp);
        return false;
    }
    if (MoveFileExA(temp, file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    // Windows 9x has no MoveFileEx (and a file another program holds cannot be replaced on NT):
    // the old copy steps aside under a name that belongs to this remover, the new one takes its
    // place, and only then does the old one go. At no step is there no complete copy: if this
    // remover dies between the renames, the next one puts the aside copy back.
    std::string aside = temp;
    aside = aside.substr(0, aside.find_last_of('.')) + ".OLD";
    bool replaced = false;
    if (MoveFileA(file.c_str(), aside.c_str())) {
        if (MoveFileA(temp, file.c_str())) {
            replaced = true;
            DeleteFileA(aside.c_str());
        } else {
            MoveFileA(aside.c_str(), file.c_str());
        }
    }
    if (!replaced) {
        SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temp);
    }
    return replaced;
}

void RemovalEngine::ShowUninstallReport() {
    CString text;
    if (!not_removed_.empty()) {
        text = RemoverText(IDS_NOT_REMOVED);
        for (const CString& f : not_removed_) text += f + "\n";
        not_removed_.clear();
    } else {
        text = RemoverText(IDS_COMPLETED);
    }
    view_->Ask(text, RemoverText(IDS_UNINSTALL), MB_OK | MB_ICONINFORMATION);
}
