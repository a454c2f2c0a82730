#include "cardflash/app/about_dlg.h"

#include <windows.h>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "framework/app.h"

namespace {

// A text of the version resource's US English block; " " when it is missing or empty.
CString VersionText(const void* block, const char* name) {
    CString path = CString("\\StringFileInfo\\040904B0\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, path, reinterpret_cast<void**>(&value), &length) || !value || length == 0 || !*value)
        return " ";
    // The value's length counts its terminator; a resource without one ends at its length.
    UINT n = 0;
    while (n < length && value[n]) ++n;
    return CString(value, static_cast<int>(n));
}

}  // namespace

CAboutDlg::CAboutDlg() : fw::PropertyPage(IDD_ABOUT_PAGE) {}

bool CAboutDlg::OnInitDialog() {
    CConfUtilApp* app = CConfUtilApp::Get();
    CString file = app->m_ProgramFolder + "\\" + app->Title() + ".EXE";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0) return true;  // the dialog's own texts stay

    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return true;
    void* block = GlobalLock(memory);
    if (block && GetFileVersionInfoA(file, 0, size, block)) {
        SetItemText(IDC_ABOUT_VERSION, VersionText(block, "ProductVersion"));
        SetItemText(IDC_ABOUT_COPYRIGHT, VersionText(block, "LegalCopyright"));
        SetItemText(IDC_ABOUT_NAME, fw::App::Text(IDS_SHEET_CAPTION));
    }
    if (block) GlobalUnlock(memory);
    GlobalFree(memory);

    char version[51] = {};
    GetPrivateProfileStringA("Version", "Version", " ", version, sizeof(version), app->m_DeviceDbPath);
    SetItemText(IDC_ABOUT_DB_VERSION, version);
    return true;
}
