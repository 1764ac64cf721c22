#include <QDBusConnection>
#include <QObject>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

#include "app/ScreenSaverVeto.h"

namespace {

// A desktop's screen-saver service, on its own connection and thread, counting what it is asked.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
  public:
    std::atomic<int> inhibits{0};
    std::atomic<int> releases{0};
    std::atomic<unsigned> lastReleased{0};
  public slots:
    unsigned Inhibit(const QString&, const QString&) {
        return static_cast<unsigned>(++inhibits) + 40;
    }
    void UnInhibit(unsigned cookie) {
        lastReleased = cookie;
        ++releases;
    }
};

TEST(ScreenSaverVeto, HeldWhileActiveAndGivenBack) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "no session bus";
    QThread serviceThread;
    serviceThread.start();
    auto* service = new FakeScreenSaver;
    service->moveToThread(&serviceThread);
    QDBusConnection serviceBus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("fake"));
    ASSERT_TRUE(serviceBus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), service,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));

    {
        skiro::ScreenSaverVeto veto;
        veto.setActive(true);
        EXPECT_TRUE(veto.holding());
        veto.setActive(true); // already held: not asked twice
        EXPECT_EQ(service->inhibits, 1);
        veto.setActive(false);
        EXPECT_FALSE(veto.holding());
        veto.setActive(true); // held again when the window is active again
    }                         // and given back when it goes
    // The release is sent without waiting for an answer: it arrives when the bus delivers it.
    for (int i = 0; i < 1000 && service->releases < 2; ++i)
        QThread::msleep(10);
    EXPECT_EQ(service->inhibits, 2);
    EXPECT_EQ(service->releases, 2);
    EXPECT_EQ(service->lastReleased, 42u);

    serviceBus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    serviceThread.quit();
    serviceThread.wait();
    delete service;
}

TEST(ScreenSaverVeto, NothingHappensWithoutTheService) {
    skiro::ScreenSaverVeto veto;
    veto.setActive(true);
    EXPECT_FALSE(veto.holding());
}

} // namespace

#include "test_screensaver.moc"
