#include "dialconf/scan_dialog.h"

#include "dialconf/isdn_modem.h"
#include "dialconf/resource.h"
#include "framework/app.h"

namespace {
const UINT_PTR kScanTimer = 2;
}

CScanDialog::CScanDialog(const CStringArray& ports, const CString& text)
    : fw::Dialog(IDD_SCAN), ports_(ports), text_(text) {}

bool CScanDialog::OnInitDialog() {
    SetItemText(IDC_PROGRESS_TEXT, text_);
    StartTimer(kScanTimer, 100);
    return true;
}

void CScanDialog::OnTimer(UINT_PTR id) {
    if (id != kScanTimer) return;
    StopTimer(kScanTimer);
    End(Scan() ? IDOK : IDABORT);
}

bool CScanDialog::Scan() {
    if (ports_.IsEmpty()) {
        fw::App::Current()->Message("Critical Error: No Com Ports detected.");
        return false;
    }
    fw::WaitCursor wait;
    fw::ProgressBar bar(Item(IDC_PROGRESS));
    const int n = ports_.GetSize();
    bar.SetRange(0, 2 * n);
    bar.SetStep(1);
    bar.SetPos(0);
    for (int i = 0; i < n && found_.IsEmpty(); ++i) {
        IsdnModem modem;
        modem.Init(ports_[i], "fake pnp");
        bar.Step();
        fw::Repaint(hwnd());
        if (modem.IsPresent()) found_ = ports_[i];
        bar.Step();
        fw::Repaint(hwnd());
    }
    bar.SetPos(2 * n);
    return true;
}
