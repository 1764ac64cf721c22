#include "app/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QShortcut>
#include <QWindow>

#include "app/CMarelDoc.h"
#include "core/SettingsStore.h"
#include "sjis/Sjis.h"

namespace skiro {
namespace {

// Accelerators. They live on the window, not only in the menus, so they keep working while
// the menu bar is hidden.
const std::map<int, QKeySequence>& accelerators() {
    static const std::map<int, QKeySequence> keys = {
        {ID_START, QKeySequence(Qt::CTRL | Qt::Key_S)},
        {ID_STOP, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {ID_SERIAL, QKeySequence(Qt::CTRL | Qt::Key_C)},
        {ID_FONT, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {ID_TEXT_COLOR, QKeySequence(Qt::CTRL | Qt::Key_T)},
        {ID_BACK_COLOR, QKeySequence(Qt::CTRL | Qt::Key_B)},
        {ID_OUTLINE, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {ID_SCROLL, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {ID_KINSOKU, QKeySequence(Qt::CTRL | Qt::Key_K)},
        {ID_MISC, QKeySequence(Qt::CTRL | Qt::Key_M)},
        {ID_WEB, QKeySequence(Qt::CTRL | Qt::Key_W)},
        {ID_FULL_SCREEN, QKeySequence(Qt::Key_F11)},
        {ID_HELP, QKeySequence(Qt::Key_F1)},
        {ID_CONTEXT_HELP, QKeySequence(Qt::SHIFT | Qt::Key_F1)},
    };
    return keys;
}

// The menu text without its "\t" accelerator part: Qt draws the shortcut column itself.
QString itemLabel(const QString& text) {
    return text.section(QLatin1Char('\t'), 0, 0);
}

} // namespace

CMainFrame::CMainFrame(CMarelDoc& doc, const UiTexts& texts, Handlers handlers)
    : m_doc(doc), m_texts(texts), m_handlers(std::move(handlers)) {
    setWindowTitle(m_texts.appTitle);
    buildMenus();
    auto* windowMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(windowMenuKey, &QShortcut::activated, this, &CMainFrame::showWindowMenu);
    updateCommandStates();
    // F1 on a highlighted menu item and the clicks of the help mode reach the menus before
    // they act, whichever menu is open (menu bar, Alt+Space menu or the view's popup).
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive)
            leaveHelpMode();
    });
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    leaveHelpMode();
}

void CMainFrame::buildMenus() {
    const auto makeAction = [this](int id) {
        auto* act = new QAction(this);
        act->setData(id); // the command a menu item stands for, also for help on it
        const auto text = m_texts.items.find(id);
        if (text != m_texts.items.end())
            act->setText(itemLabel(text->second));
        const auto key = accelerators().find(id);
        if (key != accelerators().end()) {
            act->setShortcut(key->second);
            act->setShortcutContext(Qt::WindowShortcut);
        }
        connect(act, &QAction::triggered, this, [this, id] { runCommand(id); });
        addAction(act); // reachable by its accelerator even with the menu bar hidden
        m_actions[id] = act;
        return act;
    };

    m_runMenu = menuBar()->addMenu(m_texts.popupRun);
    m_runMenu->addAction(makeAction(ID_START));
    m_runMenu->addAction(makeAction(ID_STOP));
    m_runMenu->addSeparator();
    m_runMenu->addAction(makeAction(ID_FULL_SCREEN));
    action(ID_FULL_SCREEN)->setCheckable(true);
    m_runMenu->addSeparator();
    m_runMenu->addAction(makeAction(ID_APP_EXIT));

    m_settingsMenu = menuBar()->addMenu(m_texts.popupSettings);
    for (int id : {ID_SERIAL, ID_FONT, ID_TEXT_COLOR, ID_BACK_COLOR, ID_OUTLINE, ID_SCROLL,
                   ID_KINSOKU, ID_MISC, ID_WEB, ID_RELAY})
        m_settingsMenu->addAction(makeAction(id));

    m_helpMenu = menuBar()->addMenu(m_texts.popupHelp);
    m_helpMenu->addAction(makeAction(ID_HELP_INDEX));
    m_helpMenu->addAction(makeAction(ID_HELP_USING));
    m_helpMenu->addSeparator();
    m_helpMenu->addAction(makeAction(ID_APP_ABOUT));
    makeAction(ID_HELP);
    makeAction(ID_CONTEXT_HELP);

    for (QMenu* menu : {m_runMenu, m_settingsMenu, m_helpMenu})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);

    // The window menu shares the three popups with the menu bar, so both always show the same
    // enabled states.
    m_windowMenu = new QMenu(this);
    m_windowMenu->addAction(itemLabel(m_texts.restore), this, [this] { showNormal(); });
    m_windowMenu->addAction(itemLabel(m_texts.move), this, [this] {
        if (QWindow* w = windowHandle())
            w->startSystemMove();
    });
    m_windowMenu->addAction(itemLabel(m_texts.size), this, [this] {
        if (QWindow* w = windowHandle())
            w->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
    });
    m_windowMenu->addAction(itemLabel(m_texts.minimize), this, [this] { showMinimized(); });
    m_windowMenu->addAction(itemLabel(m_texts.maximize), this, [this] { showMaximized(); });
    m_windowMenu->addSeparator();
    QAction* closeItem =
        m_windowMenu->addAction(itemLabel(m_texts.close), this, [this] { close(); });
    closeItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    m_windowMenu->addSeparator();
    m_windowMenu->addMenu(m_runMenu);
    m_windowMenu->addMenu(m_settingsMenu);
    m_windowMenu->addMenu(m_helpMenu);
    connect(m_windowMenu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::setView(QWidget* view) {
    setCentralWidget(view);
}

QAction* CMainFrame::action(int commandId) const {
    const auto found = m_actions.find(commandId);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::updateCommandStates() {
    for (auto& [id, act] : m_actions)
        act->setEnabled(!m_handlers.enabled || m_handlers.enabled(id));
}

void CMainFrame::runCommand(int id) {
    // In the help mode a command chosen from a menu or by its accelerator opens its help and
    // does not run; the help-mode key itself enters the mode.
    if (m_helpMode) {
        leaveHelpMode();
        requestHelp(0x10000 + static_cast<std::uint32_t>(id));
        return;
    }
    if (id == ID_CONTEXT_HELP) {
        enterHelpMode();
        return;
    }
    if (id == ID_APP_EXIT) {
        close();
        return;
    }
    if (id == ID_FULL_SCREEN) {
        toggleFullScreen();
        return;
    }
    // A command runs only while it is enabled, also when it comes by accelerator.
    if (m_handlers.enabled && !m_handlers.enabled(id))
        return;
    if (m_handlers.command)
        m_handlers.command(id);
    updateCommandStates();
}

void CMainFrame::requestHelp(std::uint32_t context) {
    if (m_handlers.help)
        m_handlers.help(context);
}

void CMainFrame::enterHelpMode() {
    if (m_helpMode)
        return;
    m_helpMode = true;
    QGuiApplication::setOverrideCursor(Qt::WhatsThisCursor);
}

void CMainFrame::leaveHelpMode() {
    if (!m_helpMode)
        return;
    m_helpMode = false;
    QGuiApplication::restoreOverrideCursor();
}

void CMainFrame::helpOnMenuItem(const QAction* item) {
    // An item that opens a submenu, or none highlighted, stands for no command: the general page.
    // Items of menus built elsewhere (copies of these menus) are known by their text.
    int id = 0;
    if (item && !item->menu()) {
        bool isCommand = false;
        id = item->data().toInt(&isCommand);
        for (auto it = m_actions.begin(); !isCommand && it != m_actions.end(); ++it) {
            isCommand = it->second->text() == itemLabel(item->text());
            id = isCommand ? it->first : 0;
        }
    }
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    leaveHelpMode();
    requestHelp(0x10000 + static_cast<std::uint32_t>(id));
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (auto* menu = qobject_cast<QMenu*>(watched);
            menu && key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
            // Menus do not highlight greyed items; the item under the mouse stands for them.
            const QAction* item = menu->activeAction();
            if (!item)
                item = menu->actionAt(menu->mapFromGlobal(QCursor::pos()));
            helpOnMenuItem(item);
            return true;
        }
        if (m_helpMode && key->key() == Qt::Key_Escape && !QApplication::activePopupWidget()) {
            leaveHelpMode();
            return true;
        }
        // Escape leaves full screen, in place of going down the line as a typed character;
        // in a menu or a dialog it keeps its own meaning.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (isFullScreen() && key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            widget && widget->window() == this && !QApplication::activePopupWidget()) {
            leaveFullScreen();
            return true;
        }
        return false;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    if (type == QEvent::MouseButtonRelease && m_swallowRelease) {
        m_swallowRelease = false;
        return true;
    }
    if (!m_helpMode)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (auto* menu = qobject_cast<QMenu*>(widget)) {
        // Items are picked where a menu would run them, on the release; greyed items too, so
        // that their help can be read while they cannot run. Submenus open as usual.
        const QAction* item = menu->actionAt(mouse->position().toPoint());
        if (!item || item->isSeparator() || item->menu())
            return false;
        if (type == QEvent::MouseButtonRelease)
            helpOnMenuItem(item);
        return true;
    }
    // The menu bar opens its menus so that an item can be picked from them.
    if (type == QEvent::MouseButtonRelease || qobject_cast<QMenuBar*>(widget) ||
        widget->window() != this)
        return false;
    m_swallowRelease = true;
    leaveHelpMode();
    if (mouse->button() == Qt::LeftButton)
        requestHelp(kFrameHelpContext);
    return true;
}

void CMainFrame::showWindowMenu() {
    const QPoint corner =
        isFullScreen() || m_titleHidden ? geometry().topLeft() : frameGeometry().topLeft();
    m_windowMenu->popup(corner);
}

void CMainFrame::applyWindowFlags() {
    // X11 window managers draw the title bar and the frame as one decoration: a window can
    // lose both or neither. Hiding the title bar therefore takes the frame with it; hiding the
    // frame alone keeps the decoration, which the README tells the user.
    Qt::WindowFlags flags = Qt::Window;
    if (m_titleHidden)
        flags |= Qt::FramelessWindowHint;
    if (flags == windowFlags())
        return;
    // The flags of a shown window are changed in place (the window manager re-reads them), so
    // the window is neither unmapped nor placed anew: it stays exactly where it is.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
}

void CMainFrame::hideTitleBar(bool hide) {
    m_titleHidden = hide;
    applyWindowFlags();
}

void CMainFrame::hideMenuBar(bool hide) {
    m_menuBarHidden = hide;
    showFullScreenDecorations();
}

void CMainFrame::showFullScreenDecorations() {
    // On the projector only the text stays: full screen takes the menu bar away, and the mouse
    // pointer over the picture, whatever the other settings say; leaving it brings back what
    // they say. The pointer is the window's own, so a menu or a dialog opened in full screen
    // still shows it.
    const bool fullScreen = isFullScreen();
    menuBar()->setVisible(!(m_menuBarHidden || fullScreen));
    if (fullScreen)
        setCursor(Qt::BlankCursor);
    else
        unsetCursor();
}

void CMainFrame::hideWindowFrame(bool hide) {
    m_frameHidden = hide;
    applyWindowFlags();
}

void CMainFrame::hideMouseCursor(bool hide) {
    const bool wasShown = m_cursorCount >= 0;
    // The display count: every hide lowers it until it is negative, every show raises it until
    // it is 0 or more, and each call changes it at least once.
    if (hide) {
        do {
            --m_cursorCount;
        } while (m_cursorCount >= 0);
    } else {
        do {
            ++m_cursorCount;
        } while (m_cursorCount < 0);
    }
    const bool shown = m_cursorCount >= 0;
    if (wasShown && !shown)
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
    else if (!wasShown && shown)
        QGuiApplication::restoreOverrideCursor();
}

void CMainFrame::toggleFullScreen() {
    if (isFullScreen()) {
        leaveFullScreen();
        return;
    }
    m_maximizedBeforeFullScreen = isMaximized();
    // The window system fills the screen the window is on.
    showFullScreen();
}

void CMainFrame::leaveFullScreen() {
    if (!isFullScreen())
        return;
    if (m_maximizedBeforeFullScreen)
        showMaximized();
    else
        showNormal();
}

void CMainFrame::changeEvent(QEvent* event) {
    // The screen saver stays off while this window is the active one.
    if (event->type() == QEvent::ActivationChange)
        m_screenSaver.setActive(isActiveWindow() && !m_closing);
    if (event->type() == QEvent::WindowStateChange && windowState() == Qt::WindowNoState)
        m_normalGeometry = geometry();
    // Whoever asked for full screen (F11, the menu, the window manager), the decorations follow.
    if (event->type() == QEvent::WindowStateChange)
        showFullScreenDecorations();
    if (QAction* fullScreen = action(ID_FULL_SCREEN);
        fullScreen && event->type() == QEvent::WindowStateChange)
        fullScreen->setChecked(isFullScreen());
    QMainWindow::changeEvent(event);
}

WindowPlacement CMainFrame::currentPlacement() const {
    WindowPlacement p;
    // A window minimized from the maximized state is not maximized at this moment: it is stored
    // as minimized and comes back minimized, restoring to its normal rectangle. A full-screen
    // window is stored as the window it leaves full screen to, and starts as that.
    const bool fullScreen = isFullScreen() && !isMinimized();
    const bool maximized =
        (fullScreen ? m_maximizedBeforeFullScreen : isMaximized()) && !isMinimized();
    p.flags = maximized ? WindowPlacement::kRestoreToMaximized : 0;
    p.showCmd = static_cast<unsigned>(isMinimized() ? ShowCommand::Minimized
                                      : maximized   ? ShowCommand::Maximized
                                                    : ShowCommand::Normal);
    QRect normal = (isMinimized() || maximized || fullScreen) ? normalGeometry() : geometry();
    if (!normal.isValid())
        normal = m_normalGeometry.isValid() ? m_normalGeometry : geometry();
    p.left = normal.left();
    p.top = normal.top();
    p.right = normal.left() + normal.width();
    p.bottom = normal.top() + normal.height();
    return p;
}

void CMainFrame::restorePlacement(ShowCommand startup) {
    Profile& profile = m_doc.profile();
    const std::string entry = profile.readText("SKIRO", "Window", "");
    unsigned show = static_cast<unsigned>(startup);
    bool restoreMaximized = false;
    if (!entry.empty()) {
        if (const auto stored = parsePlacement(entry)) {
            setGeometry(stored->left, stored->top, stored->right - stored->left,
                        stored->bottom - stored->top);
            m_normalGeometry = geometry();
            show = stored->showCmd;
            restoreMaximized = stored->flags & WindowPlacement::kRestoreToMaximized;
        }
    }
    applyWriteTime(profile, m_doc.settings());

    switch (static_cast<ShowCommand>(show)) {
    case ShowCommand::Minimized:
        setWindowState(restoreMaximized ? (Qt::WindowMinimized | Qt::WindowMaximized)
                                        : Qt::WindowMinimized);
        QMainWindow::show();
        break;
    case ShowCommand::Maximized:
        showMaximized();
        break;
    default:
        showNormal();
        break;
    }
}

bool CMainFrame::linkTerm() {
    QMessageBox::critical(this, m_texts.appTitle, fromSjis(m_doc.strings().text(IDS_TERM_FAILED)));
    return false;
}

bool CMainFrame::unlinkTerm() {
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    m_closing = true;
    m_screenSaver.setActive(false);
    // The placement is taken before the title bar comes back: the window manager places a
    // window that gets its decoration again asynchronously, and until it has, Qt does not know
    // where the window is. The stored rectangle is the window's inside, which the decoration
    // does not change.
    const WindowPlacement placement = currentPlacement();
    if (m_doc.settings().HideTitleBar)
        hideTitleBar(false);
    hideMouseCursor(false);

    Profile& profile = m_doc.profile();
    profile.writeText("SKIRO", "Version", kProfileVersion);
    profile.writeText("SKIRO", "Window", formatPlacement(placement));

    if (m_handlers.closeDocument)
        m_handlers.closeDocument();
    event->accept();
}

} // namespace skiro
