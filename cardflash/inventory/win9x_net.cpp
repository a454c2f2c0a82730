#include "cardflash/inventory/win9x_net.h"

#include <cstring>

namespace win9xnet {

namespace {
constexpr size_t kInfoIpAt = 4;
constexpr size_t kInfoHardwareAt = 45;
constexpr int kNetTransInstanceLength = 4;
}  // namespace

bool DhcpInfoIpAddress(const uint8_t* info, size_t length, uint8_t out[4]) {
    if (!info || length < kInfoIpAt + 4) return false;
    std::memcpy(out, info + kInfoIpAt, 4);
    return true;
}

bool DhcpInfoHardwareAddress(const uint8_t* info, size_t length, uint8_t out[6]) {
    if (!info || length < kInfoHardwareAt + 6) return false;
    std::memcpy(out, info + kInfoHardwareAt, 6);
    return true;
}

CString HardwareAddressText(const uint8_t a[6]) {
    CString text;
    text.Format("%02X %02X %02X %02X %02X %02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

CString IpAddressText(const uint8_t a[4]) {
    CString text;
    text.Format("%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    return text;
}

CString ClassInstance(const CString& driver) {
    int slash = driver.Find('\\');
    return slash < 0 ? CString() : driver.Mid(slash + 1);
}

CString NetTransInstance(const CString& driver) {
    if (driver.GetLength() < kNetTransInstanceLength) return CString();
    return driver.Right(kNetTransInstanceLength);
}

}  // namespace win9xnet
