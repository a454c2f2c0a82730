#include "cardflash/inventory/ndis.h"

#include <cstring>

#include "cardflash/inventory/bytes.h"

namespace {

// The diagnostics driver's requests and its 40-byte request block.
constexpr uint32_t kDiagOpen = 1;
constexpr uint32_t kDiagClose = 2;
constexpr uint32_t kDiagRequest = 3;
constexpr uint32_t kBlock = 40;
constexpr uint32_t kTypeQuery = 0, kTypeSet = 1, kTypeStatistics = 2;
constexpr uint32_t kMaxLength = 0xFFFF;

constexpr int kOk = 0;
constexpr int kNotImplemented = 3;
constexpr int kCannotOpen = 10;
constexpr int kOidNotSupported = 11;
constexpr int kDriverNotAvailable = 12;

}  // namespace

// --- NdisAccess --------------------------------------------------------------------------------

NdisAccess::NdisAccess() : m_OSInfo(TRUE) {}

NdisAccess::~NdisAccess() { Close(); }

BOOL NdisAccess::Open(const CString& deviceName) {
    Close();
    m_DevicePath = "\\\\.\\" + deviceName;
    if (m_OSInfo.m_PlatformId != VER_PLATFORM_WIN32_NT) {
        drv::OpenRequest r;
        r.path = "\\\\.\\DIAG.VXD";
        r.disposition = drv::win::kCreateNew;
        r.attributes = drv::win::kFlagDeleteOnClose;
        m_Diag = drv::DriverAccess::Open(r);
        if (!m_Diag) return FALSE;
        uint8_t status[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        uint32_t got = 0;
        bool ok = m_Diag->Control(kDiagOpen, deviceName.c_str(), static_cast<uint32_t>(deviceName.GetLength()), status,
                                  sizeof(status), &got);
        m_Status = ok && got >= 4 ? GetLE32(status) : 0xFFFFFFFFu;
        if (!ok || m_Status != 0) {
            m_Diag.reset();
            return FALSE;
        }
        return TRUE;
    }

    m_DosName = deviceName;
    m_DosTarget = "\\Device\\" + deviceName;
    char target[1024];
    if (QueryDosDeviceA(m_DosName.c_str(), target, sizeof(target)) == 0) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            m_Status = error;
            return FALSE;
        }
        if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, m_DosName.c_str(), m_DosTarget.c_str())) {
            m_Status = GetLastError();
            return FALSE;
        }
        m_DefinedDosName = true;
    }
    drv::OpenRequest r;
    r.path = m_DevicePath.str();
    r.access = drv::win::kGenericRead;
    r.share = drv::win::kShareRead | drv::win::kShareWrite;
    r.disposition = drv::win::kOpenExisting;
    m_Device = drv::DriverAccess::Open(r);
    if (!m_Device) {
        RemoveDosName();  // the name was only for this open
        return FALSE;
    }
    return TRUE;
}

void NdisAccess::RemoveDosName() {
    if (!m_DefinedDosName) return;
    DefineDosDeviceA(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, m_DosName.c_str(),
                     m_DosTarget.c_str());
    m_DefinedDosName = false;
}

uint32_t NdisAccess::Request(uint32_t type, uint32_t oid, void* buffer, uint32_t length) {
    if (!m_Diag) return 0;
    if (length > kMaxLength) length = kMaxLength;
    uint8_t block[kBlock] = {};
    PutLE32(block + 16, type);
    PutLE32(block + 20, oid);
    PutLE32(block + 24, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer)));
    PutLE32(block + 28, length);
    PutLE32(block + 36, length);
    uint32_t got = 0;
    if (!m_Diag->Control(kDiagRequest, block, kBlock, block, kBlock, &got)) return 0;
    uint32_t written = GetLE32(block + 32);
    return written <= length ? written : 0;  // a claim past the caller's buffer is no answer
}

uint32_t NdisAccess::Query(uint32_t oid, void* buffer, uint32_t length) {
    if (m_OSInfo.m_PlatformId != VER_PLATFORM_WIN32_NT)
        return Request((oid >> 16) == 0x0002 ? kTypeStatistics : kTypeQuery, oid, buffer, length);
    if (!m_Device) return 0;
    uint32_t got = 0;
    if (!m_Device->Control(ndis::kQueryGlobalStats, &oid, sizeof(oid), buffer, length, &got)) return 0;
    return got <= length ? got : 0;
}

uint32_t NdisAccess::Set(uint32_t oid, const void* buffer, uint32_t length) {
    if (m_OSInfo.m_PlatformId == VER_PLATFORM_WIN32_NT) return 0;
    return Request(kTypeSet, oid, const_cast<void*>(buffer), length);
}

BOOL NdisAccess::Close() {
    BOOL result = TRUE;
    if (m_Diag) {
        uint8_t in[4] = {}, out[4] = {};
        uint32_t got = 0;
        if (!m_Diag->Control(kDiagClose, in, sizeof(in), out, sizeof(out), &got)) result = FALSE;
        m_Diag.reset();
    }
    RemoveDosName();
    m_Device.reset();
    return result;
}

// --- NetAdapterInfo ----------------------------------------------------------------------------

int NetAdapterInfo::Open(const CString& deviceName) {
    Close();
    m_DeviceName = deviceName;
    m_Access = std::make_unique<NdisAccess>();
    if (!m_Access->Open(deviceName)) {
        m_Access.reset();
        return kCannotOpen;
    }
    m_Open = true;

    uint32_t value = 0;
    m_LinkSpeed = m_Access->Query(ndis::kGenLinkSpeed, &value, 4) == 4 ? value : 0;
    value = 0;
    m_VendorId = m_Access->Query(ndis::kGenVendorId, &value, 4) == 4 ? value : 0;

    m_AnswerLength = m_Access->Query(ndis::kGenVendorDescription, m_Answer, kAnswerBuffer);
    if (m_AnswerLength > 0) {
        const char* text = reinterpret_cast<const char*>(m_Answer);
        m_Description = CString(text, static_cast<int>(strnlen(text, m_AnswerLength)));
    }

    m_AddressText = "00 00 00 00 00 00";
    uint8_t mac[6] = {};
    if (m_Access->Query(ndis::k8023PermanentAddress, mac, sizeof(mac)) == sizeof(mac))
        // Two upper-case digits per byte ("%02.2X" prints the same; the compiler objects to the flag).
        m_AddressText.Format("%2.2X %2.2X %2.2X %2.2X %2.2X %2.2X", mac[0], mac[1], mac[2], mac[3], mac[4],
                             mac[5]);

    // The OIDs the driver serves, so that SetOid can tell which it may send.
    m_SupportedOids.clear();
    m_AnswerLength = m_Access->Query(ndis::kGenSupportedList, m_Answer, kAnswerBuffer);
    for (uint32_t i = 0; i + 4 <= m_AnswerLength; i += 4) m_SupportedOids.push_back(GetLE32(m_Answer + i));
    return kOk;
}

int NetAdapterInfo::Open(const CString& name, uint32_t number) {
    CString full;
    full.Format("%s%u", name.c_str(), static_cast<unsigned>(number));
    return Open(full);
}

int NetAdapterInfo::Open(const CString& first, const CString& second) { return Open(first + second); }

int NetAdapterInfo::Close() {
    if (m_Open && m_Access) m_Access->Close();
    m_Access.reset();
    m_Open = false;
    return kOk;
}

int NetAdapterInfo::Counter(uint32_t oid, uint32_t* value) {
    if (!m_Access) return kOidNotSupported;
    std::memset(m_Answer, 0, 8);
    m_AnswerLength = m_Access->Query(oid, m_Answer, kAnswerBuffer);
    if (m_AnswerLength == 0) return kOidNotSupported;
    *value = GetLE32(m_Answer);
    return kOk;
}

int NetAdapterInfo::GetDirectedBytesXmit(uint64_t* value) {
    uint32_t low = 0;
    int r = Counter(ndis::kGenDirectedBytesXmit, &low);
    if (r == kOk) *value = m_AnswerLength >= 8 ? (uint64_t(GetLE32(m_Answer + 4)) << 32) | low : uint64_t(low);
    return r;
}

int NetAdapterInfo::GetDirectedBytesRcv(uint64_t* value) {
    uint32_t low = 0;
    int r = Counter(ndis::kGenDirectedBytesRcv, &low);
    if (r == kOk) *value = m_AnswerLength >= 8 ? (uint64_t(GetLE32(m_Answer + 4)) << 32) | low : uint64_t(low);
    return r;
}

int NetAdapterInfo::GetXmitOk(uint32_t* value) { return Counter(ndis::kGenXmitOk, value); }
int NetAdapterInfo::GetRcvOk(uint32_t* value) { return Counter(ndis::kGenRcvOk, value); }
int NetAdapterInfo::GetXmitError(uint32_t* value) { return Counter(ndis::kGenXmitError, value); }
int NetAdapterInfo::GetRcvError(uint32_t* value) { return Counter(ndis::kGenRcvError, value); }
int NetAdapterInfo::GetRcvCrcError(uint32_t*) { return kNotImplemented; }
int NetAdapterInfo::GetRcvNoBuffer(uint32_t*) { return kNotImplemented; }
int NetAdapterInfo::GetTransmitQueueLength(uint32_t*) { return kNotImplemented; }

int NetAdapterInfo::GetSupportedOids(std::vector<uint32_t>* oids) const {
    oids->insert(oids->end(), m_SupportedOids.begin(), m_SupportedOids.end());
    return kOk;
}

int NetAdapterInfo::SetOid(uint32_t oid, const void* buffer, uint32_t* length) {
    bool supported = false;
    for (uint32_t o : m_SupportedOids) supported = supported || o == oid;
    if (!supported || !m_Access) return kOidNotSupported;
    uint32_t written = m_Access->Set(oid, buffer, *length & 0xFFFF);
    if (written == *length) return kOk;
    *length = written;
    return kDriverNotAvailable;
}
