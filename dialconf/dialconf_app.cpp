#include "dialconf/dialconf_app.h"

#include "dialconf/config_dialog.h"
#include "dialconf/config_rules.h"
#include "dialconf/discovery.h"
#include "dialconf/resource.h"
#include "dialconf/scan_dialog.h"
#include "dialconf/trace.h"
#include "dialconf/welcome_dialog.h"

void CDialconfApp::Fail(UINT text_id) {
    MessageId(text_id);
    SetExitCode(-1);
}

bool CDialconfApp::InitInstance() {
    CString command = CommandLine();
    command.MakeUpper();
    if (command.Find("DBG") >= 0) {
        SetTraceOn(true);
        Message("Debug ON");
    }
    if (command.Find("FIRSTTIME") >= 0) {
        first_run_ = true;
        Trace("Running for first time.");
    }
    fw::InitControls();
    if (!CheckWindowsVersion()) return false;

    settings_file_ = ProgramFolder() + "\\" + Text(IDS_SETTINGS_FILE);
    if (!FindAdapterPort()) return false;

    if (windows_kind_ == 5 && !SetModemDelays(ReadManufacturers(settings_file_))) MessageId(IDS_DELAYS_FAILED);
    WriteSerlinkPort();

    CWelcomeDialog welcome;
    if (welcome.DoModal() == IDOK) {
        CConfigDialog config;
        config.DoModal();
        if (ExitCode() == 0 && first_run_ && serlink_written_) {
            fw::Dialog installed(IDD_INSTALLED);
            installed.DoModal();
        }
    }
    return false;
}

bool CDialconfApp::CheckWindowsVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    switch (WindowsKindOf(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                          &windows_kind_)) {
    case VersionVerdict::RefuseWin32s:
        Message("This is a 32-bit application.  It can not run on a 16-bit system.", MB_OK | MB_ICONERROR, "Error");
        SetExitCode(-1);
        return false;
    case VersionVerdict::RefuseNt3:
        Message("This program is designed to run on Windows NT Version 4.0 or above.", MB_OK | MB_ICONERROR, "Error");
        SetExitCode(-1);
        return false;
    case VersionVerdict::Run:
        break;
    }
    return true;
}

bool CDialconfApp::FindAdapterPort() {
    char saved[25];
    GetPrivateProfileStringA("COM PORT", "PORT", "NONE", saved, sizeof(saved), settings_file_);
    if (lstrcmpA(saved, "NONE") != 0) {
        Trace("Port defined in INI file. Checking for connected ISDN Tamrisk.");
        CStringArray one;
        one.Add(saved);
        if (!RunScan(one, IDS_VERIFYING_PORT, &port_)) return false;
    }
    if (port_.IsEmpty()) {
        CStringArray manufacturers = ReadManufacturers(settings_file_);
        Trace("Calling GetComPorts");
        CStringArray candidates = CollectCandidatePorts(windows_kind_, manufacturers);
        if (candidates.IsEmpty()) {
            Fail(IDS_NO_PRODUCTS);
            return false;
        }
        CString found;
        if (!RunScan(candidates, IDS_SEARCHING, &found)) return false;
        if (found.IsEmpty()) {
            Fail(IDS_NO_ADAPTER);
            return false;
        }
        port_ = found;
    }
    Trace("Finished scanning.");
    WritePrivateProfileStringA("COM PORT", "PORT", port_, settings_file_);
    return true;
}

bool CDialconfApp::RunScan(const CStringArray& ports, UINT caption_id, CString* found) {
    CScanDialog scan(ports, Text(caption_id));
    INT_PTR r = scan.DoModal();
    if (r == IDABORT) {
        SetExitCode(-1);
        return false;
    }
    if (r != IDOK) {
        Fail(IDS_SCAN_ABORTED);
        return false;
    }
    *found = scan.FoundPort();
    return true;
}

void CDialconfApp::WriteSerlinkPort() {
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
    if (n == 0 || n >= sizeof(windows)) return;
    Trace(windows);
    CString file;
    file.Format("%s\\serlink.ini", windows);
    CString value = SerlinkComPort(port_);
    if (WritePrivateProfileStringA("COMM", "comPort", value, file)) serlink_written_ = true;
    Trace("(write to serlink.ini) Comm=" + value);
}
