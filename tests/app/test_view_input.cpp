#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "display/CMarelView.h"
#include "display/QtTextSurface.h"
#include "tests/serial/PtyPair.h"
#include "ui/CScrollDialog.h"

namespace {

using namespace skiro;

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// The whole program on a folder of its own, its COM1 a pseudo-terminal.
struct Program {
    test::PtyPair pty;
    QTemporaryDir folder;
    std::unique_ptr<CMarelApp> app;

    Program() {
        {
            std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
            ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
        }
        app = std::make_unique<CMarelApp>(folder.path(), "skiro");
        app->initInstance();
        settle();
    }
    CMainFrame& frame() { return *app->frame(); }
    CMarelView& view() { return *qobject_cast<CMarelView*>(frame().centralWidget()); }
    Settings& settings() { return app->document()->settings(); }
};

void pressKey(QWidget& to, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&to, &release);
}

void commitText(QWidget& to, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(&to, &commit);
}

// Typed characters against the two echo switches: shown as if received, sent down the line,
// or neither; TAB only redraws. Input-method text goes the same way as Shift-JIS bytes.
TEST(TypedCharacters, ShownSentOrNowhereByTheEchoSwitches) {
    const std::string nichi = "\x93\xfa"; // 日
    const struct {
        const char* name;
        int localEcho;
        int echoBack;
        bool tab;
        std::string shown;
        std::string sent;
    } cases[] = {
        {"no echo: sent as typed", 0, 0, false, "", "a" + nichi},
        {"local echo: shown, not sent", 1, 0, false, "a" + nichi, ""},
        {"local echo with echo-back: shown and echoed", 1, 1, false, "a" + nichi, "a" + nichi},
        {"echo-back alone: nowhere", 0, 1, false, "", ""},
        {"TAB without echo: not sent", 0, 0, true, "", ""},
        {"TAB with local echo and echo-back: neither shown nor echoed", 1, 1, true, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Program p;
        ASSERT_TRUE(p.pty.ok());
        p.frame().action(ID_START)->trigger();
        ASSERT_TRUE(p.app->document()->session().isOpen());
        p.settings().LocalEcho = c.localEcho;
        p.settings().EchoBack = c.echoBack;
        settle();
        const std::uint64_t paintedBefore = p.view().paintedPixels();

        if (c.tab) {
            pressKey(p.view(), Qt::Key_Tab, QStringLiteral("\t"));
        } else {
            pressKey(p.view(), Qt::Key_A, QStringLiteral("a"));
            commitText(p.view(), QStringLiteral("日"));
        }
        settle();

        EXPECT_EQ(p.view().intake().currentLine(), c.shown);
        EXPECT_EQ(p.pty.receive(c.sent.size()), c.sent);
        EXPECT_EQ(p.pty.receive(1, 200), "") << "nothing more goes down the line";
        if (c.tab) {
            const QSize size = p.view().size();
            EXPECT_GE(p.view().paintedPixels() - paintedBefore,
                      static_cast<std::uint64_t>(size.width()) * size.height())
                << "TAB redraws the whole view";
        }
        p.frame().close();
    }
}

// Keys of commands and the NUL keys, in either state of the session and with local echo off
// and on: none of them is typed. A greyed command's key reaches the view as a character
// (Ctrl+S while started is XOFF, Ctrl+C is 0x03, Ctrl+E while stopped is 0x05), and Ctrl+@ and
// Ctrl+Space type a NUL, an empty one-byte text.
TEST(TypedCharacters, CommandKeysAndNulKeysAreNeverTyped) {
    const struct {
        const char* name;
        bool started;
        int key;
        Qt::KeyboardModifiers modifiers;
        char character;
    } cases[] = {
        {"Ctrl+S while started (Start greyed)", true, Qt::Key_S, Qt::ControlModifier, 0x13},
        {"Ctrl+Shift+S while started", true, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier,
         0x13},
        {"Ctrl+C while started (serial settings greyed)", true, Qt::Key_C, Qt::ControlModifier,
         0x03},
        {"Ctrl+E while stopped (Stop greyed)", false, Qt::Key_E, Qt::ControlModifier, 0x05},
        {"Ctrl+@ while started", true, Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier, 0},
        {"Ctrl+@ while stopped", false, Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier, 0},
        {"Ctrl+Space while started", true, Qt::Key_Space, Qt::ControlModifier, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Program p;
        ASSERT_TRUE(p.pty.ok());
        if (c.started)
            p.frame().action(ID_START)->trigger();
        ASSERT_EQ(p.app->document()->session().isOpen(), c.started);
        for (int localEcho : {0, 1}) {
            SCOPED_TRACE(localEcho ? "local echo" : "no local echo");
            p.settings().LocalEcho = localEcho;
            const QString text(QChar(static_cast<ushort>(c.character)));
            QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, text);
            QCoreApplication::sendEvent(&p.view(), &press);
            QKeyEvent release(QEvent::KeyRelease, c.key, c.modifiers, text);
            QCoreApplication::sendEvent(&p.view(), &release);
            settle();
            EXPECT_EQ(p.view().intake().currentLine(), "") << "nothing shown";
            EXPECT_TRUE(p.view().intake().backlog().empty());
            EXPECT_EQ(p.pty.receive(1, 200), "") << "nothing sent";
            EXPECT_EQ(p.app->document()->session().isOpen(), c.started) << "no command ran";
        }
        p.frame().close();
    }
}

// The popup repeats the menu bar: one group per drop-down menu, the same commands in the same
// order, so a command added to a menu appears in the popup too.
TEST(ContextMenu, RepeatsTheMenuBarInGroups) {
    Program p;
    QMenu* popup = p.view().contextMenu();
    ASSERT_NE(popup, nullptr);

    std::vector<std::vector<QAction*>> groups(1);
    for (QAction* item : popup->actions()) {
        if (item->isSeparator())
            groups.emplace_back();
        else
            groups.back().push_back(item);
    }
    const QList<QAction*> menus = p.frame().menuBar()->actions();
    ASSERT_EQ(groups.size(), static_cast<std::size_t>(menus.size()));
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::vector<QAction*> expected;
        for (QAction* item : menus[static_cast<int>(g)]->menu()->actions())
            if (!item->isSeparator())
                expected.push_back(item);
        EXPECT_EQ(groups[g], expected) << "group " << g;
    }

    // The fourteen commands of the three menus, each in its group with its text and key.
    const std::vector<std::vector<int>> commands = {
        {ID_START, ID_STOP, ID_APP_EXIT},
        {ID_SERIAL, ID_FONT, ID_TEXT_COLOR, ID_BACK_COLOR, ID_OUTLINE, ID_SCROLL, ID_KINSOKU,
         ID_MISC},
        {ID_HELP_INDEX, ID_HELP_USING, ID_APP_ABOUT},
    };
    ASSERT_GE(groups.size(), commands.size());
    for (std::size_t g = 0; g < commands.size(); ++g) {
        std::size_t at = 0;
        for (int id : commands[g]) {
            QAction* act = p.frame().action(id);
            ASSERT_NE(act, nullptr);
            while (at < groups[g].size() && groups[g][at] != act)
                ++at;
            EXPECT_LT(at, groups[g].size()) << "command " << id << " in group " << g;
            const QString text = p.app->texts().items.at(id);
            EXPECT_EQ(act->text(), text.section(QLatin1Char('\t'), 0, 0));
            EXPECT_EQ(act->shortcut().toString(), text.section(QLatin1Char('\t'), 1));
        }
    }
    p.frame().close();
}

// Start from the popup, with the menu bar hidden, opens the port as Ctrl+S does; Stop closes it.
TEST(ContextMenu, StartFromThePopupStartsTheSession) {
    Program p;
    ASSERT_TRUE(p.pty.ok());
    p.frame().hideMenuBar(true);
    QMenu* popup = p.view().contextMenu();
    ASSERT_NE(popup, nullptr);
    auto item = [&](int id) {
        for (QAction* act : popup->actions())
            if (act == p.frame().action(id))
                return act;
        return static_cast<QAction*>(nullptr);
    };
    emit popup->aboutToShow();
    ASSERT_NE(item(ID_START), nullptr);
    ASSERT_TRUE(item(ID_START)->isEnabled());
    item(ID_START)->trigger();
    EXPECT_TRUE(p.app->document()->session().isOpen());
    emit popup->aboutToShow();
    EXPECT_FALSE(item(ID_START)->isEnabled()) << "the popup shows the menu bar's states";
    item(ID_STOP)->trigger();
    EXPECT_FALSE(p.app->document()->session().isOpen());
    p.frame().close();
}

// The keyboard's menu key opens the popup too, with the menu bar hidden; a mouse's context
// event does not open it a second time (the button press did).
TEST(ContextMenu, MenuKeyOpensThePopup) {
    Program p;
    p.frame().hideMenuBar(true);
    p.frame().show();
    QMenu* popup = p.view().contextMenu();
    ASSERT_NE(popup, nullptr);
    const QPoint at = p.view().mapToGlobal(QPoint(20, 20));
    QContextMenuEvent byMouse(QContextMenuEvent::Mouse, QPoint(20, 20), at);
    QCoreApplication::sendEvent(&p.view(), &byMouse);
    EXPECT_FALSE(popup->isVisible());
    QContextMenuEvent byKey(QContextMenuEvent::Keyboard, QPoint(20, 20), at);
    QCoreApplication::sendEvent(&p.view(), &byKey);
    EXPECT_TRUE(popup->isVisible());
    popup->close();
    p.frame().close();
}

void mouse(QWidget& to, QEvent::Type type, QPoint global, Qt::MouseButton button,
           Qt::MouseButtons held) {
    const QPointF local = to.mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&to, &event);
}

// Dragging with the left button moves a normal window by exactly the mouse's movement; a
// maximized window stays where it is.
TEST(WindowDrag, NormalFrameFollowsTheMouseMaximizedDoesNot) {
    Program p;
    CMarelView& view = p.view();
    const QPoint start = view.mapToGlobal(QPoint(50, 40));
    const QPoint framePos = p.frame().pos();

    mouse(view, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, start + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(p.frame().pos(), framePos + QPoint(30, 20));
    // The view moved with the frame, so the mouse is over the same spot of it.
    mouse(view, QEvent::MouseMove, start + QPoint(-15, 60), Qt::NoButton, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, start + QPoint(-10, 65), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(p.frame().pos(), framePos + QPoint(-10, 65));
    // Without the button the mouse moves alone.
    mouse(view, QEvent::MouseMove, start + QPoint(100, 100), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(p.frame().pos(), framePos + QPoint(-10, 65));

    p.frame().showMaximized();
    settle();
    const QRect maximized = p.frame().geometry();
    const QPoint at = view.mapToGlobal(QPoint(50, 40));
    mouse(view, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, at + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, at + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(p.frame().geometry(), maximized);
    p.frame().close();
}

} // namespace

namespace {

// A double click on the text redraws everything and leaves the window where it is.
TEST(WindowDrag, DoubleClickRedrawsWithoutMoving) {
    Program p;
    CMarelView& view = p.view();
    const QPoint at = view.mapToGlobal(QPoint(60, 60));
    const QPoint framePos = p.frame().pos();
    const std::uint64_t painted = view.paintedPixels();
    mouse(view, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    mouse(view, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    settle();
    EXPECT_EQ(p.frame().pos(), framePos);
    EXPECT_GE(view.paintedPixels() - painted,
              static_cast<std::uint64_t>(view.width()) * view.height());
    p.frame().close();
}

} // namespace

namespace {

// Right-scroll chosen in the scroll dialog opened from the popup turns the running display.
TEST(ContextMenu, ScrollDialogFromThePopupTurnsTheDisplay) {
    Program p;
    ASSERT_FALSE(p.view().surface()->vertical());
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CScrollDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        for (QRadioButton* button : dialog->findChildren<QRadioButton*>())
            if (button->text().startsWith(QStringLiteral("右")))
                button->click();
        dialog->accept();
    });
    for (QAction* item : p.view().contextMenu()->actions())
        if (item == p.frame().action(ID_SCROLL))
            item->trigger();
    ASSERT_TRUE(seen);
    EXPECT_EQ(p.settings().Direction, 1);
    EXPECT_TRUE(p.view().surface()->vertical());
    p.frame().close();
}

} // namespace
