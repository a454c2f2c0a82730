#include "dialconf/progress_dialog.h"

#include "dialconf/resource.h"

CProgressDialog::CProgressDialog(HWND parent) : fw::Dialog(IDD_PROGRESS, parent) {}

bool CProgressDialog::OnInitDialog() {
    bar_.Attach(Item(IDC_PROGRESS));
    return true;
}

void CProgressDialog::SetText(const char* text) {
    SetItemText(IDC_PROGRESS_TEXT, text);
    Show();
}

void CProgressDialog::Show() { fw::Repaint(hwnd()); }
