// The view's mouse, keyboard and commands: typed characters, the window drag, the right-button
// popup and the font, colour and scroll commands.
#include "display/CMarelView.h"

#include <QAction>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QWindow>

#include "core/SettingsPages.h"
#include "display/FontChooser.h"
#include "display/HelpKey.h"
#include "display/QtTextSurface.h"
#include "sjis/Sjis.h"

namespace skiro {

namespace {

// Whether only the window system can move a window: Wayland ignores a program's own moves.
// Elsewhere the view moves the frame itself, which follows the mouse exactly from the first
// step (a window manager's move starts only where the mouse is when it takes over).
constexpr int kFontChooserHelp = 28678;
constexpr int kColourChooserHelp = 28679;

bool windowSystemMoves() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QColor toQColor(Colour c) {
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Typed characters

void CMarelView::typeByte(char byte) {
    if (byte == '\t') {
        updateView();
        return;
    }
    // Ctrl+@ and Ctrl+Space type a NUL: as a one-byte text that is empty, it goes nowhere.
    if (byte == '\0')
        return;
    const std::string_view one(&byte, 1);
    if (m_settings.LocalEcho) {
        receiveText(one);
    } else if (!m_settings.EchoBack) {
        const SendResult sent = m_intake.sendText(one);
        if (!sent.ok())
            emit sendFailed(fromSjis(sent.message));
    }
    // Echo-back without local echo: the far end shows what it sent, so a typed byte would only
    // confuse it; it goes nowhere.
}

void CMarelView::typeText(const QString& text) {
    // Each byte on its own, the two bytes of a double-byte character one after the other, as
    // a keyboard delivers them one character message at a time.
    for (char byte : toSjis(text))
        typeByte(byte);
}

bool CMarelView::isCommandKey(const QKeyEvent* event) const {
    // The window's accelerators, and the view's own: an enabled one never gets here (its
    // command ran instead), a greyed one does, and its control character must not reach the
    // line (Ctrl+S while started is XOFF, which can stop the captioner's sending system). The
    // same key with Shift counts too: it types the same character.
    const QKeyCombination pressed = event->keyCombination();
    const QKeyCombination unshifted(pressed.keyboardModifiers() & ~Qt::ShiftModifier,
                                    pressed.key());
    QList<QAction*> actions = this->actions();
    if (QWidget* frame = window(); frame && frame != this)
        actions += frame->actions();
    for (const QAction* action : std::as_const(actions)) {
        for (const QKeySequence& key : action->shortcuts()) {
            if (key.count() == 1 && (key[0] == pressed || key[0] == unshifted))
                return true;
        }
    }
    return false;
}

void CMarelView::keyPressEvent(QKeyEvent* event) {
    // Alt combinations are the menus' and the window's, not typed characters; the Delete key
    // is an editing key, which X11 alone gives a character (DEL); an accelerator's key is a
    // command, whether or not the command may run now.
    if (event->text().isEmpty() || (event->modifiers() & Qt::AltModifier) ||
        event->key() == Qt::Key_Delete || isCommandKey(event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    typeText(event->text());
    event->accept();
}

void CMarelView::inputMethodEvent(QInputMethodEvent* event) {
    // Only committed text counts; the text being composed is the input method's to show.
    if (!event->commitString().isEmpty())
        typeText(event->commitString());
    event->accept();
}

QVariant CMarelView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle: {
        // The composition window opens at the edge where new text enters.
        const int h = m_surface ? m_surface->fontHeight() : 16;
        return m_settings.Direction == 1 ? QRect(0, 0, h, h) : QRect(0, height() - h, h, h);
    }
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText);
    default:
        return QWidget::inputMethodQuery(query);
    }
}

bool CMarelView::focusNextPrevChild(bool) {
    return false;
}

// ---------------------------------------------------------------------------------------------
// Mouse: window drag, popup, redraw

void CMarelView::mousePressEvent(QMouseEvent* event) {
    QWidget* frame = window();
    if (event->button() == Qt::LeftButton && frame && !frame->isMaximized() &&
        !frame->isFullScreen()) {
        m_dragOrigin = event->globalPosition().toPoint();
        m_systemMoveAsked = false;
    } else if (event->button() == Qt::RightButton && m_contextMenu) {
        m_contextMenu->popup(event->globalPosition().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void CMarelView::mouseMoveEvent(QMouseEvent* event) {
    // A release the view never saw (the mouse let go elsewhere) ends the drag.
    if (m_dragOrigin && !(event->buttons() & Qt::LeftButton))
        endDrag();
    if (m_dragOrigin && !m_systemMoveAsked && windowSystemMoves()) {
        // Asked only once the mouse moves, so that clicks and double clicks on the text stay
        // the view's: the compositor holds the mouse until the button is let go.
        m_systemMoveAsked = true;
        QWindow* handle = window()->windowHandle();
        if (handle && handle->startSystemMove()) {
            m_dragOrigin.reset();
            return;
        }
    }
    if (m_dragOrigin)
        dragStep(event->globalPosition().toPoint());
    QWidget::mouseMoveEvent(event);
}

void CMarelView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_dragOrigin && event->button() == Qt::LeftButton) {
        dragStep(event->globalPosition().toPoint());
        endDrag();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CMarelView::dragStep(const QPoint& global) {
    const QPoint moved = global - *m_dragOrigin;
    if (moved.isNull())
        return;
    // By the distance moved, not to where the mouse is: the grip stays where it was taken.
    QWidget* frame = window();
    frame->move(frame->pos() + moved);
    m_dragOrigin = global;
}

void CMarelView::endDrag() {
    m_dragOrigin.reset();
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void CMarelView::mouseDoubleClickEvent(QMouseEvent* event) {
    updateView();
    QWidget::mouseDoubleClickEvent(event);
}

void CMarelView::contextMenuEvent(QContextMenuEvent* event) {
    // The mouse's popup opened at the button press. The keyboard's menu key opens it here: with
    // the menu bar hidden and Alt+Space kept by the desktop, it is the keyboard's way back to
    // the commands. Either way the frame must not add a menu of its own.
    if (event->reason() == QContextMenuEvent::Keyboard && m_contextMenu)
        m_contextMenu->popup(event->globalPos());
    event->accept();
}

void CMarelView::buildContextMenu() {
    auto* frame = qobject_cast<QMainWindow*>(window());
    if (!frame || !frame->menuBar())
        return;
    m_contextMenu = new QMenu(this);
    bool first = true;
    for (QAction* top : frame->menuBar()->actions()) {
        QMenu* dropDown = top->menu();
        if (!dropDown)
            continue;
        if (!first)
            m_contextMenu->addSeparator();
        first = false;
        // The menu bar's own actions: same command, same text and accelerator, same enabled
        // state, and triggering one runs the command exactly as the menu bar does.
        for (QAction* item : dropDown->actions())
            if (!item->isSeparator())
                m_contextMenu->addAction(item);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void CMarelView::chooseFont() {
    const int dpi = logicalDpiX();
    FontChooser chooser(m_settings.Font, dpi, fromSjis(m_strings.text(IDS_FONT_NAME_UNUSABLE)),
                        this);
    if (m_chooserHelp)
        new HelpKey(chooser, [this] { m_chooserHelp(kFontChooserHelp); });
    if (chooser.exec() == QDialog::Accepted) {
        if (const auto chosen = chooser.chosen(m_settings.Font)) {
            m_settings.Font = *chosen;
            m_surface.reset();
        }
    }
    updateView();
}

void CMarelView::chooseTextColour() {
    chooseColour(m_settings.Color.Text, QStringLiteral("文字の色を選択"));
}

void CMarelView::chooseBackColour() {
    chooseColour(m_settings.Color.Back, QStringLiteral("背景の色を選択"));
}

void CMarelView::chooseColour(Colour& colour, const QString& title) {
    // Cancel gives an invalid colour: the setting stays and nothing is redrawn.
    QColorDialog chooser(toQColor(colour), this);
    // Qt's own title is the same for every colour; the operator is told which one this sets.
    chooser.setWindowTitle(title);
    if (m_chooserHelp)
        new HelpKey(chooser, [this] { m_chooserHelp(kColourChooserHelp); });
    if (chooser.exec() != QDialog::Accepted)
        return;
    const QColor chosen = chooser.selectedColor();
    colour = rgb(chosen.red(), chosen.green(), chosen.blue());
    updateView();
}

void CMarelView::scrollSettings(const std::function<bool(ScrollPage&)>& runDialog) {
    ScrollPage page = ScrollPage::fromSettings(m_settings);
    if (runDialog && runDialog(page)) {
        page.toSettings(m_settings);
        // The font's turn follows the direction, so it is made again.
        m_surface.reset();
        startScrollTimer(m_settings.Tick);
    }
    updateView();
}

} // namespace skiro
