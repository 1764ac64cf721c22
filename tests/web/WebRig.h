#pragma once
// The real server on a free loopback port, fed by a real intake, and WebSocket clients that
// record what reaches them.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Intake.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "core/ViewState.h"
#include "web/WebService.h"

namespace skiro::testing {

// A window that is always ready: intake's requests to scroll and repaint go nowhere.
class StillWindow : public IntakeView {
  public:
    Rect clientRect() const override { return {0, 0, 400, 300}; }
    void invalidate(const Rect&, bool) override {}
    void scrollStep(int) override {}
};

class NoRecorder : public LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

// One viewer: every message it got, in order.
class StreamClient {
  public:
    explicit StreamClient(const QString& url) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] {
            closed = true;
            closeCode = socket.closeCode();
        });
        socket.open(QUrl(url));
    }
    // The messages of one kind ("hello", "line", "cur", "more").
    std::vector<QJsonObject> of(const QString& kind) const {
        std::vector<QJsonObject> found;
        for (const QJsonObject& m : messages) {
            if (m.value(QStringLiteral("t")).toString() == kind)
                found.push_back(m);
        }
        return found;
    }
    std::vector<qint64> lineSeqs() const {
        std::vector<qint64> seqs;
        for (const QJsonObject& m : of(QStringLiteral("line")))
            seqs.push_back(m.value(QStringLiteral("seq")).toInteger());
        return seqs;
    }
    // The line still arriving as a page rebuilds it: from its last "cur", the "more" that
    // follow on from it, up to a "line" that ends it.
    struct Growing {
        QString text;
        qint64 seq = 0;
        QString colour;
        bool broken = false; // a "more" that did not follow on from what the page had
    };
    Growing growing() const {
        Growing g;
        for (const QJsonObject& m : messages) {
            const QString kind = m.value(QStringLiteral("t")).toString();
            const QString text = m.value(QStringLiteral("text")).toString();
            if (kind == QLatin1String("cur")) {
                g = {text, m.value(QStringLiteral("seq")).toInteger(),
                     m.value(QStringLiteral("color")).toString(), g.broken};
            } else if (kind == QLatin1String("more")) {
                if (m.value(QStringLiteral("seq")).toInteger() != g.seq ||
                    m.value(QStringLiteral("at")).toInteger() != g.text.size())
                    g.broken = true;
                else
                    g.text += text;
            } else if (kind == QLatin1String("line")) {
                g = {{}, 0, {}, g.broken};
            }
        }
        return g;
    }
    bool waitForGrowing(const QString& text, int ms = 5000) {
        return QTest::qWaitFor([&] { return growing().text == text; }, ms);
    }
    bool waitForHello(int ms = 5000) {
        return QTest::qWaitFor([this] { return !of(QStringLiteral("hello")).empty(); }, ms);
    }
    bool waitForLines(std::size_t count, int ms = 5000) {
        return QTest::qWaitFor([&] { return of(QStringLiteral("line")).size() >= count; }, ms);
    }

    QWebSocket socket;
    std::vector<QJsonObject> messages;
    bool closed = false;
    int closeCode = 0;
};

class WebRig : public ::testing::Test {
  protected:
    void TearDown() override {
        intake.setObserver(nullptr);
        service.reset();
    }

    void start(const QByteArray& accessCode = {}, const std::vector<std::string>& logged = {}) {
        service = std::make_unique<WebService>(settings);
        QObject::connect(service.get(), &WebService::listening, [this](quint16 p) { port = p; });
        service->seed(intake, logged);
        intake.setObserver(service.get());
        service->setLimits(limits);
        service->listen({0, false, accessCode, settings.Direction});
        ASSERT_TRUE(QTest::qWaitFor([this] { return port != 0; }, 5000));
    }

    // A line as the display takes it: received, then fully shown, so the next one becomes
    // current at once.
    void show(std::string_view sjis) {
        intake.receiveText(std::string(sjis) + "\r");
        intake.commitLine(0);
    }

    QString streamUrl(const QString& query = {}) const {
        return QStringLiteral("ws://127.0.0.1:%1/stream%2")
            .arg(port)
            .arg(query.isEmpty() ? QString() : QLatin1Char('?') + query);
    }

    // One raw HTTP exchange: the whole response, up to the server closing the connection.
    QByteArray exchange(const QByteArray& request) const {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(5000))
            return {};
        socket.write(request);
        QByteArray response;
        const bool closed = QTest::qWaitFor(
            [&] {
                response += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            5000);
        response += socket.readAll();
        return closed ? response : response + "<still open>";
    }

    Settings settings;
    SystemClock clock;
    StringTable strings;
    NoRecorder recorder;
    ViewState state;
    StillWindow window;
    Intake intake{settings, clock, strings, recorder, state, window};
    std::unique_ptr<WebService> service;
    WebLimits limits;
    quint16 port = 0;
};

} // namespace skiro::testing
