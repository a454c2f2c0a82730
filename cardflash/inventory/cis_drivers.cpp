// CCis reads through the card drivers.
#include <windows.h>

#include <cstring>

#include "cardflash/inventory/bytes.h"
#include "cardflash/inventory/cis.h"
#include "cardflash/inventory/driver_access.h"
#include "cardflash/inventory/nt_pcmcia.h"
#include "cardflash/inventory/os_info.h"

namespace {

// The card-information driver's request block.
constexpr uint32_t kCardInfoRequest = 1;
constexpr int kBlock = 736;
constexpr int kIdOffset = 2;
constexpr int kIdRoom = 472;
constexpr int kCisOffset = 474;
constexpr int kCisBytes = 256;
constexpr int kMagicOffset = 734;
constexpr uint16_t kMagic = 0x1146;
constexpr uint32_t kAttributeDynamicDriver = 4;

}  // namespace

int CCis::ReadCis(const CString& deviceId) {
    int nt4 = deviceId.Find("NT4:");
    if (nt4 >= 0) {
        char digit = deviceId.GetAt(nt4 + 4);
        if (digit < '0' || digit > '9') return 0;
        return ReadCisNt4(digit - '0');
    }

    drv::OpenRequest r;
    r.path = "\\\\.\\Quenby.VXD";
    r.attributes = kAttributeDynamicDriver;
    std::unique_ptr<drv::DriverHandle> dev = drv::DriverAccess::Open(r);
    if (!dev) return 0;
    m_Socket = -2;

    uint8_t block[kBlock] = {};
    // The id field holds at most kIdRoom - 1 characters and its terminator.
    int n = deviceId.GetLength() < kIdRoom - 1 ? deviceId.GetLength() : kIdRoom - 1;
    std::memcpy(block + kIdOffset, deviceId.c_str(), static_cast<size_t>(n));
    PutLE16(block + kMagicOffset, kMagic);
    uint32_t got = 0;
    if (!dev->Control(kCardInfoRequest, block, kBlock, block, kBlock, &got) || GetLE16(block) != 0) return 0;
    dev.reset();
    SetCisData(block + kCisOffset, kCisBytes);
    return 1;
}

int CCis::ReadCisNt4(int socket) {
    m_Valid = 0;
    COSInfo os(FALSE);
    if (os.m_PlatformId != VER_PLATFORM_WIN32_NT) return 0;
    uint8_t tuples[kBufferSize];
    int length = 0;
    CNTPcmcia pcmcia;
    if (!pcmcia.GetTupleData(socket, tuples, &length)) return 0;
    SetCisData(tuples, length);
    m_Socket = socket;
    return 1;
}
