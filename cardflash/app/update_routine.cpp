#include "cardflash/app/update_routine.h"

#include <cstdio>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_dialogs.h"
#include "framework/app.h"

namespace {

PageVersionReadRestart g_restart = nullptr;

CString SettingsFile() {
    CConfUtilApp* app = CConfUtilApp::Get();
    return app ? app->SettingsFile() : CString();
}

}  // namespace

void SetPageVersionReadRestart(PageVersionReadRestart restart) { g_restart = restart; }

CString CUpdateSettings::ReadText(UINT keyId, const char* defaultValue) {
    char buf[1024] = {};
    GetPrivateProfileStringA(fw::App::Text(IDS_UPD_SECTION), fw::App::Text(keyId), defaultValue, buf, sizeof(buf),
                             SettingsFile());
    return buf;
}

void CUpdateSettings::WriteText(UINT keyId, const CString& value) {
    WritePrivateProfileStringA(fw::App::Text(IDS_UPD_SECTION), fw::App::Text(keyId), value, SettingsFile());
}

int CUpdateSettings::ReadInt(UINT keyId, int defaultValue) {
    return static_cast<int>(
        GetPrivateProfileIntA(fw::App::Text(IDS_UPD_SECTION), fw::App::Text(keyId), defaultValue, SettingsFile()));
}

void CUpdateSettings::WriteInt(UINT keyId, int value) {
    CString text;
    text.Format("%d", value);
    WriteText(keyId, text);
}

CString CUpdateSettings::ReadPath(const CString& defaultValue) {
    CString path = ReadText(IDS_UPD_PATH);
    return path.IsEmpty() ? defaultValue : path;
}

void CUpdateSettings::WritePath(const CString& folder) { WriteText(IDS_UPD_PATH, folder); }

bool ParseFirmwareVersion(const char* text, int* major, int* minor) {
    int a = 0, b = 0;
    if (!text || std::sscanf(text, "%d.%d", &a, &b) != 2) return false;
    *major = a;
    *minor = b;
    return true;
}
