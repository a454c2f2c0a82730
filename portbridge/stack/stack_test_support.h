// What the stack's tests run on: a fresh runtime with a stand-in for layer management (it starts
// a task on message 192 by calling its init function) and tasks that only record what they get.
// The tests bind layers themselves (message 193) and drive the timer tick by hand.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "portbridge/stack/os_runtime.h"
#include "portbridge/stack/stack_messages.h"
#include "portbridge/stack/timer_service.h"

namespace stack {
namespace testing {

// For a stack running on threads of its own: waits up to `ms` (the machine may be slow) until
// `ids()`, a snapshot of the message ids seen so far, holds `id` at least `count` times.
template <class Ids>
bool waitForId(Ids ids, uint16_t id, unsigned ms, size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const std::vector<uint16_t> seen = ids();
        if (size_t(std::count(seen.begin(), seen.end(), id)) >= count) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A task that keeps every message it is given, in order.
class RecordingTask {
public:
    RecordingTask(COSRuntime& rt, uint32_t address) : rt_(rt), address_(address) {
        rt_.createTaskQueue(address, &RecordingTask::handle, this, &queue_);
    }
    uint16_t queue() const { return queue_; }
    uint32_t address() const { return address_; }
    std::vector<RuntimeMessage> got;

    std::vector<RuntimeMessage> take() {
        std::vector<RuntimeMessage> out;
        out.swap(got);
        return out;
    }
    std::vector<uint16_t> ids() const {
        std::vector<uint16_t> v;
        for (const RuntimeMessage& m : got) v.push_back(m.id());
        return v;
    }

private:
    static void handle(void* context) {
        RecordingTask* self = static_cast<RecordingTask*>(context);
        RuntimeMessage m;
        while (self->rt_.receiveMessage(self->queue_, &m) == kOk) self->got.push_back(m);
    }
    COSRuntime& rt_;
    uint32_t address_;
    uint16_t queue_ = 0;
};

class StandInLayerManagement {
public:
    explicit StandInLayerManagement(COSRuntime& rt) : rt_(rt) {
        rt_.createTaskQueue(kLayerManagementTask, &StandInLayerManagement::handle, this, &queue_);
    }
    uint16_t queue() const { return queue_; }
    std::vector<RuntimeMessage> registrations;

private:
    static void handle(void* context) {
        StandInLayerManagement* self = static_cast<StandInLayerManagement*>(context);
        RuntimeMessage m;
        if (self->rt_.receiveMessage(self->queue_, &m) != kOk) return;
        if (m.id() == 253) self->registrations.push_back(m);
        if (m.id() != 192) return;
        TaskInit init = self->rt_.taskInitOf(m);
        void* block = nullptr;
        if (m.u16(12) != 1) self->rt_.allocInstance(m.u16(10), &block);
        if (init) init(block, m.u8(14));
    }
    COSRuntime& rt_;
    uint16_t queue_ = 0;
};

// A runtime with layer management and the timer service started.
class StackRig {
public:
    StackRig() : lm_(rt) {
        rt.createTask(&timerServiceInit, 0, kTimerTask, 1);
        rt.schedulerStep();
        rt.findQueue(kTimerTask, &timerQueue);
    }
    // Runs the scheduler until nothing is ready.
    void step() { rt.schedulerStep(); }
    // n ticks of 10 ms, each followed by a scheduler step.
    void tick(unsigned n = 1) {
        for (unsigned i = 0; i < n; ++i) {
            timerTick();
            rt.schedulerStep();
        }
    }
    COSRuntime rt;
    uint16_t timerQueue = 0;
    StandInLayerManagement& layerManagement() { return lm_; }

private:
    StandInLayerManagement lm_;
};

}  // namespace testing
}  // namespace stack
