// The payload address of DATA_B3 messages in both forms: Data (32-bit platforms, 22 bytes) and
// Data64 (64-bit platforms, 30 bytes).
#include <gtest/gtest.h>

#include <vector>

#include "common/capi_data_b3.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A DATA_B3 message of `length` bytes with Data and, where it fits, Data64 as given.
Bytes Message(uint16_t length, uint32_t data, uint64_t data64) {
    Bytes m(length, 0xEE);
    le::put16(m.data(), length);
    if (length >= capib3::kData + 4) le::put32(m.data() + capib3::kData, data);
    if (length >= capib3::kLength64) le::put64(m.data() + capib3::kData64, data64);
    return m;
}

TEST(CapiDataB3, AddressFromEitherForm) {
    struct Case {
        const char* what;
        uint16_t length;
        uint32_t data;
        uint64_t data64;
        uint64_t expected;
    } cases[] = {
        {"32-bit form", 22, 0x12345678u, 0, 0x12345678u},
        {"64-bit form, Data 0", 30, 0, 0x00007FF612345678ull, 0x00007FF612345678ull},
        {"64-bit form wins over Data", 30, 0x11111111u, 0x2222222233333333ull, 0x2222222233333333ull},
        {"Data64 0: Data holds the address", 30, 0x44444444u, 0, 0x44444444u},
        {"a longer message reads Data64 too", 32, 0, 0x55ull << 40, 0x55ull << 40},
        {"too short for Data64: Data", 29, 0x66666666u, 0, 0x66666666u},
        {"too short for Data", 15, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes m = Message(c.length, c.data, c.data64);
        EXPECT_EQ(capib3::address(m.data(), m.size()), c.expected) << c.what;
    }
}

TEST(CapiDataB3, NamingWritesOneFormAndClearsTheOther) {
    // Wide: Data 0, Data64 the address, the message grown to 30 bytes and its length field with it.
    Bytes m = Message(22, 0xAAAAAAAAu, 0);
    m.resize(30, 0xEE);
    ASSERT_EQ(capib3::name(m.data(), m.size(), 22, 0x0000123456789ABCull, true), 30);
    EXPECT_EQ(le::get16(m.data()), 30);
    EXPECT_EQ(le::get32(m.data() + 12), 0u);
    EXPECT_EQ(le::get64(m.data() + 22), 0x0000123456789ABCull);
    EXPECT_EQ(capib3::address(m.data(), 30), 0x0000123456789ABCull);

    // Narrow, as between processes: the index in Data, and the Data64 of a 30-byte message cleared
    // so that no address of the sender goes along.
    ASSERT_EQ(capib3::name(m.data(), m.size(), 30, 7, false), 30);
    EXPECT_EQ(le::get32(m.data() + 12), 7u);
    EXPECT_EQ(le::get64(m.data() + 22), 0u);
    EXPECT_EQ(capib3::address(m.data(), 30), 7u);

    // No room for Data64, or a message too short for its fields: nothing written.
    Bytes small = Message(22, 0xAAAAAAAAu, 0);
    EXPECT_EQ(capib3::name(small.data(), small.size(), 22, 1, true), 0);
    EXPECT_EQ(le::get32(small.data() + 12), 0xAAAAAAAAu);
    EXPECT_EQ(capib3::name(small.data(), small.size(), 21, 1, false), 0);
}

TEST(CapiDataB3, PointerOnlyForAddressesThisBuildHolds) {
    static const uint8_t kPayload[4] = {1, 2, 3, 4};
    EXPECT_EQ(capib3::pointer(capib3::addressOf(kPayload)), kPayload);
    if (!capib3::kWideAddresses) {
        EXPECT_EQ(capib3::pointer(uint64_t(1) << 32), nullptr);
    }
}

}  // namespace
