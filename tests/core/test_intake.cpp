#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "core/Intake.h"
#include "core/LineCommands.h"

namespace skiro {
namespace {

using namespace std::string_literals;

class FakeClock final : public Clock {
  public:
    std::uint32_t tick = 1000;
    LocalTime localTime() const override { return {}; }
    std::uint32_t tickCount() const override { return tick; }
};

class FakeRecorder final : public LineRecorder {
  public:
    std::vector<std::string> lines;
    void recordLine(std::string_view line) override { lines.emplace_back(line); }
};

class FakeView final : public IntakeView {
  public:
    struct Invalidation {
        Rect area;
        bool erase;
        friend bool operator==(const Invalidation&, const Invalidation&) = default;
    };
    Rect client{0, 0, 400, 300};
    std::vector<Invalidation> invalidations;
    std::vector<int> steps;
    Rect clientRect() const override { return client; }
    void invalidate(const Rect& area, bool erase) override {
        invalidations.push_back({area, erase});
    }
    void scrollStep(int step) override { steps.push_back(step); }
};

class FakePort final : public SerialPort {
  public:
    std::deque<std::pair<std::string, int>> reads; // data, error
    std::vector<std::string> writes;
    int writeError = 0;
    std::size_t lastCapacity = 0;
    std::string device;
    std::string devicePath() const override { return device; }
    std::string explain(int error) const override { return "why " + std::to_string(error); }
    IoResult read(char* buffer, std::size_t capacity) override {
        lastCapacity = capacity;
        if (reads.empty())
            return {};
        auto [data, error] = reads.front();
        reads.pop_front();
        if (error)
            return {0, error};
        data.copy(buffer, capacity);
        return {std::min(data.size(), capacity), 0};
    }
    IoResult write(std::string_view bytes) override {
        if (writeError)
            return {0, writeError};
        writes.emplace_back(bytes);
        return {bytes.size(), 0};
    }
};

class FakeReadyEvent final : public ReadyEvent {
  public:
    int sets = 0;
    void set() override { ++sets; }
    void reset() override {}
    bool wait(int) override { return true; }
};

class IntakeTest : public ::testing::Test {
  protected:
    void feed(const std::vector<std::string>& chunks) {
        for (const std::string& chunk : chunks)
            intake.receiveText(chunk);
    }
    // Commits as painting does once each complete line has scrolled fully in.
    void drain() {
        while (intake.lineComplete())
            intake.commitLine(0);
    }
    std::vector<std::string> stored() const {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < intake.storedLineCount(); ++i)
            texts.push_back(intake.storedLine(i).text);
        return texts;
    }

    Settings settings;
    FakeClock clock;
    StringTable strings;
    FakeRecorder recorder;
    ViewState state;
    FakeView view;
    FakePort port;
    FakeReadyEvent ready;
    Intake intake{settings, clock, strings, recorder, state, view};
};

TEST_F(IntakeTest, ChunksCutAnywhereMakeTheSameLines) {
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<std::string> recordedAtOnce; // before any commit
        std::string current;
        bool complete;
        std::string backlog;
        std::vector<std::string> storedAfterDrain;
        std::string currentAfterDrain;
    };
    const Case cases[] = {
        {"terminator in the second read",
         {"ABC", "DE\rFG"},
         {"ABCDE"},
         "ABCDE",
         true,
         "FG",
         {"ABCDE"},
         "FG"},
        {"CR LF split across two reads",
         {"ABC\r", "\nDEF"},
         {"ABC"},
         "ABC",
         true,
         "DEF",
         {"ABC"},
         "DEF"},
        {"lone LF joins its neighbours", {"A\nB\r"}, {"AB"}, "AB", true, "", {"AB"}, ""},
        {"two CRs make two empty lines", {"\r\r"}, {""}, "", true, "\r", {"", ""}, ""},
        {"incomplete line is its own backlog", {"AB", "C"}, {}, "ABC", false, "ABC", {}, "ABC"},
        {"NUL is dropped, the rest of the read kept",
         {"AB\0CD\rE\0F"s},
         {"ABCD"},
         "ABCD",
         true,
         "EF",
         {"ABCD"},
         "EF"},
        {"double-byte character split across reads",
         {"\x82", "\xA0\r"},
         {"\x82\xA0"},
         "\x82\xA0",
         true,
         "",
         {"\x82\xA0"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRecorder caseRecorder;
        ViewState caseState;
        Intake fresh{settings, clock, strings, caseRecorder, caseState, view};
        for (const std::string& chunk : c.chunks)
            fresh.receiveText(chunk);
        EXPECT_EQ(caseRecorder.lines, c.recordedAtOnce);
        EXPECT_EQ(fresh.currentLine(), c.current);
        EXPECT_EQ(fresh.lineComplete(), c.complete);
        EXPECT_EQ(fresh.backlog(), c.backlog);
        EXPECT_TRUE(caseState.scrolling);
        while (fresh.lineComplete())
            fresh.commitLine(0);
        std::vector<std::string> storedTexts;
        for (std::size_t i = 0; i < fresh.storedLineCount(); ++i)
            storedTexts.push_back(fresh.storedLine(i).text);
        EXPECT_EQ(storedTexts, c.storedAfterDrain);
        EXPECT_EQ(fresh.currentLine(), c.currentAfterDrain);
        EXPECT_EQ(caseRecorder.lines, c.storedAfterDrain);
        EXPECT_EQ(caseState.scrolling, !c.currentAfterDrain.empty());
    }
}

TEST_F(IntakeTest, LinesPileUpInTheBacklogAndAreRecordedOnlyWhenCurrent) {
    feed({"L1\rL2\r", "L3\rL4"});
    EXPECT_EQ(recorder.lines, std::vector<std::string>{"L1"});
    intake.commitLine(7);
    EXPECT_EQ(state.entryOffset, 7);
    EXPECT_TRUE(state.bandRepaintPending);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"L1", "L2"}));
    EXPECT_EQ(intake.currentLine(), "L2");
    EXPECT_EQ(intake.backlog(), "L3\rL4");
    drain();
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"L1", "L2", "L3"}));
    EXPECT_EQ(stored(), (std::vector<std::string>{"L1", "L2", "L3"}));
    // The unfinished L4 is current; scrolling stays on until painting has shown it.
    EXPECT_EQ(intake.currentLine(), "L4");
    EXPECT_FALSE(intake.lineComplete());
    EXPECT_TRUE(state.scrolling);
    intake.commitLine(3);
    EXPECT_FALSE(state.scrolling);
    EXPECT_EQ(state.entryOffset, 0) << "an incomplete line keeps the offset";
    feed({"\r"});
    EXPECT_EQ(recorder.lines.back(), "L4");
    drain();
    EXPECT_TRUE(intake.hasNothingPending());
    EXPECT_FALSE(state.scrolling);
}

TEST_F(IntakeTest, AtExitWhatWasNotShownToTheEndIsRecordedOnce) {
    struct Case {
        const char* name;
        std::string received;
        std::vector<std::string> atExit; // recorded at exit, after what was recorded before
    } cases[] = {
        {"lines waiting and an unfinished one", "#1:L1\r#1:L2\r\r#1:L4", {"L2", "", "L4"}},
        {"lines waiting, all finished", "#1:L1\r#1:L2\r", {"L2"}},
        {"the current line unfinished", "#1:L1", {"L1"}},
        {"nothing waiting", "#1:L1\r", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRecorder lines;
        ViewState viewState;
        Intake exiting(settings, clock, strings, lines, viewState, view);
        settings.DeleteHandle = 1;
        settings.DeleteBytes = 3;
        exiting.receiveText(c.received);
        const std::size_t before = lines.lines.size();
        exiting.recordUnshownLines();
        EXPECT_EQ(std::vector<std::string>(
                      lines.lines.begin() + static_cast<std::ptrdiff_t>(before), lines.lines.end()),
                  c.atExit);
        // The waiting lines have left the backlog: nothing is recorded a second time.
        if (exiting.lineComplete()) {
            EXPECT_TRUE(exiting.backlog().empty());
        }
    }
}

TEST_F(IntakeTest, StoreKeepsTheNewest100AndReusesTheOldestRecord) {
    for (int i = 1; i <= 100; ++i)
        feed({"line" + std::to_string(i) + "\r"});
    drain();
    ASSERT_EQ(intake.storedLineCount(), 100u);
    const CDisplayLine* firstRecord = &intake.storedLine(0);
    settings.Color.Text = rgb(1, 2, 3);
    settings.OutlineColor = rgb(4, 5, 6);
    feed({"line101\r"});
    drain();
    ASSERT_EQ(intake.storedLineCount(), 100u);
    EXPECT_EQ(intake.storedLine(0).text, "line2");
    EXPECT_EQ(intake.storedLine(98).text, "line100");
    EXPECT_EQ(intake.storedLine(98).textColor, rgb(255, 255, 255));
    const CDisplayLine& newest = intake.storedLine(99);
    EXPECT_EQ(&newest, firstRecord);
    EXPECT_EQ(newest.text, "line101");
    EXPECT_EQ(newest.textColor, rgb(1, 2, 3));
    EXPECT_EQ(newest.outlineColor, rgb(4, 5, 6));
}

TEST_F(IntakeTest, TextAtRestRisesOneStepAtOnceAndRepaintsTheEntryBand) {
    settings.Step = 3;
    state.entryOffset = 40;
    clock.tick = 5555;
    feed({"AB"});
    EXPECT_EQ(view.steps, std::vector<int>{3});
    EXPECT_EQ(view.invalidations,
              (std::vector<FakeView::Invalidation>{{Rect{0, 260, 400, 300}, false}}));
    EXPECT_EQ(state.lastPaintTick, 5555u);
    // While scrolling, more text only waits for the ticks.
    feed({"C"});
    EXPECT_EQ(view.steps.size(), 1u);
    // Fully shown but incomplete: the next piece moves the picture at once again.
    intake.commitLine(0);
    feed({"D"});
    EXPECT_EQ(view.steps.size(), 2u);
}

TEST_F(IntakeTest, ReadOfOnlyLfAfterACommittedLineMovesNothing) {
    feed({"A\r"});
    drain();
    EXPECT_FALSE(state.scrolling);
    view.steps.clear();
    feed({"\n", "\0"s});
    EXPECT_TRUE(view.steps.empty());
    EXPECT_FALSE(state.scrolling);
    EXPECT_TRUE(intake.hasNothingPending());
}

// Far more text than the reserved backlog waits behind a slow display while more keeps
// arriving; consumed text is dropped from the front as it goes, in order and without loss.
TEST_F(IntakeTest, LongBacklogDrainsInOrderWhileTextKeepsArriving) {
    std::vector<std::string> expected;
    std::string burst;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back("line" + std::to_string(i));
        burst += expected.back() + "\r\n";
    }
    const std::size_t half = burst.size() / 2;
    feed({burst.substr(0, half)});
    for (int i = 0; i < 9000; ++i)
        intake.commitLine(0);
    feed({burst.substr(half), "open"});
    drain();
    EXPECT_EQ(recorder.lines, expected);
    EXPECT_EQ(intake.storedLine(99).text, expected.back());
    EXPECT_EQ(intake.currentLine(), "open");
    EXPECT_EQ(intake.backlog(), "open");
}

TEST_F(IntakeTest, GrowingRowIsRedrawnWithEraseInsteadOfTheBand) {
    settings.Direction = 1;
    state.entryOffset = 30;
    state.partialRowRect = Rect{0, 0, 50, 300};
    feed({"X"});
    EXPECT_EQ(view.invalidations,
              (std::vector<FakeView::Invalidation>{{Rect{0, 0, 50, 300}, true}}));
    EXPECT_TRUE(state.partialRowRect.isEmpty());
    EXPECT_EQ(view.steps.size(), 1u);
    // Vertical writing: the entry band is the strip at the left edge.
    intake.commitLine(0);
    view.invalidations.clear();
    feed({"Y"});
    EXPECT_EQ(view.invalidations,
              (std::vector<FakeView::Invalidation>{{Rect{0, 0, 30, 300}, false}}));
}

TEST_F(IntakeTest, TextBehindACompleteLineDoesNotTouchTheView) {
    feed({"A\r"});
    view.invalidations.clear();
    view.steps.clear();
    state.partialRowRect = Rect{0, 200, 400, 300};
    feed({"B"});
    EXPECT_TRUE(view.invalidations.empty());
    EXPECT_TRUE(view.steps.empty());
    EXPECT_FALSE(state.partialRowRect.isEmpty());
}

TEST_F(IntakeTest, EchoFollowsEchoBackAndTxCrConv) {
    struct Case {
        const char* name;
        int echoBack;
        int crConv;
        std::vector<std::string> chunks;
        std::vector<std::string> echoed;
    };
    const Case cases[] = {
        {"CR LF with conversion", 1, 1, {"A\r\n"}, {"A\r\n"}},
        {"CR LF without conversion", 1, 0, {"A\r\n"}, {"A\r"}},
        {"CR LF split, with conversion", 1, 1, {"A\r", "\nB"}, {"A\r\n", "B"}},
        {"every CR gains an LF", 1, 1, {"\r\rx\r"}, {"\r\n\r\nx\r\n"}},
        {"echo off", 0, 1, {"A\r\n"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.writes.clear();
        settings.EchoBack = c.echoBack;
        settings.TxCrConv = c.crConv;
        intake.setSession(&port, &ready);
        feed(c.chunks);
        EXPECT_EQ(port.writes, c.echoed);
    }
}

TEST_F(IntakeTest, FailedEchoIsReportedOnceAndTheTextIsStillTakenIn) {
    settings.EchoBack = 1;
    port.writeError = 5; // EIO
    port.device = "/dev/ttyUSB0";
    intake.setSession(&port, &ready);
    feed({"A\r", "B"});
    EXPECT_EQ(recorder.lines, std::vector<std::string>{"A"});
    EXPECT_EQ(intake.backlog(), "B");
    const auto failure = intake.takeEchoFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->error, 5);
    // 送信失敗。\nエラーコード:5\n/dev/ttyUSB0\n…: the device on a line of its own, and the
    // system's explanation of the code last.
    EXPECT_EQ(failure->message, "\x91\x97\x90M\x8E\xB8\x94s\x81"
                                "B\n\x83G\x83\x89\x81[\x83R\x81[\x83h:5\n/dev/ttyUSB0\nwhy 5");
    EXPECT_FALSE(intake.takeEchoFailure().has_value());
}

TEST_F(IntakeTest, SendingWithoutAPortDoesNothing) {
    EXPECT_TRUE(intake.sendText("abc").ok());
    intake.setSession(&port, &ready);
    EXPECT_TRUE(intake.sendText("abc").ok());
    EXPECT_EQ(port.writes, std::vector<std::string>{"abc"});
    port.writeError = 19;
    const SendResult failed = intake.sendText("d");
    EXPECT_EQ(failed.error, 19);
    EXPECT_FALSE(failed.ok());
}

TEST_F(IntakeTest, ReadPortTakesInWhatArrivedAndDropsOnlyNuls) {
    EXPECT_EQ(intake.readPort(), 0u) << "no port open";
    intake.setSession(&port, &ready);
    port.reads = {{"AB\0CD\rE"s, 0}, {"", 0}, {"", 5}, {std::string(5000, 'x'), 0}};
    EXPECT_EQ(intake.readPort(), 7u);
    EXPECT_EQ(port.lastCapacity, 4096u);
    EXPECT_EQ(recorder.lines, std::vector<std::string>{"ABCD"});
    EXPECT_EQ(intake.backlog(), "E");
    EXPECT_EQ(intake.readPort(), 0u) << "nothing waiting";
    EXPECT_EQ(intake.readPort(), 0u) << "failed read";
    EXPECT_EQ(intake.readPort(), 4096u);
    EXPECT_EQ(intake.backlog().size(), 1u + 4096u);
}

TEST_F(IntakeTest, DataReadyReadsOnlyWhenTheViewIsIdleAndAlwaysSetsTheEvent) {
    struct Case {
        const char* name;
        bool eventQueued;
        bool paintPending;
        std::size_t read;
    };
    const Case cases[] = {
        {"idle view reads", false, false, 2},
        {"queued event defers", true, false, 0},
        {"pending paint defers", false, true, 0},
        {"both defer", true, true, 0},
    };
    intake.setSession(&port, &ready);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.reads = {{"ab", 0}};
        const int setsBefore = ready.sets;
        EXPECT_EQ(intake.onDataReady(c.eventQueued, c.paintPending), c.read);
        EXPECT_EQ(ready.sets, setsBefore + 1);
        EXPECT_EQ(port.reads.empty(), c.read != 0) << "unread data stays in the driver";
    }
    intake.setSession(nullptr, nullptr);
    EXPECT_EQ(intake.onDataReady(false, false), 0u);
}

TEST_F(IntakeTest, RecordsTheLineAfterLeadingByteDeletionButStoresItWhole) {
    settings.DeleteHandle = 1;
    settings.DeleteBytes = 3;
    feed({"#1:abc\rxy\r"});
    drain();
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"abc", ""}));
    EXPECT_EQ(stored(), (std::vector<std::string>{"#1:abc", "xy"}));
}

TEST(LineCommands, LeadingByteDeletion) {
    // #1: こんにちは
    const std::string line = "#1: \x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD";
    struct Case {
        const char* name;
        int deleteHandle;
        int deleteBytes;
        std::size_t start;
    };
    const Case cases[] = {
        {"off", 0, 4, 0},
        {"on with 0 bytes", 1, 0, 0},
        {"negative count", 1, -2, 0},
        {"prefix and space hidden", 1, 4, 4},
        {"ends inside a double-byte character", 1, 5, 5},
        {"exactly the line", 1, 14, 14},
        {"longer than the line", 1, 256, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        settings.DeleteHandle = c.deleteHandle;
        settings.DeleteBytes = c.deleteBytes;
        EXPECT_EQ(skipLeadingBytes(line, settings), c.start);
    }
}

TEST(LineCommands, ExtendedCommands) {
    constexpr Colour kText = 0x111111, kOutline = 0x222222;
    struct Case {
        const char* name;
        int extCommands;
        std::string text;
        std::size_t start;
        bool show;
        Colour textColor;
        Colour outlineColor;
    };
    const Case cases[] = {
        {"text colour red", 1, "\x1CTCff0000:\x96{\x93\xFA\x82\xCD", 10, true, 0x0000FF, kOutline},
        {"outline green, lower case name, empty row", 1, "\x1Coc00FF00:", 10, true, kText,
         0x00FF00},
        {"unknown command shows nothing", 1, "\x1CXX", 3, false, kText, kOutline},
        {"unknown command still stripped", 1, "\x1CXX:ab", 4, true, kText, kOutline},
        {"five colour bytes leave the colour", 1, "\x1CTC12345", 8, false, kText, kOutline},
        {"no colour bytes", 1, "\x1CTC", 3, false, kText, kOutline},
        {"non-digits count as 0", 1, "\x1CTCzz1g0A:x", 10, true, 0x0A1000, kOutline},
        {"colon among the colour bytes", 1, "\x1CTC:12345:x", 4, true, 0x452301, kOutline},
        {"mixed case name", 1, "\x1CtC0000ff:", 10, true, 0xFF0000, kOutline},
        {"commands off: FS shown", 0, "\x1CTCff0000:a", 0, true, kText, kOutline},
        {"no FS first", 1, "a\x1CTCff0000:", 0, true, kText, kOutline},
        {"empty line", 1, "", 0, true, kText, kOutline},
        {"NUL ends the line", 1, "\x1CTC\0:"s, 3, false, kText, kOutline},
        {"NUL after the colon ends the colour bytes", 1,
         "\x1CTC12:\0"
         "345"s,
         6, true, kText, kOutline},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        settings.ExtCommands = c.extCommands;
        bool show = false;
        Colour textColor = kText, outlineColor = kOutline;
        EXPECT_EQ(parseExtendedCommand(c.text, settings, show, textColor, outlineColor), c.start);
        EXPECT_EQ(show, c.show);
        EXPECT_EQ(textColor, c.textColor);
        EXPECT_EQ(outlineColor, c.outlineColor);
    }
}

// The same byte stream, cut anywhere (CR LF, double-byte characters and FS commands split) and
// committed at any moment, always yields the same lines in the same order, each recorded once.
TEST_F(IntakeTest, RandomCutsAndCommitsNeverChangeTheLines) {
    const std::vector<std::string> pieces = {
        "\x82\xA0", "\x93\xFA\x96{", "abc", "#1:", "\x1CTCff0000:", "\x1Coc", "\t", " ",
        "\x81",     "\xE0\x40",      "\0"s, "x"};
    const std::vector<std::string> terminators = {"\r", "\r\n", "\n\r", "\r\n\n"};
    std::mt19937 random(20240601);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::string stream;
        std::vector<std::string> expected;
        std::string line;
        const int lineCount = std::uniform_int_distribution<int>(0, 60)(random);
        for (int i = 0; i < lineCount; ++i) {
            const int length = std::uniform_int_distribution<int>(0, 6)(random);
            for (int k = 0; k < length; ++k) {
                const std::string& piece = pieces[random() % pieces.size()];
                stream += piece;
                for (const char ch : piece)
                    if (ch != '\0')
                        line += ch;
                if (random() % 8 == 0) { // a lone LF joins its neighbours
                    stream += '\n';
                }
            }
            stream += terminators[random() % terminators.size()];
            expected.push_back(line);
            line.clear();
        }
        stream += "tail";

        FakeRecorder roundRecorder;
        ViewState roundState;
        Intake subject{settings, clock, strings, roundRecorder, roundState, view};
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t length = std::uniform_int_distribution<std::size_t>(1, 9)(random);
            subject.receiveText(std::string_view(stream).substr(at, length));
            at += length;
            // Painting commits whenever it finds the current line shown, complete or not.
            const int commits = std::uniform_int_distribution<int>(0, 2)(random);
            for (int k = 0; k < commits; ++k)
                subject.commitLine(0);
        }
        while (subject.lineComplete())
            subject.commitLine(0);
        EXPECT_EQ(roundRecorder.lines, expected);
        ASSERT_EQ(subject.storedLineCount(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(subject.storedLine(i).text, expected[i]);
        EXPECT_EQ(subject.currentLine(), "tail");
    }
}

} // namespace
} // namespace skiro
