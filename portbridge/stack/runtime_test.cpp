#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/stack_test_support.h"

namespace stack {
namespace {

using testing::RecordingTask;

void ignore(void*) {}

RuntimeMessage numbered(uint16_t id, uint32_t value) {
    RuntimeMessage m(id);
    m.put32(6, value);
    return m;
}

TEST(TaskRuntime, StatusNumbers) {
    COSRuntime rt;
    ASSERT_TRUE(rt.startedUp());
    uint16_t q = 0;
    ASSERT_EQ(rt.createTaskQueue(0x30, &ignore, nullptr, &q), kOk);
    uint16_t none = 0;
    RuntimeMessage m(1);
    uint32_t value = 0;
    const size_t freeNodes = rt.freeMessageNodes();

    struct Case {
        const char* what;
        uint32_t status;
        uint32_t expected;
    } cases[] = {
        {"send to an unknown queue", rt.sendMessage(static_cast<uint16_t>(q + 1000), m), kNoSuchQueue},
        {"send to an unknown address", rt.sendToAddress(0x31, m), kNoSuchQueue},
        {"send from, destination unknown", rt.sendFrom(0x30, RuntimeMessage(1, 0x99)), kNoSuchQueue},
        {"receive on an unknown queue", rt.receiveMessage(static_cast<uint16_t>(q + 1000), &m), kNoSuchQueue},
        {"receive on an empty queue, waiting", rt.receiveMessage(q, &m, -1), kEmpty},
        {"receive on an empty queue, not waiting", rt.receiveMessage(q, &m, 0), kEmpty},
        {"find an unknown address", rt.findQueue(0x77, &none), kNoSuchQueue},
        {"address of an unknown queue", rt.queueAddress(static_cast<uint16_t>(q + 1000), &value), kUnknownObject},
        {"pending of an unknown queue", rt.queuePending(static_cast<uint16_t>(q + 1000), &value), kUnknownObject},
        {"a queue without handler", rt.createTaskQueue(0x40, nullptr, nullptr, &none), kNoSuchQueue},
        {"create task without layer management", rt.createTask(nullptr, 0, 38, 0), kNoSuchQueue},
        {"name on an unknown queue", rt.addQueueAddress(static_cast<uint16_t>(q + 1000), 5), kNoSuchQueue},
    };
    for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
    EXPECT_EQ(rt.freeMessageNodes(), freeNodes) << "failed sends consume no node";
    EXPECT_EQ(none, 0);
}

TEST(TaskRuntime, EightAddressesPerQueue) {
    COSRuntime rt;
    uint16_t q = 0;
    ASSERT_EQ(rt.createTaskQueue(0x100, &ignore, nullptr, &q), kOk);
    for (uint32_t a = 0x101; a < 0x108; ++a) EXPECT_EQ(rt.addQueueAddress(q, a), kOk) << a;
    EXPECT_EQ(rt.addQueueAddress(q, 0x108), kNoSuchQueue) << "a ninth name";
    for (uint32_t a = 0x100; a < 0x108; ++a) {
        uint16_t found = 0;
        EXPECT_EQ(rt.findQueue(a, &found), kOk) << a;
        EXPECT_EQ(found, q);
    }
    uint16_t found = 1;
    EXPECT_EQ(rt.findQueue(0x108, &found), kNoSuchQueue);
    EXPECT_EQ(found, 0);
    uint32_t first = 0;
    EXPECT_EQ(rt.queueAddress(q, &first), kOk);
    EXPECT_EQ(first, 0x100u);
}

TEST(TaskRuntime, FortyQueues) {
    COSRuntime rt;
    uint16_t q = 0;
    for (uint32_t i = 0; i < COSRuntime::kQueues; ++i) ASSERT_EQ(rt.createTaskQueue(0x200 + i, &ignore, nullptr, &q), kOk);
    EXPECT_EQ(rt.createTaskQueue(0x300, &ignore, nullptr, &q), kNoNode) << "the 41st queue";
    EXPECT_EQ(q, 0);
}

// A send takes two nodes (the message and its notification). With only one left it must not
// queue half a message: 7 then means "not queued" and the node stays free.
TEST(TaskRuntime, OutOfNodes) {
    COSRuntime rt;
    uint16_t q = 0;
    ASSERT_EQ(rt.createTaskQueue(0x30, &ignore, nullptr, &q), kOk);
    ASSERT_EQ(rt.freeMessageNodes(), COSRuntime::kMessageNodes);
    for (size_t i = 0; i < COSRuntime::kMessageNodes / 2 - 1; ++i) ASSERT_EQ(rt.sendMessage(q, numbered(1, 0)), kOk);
    ASSERT_EQ(rt.freeMessageNodes(), 2u);
    // Take one node away through a message whose notification is consumed by a step.
    RuntimeMessage m;
    ASSERT_EQ(rt.receiveMessage(q, &m), kOk);  // frees its message node: 3 free
    ASSERT_EQ(rt.sendMessage(q, numbered(1, 1)), kOk);  // 1 free
    ASSERT_EQ(rt.freeMessageNodes(), 1u);
    uint32_t before = 0, after = 0;
    rt.queuePending(q, &before);
    EXPECT_EQ(rt.sendMessage(q, numbered(1, 2)), kNoNode) << "exactly one free node";
    rt.queuePending(q, &after);
    EXPECT_EQ(after, before) << "nothing queued";
    EXPECT_EQ(rt.freeMessageNodes(), 1u) << "the node went back";
    // No node at all.
    ASSERT_EQ(rt.receiveMessage(q, &m), kOk);
    ASSERT_EQ(rt.sendMessage(q, numbered(1, 3)), kOk);
    ASSERT_EQ(rt.freeMessageNodes(), 0u);
    EXPECT_EQ(rt.sendMessage(q, numbered(1, 4)), kNoNode) << "no node";
    rt.schedulerStep();
    while (rt.receiveMessage(q, &m) == kOk) {
    }
    EXPECT_EQ(rt.freeMessageNodes(), COSRuntime::kMessageNodes) << "every node comes back";
}

TEST(TaskRuntime, SendFromLeavesTheSenderAddress) {
    COSRuntime rt;
    RecordingTask to(rt, 0x1230);
    ASSERT_EQ(rt.sendFrom(0x4566, RuntimeMessage(7, 0x1230)), kOk);
    rt.schedulerStep();
    ASSERT_EQ(to.got.size(), 1u);
    EXPECT_EQ(to.got[0].address(), 0x4566u);
    EXPECT_EQ(to.got[0].id(), 7);
}

// The handler of one queue, for the ordering tests: it records (queue, value) and can send on.
struct Logger {
    COSRuntime* rt;
    uint16_t queue = 0;
    int name = 0;
    std::vector<std::pair<int, uint32_t>>* log;
    uint16_t forwardTo = 0;  // sends a copy with value + 100 there, once
    bool nestedStep = false;
    static void handle(void* c) {
        Logger* self = static_cast<Logger*>(c);
        RuntimeMessage m;
        if (self->rt->receiveMessage(self->queue, &m) != kOk) return;
        self->log->push_back({self->name, m.u32(6)});
        if (self->nestedStep) self->rt->schedulerStep();  // must return at once
        if (self->forwardTo && m.u32(6) < 100) self->rt->sendMessage(self->forwardTo, numbered(1, m.u32(6) + 100));
    }
};

TEST(TaskRuntime, SchedulerOrderAndReentry) {
    COSRuntime rt;
    std::vector<std::pair<int, uint32_t>> log;
    Logger a{&rt, 0, 1, &log}, b{&rt, 0, 2, &log};
    rt.createTaskQueue(0x10, &Logger::handle, &a, &a.queue);
    rt.createTaskQueue(0x20, &Logger::handle, &b, &b.queue);
    a.forwardTo = a.queue;  // to itself
    b.nestedStep = true;
    rt.sendMessage(a.queue, numbered(1, 1));
    rt.sendMessage(b.queue, numbered(1, 2));
    rt.sendMessage(a.queue, numbered(1, 3));
    rt.schedulerStep();
    // Send order, and the messages a handler sends to itself run in the same step after what was
    // ready before them; the nested step inside b's handler handled nothing.
    std::vector<std::pair<int, uint32_t>> expected = {{1, 1}, {2, 2}, {1, 3}, {1, 101}, {1, 103}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(rt.freeMessageNodes(), COSRuntime::kMessageNodes);
}

TEST(TaskRuntime, CreateTaskGoesThroughLayerManagement) {
    COSRuntime rt;
    testing::StandInLayerManagement lm(rt);
    static uint32_t startedWith = 0;
    auto init = [](void*, uint32_t address) -> uint32_t {
        startedWith = address;
        return 1;
    };
    ASSERT_EQ(rt.createTask(init, 0, 99, 1), kOk);
    rt.schedulerStep();
    EXPECT_EQ(startedWith, 99u);
}

// Senders on three threads against the runtime thread: every message arrives once and each
// sender's messages in their order. A sender that finds no node tries again.
TEST(TaskRuntime, SendersAgainstTheRuntimeThread) {
    COSRuntime rt;
    struct Sink {
        COSRuntime* rt;
        uint16_t queue = 0;
        uint32_t next[3] = {};
        std::atomic<unsigned> received{0};
        bool inOrder = true;
        static void handle(void* c) {
            Sink* s = static_cast<Sink*>(c);
            RuntimeMessage m;
            if (s->rt->receiveMessage(s->queue, &m) != kOk) return;
            uint32_t sender = m.u32(6), seq = m.u32(10);
            if (sender >= 3 || s->next[sender] != seq) s->inOrder = false;
            if (sender < 3) s->next[sender] = seq + 1;
            ++s->received;
        }
    } sink{&rt};
    ASSERT_EQ(rt.createTaskQueue(0x50, &Sink::handle, &sink, &sink.queue), kOk);
    constexpr uint32_t kEach = 1000;
    std::atomic<bool> stop{false};
    std::thread runtimeThread([&] {
        while (!stop) {
            rt.schedulerStep();
            std::this_thread::yield();
        }
        rt.schedulerStep();
    });
    std::vector<std::thread> senders;
    for (uint32_t s = 0; s < 3; ++s) {
        senders.emplace_back([&, s] {
            for (uint32_t i = 0; i < kEach; ++i) {
                RuntimeMessage m(1);
                m.put32(6, s);
                m.put32(10, i);
                while (rt.sendToAddress(0x50, m) == kNoNode) std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : senders) t.join();
    stop = true;
    runtimeThread.join();
    EXPECT_EQ(sink.received.load(), 3 * kEach);
    EXPECT_TRUE(sink.inOrder);
    EXPECT_EQ(rt.freeMessageNodes(), COSRuntime::kMessageNodes);
}

// The runtime thread runs the start-up first, then delivers what others send, until stopped.
TEST(TaskRuntime, RuntimeThreadStartsThenSteps) {
    COSRuntime rt;
    static std::atomic<int> order{0};
    static int startedAt = -1;
    struct Counter {
        COSRuntime* rt;
        uint16_t queue = 0;
        std::atomic<int> handled{0};
        static void handle(void* c) {
            Counter* self = static_cast<Counter*>(c);
            RuntimeMessage m;
            if (self->rt->receiveMessage(self->queue, &m) == kOk) ++self->handled;
        }
    } counter{&rt};
    auto start = [](COSRuntime& r, void* c) {
        startedAt = order++;
        Counter* k = static_cast<Counter*>(c);
        r.createTaskQueue(0x77, &Counter::handle, k, &k->queue);
    };
    COSRuntimeThread thread;
    ASSERT_TRUE(thread.start(rt, start, &counter));
    EXPECT_TRUE(thread.start(rt, start, &counter)) << "a second start leaves the running thread alone";
    uint16_t q = 0;
    while (rt.findQueue(0x77, &q) != kOk) std::this_thread::yield();
    for (int i = 0; i < 5; ++i) ASSERT_EQ(rt.sendToAddress(0x77, RuntimeMessage(1)), kOk);
    while (counter.handled < 5) std::this_thread::yield();
    thread.stop();
    EXPECT_FALSE(thread.running());
    EXPECT_EQ(startedAt, 0);
    EXPECT_EQ(order.load(), 1) << "the start-up ran once";
}

}  // namespace
}  // namespace stack
