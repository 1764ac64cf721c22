#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <fstream>
#include <gtest/gtest.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/Profile.h"
#include "display/CMarelView.h"
#include "web/WebService.h"

using namespace skiro;

namespace {

quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

// --web for one run: the display's lines reach a viewer, and the profile, which had no [Web]
// section, still has none after the close.
TEST(WebViewInTheApplication, OnForOneRunServesTheDisplaysLinesAndLeavesTheProfileAlone) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString ini = folder.filePath("skiro.ini");
    {
        std::ofstream out(ini.toStdString(), std::ios::binary);
        out << "[Scroll]\r\nStep=2\r\n";
    }
    const quint16 port = freePort();
    ASSERT_NE(port, 0);

    CMarelApp app(folder.path(), "skiro");
    app.setWebForThisRun(port);
    ASSERT_TRUE(app.initInstance());
    ASSERT_NE(app.webService(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.webService()->server().port() == port; }, 5000));

    QStringList lines;
    QWebSocket viewer;
    QObject::connect(&viewer, &QWebSocket::textMessageReceived, [&](const QString& text) {
        const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
        if (m.value("t").toString() == QLatin1String("line"))
            lines << m.value("text").toString();
    });
    viewer.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stream").arg(port)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.state() == QAbstractSocket::ConnectedState; },
                                5000));

    auto* view = qobject_cast<CMarelView*>(app.frame()->centralWidget());
    ASSERT_NE(view, nullptr);
    view->receiveText("\x8E\x9A\x96\x8B\r"); // 字幕
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lines.isEmpty(); }, 5000));
    EXPECT_EQ(lines, QStringList{QStringLiteral("字幕")});

    app.frame()->close();
    EXPECT_EQ(app.webService(), nullptr);
    const Profile saved = Profile::load(ini.toStdString());
    EXPECT_FALSE(saved.contains("Web", "Enabled"));
    EXPECT_FALSE(saved.contains("Web", "Port"));
}
