#include "patchkit/update_app.h"

#include "patchkit/cleanup.h"
#include "patchkit/cleanup_rules.h"
#include "patchkit/update_dlg.h"

bool UpdateApp::InitInstance() {
    fw::InitControls();
    quiet_ = patchkit::QuietFromCommandLine(CommandLine().str());
    if (!CheckSystemAndClean()) return false;
    UpdateDlg dialog(quiet_);
    dialog.DoModal();
    return false;
}

bool UpdateApp::CheckSystemAndClean() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    int code = 0;
    switch (patchkit::VersionCode(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, &code)) {
    case patchkit::Start::RefuseWin32s:
        Message("This is a 32-bit application.  It can not run on a 16-bit system.", MB_OK | MB_ICONERROR, "Error");
        SetExitCode(-1);
        return false;
    case patchkit::Start::RefuseNt3:
        Message("This program is designed to run on Windows NT Version 4.0 or above.", MB_OK | MB_ICONERROR, "Error");
        SetExitCode(-1);
        return false;
    case patchkit::Start::Run:
        break;
    }
    OldInstallCleaner cleaner(code);
    if (code == 4)
        cleaner.RemoveOldInstallNT4();
    else
        cleaner.RemoveOldInstall();
    return true;
}
