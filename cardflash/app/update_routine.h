// The update routine: upgrades one modem with one firmware package (settings only, in place
// through the modem's boot loader, or by handing over to the maker's DOS flasher with TEMP.PAK
// and a RunOnce command), and the [Update] record of the program's settings file that survives
// the reboot of the hand-over.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

class CModem;
class CFlashDlg;

// Upgrades `modem` with the package `folder`\`fileName`. `page` (the Update page; null in the
// command-line mode) has its version read restarted after an in-place flash. TRUE when the update
// was done (settings installed, flashed in place with its settings, flasher started) or a
// command-line run found the firmware current; FALSE otherwise (a failed settings step included).
BOOL PerformUpdate(CModem* modem, const CString& fileName, const CString& folder, CFlashDlg* page);

class CConfUtilApp;

// Registers the RunOnce command that starts the program with "UPGRADE" at the next start of
// Windows, for the check after the DOS flasher's reboot. False when the value cannot be written.
bool RegisterUpgradeRestart(CConfUtilApp* app);

// How the routine restarts the page's version read: the page registers this once (the routine
// knows the page only by pointer). Without it nothing is restarted.
using PageVersionReadRestart = void (*)(CFlashDlg* page);
void SetPageVersionReadRestart(PageVersionReadRestart restart);

// The [Update] section of the program's settings file (CConfUtilApp::SettingsFile()).
class CUpdateSettings {
public:
    // The keys, by their string-table ids (resource.h, IDS_UPD_*).
    static CString ReadText(UINT keyId, const char* defaultValue = "");
    static void WriteText(UINT keyId, const CString& value);
    static int ReadInt(UINT keyId, int defaultValue);
    static void WriteInt(UINT keyId, int value);

    // The folder the Update page searches and browses from (UpdatePath); `defaultValue` when
    // the key is missing or empty.
    static CString ReadPath(const CString& defaultValue);
    static void WritePath(const CString& folder);
};

// Parses "major.minor" as the modem and the packages write it; false when it is not two numbers.
bool ParseFirmwareVersion(const char* text, int* major, int* minor);

// `format` with %1 and %2 replaced in one pass (a %2 inside the first argument stays text).
CString FormatMessage2(const CString& format, const CString& first, const CString& second);
