#include "portbridge/stack/timer_service.h"

#include "portbridge/stack/os_runtime.h"

namespace stack {

namespace {

constexpr int kLists = 4;
constexpr int kSuspended = 3;
constexpr uint16_t kUnitMs[3] = {10, 50, 1000};

struct TimerNode {
    TimerNode* next = nullptr;
    TimerNode* prev = nullptr;
    RuntimeMessage request;  // the duration field holds the delta

    uint16_t delta() const { return request.u16(9); }
    void setDelta(uint16_t d) { request.put16(9, d); }
    bool is(const RuntimeMessage& m) const {
        return request.address() == m.address() && request.u8(7) == m.u8(7) && request.u8(6) == m.u8(6);
    }
};

struct TimerList {
    TimerNode* head = nullptr;
    TimerNode* tail = nullptr;
    unsigned count = 0;

    void clear() { head = tail = nullptr, count = 0; }
    void append(TimerNode* n) { insertBefore(n, nullptr); }
    void insertBefore(TimerNode* n, TimerNode* at) {
        n->next = at;
        n->prev = at ? at->prev : tail;
        if (n->prev) n->prev->next = n; else head = n;
        if (at) at->prev = n; else tail = n;
        ++count;
    }
    void unlink(TimerNode* n) {
        if (n->prev) n->prev->next = n->next; else head = n->next;
        if (n->next) n->next->prev = n->prev; else tail = n->prev;
        n->next = n->prev = nullptr;
        --count;
    }
    TimerNode* find(const RuntimeMessage& m) const {
        for (TimerNode* n = head; n; n = n->next)
            if (n->is(m)) return n;
        return nullptr;
    }
};

struct TimerState {
    bool started = false;
    COSRuntime* runtime = nullptr;
    uint32_t generation = 0;
    uint32_t address = 0;
    uint16_t queue = 0;
    uint16_t defaultPool = 0;
    uint16_t tickPeriod = 10;
    uint16_t accumulator = 0;
    uint16_t steps = 0;
    uint32_t seconds = 0;
    TimerList lists[kLists];
    TimerList freeList;
    TimerNode nodes[kTimerNodes];
};

TimerState g_timer;

class RuntimeLocked {
public:
    explicit RuntimeLocked(COSRuntime& rt) : rt_(rt), value_(rt.runtimeLock()) {}
    ~RuntimeLocked() { rt_.runtimeUnlock(value_); }
    RuntimeLocked(const RuntimeLocked&) = delete;
    RuntimeLocked& operator=(const RuntimeLocked&) = delete;

private:
    COSRuntime& rt_;
    uint32_t value_;
};

uint32_t expire(TimerState& s, RuntimeMessage m) {
    m.setId(kTimerExpiry);
    return s.runtime->sendFrom(s.address, m);
}

// Puts the node into a delta list `remaining` units from now: before the first node that ends
// later, so timers that end in the same unit keep the order they were started in, except that a
// new timer goes before a head that ends no sooner.
void insert(TimerList& list, TimerNode* node, uint16_t remaining) {
    if (!list.head) {
        node->setDelta(remaining);
        list.append(node);
        return;
    }
    if (list.head->delta() >= remaining) {
        list.head->setDelta(static_cast<uint16_t>(list.head->delta() - remaining));
        node->setDelta(remaining);
        list.insertBefore(node, list.head);
        return;
    }
    for (TimerNode* n = list.head; n; n = n->next) {
        if (n->delta() > remaining) {
            n->setDelta(static_cast<uint16_t>(n->delta() - remaining));
            node->setDelta(remaining);
            list.insertBefore(node, n);
            return;
        }
        remaining = static_cast<uint16_t>(remaining - n->delta());
    }
    node->setDelta(remaining);
    list.append(node);
}

// Takes a node out of a delta list, giving its delta to the one after it.
void unlinkKeepingTime(TimerList& list, TimerNode* n) {
    if (n->next) n->next->setDelta(static_cast<uint16_t>(n->next->delta() + n->delta()));
    list.unlink(n);
}

void start(TimerState& s, const RuntimeMessage& m) {
    uint8_t cls = m.u8(8);
    if (cls > kTimer1s) return;
    uint32_t duration = m.u16(9);
    if (cls < kTimer1s && s.tickPeriod > kUnitMs[cls]) {
        duration = duration * kUnitMs[cls] / s.tickPeriod;
        if (duration == 0) duration = 1;
    }
    if (duration == 0) {
        expire(s, m);
        return;
    }
    TimerNode* n = s.freeList.head;
    if (!n) {
        STACK_ASSERT_REPORT();
        return;
    }
    s.freeList.unlink(n);
    n->request = m;
    insert(s.lists[cls], n, static_cast<uint16_t>(duration > 0xFFFF ? 0xFFFF : duration));
}

void stop(TimerState& s, const RuntimeMessage& m) {
    uint8_t cls = m.u8(8);
    if (cls <= kTimer1s) {
        if (TimerNode* n = s.lists[cls].find(m)) {
            unlinkKeepingTime(s.lists[cls], n);
            s.freeList.append(n);
            return;
        }
    }
    if (TimerNode* n = s.lists[kSuspended].find(m)) {
        s.lists[kSuspended].unlink(n);
        s.freeList.append(n);
    }
}

void suspend(TimerState& s, const RuntimeMessage& m) {
    uint8_t cls = m.u8(8);
    if (cls > kTimer1s) return;
    uint32_t before = 0;
    for (TimerNode* n = s.lists[cls].head; n; n = n->next) {
        if (n->is(m)) {
            uint32_t left = before + n->delta();
            unlinkKeepingTime(s.lists[cls], n);
            n->setDelta(static_cast<uint16_t>(left > 0xFFFF ? 0xFFFF : left));
            s.lists[kSuspended].append(n);
            return;
        }
        before += n->delta();
    }
}

void resume(TimerState& s, const RuntimeMessage& m) {
    TimerNode* n = s.lists[kSuspended].find(m);
    if (!n) return;
    s.lists[kSuspended].unlink(n);
    if (n->delta() == 0) {
        expire(s, n->request);
        s.freeList.append(n);
        return;
    }
    uint8_t cls = m.u8(8) <= kTimer1s ? m.u8(8) : n->request.u8(8);
    if (cls > kTimer1s) cls = kTimer1s;
    insert(s.lists[cls], n, n->delta());
}

void processList(TimerState& s, TimerList& list) {
    if (!list.head) return;
    // A head can have nothing left when its predecessors ended in the same unit; it must not wrap.
    if (list.head->delta() > 0) list.head->setDelta(static_cast<uint16_t>(list.head->delta() - 1));
    while (list.head && list.head->delta() == 0) {
        TimerNode* n = list.head;
        // Out of message nodes: the timer stays due at the head and goes at the next tick; a
        // lost expiry would leave its owner waiting for ever.
        if (expire(s, n->request) == kNoNode) break;
        list.unlink(n);
        s.freeList.append(n);
    }
}

void handle(TimerState& s, const RuntimeMessage& m) {
    switch (m.id()) {
    case kTimerStatusRequest: {
        RuntimeMessage r(kTimerStatusReply, m.address());
        r.put32(6, 0);
        r.put16(10, 0);
        r.put16(12, 0);
        r.put16(14, 2);
        s.runtime->sendFrom(s.address, r);
        break;
    }
    case kTimerStart:
        start(s, m);
        break;
    case kTimerStop:
        stop(s, m);
        break;
    case kTimerRestart:
        stop(s, m);
        start(s, m);
        break;
    case kTimerResume:
        resume(s, m);
        break;
    case kTimerSuspend:
        suspend(s, m);
        break;
    case kTimerBind: {
        uint32_t target = m.u32(6);
        if (m.u8(13) == 0 && ((target >> 16) & 7) != 3) {
            RuntimeMessage r(265, target);
            s.runtime->sendFrom((target & ~0xFFu) | kTimerTask, r);
        }
        break;
    }
    default:
        break;
    }
}

void timerHandler(void* context) {
    TimerState& s = *static_cast<TimerState*>(context);
    RuntimeMessage m;
    if (s.runtime->receiveMessage(s.queue, &m, -1) != kOk) return;
    RuntimeLocked hold(*s.runtime);
    handle(s, m);
}

}  // namespace

RuntimeMessage timerRequest(uint16_t id, uint8_t number, uint8_t instance, uint8_t timerClass, uint16_t duration) {
    RuntimeMessage m(id, kTimerTask);
    m.put8(6, number);
    m.put8(7, instance);
    m.put8(8, timerClass);
    m.put16(9, duration);
    return m;
}

uint32_t timerServiceInit(void*, uint32_t address) {
    COSRuntime& rt = osRuntime();
    TimerState& s = g_timer;
    {
        RuntimeLocked hold(rt);
        s.started = false;
        s.runtime = &rt;
        s.generation = rt.generation();
        s.address = address;
        for (TimerList& l : s.lists) l.clear();
        s.freeList.clear();
        for (TimerNode& n : s.nodes) {
            n = TimerNode();
            s.freeList.append(&n);
        }
        s.tickPeriod = 10;
        s.accumulator = 0;
        s.steps = 0;
        s.seconds = 0;
    }
    if (rt.createTaskQueue(address, &timerHandler, &s, &s.queue) != kOk) return 0;
    uint16_t lm = rt.waitForTaskQueue(kLayerManagementTask);
    if (lm) {
        // The serial task offers the stack's bottom service.
        RuntimeMessage reg(kRegisterService, kLayerManagementTask);
        const uint8_t entry[5] = {kSerialTask, 3, 0, 0, 0};
        for (int i = 0; i < 5; ++i) reg.put8(6 + i, entry[i]);
        rt.sendFrom(address, reg);
    }
    rt.findDefaultPool(&s.defaultPool);
    RuntimeLocked hold(rt);
    s.started = true;
    return 1;
}

void timerTick() {
    TimerState& s = g_timer;
    if (!s.started || !hasOsRuntime() || osRuntime().generation() != s.generation) return;
    RuntimeLocked hold(*s.runtime);
    processList(s, s.lists[kTimer10ms]);
    s.accumulator = static_cast<uint16_t>(s.accumulator + s.tickPeriod);
    if (s.accumulator >= 50) {
        s.accumulator = static_cast<uint16_t>(s.accumulator - 50);
        processList(s, s.lists[kTimer50ms]);
        if (++s.steps >= 20) {
            s.steps = 0;
            processList(s, s.lists[kTimer1s]);
            ++s.seconds;
        }
    }
}

TimerCounts timerCounts() {
    TimerCounts c{};
    TimerState& s = g_timer;
    if (!s.runtime || !hasOsRuntime() || osRuntime().generation() != s.generation) return c;
    RuntimeLocked hold(*s.runtime);
    for (int i = 0; i < kLists; ++i) c.lists[i] = s.lists[i].count;
    c.freeNodes = s.freeList.count;
    return c;
}

}  // namespace stack
