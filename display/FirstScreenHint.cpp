#include "display/FirstScreenHint.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include "sjis/Sjis.h"

namespace skiro {

FirstScreenHint::FirstScreenHint(const Settings& settings, QWidget* view)
    : QWidget(view), m_settings(settings),
      m_lines{QStringLiteral("SKIRO"),
              QStringLiteral("届いた文字を、ここに大きく流して表示します。"),
              QString(),
              QStringLiteral("1. ［設定］→［シリアル］(Ctrl+C) で、つなぐポートを選びます"),
              QStringLiteral("2. ［実行］→［スタート］(Ctrl+S) で受信を始めます"),
              QString(),
              QStringLiteral("全画面表示: F11（Esc で戻る）　ヘルプ: F1　メニュー: 右クリック")} {
    // Only text is drawn: the view paints the background beneath, in its own colour.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(view->rect());
    view->installEventFilter(this);
    show();
}

bool FirstScreenHint::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void FirstScreenHint::paintEvent(QPaintEvent*) {
    const Colour text = m_settings.Color.Text;
    QPainter painter(this);
    painter.setPen(QColor(redOf(text), greenOf(text), blueOf(text)));

    // The view's face, at a size that fits the longest line into the window.
    QFont font(fromSjis(m_settings.Font.lfFaceName));
    int pixels = std::clamp(height() / 16, 12, 32);
    font.setPixelSize(pixels);
    int widest = 0;
    for (const QString& line : m_lines)
        widest = std::max(widest, QFontMetrics(font).horizontalAdvance(line));
    const int room = width() * 9 / 10;
    if (widest > room && widest > 0) {
        pixels = std::max(8, pixels * room / widest);
        font.setPixelSize(pixels);
    }
    QFont title = font;
    title.setPixelSize(pixels * 2);
    title.setBold(true);

    const int lineHeight = QFontMetrics(font).lineSpacing() * 3 / 2;
    const int titleHeight = QFontMetrics(title).lineSpacing();
    const int blockHeight = titleHeight + lineHeight / 2 + lineHeight * int(m_lines.size() - 1);
    int y = std::max(0, (height() - blockHeight) / 2);
    painter.setFont(title);
    painter.drawText(QRect(0, y, width(), titleHeight), Qt::AlignHCenter | Qt::AlignVCenter,
                     m_lines.front());
    y += titleHeight + lineHeight / 2;
    // The steps as one block, centred, each line starting at its left edge.
    painter.setFont(font);
    const QFontMetrics metrics(font);
    int blockWidth = 0;
    for (qsizetype i = 1; i < m_lines.size(); ++i)
        blockWidth = std::max(blockWidth, metrics.horizontalAdvance(m_lines[i]));
    const int left = std::max(0, (width() - blockWidth) / 2);
    for (qsizetype i = 1; i < m_lines.size(); ++i) {
        painter.drawText(QRect(left, y, width() - left, lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, m_lines[i]);
        y += lineHeight;
    }
}

} // namespace skiro
