// Any bytes as a client writes them into its put area, and any indications the provider hands
// over: an accepted DATA_B3_REQ lies inside the TX section, an indication's copy inside its RX
// slot, and the rewritten length says what was copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "portbridge/capi/shared_layout.h"

using namespace shared;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    RegisterParams params;
    params.maxLogicalConnections = data[0] % 4;
    params.maxB3Blocks = data[1] % 8;
    params.maxB3DataLength = get16(data + 2) % 4097;
    data += 4;
    size -= 4;
    SlotGeometry geometry;
    if (!slotGeometry(params, &geometry)) return 0;
    std::vector<uint8_t> tx(geometry.bytes()), rx(geometry.bytes());
    CReceiveSlotTable slots;
    if (!slots.create(geometry.count)) return 0;
    while (size > 0) {
        const uint8_t op = data[0];
        const size_t n = size - 1 < 32 ? size - 1 : 32;
        uint8_t area[kMessageAreaSize] = {};
        std::memcpy(area, data + 1, n);
        data += 1 + n;
        size -= 1 + n;
        if (op & 1) {
            // An indication of the provider: its payload is as long as it says.
            area[4] = 0x86;
            area[5] = 0x82;
            std::vector<uint8_t> payload(get16(area + kDataLength), op);
            uint32_t index = 0, copy = 0;
            if (!storeIndication(area, slots, geometry.size, uint32_t(payload.size()), &index, &copy)) continue;
            if (index >= geometry.count || copy > geometry.size || get16(area + kDataLength) != copy ||
                get32(area + kData) != index)
                std::abort();
            if (copy) std::memcpy(&rx[size_t(index) * geometry.size], payload.data(), copy);
        } else {
            int64_t slot = -1;
            if (checkPutMessage(area, geometry, &slot) != kInfoOk) continue;
            if (slot >= 0) {
                const size_t length = get16(area + kDataLength);
                std::vector<uint8_t> out(length);
                if (length) std::memcpy(out.data(), &tx[size_t(slot) * geometry.size], length);
            } else if (commandWord(area) == kDataB3Resp) {
                slots.release(get32(area + kNcci), get16(area + kRespHandle));
            }
        }
    }
    return 0;
}
