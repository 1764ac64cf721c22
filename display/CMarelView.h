#pragma once
#include <QEvent>
#include <QRect>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/Intake.h"
#include "core/IntakeView.h"
#include "core/Painter.h"
#include "core/Recorder.h"
#include "core/ScrollEngine.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "core/ViewClock.h"
#include "core/ViewState.h"
#include "display/FrameClock.h"
#include "display/OutlineRowCache.h"
#include "display/TickSource.h"

class QMenu;

namespace skiro {

class FirstScreenHint;
class QtTextSurface;
struct ScrollPage;

// The one view: takes received text into intake, paints the line store and the entering line,
// moves the picture with the scroll engine on each tick and runs the 500 ms clock. The main
// frame hosts it; the watch thread and the tick sources reach it only through posted events.
class CMarelView : public QWidget, public IntakeView, public ScrollTarget {
    Q_OBJECT

  public:
    // Accepted and ignored; no part of the system sends it.
    static constexpr QEvent::Type kReservedEvent = static_cast<QEvent::Type>(QEvent::User + 201);
    // One scroll tick from the tick source.
    static constexpr QEvent::Type kScrollTickEvent = static_cast<QEvent::Type>(QEvent::User + 202);
    // The watch thread saw data arrive at the port.
    static constexpr QEvent::Type kDataReadyEvent = static_cast<QEvent::Type>(QEvent::User + 203);

    // Colour commands in the entering line change the settings' colours.
    CMarelView(Settings& settings, LineRecorder& recorder, const Clock& clock,
               const StringTable& strings, QWidget* parent = nullptr);
    ~CMarelView() override;

    // Text from any road: the port, typed with local echo, the external feeds.
    bool receiveText(std::string_view text);
    // The open serial session, or nullptrs once it is stopped.
    void setSession(SerialPort* port, ReadyEvent* readyEvent);
    // The update step: remakes the font when its description or the direction changed and
    // repaints everything. Run after the settings were loaded or changed.
    void updateView();
    // Restarts the tick source of the current TimerMethod with `interval` milliseconds.
    void startScrollTimer(int interval);
    void stopScrollTimer();
    // The window is closing: the tick source and the clock stop for good, so that nothing more
    // scrolls in and what was not shown stays for the record.
    void stopDisplay();

    // For the watch thread (both thread-safe): whether the view has no tick queued and nothing
    // to paint, and the data-ready notification itself.
    bool canPostDataReady() const;
    void postDataReady();

    Intake& intake() { return m_intake; }
    const ViewState& state() const { return m_state; }
    const TickSource& tickSource() const { return m_ticks; }
    // Wakes the view at each refresh while the picture glides (Smooth).
    const FrameClock& frameClock() const { return m_frames; }
    // Pixels the picture has moved since the view was made, with the fraction.
    double travelled() const { return m_travelled; }
    // Told after each glide frame: the time it was due for, what it took and the processor
    // time the thread spent on it (all in ms).
    void setFrameObserver(std::function<void(double dueMs, double costMs, double cpuMs)> observer) {
        m_frameObserver = std::move(observer);
    }
    // Ticks the tick source has posted since the view was made.
    std::uint64_t ticksPosted() const { return m_ticksPosted.load(); }
    ScrollEngine& engine() { return m_engine; }
    ViewClock& viewClock() { return m_viewClock; }
    OutlineRowCache& rowCache() { return m_rowCache; }
    // Outlined rows from the row cache (the default) or as repeated text outputs, which the
    // benchmark compares against.
    void useRowCache(bool on) { m_painter.setRowDrawer(on ? &m_rowCache : nullptr); }
    // Pixels painted since the view was made: what the window system asked to have repainted.
    std::uint64_t paintedPixels() const { return m_paintedPixels; }
    // The few lines on the empty view of a new start; nullptr once text or a session came.
    const FirstScreenHint* firstScreenHint() const { return m_hint; }
    // The surface with the view font; remade when the font or the direction is confirmed.
    const QtTextSurface* surface() const { return m_surface.get(); }

    // The right-button popup: the frame's menu bar repeated, one group per drop-down menu, with
    // the menu bar's own commands, so a choice runs exactly as from the menu bar. Built once
    // when the view is made; empty when the view has no frame with a menu bar.
    QMenu* contextMenu() const { return m_contextMenu; }

    // One typed byte: TAB redraws everything; with local echo the byte is shown as if received
    // (and echoed only with echo-back); otherwise it is sent, unless echo-back is on. A NUL
    // byte is an empty text and does nothing.
    void typeByte(char byte);
    // Typed text (a key or an input method's commit), as Shift-JIS bytes one by one.
    void typeText(const QString& text);

    // The view's commands. The font chooser redraws also after Cancel; the colour choosers
    // change and redraw nothing after Cancel.
    void chooseFont();
    void chooseTextColour();
    void chooseBackColour();
    // Opens the help topic of a chooser (the font chooser 28678, the colour chooser 28679) when
    // F1 is pressed in it; without it F1 does nothing there.
    void setChooserHelp(std::function<void(int dialogId)> help) { m_chooserHelp = std::move(help); }
    // The scroll command: `runDialog` shows the scroll dialog on a page filled from the
    // settings and returns whether the user confirmed it. On OK the page is taken back, the
    // font remade (its turn depends on the direction) and the tick source restarted with the
    // new interval; everything is redrawn in either case.
    void scrollSettings(const std::function<bool(ScrollPage&)>& runDialog);

    // IntakeView and ScrollTarget.
    Rect clientRect() const override;
    void invalidate(const Rect& area, bool erase) override;
    void scrollStep(int step) override;
    void movePicture(int dx, int dy) override;

  signals:
    // Echoing received text back failed; the message is the system's own text, shown once.
    void sendFailed(const QString& message);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // TAB is a typed character here, never a move of the focus.
    bool focusNextPrevChild(bool next) override;

  private:
    // Whether a key is the key of a command (an accelerator of the window or the view).
    bool isCommandKey(const QKeyEvent* event) const;
    void buildContextMenu();
    void dragStep(const QPoint& global);
    void endDrag();
    // The colour chooser on one of the settings' colours.
    void chooseColour(Colour& colour, const QString& title);
    void onTick();
    void onDataReady();
    void onClock();
    void reportEchoFailure();
    void postTick();
    // Wakes the resting tick source when a tick has something to do again.
    void keepTicking();
    void prepareRows();
    bool gliding() const { return m_settings.Smooth != 0; }
    void onFrame(double dueMs);
    // What the next glide frame must repaint: every row where it was and where it goes, and
    // the strip at the incoming edge where new rows come in.
    QRegion glideRegion(double moved);
    void noteDrawnRows(const QRegion& painted);
    void traceMotion(double atMs, double speedPxPerMs);

    Settings& m_settings;
    ViewState m_state;
    Intake m_intake;
    ScrollEngine m_engine;
    Painter m_painter;
    std::unique_ptr<CursorControl> m_cursor;
    ViewClock m_viewClock;
    OutlineRowCache m_rowCache;
    TickSource m_ticks;
    FrameClock m_frames;
    QTimer m_clockTimer;
    // Gliding: where the rows drawn on the view lie (ink only), and what keep-up looks at.
    std::vector<QRect> m_sceneRects;
    std::vector<WaitingText> m_waiting;
    std::vector<int> m_waitingThickness;
    double m_travelled = 0;
    // The motion trace (SKIRO_FRAME_TRACE names the file): each displayed update's time and
    // position, to plot how the picture moves.
    std::FILE* m_trace = nullptr;
    std::function<void(double, double, double)> m_frameObserver;
    std::size_t m_preparedFor = 0;

    std::unique_ptr<QtTextSurface> m_surface;
    // The font description and direction the surface was made with.
    Font m_fontUsed;
    int m_directionUsed = -1;
    int m_outlineUsed = -1;

    const StringTable& m_strings;
    QMenu* m_contextMenu = nullptr;
    std::function<void(int dialogId)> m_chooserHelp;
    // Screen position of the mouse at the last step of a window drag; set while a drag holds
    // the mouse.
    std::optional<QPoint> m_dragOrigin;
    bool m_systemMoveAsked = false;
    FirstScreenHint* m_hint = nullptr; // a child of the view
    void dismissHint();

    SerialPort* m_port = nullptr;
    std::atomic<int> m_queuedTicks{0};
    std::atomic<std::uint64_t> m_ticksPosted{0};
    std::atomic<bool> m_paintPending{false};
    // Whether the window can be painted at all. A minimized or hidden window never paints, so
    // its pending update must not hold back reading: the driver's buffer would fill while the
    // stall watchdog moves one line per 800 ms. Refreshed on the user-interface thread.
    std::atomic<bool> m_paintable{true};
    bool paintable() const;
    bool paintHoldsReading() const { return m_paintPending.load() && m_paintable.load(); }
    bool m_preparing = false;
    std::uint64_t m_paintedPixels = 0;
};

} // namespace skiro
