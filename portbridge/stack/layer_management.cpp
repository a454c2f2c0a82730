#include "portbridge/stack/layer_management.h"

#include <cstring>

#include "common/le_bytes.h"
#include "portbridge/stack/stack_messages.h"
#include "portbridge/stack/timer_service.h"

namespace stack {

namespace {

constexpr int kModules = 17;
constexpr int kRegistrations = 8;
constexpr int kConnections = 8;
constexpr int kPendingBuilds = 2;
constexpr unsigned kRequestBytes = 34;  // 17 words
constexpr uint32_t kServiceBitsMask = 0xF80000;
constexpr unsigned kServiceShift = 19;

struct Module {
    bool used = false;
    TaskInit init = nullptr;
    uint16_t instanceSize = 0;
    uint16_t flags = 0;
    uint8_t taskNumber = 0;
    void* firstBlock = nullptr;
};

struct Registration {
    uint8_t bytes[5] = {};
    uint8_t task() const { return bytes[0]; }
    uint8_t type() const { return bytes[1]; }
    uint8_t value() const { return bytes[2]; }
};

struct Connection {
    bool inUse = false;
    uint16_t service = 0;
    uint32_t addresses[4] = {};
};

struct Pending {
    bool used = false;
    RuntimeMessage request;
    uint8_t block[kRequestBytes] = {};
};

struct LayerManagement {
    COSRuntime* rt = nullptr;
    uint32_t generation = 0;
    uint32_t address = kLayerManagementTask;
    uint16_t queue = 0;
    uint16_t defaultPool = 0;
    Module modules[kModules];
    Registration registrations[kRegistrations];
    int registrationCount = 0;
    Connection connections[kConnections];
    Pending pending[kPendingBuilds];
    unsigned starts = 0;
};

LayerManagement g_lm;

uint16_t word(const uint8_t* block, unsigned n) { return block16(block, n * 2); }

Module* moduleOf(LayerManagement& lm, uint8_t taskNumber) {
    for (Module& m : lm.modules)
        if (m.used && m.taskNumber == taskNumber) return &m;
    return nullptr;
}

// Gives the task its instance block as its flags say, then calls its init function. False when
// the start is dropped (no block to be had, or a shared block that was never made).
bool startTask(LayerManagement& lm, Module& mod, uint32_t address) {
    void* block = nullptr;
    const bool wantsBlock = (mod.flags & (kFlagStackEntity | kFlagStartAtOnce | kFlagPerService)) && mod.instanceSize;
    if (wantsBlock) {
        const uint8_t how = static_cast<uint8_t>(mod.flags & 0xFF);
        const bool serviceBits = (address & kServiceBitsMask) != 0;
        if (how & (2 | 4)) {
            if (serviceBits) {
                if (!mod.firstBlock) return false;
                block = mod.firstBlock;
            } else {
                if (lm.rt->allocInstance(mod.instanceSize, &block) != kOk) return false;
                mod.firstBlock = block;
            }
        } else if (how & 8) {
            if (!mod.firstBlock && lm.rt->allocInstance(mod.instanceSize, &mod.firstBlock) != kOk) return false;
            block = mod.firstBlock;
        } else if (lm.rt->allocInstance(mod.instanceSize, &block) != kOk) {
            return false;
        }
    }
    ++lm.starts;
    if (mod.init) mod.init(block, address);
    return true;
}

// The first service bits (counted up from 1) under which no queue carries `taskNumber`.
uint32_t freeServiceAddress(LayerManagement& lm, uint8_t taskNumber) {
    for (uint32_t s = 1; s < 32; ++s) {
        const uint32_t a = (s << kServiceShift) | taskNumber;
        uint16_t q = 0;
        if (lm.rt->findQueue(a, &q) != kOk) return a;
    }
    return 0;
}

void sendBound(LayerManagement& lm, uint16_t to, uint16_t upper, uint16_t lower) {
    RuntimeMessage m(kBound, lm.address);
    m.put16(9, upper);
    m.put16(11, lower);
    if (lm.rt->sendMessage(to, m) != kOk) STACK_ASSERT_REPORT();
}

void answer(LayerManagement& lm, const RuntimeMessage& request, uint8_t* block, uint16_t status) {
    RuntimeMessage r(kBuildStackResult, lm.address);
    r.put16(10, status);
    r.setPointer(block);
    const uint16_t to = block ? word(block, 5) : 0;
    if (lm.rt->sendMessage(to, r) == kOk) return;
    // No such queue number in the block: answer whoever sent it.
    if (lm.rt->sendToAddress(request.address(), r) != kOk) STACK_ASSERT_REPORT();
}

// Creates the partitions of one pool, skipping those of no buffers.
bool pool(LayerManagement& lm, uint32_t address, uint16_t count, uint16_t size) {
    if (!count || !size) return true;
    uint16_t number = 0;
    return lm.rt->createPool(address, size, count, &number) == kOk;
}

bool createStackPools(LayerManagement& lm, uint32_t stackAddress, const uint8_t* b) {
    const uint32_t base = stackAddress & ~0xFFFu;
    return pool(lm, base | 0x2F0, word(b, 7), word(b, 11)) && pool(lm, base | 0x2F0, word(b, 9), word(b, 12)) &&
           pool(lm, (base | 0x2F0) + 0x400, word(b, 16), word(b, 14)) &&
           pool(lm, base | 0x1F0, word(b, 7), word(b, 11)) && pool(lm, base | 0x1F0, word(b, 8), word(b, 12)) &&
           pool(lm, (base | 0x1F0) + 0x400, word(b, 15), word(b, 14)) &&
           pool(lm, base | 0x0F0, word(b, 10), word(b, 13));
}

// Builds the stack that the request block asks for; its status for 202.
uint16_t build(LayerManagement& lm, uint32_t requester, uint8_t* b) {
    if (word(b, 0) == 0) return kBuildDone;
    const uint16_t type = word(b, 1), value = word(b, 2);
    const uint8_t top = static_cast<uint8_t>(word(b, 3));
    const uint8_t middle = static_cast<uint8_t>(word(b, 4));
    const uint16_t requesterQueue = word(b, 5);
    uint16_t status = kBuildNoModule;
    for (int i = 0; i < lm.registrationCount; ++i) {
        const Registration& r = lm.registrations[i];
        if (r.type() != type || r.value() != value) continue;
        Module* bottom = moduleOf(lm, r.task());
        Module* topModule = moduleOf(lm, top);
        Module* midModule = middle ? moduleOf(lm, middle) : nullptr;
        if (!bottom || !topModule || (middle && !midModule)) continue;
        int c = 0;
        while (c < kConnections && lm.connections[c].inUse) ++c;
        if (c == kConnections) return kBuildNoModule;
        const uint32_t topAddress = freeServiceAddress(lm, top);
        if (!topAddress) return kBuildNoModule;
        const uint32_t serviceBits = topAddress & kServiceBitsMask;
        if (!createStackPools(lm, serviceBits, b)) return kBuildNoPool;

        // The registered entity at the bottom under the address of its registration, the others
        // above it under the stack's service address.
        const uint32_t bottomAddress = (static_cast<uint32_t>(r.value()) << kServiceShift) | r.task();
        const uint32_t midAddress = middle ? (serviceBits | middle) : 0;
        uint16_t qBottom = 0, qMid = 0, qTop = 0;
        if (lm.rt->findQueue(bottomAddress, &qBottom) != kOk) startTask(lm, *bottom, bottomAddress);
        if (midModule) startTask(lm, *midModule, midAddress);
        startTask(lm, *topModule, topAddress);
        if (lm.rt->findQueue(bottomAddress, &qBottom) != kOk || lm.rt->findQueue(topAddress, &qTop) != kOk ||
            (midModule && lm.rt->findQueue(midAddress, &qMid) != kOk)) {
            status = kBuildNoModule;
            continue;
        }
        const uint16_t belowTop = midModule ? qMid : qBottom;
        sendBound(lm, qBottom, midModule ? qMid : qTop, 0);
        if (midModule) sendBound(lm, qMid, qTop, qBottom);
        sendBound(lm, qTop, requesterQueue, belowTop);
        sendBound(lm, requesterQueue, 0, qTop);

        Connection& conn = lm.connections[c];
        conn.inUse = true;
        conn.service = type;
        conn.addresses[0] = requester;
        conn.addresses[1] = topAddress;
        conn.addresses[2] = midModule ? midAddress : bottomAddress;
        conn.addresses[3] = bottomAddress;
        for (int k = 0; k < 4; ++k) le::put32(b + 4 * k, conn.addresses[k]);
        return kBuildDone;
    }
    return status;
}

void retryPending(LayerManagement& lm) {
    for (Pending& p : lm.pending) {
        if (!p.used) continue;
        uint8_t* original = static_cast<uint8_t*>(p.request.pointer());
        uint8_t copy[kRequestBytes];
        std::memcpy(copy, p.block, sizeof(copy));
        if (build(lm, p.request.address(), copy) != kBuildDone) continue;
        p.used = false;
        if (original) std::memcpy(original, copy, sizeof(copy));
        answer(lm, p.request, original, kBuildDone);
    }
}

void createTaskMessage(LayerManagement& lm, const RuntimeMessage& m) {
    const uint8_t number = m.u8(14);
    if (moduleOf(lm, number)) return;
    Module* free = nullptr;
    for (Module& mod : lm.modules)
        if (!mod.used) {
            free = &mod;
            break;
        }
    if (!free) {
        STACK_ASSERT_REPORT();
        return;
    }
    *free = Module{};
    free->used = true;
    free->init = lm.rt->taskInitOf(m);
    free->instanceSize = m.u16(10);
    free->flags = m.u16(12);
    free->taskNumber = number;
    if (!(free->flags & (kFlagStackEntity | kFlagPerService))) startTask(lm, *free, number);
    retryPending(lm);
}

void registerService(LayerManagement& lm, const RuntimeMessage& m) {
    if (lm.registrationCount >= kRegistrations) return;
    Registration& r = lm.registrations[lm.registrationCount++];
    for (int i = 0; i < 5; ++i) r.bytes[i] = m.u8(static_cast<size_t>(6 + i));
    if (r.type() == 1) r.bytes[4] = r.bytes[2];
    if (r.type() == 3) {
        for (Module& mod : lm.modules) {
            if (!mod.used || !(mod.flags & kFlagPerService)) continue;
            const uint32_t a = freeServiceAddress(lm, mod.taskNumber);
            if (a) startTask(lm, mod, a);
        }
    }
}

void buildRequest(LayerManagement& lm, const RuntimeMessage& m) {
    uint8_t* block = static_cast<uint8_t*>(m.pointer());
    if (!block) {
        STACK_ASSERT_REPORT();
        return;
    }
    uint8_t copy[kRequestBytes];
    std::memcpy(copy, block, sizeof(copy));
    const uint16_t status = build(lm, m.address(), block);
    if (status == kBuildDone || !(m.u16(10) & 1)) {
        answer(lm, m, block, status);
        return;
    }
    for (Pending& p : lm.pending) {
        if (p.used) continue;
        p.used = true;
        p.request = m;
        std::memcpy(p.block, copy, sizeof(copy));
        return;
    }
    answer(lm, m, block, kBuildNoRoom);
}

void releaseConnection(LayerManagement& lm, RuntimeMessage m) {
    const uint16_t n = m.u16(10);
    if (n < kConnections) {
        Connection& c = lm.connections[n];
        if (c.inUse && c.service == 2) {
            for (Connection& o : lm.connections)
                if (o.service == 2 || o.service == 3) o.inUse = false;
        } else {
            c.inUse = false;
        }
    }
    const uint32_t from = m.address();
    m.setId(kReleaseConnectionDone);
    m.setAddress(lm.address);
    lm.rt->sendToAddress(from, m);
}

void handler(void* context) {
    LayerManagement& lm = *static_cast<LayerManagement*>(context);
    RuntimeMessage m;
    if (lm.rt->receiveMessage(lm.queue, &m) != kOk) return;
    switch (m.id()) {
    case kCreateTask:
        createTaskMessage(lm, m);
        break;
    case kRegisterService:
        registerService(lm, m);
        break;
    case kBuildStackRequest:
        buildRequest(lm, m);
        break;
    case kReleaseConnection:
        releaseConnection(lm, m);
        break;
    default:
        break;
    }
}

}  // namespace

uint32_t layerManagementStart(COSRuntime& rt) {
    LayerManagement& lm = g_lm;
    lm = LayerManagement{};
    lm.rt = &rt;
    lm.generation = rt.generation();
    if (rt.createTaskQueue(lm.address, &handler, &lm, &lm.queue) != kOk) return 0;
    rt.findDefaultPool(&lm.defaultPool);
    return 1;
}

LayerManagementCounts layerManagementCounts() {
    LayerManagementCounts c{};
    const LayerManagement& lm = g_lm;
    for (const Module& m : lm.modules) c.modules += m.used ? 1 : 0;
    c.registrations = static_cast<unsigned>(lm.registrationCount);
    for (const Connection& k : lm.connections) c.connectionsInUse += k.inUse ? 1 : 0;
    for (const Pending& p : lm.pending) c.pending += p.used ? 1 : 0;
    c.starts = lm.starts;
    return c;
}

void startStackTasks(COSRuntime& rt, const StackTaskInits& inits) {
    layerManagementStart(rt);
    rt.createTask(inits.timer, 0, kTimerTask, 1);
    rt.createTask(inits.hdlc, 228, kHdlcTask, 0x101);
    rt.createTask(inits.serial, 264, kSerialTask, 0x102);
    rt.createTask(inits.linkControl, 5996, kLinkControlTask, 0x4001);
}

}  // namespace stack
