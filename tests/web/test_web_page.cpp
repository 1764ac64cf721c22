// The audience page in a real browser, at a phone's size: following the captions, reading back
// without being pulled down, 最新へ, 保存, and a restart of the display with the page open.
#include <QDate>
#include <QDir>
#include <QFile>

#include <cstdlib>
#include <filesystem>

#include "Browser.h"
#include "WebRig.h"
#include "core/LogHistory.h"
#include "core/ShiftJis.h"
#include "sjis/Sjis.h"

using namespace skiro;
using namespace skiro::testing;

namespace {

const QString kLines =
    QStringLiteral("[...document.querySelectorAll('#log p')].map(p => p.textContent)");
const QString kAtEnd =
    QStringLiteral("(() => { const c = document.getElementById('captions');"
                   " const d = document.documentElement.dataset.dir === 'v'"
                   " ? c.scrollWidth - c.clientWidth - Math.abs(c.scrollLeft)"
                   " : c.scrollHeight - c.clientHeight - c.scrollTop; return d <= 12; })()");
const QString kPosition = QStringLiteral("(() => { const c = document.getElementById('captions');"
                                         " return document.documentElement.dataset.dir === 'v' ? "
                                         "Math.abs(c.scrollLeft) : c.scrollTop; })()");
const QString kLatestShown = QStringLiteral("!document.getElementById('latest').hidden");
// Counts the view's moves from now on.
const QString kCountMoves =
    QStringLiteral("window.moves = 0; document.getElementById('captions')"
                   ".addEventListener('scroll', () => { window.moves++; }); true");
// Ten frames later: long enough for any scrolling that a line sets off to have begun.
const QString kTenFrames =
    QStringLiteral("new Promise((done) => { let n = 0; const frame = () => (++n >= 10 ? done(true) "
                   ": requestAnimationFrame(frame)); requestAnimationFrame(frame); })");

// 字幕の行 n: Shift-JIS as the display receives it, and the text the page shows.
std::string captionSjis(int n) {
    return "\x8E\x9A\x96\x8B\x82\xCC\x8D\x73 " + std::to_string(n);
}
QString captionText(int n) {
    return QStringLiteral("字幕の行 %1").arg(n);
}

QStringList texts(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& v : value.toArray())
        list << v.toString();
    return list;
}

} // namespace

TEST_F(WebRig, ReadingBackIsNotPulledDownAndTheTranscriptIsSaved) {
    if (Browser::executable().isEmpty())
        GTEST_SKIP() << "chromium is not installed: the page is not tried in a browser";
    start();
    constexpr int kShown = 60;
    for (int i = 1; i <= kShown; ++i)
        show(captionSjis(i));
    const QString page = QStringLiteral("http://127.0.0.1:%1/").arg(port);

    struct Case {
        const char* name;
        int direction;
        double dx, dy; // a turn of the wheel back toward the older lines
    };
    const Case cases[] = {{"horizontal writing", 0, 0, -1500},
                          {"vertical writing", 1, 1500, 0},
                          {"vertical writing, the wheel turned up", 1, 0, -1500}};
    int shown = kShown;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service->setDirection(c.direction);
        Browser browser(page);
        ASSERT_TRUE(browser.ready());
        ASSERT_TRUE(browser.waitFor(kLines + QStringLiteral(".length === %1").arg(shown)));
        ASSERT_TRUE(browser.waitFor(kAtEnd)) << "the page opens at the newest line";
        EXPECT_FALSE(browser.evaluate(kLatestShown).toBool());
        EXPECT_EQ(browser
                      .evaluate("[...document.querySelectorAll('button')].filter(b => !b.hidden)"
                                ".map(b => b.getBoundingClientRect())"
                                ".filter(r => r.width < 44 || r.height < 44).length")
                      .toInt(),
                  0)
            << "every button is at least 44 px for a finger";

        browser.wheel(195, 450, c.dx, c.dy);
        ASSERT_TRUE(browser.waitFor(kLatestShown)) << "scrolled back, 最新へ is offered";
        // Wherever the wheel's glide ends, the view then stays there.
        double at = -1;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const double now = browser.evaluate(kPosition).toDouble();
                const bool still = now == at;
                at = now;
                return still;
            },
            20000));
        EXPECT_FALSE(browser.evaluate(kAtEnd).toBool());

        browser.evaluate(kCountMoves);
        show(captionSjis(++shown));
        show(captionSjis(++shown));
        ASSERT_TRUE(browser.waitFor(kLines + QStringLiteral(".length === %1").arg(shown)));
        browser.evaluate(kTenFrames);
        EXPECT_EQ(browser.evaluate("window.moves").toInt(), 0) << "new lines leave the view put";
        EXPECT_EQ(browser.evaluate(kPosition).toDouble(), at);
        EXPECT_EQ(browser.evaluate("document.getElementById('unseen').textContent").toString(),
                  QStringLiteral("2"));

        ASSERT_TRUE(browser.click(QStringLiteral("#latest")));
        EXPECT_TRUE(browser.waitFor(kAtEnd + QStringLiteral(" && !(") + kLatestShown + ")"))
            << "最新へ goes back to the newest line";
        show(captionSjis(++shown));
        ASSERT_TRUE(browser.waitFor(kLines + QStringLiteral(".length === %1").arg(shown)));
        EXPECT_TRUE(browser.waitFor(kAtEnd)) << "and follows it again";

        if (c.direction != 0)
            continue;
        // 保存: every line the page has, as UTF-8 text named with the date.
        ASSERT_TRUE(browser.click(QStringLiteral("#save")));
        const QString name = QStringLiteral("skiro-%1.txt")
                                 .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        QFile saved(QDir(browser.downloads()).filePath(name));
        ASSERT_TRUE(QTest::qWaitFor([&] { return saved.exists() && saved.size() > 0; }, 30000))
            << "nothing saved as " << name.toStdString();
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        QString expected;
        for (int i = 1; i <= shown; ++i)
            expected += captionText(i) + QLatin1Char('\n');
        EXPECT_EQ(QString::fromUtf8(saved.readAll()), expected);
    }
}

// Three runs of the display with a page open throughout. The first ends as a crash does: lines
// the page has never reach the log. The second starts with the colour commands off, though the
// log keeps the first run's red line with its command; the third is a plain restart.
TEST_F(WebRig, AnOpenPageGoesOnAcrossRestartsOfTheDisplayWithNothingTwiceAndNothingMissing) {
    if (Browser::executable().isEmpty())
        GTEST_SKIP() << "chromium is not installed: the page is not tried in a browser";
    std::string folder = (std::filesystem::temp_directory_path() / "skiro-restart-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    Recorder log(settings, clock, strings, folder);
    const std::string logPath = log.logPath(clock.localTime());
    QStringList expected;
    const auto pageHas = [&] {
        return kLines + QStringLiteral(".length >= %1").arg(expected.size());
    };
    std::unique_ptr<WebService> web;
    quint16 listening = 0;
    // A run of the display: its web view starts from the day's log, as the program's does.
    const auto startRun = [&](Intake& run, quint16 at) {
        web = std::make_unique<WebService>(settings);
        listening = 0;
        QObject::connect(web.get(), &WebService::listening, [&](quint16 p) { listening = p; });
        web->seed(run, readRecentLogLines(logPath, WebServer::kHistoryLines,
                                          WebServer::kHistoryBytes, strings));
        run.setObserver(web.get());
        web->listen({at, false, {}, 0});
        return QTest::qWaitFor([&] { return listening != 0; }, 5000);
    };

    // The first run: every line shown, and so logged, the last in red by a command.
    settings.ExtCommands = 1;
    auto first = std::make_unique<Intake>(settings, clock, strings, log, state, window);
    for (int i = 1; i <= 30; ++i) {
        first->receiveText(captionSjis(i) + "\r");
        first->commitLine(0);
        expected << captionText(i);
    }
    first->receiveText("\x1CTCFF0000:" + toSjis(QStringLiteral("赤")) + "\r");
    first->commitLine(0);
    expected << QStringLiteral("赤");
    ASSERT_TRUE(startRun(*first, 0));
    port = listening;

    Browser browser(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    ASSERT_TRUE(browser.ready());
    ASSERT_TRUE(browser.waitFor(pageHas()));
    // Three more arrive while the display is behind: 31 becomes current and is logged, 32 and
    // 33 reach the page but, the display stopping short, never the log.
    first->receiveText(captionSjis(31) + "\r" + captionSjis(32) + "\r" + captionSjis(33) + "\r");
    expected << captionText(31) << captionText(32) << captionText(33);
    ASSERT_TRUE(browser.waitFor(pageHas()));

    first->setObserver(nullptr);
    web.reset();
    first.reset();
    EXPECT_TRUE(browser.waitFor("document.getElementById('status').dataset.state === 'closed'"))
        << "the page says the display has closed";

    // The second run takes in two lines before the page is back: 34 is shown, 35 becomes
    // current; both are logged. 36 reaches the page only.
    settings.ExtCommands = 0;
    auto second = std::make_unique<Intake>(settings, clock, strings, log, state, window);
    ASSERT_TRUE(startRun(*second, port));
    second->receiveText(captionSjis(34) + "\r");
    second->commitLine(0);
    second->receiveText(captionSjis(35) + "\r");
    expected << captionText(34) << captionText(35);
    ASSERT_TRUE(browser.waitFor(pageHas(), 60000))
        << texts(browser.evaluate(kLines)).join(QLatin1Char('|')).toStdString();
    second->receiveText(captionSjis(36) + "\r");
    expected << captionText(36);
    ASSERT_TRUE(browser.waitFor(pageHas()));
    EXPECT_EQ(texts(browser.evaluate(kLines)), expected);
    EXPECT_EQ(browser.evaluate("document.getElementById('status').dataset.state").toString(),
              QStringLiteral("live"));

    // The third run: the log has the first run's lines up to 31, then 34 and 35, which the page
    // has after lines that the log lost.
    second->setObserver(nullptr);
    web.reset();
    second.reset();
    ASSERT_TRUE(browser.waitFor("document.getElementById('status').dataset.state === 'closed'"));
    Intake third(settings, clock, strings, log, state, window);
    ASSERT_TRUE(startRun(third, port));
    third.receiveText(captionSjis(37) + "\r");
    expected << captionText(37);
    ASSERT_TRUE(
        browser.waitFor(kLines + QStringLiteral(".includes('%1')").arg(captionText(37)), 60000))
        << texts(browser.evaluate(kLines)).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(texts(browser.evaluate(kLines)), expected);

    third.setObserver(nullptr);
    web.reset();
    std::filesystem::remove_all(folder);
}

// A long line without a line end, arriving in pieces: the page shows it as it grows, in both
// writing directions, following its end; after a reconnect in the middle of it, the page has
// the line whole once more and goes on growing it; at its end it becomes a line like the others.
TEST_F(WebRig, ALongLineGrowsOnThePageAndComesWholeAfterAReconnect) {
    if (Browser::executable().isEmpty())
        GTEST_SKIP() << "chromium is not installed: the page is not tried in a browser";
    start();
    const QString page = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    QString text;
    while (text.size() < 20000)
        text += QStringLiteral("字幕の表示 (caption) を試す、");
    const std::string line = toSjis(text);
    const QString kCurrent = QStringLiteral("document.getElementById('current').textContent");
    const QString kLive =
        QStringLiteral("document.getElementById('status').dataset.state === 'live'");
    constexpr std::size_t kPiece = 511;

    for (const int direction : {0, 1}) {
        SCOPED_TRACE(direction ? "vertical writing" : "horizontal writing");
        service->setDirection(direction);
        Browser browser(page);
        ASSERT_TRUE(browser.ready());
        ASSERT_TRUE(browser.waitFor(kLive));
        const auto shownTo = [&](std::size_t end) {
            return fromSjis(sjis::withoutPartialChar(std::string_view(line).substr(0, end)));
        };
        const auto pageHas = [&](const QString& expected) {
            return browser.waitFor(kCurrent +
                                   QStringLiteral(".length === %1").arg(expected.size())) &&
                   browser.evaluate(kCurrent).toString() == expected;
        };
        std::size_t at = 0;
        const auto feed = [&](std::size_t until) {
            for (; at < until; at += kPiece)
                intake.receiveText(line.substr(at, std::min(kPiece, until - at)));
            at = until;
        };
        feed(line.size() / 3);
        ASSERT_TRUE(pageHas(shownTo(at)));
        // Thousands of rows at once: the view is at their end straight away rather than
        // gliding through them, which the next piece would begin again before it arrived.
        EXPECT_TRUE(browser.evaluate(kAtEnd).toBool()) << "the page follows the line's end";

        // The server goes away and comes back at the same address while the line goes on: the
        // page comes back by itself, with the line whole.
        service->setLimits(limits);
        service->listen({port, false, {}, direction});
        feed(line.size() * 2 / 3 + 1); // ends inside a character
        ASSERT_TRUE(browser.waitFor(kLive, 60000));
        ASSERT_TRUE(pageHas(shownTo(at)));

        feed(line.size());
        ASSERT_TRUE(pageHas(text));
        EXPECT_TRUE(browser.waitFor(kAtEnd));
        intake.receiveText("\r");
        intake.commitLine(0);
        ASSERT_TRUE(browser.waitFor(kCurrent + QStringLiteral(" === ''")));
        EXPECT_EQ(texts(browser.evaluate(kLines)).last(), text);
    }
}

// The code came in the address and moved into a cookie; the cookie is then gone (a day later,
// or a browser that keeps none). A drop of the link must not cost the viewer the page and its
// lines: the page comes back by the code it was opened with.
TEST_F(WebRig, APageWithoutItsCookieComesBackByItsCodeAfterADrop) {
    if (Browser::executable().isEmpty())
        GTEST_SKIP() << "chromium is not installed: the page is not tried in a browser";
    start("Code12");
    for (int i = 1; i <= 3; ++i)
        show(captionSjis(i));
    const QString kState = QStringLiteral("document.getElementById('status').dataset.state");
    Browser browser(QStringLiteral("http://127.0.0.1:%1/?code=Code12").arg(port));
    ASSERT_TRUE(browser.ready());
    ASSERT_TRUE(browser.waitFor(kLines + QStringLiteral(".length === 3")));
    ASSERT_TRUE(browser.waitFor(kState + QStringLiteral(" === 'live'")));
    EXPECT_EQ(browser.evaluate(QStringLiteral("location.search")).toString(), QString());
    browser.command(QStringLiteral("Network.clearBrowserCookies"));

    // The web view starts again at the same address, as after a change in its dialog.
    service->setLimits(limits);
    service->listen({port, false, "Code12", 0});
    show(captionSjis(4));
    ASSERT_TRUE(browser.waitFor(kLines + QStringLiteral(".length === 4"), 60000))
        << browser.evaluate(QStringLiteral("document.body.innerText.slice(0, 200)"))
               .toString()
               .toStdString();
    EXPECT_EQ(browser.evaluate(kState).toString(), QStringLiteral("live"));
}
