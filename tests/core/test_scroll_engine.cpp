#include <gtest/gtest.h>

#include "ViewRig.h"

namespace skiro::testing {
namespace {

// Two double-byte characters: "日本"; three: "日本語".
const std::string kNihon = "\x93\xfa\x96\x7b";
const std::string kNihongo = "\x93\xfa\x96\x7b\x8c\xea";

TEST(ScrollEngine, OneRowLineEntersInNineteenStepsAndTheNextStartsDirectlyBelow) {
    ViewRig rig; // client 400 x 300, rows 37 thick, Step 2
    rig.intake.receiveText(kNihon + "\r");
    EXPECT_EQ(rig.state.entryOffset, 2) << "intake moves the picture once at once";
    rig.paintPending();
    int steps = 1;
    while (rig.state.scrolling && steps < 100) {
        rig.tick();
        ++steps;
        if (rig.intake.storedLineCount() == 1)
            break;
    }
    EXPECT_EQ(steps, 19);
    ASSERT_EQ(rig.intake.storedLineCount(), 1u);
    EXPECT_EQ(rig.state.entryOffset, 1) << "the row spans 262 to 299, one pixel short";
    EXPECT_FALSE(rig.state.scrolling);

    rig.intake.receiveText(kNihongo + "\r");
    for (int i = 0; i < 100 && rig.state.scrolling; ++i)
        rig.tick();
    ASSERT_EQ(rig.intake.storedLineCount(), 2u);
    EXPECT_EQ(rig.state.entryOffset, 0);

    rig.paintAll();
    const auto* older = rig.surface.lastDrawOf(kNihon);
    const auto* newer = rig.surface.lastDrawOf(kNihongo);
    ASSERT_TRUE(older && newer);
    EXPECT_EQ(newer->y, 263);
    EXPECT_EQ(older->y, newer->y - 37) << "no gap and no overlap between the lines";
}

TEST(ScrollEngine, GapAtTheIncomingEdgeClosesOnlyWhenLargerThanTenSteps) {
    struct Case {
        const char* name;
        int entryOffset;
        const char* pending; // text of an incomplete current line
        int expectedOffset;
    } cases[] = {
        {"25 with Step 2 closes", 25, "", 0},
        {"21 closes", 21, "", 0},
        {"20 stays", 20, "", 20},
        {"an incomplete line keeps its gap", 25, "A", 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewRig rig;
        if (*c.pending) {
            rig.intake.receiveText(c.pending);
            rig.state.scrolling = false; // fully shown, waiting for more
            rig.window.invalid.clear();
        }
        rig.state.entryOffset = c.entryOffset;
        rig.engine.onTick();
        EXPECT_EQ(rig.state.entryOffset, c.expectedOffset);
        EXPECT_EQ(rig.window.fullErases, c.expectedOffset == 0 ? 1 : 0);
    }
}

TEST(ScrollEngine, SpeedUpDoublesTheStepAfterTheDelayAndEndsWhenTheDisplayRests) {
    ViewRig rig;
    rig.settings.SpeedUp = 1;
    rig.settings.SpeedUpDelay = 1000;
    rig.engine.onTick(); // at rest: the idle time starts here
    rig.intake.receiveText(kNihongo + kNihongo + kNihongo);
    for (int i = 0; i < 25; ++i) { // 1250 ms of scrolling without painting
        rig.clock.tick += 50;
        rig.engine.onTick();
    }
    const std::vector<int>& moves = rig.window.moves;
    ASSERT_EQ(moves.size(), 26u);
    EXPECT_EQ(moves[0], 2);
    EXPECT_EQ(moves[20], 2) << "exactly 1000 ms is not more than the delay";
    EXPECT_EQ(moves[21], 4);
    EXPECT_EQ(moves[25], 4) << "the doubling does not grow further";

    rig.state.scrolling = false; // the line came in
    rig.clock.tick += 50;
    rig.engine.onTick();
    rig.intake.receiveText("A");
    EXPECT_EQ(rig.window.moves.back(), 2);
}

// The view lets its tick source rest when no tick could do anything.
TEST(ScrollEngine, TicksAreNeededOnlyToStepOrToCloseAGap) {
    struct Case {
        const char* name;
        bool scrolling;
        int entryOffset;
        const char* pending; // text of an incomplete current line
        bool needed;
    } cases[] = {
        {"scrolling", true, 0, "", true},
        {"at rest against the edge", false, 0, "", false},
        {"at rest with a gap of ten steps", false, 20, "", false},
        {"at rest with a gap of more than ten steps", false, 21, "", true},
        {"an incomplete line keeps its gap", false, 25, "A", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewRig rig; // Step 2
        if (*c.pending)
            rig.intake.receiveText(c.pending);
        rig.state.scrolling = c.scrolling;
        rig.state.entryOffset = c.entryOffset;
        EXPECT_EQ(rig.engine.needsTicks(), c.needed);
    }
}

// While the tick source rests nothing renews the idle time; the rest counts as idle all the
// same, so the first seconds after it scroll at the normal step.
TEST(ScrollEngine, SpeedUpCountsFromTheEndOfARestWithoutTicks) {
    ViewRig rig;
    rig.settings.SpeedUp = 1;
    rig.settings.SpeedUpDelay = 1000;
    rig.engine.onTick(); // the last tick at rest
    rig.clock.tick += 60000;
    rig.engine.ticksResumed();
    rig.intake.receiveText(kNihongo + kNihongo + kNihongo);
    EXPECT_EQ(rig.window.moves.back(), 2);
    rig.clock.tick += 1000;
    rig.engine.onTick();
    EXPECT_EQ(rig.window.moves.back(), 2);
    rig.clock.tick += 50;
    rig.engine.onTick();
    EXPECT_EQ(rig.window.moves.back(), 4);
}

TEST(ScrollEngine, SpeedUpMeasuresAcrossTheWrapOfTheMillisecondCounter) {
    ViewRig rig;
    rig.settings.SpeedUp = 1;
    rig.clock.tick = 0xFFFFFF00u;
    rig.engine.onTick();
    rig.intake.receiveText("A");
    rig.clock.tick = 0x00000100u; // 512 ms later
    rig.engine.onTick();
    EXPECT_EQ(rig.window.moves.back(), 2);
    rig.clock.tick = 0x00000400u; // 1280 ms
    rig.engine.onTick();
    EXPECT_EQ(rig.window.moves.back(), 4);
}

TEST(ScrollEngine, PartialRowFollowsThePictureAndABandRepaintFollowsALineChange) {
    ViewRig rig;
    rig.intake.receiveText(kNihon); // incomplete: the partial row is set by painting
    rig.paintPending();
    const Rect partial = rig.state.partialRowRect;
    ASSERT_FALSE(partial.isEmpty());
    EXPECT_EQ(partial.bottom, 300);
    rig.state.bandRepaintPending = true;
    rig.window.invalid.clear();
    rig.engine.scrollStep(2);
    EXPECT_EQ(rig.state.partialRowRect.top, partial.top - 2);
    EXPECT_EQ(rig.state.partialRowRect.bottom, 300);
    EXPECT_FALSE(rig.state.bandRepaintPending);
    ASSERT_EQ(rig.window.invalid.size(), 2u);
    EXPECT_EQ(rig.window.invalid[1], (Rect{0, 300 - rig.state.entryOffset, 400, 300}));
}

TEST(ScrollEngine, UnpaintedWindowStillMovesOneLineAtATime) {
    // A minimized window is never painted; the clock's watchdog commits a line once more than
    // 800 ms have passed since the last paint, and each line is recorded as it becomes current.
    ViewRig rig;
    rig.intake.receiveText("ONE\rTWO\rTHREE\r");
    ASSERT_EQ(rig.recorder.lines.size(), 1u);
    const std::uint32_t start = rig.clock.tick;
    struct Sample {
        std::uint32_t after;
        std::size_t stored;
    } samples[] = {{500, 0}, {800, 0}, {801, 1}, {1300, 1}, {1602, 2}, {2403, 3}};
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.after);
        rig.clock.tick = start + s.after;
        rig.engine.checkStall();
        EXPECT_EQ(rig.intake.storedLineCount(), s.stored);
    }
    EXPECT_EQ(rig.recorder.lines, (std::vector<std::string>{"ONE", "TWO", "THREE"}));
    EXPECT_FALSE(rig.state.scrolling);
    EXPECT_EQ(rig.window.fullErases, 3);
}

} // namespace
} // namespace skiro::testing
