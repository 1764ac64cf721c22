#pragma once
// A view without a window for the scroll engine, painting and clock tests: a font of fixed
// widths that records what is drawn, a clock the test moves, and a window that records what it
// is asked to move and repaint.
#include <algorithm>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Intake.h"
#include "core/Painter.h"
#include "core/Recorder.h"
#include "core/ScrollEngine.h"
#include "core/Settings.h"
#include "core/ShiftJis.h"
#include "core/StringTable.h"
#include "core/TextSurface.h"
#include "core/ViewState.h"

namespace skiro::testing {

// Every character `charWidth` pixels along the row, cells `cellHeight` across.
class RecordingSurface : public TextSurface {
  public:
    struct Draw {
        int x;
        int y;
        std::string text;
        Colour colour;
    };
    int charWidth = 10;
    int cellHeight = 37;
    std::vector<Draw> draws;

    TextExtent textExtent(std::string_view text) const override {
        int chars = 0;
        for (std::size_t i = 0; i < text.size(); i += sjis::charLength(text, i))
            ++chars;
        return {chars * charWidth, cellHeight};
    }
    // Every row is a cell thick, as on the display's surface.
    int acrossExtent(std::string_view, bool) const override { return cellHeight; }
    int fontHeight() const override { return cellHeight; }
    std::uint8_t pitchAndFamily() const override { return kTrueTypePitchBit; }
    void drawText(int x, int y, std::string_view row, Colour colour) override {
        draws.push_back({x, y, std::string(row), colour});
    }
    void fillRect(const Rect&, Colour) override {}

    // The last draw of each row text: the text impression on top of its outline.
    const Draw* lastDrawOf(const std::string& text) const {
        auto it = std::find_if(draws.rbegin(), draws.rend(),
                               [&](const Draw& d) { return d.text == text; });
        return it == draws.rend() ? nullptr : &*it;
    }
};

class ManualClock : public Clock {
  public:
    LocalTime now{2026, 12, 10, 10, 0, 1};
    std::uint32_t tick = 100000;
    LocalTime localTime() const override { return now; }
    std::uint32_t tickCount() const override { return tick; }
};

class RecordedLines : public LineRecorder {
  public:
    std::vector<std::string> lines;
    void recordLine(std::string_view line) override { lines.emplace_back(line); }
};

class WindowSpy : public IntakeView, public ScrollTarget {
  public:
    Rect client{0, 0, 400, 300};
    ScrollEngine* engine = nullptr;
    std::vector<Rect> invalid; // since the last paint
    std::vector<int> moves;    // pixels per step
    int fullErases = 0;

    Rect clientRect() const override { return client; }
    void invalidate(const Rect& area, bool erase) override {
        invalid.push_back(area);
        if (erase && area == client)
            ++fullErases;
    }
    // Gliding, the view starts the motion with its next frame instead of a step.
    bool glide = false;
    void scrollStep(int step) override {
        if (!glide)
            engine->scrollStep(step);
    }
    void movePicture(int dx, int dy) override {
        moves.push_back(dx != 0 ? dx : -dy);
        invalid.push_back(dx > 0 ? Rect{0, 0, dx, client.bottom}
                                 : Rect{0, client.bottom + dy, client.right, client.bottom});
    }
};

struct ViewRig {
    Settings settings;
    ManualClock clock;
    StringTable strings;
    RecordedLines recorder;
    ViewState state;
    WindowSpy window;
    Intake intake{settings, clock, strings, recorder, state, window};
    ScrollEngine engine{settings, clock, state, intake, window};
    Painter painter{settings, intake, state};
    RecordingSurface surface;

    ViewRig() { window.engine = &engine; }

    // Paints what has been invalidated since the last paint, as the window system would.
    void paintPending() {
        if (window.invalid.empty())
            return;
        Rect clip = window.invalid.front();
        for (const Rect& r : window.invalid) {
            clip.left = std::min(clip.left, r.left);
            clip.top = std::min(clip.top, r.top);
            clip.right = std::max(clip.right, r.right);
            clip.bottom = std::max(clip.bottom, r.bottom);
        }
        window.invalid.clear();
        clip.left = std::max(clip.left, window.client.left);
        clip.top = std::max(clip.top, window.client.top);
        clip.right = std::min(clip.right, window.client.right);
        clip.bottom = std::min(clip.bottom, window.client.bottom);
        surface.draws.clear();
        if (!clip.isEmpty())
            painter.paintLines(surface, window.client, clip);
        engine.paintDone();
    }

    void paintAll() {
        window.invalid.assign(1, window.client);
        paintPending();
    }

    // Takes text in and ticks until the display rests again.
    void enterLine(const std::string& text) {
        intake.receiveText(text);
        paintPending();
        for (int i = 0; i < 1000 && state.scrolling; ++i)
            tick();
    }

    // One glide frame due at `dueMs`, with what waits to enter gathered as the view gathers it,
    // and a paint of the whole window.
    double frame(double dueMs) {
        clock.tick = static_cast<std::uint32_t>(dueMs);
        std::vector<WaitingText> waiting;
        waiting.push_back({double(state.currentOutside), intake.currentArrival()});
        std::vector<int> thickness;
        painter.measureWaitingLines(surface, window.client, 64, thickness);
        for (std::size_t i = 0; i < thickness.size() && i < intake.waitingLineCount(); ++i)
            waiting.push_back({double(thickness[i]), intake.waitingArrival(i)});
        const double moved = engine.glideFrame(dueMs, waiting);
        paintAll();
        return moved;
    }

    // One tick of the tick source followed by the paint it causes; the clock moves by Tick.
    void tick() {
        clock.tick += static_cast<std::uint32_t>(settings.Tick);
        engine.onTick();
        paintPending();
    }
};

} // namespace skiro::testing
