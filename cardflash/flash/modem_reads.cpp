// The modem's identity reads: each inside one CPortLock, 3 seconds per command, "OK\r" expected
// unless said otherwise.
#include <cstdlib>

#include "cardflash/flash/isdntrace.h"
#include "cardflash/flash/modem.h"
#include "cardflash/inventory/static_card_info.h"

namespace {

const int kSeconds = 3;

}  // namespace

bool CModem::BootLoaderOnEchoOff(int& result) {
    CString reply;
    result = Exchange(Command(kAtEchoOff), reply, kReplyOk, kSeconds);
    return result != kModemOk && IsBootLoaderReply(reply);
}

template <class Parse>
int CModem::FramedRead(int command, Parse parse) {
    CString reply;
    int result = Exchange(Command(kAtEchoOff), reply, kReplyOk, kSeconds);
    if (result != kModemOk) return result;
    result = Exchange(Command(command), reply, kReplyOk, kSeconds);
    if (result == kModemOk && !parse(reply)) result = kModemNotUnderstood;
    CString ignored;
    Exchange(Command(kAtEchoOn), ignored, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadFirmwareVersion() {
    CPortLock lock(this);
    CString reply;
    int result = Exchange(Command(kAtEchoOff), reply, kReplyOk, 1);
    if (result != kModemOk) {
        if (!IsBootLoaderReply(reply)) result = Exchange(Command(kAtEchoOff), reply, kReplyOk, kSeconds);
        if (result != kModemOk) {
            if (!IsBootLoaderReply(reply)) return result;
            m_FirmwareVersion = TableText(*m_Strings, kStrBootLoaderActive);
            return kModemOk;
        }
    }
    if (m_AddOn) {
        result = Exchange(Command(kAtAddOnVersion), reply, kReplyOk, kSeconds);
        if (result == kModemOk) m_FirmwareVersion = ParseAddOnVersion(reply);
    } else {
        CStringArray lines;
        result = SendCommand(Command(kAtFirmwareVersion), lines, kReplyOk, kSeconds);
        if (result == kModemOk) {
            CString version;
            if (ParseVersionLines(lines, version))
                m_FirmwareVersion = version;
            else
                result = kModemNotUnderstood;
        }
    }
    CString ignored;
    Exchange(Command(kAtEchoOn), ignored, kReplyOk, kSeconds);
    return result;
}

int CModem::CheckFirmwareLevel() {
    // The lock's fresh open tells whether the add-on is plugged in now.
    CPortLock lock(this);
    if (m_AddOn) {
        m_InPlaceCapable = 1;
        return kModemOk;
    }
    int result = ReadFirmwareVersion();
    if (result != kModemOk) return result;
    m_InPlaceCapable = IsInPlaceLevel(m_FirmwareVersion) ? 1 : 0;
    return m_InPlaceCapable ? kModemOk : kModemFirmwareOld;
}

int CModem::ReadCountryCode() {
    CPortLock lock(this);
    return FramedRead(kAtCountryCode, [&](const CString& reply) {
        int code = 0;
        if (!ParseCountryCode(reply, code)) return false;
        m_CountryCode = code;
        return true;
    });
}

int CModem::ReadCountryList() {
    CPortLock lock(this);
    m_CountryList.clear();
    return FramedRead(kAtCountryList, [&](const CString& reply) { return ParseCountryList(reply, m_CountryList); });
}

int CModem::SetCountryCode(int code) {
    CString command;
    // The "none read" value -1 (or any code a byte cannot carry) is no code: nothing is sent, and
    // above all no factory reset follows.
    if (!CountryCodeCommand(code, command)) return kModemNotUnderstood;
    // The add-on test comes after the lock's fresh open: an add-on plugged in since the last open
    // must not get the modem's country code and factory reset.
    CPortLock lock(this);
    if (m_AddOn) return kModemOk;
    CString reply;
    int result = Exchange(Command(kAtEchoOff), reply, kReplyOk, kSeconds);
    if (result != kModemOk) return result;
    result = Exchange(command, reply, kReplyOk, kSeconds);
    if (result == kModemOk) m_CountryCode = code;
    Exchange(Command(kAtFactoryReset), reply, kReplyOk, kSeconds);
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadModuleId() {
    CPortLock lock(this);
    int result;
    if (BootLoaderOnEchoOff(result)) {
        m_ModuleId = kAddOnName;
        return kModemOk;
    }
    if (result != kModemOk) return result;
    CString reply;
    result = Exchange(Command(m_AddOn ? kAtAddOnIdentity : kAtModuleId), reply, kReplyOk, kSeconds);
    if (result == kModemOk) {
        CString value;
        if (ParseColonValue(reply, value))
            m_ModuleId = value;
        else
            result = kModemNotUnderstood;
    }
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadIdentity() {
    CPortLock lock(this);
    int result;
    if (BootLoaderOnEchoOff(result)) {
        m_Identity = kAddOnName;
        return kModemOk;
    }
    if (result != kModemOk) return result;
    CString reply;
    result = Exchange(Command(kAtIdentity), reply, kReplyOk, kSeconds);
    if (result == kModemOk) {
        CString value;
        if (ParseColonValue(reply, value))
            m_Identity = value;
        else
            result = kModemNotUnderstood;
    }
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadManufacturer() {
    CPortLock lock(this);
    int result;
    if (BootLoaderOnEchoOff(result)) {
        m_Manufacturer = kAddOnMaker;
        return kModemOk;
    }
    if (result != kModemOk) return result;
    CString reply;
    result = Exchange(Command(m_AddOn ? kAtAddOnManufacturer : kAtManufacturer), reply, kReplyOk, kSeconds);
    if (result == kModemOk) m_Manufacturer = ParseBeforeOk(reply);
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadBoardCode() {
    if (m_AddOn) return kModemNoBoardCode;
    CPortLock lock(this);
    return FramedRead(kAtSavedSettings, [&](const CString& reply) {
        m_BoardCode = ParseBoardCode(reply);
        return true;
    });
}

int CModem::ReadCableType() {
    CPortLock lock(this);  // one open around both reads
    ReadModuleId();
    if (m_AddOn) return kModemOk;
    return FramedRead(kAtCableTypes, [&](const CString& reply) {
        m_LineType = ParseCableTypes(reply, m_ModuleId, *m_Strings);
        return true;
    });
}

int CModem::ReadModuleInfoLocked() {
    if (m_AddOn) {
        int result = ReadFirmwareVersion();
        if (result == kModemOk) m_ReportVersion = m_FirmwareVersion;
        return result;
    }
    CString reply;
    int result = Exchange(Command(kAtEchoOff), reply, kReplyOk, kSeconds);
    if (result != kModemOk) return result;
    CString info;
    if (Exchange(Command(kAtModuleInfo), info, kReplyOk, kSeconds) != kModemOk) {
        m_ModuleInfo = info;
        result = ReadFirmwareVersion();
        if (result == kModemOk) m_ReportVersion = m_FirmwareVersion;
    } else {
        m_ModuleInfo = info;
        ModuleInfo parsed = ParseModuleInfo(info, *m_Strings);
        m_Cable = parsed.cable;
        m_SpareText.Empty();
        m_LineType = parsed.lineType;
        m_FirmwareVersion = parsed.firmwareVersion;
        m_ReportVersion = parsed.firmwareVersion;
    }
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::ReadModuleInfo() {
    CPortLock lock(this);
    return ReadModuleInfoLocked();
}

int CModem::ReadConfigurationAddOn() {
    CString reply;
    if (Exchange(Command(kAtConfigMode), reply, kConfigPrompt, kSeconds) == kModemOk) {
        reply.Empty();
        if (Exchange(Command(kAtTraceRead), reply, kTracePrompt, kSeconds) == kModemOk) {
            if (DecodeTrace(reply, m_TraceText, m_TraceMask & 0xFF)) {
                TraceCallLog log = LastTraceCallLog();
                m_Report.terminationCause = log.cause;
                m_Report.callSetupResult = log.callType;
                m_Report.text110 = log.callText;
            } else {
                m_Report.callSetupResult = TableText(*m_Strings, kStrNoPreviousCall);
                m_Report.text110 = m_Report.callSetupResult;
            }
        }
        Exchange(Command(kAtQuit), reply, "\r", kSeconds);
        Exchange(Command(kAtTraceClear), reply, kReplyOk, kSeconds);
        m_TraceRead = 1;
    }
    if (ReadFirmwareVersion() == kModemOk) m_ReportVersion = m_FirmwareVersion;
    m_Report.connectionType = TableText(*m_Strings, kStrConnectionIsdn);
    CStaticCardInfo db("DORVEX\\TVL");
    CString name;
    if (db.FindSection("GEN_PNPID_") == CStaticCardInfo::kFound && db.GetValue("GEN_SHORTNAME", &name) == CStaticCardInfo::kFound)
        m_ShortName = name;
    return kModemOk;
}

int CModem::ReadConfigurationModem() {
    CString report;
    int result = Exchange(Command(kAtCallReport), report, kReplyOk, kSeconds);
    m_DiagnosticReport = report;
    if (result == kModemOk) {
        if (ReadBoardCode() == kModemOk) {
            CStaticCardInfo db(m_CardDescription);
            CString name;
            if (db.FindSectionFor("MODEM_SB2_", m_BoardCode) == CStaticCardInfo::kFound &&
                db.GetValue("GEN_SHORTNAME", &name) == CStaticCardInfo::kFound)
                m_ShortName = name;
        }
        m_Report = ParseCallReport(report, *m_Strings);
        m_ReportVersion = m_Report.reportVersion;
    }
    // A card without a report of its last call still tells its module information.
    ReadModuleInfoLocked();
    return kModemOk;
}

int CModem::ReadConfiguration() {
    CPortLock lock(this);
    m_TraceText.Empty();
    m_ReportVersion.Empty();
    m_Report = CallReport();
    m_TraceRead = 0;
    CStringArray lines;
    int result = SendCommand(Command(kAtEchoOff), lines, kReplyOk, kSeconds);
    if (result != kModemOk) return result;
    if (m_AddOn)
        ReadConfigurationAddOn();
    else
        ReadConfigurationModem();
    CString reply;
    Exchange(Command(kAtEchoOn), reply, kReplyOk, kSeconds);
    return result;
}

int CModem::SetTraceMask(int mask) {
    CPortLock lock(this);
    if (!m_AddOn) return kModemOk;
    m_TraceMask = mask;
    CString reply;
    return Exchange(TraceMaskCommand(mask), reply, kReplyOk, kSeconds);
}
