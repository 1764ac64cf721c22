#pragma once
// A headless Chromium driven through its DevTools protocol: the page is loaded, scrolled,
// clicked and read as a viewer's browser would, with real input events.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWebSocket>

#include <map>

namespace skiro::testing {

class Browser {
  public:
    static QString executable() {
        return QStandardPaths::findExecutable(QStringLiteral("chromium"));
    }

    // Opens `url` in a window of `width` × `height` CSS pixels, as a phone shows it.
    Browser(const QString& url, int width = 390, int height = 844) {
        if (!m_profile.isValid() || !m_downloads.isValid())
            return;
        m_process.start(
            executable(),
            {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
             QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
             QStringLiteral("--disable-background-networking"),
             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
             QStringLiteral("--hide-scrollbars"), QStringLiteral("--remote-debugging-port=0"),
             QStringLiteral("--window-size=%1,%2").arg(width).arg(height),
             QStringLiteral("--user-data-dir=") + m_profile.path(), QStringLiteral("about:blank")});
        // The browser writes the port it took into its profile.
        QFile portFile(m_profile.filePath(QStringLiteral("DevToolsActivePort")));
        if (!QTest::qWaitFor([&] { return portFile.exists() && portFile.size() > 0; }, 60000))
            return;
        portFile.open(QIODevice::ReadOnly);
        const int port = portFile.readLine().trimmed().toInt();
        const QString socketUrl = pageSocket(port);
        if (socketUrl.isEmpty())
            return;
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(QStringLiteral("id")))
                m_answers[message.value(QStringLiteral("id")).toInt()] = message;
        });
        m_socket.open(QUrl(socketUrl));
        if (!QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                             20000))
            return;
        command(QStringLiteral("Emulation.setDeviceMetricsOverride"),
                {{"width", width}, {"height", height}, {"deviceScaleFactor", 2}, {"mobile", true}});
        command(QStringLiteral("Browser.setDownloadBehavior"),
                {{"behavior", "allow"}, {"downloadPath", m_downloads.path()}});
        command(QStringLiteral("Page.navigate"), {{"url", url}});
        m_ready = true;
    }
    ~Browser() {
        m_socket.close();
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    bool ready() const { return m_ready; }
    QString downloads() const { return m_downloads.path(); }

    // One protocol command and its answer (an "error" member when it failed).
    QJsonObject command(const QString& method, const QJsonObject& params = {}, int ms = 30000) {
        const int id = ++m_lastId;
        m_socket.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
                .toJson(QJsonDocument::Compact)));
        if (!QTest::qWaitFor([&] { return m_answers.count(id) > 0; }, ms))
            return {{"error", "no answer"}};
        const QJsonObject answer = m_answers[id];
        m_answers.erase(id);
        return answer;
    }
    // The value of a script run in the page.
    QJsonValue evaluate(const QString& expression) {
        const QJsonObject answer =
            command(QStringLiteral("Runtime.evaluate"),
                    {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
        return answer.value("result").toObject().value("result").toObject().value("value");
    }
    // Waits, on a busy machine generously, until the script's value is true.
    bool waitFor(const QString& expression, int ms = 30000) {
        return QTest::qWaitFor([&] { return evaluate(expression).toBool(); }, ms);
    }
    // A turn of the mouse wheel over the point (x, y) of the page.
    void wheel(double x, double y, double dx, double dy) {
        command(QStringLiteral("Input.dispatchMouseEvent"),
                {{"type", "mouseWheel"}, {"x", x}, {"y", y}, {"deltaX", dx}, {"deltaY", dy}});
    }
    // A click in the middle of the element `selector`, as a finger or mouse gives it.
    bool click(const QString& selector) {
        const QJsonObject box =
            evaluate(QStringLiteral("(() => { const r = document.querySelector('%1')"
                                    ".getBoundingClientRect(); return {x: r.x + r.width / 2, "
                                    "y: r.y + r.height / 2, w: r.width}; })()")
                         .arg(selector))
                .toObject();
        if (box.value("w").toDouble() <= 0)
            return false;
        for (const char* type : {"mousePressed", "mouseReleased"}) {
            command(QStringLiteral("Input.dispatchMouseEvent"), {{"type", type},
                                                                 {"x", box.value("x")},
                                                                 {"y", box.value("y")},
                                                                 {"button", "left"},
                                                                 {"clickCount", 1}});
        }
        return true;
    }
    QByteArray screenshot() {
        return QByteArray::fromBase64(command(QStringLiteral("Page.captureScreenshot"))
                                          .value("result")
                                          .toObject()
                                          .value("data")
                                          .toString()
                                          .toLatin1());
    }

  private:
    // The DevTools address of the page the browser opened.
    static QString pageSocket(int port) {
        QString found;
        [[maybe_unused]] const bool listed = QTest::qWaitFor(
            [&] {
                QTcpSocket http;
                http.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
                if (!http.waitForConnected(5000))
                    return false;
                // The addresses in the answer are made from the Host header.
                http.write("GET /json/list HTTP/1.1\r\nHost: 127.0.0.1:" +
                           QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
                QByteArray response;
                while (http.waitForReadyRead(5000))
                    response += http.readAll();
                const QByteArray body = response.mid(response.indexOf("\r\n\r\n") + 4);
                for (const QJsonValue& target : QJsonDocument::fromJson(body).array()) {
                    if (target.toObject().value("type").toString() == QLatin1String("page"))
                        found = target.toObject().value("webSocketDebuggerUrl").toString();
                }
                return !found.isEmpty();
            },
            30000);
        return found;
    }

    QTemporaryDir m_profile;
    QTemporaryDir m_downloads;
    QProcess m_process;
    QWebSocket m_socket;
    std::map<int, QJsonObject> m_answers;
    int m_lastId = 0;
    bool m_ready = false;
};

} // namespace skiro::testing
