#include "cardflash/app/update_routine.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_dialogs.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/qorv_error.h"
#include "cardflash/inventory/quick_reg.h"
#include "framework/app.h"

namespace {

PageVersionReadRestart g_restart = nullptr;

const char kRunOnceKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kAddOnRecord[] = "ISDN";
constexpr DWORD kSettleAfterFlashMs = 1500;

CString SettingsFile() {
    CConfUtilApp* app = CConfUtilApp::Get();
    return app ? app->SettingsFile() : CString();
}

bool Has(const std::vector<uint32_t>& kinds, uint32_t kind) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

// A port that does not open because its device no longer exists: the adapter was taken out (a
// port another program holds gives "access denied").
bool PortDeviceGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DEV_NOT_EXIST ||
           error == ERROR_DEVICE_NOT_CONNECTED;
}

// The port lock of one stretch of the routine, taken again after the user has freed the port.
class RetryingPortLock {
public:
    enum Outcome { kTaken, kCancelled, kGone };

    explicit RetryingPortLock(CModem* modem) : modem_(modem) {}

    // Locks until the port is open; the user may give up (nothing held). An adapter that was
    // taken out is told to the user once: asking to free its port again would never end.
    Outcome Take(CConfUtilApp* app) {
        for (;;) {
            lock_ = std::make_unique<CPortLock>(modem_);
            if (modem_->IsPortOpen()) return kTaken;
            const bool gone = PortDeviceGone(modem_->m_LastError);
            lock_.reset();
            if (gone) {
                app->MessageId(IDS_UPD_ADAPTER_REMOVED, MB_OK | MB_ICONEXCLAMATION);
                return kGone;
            }
            if (app->MessageId(IDS_UPD_PORT_IN_USE, MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) return kCancelled;
        }
    }
    // One attempt; the user is told why it failed.
    bool TakeOnce(CConfUtilApp* app) {
        lock_ = std::make_unique<CPortLock>(modem_);
        if (modem_->IsPortOpen()) return true;
        const bool gone = PortDeviceGone(modem_->m_LastError);
        lock_.reset();
        app->MessageId(gone ? IDS_UPD_ADAPTER_REMOVED : IDS_UPD_PORT_IN_USE, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    void Release() { lock_.reset(); }

private:
    CModem* modem_;
    std::unique_ptr<CPortLock> lock_;
};

// The country code read just before a flash, kept for the settings dialog after it.
void RecordCountryCode(CModem* modem) {
    int code = modem->ReadCountryCode() == kModemOk ? modem->m_CountryCode : -1;
    CUpdateSettings::WriteInt(IDS_UPD_COUNTRY, code);
}

// The command that starts the program again after the reboot; a path with a blank is quoted so
// that Windows does not take the text up to the blank as the program.
CString RunOnceCommand(const CConfUtilApp& app) {
    CString exe = app.m_ProgramFolder + "\\" + app.Title() + ".EXE";
    if (exe.Find(' ') >= 0) exe = "\"" + exe + "\"";
    return exe + " " + fw::App::Text(IDS_UPGRADE);
}

CString ShortPath(const CString& path) {
    char buf[256] = {};
    DWORD n = GetShortPathNameA(path, buf, sizeof(buf));
    return n > 0 && n < sizeof(buf) ? CString(buf) : path;
}

BOOL HandOverToFlasher(CConfUtilApp* app, CModem* modem, CMPKFile& package) {
    if (app->m_TvlMode && app->m_FlashBoth) {
        app->MessageId(IDS_UPD_NO_CMDLINE_FLASHER, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    CCardInfo* card = app->CurrentCard();
    if (!card) return FALSE;
    RetryingPortLock lock(modem);
    if (!lock.TakeOnce(app)) return FALSE;
    RecordCountryCode(modem);

    const CString& folder = app->m_ProgramFolder;
    const CString flasherName = card->m_FlashProg;
    const CString flasher = folder + "\\" + flasherName + ".EXE";
    DWORD attributes = GetFileAttributesA(flasher);
    if (flasherName.IsEmpty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        app->Message(FormatMessage2(fw::App::Text(IDS_UPD_NO_FLASHER), flasherName, folder), MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    // Without a good image the flasher would find nothing to flash after the reboot: stop here.
    const CString tempPak = folder + "\\" + fw::App::Text(IDS_UPD_TEMP_PAK);
    if (int code = package.WritePakFile(tempPak)) {
        QorvError error(code);
        app->Message(error.GetMessage(), MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    const CString valueName = app->Title();
    if (!RegisterUpgradeRestart(app)) {
        // Nothing would check the flash after the reboot, nor install the settings.
        DeleteFileA(tempPak);
        app->MessageId(IDS_UPD_RUNONCE_FAILED, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    if (app->OSInfo().m_PlatformId == VER_PLATFORM_WIN32_NT) {
        app->Message(FormatMessage2(fw::App::Text(IDS_UPD_NT_FLASHER), flasherName, folder), MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }

    // Nothing will restart the program when the flasher does not run: the RunOnce command goes.
    auto withdraw = [&] {
        CQuickReg runOnce(kRunOnceKey);
        if (runOnce.m_Open) RegDeleteValueA(runOnce.m_Key, valueName);
        app->m_RunOnceRegistered = 0;
    };
    if (app->MessageId(IDS_UPD_SHUTDOWN, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        withdraw();
        app->MessageId(IDS_UPD_CANCELLED, MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }
    CString command;
    command.Format("%s %s", ShortPath(flasher).c_str(), ShortPath(tempPak).c_str());
    std::vector<char> line(command.c_str(), command.c_str() + command.GetLength() + 1);
    STARTUPINFOA start{};
    start.cb = sizeof(start);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &start, &process)) {
        withdraw();
        app->Message(FormatMessage2(fw::App::Text(IDS_UPD_NO_LAUNCH), flasherName, flasher), MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return TRUE;
}

}  // namespace

CString FormatMessage2(const CString& format, const CString& first, const CString& second) {
    CString out;
    for (int i = 0; i < format.GetLength(); ++i) {
        char c = format[i];
        char next = i + 1 < format.GetLength() ? format[i + 1] : '\0';
        if (c == '%' && (next == '1' || next == '2')) {
            out += next == '1' ? first : second;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

void SetPageVersionReadRestart(PageVersionReadRestart restart) { g_restart = restart; }

bool RegisterUpgradeRestart(CConfUtilApp* app) {
    bool registered = false;
    {
        CQuickReg runOnce(TRUE, kRunOnceKey);
        registered = runOnce.m_Open && runOnce.SetString(app->Title(), RunOnceCommand(*app));
    }
    if (registered) app->m_RunOnceRegistered = 1;
    return registered;
}

BOOL PerformUpdate(CModem* modem, const CString& fileName, const CString& folder, CFlashDlg* page) {
    CConfUtilApp* app = CConfUtilApp::Get();
    if (!app || !modem || fileName.IsEmpty()) return FALSE;
    // The message boxes and dialogs below run message loops; a device change noticed in them
    // must not rebuild the modem list under `modem`.
    CUpdateRun running(app);
    const CString path = folder + "\\" + fileName;
    const bool nt = app->OSInfo().m_PlatformId == VER_PLATFORM_WIN32_NT;
    const bool commandLine = app->m_TvlMode || app->m_FlashBoth;
    CCardInfo* card = app->CurrentCard();
    const CString pnp = card ? card->m_PnPID : CString();

    CMPKFile package;
    std::vector<uint32_t> kinds;
    bool image = false, settings = false;
    CString version;
    if (package.SetFile(path) == 0) {
        int selected = modem->m_AddOn ? package.SelectForCard(CString(kAddOnRecord), modem)
                                      : package.SelectForCard(pnp, modem);
        if (selected == 0 && package.GetSectionKinds(&kinds) == 0) {
            if (modem->m_AddOn) {
                image = Has(kinds, mpk::kKindAddOnImage);
            } else {
                image = Has(kinds, mpk::kKindImage);
                settings = nt ? Has(kinds, 5) || Has(kinds, 7) : Has(kinds, 4) || Has(kinds, 6);
            }
            package.GetVersionText(&version);
        }
    }
    if (!image && !settings) {
        app->MessageId(IDS_UPD_NOT_SUITABLE, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    // Only two versions that both read as major.minor are compared.
    int haveMajor = 0, haveMinor = 0, newMajor = 0, newMinor = 0;
    const bool haveVersion = ParseFirmwareVersion(modem->m_FirmwareVersion, &haveMajor, &haveMinor);
    if (!version.IsEmpty() && haveVersion && ParseFirmwareVersion(version, &newMajor, &newMinor)) {
        const bool newer = newMajor > haveMajor || (newMajor == haveMajor && newMinor > haveMinor);
        if (!newer) {
            if (commandLine) {
                app->MessageId(modem->m_AddOn ? IDS_UPD_ADDON_NEWER : IDS_UPD_ISDN_ENABLED,
                               MB_OK | MB_ICONINFORMATION);
                return TRUE;
            }
            if (app->MessageId(IDS_UPD_OLDER, MB_YESNO | MB_ICONQUESTION) != IDYES) return FALSE;
        }
    }

    CString oldVersion = modem->m_FirmwareVersion;
    if (haveVersion) oldVersion.Format("%d.%d", haveMajor, haveMinor);
    CUpdateSettings::WriteText(IDS_UPD_PATH, folder);
    CUpdateSettings::WriteText(IDS_UPD_FILE, fileName);
    CUpdateSettings::WriteText(IDS_UPD_PNP, pnp);
    CUpdateSettings::WriteText(IDS_UPD_OLD_VER, oldVersion);
    CUpdateSettings::WriteText(IDS_UPD_NEW_VER, version);

    if (settings && !image) {
        CUpdModSetDlg dialog(&kinds);
        return dialog.DoModal() == IDOK ? TRUE : FALSE;
    }

    if (!modem->m_InPlaceCapable) return HandOverToFlasher(app, modem, package);

    RetryingPortLock lock(modem);
    if (lock.Take(app) != RetryingPortLock::kTaken) return FALSE;
    RecordCountryCode(modem);
    INT_PTR ended;
    {
        CFlashProgDlg progress(path, pnp, settings ? FALSE : TRUE);
        app->m_ProgressDlg = &progress;
        ended = progress.DoModal();
        // The progress callback must never reach a dialog that is gone.
        app->m_ProgressDlg = nullptr;
        lock.Release();
        Sleep(kSettleAfterFlashMs);
    }
    // A Cancel here only goes on without the lock; an adapter that was taken out ends the update
    // (its settings would go to a modem that is not there).
    if (lock.Take(app) == RetryingPortLock::kGone) return FALSE;
    bool done = ended == IDOK;
    if (done && settings) {
        // The modem runs the new firmware either way; the update is complete only with its settings.
        CUpdModSetDlg dialog(&kinds);
        done = dialog.DoModal() == IDOK;
    }
    if (page && g_restart) g_restart(page);
    lock.Release();
    return done ? TRUE : FALSE;
}

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
