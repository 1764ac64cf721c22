#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>

#include "display/TickSource.h"
#include "display/WinMultimediaTimer.h"

// TimerMethod 1 on Windows: the system's multimedia timer.
namespace skiro {
namespace {

template <class Condition> bool waitFor(Condition condition, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(WinMultimediaTicks, TicksComeFromTheTimerAndStopWithIt) {
    ASSERT_EQ(MultimediaTimer::devicePeriod(), 10u) << "the timer device offers 10 ms";
    std::atomic<int> ticks{0};
    TickSource source([&] { ++ticks; });
    source.start(1, 20);
    EXPECT_EQ(source.running(), TickSource::Kind::PreciseTimer);
    EXPECT_EQ(source.interval(), 20);
    EXPECT_EQ(source.runningSources(), 1);
    ASSERT_TRUE(waitFor([&] { return ticks.load() >= 5; }));

    // At rest no tick comes; the source stays the running one and goes on after resume().
    source.pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a tick already under way
    const int atRest = ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ticks.load(), atRest);
    EXPECT_EQ(source.running(), TickSource::Kind::PreciseTimer);
    source.resume();
    ASSERT_TRUE(waitFor([&] { return ticks.load() >= atRest + 3; }));

    source.stop();
    const int stopped = ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ticks.load(), stopped) << "no tick after stop() has returned";
    EXPECT_EQ(source.running(), TickSource::Kind::None);
}

TEST(WinMultimediaTicks, SwitchingMethodsNeverRunsTwoSources) {
    std::atomic<int> ticks{0};
    TickSource source([&] { ++ticks; });
    for (const int method : {0, 1, 2, 1, 0}) {
        SCOPED_TRACE(method);
        source.start(method, 30);
        EXPECT_EQ(source.runningSources(), 1);
        EXPECT_EQ(source.interval(), 30);
    }
    source.stop();
    EXPECT_EQ(source.runningSources(), 0);
}

} // namespace
} // namespace skiro

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the coarse timer is a QTimer
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
