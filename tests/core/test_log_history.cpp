#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/LogHistory.h"
#include "core/Recorder.h"

namespace skiro {
namespace {

namespace fs = std::filesystem;

class FixedClock final : public Clock {
  public:
    LocalTime localTime() const override { return {2026, 12, 10, 14, 30, 0}; }
    std::uint32_t tickCount() const override { return 0; }
};

class LogHistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "skiro-history-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        recorder.setLogFolder(folder.string());
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string log() const { return recorder.logPath(clock.localTime()); }
    std::vector<std::string> recent(std::size_t lines, std::size_t bytes) const {
        return readRecentLogLines(log(), lines, bytes, strings);
    }

    fs::path folder;
    Settings settings;
    FixedClock clock;
    StringTable strings;
    Recorder recorder{settings, clock, strings, ""};
};

TEST_F(LogHistoryTest, TheLastReceivedLinesAsRecordedWithoutTheStamps) {
    // Two runs of the day as the recorder writes them: stamps between the received lines.
    recorder.recordStamp(IDS_START_STAMP);
    recorder.recordLine("\x8D\xA1\x93\xFA\x82\xCD"); // 今日は
    recorder.recordLine("[14:30:00]");               // the clock's stamp
    recorder.recordLine("\x1CTCff0000:red");
    recorder.recordLine("");
    recorder.recordStamp(IDS_LOST_STAMP);
    recorder.recordStamp(IDS_BACK_STAMP);
    // Closed with lines not yet shown: they follow a stamp of their own.
    std::vector<std::string_view> unshown = {"unshown", "never ended"};
    recorder.recordUnshown([&](std::string_view& line) {
        if (unshown.empty())
            return false;
        line = unshown.front();
        unshown.erase(unshown.begin());
        return true;
    });
    recorder.recordStamp(IDS_STOP_STAMP);
    // A Start that failed, with its message on the same line.
    recorder.recordStamp(IDS_START_FAILED_STAMP, "/dev/ttyUSB0 busy");
    recorder.recordStamp(IDS_START_STAMP);
    recorder.recordLine("[14:30] is a received line");
    recorder.recordLine("last");

    EXPECT_EQ(recent(100, 1024), (std::vector<std::string>{
                                     "\x8D\xA1\x93\xFA\x82\xCD", "\x1CTCff0000:red", "", "unshown",
                                     "never ended", "[14:30] is a received line", "last"}));
    EXPECT_EQ(recent(2, 1024), (std::vector<std::string>{"[14:30] is a received line", "last"}));
    // As many as fit the byte bound, never a line cut short.
    EXPECT_EQ(recent(100, 35), (std::vector<std::string>{"[14:30] is a received line", "last"}));
    EXPECT_EQ(recent(100, 5), std::vector<std::string>{});

    // A line another program left without its end is not a line yet.
    std::ofstream(log(), std::ios::binary | std::ios::app) << "torn";
    EXPECT_EQ(recent(1, 1024), std::vector<std::string>{"last"});
    EXPECT_TRUE(readRecentLogLines((folder / "none.log").string(), 100, 1024, strings).empty());
}

TEST_F(LogHistoryTest, ALongDayGivesItsLastLinesThatFit) {
    // Far longer than what is read of it, so the read begins inside a line.
    std::string day;
    for (int i = 0; i < 20000; ++i)
        day += "line " + std::to_string(i) + std::string(60, '.') + "\r\n";
    std::ofstream(log(), std::ios::binary) << day;
    const auto lines = recent(100, 4096);
    ASSERT_EQ(lines.size(), 56u); // 72 bytes each with the line end
    EXPECT_EQ(lines.front(), "line 19944" + std::string(60, '.'));
    EXPECT_EQ(lines.back(), "line 19999" + std::string(60, '.'));
}

TEST(LineContinuation, WhereOneRunOfLinesGoesOnFromAnother) {
    using Lines = std::vector<std::string_view>;
    struct Case {
        const char* name;
        Lines known;
        Lines incoming;
        std::size_t from;
    };
    const Case cases[] = {
        {"nothing known", {}, {"a", "b"}, 0},
        {"the same lines", {"a", "b", "c", "d"}, {"a", "b", "c", "d"}, 4},
        {"lines missed at the end", {"a", "b", "c", "d"}, {"c", "d", "e", "f"}, 2},
        {"known reaches further back", {"x", "a", "b", "c"}, {"a", "b", "c", "d"}, 3},
        // A page held lines that a crash kept out of the log.
        {"known lines the other never got", {"a", "b", "c", "d", "e"}, {"a", "b", "c", "y"}, 3},
        {"no lines in common", {"a", "b", "c"}, {"d", "e", "f"}, 0},
        {"one common line among many is chance",
         {"a", "b", "c", "はい"},
         {"d", "はい", "e", "f"},
         0},
        {"a repeated line: the whole stretch decides",
         {"はい", "a", "はい", "b"},
         {"a", "はい", "b", "はい", "c"},
         3},
        {"a short page, all of it found", {"b"}, {"a", "b", "c"}, 2},
        {"one line where one leaves off and the other begins", {"a", "b", "c"}, {"c", "d", "e"}, 1},
        {"equal stretches: the latest",
         {"a", "b", "c"},
         {"a", "b", "c", "x", "a", "b", "c", "y"},
         7},
        // A crash kept f, g out of the log; the next run's y1, y2 reached both.
        {"lines the log lost, then lines both hold",
         {"a", "b", "c", "d", "e", "f", "g", "y1", "y2"},
         {"a", "b", "c", "d", "e", "y1", "y2", "z"},
         7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(continuationIndex(c.known, c.incoming), c.from);
    }
}

} // namespace
} // namespace skiro
