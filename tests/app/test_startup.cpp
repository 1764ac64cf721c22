#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/Profile.h"

namespace {

using namespace skiro;

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
}

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

const std::string kCraftedProfile = "[Serial]\r\nParity=5\r\nStopBit=3\r\nEchoBack=0\r\n"
                                    "TxCrConv=0\r\nCOM1=/dev/pts/99\r\n"
                                    "[Scroll]\r\nDirection=2\r\n"
                                    "[SKIRO]\r\nWindow=0,1,-1,-1,-1,-1,100,100,740,580\r\n"
                                    "[Misc]\r\nWriteTime=90\r\n";

// Closing by the window and by SIGTERM must both store the normalised settings, the placement
// and the version: the close sequence is one, whatever asks for it.
class StartupAndClose : public ::testing::TestWithParam<bool> {};

TEST_P(StartupAndClose, CraftedProfileComesBackNormalised) {
    const bool bySignal = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString ini = folder.filePath("skiro.ini");
    writeFile(ini, kCraftedProfile);

    CMarelApp app(folder.path(), "skiro");
    app.closeOnTerminationSignals();
    ASSERT_TRUE(app.initInstance());
    settle();
    CMainFrame* frame = app.frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->windowTitle(), "SKIRO");
    EXPECT_EQ(frame->geometry(), QRect(100, 100, 640, 480));
    EXPECT_EQ(app.document()->settings().TimeStamp, 1);
    EXPECT_EQ(app.document()->settings().WriteTime, 60);

    if (bySignal) {
        std::raise(SIGTERM);
        settle();
    } else {
        frame->close();
    }
    EXPECT_FALSE(frame->isVisible());

    const Profile saved = Profile::load(ini.toStdString());
    EXPECT_EQ(saved.readInt("Serial", "Parity", -1), 2);
    EXPECT_EQ(saved.readInt("Serial", "StopBit", -1), 1);
    EXPECT_EQ(saved.readInt("Serial", "TxCrConv", -1), 1);
    EXPECT_EQ(saved.readInt("Scroll", "Direction", -1), 0);
    EXPECT_EQ(saved.readText("Serial", "COM1", ""), "/dev/pts/99");
    EXPECT_EQ(saved.readText("SKIRO", "Version", ""), "2.2(32)");
    EXPECT_EQ(saved.readText("SKIRO", "Window", ""), "0,1,-1,-1,-1,-1,100,100,740,580");
    // WriteTime is read, never written.
    EXPECT_EQ(saved.readInt("Misc", "WriteTime", -1), 90);
}

INSTANTIATE_TEST_SUITE_P(WindowCloseAndSigterm, StartupAndClose, ::testing::Bool());

TEST(Startup, FirstRunIgnoresWriteTimeAndMalformedPlacement) {
    struct Case {
        const char* name;
        std::string profile;
        int timeStamp;
    } cases[] = {
        {"no profile at all", "", 0},
        {"WriteTime without a Window entry", "[Misc]\r\nWriteTime=90\r\n", 0},
        {"malformed Window entry still reads WriteTime",
         "[SKIRO]\r\nWindow=0,1,100,100\r\n[Misc]\r\nWriteTime=90\r\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        if (!c.profile.empty())
            writeFile(folder.filePath("skiro.ini"), c.profile);
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        settle();
        EXPECT_EQ(app.document()->settings().TimeStamp, c.timeStamp);
        EXPECT_TRUE(app.frame()->isVisible());
        app.frame()->close();
        EXPECT_NE(readFile(folder.filePath("skiro.ini")).find("Window="), std::string::npos);
    }
}

TEST(Startup, WindowStateRoundTrips) {
    struct Case {
        const char* name;
        const char* stored;
        Qt::WindowState state;
    } cases[] = {
        {"maximized", "2,3,-1,-1,-1,-1,50,60,690,540", Qt::WindowMaximized},
        {"minimized", "0,2,-1,-1,-1,-1,50,60,690,540", Qt::WindowMinimized},
        {"normal", "0,1,-1,-1,-1,-1,50,60,690,540", Qt::WindowNoState},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        writeFile(folder.filePath("skiro.ini"), std::string("[SKIRO]\r\nWindow=") + c.stored);
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        settle();
        EXPECT_TRUE(app.frame()->windowState() & c.state || c.state == Qt::WindowNoState);
        app.frame()->close();
        const Profile saved = Profile::load(folder.filePath("skiro.ini").toStdString());
        EXPECT_EQ(saved.readText("SKIRO", "Window", ""), c.stored);
    }
}

// Minimized from the maximized state the window is not maximized: it is stored as minimized
// with flags 0, whether it got there by the user or by the stored placement.
TEST(Startup, MinimizedFromMaximizedIsStoredAsMinimized) {
    struct Case {
        const char* name;
        const char* stored;
        bool maximizeThenMinimize;
    } cases[] = {
        {"maximized, then minimized by the user", "0,1,-1,-1,-1,-1,50,60,690,540", true},
        {"an entry of an earlier run with flags 2", "2,2,-1,-1,-1,-1,50,60,690,540", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        writeFile(folder.filePath("skiro.ini"), std::string("[SKIRO]\r\nWindow=") + c.stored);
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        settle();
        if (c.maximizeThenMinimize) {
            app.frame()->showMaximized();
            settle();
            app.frame()->showMinimized();
            settle();
        }
        EXPECT_TRUE(app.frame()->isMinimized());
        app.frame()->close();
        const Profile saved = Profile::load(folder.filePath("skiro.ini").toStdString());
        EXPECT_EQ(saved.readText("SKIRO", "Window", "").substr(0, 4), "0,2,");
    }
}

TEST(Startup, ProfileIsNamedAfterTheExecutable) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "VIEWER");
    ASSERT_TRUE(app.initInstance());
    EXPECT_EQ(app.document()->paths().profileFile, folder.filePath("VIEWER.ini").toStdString());
    EXPECT_EQ(app.document()->paths().logFolder, (folder.path() + "/").toStdString());
    app.frame()->close();
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("VIEWER.ini")));
}

TEST(ResourceBundle, UsedOnlyWhenMajorAndMinorVersionsMatch) {
    struct Case {
        const char* name;
        const char* fileVersion;
        bool used;
    } cases[] = {
        {"same major and minor, other build", "2.2.3.1", true},
        {"other minor", "2.3.0.0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        writeFile(folder.filePath("SKIRORES.ini"),
                  std::string("[Version]\nFileVersion=") + c.fileVersion +
                      "\nProductVersion=2.2.0.0\n[Menu]\nRun=&Run\n32784=&Start\\tCtrl+S\n"
                      "[Strings]\n34818=The device was not found.\n");
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        EXPECT_EQ(app.resourceBundleUsed(), c.used);
        const QString runMenu = app.frame()->menuBar()->actions().at(0)->text();
        EXPECT_EQ(runMenu, c.used ? QString("&Run") : QString("実行(&E)"));
        EXPECT_EQ(app.frame()->action(ID_START)->text(),
                  c.used ? QString("&Start") : QString("スタート(&S)"));
        EXPECT_EQ(app.document()->strings().text(34818) == "The device was not found.", c.used);
        app.frame()->close();
    }
}

TEST(Decorations, HiddenAndShownAgain) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    CMainFrame* frame = app.frame();

    frame->hideMenuBar(true);
    EXPECT_FALSE(frame->menuBar()->isVisible());
    frame->hideMenuBar(false);
    EXPECT_TRUE(frame->menuBar()->isVisible());

    frame->hideTitleBar(true);
    EXPECT_TRUE(frame->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(frame->isVisible());
    frame->hideTitleBar(false);
    EXPECT_FALSE(frame->windowFlags() & Qt::FramelessWindowHint);

    // The cursor's display count: hide, hide, show leaves it visible again.
    frame->hideMouseCursor(true);
    frame->hideMouseCursor(true);
    EXPECT_EQ(frame->cursorCount(), -2);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
    frame->hideMouseCursor(false);
    EXPECT_EQ(frame->cursorCount(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Closing with the title bar and the cursor hidden brings both back first.
    app.document()->settings().HideTitleBar = 1;
    frame->hideTitleBar(true);
    frame->hideMouseCursor(true);
    frame->close();
    EXPECT_FALSE(frame->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(WindowMenu, CarriesTheWindowCommandsAndTheThreeMenus) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    QStringList submenus;
    for (QAction* item : app.frame()->windowMenu()->actions())
        if (item->menu())
            submenus << item->text();
    EXPECT_EQ(submenus, (QStringList{"実行(&E)", "設定(&S)", "ﾍﾙﾌﾟ(&H)"}));
    app.frame()->close();
}

} // namespace
