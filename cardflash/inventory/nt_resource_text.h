// What the Windows NT adapter readers decode from registry data: the raw resource lists that the
// serial driver publishes under HARDWARE\RESOURCEMAP, the port number of a "COMn" name, the device
// part of a ".RAW" value name, and the range texts. No Windows header: the bytes come from the
// registry, and only as many as it returned are looked at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/cstring.h"

namespace ntres {

// The port and interrupt of a raw resource list (CM_RESOURCE_LIST): the first port and the first
// interrupt among the partial descriptors of its first full descriptor.
struct PortAndInterrupt {
    bool hasPort = false;
    uint32_t portStart = 0;   // low part of the physical address
    uint32_t portLength = 0;
    bool hasInterrupt = false;
    uint32_t interruptLevel = 0;
};

// False when the bytes hold no complete list header; descriptors cut off by `length` are not used.
bool DecodeResourceList(const uint8_t* bytes, size_t length, PortAndInterrupt* out);

// The decimal number after "COM" ("COM3" -> 3); -1 when the name is not "COM" and digits, or the
// number is 0 or too large to be a port.
int ComPortNumber(const CString& portName);

// The device part of a raw resource value name: "\Device\Serial2.RAW" -> "Serial2" (".RAW" in
// any case); empty when the name holds no ".RAW".
CString RawValueDevice(const CString& valueName);

// "%X - %X" of a range's first and last texts.
CString RangeText(uint32_t first, uint32_t second);

}  // namespace ntres
