#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portbridge/stack/os_runtime.h"

namespace stack {
namespace {

std::vector<std::string> g_fatal;
void recordFatal(const char* what) { g_fatal.push_back(what); }

class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        g_fatal.clear();
        COSRuntime::setFatalCheckHandler(&recordFatal);
        ASSERT_TRUE(rt.startedUp());
        ASSERT_EQ(rt.findDefaultPool(&pool), kOk);
    }
    void TearDown() override { COSRuntime::setFatalCheckHandler(nullptr); }
    COSRuntime rt;
    uint16_t pool = 0;
};

TEST_F(Memory, DefaultPoolBuffers) {
    struct Case {
        uint16_t size;
        uint32_t status;
        uint16_t bufferSize;  // of the buffer handed out
    } cases[] = {
        {1, kOk, 256}, {256, kOk, 256}, {257, kOk, 2048}, {2048, kOk, 2048}, {300, kFailure, 0}, {2049, kFailure, 0},
    };
    for (const Case& c : cases) {
        uint8_t* p = reinterpret_cast<uint8_t*>(1);
        EXPECT_EQ(rt.getBuffer(pool, c.size, &p), c.status) << c.size;
        EXPECT_EQ(rt.bufferSizeOf(p), c.bufferSize) << c.size;
        if (c.status != kOk) {
            EXPECT_EQ(p, nullptr);
        }
    }
    uint8_t* p = nullptr;
    EXPECT_EQ(rt.getBuffer(static_cast<uint16_t>(pool + 500), 10, &p), kUnknownObject);
    EXPECT_EQ(rt.poolHasBuffer(pool, 256), 14u);
    EXPECT_EQ(rt.poolHasBuffer(pool, 1000), 0u) << "both large buffers in use";
}

TEST_F(Memory, SmallPartitionFullFallsToTheLargeOne) {
    std::vector<uint8_t*> taken;
    for (int i = 0; i < 16; ++i) {
        uint8_t* p = nullptr;
        ASSERT_EQ(rt.getBuffer(pool, 100, &p), kOk);
        EXPECT_EQ(rt.bufferSizeOf(p), 256);
        taken.push_back(p);
    }
    uint8_t* p = nullptr;
    ASSERT_EQ(rt.getBuffer(pool, 100, &p), kOk);
    EXPECT_EQ(rt.bufferSizeOf(p), 2048) << "a partition with no free buffer is passed over";
    for (uint8_t* b : taken) EXPECT_EQ(rt.freeBuffer(b), kOk);
    EXPECT_EQ(rt.freeBuffer(p), kOk);
    EXPECT_TRUE(g_fatal.empty());
}

TEST_F(Memory, RedimensionTheLargePartition) {
    ASSERT_EQ(rt.redimensionPool(pool, 600), kOk);
    std::vector<uint8_t*> taken;
    uint8_t* p = nullptr;
    while (rt.getBuffer(pool, 257, &p) == kOk) {
        EXPECT_EQ(rt.bufferSizeOf(p), 600);
        taken.push_back(p);
    }
    EXPECT_EQ(taken.size(), 6u) << "4112 bytes make six buffers of 600";
    EXPECT_EQ(rt.poolHasBuffer(pool, 256), 16u) << "the 256-byte partition is left alone";
    // While one is in use the partition cannot be rebuilt under its owner.
    EXPECT_EQ(rt.redimensionPool(pool, 1000), kFailure);
    for (uint8_t* b : taken) rt.freeBuffer(b);
    // A size above 2048 keeps the current buffer size.
    ASSERT_EQ(rt.redimensionPool(pool, 4000), kOk);
    ASSERT_EQ(rt.getBuffer(pool, 600, &p), kOk);
    EXPECT_EQ(rt.bufferSizeOf(p), 600);
    rt.freeBuffer(p);
    ASSERT_EQ(rt.redimensionPool(pool, 2048), kOk);
    EXPECT_EQ(rt.poolHasBuffer(pool, 2048), 2u);
    EXPECT_EQ(rt.redimensionPool(static_cast<uint16_t>(pool + 500), 600), kUnknownObject);
    EXPECT_TRUE(g_fatal.empty());
}

TEST_F(Memory, FreeingWhatIsNotABufferInUse) {
    uint8_t* p = nullptr;
    ASSERT_EQ(rt.getBuffer(pool, 10, &p), kOk);
    EXPECT_EQ(rt.freeBuffer(nullptr), kFailure);
    EXPECT_TRUE(g_fatal.empty()) << "null is only a failure";
    ASSERT_EQ(rt.freeBuffer(p), kOk);
    // Given back twice: the next owner would share it with the first.
    EXPECT_EQ(rt.freeBuffer(p), kFailure);
    ASSERT_EQ(g_fatal.size(), 1u);
    uint8_t local[16] = {};
    EXPECT_EQ(rt.freeBuffer(local + 8), kFailure);
    EXPECT_EQ(rt.freeBuffer(p + 1), kFailure);
    EXPECT_EQ(g_fatal.size(), 3u);
    // Nothing changed: the buffer is free once.
    EXPECT_EQ(rt.poolHasBuffer(pool, 10), 16u);
}

TEST_F(Memory, ReleaseCallbackAndPoolNotification) {
    struct Seen {
        int calls = 0;
        uint16_t pool = 0;
        std::vector<uint16_t> sizes;
    } seen;
    auto callback = [](void* c, uint16_t poolNumber) -> uint32_t {
        Seen* s = static_cast<Seen*>(c);
        ++s->calls;
        s->pool = poolNumber;
        return 42;
    };
    auto notify = [](void* c, uint16_t, uint16_t size) { static_cast<Seen*>(c)->sizes.push_back(size); };
    ASSERT_EQ(rt.setPoolRelease(pool, notify, &seen), kOk);
    EXPECT_EQ(rt.setPoolRelease(static_cast<uint16_t>(pool + 500), notify, &seen), kUnknownObject);
    uint8_t* p = nullptr;
    ASSERT_EQ(rt.getBufferWithRelease(pool, 1000, &p, callback, &seen), kOk);
    EXPECT_EQ(rt.freeBuffer(p), 42u);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.pool, pool);
    // One-shot: the same buffer taken again without a callback frees with 0.
    ASSERT_EQ(rt.getBuffer(pool, 1000, &p), kOk);
    EXPECT_EQ(rt.freeBuffer(p), kOk);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.sizes, (std::vector<uint16_t>{2048, 2048}));
}

TEST_F(Memory, PoolsAndTheArena) {
    uint16_t p1 = 0, p2 = 0;
    ASSERT_EQ(rt.createPool(0x4F0, 100, 3, &p1), kOk);
    ASSERT_EQ(rt.createPool(0x4F0, 500, 2, &p2), kOk);
    EXPECT_EQ(p1, p2) << "a known address adds a partition";
    EXPECT_EQ(rt.poolHasBuffer(p1, 100), 3u);
    EXPECT_EQ(rt.poolHasBuffer(p1, 101), 2u);
    uint16_t found = 0;
    EXPECT_EQ(rt.findPoolByAddress(0x4F0, &found), kOk);
    EXPECT_EQ(found, p1);
    EXPECT_EQ(rt.findPoolByAddress(0x5F0, &found), kFailure);
    ASSERT_EQ(rt.addPoolAddress(p1, 0x5F0), kOk);
    EXPECT_EQ(rt.findPoolByAddress(0x5F0, &found), kOk);
    uint8_t* b = nullptr;
    ASSERT_EQ(rt.getBuffer(p1, 50, &b), kOk);
    EXPECT_EQ(rt.findPoolOfBuffer(b, &found), kOk);
    EXPECT_EQ(found, p1);
    rt.freeBuffer(b);

    uint16_t p74 = 0;
    ASSERT_EQ(rt.createPool(74, 16, 3, &p74), kOk);
    EXPECT_EQ(rt.poolHasBuffer(p74, 16), 5u) << "pool 74 gets two more in its first partition";

    // A partition larger than the arena fails with 1 and leaves the pool number at 0.
    uint16_t big = 9;
    EXPECT_EQ(rt.createPool(0x6F0, 60000, 5, &big), kFailure);
    EXPECT_EQ(big, 0);

    // An instance block exactly as large as what is left fails; one byte less (rounded) works.
    void* block = reinterpret_cast<void*>(1);
    while (rt.arenaBytesLeft() > 60000) ASSERT_EQ(rt.allocInstance(60000, &block), kOk);
    const size_t left = rt.arenaBytesLeft();
    EXPECT_EQ(rt.allocInstance(static_cast<uint16_t>(left), &block), kNoNode);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(rt.allocInstance(static_cast<uint16_t>(left - 16), &block), kOk);
    EXPECT_NE(block, nullptr);
}

TEST_F(Memory, OutOfBufferNodes) {
    // 250 nodes, 18 used by the default pool.
    uint16_t p = 0;
    EXPECT_EQ(rt.createPool(0x7F0, 8, 232, &p), kOk);
    EXPECT_EQ(rt.createPool(0x8F0, 8, 1, &p), kNoNode);
}

}  // namespace
}  // namespace stack
