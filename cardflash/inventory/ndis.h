// NDIS object-identifier queries to a network adapter's driver: on Windows 9x through the NDIS
// diagnostics driver "\\.\DIAG.VXD", on Windows NT through the adapter's device object with
// IOCTL_NDIS_QUERY_GLOBAL_STATS. NetAdapterInfo reads an adapter's fixed facts and counters.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "cardflash/inventory/driver_access.h"
#include "cardflash/inventory/os_info.h"
#include "framework/cstring.h"

namespace ndis {
constexpr uint32_t kQueryGlobalStats = 0x170002;  // IOCTL_NDIS_QUERY_GLOBAL_STATS
constexpr uint32_t kGenSupportedList = 0x00010101;
constexpr uint32_t kGenLinkSpeed = 0x00010107;
constexpr uint32_t kGenVendorId = 0x0001010C;
constexpr uint32_t kGenVendorDescription = 0x0001010D;
constexpr uint32_t k8023PermanentAddress = 0x01010101;
constexpr uint32_t kGenDirectedBytesXmit = 0x00020201;
constexpr uint32_t kGenDirectedBytesRcv = 0x00020207;
constexpr uint32_t kGenXmitOk = 0x00020101;
constexpr uint32_t kGenRcvOk = 0x00020102;
constexpr uint32_t kGenXmitError = 0x00020103;
constexpr uint32_t kGenRcvError = 0x00020104;
}  // namespace ndis

class NdisAccess {
public:
    NdisAccess();
    ~NdisAccess();
    NdisAccess(const NdisAccess&) = delete;
    NdisAccess& operator=(const NdisAccess&) = delete;

    BOOL Open(const CString& deviceName);
    uint32_t Query(uint32_t oid, void* buffer, uint32_t length);
    uint32_t Set(uint32_t oid, const void* buffer, uint32_t length);
    BOOL Close();

    uint32_t status() const { return m_Status; }

private:
    uint32_t Request(uint32_t type, uint32_t oid, void* buffer, uint32_t length);
    void RemoveDosName();

    uint32_t m_Status = 0;
    CString m_DevicePath;
    COSInfo m_OSInfo;
    std::unique_ptr<drv::DriverHandle> m_Diag;    // Windows 9x
    std::unique_ptr<drv::DriverHandle> m_Device;  // Windows NT
    CString m_DosName;
    CString m_DosTarget;
    bool m_DefinedDosName = false;
};

class NetAdapterInfo {
public:
    static constexpr int kAnswerBuffer = 1024;

    NetAdapterInfo() = default;
    ~NetAdapterInfo() { Close(); }
    NetAdapterInfo(const NetAdapterInfo&) = delete;
    NetAdapterInfo& operator=(const NetAdapterInfo&) = delete;

    int Open(const CString& deviceName);
    int Open(const CString& name, uint32_t number);
    int Open(const CString& first, const CString& second);
    int Open(const char* text) { return Open(CString(text)); }
    int Close();

    int GetLinkSpeed(uint32_t* value) const { *value = m_LinkSpeed; return 0; }
    int GetVendorId(uint32_t* value) const { *value = m_VendorId; return 0; }
    int GetDescription(CString* value) const { *value = m_Description; return 0; }
    int GetAddressText(CString* value) const { *value = m_AddressText; return 0; }

    int GetDirectedBytesXmit(uint64_t* value);
    int GetDirectedBytesRcv(uint64_t* value);
    int GetXmitOk(uint32_t* value);
    int GetRcvOk(uint32_t* value);
    int GetXmitError(uint32_t* value);
    int GetRcvError(uint32_t* value);
    int GetRcvCrcError(uint32_t* value);
    int GetRcvNoBuffer(uint32_t* value);
    int GetTransmitQueueLength(uint32_t* value);

    int GetSupportedOids(std::vector<uint32_t>* oids) const;
    int SetOid(uint32_t oid, const void* buffer, uint32_t* length);

private:
    int Counter(uint32_t oid, uint32_t* value);

    std::vector<uint32_t> m_SupportedOids;
    uint32_t m_LinkSpeed = 0;
    uint32_t m_VendorId = 0;
    CString m_Description;
    CString m_AddressText = "00 00 00 00 00 00";
    uint8_t m_Answer[kAnswerBuffer] = {};
    uint32_t m_AnswerLength = 0;
    CString m_DeviceName;
    std::unique_ptr<NdisAccess> m_Access;
    bool m_Open = false;
};
