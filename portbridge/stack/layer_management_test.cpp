// Layer management: the stack it builds at start-up (193 to each layer with its neighbours'
// queues, 202 with the connection's addresses, the stack's pools) and its tables (a task number
// started once, eight registrations, two pending builds).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "portbridge/stack/layer_management.h"
#include "portbridge/stack/link_control.h"
#include "portbridge/stack/stack_messages.h"
#include "portbridge/stack/stack_test_support.h"
#include "portbridge/stack/timer_service.h"

namespace stack {
namespace {

// A layer that keeps what it gets; made by its init function, found by its address.
struct FakeLayer {
    uint32_t address = 0;
    uint16_t queue = 0;
    void* block = nullptr;
    std::vector<RuntimeMessage> got;
};
std::vector<std::unique_ptr<FakeLayer>> g_layers;

void fakeHandle(void* context) {
    FakeLayer& l = *static_cast<FakeLayer*>(context);
    RuntimeMessage m;
    while (osRuntime().receiveMessage(l.queue, &m) == kOk) l.got.push_back(m);
}

uint32_t fakeInit(void* block, uint32_t address) {
    g_layers.emplace_back(new FakeLayer);
    FakeLayer& l = *g_layers.back();
    l.address = address;
    l.block = block;
    return osRuntime().createTaskQueue(address, &fakeHandle, &l, &l.queue) == kOk ? 1 : 0;
}

FakeLayer* layerOf(uint8_t taskNumber) {
    for (auto& l : g_layers)
        if (taskNumberOf(l->address) == taskNumber) return l.get();
    return nullptr;
}

const RuntimeMessage* firstOf(const std::vector<RuntimeMessage>& got, uint16_t id) {
    for (const RuntimeMessage& m : got)
        if (m.id() == id) return &m;
    return nullptr;
}

uint32_t word32(const uint8_t* b, unsigned off) {
    return static_cast<uint32_t>(b[off]) | static_cast<uint32_t>(b[off + 1]) << 8 |
           static_cast<uint32_t>(b[off + 2]) << 16 | static_cast<uint32_t>(b[off + 3]) << 24;
}

class LayerManagementTest : public ::testing::Test {
protected:
    LayerManagementTest() { g_layers.clear(); }
    ~LayerManagementTest() override { g_layers.clear(); }

    void steps(int n = 3) {
        for (int i = 0; i < n; ++i) rt.schedulerStep();
    }
    void send(const RuntimeMessage& m) {
        uint16_t q = 0;
        ASSERT_EQ(rt.findQueue(kLayerManagementTask, &q), kOk);
        ASSERT_EQ(rt.sendMessage(q, m), kOk);
    }
    void registerService(uint8_t task, uint8_t type) {
        RuntimeMessage m(kRegisterService);
        m.put8(6, task);
        m.put8(7, type);
        send(m);
    }
    // A 201 from `requester` for the HDLC-over-serial stack; `keep` sets bit 0 of offset 10.
    void requestStack(testing::RecordingTask& requester, uint8_t* block, bool keep) {
        buildStackRequest(block, requester.queue());
        RuntimeMessage m(kBuildStackRequest, requester.address());
        m.put16(10, keep ? 1 : 0);
        m.setPointer(block);
        send(m);
    }

    COSRuntime rt;
};

// The runtime's start-up: tasks 66 and 137 start at once, 48 and 38 when the link control's
// request builds the stack; each layer learns its neighbours' queues.
TEST_F(LayerManagementTest, StartUpBuildsTheLinkControlsStack) {
    startStackTasks(rt, StackTaskInits{&timerServiceInit, &fakeInit, &fakeInit, &linkControlInit});
    steps();
    uint16_t timerQ = 0, linkQ = 0;
    ASSERT_EQ(rt.findQueue(kTimerTask, &timerQ), kOk);
    ASSERT_EQ(rt.findQueue(kLinkControlTask, &linkQ), kOk);
    FakeLayer* hdlc = layerOf(kHdlcTask);
    FakeLayer* serial = layerOf(kSerialTask);
    ASSERT_TRUE(hdlc && serial);
    EXPECT_EQ(serial->address, static_cast<uint32_t>(kSerialTask)) << "the registered entity under its own address";
    EXPECT_NE(hdlc->address & 0xF80000u, 0u) << "the layer above under a service address";
    EXPECT_NE(hdlc->block, nullptr);
    EXPECT_NE(serial->block, nullptr);

    const RuntimeMessage* toHdlc = firstOf(hdlc->got, kBound);
    const RuntimeMessage* toSerial = firstOf(serial->got, kBound);
    ASSERT_TRUE(toHdlc && toSerial);
    EXPECT_EQ(toHdlc->u16(9), linkQ);
    EXPECT_EQ(toHdlc->u16(11), serial->queue);
    EXPECT_EQ(toSerial->u16(9), hdlc->queue);
    EXPECT_EQ(linkState(), static_cast<uint32_t>(kLinkStackReady)) << "the link control got its 193";
    LayerManagementCounts c = layerManagementCounts();
    EXPECT_EQ(c.modules, 4u);
    EXPECT_EQ(c.registrations, 1u) << "the timer service registers the serial task";
    EXPECT_EQ(c.connectionsInUse, 1u);
}

// A request of its own: 193 to the requester with the top layer's queue, 202 with status 0 and
// the four addresses, and the stack's three pools under the stack's address.
TEST_F(LayerManagementTest, BuildAnswersWithTheAddressesAndMakesThePools) {
    layerManagementStart(rt);
    testing::RecordingTask requester(rt, 0x99);
    rt.createTask(&fakeInit, 228, kHdlcTask, 0x101);
    rt.createTask(&fakeInit, 264, kSerialTask, 0x102);
    registerService(kSerialTask, 3);
    steps();
    uint8_t block[34];
    requestStack(requester, block, false);
    steps();
    const RuntimeMessage* result = firstOf(requester.got, kBuildStackResult);
    const RuntimeMessage* bound = firstOf(requester.got, kBound);
    ASSERT_TRUE(result && bound);
    EXPECT_EQ(result->u16(10), kBuildDone);
    EXPECT_EQ(result->pointer(), block);
    FakeLayer* hdlc = layerOf(kHdlcTask);
    ASSERT_TRUE(hdlc);
    EXPECT_EQ(bound->u16(11), hdlc->queue);
    EXPECT_EQ(word32(block, 0), 0x99u);
    EXPECT_EQ(word32(block, 4), hdlc->address);
    EXPECT_EQ(word32(block, 8), static_cast<uint32_t>(kSerialTask));
    EXPECT_EQ(word32(block, 12), static_cast<uint32_t>(kSerialTask)) << "the bottom entity";
    const uint32_t base = hdlc->address & ~0xFFFu;
    for (uint32_t pool : {0x2F0u, 0x1F0u, 0x0F0u}) {
        uint16_t n = 0;
        EXPECT_EQ(rt.findPoolByAddress(base | pool, &n), kOk) << std::hex << pool;
    }
    uint16_t p2 = 0;
    rt.findPoolByAddress(base | 0x2F0, &p2);
    EXPECT_EQ(rt.poolHasBuffer(p2, 140), 8u);
}

TEST_F(LayerManagementTest, SecondCreateOfATaskNumberStartsNothing) {
    layerManagementStart(rt);
    rt.createTask(&fakeInit, 0, 0x55, 1);
    rt.createTask(&fakeInit, 0, 0x55, 1);
    steps();
    EXPECT_EQ(g_layers.size(), 1u);
    EXPECT_EQ(layerManagementCounts().modules, 1u);
    EXPECT_EQ(layerManagementCounts().starts, 1u);
}

TEST_F(LayerManagementTest, NinthRegistrationIsIgnored) {
    layerManagementStart(rt);
    for (uint8_t i = 0; i < 9; ++i) registerService(static_cast<uint8_t>(100 + i), 2);
    steps();
    EXPECT_EQ(layerManagementCounts().registrations, 8u);
}

// A request that cannot be served yet waits when it asks to (two places); the answer comes when a
// later 192 brings the missing module. Without the bit it is answered at once.
TEST_F(LayerManagementTest, PendingBuildsWaitForTheirModule) {
    layerManagementStart(rt);
    testing::RecordingTask requester(rt, 0x99);
    rt.createTask(&fakeInit, 264, kSerialTask, 0x102);
    registerService(kSerialTask, 3);
    steps();
    uint8_t b1[34], b2[34], b3[34], b4[34];
    requestStack(requester, b1, true);
    requestStack(requester, b2, true);
    requestStack(requester, b3, true);
    requestStack(requester, b4, false);
    steps();
    std::vector<uint16_t> statuses;
    for (const RuntimeMessage& m : requester.take())
        if (m.id() == kBuildStackResult) statuses.push_back(m.u16(10));
    EXPECT_EQ(statuses, (std::vector<uint16_t>{kBuildNoRoom, kBuildNoModule}));
    EXPECT_EQ(layerManagementCounts().pending, 2u);

    rt.createTask(&fakeInit, 228, kHdlcTask, 0x101);
    steps();
    std::vector<const void*> answered;
    for (const RuntimeMessage& m : requester.got)
        if (m.id() == kBuildStackResult && m.u16(10) == kBuildDone) answered.push_back(m.pointer());
    EXPECT_EQ(answered, (std::vector<const void*>{b1, b2}));
    EXPECT_EQ(layerManagementCounts().pending, 0u);
    EXPECT_EQ(layerManagementCounts().connectionsInUse, 2u);
}

}  // namespace
}  // namespace stack
