#include "ui/SettingsDialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>
#include <map>

#include "core/SettingsDialogs.h"
#include "display/HelpKey.h"
#include "sjis/Sjis.h"
#include "ui/CTipWnd.h"

namespace skiro {

namespace {

// A group box drawn as dialog templates draw theirs: the frame line runs through the middle of
// the title, so that a control placed one line below the group's top sits inside the frame.
// (Qt's own styles put the title above the frame and would need a taller group.)
class DialogGroupBox : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    // The mnemonic goes to the first control inside that Tab would stop at: for a group of
    // radio buttons, the checked one. (Qt's own group box goes back to whichever button had
    // the focus last, even when another has been checked since.)
    bool event(QEvent* event) override {
        if (event->type() == QEvent::Shortcut) {
            for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
                if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
                    w->isEnabled() && w->isVisibleTo(this)) {
                    w->setFocus(Qt::ShortcutFocusReason);
                    return true;
                }
            }
        }
        return QGroupBox::event(event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched line: a dark line with a light one a pixel below and to the right.
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -1, -1);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.adjusted(1, 1, 0, 0));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));

        QString shown = title();
        shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
        shown.remove(QLatin1Char('&'));
        shown.replace(QStringLiteral("\x01"), QStringLiteral("&"));
        // The title starts half a character in, with a pixel of room on either side, so that
        // a long title such as "ｽﾄｯﾌﾟﾋﾞｯﾄ(&S)" still fits its narrow group.
        const int pad = 1;
        const QRect titleRect(metrics.averageCharWidth() / 2, 0,
                              metrics.horizontalAdvance(shown) + 2 * pad, metrics.height());
        painter.fillRect(titleRect, palette().window());
        style()->drawItemText(&painter, titleRect.adjusted(pad, 0, 0, 0),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), title(), QPalette::WindowText);
    }
};

// The platform's dialogs draw a smaller check mark than Qt's styles; a radio button or check
// box placed at its template width is widened to what its text and indicator need here, so
// that no text is cut off. The templates leave that much room beside every such control.
int neededWidth(const QAbstractButton* button, QStyle::PixelMetric indicator,
                QStyle::PixelMetric spacing) {
    QString text = button->text();
    text.remove(QLatin1Char('&'));
    const QStyle* style = button->style();
    return style->pixelMetric(indicator, nullptr, button) +
           style->pixelMetric(spacing, nullptr, button) +
           button->fontMetrics().horizontalAdvance(text);
}

int neededWidth(const QRadioButton* radio) {
    return neededWidth(radio, QStyle::PM_ExclusiveIndicatorWidth,
                       QStyle::PM_RadioButtonLabelSpacing);
}

void fitText(QAbstractButton* button, QStyle::PixelMetric indicator, QStyle::PixelMetric spacing) {
    const int needed = neededWidth(button, indicator, spacing);
    if (needed > button->width())
        button->resize(needed, button->height());
}

} // namespace

void DialogList::show(const std::string& text) const {
    m_box->setCurrentIndex(listSelection(m_items, text));
}

std::string DialogList::take(std::string current) const {
    return listText(m_items, m_box->currentIndex(), std::move(current));
}

SettingsDialog::SettingsDialog(int templateId, const QString& title, int widthUnits,
                               int heightUnits, const StringTable& strings, HelpHook help,
                               QWidget* parent)
    : QDialog(parent), m_strings(strings), m_templateId(templateId), m_help(std::move(help)) {
    new HelpKey(*this, [this] { openHelp(m_templateId); });
    setWindowTitle(title);
    // A caption with the window menu and the close button only: no minimise or maximise, and
    // the fixed size below keeps window managers from offering to resize it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // The dialogs are designed for a 9-point Japanese gothic face; the Windows face is
    // substituted by the installed IPA face where it is missing.
    m_font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    m_font.setPointSize(9);
    setFont(m_font);
    const QFontMetrics metrics(m_font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabet / 26 + 1) / 2;
    m_baseY = metrics.height();
    setFixedSize(dialogRect(0, 0, widthUnits, heightUnits).size());

    m_tips = new CTipWnd(strings, this);
}

QRect SettingsDialog::dialogRect(int x, int y, int width, int height) const {
    const auto across = [this](int units) { return (units * m_baseX + 2) / 4; };
    const auto down = [this](int units) { return (units * m_baseY + 4) / 8; };
    const int left = across(x);
    const int top = down(y);
    return QRect(left, top, across(x + width) - left, down(y + height) - top);
}

void SettingsDialog::place(QWidget* widget, int x, int y, int w, int h) {
    QRect rect = dialogRect(x, y, w, h);
    if (QWidget* parent = widget->parentWidget(); parent && parent != this)
        rect.translate(-parent->pos());
    widget->setGeometry(rect);
}

QGroupBox* SettingsDialog::addGroup(const QString& title, int x, int y, int w, int h) {
    auto* group = new DialogGroupBox(title, this);
    place(group, x, y, w, h);
    return group;
}

QRadioButton* SettingsDialog::addRadio(QWidget* parent, const QString& text, int x, int y, int w,
                                       int h) {
    auto* radio = new QRadioButton(text, parent);
    place(radio, x, y, w, h);
    fitText(radio, QStyle::PM_ExclusiveIndicatorWidth, QStyle::PM_RadioButtonLabelSpacing);

    auto group = std::find_if(m_radioGroups.begin(), m_radioGroups.end(),
                              [parent](auto& g) { return g.front()->parentWidget() == parent; });
    if (group == m_radioGroups.end())
        group = m_radioGroups.emplace(m_radioGroups.end());
    group->push_back(radio);
    const std::size_t index = static_cast<std::size_t>(group - m_radioGroups.begin());
    // The tab stop follows the check, whichever way it changes: a click, an arrow key, the
    // page going into the controls.
    connect(radio, &QRadioButton::toggled, this,
            [this, index] { setTabStop(m_radioGroups[index]); });
    radio->installEventFilter(this);
    setTabStop(*group);
    return radio;
}

const std::vector<QRadioButton*>* SettingsDialog::radioGroupOf(const QObject* radio) const {
    for (const auto& group : m_radioGroups)
        if (std::find(group.begin(), group.end(), radio) != group.end())
            return &group;
    return nullptr;
}

void SettingsDialog::setTabStop(const std::vector<QRadioButton*>& group) {
    QRadioButton* stop = nullptr;
    for (QRadioButton* radio : group)
        if (radio->isChecked() && radio->isEnabled())
            stop = radio;
    for (QRadioButton* radio : group)
        if (!stop && radio->isEnabled())
            stop = radio;
    // The others still take the focus when clicked.
    for (QRadioButton* radio : group)
        radio->setFocusPolicy(radio == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    // A group greyed and enabled again (the timer while the picture glides) gets its tab stop
    // back on its choice, which it lost while none of its buttons could take the focus.
    if (event->type() == QEvent::EnabledChange) {
        if (const std::vector<QRadioButton*>* group = radioGroupOf(watched))
            setTabStop(*group);
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const std::vector<QRadioButton*>* group = radioGroupOf(watched);
    if (!group || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return QDialog::eventFilter(watched, event);
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
        step = -1;
        break;
    case Qt::Key_Down:
    case Qt::Key_Right:
        step = 1;
        break;
    default:
        return QDialog::eventFilter(watched, event);
    }
    // Round the group in its own order, past the ends and over disabled buttons; the button
    // landed on is checked as a click would check it, so what a click does follows too.
    const auto size = static_cast<int>(group->size());
    const int from =
        static_cast<int>(std::find(group->begin(), group->end(), watched) - group->begin());
    for (int n = 1; n <= size; ++n) {
        QRadioButton* next =
            (*group)[static_cast<std::size_t>(((from + step * n) % size + size) % size)];
        if (!next->isEnabled() || !next->isVisibleTo(this))
            continue;
        next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        next->click();
        break;
    }
    return true;
}

QCheckBox* SettingsDialog::addCheck(QWidget* parent, const QString& text, int x, int y, int w,
                                    int h) {
    auto* check = new QCheckBox(text, parent);
    place(check, x, y, w, h);
    fitText(check, QStyle::PM_IndicatorWidth, QStyle::PM_CheckBoxLabelSpacing);
    return check;
}

QLabel* SettingsDialog::addStatic(QWidget* parent, const QString& text, int x, int y, int w,
                                  int h) {
    auto* label = new QLabel(text, parent);
    place(label, x, y, w, h);
    // A static of one line sits on the line of its neighbour, as a text in a dialog template
    // does; the font may be a pixel taller than the rectangle.
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* SettingsDialog::addEdit(QWidget* parent, int x, int y, int w, int h) {
    auto* edit = new QLineEdit(parent);
    place(edit, x, y, w, h);
    return edit;
}

DialogList SettingsDialog::addList(QWidget* parent, int stringId, int x, int y, int w) {
    auto* box = new QComboBox(parent);
    std::vector<std::string> items = listItems(m_strings.text(stringId));
    for (const std::string& item : items)
        box->addItem(fromSjis(item));
    box->setMaxVisibleItems(static_cast<int>(items.size()));
    // The closed list is one edit line high, as tall as an edit of the same font.
    place(box, x, y, w, 13);
    return DialogList(box, std::move(items));
}

void SettingsDialog::addButtons(const QPoint (&places)[4], int w, int h) {
    const QString texts[4] = {QStringLiteral("OK"), QStringLiteral("ﾃﾞﾌｫﾙﾄ"),
                              QStringLiteral("ｷｬﾝｾﾙ"), QStringLiteral("ﾍﾙﾌﾟ")};
    for (int i = 0; i < 4; ++i) {
        m_buttons[i] = new QPushButton(texts[i], this);
        place(m_buttons[i], places[i].x(), places[i].y(), w, h);
    }
    m_buttons[0]->setDefault(true);
    // ﾃﾞﾌｫﾙﾄ changes the fields and leaves the dialog open: Return afterwards is OK, not
    // ﾃﾞﾌｫﾙﾄ once more, and on the button Space presses it.
    m_buttons[1]->setAutoDefault(false);
    connect(m_buttons[0], &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(m_buttons[1], &QPushButton::clicked, this, &SettingsDialog::onDefault);
    connect(m_buttons[2], &QPushButton::clicked, this, &SettingsDialog::reject);
    connect(m_buttons[3], &QPushButton::clicked, this, [this] { openHelp(m_templateId); });
    m_buttons[3]->setVisible(static_cast<bool>(m_help));
}

void SettingsDialog::openHelp(int dialogId) const {
    if (m_help)
        m_help(dialogId);
}

QPushButton* SettingsDialog::button(int id) const {
    switch (id) {
    case IDOK:
        return m_buttons[0];
    case IDC_DEFAULT:
        return m_buttons[1];
    case IDCANCEL:
        return m_buttons[2];
    case ID_DIALOG_HELP:
        return m_buttons[3];
    default:
        return nullptr;
    }
}

int SettingsDialog::radioIndex(const std::vector<QRadioButton*>& group) {
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (group[i]->isChecked())
            return static_cast<int>(i);
    }
    return -1;
}

int SettingsDialog::takeRadio(const std::vector<QRadioButton*>& group, int current) {
    const int index = radioIndex(group);
    return index < 0 ? current : index;
}

void SettingsDialog::setRadioIndex(const std::vector<QRadioButton*>& group, int index) {
    for (std::size_t i = 0; i < group.size(); ++i) {
        // An exclusive button cannot be cleared directly; -1 leaves the whole group clear.
        group[i]->setAutoExclusive(false);
        group[i]->setChecked(static_cast<int>(i) == index);
        group[i]->setAutoExclusive(true);
    }
}

void SettingsDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        initialise();
    }
    QDialog::showEvent(event);
}

void SettingsDialog::addTip(QWidget* control, int stringId) {
    m_tips->addTip(control, stringId);
}

void SettingsDialog::spaceRadioRows() {
    const QFontMetrics metrics(font());
    // Room after a button's text: a space, so that "なし" and the next button do not read as
    // one pair. No button comes nearer its group's frame than a character.
    const int gap =
        std::max(metrics.horizontalAdvance(QLatin1Char(' ')), metrics.averageCharWidth());
    const int margin = metrics.averageCharWidth();
    for (const auto& group : m_radioGroups) {
        std::map<int, std::vector<QRadioButton*>> rows;
        for (QRadioButton* radio : group)
            rows[radio->y()].push_back(radio);
        for (auto& [top, row] : rows) {
            if (row.size() < 2)
                continue;
            std::sort(row.begin(), row.end(),
                      [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
            const std::size_t n = row.size();
            std::vector<int> x(n);
            // Each button where its template puts it, or further right where the one before
            // needs the room; all moved left together by `shift`.
            const auto placeFrom = [&](int shift) {
                for (std::size_t i = 0; i < n; ++i) {
                    x[i] = row[i]->x() - shift;
                    if (i > 0)
                        x[i] = std::max(x[i], x[i - 1] + neededWidth(row[i - 1]) + gap);
                }
                return x[n - 1] + neededWidth(row[n - 1]) -
                       (row[0]->parentWidget()->width() - margin);
            };
            if (const int overflow = placeFrom(0); overflow > 0)
                placeFrom(std::clamp(overflow, 0, row[0]->x() - margin));
            for (std::size_t i = 0; i < n; ++i) {
                const int room =
                    i + 1 < n ? x[i + 1] - x[i] : row[i]->parentWidget()->width() - x[i];
                row[i]->setGeometry(x[i], top, std::min(row[i]->width(), room), row[i]->height());
            }
        }
    }
}

void SettingsDialog::initialise() {
    spaceRadioRows();
    m_tips->start(this, 250, 5000, 200);
    registerTips();
    addTip(m_buttons[0], 33024);
    addTip(m_buttons[2], 33025);
    addTip(m_buttons[1], 33026);
    addTip(m_buttons[3], 33027);
    updateDependents();
    fieldsToControls();
}

void SettingsDialog::accept() {
    if (!controlsToFields() || !fieldsAcceptable())
        return;
    QDialog::accept();
}

void SettingsDialog::onDefault() {
    setDefaults();
    updateDependents();
    fieldsToControls();
}

} // namespace skiro
