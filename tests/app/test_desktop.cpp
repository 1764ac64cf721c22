#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <fstream>
#include <gtest/gtest.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/Placement.h"
#include "display/CMarelView.h"
#include "display/FirstScreenHint.h"
#include "tests/serial/PtyPair.h"

namespace {

using namespace skiro;

CMarelView* viewOf(CMarelApp& app) {
    return static_cast<CMarelView*>(app.frame()->centralWidget());
}

// Pixels of `colour` in what the view shows, its children included.
int pixelsOf(QWidget* view, QColor colour) {
    const QImage image = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += QColor(image.pixel(x, y)) == colour;
    return count;
}

// The texts of the message boxes that come up while `act` runs and until `until` holds; each
// box is closed as soon as it is read.
QStringList messagesDuring(const std::function<void()>& act,
                           const std::function<bool(const QStringList&)>& until) {
    QStringList texts;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->text();
            box->close();
        }
    });
    reader.start(20);
    act();
    // The caller checks what was read; a wait that ran out shows there.
    (void)QTest::qWaitFor([&] { return until(texts); }, 10000);
    return texts;
}

// An opener in place of xdg-open: writes its process id and the page it was given to files and
// ends with `status`.
QString fakeOpener(const QTemporaryDir& folder, int status) {
    const QString path = folder.filePath(QStringLiteral("opener-%1").arg(status));
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write(QStringLiteral("#!/bin/sh\nprintf '%s' $$ > \"$0.pid\"\n"
                                "printf '%s' \"$1\" > \"$0.page\"\nexit %1\n")
                     .arg(status)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(FirstScreen, TheHintShowsInTheViewsColoursUntilTextArrives) {
    struct Case {
        const char* name;
        QColor text, back;
    };
    const Case cases[] = {{"default white on blue", Qt::white, Qt::blue},
                          {"black on yellow", Qt::black, Qt::yellow}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        {
            std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
            ini << "[Color]\r\nText=" << c.text.red() << ',' << c.text.green() << ','
                << c.text.blue() << "\r\nBack=" << c.back.red() << ',' << c.back.green() << ','
                << c.back.blue() << "\r\n";
        }
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        CMarelView* view = viewOf(app);
        ASSERT_NE(view->firstScreenHint(), nullptr);
        EXPECT_TRUE(view->firstScreenHint()->isVisible());
        // Text in the text colour over the view's own background.
        EXPECT_GT(pixelsOf(view, c.text), 500);
        EXPECT_GT(pixelsOf(view, c.back), view->width() * view->height() / 2);

        // Text from another program: the hint goes at once, before the text has moved in.
        view->receiveText("\x93\xfa");
        EXPECT_EQ(view->firstScreenHint(), nullptr);
        QApplication::processEvents();
        EXPECT_EQ(view->findChild<FirstScreenHint*>(), nullptr);
        app.frame()->close();
    }
}

TEST(FirstScreen, StartTakesTheHintAwayAndAFailedStartLeavesIt) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir folder;
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << folder.filePath("no-such-device").toStdString() << "\r\n";
    }
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    CMarelView* view = viewOf(app);

    // The port is not there: the message says so, and the hint still says how to choose one.
    const QStringList messages =
        messagesDuring([&] { app.frame()->action(ID_START)->trigger(); },
                       [](const QStringList& texts) { return !texts.empty(); });
    ASSERT_EQ(messages.size(), 1);
    EXPECT_NE(view->firstScreenHint(), nullptr);

    // Start reads the port's device from the profile as it is now: the port is there this time.
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
    }
    app.frame()->action(ID_START)->trigger();
    ASSERT_TRUE(app.document()->session().isOpen());
    EXPECT_EQ(view->firstScreenHint(), nullptr);
    app.frame()->close();
}

// Where the profile and the logs go: beside a portable copy, in the user's folders for an
// installed program even where the user may write beside it (root and /usr/bin).
TEST(InstalledProgram, KeepsItsProfileAndLogsInTheUsersFolders) {
    QStandardPaths::setTestModeEnabled(true);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    struct Case {
        const char* name;
        const char* helpFolder; // where the help pages are laid out under the prefix
        bool inUsersFolders;
    };
    const Case cases[] = {
        {"portable copy: help pages beside the program", "bin/help", false},
        {"a folder with the program alone", "", false},
        {"installed: help pages under the prefix", "share/skiro/help", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir prefix;
        QDir(prefix.path()).mkpath("bin");
        if (*c.helpFolder)
            QDir(prefix.path()).mkpath(c.helpFolder);
        const AppPaths paths = settlePaths(prefix.filePath("bin"), "skiro");
        const QString profile = QString::fromStdString(paths.profileFile);
        const QString logs = QString::fromStdString(paths.logFolder);
        if (c.inUsersFolders) {
            EXPECT_EQ(profile, config + "/skiro.ini");
            EXPECT_EQ(logs, data + "/");
        } else {
            EXPECT_EQ(profile, prefix.filePath("bin/skiro.ini"));
            EXPECT_EQ(logs, prefix.filePath("bin/"));
        }
    }
    QStandardPaths::setTestModeEnabled(false);
}

// Full screen shows the text alone: no menu bar, no mouse pointer over the picture. Leaving it
// brings both back as the settings have them.
TEST(FullScreen, F11AndTheMenuItemToggleItAndEscapeLeaves) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    CMainFrame* frame = app.frame();
    QWidget* view = frame->centralWidget();
    QAction* item = frame->action(ID_FULL_SCREEN);
    ASSERT_NE(item, nullptr);
    struct Case {
        const char* name;
        bool maximized;     // before full screen
        bool menuBarHidden; // by the settings
        std::function<void()> enter, leave;
    };
    const Case cases[] = {
        {"F11, then Escape, from a normal window", false, false,
         [&] { QTest::keyClick(view, Qt::Key_F11); },
         [&] { QTest::keyClick(view, Qt::Key_Escape); }},
        {"the menu item twice, from a maximized window", true, false, [&] { item->trigger(); },
         [&] { item->trigger(); }},
        {"F11 twice, from a maximized window without the menu bar", true, true,
         [&] { QTest::keyClick(frame, Qt::Key_F11); },
         [&] { QTest::keyClick(frame, Qt::Key_F11); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.maximized)
            frame->showMaximized();
        else
            frame->showNormal();
        frame->hideMenuBar(c.menuBarHidden);
        QApplication::processEvents();
        c.enter();
        EXPECT_TRUE(QTest::qWaitFor([&] { return frame->isFullScreen(); }));
        EXPECT_TRUE(item->isChecked());
        // What the window system is asked for (the offscreen platform does not resize).
        EXPECT_TRUE(frame->windowHandle()->windowStates() & Qt::WindowFullScreen);
        EXPECT_FALSE(frame->menuBar()->isVisible());
        EXPECT_EQ(view->cursor().shape(), Qt::BlankCursor);
        // The settings applied again while in full screen (OK in その他) leave the picture bare.
        frame->hideMenuBar(c.menuBarHidden);
        EXPECT_FALSE(frame->menuBar()->isVisible());
        c.leave();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->isFullScreen(); }));
        EXPECT_FALSE(item->isChecked());
        EXPECT_EQ(frame->isMaximized(), c.maximized);
        EXPECT_EQ(frame->menuBar()->isVisible(), !c.menuBarHidden);
        EXPECT_NE(view->cursor().shape(), Qt::BlankCursor);
    }
    frame->hideMenuBar(false);
    // Out of full screen, Escape is a typed character again: with local echo it is shown.
    app.document()->settings().LocalEcho = true;
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(frame->isFullScreen(), false);
    EXPECT_EQ(viewOf(app)->firstScreenHint(), nullptr);
    frame->close();
}

TEST(FullScreen, ClosedInFullScreenTheWindowComesBackAsItWasBefore) {
    struct Case {
        const char* name;
        bool maximized;
        unsigned flags, showCmd;
    };
    const Case cases[] = {{"from a normal window", false, 0, 1},
                          {"from a maximized window", true, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        {
            std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
            ini << "[SKIRO]\r\nWindow=0," << (c.maximized ? 3 : 1)
                << ",-1,-1,-1,-1,100,100,740,580\r\n";
        }
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        app.frame()->action(ID_FULL_SCREEN)->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return app.frame()->isFullScreen(); }));
        app.frame()->close();

        const auto stored =
            parsePlacement(app.document()->profile().readText("SKIRO", "Window", ""));
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->flags, c.flags);
        EXPECT_EQ(stored->showCmd, c.showCmd);
        EXPECT_EQ(stored->left, 100);
        EXPECT_EQ(stored->top, 100);
        EXPECT_EQ(stored->right, 740);
        EXPECT_EQ(stored->bottom, 580);
    }
}

TEST(HelpFailure, WhenAPageCannotBeShownTheMessageSaysWhyAndWhereItIs) {
    QTemporaryDir openers;
    struct Case {
        const char* name;
        bool pages;     // whether the help pages are there
        QString opener; // what runs in place of xdg-open
        const char* why;
    };
    const Case cases[] = {
        {"no help pages", false, fakeOpener(openers, 0), "ヘルプのページが見つかりません。"},
        {"no browser to open them", true, fakeOpener(openers, 3),
         "ページを開くブラウザーが見つかりません。"},
        {"the browser failed", true, fakeOpener(openers, 4),
         "ブラウザーがページを開けませんでした。"},
        {"no xdg-open", true, openers.filePath("missing"), "を実行できません。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        if (c.pages) {
            QDir(folder.path()).mkpath("help");
            QFile(folder.filePath("help/5050.html")).open(QIODevice::WriteOnly);
        }
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        app.helpBrowser().setOpener(c.opener);
        const QStringList messages =
            messagesDuring([&] { app.frame()->action(ID_HELP_INDEX)->trigger(); },
                           [](const QStringList& texts) { return !texts.empty(); });
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(app.texts().helpFailed)) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QString::fromUtf8(c.why))) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(app.helpPage(5050))) << messages[0].toStdString();
        app.frame()->close();
    }

    // A browser that shows the page: no message, and it was given the page itself.
    QTemporaryDir folder;
    QDir(folder.path()).mkpath("help");
    QFile(folder.filePath("help/5050.html")).open(QIODevice::WriteOnly);
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    const QString opener = fakeOpener(openers, 0);
    app.helpBrowser().setOpener(opener);
    QFile::remove(opener + ".page");
    // A failure would be reported as the opener ends: the program has seen it end once the
    // system no longer holds the process (the program reaps it where it reports its end).
    const auto openerEnded = [&] {
        QFile pid(opener + ".pid");
        return QFile::exists(opener + ".page") && pid.open(QIODevice::ReadOnly) &&
               !QFileInfo::exists(QStringLiteral("/proc/%1").arg(QString::fromUtf8(pid.readAll())));
    };
    const QStringList messages =
        messagesDuring([&] { app.frame()->action(ID_HELP_INDEX)->trigger(); },
                       [&](const QStringList&) { return openerEnded(); });
    ASSERT_TRUE(openerEnded());
    QApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty());
    QFile page(opener + ".page");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(page.readAll()), app.helpPage(5050));
    app.frame()->close();
}

} // namespace
