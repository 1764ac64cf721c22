#include <gtest/gtest.h>

#include <set>

#include "ViewRig.h"

namespace skiro::testing {
namespace {

TEST(Painter, OutlineImpressionsFormTheSquarePatternWithTheTextOnTop) {
    struct Case {
        const char* name;
        int width;
        bool vertical;
        std::size_t outputs;
        int textDx, textDy; // text position from the band corner
    } cases[] = {
        {"outline off: once at the corner", 0, false, 1, 0, 0},
        {"1 dot: nine outputs, text down and right", 1, false, 9, 1, 1},
        {"1 dot vertical: text down and left", 1, true, 9, -1, 1},
        {"3 dots: 36 outline outputs and the text", 3, false, 37, 3, 3},
        {"10 dots vertical", 10, true, 121, -10, 10},
    };
    const Colour text = rgb(255, 255, 255);
    const Colour outline = rgb(255, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSurface surface;
        drawRowImpressions(surface, 50, 60, "AB", c.width, text, outline, c.vertical);
        ASSERT_EQ(surface.draws.size(), c.outputs);
        const auto& top = surface.draws.back();
        EXPECT_EQ(top.colour, text);
        EXPECT_EQ(top.x, 50 + c.textDx);
        EXPECT_EQ(top.y, 60 + c.textDy);
        if (c.width == 0)
            continue;
        // The outline covers the border and both centre lines of the square of side 2w around
        // the text (for 1 dot that is all eight neighbours), never the text position itself.
        const int w = c.width;
        std::set<std::pair<int, int>> expected;
        for (int i = -w; i <= w; ++i)
            for (int k : {-w, 0, w}) {
                expected.insert({i, k});
                expected.insert({k, i});
            }
        if (w == 1)
            expected.erase({0, 0}); // for wider outlines the centre lines cross under the text
        std::set<std::pair<int, int>> drawn;
        for (std::size_t i = 0; i + 1 < surface.draws.size(); ++i) {
            EXPECT_EQ(surface.draws[i].colour, outline);
            drawn.insert({surface.draws[i].x - top.x, surface.draws[i].y - top.y});
        }
        EXPECT_EQ(drawn, expected);
    }
}

TEST(Painter, StoredLinesKeepTheirCommandColoursUntilCommandsAreSwitchedOff) {
    ViewRig rig;
    rig.settings.ExtCommands = 1;
    rig.settings.Color.Text = rgb(255, 255, 255);
    rig.enterLine("\x1cTCff0000:RED\r");
    rig.enterLine("\x1c"
                  "oc00FF00:GREENLINE\r");
    rig.enterLine("\x1cXX\r"); // a bare command takes no room
    rig.enterLine("PLAIN\r");
    ASSERT_EQ(rig.intake.storedLineCount(), 4u);
    EXPECT_EQ(rig.settings.Color.Text, rgb(255, 0, 0)) << "the command changed the document";
    EXPECT_EQ(rig.settings.OutlineColor, rgb(0, 255, 0));

    rig.settings.Color.Text = rgb(0, 0, 255);
    rig.paintAll();
    const auto* red = rig.surface.lastDrawOf("RED");
    const auto* green = rig.surface.lastDrawOf("GREENLINE");
    const auto* plain = rig.surface.lastDrawOf("PLAIN");
    ASSERT_TRUE(red && green && plain);
    EXPECT_EQ(red->colour, rgb(255, 0, 0));
    EXPECT_EQ(green->colour, rgb(255, 0, 0)) << "stored while the text colour was red";
    EXPECT_EQ(plain->colour, rgb(255, 0, 0));
    EXPECT_EQ(green->y, plain->y - 37) << "the bare command line between them takes no room";

    rig.settings.ExtCommands = 0;
    rig.paintAll();
    ASSERT_TRUE(rig.surface.lastDrawOf("\x1cTCff0000:RED"));
    EXPECT_EQ(rig.surface.lastDrawOf("\x1cTCff0000:RED")->colour, rgb(0, 0, 255));
}

TEST(Painter, ACharacterCutInTwoByTheLineWaitsForItsSecondByte) {
    ViewRig rig;
    rig.intake.receiveText("AB\x82");
    rig.paintAll();
    ASSERT_FALSE(rig.surface.draws.empty());
    EXPECT_EQ(rig.surface.draws.back().text, "AB");
    rig.intake.receiveText("\xA0\r");
    rig.paintAll();
    EXPECT_TRUE(rig.surface.lastDrawOf("AB\x82\xA0"));
}

TEST(Painter, OnlyRowsCrossingTheClipAreDrawn) {
    ViewRig rig;
    for (int i = 0; i < 5; ++i) {
        rig.enterLine("LINE" + std::to_string(i) + "\r");
    }
    // Newest at the bottom: LINE4 at 263..300, LINE3 at 226..263, ...
    rig.surface.draws.clear();
    rig.painter.paintLines(rig.surface, rig.window.client, Rect{0, 230, 400, 240});
    ASSERT_EQ(rig.surface.draws.size(), 1u);
    EXPECT_EQ(rig.surface.draws[0].text, "LINE3");
}

TEST(Painter, VerticalWritingEntersAtTheLeftEdgeAndMovesRight) {
    ViewRig rig;
    rig.settings.Direction = 1;
    rig.window.client = Rect{0, 0, 300, 400};
    rig.intake.receiveText("COLUMN\r");
    rig.paintPending();
    const auto* first = rig.surface.lastDrawOf("COLUMN");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->x, 2) << "the column's right edge is entryOffset in from the left";
    EXPECT_EQ(first->y, 0);
    int steps = 1;
    while (rig.state.scrolling && steps < 100) {
        rig.tick();
        ++steps;
    }
    EXPECT_EQ(steps, 19) << "a 37-pixel column needs 38 pixels of room";
    rig.intake.receiveText("NEXT\r");
    for (int i = 0; i < 100 && rig.state.scrolling; ++i)
        rig.tick();
    rig.paintAll();
    const auto* older = rig.surface.lastDrawOf("COLUMN");
    const auto* newer = rig.surface.lastDrawOf("NEXT");
    ASSERT_TRUE(older && newer);
    EXPECT_EQ(newer->x, 37);
    EXPECT_EQ(older->x, 74) << "older columns stand to the right";
}

} // namespace
} // namespace skiro::testing
