#include <gtest/gtest.h>

#include <cmath>

#include "ViewRig.h"
#include "core/GlideSpeed.h"
#include "core/SettingRanges.h"

namespace skiro::testing {
namespace {

// Forty double-byte characters: one row of 400 pixels in the rig's font.
std::string row40() {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "\x93\xfa";
    return text;
}

double position(const ViewRig& rig) {
    return rig.state.entryOffset + rig.state.entryPhase;
}

// Each frame places the picture where the time since the motion began puts it, whatever the
// refresh rate; in both directions the growing row's rectangle follows the whole pixels.
TEST(Glide, PositionFollowsTheTimeAtAnyRefreshRate) {
    struct Case {
        const char* name;
        int step;
        int tick;
        double hz;
        int direction;
    } cases[] = {
        {"defaults at 60 Hz", 2, 50, 60, 0},
        {"defaults at 144 Hz, vertical", 2, 50, 144, 1},
        {"20 px per 10 ms at 75 Hz", 20, 10, 75, 0},
        {"1 px per 500 ms at 60 Hz, vertical", 1, 500, 60, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewRig rig;
        rig.window.glide = true;
        rig.settings.Step = c.step;
        rig.settings.Tick = c.tick;
        rig.settings.Direction = c.direction;
        rig.window.client = Rect{0, 0, 400, 400};
        // Ten rows of an unfinished line: it keeps moving for the whole test.
        std::string text;
        for (int i = 0; i < 10; ++i)
            text += row40();
        rig.intake.receiveText(text);
        rig.paintAll();
        ASSERT_TRUE(rig.state.scrolling);
        // Where painting would put the growing row once it is in.
        const Rect partial = c.direction == 1 ? Rect{0, 0, 37, 400} : Rect{0, 363, 400, 400};
        rig.state.partialRowRect = partial;

        const double speed = double(c.step) / c.tick; // px per ms
        const double period = 1000 / c.hz;
        const double start = 500000.25;
        rig.engine.glideStart(start);
        double before = 0;
        for (int k = 1; k <= 90; ++k) {
            const double moved = rig.engine.glideFrame(start + k * period, {});
            EXPECT_NEAR(position(rig), speed * k * period, 1e-6) << "frame " << k;
            EXPECT_NEAR(moved, speed * period, 1e-9);
            EXPECT_GE(rig.state.entryPhase, 0);
            EXPECT_LT(rig.state.entryPhase, 1);
            before = position(rig);
        }
        const int whole = rig.state.entryOffset;
        if (c.direction == 1)
            EXPECT_EQ(rig.state.partialRowRect.right, partial.right + whole);
        else
            EXPECT_EQ(rig.state.partialRowRect.top, partial.top - whole);

        // After a stall the picture goes on from where it was, not by the whole stall.
        rig.engine.glideFrame(start + 90 * period + 5000, {});
        EXPECT_NEAR(position(rig) - before, speed * ScrollEngine::kMaxFrameGapMs, 1e-6);
    }
}

// Fed the text a captioner's burst leaves waiting, the speed rises to the reading ceiling with
// no jump in speed or in its rate of change, brings every line in once and in order, and comes
// back down to the base speed by the time the last line is in; a steady stream that the base
// speed cannot carry starts each line within a second of its arrival.
TEST(Glide, KeepUpCatchesUpWithinTheRampAndKeepsTheOrder) {
    struct Case {
        const char* name;
        int lines;
        int everyMs; // 0: all at once
    } cases[] = {
        {"a burst of eight three-row lines", 8, 0},
        {"a stream of three-row lines every 2 s", 10, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct TimedLines : LineRecorder {
            ManualClock* clock = nullptr;
            std::vector<std::pair<std::string, std::uint32_t>> lines;
            void recordLine(std::string_view line) override {
                lines.emplace_back(std::string(line), clock->tick);
            }
        };
        ViewRig rig; // 400 x 300, rows 37 thick: a three-row line is 111 pixels
        TimedLines recorded;
        recorded.clock = &rig.clock;
        Intake intake(rig.settings, rig.clock, rig.strings, recorded, rig.state, rig.window);
        Painter painter(rig.settings, intake, rig.state);
        ScrollEngine engine(rig.settings, rig.clock, rig.state, intake, rig.window);
        rig.window.engine = &engine;
        rig.window.glide = true;

        const double base = baseSpeed(rig.settings);
        const double ceiling = 300 / GlideSpeed::kCeilingMsPerExtent;
        const double period = 1000.0 / 60;
        std::vector<std::uint32_t> sent;
        double t = rig.clock.tick;
        int next = 0;
        const auto send = [&] {
            sent.push_back(rig.clock.tick);
            intake.receiveText(std::to_string(next++) + row40() + row40() + row40() + "\r");
        };
        double speed = 0;
        double accel = 0;
        double lastSpeedWhileMoving = 0;
        bool moving = false;
        double maxSpeed = 0;
        for (int k = 0; k < 60 * 40 && (next < c.lines || rig.state.scrolling); ++k) {
            t += period;
            rig.clock.tick = static_cast<std::uint32_t>(t);
            if (next < c.lines && (c.everyMs == 0 || next * c.everyMs <= k * period))
                do
                    send();
                while (c.everyMs == 0 && next < c.lines);
            if (!rig.state.scrolling) {
                moving = false;
                continue;
            }
            if (!moving)
                engine.glideStart(t - period);
            moving = true;
            std::vector<WaitingText> waiting{
                {double(rig.state.currentOutside), intake.currentArrival()}};
            std::vector<int> thickness;
            painter.measureWaitingLines(rig.surface, rig.window.client, 64, thickness);
            for (std::size_t i = 0; i < thickness.size(); ++i)
                waiting.push_back({double(thickness[i]), intake.waitingArrival(i)});
            engine.glideFrame(t, waiting);
            const double v = engine.glideSpeed().speed();
            const double a = engine.glideSpeed().acceleration();
            ASSERT_LE(v, ceiling + 1e-9);
            ASSERT_GE(v, base - 1e-9);
            if (speed > 0) {
                ASSERT_LE(std::abs(v - speed), GlideSpeed::kMaxAccel * period + 1e-9)
                    << "frame " << k;
                // The rate of change itself changes gradually: no jerk.
                ASSERT_LE(std::abs(a - accel),
                          2 * GlideSpeed::kOmegaPerMs * GlideSpeed::kMaxAccel * period + 1e-9);
            }
            speed = v;
            accel = a;
            lastSpeedWhileMoving = v;
            maxSpeed = std::max(maxSpeed, v);
            rig.window.invalid.assign(1, rig.window.client);
            rig.surface.draws.clear();
            painter.paintLines(rig.surface, rig.window.client, rig.window.client);
            engine.paintDone();
        }
        ASSERT_EQ(recorded.lines.size(), std::size_t(c.lines));
        for (int i = 0; i < c.lines; ++i)
            EXPECT_EQ(recorded.lines[i].first.substr(0, std::to_string(i).size()),
                      std::to_string(i));
        EXPECT_EQ(intake.storedLineCount(), std::size_t(c.lines));
        EXPECT_FALSE(rig.state.scrolling);
        EXPECT_LE(lastSpeedWhileMoving, 1.5 * base) << "back near the base speed at the end";
        if (c.everyMs == 0) {
            EXPECT_NEAR(maxSpeed, ceiling, 1e-9) << "a burst is carried at the reading ceiling";
        }
        if (c.everyMs) {
            // 111 pixels every 2 s is 56 px/s, more than the base speed's 40.
            for (int i = 0; i < c.lines; ++i)
                EXPECT_LE(recorded.lines[i].second - sent[i], 1000u) << "line " << i;
        }
    }
}

} // namespace
} // namespace skiro::testing
