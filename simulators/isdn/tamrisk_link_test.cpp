// The adapter's framed side on its own: what it answers to the computer's frames, and what its
// fault knobs do to the line.
#include <gtest/gtest.h>

#include "simulators/isdn/tamrisk_link.h"

using isdnsim::Bytes;
using isdnsim::SerialFrames;
using isdnsim::TamriskLink;

namespace {

// The payloads in what the adapter wrote.
std::vector<Bytes> Payloads(const Bytes& line) {
    SerialFrames f;
    std::vector<Bytes> out;
    f.Take(line.data(), line.size(), &out);
    return out;
}

Bytes From(TamriskLink& l, const Bytes& payload) {
    Bytes wire = SerialFrames::Wrap(payload);
    return l.Receive(wire.data(), wire.size());
}

TEST(TamriskLink, AnswersTheComputer) {
    TamriskLink l;
    struct Case {
        const char* what;
        Bytes in;
        std::vector<Bytes> out;
    } cases[] = {
        {"SABM with P: UA with F", {1, 0x3F}, {{1, 0x73}}},
        {"I frame 0: taken, RR 1", {1, 0x00, 'x'}, {{1, 0x21}}},
        {"RR command with P: RR with F", {1, 0x11}, {{1, 0x31}}},
        {"an S frame with data: FRMR 3", {1, 0x01, 9}, {{1, 0x87, 0x01, 0x20, 3}}},
    };
    for (const Case& c : cases) EXPECT_EQ(Payloads(From(l, c.in)), c.out) << c.what;
    EXPECT_EQ(l.received, (std::vector<Bytes>{{'x'}}));
    EXPECT_EQ(l.state(), TamriskLink::kDisconnected) << "after the FRMR it waits for a SABM";
    From(l, {1, 0x3F});
    EXPECT_EQ(Payloads(From(l, {1, 0x40})), (std::vector<Bytes>{{1, 0x87, 0x40, 0x00, 8}})) << "N(R) 2 with nothing sent";
}

TEST(TamriskLink, SendsWithinItsWindowAndKeepsOutOfSequence) {
    TamriskLink l;
    l.window = 2;
    From(l, {1, 0x3F});
    for (uint8_t i = 0; i < 3; ++i) l.QueueData({i});
    EXPECT_EQ(Payloads(l.Flush()), (std::vector<Bytes>{{3, 0x00, 0}, {3, 0x02, 1}}));
    EXPECT_EQ(Payloads(From(l, {3, 0x41})), (std::vector<Bytes>{{3, 0x04, 2}})) << "RR 2 opens the window";
    // Frames 1 and 2 from the computer before 0, kept when told the computer's window is 3 (less
    // than 8 - 3 ahead): REJ once, then all three in order.
    l.keep_out_of_sequence = true;
    l.computer_window = 3;
    EXPECT_EQ(Payloads(From(l, {1, 0x62, 'b'})), (std::vector<Bytes>{{1, 0x09}}));
    From(l, {1, 0x64, 'c'});
    From(l, {1, 0x60, 'a'});
    EXPECT_EQ(l.received, (std::vector<Bytes>{{'a'}, {'b'}, {'c'}}));
}

// A plain go-back-N station: a REJ and T1 send everything from N(R) again (T1 with P on the
// last); a frame out of sequence, after a gap or a repeat, is dropped and the first one of a gap
// answered with REJ, the station's window playing no part in it; the per-frame knobs lose what
// they name.
TEST(TamriskLink, GoesBackNOnRejectAndOnT1) {
    TamriskLink l;
    l.SetClock(0);
    From(l, {1, 0x3F});
    for (uint8_t i = 0; i < 3; ++i) l.QueueData({i});
    EXPECT_EQ(Payloads(l.Flush()).size(), 3u);
    EXPECT_EQ(Payloads(From(l, {3, 0x29})), (std::vector<Bytes>{{3, 0x02, 1}, {3, 0x04, 2}})) << "REJ 1";
    EXPECT_TRUE(Payloads(l.Tick(999)).empty());
    EXPECT_EQ(Payloads(l.Tick(1000)), (std::vector<Bytes>{{3, 0x02, 1}, {3, 0x14, 2}})) << "T1: again, P on the last";
    EXPECT_EQ(l.t1_resends, 1u);
    EXPECT_EQ(Payloads(From(l, {3, 0x71})), (std::vector<Bytes>{})) << "RR 3 with F: all taken";
    // From the computer: 1 before 0 is rejected and dropped; 0 again after it was taken is a
    // repeat, out of sequence too: REJ 1 with F. Four ahead (beyond the station's window of 2)
    // is out of sequence like any other while the REJ is out: a poll gets RR.
    l.window = 2;
    EXPECT_EQ(Payloads(From(l, {1, 0x62, 'b'})), (std::vector<Bytes>{{1, 0x09}}));
    From(l, {1, 0x60, 'a'});
    EXPECT_EQ(Payloads(From(l, {1, 0x70, 'a'})), (std::vector<Bytes>{{1, 0x39}})) << "a repeat with P";
    EXPECT_EQ(Payloads(From(l, {1, 0x6A, 'e'})), (std::vector<Bytes>{})) << "rejecting already";
    EXPECT_EQ(Payloads(From(l, {1, 0x7A, 'e'})), (std::vector<Bytes>{{1, 0x31}})) << "polled while rejecting";
    From(l, {1, 0x62, 'b'});
    EXPECT_EQ(l.received, (std::vector<Bytes>{{'a'}, {'b'}}));
    // Knobs: our first RR from now on is lost, the computer's next I frame too.
    l.faults.frames[isdnsim::kToComputer][isdnsim::kRrFrame].lose = {4};
    l.faults.frames[isdnsim::kToAdapter][isdnsim::kIFrame].lose = {6};
    EXPECT_TRUE(Payloads(From(l, {1, 0x64, 'c'})).empty()) << "its RR lost";
    EXPECT_TRUE(Payloads(From(l, {1, 0x66, 'd'})).empty()) << "the frame lost";
    EXPECT_EQ(l.received, (std::vector<Bytes>{{'a'}, {'b'}, {'c'}}));
}

TEST(TamriskLink, FaultKnobsAndCommandMode) {
    TamriskLink l;
    l.faults.drop[isdnsim::kToComputer] = {2};
    l.faults.corrupt_payload[isdnsim::kToComputer] = {3};
    From(l, {1, 0x3F});                             // out 1: UA
    EXPECT_TRUE(From(l, {1, 0x11}).empty());        // out 2: dropped
    Bytes bad = From(l, {1, 0x11});                 // out 3: its sum spoiled
    SerialFrames check;
    std::vector<Bytes> got;
    check.Take(bad.data(), bad.size(), &got);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(check.bad_sums, 1u);
    const char at[] = "at\n\r";
    l.Receive(reinterpret_cast<const uint8_t*>(at), 4);
    EXPECT_TRUE(l.back_to_command_mode);
}

}  // namespace
