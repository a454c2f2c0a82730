// Any bytes as a card's CIS: the tuple walks, the names, the function id, the CRC and the
// plug-and-play id stay inside the held bytes, and a tuple replaced from the input's own bytes
// keeps the buffer within its size and stands whole in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cardflash/inventory/cis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int count = size > 2048 ? 2048 : static_cast<int>(size);  // SetCisData holds it to 1024
    CCis cis;
    cis.SetCisData(data, count);
    if (cis.GetLength() < 0 || cis.GetLength() > CCis::kBufferSize) std::abort();

    uint8_t tuple[CCis::kTupleMax];
    static const uint8_t kCodes[] = {0x00, 0x01, 0x14, 0x15, 0x1A, 0x1B, 0x20, 0x21, 0x22, 0xFF};
    for (uint8_t code : kCodes) cis.FindTuple(code, tuple);
    CString text;
    cis.GetManufacturerName(&text);
    cis.GetProductName(&text);
    cis.GetAdditionalInfo(&text);
    cis.GetFunctionId();
    cis.ComputeCrc();
    cis.GetCrcText(&text);
    cis.GetPnpId(&text);
    CCis::Crc16(0, data, count);

    // A replacement tuple: the input's first tuple, when its body is all there.
    if (size >= 2 && size >= static_cast<size_t>(data[1]) + 2) {
        const size_t n = static_cast<size_t>(data[1]) + 2;
        const bool replaced = cis.ReplaceTuple(data);
        if (cis.GetLength() < 0 || cis.GetLength() > CCis::kBufferSize) std::abort();
        // The new tuple stands whole in the result: nothing was written over it.
        if (replaced) {
            bool found = false;
            for (size_t at = 0; !found && at + n <= static_cast<size_t>(cis.GetLength()); ++at)
                found = std::memcmp(cis.data() + at, data, n) == 0;
            if (!found) std::abort();
        }
        cis.GetPnpId(&text);
    }
    return 0;
}
