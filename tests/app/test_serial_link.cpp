#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "app/SessionLink.h"
#include "core/Profile.h"
#include "display/CMarelView.h"
#include "tests/serial/PtyPair.h"
#include "ui/CSerialDialog.h"

namespace {

using namespace skiro;

// A link that stands for the adapter's by-id name: torn down and made again, it leads to
// whichever pty is the adapter now.
void pointLink(const std::string& link, const std::string& device) {
    const std::string made = link + ".new";
    std::filesystem::remove(made);
    std::filesystem::create_symlink(device, made);
    std::filesystem::rename(made, link);
}

bool waitUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 10000);
}

// The whole program with COM1 mapped to `device`.
std::unique_ptr<CMarelApp> startProgram(const QTemporaryDir& folder, const std::string& device) {
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << device << "\r\n";
    }
    auto app = std::make_unique<CMarelApp>(folder.path(), "skiro");
    app->initInstance();
    return app;
}

// Pulled and plugged in again: no box, the mark in the view's corner and the title say the
// link waits, Stop stays the one command of the running session, and both go when the device
// is back and its text shows again.
TEST(SerialLink, UnplugAndReturnAreShownQuietlyInTheCornerAndTheTitle) {
    QTemporaryDir folder;
    const std::string link = folder.filePath("ttyLINK").toStdString();
    auto pty = std::make_unique<test::PtyPair>();
    pointLink(link, pty->slavePath);
    auto app = startProgram(folder, link);
    CMainFrame& frame = *app->frame();
    auto* view = qobject_cast<CMarelView*>(frame.centralWidget());
    auto* mark = frame.findChild<QLabel*>(QStringLiteral("linkMark"));
    ASSERT_NE(mark, nullptr);
    frame.action(ID_START)->trigger();
    ASSERT_TRUE(app->document()->session().isOpen());
    EXPECT_FALSE(mark->isVisible());

    bool boxShown = false;
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            boxShown = true;
            modal->close();
        }
    });
    boxWatch.start(10);

    pty->closeMaster();
    ASSERT_TRUE(waitUntil([&] { return app->document()->session().isWaiting(); }));
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->text(), QStringLiteral("接続待ち"));
    // In the view's top-right corner, small beside it.
    const QRect onView(view->mapFrom(&frame, mark->pos()), mark->size());
    EXPECT_TRUE(view->rect().contains(onView));
    EXPECT_GT(onView.left(), view->width() / 2);
    EXPECT_LT(onView.top(), view->height() / 4);
    EXPECT_EQ(frame.windowTitle(),
              QStringLiteral("SKIRO - 接続待ち (%1)").arg(QString::fromStdString(link)));
    EXPECT_FALSE(frame.action(ID_START)->isEnabled());
    EXPECT_FALSE(frame.action(ID_SERIAL)->isEnabled());
    EXPECT_TRUE(frame.action(ID_STOP)->isEnabled());

    pty = std::make_unique<test::PtyPair>();
    pointLink(link, pty->slavePath);
    ASSERT_TRUE(waitUntil([&] { return app->document()->session().isOpen(); }));
    EXPECT_FALSE(mark->isVisible());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("SKIRO"));
    pty->send("back\r\n");
    ASSERT_TRUE(waitUntil([&] { return view->intake().currentLine() == "back"; }));
    EXPECT_FALSE(boxShown) << "nothing covers the captions";
    frame.close();
}

// The device typed into the serial dialog becomes COM1's mapping: Start opens it at once, and
// the profile holds it after the close, with no hand-editing.
TEST(SerialLink, TheDeviceChosenInTheDialogIsOpenedAndStored) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir folder;
    auto app = std::make_unique<CMarelApp>(folder.path(), "skiro");
    ASSERT_TRUE(app->initInstance());
    CMainFrame& frame = *app->frame();
    bool seen = false;
    QTimer typer;
    QObject::connect(&typer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CSerialDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isActiveWindow() || !dialog->focusWidget())
            return;
        typer.stop();
        seen = true;
        QTest::keyClick(dialog, Qt::Key_D, Qt::AltModifier);
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(pty.slavePath));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    typer.start(10);
    frame.action(ID_SERIAL)->trigger();
    ASSERT_TRUE(seen);

    frame.action(ID_START)->trigger();
    EXPECT_TRUE(app->document()->session().isOpen());
    frame.close();
    const Profile saved = Profile::load(folder.filePath("skiro.ini").toStdString());
    EXPECT_EQ(saved.readText("Serial", "COM1", ""), pty.slavePath);
}

// F1 on the box of a port failure opens the help on the port's messages.
TEST(SerialLink, F1OnAPortFailureOpensItsHelp) {
    QWidget context;
    SessionLink link(&context, QStringLiteral("SKIRO"), {});
    int helped = 0;
    link.setHelp([&] { ++helped; });
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isActiveWindow())
            return;
        presser.stop();
        QTest::keyClick(box, Qt::Key_F1);
        box->close();
    });
    presser.start(10);
    link.showFailure("\x83\x41\x83\x4E\x83\x5A\x83\x58"); // アクセス
    EXPECT_EQ(helped, 1);
}

} // namespace
