// The Windows 9x network registry's binary values and instance names, decoded for the adapter
// reader: a DHCP lease's addresses, the address texts the adapter record keeps, and the class
// instances named by "Driver" values. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/cstring.h"

namespace win9xnet {

// A lease's "DhcpInfo" (Windows 95): the leased IP address at bytes 4 to 7, the adapter's
// hardware address at bytes 45 to 50. Each is false, and leaves `out` alone, when the value of
// `length` bytes is too short to hold it.
bool DhcpInfoIpAddress(const uint8_t* info, size_t length, uint8_t out[4]);
bool DhcpInfoHardwareAddress(const uint8_t* info, size_t length, uint8_t out[6]);

// "00 A0 C9 12 34 5F", the form NDIS gives the permanent address in.
CString HardwareAddressText(const uint8_t address[6]);
// "192.168.1.23".
CString IpAddressText(const uint8_t address[4]);

// The instance of a class "Driver" value: the part after its first "\" (Net\0003 gives 0003);
// empty when there is no "\".
CString ClassInstance(const CString& driver);
// The NetTrans instance of a protocol's "Driver" value: its last four characters (NetTrans\0000
// gives 0000); empty when the value is shorter than that.
CString NetTransInstance(const CString& driver);

}  // namespace win9xnet
