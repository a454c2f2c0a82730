#include "portbridge/stack/os_runtime.h"

#include <chrono>
#include <new>
#include <thread>

namespace stack {

namespace {

std::atomic<uint16_t> g_resourceCounter{0};
std::atomic<COSRuntime*> g_runtime{nullptr};
std::atomic<uint32_t> g_generation{0};

std::atomic<const char*> g_assertFile{nullptr};
std::atomic<int> g_assertLine{0};
std::atomic<unsigned> g_assertCount{0};

// A lock held for one scope.
class Locked {
public:
    explicit Locked(CRuntimeLock& m) : m_(m) { m_.enter(); }
    ~Locked() { m_.leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRuntimeLock& m_;
};

uint32_t millisecondsNow() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void assertionReport(const char* file, int line) {
    g_assertFile = file;
    g_assertLine = line;
    ++g_assertCount;
}

AssertionRecord lastAssertion() { return AssertionRecord{g_assertFile.load(), g_assertLine.load(), g_assertCount.load()}; }

void resetResourceCounter() { g_resourceCounter = 0; }

COSResource::COSResource() : number_(++g_resourceCounter) {}

uint32_t COSNamedResource::addName(uint32_t address) {
    for (int i = 0; i < kNames; ++i) {
        if (!(used_ & (1u << i))) {
            names_[i] = address;
            used_ = static_cast<uint8_t>(used_ | (1u << i));
            return kOk;
        }
    }
    return kNoSuchQueue;
}

uint32_t COSNamedResource::matchName(uint32_t address) const {
    for (int i = 0; i < kNames; ++i)
        if ((used_ & (1u << i)) && names_[i] == address) return kOk;
    return kNoSuchQueue;
}

COSRuntime& osRuntime() { return *g_runtime.load(); }
bool hasOsRuntime() { return g_runtime.load() != nullptr; }

COSRuntime::COSRuntime() {
    generation_ = ++g_generation;
    resetResourceCounter();
    defaultPool_ = 0;
    lock_.init();
    memoryLock_.init();

    // Memory first, then messaging: the free lists fill themselves from one block each. Without
    // memory the start-up fails (startedUp() false) instead of throwing.
    poolStore_.reset(new (std::nothrow) CPoolNode[kPools]);
    partitionStore_.reset(new (std::nothrow) CPartition[kPartitions]);
    bufferStore_.reset(new (std::nothrow) CBufferNode[kBuffers]);
    // Not cleared: instance blocks are cleared as they are handed out, and a buffer is reused
    // with whatever its last user left, so nobody may count on zeros there anyway. Clearing the
    // whole arena was most of what a runtime's start cost.
    arena_.reset(new (std::nothrow) uint8_t[kArenaBytes]);
    queueStore_.reset(new (std::nothrow) COSQueue[kQueues]);
    nodeStore_.reset(new (std::nothrow) CMessagNode[kMessageNodes]);
    if (!poolStore_ || !partitionStore_ || !bufferStore_ || !arena_ || !queueStore_ || !nodeStore_) return;
    for (size_t i = 0; i < kPools; ++i) freePools_.appendNode(&poolStore_[i]);
    for (size_t i = 0; i < kPartitions; ++i) freePartitions_.appendNode(&partitionStore_[i]);
    for (size_t i = 0; i < kBuffers; ++i) {
        bufferStore_[i].index = static_cast<uint32_t>(i);
        freeBuffers_.appendNode(&bufferStore_[i]);
    }
    arenaUsed_ = 0;

    for (size_t i = 0; i < kQueues; ++i) freeQueues_.appendNode(&queueStore_[i]);
    for (size_t i = 0; i < kMessageNodes; ++i) freeMessages_.appendNode(&nodeStore_[i]);

    startMs_ = millisecondsNow();
    g_runtime = this;

    uint16_t pool = 0;
    if (createPool(kDefaultPoolTask, 256, 16, &pool) != kOk) return;
    defaultPool_ = pool;
    if (addPartition(pool, 2048, 2) != kOk) return;
    startedUp_ = true;
}

COSRuntime::~COSRuntime() {
    COSRuntime* self = this;
    g_runtime.compare_exchange_strong(self, nullptr);
}

uint32_t COSRuntime::runtimeLock() {
    lock_.enter();
    return 1;
}

void COSRuntime::runtimeUnlock(uint32_t) { lock_.leave(); }

COSQueue* COSRuntime::queueByNumber(uint16_t number) {
    for (CDoubleListNode* n = activeQueues_.head(); n; n = n->next()) {
        COSQueue* q = static_cast<COSQueue*>(n);
        if (q->resourceNumber() == number) return q;
    }
    return nullptr;
}

uint32_t COSRuntime::createTaskQueue(uint32_t address, TaskHandler handler, void* context, uint16_t* queueNumber) {
    if (queueNumber) *queueNumber = 0;
    if (!handler) return kNoSuchQueue;
    Locked hold(lock_);
    COSQueue* q = static_cast<COSQueue*>(freeQueues_.removeNodeInterlocked());
    if (!q) return kNoNode;
    q->clearNames();
    q->addName(address);
    q->handler = handler;
    q->context = context;
    q->priority = kQueuePriority;
    q->busy = false;
    activeQueues_.appendNodeInterlocked(q);
    if (address == 192) createTaskQueue_ = q->resourceNumber();
    if (queueNumber) *queueNumber = q->resourceNumber();
    return kOk;
}

uint32_t COSRuntime::addQueueAddress(uint16_t queueNumber, uint32_t address) {
    Locked hold(lock_);
    COSQueue* q = queueByNumber(queueNumber);
    if (!q) return kNoSuchQueue;
    return q->addName(address);
}

uint32_t COSRuntime::findQueue(uint32_t address, uint16_t* queueNumber) {
    Locked hold(lock_);
    for (CDoubleListNode* n = activeQueues_.head(); n; n = n->next()) {
        COSQueue* q = static_cast<COSQueue*>(n);
        if (q->matchName(address) == kOk) {
            if (queueNumber) *queueNumber = q->resourceNumber();
            return kOk;
        }
    }
    if (queueNumber) *queueNumber = 0;
    return kNoSuchQueue;
}

uint32_t COSRuntime::sendMessage(uint16_t queueNumber, const RuntimeMessage& message) {
    Locked hold(lock_);
    COSQueue* q = queueByNumber(queueNumber);
    if (!q) return kNoSuchQueue;
    // Both nodes are taken before anything is queued, so 7 always means the message was not queued.
    CMessagNode* node = static_cast<CMessagNode*>(freeMessages_.removeNodeInterlocked());
    if (!node) return kNoNode;
    CMessagNode* notification = static_cast<CMessagNode*>(freeMessages_.removeNodeInterlocked());
    if (!notification) {
        freeMessages_.appendNodeInterlocked(node);
        return kNoNode;
    }
    node->message = message;
    node->queue = q;
    q->pending.appendNodeInterlocked(node);
    notification->queue = q;
    ready_.appendNodeInterlocked(notification);
    if (WakeFn wake = wake_.load()) wake(wakeContext_);
    return kOk;
}

uint32_t COSRuntime::sendToAddress(uint32_t address, const RuntimeMessage& message) {
    uint16_t number = 0;
    if (findQueue(address, &number) != kOk) return kNoSuchQueue;
    return sendMessage(number, message);
}

uint32_t COSRuntime::sendFrom(uint32_t senderAddress, RuntimeMessage message) {
    uint16_t number = 0;
    if (findQueue(message.address(), &number) != kOk) return kNoSuchQueue;
    message.setAddress(senderAddress);
    return sendMessage(number, message);
}

uint32_t COSRuntime::receiveMessage(uint16_t queueNumber, RuntimeMessage* message, int32_t) {
    Locked hold(lock_);
    COSQueue* q = queueByNumber(queueNumber);
    if (!q) return kNoSuchQueue;
    CMessagNode* node = static_cast<CMessagNode*>(q->pending.removeNodeInterlocked());
    if (!node) return kEmpty;
    if (message) *message = node->message;
    node->queue = nullptr;
    freeMessages_.appendNodeInterlocked(node);
    return kOk;
}

uint32_t COSRuntime::queueAddress(uint16_t queueNumber, uint32_t* address) {
    Locked hold(lock_);
    COSQueue* q = queueByNumber(queueNumber);
    if (!q) return kUnknownObject;
    if (address) *address = q->firstName();
    return kOk;
}

uint32_t COSRuntime::queuePending(uint16_t queueNumber, uint32_t* count) {
    Locked hold(lock_);
    COSQueue* q = queueByNumber(queueNumber);
    if (!q) return kUnknownObject;
    if (count) *count = static_cast<uint32_t>(q->pending.getSize());
    return kOk;
}

uint32_t COSRuntime::createTask(TaskInit init, uint16_t instanceSize, uint8_t taskNumber, uint16_t flags) {
    // The message carries a 32-bit handle of the init function: its place in a small table.
    uint32_t handle = 0;
    {
        Locked hold(lock_);
        for (size_t i = 0; i < kInitSlots && !handle; ++i) {
            if (inits_[i] == init) handle = static_cast<uint32_t>(i + 1);
        }
        for (size_t i = 0; i < kInitSlots && !handle; ++i) {
            if (!inits_[i]) {
                inits_[i] = init;
                handle = static_cast<uint32_t>(i + 1);
            }
        }
    }
    if (!handle) STACK_ASSERT_REPORT();
    RuntimeMessage m(192, kLayerManagementTask);
    m.put32(6, handle);
    m.put16(10, instanceSize ? instanceSize : 2);
    m.put16(12, flags);
    m.put8(14, taskNumber);
    return sendToAddress(kLayerManagementTask, m);
}

TaskInit COSRuntime::taskInitOf(const RuntimeMessage& createMessage) const {
    uint32_t handle = createMessage.u32(6);
    if (handle == 0 || handle > kInitSlots) return nullptr;
    return inits_[handle - 1];
}

uint16_t COSRuntime::waitForTaskQueue(uint8_t taskNumber) {
    // Layer management and the timer service start before anyone waits for them; the bound only
    // keeps a broken start from spinning for ever.
    for (int tries = 0; tries < 100000; ++tries) {
        uint16_t number = 0;
        if (findQueue(taskNumber, &number) == kOk) return number;
        schedulerStep();
        std::this_thread::yield();
    }
    STACK_ASSERT_REPORT();
    return 0;
}

void COSRuntime::schedulerStep() {
    if (schedulerBusy_.exchange(1)) return;
    for (;;) {
        CMessagNode* n = static_cast<CMessagNode*>(ready_.removeNodeInterlocked());
        if (!n) break;
        COSQueue* q = n->queue;
        if (q && q->busy) {
            deferred_.appendNodeInterlocked(n);
            continue;
        }
        if (q && activeQueues_.isValid(q)) {
            q->busy = true;
            q->handler(q->context);
            q->busy = false;
        }
        n->queue = nullptr;
        freeMessages_.appendNodeInterlocked(n);
    }
    while (CDoubleListNode* n = deferred_.removeNodeInterlocked()) ready_.appendNodeInterlocked(n);
    schedulerBusy_ = 0;
}

bool COSRuntimeThread::start(COSRuntime& rt, StartFn fn, void* context) {
    if (thread_.joinable()) return true;
    stop_ = false;
    runtime_ = &rt;
    try {
        thread_ = std::thread([this, &rt, fn, context] {
            if (fn) fn(rt, context);
            while (!stop_) {
                rt.schedulerStep();
                std::unique_lock<std::mutex> lock(wakeMutex_);
                wakeCv_.wait_for(lock, std::chrono::milliseconds(kStepMs), [this] { return woken_ || stop_.load(); });
                woken_ = false;
            }
        });
    } catch (...) {
        runtime_ = nullptr;
        return false;  // no thread to be had: the caller reports it
    }
    rt.setWake(&COSRuntimeThread::wakeThread, this);
    return true;
}

void COSRuntimeThread::wake() {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    woken_ = true;
    wakeCv_.notify_one();
}

void COSRuntimeThread::stop() {
    if (runtime_) runtime_->setWake(nullptr, nullptr);
    stop_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
    runtime_ = nullptr;
}

}  // namespace stack
