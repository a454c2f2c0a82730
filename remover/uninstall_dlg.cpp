#include "remover/uninstall_dlg.h"

#include "framework/app.h"
#include "framework/resources.h"
#include "remover/resource.h"
#include "remover/texts.h"
#include "remover/uninstall_rules.h"

UninstallDlg::UninstallDlg(const UninstallList& list) : fw::Dialog(IDD_UNINSTALL), list_(list) {}

bool UninstallDlg::OnInitDialog() {
    icons_.Apply(hwnd(), IDI_REMOVER);

    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    platform_ = info.dwPlatformId;
    system_code_ = remover::SystemCode(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    if (system_code_ < 0) {
        // Windows NT 3: nothing to say, nothing done.
        fw::App::Current()->SetExitCode(-1);
        End(IDCANCEL);
        return true;
    }

    if (list_.product_name != remover::kNotFound)
        SetWindowTextA(hwnd(), RemoverText(IDS_CAPTION_FOR) + list_.product_name);
    else
        SetWindowTextA(hwnd(), RemoverText(IDS_CAPTION_DEFAULT));
    SetItemText(IDC_TEXT_MAIN, RemoverText(IDS_WILL_REMOVE) + " " + list_.product_name);
    SetItemText(IDC_TEXT_LINE1, RemoverText(IDS_TO_EXIT));
    SetItemText(IDC_TEXT_LINE2, RemoverText(IDS_TO_COMPLETE));
    return true;
}

bool UninstallDlg::OnCommand(int id, int code) {
    // While the removal runs, the pauses let messages through: nothing may end the dialog then.
    if (running_) return true;
    if (id == IDOK) {
        RunUninstall();
        End(IDOK);
        return true;
    }
    return fw::Dialog::OnCommand(id, code);
}

INT_PTR UninstallDlg::OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) {
    INT_PTR result = 0;
    if (icons_.OnMessage(hwnd(), msg, &result)) {
        *handled = true;
        return result;
    }
    return fw::Dialog::OnMessage(msg, wparam, lparam, handled);
}

void UninstallDlg::RunUninstall() {
    running_ = true;
    EnableWindow(Item(IDOK), FALSE);
    EnableWindow(Item(IDCANCEL), FALSE);
    RemovalEngine engine(list_, system_code_, platform_, this);
    engine.RunUninstall();
    running_ = false;
}

void UninstallDlg::ShowText(int id, const CString& text) { SetItemText(id, text); }

void UninstallDlg::Pause(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(hwnd(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

int UninstallDlg::Ask(const CString& text, const CString& caption, UINT flags) {
    return MessageBoxA(hwnd(), text, caption, flags);
}
