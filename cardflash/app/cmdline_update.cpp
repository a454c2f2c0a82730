#include "cardflash/app/cmdline_update.h"

#include <memory>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/app/update_routine.h"
#include "cardflash/flash/modem.h"
#include "cardflash/flash/mpk_file.h"
#include "cardflash/inventory/card_info.h"

namespace {

const char kAddOnRecord[] = "ISDN";
constexpr int kAddOnMinMajor = 2, kAddOnMinMinor = 19;
constexpr DWORD kBetweenUpgradesMs = 1500;

CString FirstPackage(const CString& folder, const CString& id, uint32_t kind) {
    CMPKList list;
    list.Scan(folder, id, kind);
    return list.GetFiles().GetSize() > 0 ? list.GetFiles()[0] : CString();
}

class PortHold {
public:
    explicit PortHold(CModem* modem) : modem_(modem) {}
    // With the Retry/Cancel question while the port does not open; false when the user cancels.
    bool Take(CConfUtilApp* app) {
        for (;;) {
            lock_ = std::make_unique<CPortLock>(modem_);
            if (modem_->IsPortOpen()) return true;
            lock_.reset();
            if (app->MessageId(IDS_UPD_PORT_IN_USE, MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) return false;
        }
    }
    void Release() { lock_.reset(); }

private:
    CModem* modem_;
    std::unique_ptr<CPortLock> lock_;
};

void ReadIdentity(CModem* modem) {
    modem->ReadFirmwareVersion();
    modem->CheckFirmwareLevel();
}

}  // namespace

BOOL RunKitUpdateFromCommandLine() {
    CConfUtilApp* app = CConfUtilApp::Get();
    CModem* modem = app ? app->CurrentModem() : nullptr;
    CCardInfo* card = app ? app->CurrentCard() : nullptr;
    if (!modem) return FALSE;
    const CString& folder = app->m_ProgramFolder;

    const CString modemPackage = card ? FirstPackage(folder, card->m_PnPID, mpk::kKindImage) : CString();
    if (modemPackage.IsEmpty()) {
        modem->ReadFirmwareVersion();
        int major = 0, minor = 0;
        if (!ParseFirmwareVersion(modem->m_FirmwareVersion, &major, &minor)) major = minor = 0;
        if (major < kAddOnMinMajor || (major == kAddOnMinMajor && minor < kAddOnMinMinor))
            app->MessageId(IDS_UPD_NOT_ISDN_ENABLED, MB_OK | MB_ICONINFORMATION);
        else if (!modem->m_AddOn)
            app->MessageId(IDS_UPD_ISDN_ENABLED, MB_OK | MB_ICONINFORMATION);
    }
    const CString addOnPackage = FirstPackage(folder, CString(kAddOnRecord), mpk::kKindAddOnImage);

    PortHold port(modem);
    if (!port.Take(app)) return FALSE;
    ReadIdentity(modem);

    if (app->m_FlashBoth) {
        if (modem->m_AddOn) {
            PerformUpdate(modem, addOnPackage, folder, nullptr);
            while (modem->m_AddOn) {
                if (app->MessageId(IDS_UPD_REMOVE_ADDON, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
                    port.Release();
                    return TRUE;
                }
                modem->DetectIsdnAddOn(nullptr);
            }
            ReadIdentity(modem);
            PerformUpdate(modem, modemPackage, folder, nullptr);
        } else {
            PerformUpdate(modem, modemPackage, folder, nullptr);
            port.Release();
            Sleep(kBetweenUpgradesMs);
            if (!port.Take(app)) return FALSE;
            while (!modem->m_AddOn) {
                if (app->MessageId(IDS_UPD_INSERT_ADDON, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
                    port.Release();
                    return TRUE;
                }
                modem->DetectIsdnAddOn(nullptr);
            }
            ReadIdentity(modem);
            PerformUpdate(modem, addOnPackage, folder, nullptr);
        }
    } else if (modem->m_AddOn) {
        app->MessageId(IDS_UPD_ISDN_ENABLED, MB_OK | MB_ICONINFORMATION);
    } else {
        PerformUpdate(modem, modemPackage, folder, nullptr);
    }
    port.Release();
    return TRUE;
}
