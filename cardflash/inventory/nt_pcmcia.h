// The Windows NT PCMCIA driver "\\.\pcmcia0": the CIS and the configured resources of the card in
// one socket. The device is opened and closed within each call.
#pragma once

#include <cstdint>

#include "cardflash/inventory/resource_summary.h"

class CNTPcmcia {
public:
    static constexpr uint32_t kTupleData = 0x42EE0;
    static constexpr uint32_t kConfiguration = 0x42EE4;

    CNTPcmcia() = default;
    virtual ~CNTPcmcia() = default;

    int GetTupleData(int socket, uint8_t* out /* 1024 bytes */, int* length);
    int GetConfiguration(int socket, ResourceSummary* resources);
};
