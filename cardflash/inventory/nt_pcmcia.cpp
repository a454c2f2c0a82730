#include "cardflash/inventory/nt_pcmcia.h"

#include <algorithm>
#include <cstring>

#include "cardflash/inventory/bytes.h"
#include "cardflash/inventory/driver_access.h"

namespace {

constexpr uint32_t kBlock = 80;
constexpr int kTupleBytes = 1024;
// What the 80-byte reply has room for: I/O lengths at 16 + 2i stop before the memory count at
// 24 (two ranges beside the bases at 12 and 14), memory lengths at 60 + 4i end at 80 (five).
constexpr int kReplyIoRoom = 2;
constexpr int kReplyMemRoom = 5;

std::unique_ptr<drv::DriverHandle> OpenPcmcia() {
    drv::OpenRequest r;
    r.path = "\\\\.\\pcmcia0";
    r.access = drv::win::kGenericRead | drv::win::kGenericWrite;
    r.share = drv::win::kShareRead | drv::win::kShareWrite;
    r.disposition = drv::win::kOpenExisting;
    return drv::DriverAccess::Open(r);
}

void SocketBlock(int socket, uint8_t* block) {
    std::memset(block, 0, kBlock);
    PutLE16(block, static_cast<uint16_t>(socket));
    block[4] = 1;
}

}  // namespace

int CNTPcmcia::GetTupleData(int socket, uint8_t* out, int* length) {
    std::unique_ptr<drv::DriverHandle> dev = OpenPcmcia();
    if (!dev || !out) return 0;
    uint8_t block[kBlock];
    SocketBlock(socket, block);
    uint8_t tuples[kTupleBytes] = {};
    uint32_t got = 0;
    if (!dev->Control(kTupleData, block, kBlock, tuples, kTupleBytes, &got)) return 0;
    std::memcpy(out, tuples, kTupleBytes);
    if (length) *length = kTupleBytes;
    return 1;
}

int CNTPcmcia::GetConfiguration(int socket, ResourceSummary* resources) {
    std::unique_ptr<drv::DriverHandle> dev = OpenPcmcia();
    if (!dev || !resources) return 0;
    uint8_t block[kBlock];
    SocketBlock(socket, block);
    uint32_t got = 0;
    if (!dev->Control(kConfiguration, block, kBlock, block, kBlock, &got)) return 0;

    ResourceSummary s;
    int io = std::min<int>({GetLE16(block + 8), kReplyIoRoom, ResourceSummary::kMaxIo});
    for (int i = 0; i < io; ++i) {
        s.ioBase[i] = GetLE16(block + 12 + 2 * i);
        s.ioLength[i] = static_cast<uint16_t>(GetLE16(block + 16 + 2 * i) + 1);
    }
    s.ioCount = static_cast<uint16_t>(io);
    int mem = std::min<int>({GetLE16(block + 24), kReplyMemRoom, ResourceSummary::kMaxMem});
    for (int i = 0; i < mem; ++i) {
        s.memBase[i] = GetLE32(block + 28 + 4 * i);
        s.memLength[i] = GetLE32(block + 60 + 4 * i);
    }
    s.memCount = static_cast<uint16_t>(mem);
    s.irqCount = 1;
    s.irq[0] = block[6];
    s.dmaCount = 0;
    *resources = s;
    return 1;
}
