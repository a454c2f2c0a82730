// Any bytes as the TAPI structures a line driver fills: the readers stay inside the buffer
// whatever its sizes and offsets say.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardflash/flash/tapi_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    tapi::ReadDevCaps(bytes);
    tapi::ReadTranslateCaps(bytes);
    tapi::ReadDialableString(bytes);
    // The same bytes as what TAPI answered to a growing query.
    tapi::VarStruct s;
    s.Query(44, "fuzz", nullptr, [&](uint8_t* out, uint32_t room) {
        for (uint32_t i = 4; i < room && i < size; ++i) out[i] = data[i];
        return 0;
    });
    tapi::ReadTranslateCaps(s.bytes());
    return 0;
}
