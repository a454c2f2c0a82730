#include "portbridge/capi/shared_layout.h"

#include <cstdio>
#include <new>

namespace shared {

std::string objectName(const char* prefix, uint32_t applicationId) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%.02u", prefix, unsigned(applicationId));
    return text;
}

std::string instanceSectionName(uint32_t instanceId) {
    char text[16];
    std::snprintf(text, sizeof text, "%.08x", unsigned(instanceId));
    return text;
}

RegisterParams readRegisterParams(const uint8_t* block) {
    RegisterParams p;
    p.messageBufferSize = get32(block + 4);
    p.maxLogicalConnections = get16(block + 10);
    p.maxB3Blocks = get16(block + 12);
    p.maxB3DataLength = get16(block + 14);
    p.version = get16(block + 20);
    p.queue = get16(block + 22);
    return p;
}

void writeRegisterParams(uint8_t* block, const RegisterParams& p) {
    put32(block + 4, p.messageBufferSize);
    put16(block + 10, p.maxLogicalConnections);
    put16(block + 12, p.maxB3Blocks);
    put16(block + 14, p.maxB3DataLength);
    put16(block + 20, p.version);
    put16(block + 22, p.queue);
}

bool slotGeometry(const RegisterParams& params, SlotGeometry* out) {
    SlotGeometry g;
    g.count = uint32_t(params.maxLogicalConnections) * params.maxB3Blocks;  // at most 2^32 - 2^17 + 1
    g.size = params.maxB3DataLength;
    if (g.bytes() == 0 || g.bytes() > kMaxSlotSectionBytes || g.count > kMaxSlotCount) return false;
    *out = g;
    return true;
}

uint16_t checkPutMessage(const uint8_t* message, const SlotGeometry& tx, int64_t* txSlot) {
    *txSlot = -1;
    uint16_t length = get16(message);
    if (length < 12 || length > kMessageAreaSize) return kInfoBadMessage;
    if (commandWord(message) != kDataB3Req) return kInfoOk;
    if (length < kDataB3MinLength) return kInfoBadParameter;
    uint32_t index = get32(message + kData);
    uint16_t dataLength = get16(message + kDataLength);
    if (index >= tx.count || dataLength > tx.size) return kInfoBadParameter;
    *txSlot = index;
    return kInfoOk;
}

CReceiveSlotTable::~CReceiveSlotTable() {
    free_.shutDown();
    used_.shutDown();
}

bool CReceiveSlotTable::create(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        CReceiveSlot* slot = new (std::nothrow) CReceiveSlot(i);
        if (!slot) return false;
        free_.appendNodeInterlocked(slot);
    }
    return true;
}

CReceiveSlot* CReceiveSlotTable::take(uint32_t ncci, uint16_t dataHandle) {
    CReceiveSlot* slot = static_cast<CReceiveSlot*>(free_.removeNodeInterlocked());
    if (!slot) return nullptr;
    slot->ncci = ncci;
    slot->dataHandle = dataHandle;
    used_.appendNodeInterlocked(slot);
    return slot;
}

int64_t CReceiveSlotTable::release(uint32_t ncci, uint16_t dataHandle) {
    CReceiveSlot* found = nullptr;
    // Only the provider's main thread touches the slots, so the walk needs no lock of its own.
    for (CDoubleListNode* n = used_.head(); n; n = n->next()) {
        CReceiveSlot* slot = static_cast<CReceiveSlot*>(n);
        if (slot->ncci == ncci && slot->dataHandle == dataHandle) {
            found = slot;
            break;
        }
    }
    if (!found) return -1;
    used_.removeNodeInterlocked(found);
    free_.appendNodeInterlocked(found);
    return found->index();
}

bool storeIndication(uint8_t* message, CReceiveSlotTable& slots, uint32_t slotSize, uint32_t payloadAvailable,
                     uint32_t* slotIndex, uint32_t* copy) {
    uint32_t ncci = get32(message + kNcci);
    uint16_t handle = get16(message + kDataHandle);
    CReceiveSlot* slot = slots.take(ncci, handle);
    if (!slot) return false;
    uint32_t n = get16(message + kDataLength);
    if (n > slotSize) n = slotSize;
    if (n > payloadAvailable) n = payloadAvailable;
    // The slot index, and no address of this process (a 64-bit platform's Data64 is cleared).
    put32(message + kData, slot->index());
    if (get16(message) >= capib3::kLength64) le::put64(message + capib3::kData64, 0);
    put16(message + kDataLength, uint16_t(n));
    *slotIndex = slot->index();
    *copy = n;
    return true;
}

}  // namespace shared
