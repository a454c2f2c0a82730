// The two dialogs that finish an upgrade: CFlashProgDlg runs the in-place flash and shows its
// progress; CUpdModSetDlg installs the modem settings a package carries into the modem's registry
// entry, sets the country code again and, on the run after the DOS flasher's reboot, checks that
// the modem reports the new version.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "cardflash/flash/mpk_file.h"
#include "framework/cstring.h"
#include "framework/dialog.h"

class CModem;

class CFlashProgDlg : public fw::Dialog {
public:
    // The package to flash, the adapter's Plug and Play id, and whether the package's record has no
    // settings section (then a command-line run shows the success message itself).
    CFlashProgDlg(const CString& packagePath, const CString& pnpId, BOOL noSettings, HWND parent = nullptr);

    // DoModal (fw::Dialog): IDOK after a successful flash, IDCANCEL (2) after a failure.

    // The flash's progress (0-100) into the application's current progress dialog.
    static void Progress(int percent);

    CString m_PackagePath;
    CString m_PnPID;
    BOOL m_NoSettings = FALSE;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;

private:
    void Start();
    void ShowProgress(int percent);
};

class CUpdModSetDlg : public fw::Dialog {
public:
    // `kinds`: the section kinds of the package's record when the caller has them (the update
    // routine); null or empty: read from the package named by the [Update] record.
    explicit CUpdModSetDlg(const std::vector<uint32_t>* kinds = nullptr, HWND parent = nullptr);

    // DoModal (fw::Dialog): IDOK when done (or nothing to do), 2 on a failure or a failed
    // post-reboot check, IDCANCEL when the user cancelled.

    int m_CountryCode = 181;
    CString m_PnPID;
    std::vector<uint32_t> m_Kinds;
    CString m_PackagePath;
    CMPKFile m_Package;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;

private:
    void Update();
    void OnCancel();
    bool PostRebootCheckFails();
    CModem* RecordedModem() const;
    bool HasSettings() const;
    void ReportDone();

    CString m_NotDone;  // the steps left out, one line each, said at the end
};
