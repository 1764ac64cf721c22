#include "app/LinkMark.h"

#include <QEvent>

namespace skiro {

namespace {

// Distance from the view's edges, in pixels.
constexpr int kMargin = 6;

} // namespace

LinkMark::LinkMark(const QString& text, QWidget* view, QWidget* frame)
    : QLabel(text, frame), m_view(view) {
    setObjectName(QStringLiteral("linkMark"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Quiet amber on a dark glass: readable over any caption colours, and small.
    setStyleSheet(QStringLiteral("QLabel#linkMark { color: #ffc040; background: rgba(0, 0, 0, 170);"
                                 " border-radius: 4px; padding: 1px 6px; }"));
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.9));
    setFont(small);
    hide();
    if (m_view)
        m_view->installEventFilter(this);
}

void LinkMark::showWaiting(bool waiting, const QString& device) {
    setToolTip(device);
    if (!waiting) {
        hide();
        return;
    }
    adjustSize();
    place();
    show();
    raise();
}

bool LinkMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        place();
    return QLabel::eventFilter(watched, event);
}

void LinkMark::place() {
    if (!m_view || !parentWidget())
        return;
    const QPoint topRight = m_view->mapTo(parentWidget(), QPoint(m_view->width(), 0));
    move(topRight.x() - width() - kMargin, topRight.y() + kMargin + m_row * (height() + kMargin));
}

} // namespace skiro
