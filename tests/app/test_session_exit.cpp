#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

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
