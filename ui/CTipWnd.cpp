#include "ui/CTipWnd.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QToolTip>
#include <QtMath>

#include <algorithm>

#include "core/Clock.h"
#include "core/StringTable.h"
#include "sjis/Sjis.h"

namespace skiro {
namespace {

// The thin border of the box, as wide as the window system's own thin borders.
constexpr int kBorder = 1;

// The window system's pointer. Its image size is not published by Qt; X cursor themes take
// XCURSOR_SIZE (device pixels), 24 when unset, and the arrow's hot spot sits at its top.
class SystemTipCursor final : public TipCursor {
  public:
    std::optional<QPoint> position() const override { return QCursor::pos(); }
    int height() const override {
        if (const QCursor* custom = QGuiApplication::overrideCursor();
            custom && !custom->pixmap().isNull())
            return custom->pixmap().deviceIndependentSize().toSize().height();
        bool ok = false;
        int size = qEnvironmentVariableIntValue("XCURSOR_SIZE", &ok);
        if (!ok || size <= 0)
            size = 24;
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
        return qCeil(size / ratio);
    }
    int hotSpotY() const override {
        if (const QCursor* custom = QGuiApplication::overrideCursor();
            custom && !custom->pixmap().isNull())
            return custom->hotSpot().y();
        return 0;
    }
};

const SystemClock& systemClock() {
    static const SystemClock clock;
    return clock;
}

const SystemTipCursor& systemCursor() {
    static const SystemTipCursor cursor;
    return cursor;
}

} // namespace

CTipWnd::CTipWnd(const StringTable& strings, QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_strings(strings), m_clock(&systemClock()), m_cursor(&systemCursor()) {
    setObjectName(QStringLiteral("CTipWnd"));
    // Showing the box must never take the focus or the activation from the dialog, and the
    // box itself is never a target for the mouse.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setPalette(QToolTip::palette());
    m_restSince = m_clock->tickCount();
    m_timer.setInterval(kSampleInterval);
    connect(&m_timer, &QTimer::timeout, this, &CTipWnd::sample);
}

CTipWnd::~CTipWnd() {
    m_timer.stop();
    if (m_owner)
        m_owner->removeEventFilter(this);
}

void CTipWnd::start(QDialog* dialog, unsigned initialDelay, unsigned displayTime,
                    unsigned perByte) {
    if (m_owner || !dialog)
        return;
    m_owner = dialog;
    // Owned by the dialog: it goes with it, and the window system keeps it above it.
    if (parentWidget() != dialog)
        setParent(dialog, windowFlags());
    setFont(dialog->font());
    dialog->installEventFilter(this);
    m_initialDelay = initialDelay;
    m_hideAfter = initialDelay + displayTime;
    m_perByte = perByte;
    m_timer.start();
}

void CTipWnd::addTip(QWidget* control, int stringId) {
    const std::string& text = m_strings.text(stringId);
    if (text.empty() || !control)
        return;
    m_tools.push_back(
        Tool{control, fromSjis(text), m_perByte * static_cast<std::uint32_t>(text.size())});
}

void CTipWnd::setClock(const Clock* clock) {
    m_clock = clock ? clock : &systemClock();
}

void CTipWnd::setCursorSource(const TipCursor* cursor) {
    m_cursor = cursor ? cursor : &systemCursor();
}

QWidget* CTipWnd::currentControl() const {
    return m_current ? m_tools[*m_current].control.data() : nullptr;
}

QString CTipWnd::currentText() const {
    return m_current ? textOf(m_tools[*m_current]) : QString();
}

QString CTipWnd::textOf(const Tool& tool) const {
    // A control whose own tip says which thing it holds (the whole path of a device whose name
    // is cut short) has it on a line below the help, so that one box says both.
    const QString own = tool.control ? tool.control->toolTip() : QString();
    return own.isEmpty() ? tool.text : tool.text + QLatin1Char('\n') + own;
}

bool CTipWnd::ownerInFront(const QPoint& pos) const {
    if (!m_owner || !m_owner->isVisible())
        return false;
    // Only the dialog the user works in explains itself: not while another window is active,
    // a dialog it opened (the colour chooser, a message) is in front, or a drop-down list or
    // menu is open over it.
    if (!m_owner->isActiveWindow() || QApplication::activePopupWidget())
        return false;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != m_owner)
        return false;
    // Nor where another window covers the point, one that stays on top of every other, say.
    // X tells which window is at a point, another program's too (which Qt gives as none);
    // other window systems do not, and there only the checks above apply.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        const QWidget* top = QApplication::topLevelAt(pos);
        if (top != m_owner && top != this)
            return false;
    }
    return true;
}

const CTipWnd::Tool* CTipWnd::toolAt(const QPoint& pos) const {
    if (!ownerInFront(pos))
        return nullptr;
    for (const Tool& tool : m_tools) {
        QWidget* control = tool.control;
        if (!control || !control->isVisible())
            continue;
        // QRect::contains takes the left and top edges in and leaves the right and bottom out.
        if (QRect(control->mapToGlobal(QPoint(0, 0)), control->size()).contains(pos))
            return &tool;
    }
    return nullptr;
}

void CTipWnd::sample() {
    const std::optional<QPoint> pos = m_cursor->position();
    if (!pos)
        return;
    const bool visible = isVisible();
    bool hide = true;
    const Tool* tool = toolAt(*pos);
    if (!tool) {
        m_current.reset();
    } else {
        hide = false;
        const std::uint32_t now = m_clock->tickCount();
        const std::size_t index = static_cast<std::size_t>(tool - m_tools.data());
        if (*pos != m_last) {
            // Any movement, even by one pixel, hides the box; it comes back once the mouse
            // rests again.
            m_last = *pos;
            m_restSince = now;
            m_current.reset();
            hide = true;
        } else if (m_current != index) {
            m_current = index;
            m_restSince = now;
            if (visible)
                QWidget::hide();
        } else {
            const std::uint32_t elapsed = now - m_restSince;
            if (elapsed > m_hideAfter + tool->extraTime)
                hide = true;
            else if (elapsed > m_initialDelay && !visible)
                showTip(*pos);
        }
    }
    if (hide && isVisible())
        QWidget::hide();
}

QSize CTipWnd::measure(const QString& text, QPainter* painter) const {
    const QFontMetrics metrics(font());
    int width = 0;
    int y = 1;
    // A text ending in a line feed still has its last, empty line.
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (painter)
            painter->drawText(kBorder + 1, kBorder + y + metrics.ascent(), line);
        width = std::max(width, metrics.horizontalAdvance(line));
        y += metrics.height();
    }
    return QSize(width + 2, y + 1);
}

QSize CTipWnd::boxSize(const QString& text) const {
    return measure(text, nullptr) + QSize(2 * kBorder, 2 * kBorder);
}

void CTipWnd::showTip(const QPoint& cursorPos) {
    const QSize size = boxSize(textOf(m_tools[*m_current]));
    const int w = size.width();
    const int h = size.height();

    QScreen* screen = QGuiApplication::screenAt(cursorPos);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
    const int right = area.x() + area.width();
    const int bottom = area.y() + area.height();

    const int cursorHeight = m_cursor->height();
    // One free pixel row between the cursor image and the box.
    int x = cursorPos.x();
    int y = cursorPos.y() + cursorHeight - m_cursor->hotSpotY() + 1;
    if (x + w >= right)
        x = right - w - 1;
    if (y + h >= bottom)
        y -= cursorHeight + h + 2; // above the cursor image instead
    // A box wider or taller than the screen keeps its start on the screen.
    x = std::max(x, area.x());
    y = std::max(y, area.y());

    setGeometry(x, y, w, h);
    update();
    show();
}

void CTipWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::ToolTipBase));
    painter.setPen(colours.color(QPalette::ToolTipText));
    painter.drawRect(rect().adjusted(0, 0, -kBorder, -kBorder));
    if (m_current) {
        painter.setFont(font());
        measure(textOf(m_tools[*m_current]), &painter);
    }
}

bool CTipWnd::eventFilter(QObject* watched, QEvent* event) {
    // A dialog that is hidden or closed takes its box with it at once, not at the next sample.
    if (watched == m_owner && (event->type() == QEvent::Hide || event->type() == QEvent::Close)) {
        m_current.reset();
        QWidget::hide();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace skiro
