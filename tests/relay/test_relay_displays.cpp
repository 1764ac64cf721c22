#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "app/RelayLink.h"
#include "display/CMarelView.h"
#include "sjis/Sjis.h"
#include "relay/RelayClient.h"
#include "tests/relay/TestBroker.h"
#include "tests/relay/Wait.h"

namespace skiro {
namespace {

// Displays in folders of their own, each with its profile and daily log, joined to the test
// broker's room "hall" as their [Relay] section says.
class RelayDisplays : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(broker.ok());
        ASSERT_TRUE(broker.start()) << broker.output().toStdString();
        qputenv("SKIRO_RELAY_PASSWORD", TestBroker::kPassword);
    }
    void TearDown() override { qunsetenv("SKIRO_RELAY_PASSWORD"); }

    struct Display {
        QTemporaryDir folder;
        std::unique_ptr<CMarelApp> app;
        CMarelView* view() const {
            return qobject_cast<CMarelView*>(app->frame()->centralWidget());
        }
        bool connected() const {
            return app->relay() && app->relay()->client() &&
                   app->relay()->client()->state() == RelayClient::State::Connected;
        }
        // Whether the view holds `sjis` in what it has not yet shown to the end.
        bool holds(const std::string& sjis) const {
            Intake& intake = view()->intake();
            return intake.currentLine() == sjis ||
                   std::string(intake.backlog()).find(sjis) != std::string::npos;
        }
        // The lines of the daily log (closed first, so that it is complete), as UTF-8.
        QStringList logLines() const {
            QStringList lines;
            for (const QString& name : QDir(folder.path()).entryList({"*.log"})) {
                QFile log(folder.filePath(name));
                if (log.open(QIODevice::ReadOnly))
                    for (const QByteArray& line : log.readAll().split('\n'))
                        lines << fromSjis(line.trimmed().toStdString());
            }
            return lines;
        }
    };

    std::unique_ptr<Display> display(const char* mode, const char* clientId) {
        auto d = std::make_unique<Display>();
        std::ofstream out(d->folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        out << "[Relay]\r\nMode=" << mode << "\r\nBroker=" << broker.address().toStdString()
            << "\r\nRoom=hall\r\nUser=display\r\nCaFile=" << broker.caFile().toStdString()
            << "\r\nClientId=" << clientId << "\r\n";
        out.close();
        d->app = std::make_unique<CMarelApp>(d->folder.path(), "skiro");
        EXPECT_TRUE(d->app->initInstance());
        EXPECT_TRUE(waitUntil([&] { return d->connected(); }));
        return d;
    }

    static QStringList numbered(const QStringList& lines) {
        QStringList kept;
        for (const QString& line : lines)
            if (line.startsWith(QStringLiteral("字幕")))
                kept << line;
        return kept;
    }

    TestBroker broker;
};

TEST_F(RelayDisplays, FollowerShowsAndLogsEveryLineOfTheSenderOnceInOrder) {
    auto follower = display("follow", "display-follower");
    auto sender = display("send", "display-sender");
    QStringList expected;
    for (int i = 1; i <= 60; ++i) {
        expected << QStringLiteral("字幕%1行目").arg(i);
        // Pieces as a serial line brings them: the follower sees the line grow.
        const std::string line = toSjis(expected.back());
        sender->view()->receiveText(line.substr(0, 4));
        sender->view()->receiveText(line.substr(4) + "\r");
    }
    const std::string last = toSjis(expected.back());
    ASSERT_TRUE(waitUntil([&] { return follower->holds(last); }));
    follower->app->frame()->close();
    sender->app->frame()->close();
    EXPECT_EQ(numbered(follower->logLines()), expected);
    EXPECT_EQ(numbered(sender->logLines()), expected);
}

TEST_F(RelayDisplays, RemoteSkiroSendReachesTheDisplayThatReceivesTheRoom) {
    auto receiver = display("receive", "display-receiver");
    QProcess send;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKIRO_RELAY_PASSWORD", TestBroker::kPassword);
    send.setProcessEnvironment(env);
    send.start(QCoreApplication::applicationDirPath() + "/skiro-send",
               {"--relay", broker.address() + "/hall", "--user", "captioner", "--ca",
                broker.caFile(), QStringLiteral("字幕は遠くから"), QStringLiteral("字幕二行目")});
    ASSERT_TRUE(send.waitForFinished(30000));
    EXPECT_EQ(send.exitCode(), 0) << send.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return receiver->holds(toSjis(QStringLiteral("字幕二行目"))); }));
    receiver->app->frame()->close();
    EXPECT_EQ(numbered(receiver->logLines()),
              (QStringList{QStringLiteral("字幕は遠くから"), QStringLiteral("字幕二行目")}));

    // A wrong password is the same as no display: nothing delivered.
    QProcess refused;
    env.insert("SKIRO_RELAY_PASSWORD", "wrong");
    refused.setProcessEnvironment(env);
    refused.start(QCoreApplication::applicationDirPath() + "/skiro-send",
                  {"--relay", broker.address() + "/hall", "--user", "captioner", "--ca",
                   broker.caFile(), QStringLiteral("x")});
    ASSERT_TRUE(refused.waitForFinished(30000));
    EXPECT_EQ(refused.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(refused.readAllStandardError())
                    .contains(QStringLiteral("パスワードが違います")));
}

} // namespace
} // namespace skiro
