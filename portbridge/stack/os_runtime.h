// The task runtime of the protocol stack: message queues named by task addresses, a pool of
// message nodes, a ready list and a scheduler step; and the memory part: one arena, pools of
// partitions of fixed-size buffers. There are no preemptive tasks: a task is a queue with a
// handler, called once per delivered message on the thread that runs schedulerStep.
//
// Every operation returns a small status and never throws. No memory is taken from the heap after
// the runtime is constructed. Several threads send (the runtime thread, the serial reader, the
// tick, the provider's window thread); each list operation is atomic and the runtime lock is a
// real lock, so a send as a whole is too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "portbridge/stack/runtime_message.h"
#include "portbridge/stack/stack_base.h"

namespace stack {

enum Status : uint32_t {
    kOk = 0,
    kFailure = 1,        // memory: out of arena, no pool, no buffer
    kUnknownObject = 2,  // no such queue (queries) or pool
    kNoSuchQueue = 3,    // no queue for the number or address, or all 8 names used
    kEmpty = 6,
    kNoNode = 7,         // no free node, queue or memory
};

using TaskHandler = void (*)(void* context);
// Called with the task's instance block (or null) and the task's address; non-zero when started.
using TaskInit = uint32_t (*)(void* instance, uint32_t address);
// Called when a flagged buffer is given back; its result is freeBuffer's.
using BufferReleaseFn = uint32_t (*)(void* context, uint16_t poolNumber);
// A pool's release notification: called with each buffer size given back to the pool.
using PoolReleaseFn = void (*)(void* context, uint16_t poolNumber, uint16_t bufferSize);

// Where a table is full or a lookup fails that must not fail. Records the place and goes on.
void assertionReport(const char* file, int line);
struct AssertionRecord {
    const char* file;
    int line;
    unsigned count;
};
AssertionRecord lastAssertion();
#define STACK_ASSERT_REPORT() ::stack::assertionReport(__FILE__, __LINE__)

class COSResource : public CDoubleListNode {
public:
    COSResource();
    uint16_t resourceNumber() const { return number_; }
    uint32_t owner = 0;

private:
    uint16_t number_;
};

class COSNamedResource : public COSResource {
public:
    static constexpr int kNames = 8;
    uint32_t addName(uint32_t address);        // 0, or 3 when all 8 are used
    uint32_t matchName(uint32_t address) const;  // 0, or 3 when no slot holds it
    uint32_t firstName() const { return used_ & 1 ? names_[0] : 0; }
    void clearNames() { used_ = 0; }

private:
    uint32_t names_[kNames] = {};
    uint8_t used_ = 0;
};

// The runtime's own locks and lists lock within the process. A TMutex is a kernel mutex: under
// Wine every enter and every leave is a round trip to the wineserver (an enter and leave measured
// 30 to 73 us on a loaded machine, a lock that stays in the process 0.012 us), and one message
// from a task to the next takes several list operations: some milliseconds a hop. Each list
// operation stays atomic and the lock stays recursive, as the lists' own mutex is.
class CRuntimeLock {
public:
    void init() {}
    void enter() { m_.lock(); }
    void leave() { m_.unlock(); }

private:
    std::recursive_mutex m_;
};

// A CDoubleList whose interlocked operations hold a CRuntimeLock in place of the list's TMutex.
// The runtime reaches its lists only through members of this type, so no operation takes the
// other lock.
class CRuntimeList : public CDoubleList {
public:
    int appendNodeInterlocked(CDoubleListNode* node) {
        std::lock_guard<std::recursive_mutex> hold(m_);
        return appendNode(node);
    }
    void insertNodeInterlocked(CDoubleListNode* node) {
        std::lock_guard<std::recursive_mutex> hold(m_);
        insertNode(node);
    }
    int removeNodeInterlocked(CDoubleListNode* node) {
        std::lock_guard<std::recursive_mutex> hold(m_);
        return removeNode(node);
    }
    CDoubleListNode* removeNodeInterlocked() {
        std::lock_guard<std::recursive_mutex> hold(m_);
        return removeNode();
    }
    int isValid(CDoubleListNode* node) {
        std::lock_guard<std::recursive_mutex> hold(m_);
        for (CDoubleListNode* n = head(); n; n = n->next())
            if (n == node) return 1;
        return 0;
    }
    void disableAccess() { m_.lock(); }
    void enableAccess() { m_.unlock(); }

private:
    std::recursive_mutex m_;
};

class COSQueue;

class CMessagNode : public CDoubleListNode {
public:
    RuntimeMessage message;
    COSQueue* queue = nullptr;
};

class COSQueue : public COSNamedResource {
public:
    CRuntimeList pending;
    TaskHandler handler = nullptr;
    void* context = nullptr;
    uint16_t priority = 0;
    bool busy = false;
};

class CPoolNode;
class CPartition;

class CBufferNode : public CDoubleListNode {
public:
    std::atomic<bool> inUse{false};
    uint8_t* data = nullptr;
    uint16_t size = 0;
    CPoolNode* pool = nullptr;
    BufferReleaseFn release = nullptr;
    void* releaseContext = nullptr;
    uint32_t index = 0;  // in the runtime's table of buffer nodes; the arena header names it
};

class CPartition : public COSResource {
public:
    CPoolNode* pool = nullptr;
    uint16_t bufferSize = 0;
    uint16_t bufferCount = 0;
    uint32_t totalBytes = 0;
    uint8_t* memory = nullptr;
    uint16_t currentSize = 0;
    uint16_t currentCount = 0;
    CRuntimeList buffers;
};

class CPoolNode : public COSNamedResource {
public:
    CRuntimeList partitions;
    PoolReleaseFn releaseFn = nullptr;
    void* releaseContext = nullptr;
    uint16_t releaseMode = 0;
    std::atomic<int> releaseNesting{0};
};

class COSRuntime {
public:
    static constexpr size_t kQueues = 40;
    static constexpr size_t kMessageNodes = 100;
    static constexpr size_t kPools = 40;
    static constexpr size_t kPartitions = 50;
    static constexpr size_t kBuffers = 250;
    static constexpr size_t kArenaBytes = 256000;
    static constexpr uint16_t kQueuePriority = 16;
    static constexpr uint8_t kDefaultPoolTask = 0xF1;
    static constexpr uint32_t kBufferGuard = 0xB0FFE12Du;

    // Runtime start-up: the free lists, the arena and the default pool (16 x 256, 2 x 2048 bytes).
    // The newest runtime is the one the tasks reach through osRuntime().
    COSRuntime();
    ~COSRuntime();
    COSRuntime(const COSRuntime&) = delete;
    COSRuntime& operator=(const COSRuntime&) = delete;
    bool startedUp() const { return startedUp_; }
    // Tells runtimes apart even when one is built where an earlier one was.
    uint32_t generation() const { return generation_; }

    // --- messaging
    uint32_t createTaskQueue(uint32_t address, TaskHandler handler, void* context, uint16_t* queueNumber);
    uint32_t addQueueAddress(uint16_t queueNumber, uint32_t address);
    uint32_t findQueue(uint32_t address, uint16_t* queueNumber);
    uint32_t sendMessage(uint16_t queueNumber, const RuntimeMessage& message);
    uint32_t sendToAddress(uint32_t address, const RuntimeMessage& message);
    uint32_t sendFrom(uint32_t senderAddress, RuntimeMessage message);
    uint32_t receiveMessage(uint16_t queueNumber, RuntimeMessage* message, int32_t wait = -1);
    uint32_t queueAddress(uint16_t queueNumber, uint32_t* address);
    uint32_t queuePending(uint16_t queueNumber, uint32_t* count);
    // Message 192 to layer management: init, instance size (0 means 2), task number, flags.
    uint32_t createTask(TaskInit init, uint16_t instanceSize, uint8_t taskNumber, uint16_t flags);
    // The init function that message 192 names (its 32-bit handle at offset 6); null when unknown.
    TaskInit taskInitOf(const RuntimeMessage& createMessage) const;
    // Runs scheduler steps until a queue for the task number exists; its number, 0 when it never came.
    uint16_t waitForTaskQueue(uint8_t taskNumber);
    void schedulerStep();
    uint32_t runtimeLock();
    void runtimeUnlock(uint32_t value);
    uint16_t createTaskQueueNumber() const { return createTaskQueue_; }
    size_t freeMessageNodes() const { return static_cast<size_t>(freeMessages_.getSize()); }
    size_t freeQueues() const { return static_cast<size_t>(freeQueues_.getSize()); }
    uint32_t startMilliseconds() const { return startMs_; }
    // Called after every queued message (from any thread): the runtime thread's wake-up.
    using WakeFn = void (*)(void* context);
    void setWake(WakeFn fn, void* context) {
        wakeContext_ = context;
        wake_ = fn;
    }

    // --- memory
    uint32_t allocInstance(uint16_t size, void** block);
    uint32_t createPool(uint32_t poolAddress, uint16_t bufferSize, uint16_t bufferCount, uint16_t* poolNumber);
    uint32_t addPartition(uint16_t poolNumber, uint16_t bufferSize, uint16_t bufferCount);
    uint32_t getBuffer(uint16_t poolNumber, uint16_t size, uint8_t** data);
    uint32_t getBufferWithRelease(uint16_t poolNumber, uint16_t size, uint8_t** data, BufferReleaseFn fn,
                                  void* context);
    uint32_t freeBuffer(void* data);
    uint32_t setPoolRelease(uint16_t poolNumber, PoolReleaseFn fn, void* context);
    uint32_t poolHasBuffer(uint16_t poolNumber, uint16_t size);
    uint32_t findPoolByAddress(uint32_t address, uint16_t* poolNumber);
    uint32_t findPoolOfBuffer(const void* data, uint16_t* poolNumber);
    uint32_t addPoolAddress(uint16_t poolNumber, uint32_t address);
    uint32_t findDefaultPool(uint16_t* poolNumber);
    uint32_t redimensionPool(uint16_t poolNumber, uint16_t size);
    // The buffer size behind a data pointer (0 when it is no buffer of ours).
    uint16_t bufferSizeOf(const void* data);
    size_t arenaBytesLeft() const { return kArenaBytes - arenaUsed_; }

    // A bad pointer given to freeBuffer stops the process; tests put a recorder here instead
    // (freeBuffer then returns 1 and changes nothing).
    using FatalCheckFn = void (*)(const char* what);
    static void setFatalCheckHandler(FatalCheckFn fn);

private:
    COSQueue* queueByNumber(uint16_t number);
    CPoolNode* poolByNumber(uint16_t number);
    CBufferNode* bufferOf(const void* data);
    uint32_t addPartitionTo(CPoolNode* pool, uint16_t bufferSize, uint16_t bufferCount);
    void bindBuffers(CPartition* part, uint16_t size, uint16_t count);

    bool startedUp_ = false;
    std::atomic<WakeFn> wake_{nullptr};
    void* wakeContext_ = nullptr;
    uint32_t generation_ = 0;
    uint32_t startMs_ = 0;

    std::unique_ptr<COSQueue[]> queueStore_;
    std::unique_ptr<CMessagNode[]> nodeStore_;
    CRuntimeList activeQueues_, freeQueues_, freeMessages_, ready_, deferred_;
    uint16_t createTaskQueue_ = 0;
    std::atomic<int> schedulerBusy_{0};
    CRuntimeLock lock_;
    static constexpr size_t kInitSlots = 17;
    TaskInit inits_[kInitSlots] = {};

    std::unique_ptr<CPoolNode[]> poolStore_;
    std::unique_ptr<CPartition[]> partitionStore_;
    std::unique_ptr<CBufferNode[]> bufferStore_;
    std::unique_ptr<uint8_t[]> arena_;
    size_t arenaUsed_ = 0;
    CRuntimeList activePools_, freePools_, freePartitions_, freeBuffers_;
    uint16_t defaultPool_ = 0;
    CRuntimeLock memoryLock_;
};

// The runtime thread: runs the start function once (the stack's start-up: layer management and
// the create-task messages), then a scheduler step every 10 ms until it is stopped from outside,
// and at once whenever a message is queued: a request from another thread (the CAPI side's data,
// a frame from the serial reader) is handled without waiting for the next period.
class COSRuntimeThread {
public:
    using StartFn = void (*)(COSRuntime& rt, void* context);
    static constexpr unsigned kStepMs = 10;

    COSRuntimeThread() = default;
    ~COSRuntimeThread() { stop(); }
    COSRuntimeThread(const COSRuntimeThread&) = delete;
    COSRuntimeThread& operator=(const COSRuntimeThread&) = delete;

    // False when the thread cannot be created; a running thread is left alone (true).
    bool start(COSRuntime& rt, StartFn fn, void* context);
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    void wake();
    static void wakeThread(void* context) { static_cast<COSRuntimeThread*>(context)->wake(); }

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
    COSRuntime* runtime_ = nullptr;
};

// The runtime the tasks run on (the newest one constructed).
COSRuntime& osRuntime();
bool hasOsRuntime();

// Resource numbers come from one counter that the runtime's start-up sets to 0.
void resetResourceCounter();

}  // namespace stack
