// The scan dialog: tests candidate ports one after the other for the ISDN Tamrisk, with a
// progress bar. The scan starts from a timer shortly after the dialog shows, so Cancel pressed
// before then ends it without a scan.
#pragma once

#include "framework/dialog.h"

class CScanDialog : public fw::Dialog {
public:
    // Ends with IDOK after a scan, IDCANCEL when cancelled, IDABORT when there was nothing to scan.
    CScanDialog(const CStringArray& ports, const CString& text);
    const CString& FoundPort() const { return found_; }  // "" when no port answered

protected:
    bool OnInitDialog() override;
    void OnTimer(UINT_PTR id) override;

private:
    bool Scan();

    CStringArray ports_;
    CString text_;
    CString found_;
};
