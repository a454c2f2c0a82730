#include "remover/uninstall_app.h"

#include "framework/resources.h"
#include "remover/resource.h"
#include "remover/texts.h"
#include "remover/uninstall_dlg.h"
#include "remover/uninstall_rules.h"

UninstallApp::~UninstallApp() {
    if (language_) {
        fw::SetResourceHandle(nullptr);
        FreeLibrary(language_);
    }
}

void UninstallApp::LoadLanguageLibrary() {
    if (CommandLine().Find('\\') < 0) return;
    char language[500] = {};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, language, sizeof(language)) <= 0) return;
    if (lstrcmpA(language, "English") == 0 || CString(language).GetLength() < 3) return;
    // From the current folder by its full name, and as data only: a library of that name is never
    // run, and the system's search path cannot put another one in its place.
    char folder[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof(folder), folder);
    if (n == 0 || n >= sizeof(folder)) return;
    CString path = CString(folder);
    if (path.Right(1) != "\\") path += "\\";
    path += "Vetra_" + CString(language).Left(3) + ".DLL";
    language_ = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (language_) fw::SetResourceHandle(language_);
}

void UninstallApp::Refuse(UINT text_id) {
    Message(list_.path + RemoverText(text_id), MB_OK | MB_ICONERROR, RemoverText(IDS_UNINSTALL));
    SetExitCode(-1);
}

bool UninstallApp::ValidateUninstallList() {
    if (list_.file_version == remover::kNotFound) {
        Refuse(IDS_NO_VERSION);
        return false;
    }
    if (!remover::FileVersionAccepted(list_.file_version)) {
        Refuse(IDS_BAD_VERSION);
        return false;
    }
    if (!list_.has_sections) {
        Refuse(IDS_NO_SECTIONS);
        return false;
    }
    return true;
}

bool UninstallApp::InitInstance() {
    LoadLanguageLibrary();
    SetTitle(RemoverText(IDS_UNINSTALL));

    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    if (info.dwPlatformId == VER_PLATFORM_WIN32s) {
        Message(RemoverText(IDS_WIN32S), MB_OK | MB_ICONERROR, RemoverText(IDS_ERROR));
        SetExitCode(-1);
        return false;
    }

    const CString path = remover::ListPathFromCommandLine(CommandLine());
    if (path.IsEmpty()) {
        Message(RemoverText(IDS_NO_PATH), MB_OK | MB_ICONERROR);
        return false;
    }
    // Any length of path: the file's attributes, not a 128-character open.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Message(RemoverText(IDS_NO_FILE) + "\n" + path, MB_OK | MB_ICONERROR);
        return false;
    }

    // Every value and list is read here, before anything is removed (the list file included).
    list_.Load(path);
    if (!ValidateUninstallList()) return false;

    if (list_.uninstall_message != remover::kNotFound &&
        Message(list_.uninstall_message, MB_OKCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON2, RemoverText(IDS_UNINSTALL)) !=
            IDOK)
        return false;

    UninstallDlg dialog(list_);
    if (dialog.DoModal() == -1) {
        // Nothing was removed: an exit code of success would say otherwise.
        Message(RemoverText(IDS_NO_DIALOG), MB_OK | MB_ICONERROR, RemoverText(IDS_ERROR));
        SetExitCode(-1);
    }
    return false;
}
