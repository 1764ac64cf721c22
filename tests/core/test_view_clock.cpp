#include <gtest/gtest.h>

#include "ViewRig.h"
#include "core/SerialPort.h"
#include "core/ViewClock.h"

namespace skiro::testing {
namespace {

class CountingPort : public SerialPort {
  public:
    int reads = 0;
    std::string waiting;
    IoResult read(char* buffer, std::size_t capacity) override {
        ++reads;
        const std::size_t n = std::min(capacity, waiting.size());
        waiting.copy(buffer, n);
        waiting.erase(0, n);
        return {n, 0};
    }
    IoResult write(std::string_view bytes) override { return {bytes.size(), 0}; }
};

class CursorSpy : public CursorControl {
  public:
    Position at{100, 50};
    bool readable = true;
    std::vector<std::pair<int, int>> moves;
    std::optional<Position> position() const override {
        return readable ? std::optional<Position>(at) : std::nullopt;
    }
    void moveTo(int x, int y) override {
        moves.emplace_back(x, y);
        at = {x, y};
    }
};

struct ClockRig : ViewRig {
    CursorSpy cursor;
    ViewClock viewClock{settings, clock, state, intake, engine, recorder, &cursor};

    void at(int hour, int minute, int second) { clock.now = {2026, 12, 10, hour, minute, second}; }
};

TEST(ViewClock, StampsOncePerMatchingMinute) {
    struct Event {
        int hour, minute, second;
    };
    struct Case {
        const char* name;
        int writeTime;
        bool portOpen;
        std::vector<Event> events;
        std::vector<std::string> stamps;
    } cases[] = {
        {"two clock events in 10:20:00 give one stamp",
         600,
         true,
         {{10, 20, 0}, {10, 20, 0}, {10, 20, 1}},
         {"[10:20:00]"}},
        {"a minute off the interval gives none", 600, true, {{10, 25, 0}}, {}},
        {"no port open, no stamp", 600, false, {{10, 20, 0}}, {}},
        {"WriteTime 0 never stamps", 0, true, {{10, 0, 0}, {10, 1, 0}}, {}},
        {"hourly interval stamps every hour, not only the first",
         3600,
         true,
         {{10, 0, 0}, {10, 0, 0}, {10, 30, 0}, {11, 0, 0}, {11, 0, 0}, {12, 0, 0}},
         {"[10:00:00]", "[11:00:00]", "[12:00:00]"}},
        {"the same minute of consecutive ten-minute marks",
         600,
         true,
         {{9, 50, 0}, {10, 0, 0}, {10, 10, 0}},
         {"[09:50:00]", "[10:00:00]", "[10:10:00]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClockRig rig;
        rig.settings.TimeStamp = 1;
        rig.settings.WriteTime = c.writeTime;
        for (const Event& e : c.events) {
            rig.at(e.hour, e.minute, e.second);
            rig.viewClock.onClock(c.portOpen);
        }
        EXPECT_EQ(rig.recorder.lines, c.stamps);
    }
}

TEST(ViewClock, StampsAreOffWithoutTheSwitch) {
    ClockRig rig;
    rig.at(10, 20, 0);
    rig.viewClock.onClock(true);
    EXPECT_TRUE(rig.recorder.lines.empty());
}

TEST(ViewClock, NudgesTheCursorEveryTwentySecondsAndPutsItBack) {
    ClockRig rig;
    for (int second : {0, 20, 40, 59}) {
        SCOPED_TRACE(second);
        rig.cursor.moves.clear();
        rig.at(10, 0, second);
        rig.viewClock.onClock(false);
        if (second == 59) {
            EXPECT_TRUE(rig.cursor.moves.empty());
            continue;
        }
        EXPECT_EQ(rig.cursor.moves, (std::vector<std::pair<int, int>>{
                                        {101, 50}, {99, 50}, {100, 51}, {100, 49}, {100, 50}}));
    }
    rig.cursor.readable = false;
    rig.cursor.moves.clear();
    rig.at(10, 1, 0);
    rig.viewClock.onClock(false);
    EXPECT_TRUE(rig.cursor.moves.empty());
}

TEST(ViewClock, PollsThePortOnlyWhileTheDisplayRests) {
    ClockRig rig;
    CountingPort port;
    rig.intake.setSession(&port, nullptr);
    rig.viewClock.onClock(true);
    EXPECT_EQ(port.reads, 1);

    port.waiting = "NEW\r";
    rig.viewClock.onClock(true);
    EXPECT_EQ(port.reads, 2);
    EXPECT_TRUE(rig.state.scrolling) << "what the poll found starts the scroll";

    rig.viewClock.onClock(true);
    EXPECT_EQ(port.reads, 2) << "no poll while scrolling";
}

TEST(ViewClock, RunsTheStallWatchdogWhileScrolling) {
    ClockRig rig;
    rig.intake.receiveText("ONE\rTWO\r");
    rig.clock.tick += 900;
    rig.viewClock.onClock(false);
    EXPECT_EQ(rig.intake.storedLineCount(), 1u);
    EXPECT_EQ(rig.recorder.lines, (std::vector<std::string>{"ONE", "TWO"}));
}

} // namespace
} // namespace skiro::testing
