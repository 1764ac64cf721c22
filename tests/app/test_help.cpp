#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"

// Stands in for the desktop's browser: records the help pages the program opens.
class PageCatcher : public QObject {
    Q_OBJECT
  public:
    QStringList pages;
  public slots:
    void open(const QUrl& url) { pages << QFileInfo(url.toLocalFile()).fileName(); }
};

namespace {

using namespace skiro;

// The application in a folder of its own, with a help page for every topic so that every
// request has a page to open.
class HelpRig {
  public:
    HelpRig() : app(folder.path(), QStringLiteral("skiro")) {
        QDir(folder.path()).mkpath(QStringLiteral("help"));
        for (int topic = 5000; topic <= 5060; ++topic) {
            QFile page(folder.filePath(QStringLiteral("help/%1.html").arg(topic)));
            page.open(QIODevice::WriteOnly);
        }
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        app.initInstance();
        frame = app.frame();
        QApplication::processEvents();
    }
    ~HelpRig() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        frame->close();
    }

    QMenu* menu(int index) const { return frame->menuBar()->actions().at(index)->menu(); }
    // Opens a menu of the menu bar with an item highlighted as by the arrow keys, the mouse
    // resting elsewhere; or with the mouse resting on the item.
    QMenu* open(int index, int item, bool byMouse = false) const {
        QMenu* m = menu(index);
        m->popup(frame->mapToGlobal(QPoint(10, 10)));
        QApplication::processEvents();
        QAction* action = frame->action(item);
        if (byMouse) {
            QCursor::setPos(m->mapToGlobal(m->actionGeometry(action).center()));
        } else {
            QCursor::setPos(frame->mapToGlobal(QPoint(600, 400)));
            QApplication::processEvents(); // the menu hears the mouse leave before the keys
            m->setActiveAction(action);
        }
        QApplication::processEvents();
        return m;
    }
    std::string opened() const { return catcher.pages.join(QLatin1Char(',')).toStdString(); }

    QTemporaryDir folder;
    PageCatcher catcher;
    CMarelApp app;
    CMainFrame* frame = nullptr;
};

TEST(Help, F1OnAHighlightedMenuItemOpensThatCommandsPage) {
    struct Case {
        const char* name;
        int menu;
        int item;
        bool byMouse;
        const char* page;
    };
    const Case cases[] = {
        {"version item highlighted by the keyboard", 2, ID_APP_ABOUT, false, "5052.html"},
        {"greyed Stop item under the mouse", 0, ID_STOP, true, "5002.html"},
        {"outline item under the mouse", 1, ID_OUTLINE, true, "5023.html"},
        {"web view item highlighted by the keyboard", 1, ID_WEB, false, "5060.html"},
    };
    HelpRig rig;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.catcher.pages.clear();
        QMenu* menu = rig.open(c.menu, c.item, c.byMouse);
        QTest::keyClick(menu, Qt::Key_F1);
        EXPECT_EQ(rig.opened(), c.page);
        EXPECT_FALSE(menu->isVisible());
    }
    // A copy of a menu item made elsewhere, with its accelerator text, is known by its text.
    QMenu copy(rig.frame);
    QAction* outline = copy.addAction(rig.frame->action(ID_OUTLINE)->text() + "\tCtrl+O");
    copy.popup(rig.frame->mapToGlobal(QPoint(10, 10)));
    QApplication::processEvents();
    copy.setActiveAction(outline);
    rig.catcher.pages.clear();
    QTest::keyClick(&copy, Qt::Key_F1);
    EXPECT_EQ(rig.opened(), "5023.html");

    // F1 elsewhere: the general page.
    rig.catcher.pages.clear();
    rig.frame->action(ID_HELP)->trigger();
    EXPECT_EQ(rig.opened(), "5000.html");
}

TEST(Help, ShiftF1PicksTheTopicWithTheNextChoiceInsteadOfRunningIt) {
    HelpRig rig;
    QWidget* view = rig.frame->centralWidget();
    // A command that runs by mistake here would open its dialog; close it so the test fails
    // rather than hangs.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(500);

    struct Case {
        const char* name;
        std::function<void()> pick;
        const char* page; // empty: none
    };
    const Case cases[] = {
        {"click on the greyed Stop item",
         [&] {
             QMenu* menu = rig.open(0, ID_STOP, true);
             QTest::mouseClick(menu, Qt::LeftButton, {},
                               menu->actionGeometry(rig.frame->action(ID_STOP)).center());
         },
         "5002.html"},
        {"Return on the version item",
         [&] {
             QMenu* menu = rig.open(2, ID_APP_ABOUT);
             QTest::keyClick(menu, Qt::Key_Return);
         },
         "5052.html"},
        {"the Start accelerator",
         [&] { QTest::keyClick(rig.frame, Qt::Key_S, Qt::ControlModifier); }, "5001.html"},
        {"the web view accelerator",
         [&] { QTest::keyClick(rig.frame, Qt::Key_W, Qt::ControlModifier); }, "5060.html"},
        {"click on the window", [&] { QTest::mouseClick(view, Qt::LeftButton); }, "5000.html"},
        {"Escape leaves without a page", [&] { QTest::keyClick(rig.frame, Qt::Key_Escape); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.catcher.pages.clear();
        rig.frame->action(ID_CONTEXT_HELP)->trigger();
        ASSERT_TRUE(rig.frame->inHelpMode());
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WhatsThisCursor);
        c.pick();
        QApplication::processEvents();
        EXPECT_EQ(rig.opened(), c.page);
        EXPECT_FALSE(rig.frame->inHelpMode());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    // Out of the mode, a click on the window is a click again.
    rig.catcher.pages.clear();
    QTest::mouseClick(view, Qt::LeftButton);
    EXPECT_EQ(rig.opened(), "");
    EXPECT_FALSE(rig.app.document()->session().isOpen());
}

// F1 in the font and colour choosers and in the web view's dialog opens their pages, whatever
// control has the focus, and leaves the dialog open.
TEST(Help, F1InTheChoosersAndTheWebDialogOpensTheirPages) {
    HelpRig rig;
    const struct {
        int command;
        const char* page;
    } cases[] = {{ID_FONT, "5014.html"},
                 {ID_TEXT_COLOR, "5020.html"},
                 {ID_BACK_COLOR, "5020.html"},
                 {ID_WEB, "5060.html"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        rig.catcher.pages.clear();
        bool stayedOpen = false;
        QTimer::singleShot(0, [&] {
            QWidget* chooser = QApplication::activeModalWidget();
            ASSERT_NE(chooser, nullptr);
            QWidget* focused = chooser->focusWidget() ? chooser->focusWidget() : chooser;
            QTest::keyClick(focused, Qt::Key_F1);
            stayedOpen = chooser->isVisible();
            QTest::keyClick(chooser, Qt::Key_Escape);
        });
        rig.frame->action(c.command)->trigger();
        EXPECT_TRUE(stayedOpen);
        EXPECT_EQ(rig.opened(), c.page);
    }
}

} // namespace

#include "test_help.moc"
