// The reply wait on a clock the test drives: pieces extend it, an early piece never shortens it,
// and the tick count's wrap changes nothing.
#include "dialconf/reply_deadline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ReplyDeadline, PiecesExtendTheWaitButNeverShortenIt) {
    struct Case {
        const char* what;
        uint32_t start;
        int timeout_s;
        std::vector<uint32_t> pieces;  // arrival times, after start
        uint32_t lastOpen;             // the last time still inside the wait (after start)
    } cases[] = {
        {"no piece: the caller's time", 0, 1, {}, 999},
        {"pieces 400 ms apart run past the caller's second", 0, 1, {0, 400, 800, 1200, 1600, 2000, 2400, 2800}, 3799},
        {"the echo at once does not cut a 4 s wait to 1 s", 0, 4, {0}, 3999},
        {"a piece late in a long wait extends it", 0, 4, {0, 3500}, 4499},
        {"a 1.5 s gap after the echo ends a 1 s wait", 0, 1, {0}, 999},
        {"across the wrap of the tick count", 0xFFFFFC00u, 1, {0, 900}, 1899},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReplyDeadline d(c.start, c.timeout_s);
        for (uint32_t t : c.pieces) {
            ASSERT_FALSE(d.Passed(c.start + t));
            d.Piece(c.start + t);
        }
        EXPECT_FALSE(d.Passed(c.start + c.lastOpen));
        EXPECT_TRUE(d.Passed(c.start + c.lastOpen + 1));
        EXPECT_TRUE(d.Passed(c.start + c.lastOpen + 1000));
    }
}

}  // namespace
