// The shared bytes' rules without any process: object names, slot geometry, the put checks and
// the receive-slot bookkeeping.
#include "portbridge/capi/shared_layout.h"

#include <gtest/gtest.h>

#include <vector>

using namespace shared;

TEST(SharedNames, PrefixAndAtLeastTwoDigits) {
    EXPECT_EQ(objectName("AP", 1), "AP01");
    EXPECT_EQ(objectName("TX", 8), "TX08");
    EXPECT_EQ(objectName("serlinkRequest", 12), "serlinkRequest12");
    EXPECT_EQ(objectName("serlinkSignal", 123), "serlinkSignal123");
    EXPECT_EQ(instanceSectionName(0x1234A), "0001234a");
}

TEST(SharedGeometry, ProductWithoutOverflowAndCapped) {
    struct Case {
        uint16_t connections, blocks, length;
        bool ok;
        uint64_t bytes;
    } cases[] = {
        {2, 7, 2048, true, 28672},
        {1, 1, 1, true, 1},
        {0, 7, 2048, false, 0},
        {2, 7, 0, false, 0},
        {0xFFFF, 0xFFFF, 0xFFFF, false, 0},  // 2^48: no 32-bit product may wrap into a small size
        {0x8000, 0x0002, 0x4000, false, 0},  // 2^30 exactly wraps 32 bits times 4: still refused
        {64, 64, 4096, true, 16u * 1024 * 1024},
        {64, 64, 4097, false, 0},
        {4096, 4096, 1, false, 0},  // 16 MB, but 16.7 million slots
        {4096, 1, 1, true, 4096},
        {4097, 1, 1, false, 0},
    };
    for (const Case& c : cases) {
        RegisterParams p;
        p.maxLogicalConnections = c.connections;
        p.maxB3Blocks = c.blocks;
        p.maxB3DataLength = c.length;
        SlotGeometry g;
        EXPECT_EQ(slotGeometry(p, &g), c.ok) << c.connections << "x" << c.blocks << "x" << c.length;
        if (c.ok) {
            EXPECT_EQ(g.bytes(), c.bytes);
        }
    }
}

namespace {
std::vector<uint8_t> message(uint16_t length, uint16_t command, uint32_t data = 0, uint16_t dataLength = 0) {
    std::vector<uint8_t> m(kMessageAreaSize, 0);
    put16(&m[0], length);
    put16(&m[4], command);
    put32(&m[kData], data);
    put16(&m[kDataLength], dataLength);
    return m;
}
}  // namespace

TEST(SharedPutCheck, LengthsAndTransmitSlots) {
    SlotGeometry tx;
    tx.count = 4;
    tx.size = 100;
    struct Case {
        const char* what;
        std::vector<uint8_t> m;
        uint16_t info;
        int64_t slot;
    } cases[] = {
        {"shortest message", message(12, 0x8005), kInfoOk, -1},
        {"too short", message(11, 0x8005), kInfoBadMessage, -1},
        {"longest", message(282, 0x8005), kInfoOk, -1},
        {"longer than the put area", message(283, 0x8005), kInfoBadMessage, -1},
        {"data in the last slot", message(22, kDataB3Req, 3, 100), kInfoOk, 3},
        {"empty data", message(22, kDataB3Req, 0, 0), kInfoOk, 0},
        {"slot index past the section", message(22, kDataB3Req, 4, 10), kInfoBadParameter, -1},
        {"huge slot index", message(22, kDataB3Req, 0xFFFFFFFF, 10), kInfoBadParameter, -1},
        {"data longer than a slot", message(22, kDataB3Req, 0, 101), kInfoBadParameter, -1},
        {"no room for the data fields", message(21, kDataB3Req, 0, 1), kInfoBadParameter, -1},
        {"bad length of a data request", message(300, kDataB3Req, 0, 1), kInfoBadMessage, -1},
    };
    for (const Case& c : cases) {
        int64_t slot = 99;
        EXPECT_EQ(checkPutMessage(c.m.data(), tx, &slot), c.info) << c.what;
        EXPECT_EQ(slot, c.slot) << c.what;
    }
}

TEST(SharedReceiveSlots, AnswerFreesTheSlotOfItsOwnHandle) {
    CReceiveSlotTable slots;
    ASSERT_TRUE(slots.create(3));
    EXPECT_EQ(slots.take(0x10001, 1)->index(), 0u);
    EXPECT_EQ(slots.take(0x10001, 2)->index(), 1u);
    EXPECT_EQ(slots.take(0x20001, 1)->index(), 2u);
    EXPECT_EQ(slots.take(0x10001, 3), nullptr);  // all in use
    EXPECT_EQ(slots.release(0x10001, 7), -1);    // no such handle: nothing freed
    EXPECT_EQ(slots.release(0x20001, 1), 2);     // the same handle on another NCCI
    EXPECT_EQ(slots.release(0x10001, 2), 1);     // not the oldest
    EXPECT_EQ(slots.release(0x10001, 2), -1);    // answered twice
    EXPECT_EQ(slots.freeCount(), 2);
    EXPECT_EQ(slots.take(0x10001, 4)->index(), 2u);  // freed slots come back in the order freed
    EXPECT_EQ(slots.take(0x10001, 5)->index(), 1u);
    EXPECT_EQ(slots.usedCount(), 3);
}

TEST(SharedReceiveSlots, IndicationCutToTheSlotAndItsLengthRewritten) {
    struct Case {
        uint16_t dataLength;
        uint32_t available;
        uint32_t copied;
    } cases[] = {{50, 50, 50}, {100, 100, 100}, {150, 150, 100}, {80, 0, 0}};
    for (const Case& c : cases) {
        CReceiveSlotTable slots;
        ASSERT_TRUE(slots.create(2));
        std::vector<uint8_t> m = message(22, kDataB3Ind, 0xDEADBEEF, c.dataLength);
        put32(&m[kNcci], 0x10001);
        put16(&m[kDataHandle], 9);
        uint32_t index = 7, copy = 7;
        ASSERT_TRUE(storeIndication(m.data(), slots, 100, c.available, &index, &copy));
        EXPECT_EQ(index, 0u);
        EXPECT_EQ(copy, c.copied);
        EXPECT_EQ(get32(&m[kData]), 0u) << "Data carries the slot index";
        EXPECT_EQ(get16(&m[kDataLength]), c.copied) << "the client reads only what was copied";
        EXPECT_EQ(slots.release(0x10001, 9), 0);
    }
    CReceiveSlotTable none;
    std::vector<uint8_t> m = message(22, kDataB3Ind, 0xDEADBEEF, 10);
    uint32_t index = 0, copy = 0;
    EXPECT_FALSE(storeIndication(m.data(), none, 100, 10, &index, &copy));
}
