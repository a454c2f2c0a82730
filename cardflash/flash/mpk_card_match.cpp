#include "cardflash/flash/mpk_card_match.h"

#include "cardflash/flash/fw_codes.h"
#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/os_info.h"
#include "cardflash/inventory/static_card_info.h"

CMpkCardResolver::ModemIdentity CMpkCardResolver::GatherIdentity(const CString& pnp_id) const {
    ModemIdentity identity;
    if (modem_) {
        // A text counts only when its query answered; a failed read leaves stale or empty text.
        if (modem_->ReadManufacturer() == kModemOk) identity.manufacturer = modem_->m_Manufacturer;
        if (modem_->ReadBoardCode() == kModemOk) identity.board_code = modem_->m_BoardCode;
        if (modem_->ReadModuleId() == kModemOk) identity.module_id = modem_->m_ModuleId;
        if (modem_->ReadIdentity() == kModemOk) identity.ati5 = modem_->m_Identity;
        return identity;
    }
    const CCardInfo card(pnp_id, FALSE);
    identity.manufacturer = card.m_ModemManufacturer;
    identity.board_code = card.m_ModemBoardCode;
    identity.module_id = card.m_ModemModuleId;
    identity.ati5 = card.m_ModemIdentity;
    return identity;
}

int CMpkCardResolver::ResolvePackageId(const CString& pnp_id, CString* package_id) {
    CString id = pnp_id;
    const COSInfo os(FALSE);
    if (os.m_OSIndex == OS_WIN2000) {
        // Windows 2000 names a generic modem after its driver, not after the card: the modem's
        // own identity tells which model it is.
        CStaticCardInfo database(id);
        ModemIdentity identity;
        if (id.Find("MDMGEN") >= 0) identity = GatherIdentity(id);
        const bool found =
            database.FindSection("GEN_NT4ID_") == CStaticCardInfo::kFound ||
            database.FindSection("MODEM_NT4ID_") == CStaticCardInfo::kFound ||
            database.FindSection("MODEM_UNI_") == CStaticCardInfo::kFound ||
            database.SearchSections("MODEM_SB2_", identity.board_code, identity.manufacturer) ==
                CStaticCardInfo::kFound ||
            database.SearchSections("MODEM_I5_", identity.ati5, identity.manufacturer) ==
                CStaticCardInfo::kFound ||
            database.SearchSections("MODEM_XMA_", identity.module_id, identity.manufacturer) ==
                CStaticCardInfo::kFound;
        CString model;
        if (found && database.GetValue("GEN_PNPID_", &model) == CStaticCardInfo::kFound) {
            if (model.IsEmpty()) return fwcode::kMpkNoRecord;
            id = model;
        }
    }
    // On every Windows the hardware id may carry more than the model's id (a revision, a
    // function number); the model's section names the id its records go by.
    const CCardInfo card(id, FALSE);
    CStaticCardInfo database(id);
    CString model;
    if (database.FindSectionFor("GEN_PNPID_", card.m_HardwareID) == CStaticCardInfo::kFound &&
        database.GetValue("GEN_PNPID_", &model) == CStaticCardInfo::kFound) {
        if (model.IsEmpty()) return fwcode::kMpkNoRecord;
        id = model;
    }
    *package_id = id;
    return fwcode::kOk;
}

int CMPKFile::SelectForCard(const CString& pnp_id, CModem* modem) {
    CMpkCardResolver resolver(modem);
    return SelectForCard(pnp_id, static_cast<CMpkIdResolver*>(&resolver));
}
