#include "cardflash/inventory/card_info.h"

#include "cardflash/inventory/log.h"
#include "cardflash/inventory/static_card_info.h"
#include "watchsvc/client/RegistryClient.h"

namespace {

CCardInfoReaders& Readers() {
    static CCardInfoReaders readers = CCardInfo::BuiltInReaders();
    return readers;
}

// The database value of `key`, empty when it is missing.
CString DatabaseValue(CStaticCardInfo& db, const char* key) {
    CString value;
    if (db.GetValue(key, &value) != CStaticCardInfo::kFound) value.Empty();
    return value;
}

}  // namespace

CCardInfoReaders CCardInfo::SetReaders(const CCardInfoReaders& readers) {
    CCardInfoReaders previous = Readers();
    Readers() = readers;
    return previous;
}

void CCardInfo::TakeFlashFlags(CStaticCardInfo& db) {
    m_FlashProg = DatabaseValue(db, "MODEM_FLASHPROG");
    m_CountrySelect = DatabaseValue(db, "MODEM_COUNTRYSELECT") == "1";
    m_CallLogging = DatabaseValue(db, "MODEM_CALLLOGGING") == "1";
    m_FlashModeAT = DatabaseValue(db, "MODEM_FLASHMODE") == "AT";
}

CCardInfo::CCardInfo(CString pnpId, BOOL readResources) : m_PnPID(pnpId) {
    CStaticCardInfo db(m_PnPID);
    const CCardInfoReaders& readers = Readers();
    if (m_OSInfo.m_PlatformId == VER_PLATFORM_WIN32_NT) {
        switch (m_OSInfo.m_OSIndex) {
        case OS_NT351:
            if (readers.nt351) readers.nt351(*this);
            // The card's key is its CIS id; the database names such keys in the NT families.
            // Without this lookup no NT 3.51 card would ever count as the maker's.
            if (db.FindSection("GEN_NT4ID_") == CStaticCardInfo::kFound ||
                db.FindSection("MODEM_NT4ID_") == CStaticCardInfo::kFound ||
                db.FindSection("MODEM_UNI_") == CStaticCardInfo::kFound) {
                m_StaticInfo = TRUE;
                TakeFlashFlags(db);
            }
            break;
        case OS_NT40:
            m_StaticInfo = db.FindSection("GEN_NT4ID_") == CStaticCardInfo::kFound;
            if (readers.nt40) readers.nt40(*this);
            break;
        case OS_WIN2000:
            m_StaticInfo = db.FindSection("GEN_PNPID_") == CStaticCardInfo::kFound;
            // A registry service failure ends the reading, not the program: the record says why
            // the rest is missing and counts as unread (no database match), so the adapter lists
            // drop it instead of showing a half-read adapter.
            try {
                if (readers.win2000) readers.win2000(*this);
            } catch (const watchsvc::CComError& e) {
                m_ReadError = e.Error();
                m_StaticInfo = FALSE;
            }
            break;
        default:
            break;
        }
    } else {
        if (readers.win9x) readers.win9x(*this, readResources);
        int found;
        if (m_PnPID.Find("PCI") >= 0 && m_OSInfo.m_Win9xIndex != OS_WIN98)
            found = db.SearchSections("GEN_PNPID_", m_HardwareID, "");
        else
            found = db.FindSection("GEN_PNPID_");
        m_StaticInfo = found == CStaticCardInfo::kFound;
        if (m_StaticInfo) TakeFlashFlags(db);
    }
    m_BaseDesc = m_DeviceDesc;
}

void CCardInfo::UpdateDescription(BOOL kitPresent) {
    m_DeviceDesc = m_BaseDesc;
    if (!kitPresent || !(m_Flags & kFlagModem)) return;
    CString kit;
    if (!kit.LoadString(kStrIsdnKit)) return;
    int plus = m_DeviceDesc.Find('+');
    if (plus >= 0)
        m_DeviceDesc = m_DeviceDesc.Left(plus) + kit;
    else if (m_DeviceDesc.Find("ISDN") < 0)
        m_DeviceDesc += kit;
}

void CCardInfo::Dump(CString fileName) {
    CLog log;
    log.Open(fileName, 1, CLog::kPlain);
    if (!log.is_open()) return;
    const int m = CLog::kPlain;
    log.Printf(m, "m_PnPID\t\t= %s\n", m_PnPID.c_str());
    log.Printf(m, "m_Manufacturer\t= %s\n", m_Manufacturer.c_str());
    log.Printf(m, "m_DeviceDesc\t= %s\n", m_DeviceDesc.c_str());
    log.Printf(m, "m_DeviceClass\t= %s\n", m_DeviceClass.c_str());
    log.Printf(m, "m_HardwareID\t= %s\n", m_HardwareID.c_str());
    log.Printf(m, "m_HardWareKey\t= %s\n", m_HardWareKey.c_str());
    log.Printf(m, "m_DevNode\t\t= %s\n\n", m_DevNode.c_str());
    log.Printf(m, m_CardInserted ? "m_CardInserted\t= YES\n" : "m_CardInserted\t= NO\n");
    log.Printf(m, m_OSR2MFBug ? "m_OSR2MFBug\t\t= YES\n" : "m_OSR2MFBug\t\t= NO\n");
    log.Printf(m, m_MFCard ? "m_MFCard\t\t= YES\n" : "m_MFCard\t\t= NO\n");
    log.Printf(m, "\n");
    log.Printf(m, "m_NetClassDriver\t= %s\n", m_NetClassDriver.c_str());
    log.Printf(m, "m_NetDriver\t\t= %s\n", m_NetDriver.c_str());
    log.Printf(m, "m_NetINF\t\t= %s\n", m_NetINF.c_str());
    log.Printf(m, "m_NetDriverVersion\t= %s\n", m_NetDriverVersion.c_str());
    log.Printf(m, "m_NetDriverDate\t= %s\n", m_NetDriverDate.c_str());
    log.Printf(m, "m_NetIPAddress\t\t= %s\n\n", m_NetIPAddress.c_str());
    if (m_NetBindings.IsEmpty()) {
        log.Printf(m, "No net bindings\n\n");
    } else {
        log.Printf(m, "Net bindings:\n");
        for (int i = 0; i < m_NetBindings.GetSize(); ++i) log.Printf(m, "\t%s\n", m_NetBindings.GetAt(i).c_str());
        log.Printf(m, "\n");
    }
    log.Printf(m, "m_ModemClassDriver\t= %s\n", m_ModemClassDriver.c_str());
    log.Printf(m, "m_ModemComPort\t= %s\n", m_ModemComPort.c_str());
    log.Printf(m, "m_ModemDriver\t= %s\n", m_ModemDriver.c_str());
    log.Printf(m, "m_ModemINF\t\t= %s\n\n", m_ModemINF.c_str());
    log.Printf(m, "m_MFClassDriver\t= %s\n", m_MFClassDriver.c_str());
    log.Printf(m, "m_MFINF\t\t= %s\n", m_MFINF.c_str());
    log.Close();
}
