// A small GUI program for the harness's own tests.
//
//   uiprobe msgbox TEXT         shows a Yes/No message box; exit code: the button's id
//   uiprobe dialog RESULTFILE   shows a dialog; on OK writes its control values to RESULTFILE
//                               and exits 1, on Cancel exits 2
//   uiprobe version             exit code: platform << 16 | major << 8 | minor
#include <windows.h>

#include <cstdio>
#include <string>

#include "uiprobe.h"

namespace {

std::string g_result_file;

std::string ItemText(HWND dlg, int id) {
    char buf[256] = {};
    GetDlgItemTextA(dlg, id, buf, sizeof(buf));
    return buf;
}

INT_PTR CALLBACK ProbeProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            for (const char* place : {"Home", "Office", "Travel"})
                SendDlgItemMessageA(dlg, IDC_PLACE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(place));
            SendDlgItemMessageA(dlg, IDC_PLACE, CB_SETCURSEL, 0, 0);
            CheckRadioButton(dlg, IDC_ONE, IDC_TWO, IDC_ONE);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDC_NAME:
                    if (HIWORD(wp) == EN_CHANGE) SetDlgItemTextA(dlg, IDC_ECHO, ("name " + ItemText(dlg, IDC_NAME)).c_str());
                    return TRUE;
                case IDC_PLACE:
                    if (HIWORD(wp) == CBN_SELCHANGE) SetDlgItemTextA(dlg, IDC_ECHO, "place changed");
                    return TRUE;
                case IDOK: {
                    FILE* f = std::fopen(g_result_file.c_str(), "w");
                    if (f) {
                        char place[64] = {};
                        LRESULT sel = SendDlgItemMessageA(dlg, IDC_PLACE, CB_GETCURSEL, 0, 0);
                        SendDlgItemMessageA(dlg, IDC_PLACE, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(place));
                        std::fprintf(f, "name=%s;place=%s;radio=%s;check=%d", ItemText(dlg, IDC_NAME).c_str(), place,
                                     IsDlgButtonChecked(dlg, IDC_TWO) ? "two" : "one",
                                     IsDlgButtonChecked(dlg, IDC_CHECK) == BST_CHECKED);
                        std::fclose(f);
                    }
                    EndDialog(dlg, 1);
                    return TRUE;
                }
                case IDCANCEL:
                    EndDialog(dlg, 2);
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string mode = __argc > 1 ? __argv[1] : "";
    if (mode == "msgbox" && __argc > 2) return MessageBoxA(nullptr, __argv[2], "UI probe", MB_YESNO | MB_ICONQUESTION);
    if (mode == "dialog" && __argc > 2) {
        g_result_file = __argv[2];
        return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PROBE), nullptr, ProbeProc, 0));
    }
    if (mode == "version") {
        OSVERSIONINFOA v{};
        v.dwOSVersionInfoSize = sizeof(v);
        GetVersionExA(&v);
        return static_cast<int>(v.dwPlatformId << 16 | v.dwMajorVersion << 8 | v.dwMinorVersion);
    }
    return 100;
}
