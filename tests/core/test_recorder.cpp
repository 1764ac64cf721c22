#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "core/Recorder.h"
#include "core/TextFormat.h"

namespace skiro {
namespace {

namespace fs = std::filesystem;

class FakeClock final : public Clock {
  public:
    LocalTime now{1999, 4, 1, 9, 5, 7};
    LocalTime localTime() const override { return now; }
    std::uint32_t tickCount() const override { return 0; }
};

class FakeClipboard final : public Clipboard {
  public:
    std::vector<std::string> texts;
    void setText(std::string_view text) override { texts.emplace_back(text); }
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "skiro-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        recorder.setLogFolder(folder.string());
        recorder.setClipboard(&clipboard);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path todaysLog() const { return folder / "990401.log"; }

    fs::path folder;
    Settings settings;
    FakeClock clock;
    StringTable strings;
    FakeClipboard clipboard;
    Recorder recorder{settings, clock, strings, ""};
};

TEST_F(RecorderTest, LogIsNamedAfterTheLocalDateOfEachLine) {
    struct Case {
        const char* name;
        LocalTime when;
        const char* file;
    };
    const Case cases[] = {
        {"last second of 1999", {1999, 12, 31, 23, 59, 59}, "991231.log"},
        {"first line after midnight", {2000, 1, 1, 0, 0, 1}, "000101.log"},
        {"year 2105 wraps to two digits", {2105, 10, 9, 12, 0, 0}, "051009.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock.now = c.when;
        recorder.recordLine(c.name);
        EXPECT_EQ(readFile(folder / c.file), std::string(c.name) + "\r\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
}

TEST_F(RecorderTest, AppendsBytesUnchangedToAnExistingLog) {
    writeFile(todaysLog(), "earlier run\r\n");
    // 本日は, an FS colour command, a TAB and a lone lead byte: all logged as received.
    const std::string line = "\x1CTCff0000:\x96{\x93\xFA\x82\xCD\t\x81";
    recorder.recordLine(line);
    recorder.recordLine("");
    EXPECT_EQ(readFile(todaysLog()), "earlier run\r\n" + line + "\r\n\r\n");
}

TEST_F(RecorderTest, LogAndClipboardFollowTheSwitchesAtEachCall) {
    struct Case {
        const char* name;
        int log;
        int relay;
        const char* expectedLog;
        std::vector<std::string> expectedClipboard;
    };
    const Case cases[] = {
        {"defaults: log only", 1, 0, "x\r\n", {}},
        {"relay only", 0, 1, "", {"x\r\n"}},
        {"both", 1, 1, "x\r\n", {"x\r\n"}},
        {"neither", 0, 0, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(todaysLog());
        clipboard.texts.clear();
        settings.Log = c.log;
        settings.ClipboardRelay = c.relay;
        recorder.recordLine("x");
        EXPECT_EQ(readFile(todaysLog()), c.expectedLog);
        EXPECT_EQ(clipboard.texts, c.expectedClipboard);
    }
}

TEST_F(RecorderTest, StampsCarryTheLocalDateAndTimeAndGoToBothPlaces) {
    settings.ClipboardRelay = 1;
    recorder.recordStamp(IDS_START_STAMP);
    clock.now = {1999, 4, 1, 17, 30, 0};
    recorder.recordStamp(IDS_STOP_STAMP);
    const std::string start = "1999/04/01 09:05:07 \x83X\x83^\x81[\x83g"; // スタート
    const std::string stop = "1999/04/01 17:30:00 \x83X\x83g\x83"
                             "b\x83v"; // ストップ
    EXPECT_EQ(readFile(todaysLog()), start + "\r\n" + stop + "\r\n");
    EXPECT_EQ(clipboard.texts, (std::vector<std::string>{start + "\r\n", stop + "\r\n"}));
}

TEST_F(RecorderTest, StampTextFromABundleIsNeverUsedAsAPrintfFormat) {
    strings.set(IDS_START_STAMP, "%s %n %d/%02d %5d|%-3d %%");
    recorder.recordStamp(IDS_START_STAMP);
    EXPECT_EQ(readFile(todaysLog()), "%s %n 1999/04     1|%-3d %\r\n");
}

TEST(TextFormat, FillsNumberConversionsInOrder) {
    EXPECT_EQ(formatNumbers("\x83G\x83\x89\x81[\x83R\x81[\x83h:%u", {5}),
              "\x83G\x83\x89\x81[\x83R\x81[\x83h:5");
    EXPECT_EQ(formatNumbers("[%02d:%02d:%02d]", {14, 30, 0}), "[14:30:00]");
    EXPECT_EQ(formatNumbers("%04d %d %d", {7, -3}), "0007 -3 %d");
}

TEST_F(RecorderTest, UnwritableFolderLosesTheLineForTheLogOnlySilently) {
    writeFile(folder / "plain-file", "");
    recorder.setLogFolder((folder / "plain-file").string()); // not a folder: every open fails
    settings.ClipboardRelay = 1;
    recorder.recordLine("still relayed");
    EXPECT_EQ(clipboard.texts, std::vector<std::string>{"still relayed\r\n"});
    EXPECT_FALSE(appendRecord((folder / "missing" / "x.log").string(), "x\r\n"));
}

TEST_F(RecorderTest, LogHeldByAnotherWriterIsNotWaitedForIndefinitely) {
    writeFile(todaysLog(), "");
    const int other = open(todaysLog().c_str(), O_WRONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    settings.ClipboardRelay = 1;
    recorder.recordLine("while locked");
    close(other);
    recorder.recordLine("after");
    EXPECT_EQ(readFile(todaysLog()), "after\r\n");
    EXPECT_EQ(clipboard.texts.size(), 2u);
}

// A file size limit gives a real short write on a real file, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

  private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(RecorderTest, ShortWriteIsCutBackSoNoTornLineRemains) {
    const std::string before = "whole line\r\n"; // 12 bytes
    struct Case {
        const char* name;
        rlim_t limit;
        bool fits;
    };
    const Case cases[] = {
        {"exactly enough room", 20, true},
        {"room for 4 of 8 bytes", 16, false},
        {"room for 7 of 8 bytes", 19, false},
        {"no room at all", 12, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(todaysLog(), before);
        {
            FileSizeLimit limit(c.limit);
            recorder.recordLine("abcdef"); // 8 bytes with CR LF
        }
        EXPECT_EQ(readFile(todaysLog()), c.fits ? before + "abcdef\r\n" : before);
    }
    // Once there is room again, logging carries on right after the last whole line.
    recorder.recordLine("next");
    EXPECT_EQ(readFile(todaysLog()), before + "next\r\n");
}

} // namespace
} // namespace skiro
