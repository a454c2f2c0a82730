#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "portbridge/stack/os_runtime.h"

namespace stack {

namespace {

class Locked {
public:
    explicit Locked(CRuntimeLock& m) : m_(m) { m_.enter(); }
    ~Locked() { m_.leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRuntimeLock& m_;
};

void stopProcess(const char* what) {
    std::fprintf(stderr, "portbridge: fatal buffer check: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

std::atomic<COSRuntime::FatalCheckFn> g_fatal{&stopProcess};

constexpr size_t kHeader = 8;
constexpr uint16_t kRedimensionFrom = 2048;
constexpr uint16_t kRedimensionMaxCount = 48;
constexpr uint32_t kGrowingPool = 74;

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void COSRuntime::setFatalCheckHandler(FatalCheckFn fn) { g_fatal = fn ? fn : &stopProcess; }

CPoolNode* COSRuntime::poolByNumber(uint16_t number) {
    for (CDoubleListNode* n = activePools_.head(); n; n = n->next()) {
        CPoolNode* p = static_cast<CPoolNode*>(n);
        if (p->resourceNumber() == number) return p;
    }
    return nullptr;
}

uint32_t COSRuntime::allocInstance(uint16_t size, void** block) {
    if (block) *block = nullptr;
    Locked hold(memoryLock_);
    // Blocks stay aligned for whatever a task keeps in them.
    size_t want = (static_cast<size_t>(size) + 7) & ~static_cast<size_t>(7);
    if (want == 0) want = 8;
    if (kArenaBytes - arenaUsed_ <= want) return kNoNode;
    uint8_t* p = arena_.get() + arenaUsed_;
    arenaUsed_ += want;
    std::memset(p, 0, want);
    if (block) *block = p;
    return kOk;
}

uint32_t COSRuntime::createPool(uint32_t poolAddress, uint16_t bufferSize, uint16_t bufferCount,
                                uint16_t* poolNumber) {
    if (poolNumber) *poolNumber = 0;
    Locked hold(memoryLock_);
    for (CDoubleListNode* n = activePools_.head(); n; n = n->next()) {
        CPoolNode* p = static_cast<CPoolNode*>(n);
        if (p->matchName(poolAddress) == kOk) {
            uint32_t st = addPartitionTo(p, bufferSize, bufferCount);
            if (st == kOk && poolNumber) *poolNumber = p->resourceNumber();
            return st;
        }
    }
    CPoolNode* pool = static_cast<CPoolNode*>(freePools_.removeNodeInterlocked());
    if (!pool) return kNoNode;
    pool->clearNames();
    pool->addName(poolAddress);
    pool->releaseFn = nullptr;
    pool->releaseContext = nullptr;
    if (poolAddress == kGrowingPool) bufferCount = static_cast<uint16_t>(bufferCount + 2);
    uint32_t st = addPartitionTo(pool, bufferSize, bufferCount);
    if (st != kOk) {
        freePools_.appendNodeInterlocked(pool);
        return st;
    }
    activePools_.appendNodeInterlocked(pool);
    if (poolNumber) *poolNumber = pool->resourceNumber();
    return kOk;
}

uint32_t COSRuntime::addPartition(uint16_t poolNumber, uint16_t bufferSize, uint16_t bufferCount) {
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return kUnknownObject;
    return addPartitionTo(pool, bufferSize, bufferCount);
}

void COSRuntime::bindBuffers(CPartition* part, uint16_t size, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) {
        CBufferNode* b = static_cast<CBufferNode*>(freeBuffers_.removeNodeInterlocked());
        uint8_t* slot = part->memory + static_cast<size_t>(i) * (size + kHeader);
        put32(slot, kBufferGuard);
        put32(slot + 4, b->index);
        b->data = slot + kHeader;
        b->size = size;
        b->pool = part->pool;
        b->release = nullptr;
        b->releaseContext = nullptr;
        b->inUse = false;
        part->buffers.appendNodeInterlocked(b);
    }
    part->currentSize = size;
    part->currentCount = count;
}

uint32_t COSRuntime::addPartitionTo(CPoolNode* pool, uint16_t bufferSize, uint16_t bufferCount) {
    CPartition* part = static_cast<CPartition*>(freePartitions_.removeNodeInterlocked());
    if (!part) return kNoNode;
    size_t total = (static_cast<size_t>(bufferSize) + kHeader) * bufferCount;
    if (kArenaBytes - arenaUsed_ <= total) {
        freePartitions_.appendNodeInterlocked(part);
        return kFailure;
    }
    if (static_cast<size_t>(freeBuffers_.getSize()) < bufferCount) {
        freePartitions_.appendNodeInterlocked(part);
        return kNoNode;
    }
    part->memory = arena_.get() + arenaUsed_;
    arenaUsed_ += (total + 7) & ~static_cast<size_t>(7);
    part->pool = pool;
    part->bufferSize = bufferSize;
    part->bufferCount = bufferCount;
    part->totalBytes = static_cast<uint32_t>(total);
    bindBuffers(part, bufferSize, bufferCount);
    pool->partitions.appendNodeInterlocked(part);
    return kOk;
}

uint32_t COSRuntime::getBuffer(uint16_t poolNumber, uint16_t size, uint8_t** data) {
    return getBufferWithRelease(poolNumber, size, data, nullptr, nullptr);
}

uint32_t COSRuntime::getBufferWithRelease(uint16_t poolNumber, uint16_t size, uint8_t** data, BufferReleaseFn fn,
                                          void* context) {
    if (data) *data = nullptr;
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return kUnknownObject;
    for (CDoubleListNode* pn = pool->partitions.head(); pn; pn = pn->next()) {
        CPartition* part = static_cast<CPartition*>(pn);
        if (part->currentSize < size) continue;
        for (CDoubleListNode* bn = part->buffers.head(); bn; bn = bn->next()) {
            CBufferNode* b = static_cast<CBufferNode*>(bn);
            bool expected = false;
            if (b->inUse.compare_exchange_strong(expected, true)) {
                b->release = fn;
                b->releaseContext = context;
                if (data) *data = b->data;
                return kOk;
            }
        }
    }
    return kFailure;
}

CBufferNode* COSRuntime::bufferOf(const void* data) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint8_t* lo = arena_.get() + kHeader;
    const uint8_t* hi = arena_.get() + kArenaBytes;
    if (p < lo || p >= hi) return nullptr;
    if (get32(p - kHeader) != kBufferGuard) return nullptr;
    uint32_t index = get32(p - kHeader + 4);
    if (index >= kBuffers) return nullptr;
    CBufferNode* b = &bufferStore_[index];
    return b->data == p ? b : nullptr;
}

uint16_t COSRuntime::bufferSizeOf(const void* data) {
    CBufferNode* b = data ? bufferOf(data) : nullptr;
    return b ? b->size : 0;
}

uint32_t COSRuntime::freeBuffer(void* data) {
    if (!data) return kFailure;
    CBufferNode* b = bufferOf(data);
    if (!b) {
        g_fatal.load()("freeBuffer: not a buffer");
        return kFailure;
    }
    // Read the one-shot callback before the buffer can go to its next owner.
    if (!b->inUse.load()) {
        g_fatal.load()("freeBuffer: buffer given back twice");
        return kFailure;
    }
    BufferReleaseFn fn = b->release;
    void* context = b->releaseContext;
    b->release = nullptr;
    b->releaseContext = nullptr;
    CPoolNode* pool = b->pool;
    uint16_t size = b->size;
    if (!b->inUse.exchange(false)) {
        g_fatal.load()("freeBuffer: buffer given back twice");
        return kFailure;
    }
    if (pool) {
        PoolReleaseFn notify = pool->releaseFn;
        if (notify) {
            ++pool->releaseNesting;
            notify(pool->releaseContext, pool->resourceNumber(), size);
            --pool->releaseNesting;
        }
    }
    if (fn) return fn(context, pool ? pool->resourceNumber() : 0);
    return kOk;
}

uint32_t COSRuntime::setPoolRelease(uint16_t poolNumber, PoolReleaseFn fn, void* context) {
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return kUnknownObject;
    pool->releaseContext = context;
    pool->releaseMode = 3;
    pool->releaseFn = fn;
    return kOk;
}

uint32_t COSRuntime::poolHasBuffer(uint16_t poolNumber, uint16_t size) {
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return 0;
    for (CDoubleListNode* pn = pool->partitions.head(); pn; pn = pn->next()) {
        CPartition* part = static_cast<CPartition*>(pn);
        if (part->currentSize < size || part->currentCount == 0) continue;
        uint32_t free = 0;
        for (CDoubleListNode* bn = part->buffers.head(); bn; bn = bn->next())
            if (!static_cast<CBufferNode*>(bn)->inUse.load()) ++free;
        return free;
    }
    return 0;
}

uint32_t COSRuntime::findPoolByAddress(uint32_t address, uint16_t* poolNumber) {
    if (poolNumber) *poolNumber = 0;
    Locked hold(memoryLock_);
    for (CDoubleListNode* n = activePools_.head(); n; n = n->next()) {
        CPoolNode* p = static_cast<CPoolNode*>(n);
        if (p->matchName(address) == kOk) {
            if (poolNumber) *poolNumber = p->resourceNumber();
            return kOk;
        }
    }
    return kFailure;
}

uint32_t COSRuntime::findPoolOfBuffer(const void* data, uint16_t* poolNumber) {
    if (poolNumber) *poolNumber = 0;
    CBufferNode* b = data ? bufferOf(data) : nullptr;
    if (!b || !b->pool) return kFailure;
    if (poolNumber) *poolNumber = b->pool->resourceNumber();
    return kOk;
}

uint32_t COSRuntime::addPoolAddress(uint16_t poolNumber, uint32_t address) {
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return kUnknownObject;
    return pool->addName(address) == kOk ? kOk : kUnknownObject;
}

uint32_t COSRuntime::findDefaultPool(uint16_t* poolNumber) {
    if (poolNumber) *poolNumber = defaultPool_;
    return defaultPool_ ? kOk : kUnknownObject;
}

uint32_t COSRuntime::redimensionPool(uint16_t poolNumber, uint16_t size) {
    Locked hold(memoryLock_);
    CPoolNode* pool = poolByNumber(poolNumber);
    if (!pool) return kUnknownObject;
    if (size == 0) return kFailure;
    // Buffers are taken only under this lock, so none can go into use between the check and the
    // rebuild. A buffer in use would end up with two nodes over its memory: refuse instead.
    for (CDoubleListNode* pn = pool->partitions.head(); pn; pn = pn->next()) {
        CPartition* part = static_cast<CPartition*>(pn);
        if (part->bufferSize < kRedimensionFrom) continue;
        for (CDoubleListNode* bn = part->buffers.head(); bn; bn = bn->next())
            if (static_cast<CBufferNode*>(bn)->inUse.load()) return kFailure;
    }
    for (CDoubleListNode* pn = pool->partitions.head(); pn; pn = pn->next()) {
        CPartition* part = static_cast<CPartition*>(pn);
        if (part->bufferSize < kRedimensionFrom) continue;
        while (CDoubleListNode* bn = part->buffers.removeNodeInterlocked()) {
            CBufferNode* b = static_cast<CBufferNode*>(bn);
            std::memset(b->data - kHeader, 0, kHeader);
            b->data = nullptr;
            freeBuffers_.appendNodeInterlocked(b);
        }
        uint16_t newSize = size > kRedimensionFrom ? part->currentSize : size;
        uint32_t count = part->totalBytes / (static_cast<uint32_t>(newSize) + kHeader);
        if (count > kRedimensionMaxCount) count = kRedimensionMaxCount;
        if (count > static_cast<uint32_t>(freeBuffers_.getSize())) count = static_cast<uint32_t>(freeBuffers_.getSize());
        bindBuffers(part, newSize, static_cast<uint16_t>(count));
    }
    return kOk;
}

}  // namespace stack
