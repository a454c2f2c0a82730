// COM-port pairs: what one end writes the other reads, both ways, across reopening.
#include <gtest/gtest.h>

#include <thread>

#include "winetest/ports.h"

using winetest::SerialPort;

TEST(PortPair, TheRunHasTheRequestedPairsAndTheyAreDistinct) {
    auto pairs = winetest::PortPairs();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_NE(pairs[0].a, pairs[0].b);
    EXPECT_NE(pairs[0].a, pairs[1].a);
    EXPECT_NE(pairs[0].b, pairs[1].b);
    EXPECT_THROW(winetest::GetPortPair(2), std::runtime_error);
}

TEST(PortPair, BytesCrossBothWays) {
    auto pair = winetest::GetPortPair(0);
    for (DWORD baud : {19200u, 115200u}) {
        SerialPort a, b;
        ASSERT_TRUE(a.Open(pair.a, baud)) << pair.a << " error " << a.last_error();
        ASSERT_TRUE(b.Open(pair.b, baud)) << pair.b << " error " << b.last_error();
        EXPECT_EQ(a.Baud(), baud);

        ASSERT_TRUE(a.Write("AT\r"));
        EXPECT_EQ(b.ReadUntil("\r", 2000), "AT\r");
        ASSERT_TRUE(b.Write("\r\nOK\r\n"));
        EXPECT_EQ(a.ReadUntil("OK\r\n", 2000), "\r\nOK\r\n");

        // Every byte value passes unchanged (no echo, no CR/LF or XON/XOFF handling).
        std::string all;
        for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
        ASSERT_TRUE(b.Write(all));
        EXPECT_EQ(a.Read(all.size(), 3000), all);
    }
}

TEST(PortPair, LargeTransfersDoNotStallTheOtherDirection) {
    auto pair = winetest::GetPortPair(1);
    SerialPort a, b;
    ASSERT_TRUE(a.Open(pair.a, 115200));
    ASSERT_TRUE(b.Open(pair.b, 115200));
    std::string block(64 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 3);
    std::string got;
    std::thread reader([&] { got = b.Read(block.size(), 10000); });
    ASSERT_TRUE(a.Write(block));
    // While a's bytes are still flowing, the other direction works.
    ASSERT_TRUE(b.Write("ACK"));
    EXPECT_EQ(a.ReadUntil("ACK", 5000), "ACK");
    reader.join();
    EXPECT_EQ(got.size(), block.size());
    EXPECT_TRUE(got == block);
}

TEST(PortPair, AnEndCanBeClosedAndOpenedAgain) {
    auto pair = winetest::GetPortPair(0);
    SerialPort b;
    ASSERT_TRUE(b.Open(pair.b, 115200));
    for (int round = 0; round < 3; ++round) {
        SerialPort a;
        ASSERT_TRUE(a.Open(pair.a, 115200)) << "round " << round;
        std::string msg = "round " + std::to_string(round) + "\n";
        ASSERT_TRUE(a.Write(msg));
        EXPECT_EQ(b.ReadUntil("\n", 2000), msg);
    }
}

TEST(PortPair, ReadTimesOutWhenNothingComes) {
    auto pair = winetest::GetPortPair(0);
    SerialPort a;
    ASSERT_TRUE(a.Open(pair.a, 115200));
    DWORD start = GetTickCount();
    EXPECT_EQ(a.Read(1, 300), "");
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 250u);
    EXPECT_LT(elapsed, 2000u);
}

// A held side's bytes wait until the hold ends, while the other direction goes on; once the
// far end buffers no more, a purge of the held port's output discards what is still waiting.
TEST(PortPair, AHeldLineKeepsItsBytesUntilLetGo) {
    auto pair = winetest::GetPortPair(0);
    SerialPort a, b;
    ASSERT_TRUE(a.Open(pair.a, 115200));
    ASSERT_TRUE(b.Open(pair.b, 115200));
    ASSERT_TRUE(winetest::HoldLine(pair.a, true));
    ASSERT_TRUE(a.Write("held\n"));
    EXPECT_EQ(b.Read(5, 300), "");
    ASSERT_TRUE(b.Write("free\n"));
    EXPECT_EQ(a.ReadUntil("\n", 2000), "free\n");
    ASSERT_TRUE(winetest::HoldLine(pair.a, false));
    EXPECT_EQ(b.ReadUntil("\n", 2000), "held\n");

    ASSERT_TRUE(winetest::HoldLine(pair.a, true));
    const std::string filler(6000, 'f');
    ASSERT_TRUE(a.Write(filler));
    ASSERT_TRUE(a.Write("lost\n"));
    PurgeComm(a.handle(), PURGE_TXCLEAR);
    ASSERT_TRUE(winetest::HoldLine(pair.a, false));
    const std::string got = b.Read(filler.size() + 5, 1000);
    EXPECT_LT(got.size(), filler.size());
    EXPECT_EQ(got.find("lost"), std::string::npos);
}

// An unplugged port cannot be opened, as a pulled card's port; once it is back it opens and
// carries bytes again, and the other side never noticed.
TEST(PortPair, AnUnpluggedPortIsGoneUntilPutBack) {
    auto pair = winetest::GetPortPair(0);
    SerialPort a, b;
    ASSERT_TRUE(b.Open(pair.b, 115200));
    ASSERT_TRUE(winetest::UnplugPort(pair.a, true));
    EXPECT_FALSE(a.Open(pair.a, 115200));
    EXPECT_EQ(a.last_error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(winetest::UnplugPort(pair.a, false));
    ASSERT_TRUE(a.Open(pair.a, 115200));
    ASSERT_TRUE(a.Write("back\n"));
    EXPECT_EQ(b.ReadUntil("\n", 2000), "back\n");
}
