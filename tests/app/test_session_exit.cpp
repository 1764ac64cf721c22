#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/FeedProtocol.h"
#include "display/CMarelView.h"
#include "feed/FeedServer.h"
#include "tests/serial/PtyPair.h"

namespace {

using namespace skiro;

std::vector<std::string> logLines(const QString& folder) {
    const QStringList logs = QDir(folder).entryList({"*.log"}, QDir::Files);
    if (logs.size() != 1)
        return {};
    std::ifstream in(QDir(folder).filePath(logs.front()).toStdString(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> lines;
    std::string text = all.str();
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Closing while text is still waiting to be shown: every line that had arrived is in the log,
// in order, before the stop stamp; those not shown to the end, the unfinished last one too,
// after a stamp saying so.
TEST(ExitWithThePortOpen, WaitingLinesAreLoggedBeforeTheStopStamp) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir folder;
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
    }
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    app.frame()->action(ID_START)->trigger();
    ASSERT_TRUE(app.document()->session().isOpen());

    const std::string sent = "L1\rL2\rL3\rL4";
    pty.send(sent);
    // The pty hands the bytes over asynchronously; the window closes before it shows them.
    ASSERT_TRUE(test::waitFor([&] { return pty.waiting() >= sent.size(); }));
    app.frame()->close();

    const std::vector<std::string> lines = logLines(folder.path());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(endsWith(lines[0], "\x83X\x83^\x81[\x83g")); // スタート
    EXPECT_EQ(lines[1], "L1");
    EXPECT_TRUE(endsWith(lines[2], "\x95\\\x8E\xA6\x82\xB5\x82\xAB\x82\xEA\x82\xC8\x82\xA2\x82\xDC"
                                   "\x82\xDC\x8FI\x97\xB9")); // 表示しきれないまま終了
    EXPECT_EQ(lines[3], "L2");
    EXPECT_EQ(lines[4], "L3");
    EXPECT_EQ(lines[5], "L4");
    EXPECT_TRUE(endsWith(lines[6], "\x83X\x83g\x83"
                                   "b\x83v")); // ストップ
}

// Text that keeps arriving while the window closes, far more than a few reads take: every
// byte the close reads from the port is logged exactly once, in order, and what it did not
// read is still in the device. Whether the screen showed a complete line (the text behind it
// must not be lost) or a line still arriving (it must not be logged once cut and again whole).
TEST(ExitWithThePortOpen, TextArrivingDuringTheCloseIsLoggedOnce) {
    std::string lines = " rest\r";
    for (int i = 0; lines.size() < 200000; ++i)
        lines += "line " + std::to_string(i) + "\r";
    struct Case {
        const char* name;
        std::string shown;    // on the screen when the close begins
        std::string arriving; // sent from then on
    } cases[] = {
        {"a complete line shown", "L1\r", lines + "next line\r"},
        {"a line still arriving", "partial", " rest" + std::string(150000, 'x') + "\rnext line\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::PtyPair pty;
        ASSERT_TRUE(pty.ok());
        QTemporaryDir folder;
        {
            std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
            ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
        }
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        auto* view = qobject_cast<CMarelView*>(app.frame()->centralWidget());
        app.frame()->action(ID_START)->trigger();
        ASSERT_TRUE(app.document()->session().isOpen());
        pty.send(c.shown);
        const std::string shownLine = c.shown.substr(0, c.shown.find('\r'));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view->intake().currentLine() == shownLine; }, 10000));

        // The sender writes on while the close runs; the pty holds only part of it at a time.
        std::atomic<bool> written{false};
        std::thread sender([&] {
            pty.send(c.arriving);
            written = true;
        });
        ASSERT_TRUE(test::waitFor([&] { return pty.waiting() >= 4000; }));
        app.frame()->close();

        // What the close left in the device, read at the near end once the sender is done.
        ::fcntl(pty.slave, F_SETFL, ::fcntl(pty.slave, F_GETFL) | O_NONBLOCK);
        std::string left;
        const std::string sent = c.shown + c.arriving;
        std::string read;
        const bool accounted = test::waitFor(
            [&] {
                char buffer[4096];
                for (ssize_t n; (n = ::read(pty.slave, buffer, sizeof buffer)) > 0;)
                    left.append(buffer, static_cast<std::size_t>(n));
                if (!written)
                    return false;
                // The log's lines between the stamps are what the program read, each ended by
                // a CR, the last perhaps cut short.
                read.clear();
                const std::vector<std::string> logged = logLines(folder.path());
                for (std::size_t i = 1; i + 1 < logged.size(); ++i) {
                    if (endsWith(logged[i], "\x95\\\x8E\xA6\x82\xB5\x82\xAB\x82\xEA\x82\xC8\x82"
                                            "\xA2\x82\xDC\x82\xDC\x8FI\x97\xB9"))
                        continue; // 表示しきれないまま終了
                    read += logged[i] + "\r";
                }
                return read + left == sent ||
                       (!read.empty() && read.substr(0, read.size() - 1) + left == sent);
            },
            20000);
        sender.join();
        EXPECT_TRUE(accounted) << "logged " << read.size() << " bytes, left " << left.size()
                               << " of " << sent.size();
    }
}

// Closing with a long backlog and a sender that never answers the close: the profile is
// written and the window gone before the display waits for anyone, and every line that was not
// shown is in the log, in order, after the stamp.
TEST(ExitWithABacklog, ProfileFirstThenEveryUnshownLineAfterAStamp) {
    QTemporaryDir folder;
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    ASSERT_NE(app.feedServer(), nullptr);
    auto* view = qobject_cast<CMarelView*>(app.frame()->centralWidget());
    ASSERT_NE(view, nullptr);

    constexpr int kWaiting = 200000;
    std::string received = "first\r";
    for (int i = 0; i < kWaiting; ++i)
        received += "line " + std::to_string(i) + "\r";
    received += "unfinished";
    view->receiveText(received);

    // A sender that keeps its conversation open and never answers the display's close.
    QLocalSocket silent;
    silent.connectToServer(app.feedServer()->socketPath());
    ASSERT_TRUE(silent.waitForConnected(10000));
    const std::string open = feed::encodeInitiate("skiro", feed::kTopic);
    silent.write(open.data(), static_cast<qint64>(open.size()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.bytesAvailable() > 0; }, 10000));
    silent.readAll();
    bool profileWritten = false;
    bool windowGone = false;
    QObject::connect(&silent, &QLocalSocket::readyRead, [&] {
        // The display's close has come: what has happened by now?
        silent.readAll();
        QFile profile(folder.filePath("skiro.ini"));
        profileWritten = profile.open(QIODevice::ReadOnly) && profile.readAll().contains("Window=");
        windowGone = !app.frame()->isVisible();
    });
    app.frame()->close();
    EXPECT_TRUE(profileWritten);
    EXPECT_TRUE(windowGone);

    const std::vector<std::string> lines = logLines(folder.path());
    ASSERT_EQ(lines.size(), 3u + kWaiting);
    EXPECT_EQ(lines[0], "first");
    EXPECT_TRUE(endsWith(lines[1], "\x95\\\x8E\xA6\x82\xB5\x82\xAB\x82\xEA\x82\xC8\x82\xA2\x82\xDC"
                                   "\x82\xDC\x8FI\x97\xB9")); // 表示しきれないまま終了
    for (int i = 0; i < kWaiting; ++i) {
        if (lines[2 + i] != "line " + std::to_string(i)) {
            ADD_FAILURE() << "line " << i << " is " << lines[2 + i];
            break;
        }
    }
    EXPECT_EQ(lines.back(), "unfinished");
}

} // namespace
