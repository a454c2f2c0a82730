// Layer management (task 64): the first task of the stack and the one that makes the others. It
// starts tasks on message 192, keeps the table of task modules and of the services they
// registered (253), and builds a protocol stack on request (201): the stack's buffer pools, an
// instance of each layer under a service address, and message 193 to each layer naming the queues
// above and below it. Answered by 202.
//
// No Windows header: it talks only by runtime messages.
#pragma once

#include <cstdint>

#include "portbridge/stack/os_runtime.h"

namespace stack {

enum LayerManagementMessage : uint16_t {
    kCreateTask = 192,
    kBuildStackRequest = 201,
    kBuildStackResult = 202,
    kReleaseConnection = 203,
    kReleaseConnectionDone = 204,
};

// Task flags of message 192.
enum : uint16_t { kFlagStackEntity = 0x100, kFlagStartAtOnce = 0x4000, kFlagPerService = 0x8000 };

// Status of 202 (offset 10).
enum : uint16_t { kBuildDone = 0, kBuildNoModule = 1, kBuildNoRoom = 2, kBuildNoPool = 3 };

// Started directly by the runtime thread, before any 192: creates the task's queue (address 64)
// and finds the default pool. 1 when started.
uint32_t layerManagementStart(COSRuntime& rt);

// What tests look at.
struct LayerManagementCounts {
    unsigned modules, registrations, connectionsInUse, pending, starts;
};
LayerManagementCounts layerManagementCounts();

// The start-up of the runtime thread: layer management, then the task table (timer 66, HDLC 48,
// serial 38, link control 137) with the given init functions, in that order.
struct StackTaskInits {
    TaskInit timer, hdlc, serial, linkControl;
};
void startStackTasks(COSRuntime& rt, const StackTaskInits& inits);

}  // namespace stack
