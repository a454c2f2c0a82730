#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "portbridge/stack/serial_frame.h"

namespace stack {
namespace {

using Bytes = std::vector<uint8_t>;

// Hands out buffers from a small stock and keeps the frames it is given.
class Sink : public SerialFrameSink {
public:
    explicit Sink(size_t capacity = 64, int stock = 1000) : capacity_(capacity), stock_(stock) {}
    uint8_t* takeBuffer(size_t* capacity) override {
        if (stock_ <= 0) return nullptr;
        --stock_;
        store_.emplace_back(new uint8_t[capacity_]);
        *capacity = capacity_;
        return store_.back().get();
    }
    void frame(uint8_t* buffer, size_t offset, size_t length) override {
        frames.push_back(Bytes(buffer + offset, buffer + offset + length));
        offsets.push_back(offset);
    }
    std::vector<Bytes> frames;
    std::vector<size_t> offsets;

private:
    size_t capacity_;
    int stock_;
    std::vector<std::unique_ptr<uint8_t[]>> store_;
};

Bytes frameOf(const Bytes& payload) {
    Bytes b(5 + payload.size() + 1);
    std::memcpy(b.data() + 5, payload.data(), payload.size());
    size_t start = 0, length = 0;
    EXPECT_TRUE(encodeSerialFrame(b.data(), b.size(), 5, payload.size(), &start, &length));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(length, b.size());
    return b;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(SerialFrame, Golden) {
    EXPECT_EQ(frameOf({1, 2, 3}), (Bytes{0x7E, 0x7E, 0x04, 0x00, 0x00, 0x01, 0x02, 0x03, 0x06}));
    EXPECT_EQ(frameOf({0x03, 0x00, 0xFF, 0x01, 0x3F}).size(), 11u);
    Sink sink;
    CSerialFrameReceiver rx(sink, 100, 0);
    Bytes wire{0x7E, 0x7E, 0x04, 0x00, 0x00, 0x01, 0x02, 0x03, 0x06};
    rx.feed(wire.data(), wire.size());
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], (Bytes{1, 2, 3}));
}

TEST(SerialFrame, EncodeNeedsRoomOnBothSides) {
    uint8_t b[16] = {};
    size_t s = 0, l = 0;
    EXPECT_FALSE(encodeSerialFrame(b, sizeof(b), 4, 3, &s, &l)) << "header room";
    EXPECT_FALSE(encodeSerialFrame(b, sizeof(b), 5, 11, &s, &l)) << "no byte for the sum";
    EXPECT_FALSE(encodeSerialFrame(b, sizeof(b), 17, 0, &s, &l)) << "offset past the end";
    EXPECT_FALSE(encodeSerialFrame(nullptr, 16, 5, 1, &s, &l));
    EXPECT_TRUE(encodeSerialFrame(b, sizeof(b), 5, 10, &s, &l));
    EXPECT_EQ(l, 16u);
}

TEST(SerialFrame, DecoderCases) {
    const Bytes good = frameOf({0x7E, 0x7E, 0x41});  // flags inside the payload go unchanged
    Bytes badHeader = good;
    badHeader[4] ^= 1;
    Bytes badSum = good;
    badSum.back() ^= 0x80;
    Bytes tooLong = {0x7E, 0x7E, 0x0B, 0x00, serialHeaderSum(11)};  // max is 10
    Bytes zero = {0x7E, 0x7E, 0x00, 0x00, serialHeaderSum(0)};
    Bytes empty = {0x7E, 0x7E, 0x01, 0x00, serialHeaderSum(1), 0x00};
    Bytes atMax = frameOf({1, 2, 3, 4, 5, 6, 7, 8, 9});
    struct Case {
        const char* what;
        Bytes wire;
        std::vector<Bytes> frames;
    } cases[] = {
        {"garbage before", join({{0x00, 0x7E, 0x13, 0xFF}, good}), {{0x7E, 0x7E, 0x41}}},
        {"bad header sum, resync on the next flags", join({badHeader, good}), {{0x7E, 0x7E, 0x41}}},
        {"bad payload sum dropped", join({badSum, good}), {{0x7E, 0x7E, 0x41}}},
        {"length above the maximum", join({tooLong, good}), {{0x7E, 0x7E, 0x41}}},
        {"length at the maximum", atMax, {{1, 2, 3, 4, 5, 6, 7, 8, 9}}},
        {"length 0 does not stall", join({zero, good}), {{0x7E, 0x7E, 0x41}}},
        {"length 1 is an empty payload", join({empty, good}), {{}, {0x7E, 0x7E, 0x41}}},
        {"back to back", join({good, good}), {{0x7E, 0x7E, 0x41}, {0x7E, 0x7E, 0x41}}},
    };
    for (const Case& c : cases) {
        // Whole, byte by byte, and in pieces of 3: the same frames.
        for (size_t piece : {c.wire.size(), size_t(1), size_t(3)}) {
            Sink sink;
            CSerialFrameReceiver rx(sink, 10, 2);
            for (size_t at = 0; at < c.wire.size(); at += piece)
                rx.feed(c.wire.data() + at, std::min(piece, c.wire.size() - at));
            EXPECT_EQ(sink.frames, c.frames) << c.what << ", pieces of " << piece;
            for (size_t off : sink.offsets) EXPECT_EQ(off, 2u) << "payload behind the receive header room";
        }
    }
}

TEST(SerialFrame, CountersAndNoBuffer) {
    Sink sink(64, 1);
    CSerialFrameReceiver rx(sink, 100, 0);
    Bytes two = join({frameOf({1}), frameOf({2}), frameOf({3})});
    rx.feed(two.data(), two.size());
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(rx.counters().noBuffer, 2u) << "no buffer: dropped";
    // A buffer too small for the length is not overrun.
    Sink small(4);
    CSerialFrameReceiver rx2(small, 100, 0);
    Bytes f = frameOf({1, 2, 3, 4});
    rx2.feed(f.data(), f.size());
    EXPECT_TRUE(small.frames.empty());
    EXPECT_EQ(rx2.counters().tooLong, 1u);
}

TEST(SerialFrame, GarbageNeverOverruns) {
    // Every byte value after the flags, with the sums right or wrong: nothing crashes and the
    // frame after comes through.
    for (int v = 0; v < 256; ++v) {
        Sink sink(16);
        CSerialFrameReceiver rx(sink, 12, 0);
        Bytes wire = {0x7E, 0x7E, static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)};
        wire.insert(wire.end(), 40, static_cast<uint8_t>(v));
        Bytes good = frameOf({9, 8});
        wire.insert(wire.end(), good.begin(), good.end());
        rx.feed(wire.data(), wire.size());
        if (v == kSerialFlag) continue;  // a run of flags may swallow the next frame's flags
        ASSERT_FALSE(sink.frames.empty()) << v;
        EXPECT_EQ(sink.frames.back(), (Bytes{9, 8})) << v;
    }
}

}  // namespace
}  // namespace stack
