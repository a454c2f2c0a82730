// Any bytes as the registry data the adapter readers decode: an NT raw resource list, a Windows 9x
// DHCP lease, and (as text) the port, ".RAW" value and class "Driver" names. Nothing may be read
// past the value, and what comes out must be inside what went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cardflash/inventory/nt_resource_text.h"
#include "cardflash/inventory/win9x_net.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ntres::PortAndInterrupt resources;
    if (ntres::DecodeResourceList(data, size, &resources)) {
        ntres::RangeText(resources.portStart, resources.portStart + resources.portLength);
    }

    uint8_t ip[4], mac[6];
    if (win9xnet::DhcpInfoIpAddress(data, size, ip)) win9xnet::IpAddressText(ip);
    if (win9xnet::DhcpInfoHardwareAddress(data, size, mac)) win9xnet::HardwareAddressText(mac);

    // Registry strings end at their first zero.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    const CString name(text.c_str());
    int port = ntres::ComPortNumber(name);
    if (port == 0 || port < -1) std::abort();
    if (ntres::RawValueDevice(name).GetLength() > name.GetLength()) std::abort();
    if (win9xnet::ClassInstance(name).GetLength() > name.GetLength()) std::abort();
    CString trans = win9xnet::NetTransInstance(name);
    if (!trans.IsEmpty() && trans.GetLength() != 4) std::abort();
    return 0;
}
