#include <gtest/gtest.h>

#include <string>

#include "core/MessageThrottle.h"

using namespace skiro;
using namespace std::chrono_literals;

namespace {

// Sends `count` messages at `at`, each text made by `text(i)`; says how many were written.
template <typename Text>
std::size_t send(MessageThrottle& throttle, MessageThrottle::Clock::time_point at, int count,
                 Text text) {
    std::size_t written = 0;
    for (int i = 0; i < count; ++i)
        written += throttle.admit(text(i), at).write ? 1 : 0;
    return written;
}

} // namespace

TEST(MessageThrottle, AFloodOfOneTextIsHeldBackAndCountedOtherTextsStillPass) {
    MessageThrottle throttle;
    const auto start = MessageThrottle::Clock::time_point{} + 1h;
    EXPECT_EQ(send(throttle, start, 10000, [](int) { return std::string("device not open"); }),
              MessageThrottle::kPerText);
    EXPECT_TRUE(throttle.admit("listening failed", start + 1s).write);

    // The first message of the next minute is written and tells what was held back.
    const auto next = throttle.admit("device not open", start + 61s);
    EXPECT_TRUE(next.write);
    EXPECT_EQ(next.heldBackBefore, 10000 - MessageThrottle::kPerText);
    EXPECT_EQ(throttle.admit("device not open", start + 62s).heldBackBefore, 0u);

    // A flood that stops is still told at the end of the run, and only once.
    send(throttle, start + 63s, 100, [](int) { return std::string("device not open"); });
    EXPECT_EQ(throttle.takeHeldBack(), 100 - (MessageThrottle::kPerText - 2));
    EXPECT_EQ(throttle.admit("device not open", start + 200s).heldBackBefore, 0u);
}

TEST(MessageThrottle, TextsThatAllDifferAreBoundedInAll) {
    MessageThrottle throttle;
    const auto start = MessageThrottle::Clock::time_point{} + 1h;
    EXPECT_EQ(send(throttle, start, 1000, [](int i) { return "peer " + std::to_string(i); }),
              MessageThrottle::kInAll);
    const auto next = throttle.admit("peer 0", start + 60s);
    EXPECT_TRUE(next.write);
    EXPECT_EQ(next.heldBackBefore, 1000 - MessageThrottle::kInAll);
}
