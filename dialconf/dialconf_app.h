// The dialconf application object: start-up (Windows version, command line, finding the
// adapter's port, serlink.ini, the Windows 2000 modem delays), then the welcome dialog.
#pragma once

#include "framework/app.h"

class CDialconfApp : public fw::App {
public:
    const CString& SettingsFile() const { return settings_file_; }
    bool FirstRun() const { return first_run_; }
    bool SerlinkWritten() const { return serlink_written_; }
    int WindowsKind() const { return windows_kind_; }

    static CDialconfApp* Get() { return static_cast<CDialconfApp*>(fw::App::Current()); }

protected:
    bool InitInstance() override;

private:
    bool CheckWindowsVersion();
    bool FindAdapterPort();
    // Runs the scan dialog over `ports`; false (the program ends) when it was aborted or cancelled.
    bool RunScan(const CStringArray& ports, UINT caption_id, CString* found);
    void WriteSerlinkPort();
    void Fail(UINT text_id);  // a start-up failure: the message, then exit code -1

    CString settings_file_;
    CString port_;
    bool first_run_ = false;
    bool serlink_written_ = false;
    int windows_kind_ = 0;
};
