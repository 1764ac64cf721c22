#include "display/CMarelView.h"

#include "sjis/Sjis.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>

#include "core/SettingRanges.h"
#include "display/FirstScreenHint.h"
#include "display/QtTextSurface.h"

namespace skiro {

namespace {

// The system cursor, where the platform lets a program move it (not on Wayland or offscreen).
class QtCursorControl : public CursorControl {
  public:
    std::optional<Position> position() const override {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("wayland") ||
            platform == QLatin1String("minimal"))
            return std::nullopt;
        const QPoint at = QCursor::pos();
        return Position{at.x(), at.y()};
    }
    void moveTo(int x, int y) override { QCursor::setPos(x, y); }
};

bool sameFont(const Font& a, const Font& b) {
    return a.lfHeight == b.lfHeight && a.lfWidth == b.lfWidth && a.lfWeight == b.lfWeight &&
           a.lfItalic == b.lfItalic && a.lfUnderline == b.lfUnderline &&
           a.lfStrikeOut == b.lfStrikeOut && a.lfCharSet == b.lfCharSet &&
           a.lfPitchAndFamily == b.lfPitchAndFamily && a.lfFaceName == b.lfFaceName;
}

} // namespace

CMarelView::CMarelView(Settings& settings, LineRecorder& recorder, const Clock& clock,
                       const StringTable& strings, QWidget* parent)
    : QWidget(parent), m_settings(settings),
      m_intake(settings, clock, strings, recorder, m_state, *this),
      m_engine(settings, clock, m_state, m_intake, *this), m_painter(settings, m_intake, m_state),
      m_cursor(std::make_unique<QtCursorControl>()),
      m_viewClock(settings, clock, m_state, m_intake, m_engine, recorder, m_cursor.get()),
      m_ticks([this] { postTick(); }), m_frames(this, [this](double due) { onFrame(due); }),
      m_strings(strings) {
    // Painting covers every pixel it is asked for, so the window system need not erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    // Text committed by an input method (a Japanese IME) arrives as typed text.
    setAttribute(Qt::WA_InputMethodEnabled);
    m_painter.setRowDrawer(&m_rowCache);
    if (const QByteArray trace = qgetenv("SKIRO_FRAME_TRACE"); !trace.isEmpty()) {
        m_trace = std::fopen(trace.constData(), "w");
        // Each line goes out whole as it is written, so that the trace can be read while the
        // program runs, and nothing is lost when it is killed.
        if (m_trace)
            std::setvbuf(m_trace, nullptr, _IOLBF, 256);
    }

    // The initial update: tick source, clock, then the update step.
    m_state.entryOffset = 0;
    m_state.scrolling = false;
    startScrollTimer(m_settings.Tick);
    m_clockTimer.setInterval(ViewClock::kPeriodMs);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] { onClock(); });
    m_clockTimer.start();
    buildContextMenu();
    updateView();
    m_hint = new FirstScreenHint(m_settings, this);
}

CMarelView::~CMarelView() {
    // The window ends: tick source and clock stop, the popup goes and a drag lets the mouse go.
    stopScrollTimer();
    m_frames.stop();
    m_clockTimer.stop();
    if (m_trace)
        std::fclose(m_trace);
    delete m_contextMenu;
    m_contextMenu = nullptr;
    endDrag();
    QCoreApplication::removePostedEvents(this, kScrollTickEvent);
    QCoreApplication::removePostedEvents(this, kDataReadyEvent);
}

bool CMarelView::receiveText(std::string_view text) {
    if (!text.empty())
        dismissHint();
    const bool taken = m_intake.receiveText(text);
    reportEchoFailure();
    keepTicking();
    return taken;
}

void CMarelView::dismissHint() {
    if (!m_hint)
        return;
    delete m_hint;
    m_hint = nullptr;
}

void CMarelView::setSession(SerialPort* port, ReadyEvent* readyEvent) {
    if (port)
        dismissHint();
    m_port = port;
    m_intake.setSession(port, readyEvent);
}

void CMarelView::updateView() {
    if (!m_surface || !sameFont(m_fontUsed, m_settings.Font) ||
        m_directionUsed != m_settings.Direction) {
        m_surface =
            std::make_unique<QtTextSurface>(m_settings.Font, m_settings.Direction, logicalDpiX());
        m_fontUsed = m_settings.Font;
        m_directionUsed = m_settings.Direction;
        m_rowCache.clear();
        m_painter.forgetMeasures();
    }
    if (m_rowCache.glide() != gliding()) {
        m_rowCache.clear();
        m_rowCache.setGlide(gliding());
        m_sceneRects.clear();
        if (!gliding())
            m_state.entryPhase = 0;
    }
    // A window full of rows stays cached while it glides, with the rows about to enter.
    const int extent = m_settings.Direction == 1 ? width() : height();
    m_rowCache.setCapacity(
        static_cast<std::size_t>(48 + 2 * extent / std::max(4, m_surface->fontHeight())));
    const int outline = outlineDots(m_settings);
    if (outline != m_outlineUsed) {
        m_outlineUsed = outline;
        m_rowCache.clear();
    }
    update();
    m_paintPending = true;
    // A smaller step may leave a gap at the incoming edge that the next tick closes.
    keepTicking();
}

void CMarelView::startScrollTimer(int interval) {
    // A gliding picture is paced by the display's refresh, not by a tick source.
    if (gliding()) {
        m_ticks.stop();
        QCoreApplication::removePostedEvents(this, kScrollTickEvent);
        m_queuedTicks.store(0);
        keepTicking();
        return;
    }
    m_frames.stop();
    m_ticks.start(m_settings.TimerMethod, scrollTimerInterval(m_settings.TimerMethod, interval));
}

void CMarelView::stopScrollTimer() {
    m_ticks.stop();
}

void CMarelView::stopDisplay() {
    stopScrollTimer();
    m_clockTimer.stop();
    QCoreApplication::removePostedEvents(this, kScrollTickEvent);
}

void CMarelView::postTick() {
    ++m_queuedTicks;
    ++m_ticksPosted;
    QCoreApplication::postEvent(this, new QEvent(kScrollTickEvent));
}

bool CMarelView::canPostDataReady() const {
    return m_queuedTicks.load() == 0 && !paintHoldsReading();
}

bool CMarelView::paintable() const {
    const QWidget* frame = window();
    return isVisible() && !(frame && frame->isMinimized());
}

void CMarelView::postDataReady() {
    QCoreApplication::postEvent(this, new QEvent(kDataReadyEvent));
}

Rect CMarelView::clientRect() const {
    return Rect{0, 0, width(), height()};
}

void CMarelView::invalidate(const Rect& area, bool) {
    // Every paint erases what it repaints, so the erase flag needs no separate path.
    if (area.isEmpty())
        return;
    update(QRect(area.left, area.top, area.width(), area.height()));
    m_paintPending = true;
}

void CMarelView::scrollStep(int step) {
    keepTicking();
    // Gliding, the motion starts with the next frame, timed from now.
    if (!gliding())
        m_engine.scrollStep(step);
}

void CMarelView::keepTicking() {
    if (gliding()) {
        // The frame clock runs while the picture moves and the window can show it; a window
        // that cannot leaves the lines to the stall watchdog.
        if (m_state.scrolling && !m_frames.running() && paintable()) {
            m_engine.glideStart(FrameClock::nowMs());
            m_frames.start();
        }
        return;
    }
    if (m_ticks.paused() && m_engine.needsTicks()) {
        m_engine.ticksResumed();
        m_ticks.resume();
    }
}

void CMarelView::movePicture(int dx, int dy) {
    // The window system moves the pixels; only the uncovered strip is painted (and erased by
    // the paint).
    scroll(dx, dy);
    m_paintPending = true;
    m_travelled += std::abs(dx) + std::abs(dy);
    traceMotion(FrameClock::nowMs(), 0);
}

bool CMarelView::event(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == kScrollTickEvent) {
        onTick();
        return true;
    }
    if (type == kDataReadyEvent) {
        onDataReady();
        return true;
    }
    if (type == kReservedEvent)
        return true;
    return QWidget::event(event);
}

void CMarelView::onTick() {
    if (gliding()) {
        // A tick posted before the switch to gliding.
        m_queuedTicks.store(0);
        QCoreApplication::removePostedEvents(this, kScrollTickEvent);
        return;
    }
    m_engine.onTick();
    // Ticks that queued up while the thread was busy are dropped: the picture moves one step
    // per handled tick and never races to catch up.
    m_queuedTicks.store(0);
    QCoreApplication::removePostedEvents(this, kScrollTickEvent);
    // Nothing moves and no tick could change that: the tick source rests until the next step
    // (or a paint that finds the current line outside) instead of waking the program
    // twenty times a second for nothing.
    if (!m_engine.needsTicks())
        m_ticks.pause();
}

void CMarelView::onDataReady() {
    // Read only when nothing else waits, so that input never delays scrolling or painting.
    m_paintable = paintable();
    m_intake.onDataReady(m_queuedTicks.load() > 0, paintHoldsReading());
    reportEchoFailure();
    keepTicking();
}

void CMarelView::onClock() {
    m_paintable = paintable();
    m_viewClock.onClock(m_port != nullptr);
    reportEchoFailure();
    keepTicking();
}

void CMarelView::reportEchoFailure() {
    if (auto failure = m_intake.takeEchoFailure()) {
        emit sendFailed(fromSjis(failure->message));
    }
}

namespace {

// The processor time this thread has used, where the platform tells it (0 where not).
double threadCpuMs() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
#else
    return 0;
#endif
}

} // namespace

void CMarelView::onFrame(double dueMs) {
    const double startMs = FrameClock::nowMs();
    const double startCpuMs = m_frameObserver ? threadCpuMs() : 0;
    m_paintable = paintable();
    if (!gliding() || !m_paintable) {
        m_frames.stop();
        return;
    }
    // What waits to enter, for keep-up: the rest of the current line, then the lines behind.
    m_waiting.clear();
    if (m_settings.KeepUp && m_surface) {
        m_waiting.push_back(
            {static_cast<double>(m_state.currentOutside), m_intake.currentArrival()});
        m_painter.measureWaitingLines(*m_surface, clientRect(), 64, m_waitingThickness);
        for (std::size_t i = 0; i < m_waitingThickness.size() && i < m_intake.waitingLineCount();
             ++i)
            m_waiting.push_back(
                {static_cast<double>(m_waitingThickness[i]), m_intake.waitingArrival(i)});
    }
    const double moved = m_engine.glideFrame(dueMs, m_waiting);
    m_travelled += moved;
    repaint(glideRegion(moved));
    traceMotion(dueMs, m_engine.glideSpeed().speed());
    if (!m_state.scrolling) {
        m_frames.stop();
        m_engine.closeGapAtRest();
    }
    if (m_frameObserver)
        m_frameObserver(dueMs, FrameClock::nowMs() - startMs, threadCpuMs() - startCpuMs);
}

QRegion CMarelView::glideRegion(double moved) {
    const bool vertical = m_settings.Direction == 1;
    const int grow = static_cast<int>(std::ceil(moved)) + 1;
    QRegion region;
    for (QRect r : m_sceneRects) {
        if (vertical)
            r.setRight(r.right() + grow);
        else
            r.setTop(r.top() - grow);
        region += r;
    }
    // New rows come in at the incoming edge; after a line change the new line may already
    // have entered by the room the last one left.
    int strip = grow + 1;
    if (m_state.bandRepaintPending) {
        strip += std::max(0, m_state.entryOffset);
        m_state.bandRepaintPending = false;
    }
    region += vertical ? QRect(0, 0, strip, height()) : QRect(0, height() - strip, width(), strip);
    return region & rect();
}

void CMarelView::noteDrawnRows(const QRegion& painted) {
    // Rows wholly repainted are where this paint drew them now; the others stay where they
    // were drawn before.
    std::erase_if(m_sceneRects, [&](const QRect& r) { return (QRegion(r) - painted).isEmpty(); });
    for (const QRect& r : m_rowCache.takeDrawnRects()) {
        const QRect inside = r & rect();
        if (!inside.isEmpty() &&
            std::find(m_sceneRects.begin(), m_sceneRects.end(), inside) == m_sceneRects.end())
            m_sceneRects.push_back(inside);
    }
}

void CMarelView::traceMotion(double atMs, double speedPxPerMs) {
    if (!m_trace)
        return;
    std::fprintf(m_trace, "%.3f %.4f %.1f %d\n", atMs, m_travelled, speedPxPerMs * 1000,
                 m_state.scrolling ? 1 : 0);
}

void CMarelView::paintEvent(QPaintEvent* event) {
    m_paintPending = false;
    const QRegion& region = event->region();
    const QRect bounds = region.boundingRect();
    if (!bounds.isEmpty() && m_surface) {
        QPainter painter(this);
        m_surface->setPainter(&painter);
        m_rowCache.setPhase(m_state.entryPhase);
        for (const QRect& r : region) {
            m_painter.eraseArea(*m_surface, Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
            m_paintedPixels += static_cast<std::uint64_t>(r.width()) * r.height();
        }
        m_rowCache.begin(*m_surface, painter);
        Rect clip{bounds.left(), bounds.top(), bounds.right() + 1, bounds.bottom() + 1};
        // A row moved by a fraction of a pixel reaches one pixel beyond its band on the
        // outgoing side, into the clip from just outside it.
        if (gliding()) {
            if (m_settings.Direction == 1)
                --clip.left;
            else
                ++clip.bottom;
        }
        m_painter.paintLines(*m_surface, clientRect(), clip);
        m_rowCache.end();
        m_surface->setPainter(nullptr);
        if (gliding())
            noteDrawnRows(region);
    }
    m_engine.paintDone();
    // A paint that finds the current line outside the window (after a resize, a larger font)
    // sets scrolling without a step.
    keepTicking();
    // Render the rows about to enter between ticks, so that no tick waits for a new row.
    if ((m_settings.Outline || gliding()) && !m_preparing && m_surface) {
        m_preparing = true;
        QTimer::singleShot(0, this, [this] { prepareRows(); });
    }
}

void CMarelView::prepareRows() {
    if (!m_surface) {
        m_preparing = false;
        return;
    }
    if (!m_rowCache.hasQueued()) {
        // Only when the lines about to enter have changed: a gliding view paints every frame.
        // The current line is told by its number and length (it only grows while it keeps its
        // number), so that a long one costs nothing here.
        const std::size_t upcoming =
            std::hash<std::uint64_t>()(m_intake.currentLineSerial() * 0x9E3779B97F4A7C15ULL ^
                                       m_intake.currentLine().size()) ^
            (std::hash<std::string_view>()(m_intake.backlog().substr(0, 256)) << 1) ^
            static_cast<std::size_t>(width() * 65599 + height());
        if (upcoming != m_preparedFor) {
            m_preparedFor = upcoming;
            m_painter.prepareUpcoming(*m_surface, clientRect());
        }
    }
    // One row per turn of the event loop, so that a tick is never held up for long.
    if (m_rowCache.renderQueued(*m_surface))
        QTimer::singleShot(0, this, [this] { prepareRows(); });
    else
        m_preparing = false;
}

} // namespace skiro
