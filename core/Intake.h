#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/DisplayLine.h"
#include "core/IntakeView.h"
#include "core/LineObserver.h"
#include "core/ReadyEvent.h"
#include "core/Recorder.h"
#include "core/SerialPort.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "core/ViewState.h"

namespace skiro {

// A failed write to the port: the system's error code and the message the user is shown once.
struct SendResult {
    int error = 0;
    std::string message; // "送信失敗。\n" + "エラーコード:<code>", Shift-JIS
    bool ok() const { return error == 0; }
};

// Turns received bytes, in chunks cut anywhere, into display lines. Painting asks it for the
// current line and commits the line once it is fully shown; the line store keeps the last 100
// shown lines. Each line is recorded once, in arrival order, when it is both complete and
// current. Lives in the view, on the user-interface thread.
class Intake {
  public:
    static constexpr std::size_t kStoreCapacity = 100;
    static constexpr std::size_t kReadSize = 4096;

    Intake(const Settings& settings, const Clock& clock, const StringTable& strings,
           LineRecorder& recorder, ViewState& state, IntakeView& view);

    // The open serial session, or nullptrs while the port is closed. The store, the current line
    // and the backlog outlive sessions.
    void setSession(SerialPort* port, ReadyEvent* readyEvent);

    // Who else follows the lines as they arrive (the audience web view); nullptr for nobody.
    void setObserver(LineObserver* observer) { m_observer = observer; }
    // Others who follow the lines beside it (the relay to other displays); each is told after
    // the web view. An observer is added once and removed before it goes.
    void addObserver(LineObserver* observer) { m_others.push_back(observer); }
    void removeObserver(LineObserver* observer) { std::erase(m_others, observer); }

    // The one entry for text from any road: port, typed with local echo, the external feeds.
    // LF and NUL bytes are dropped; CR ends a line. Echoes the text when EchoBack is on.
    // Always true, which the external feeds pass on as their answer.
    bool receiveText(std::string_view text);

    // Ends the line still arriving, if any, as a CR would, but with nothing echoed: the device
    // it came from went away in the middle of it.
    void endArrivingLine();

    // Reads what the port has (at most 4096 bytes) into receiveText. Returns the byte count,
    // 0 when no port is open or the read failed (not reported).
    std::size_t readPort();

    // Writes text to the open port in one write; nothing when no port is open.
    SendResult sendText(std::string_view text);

    // The first echo that failed since the last call, for the view to show once.
    std::optional<SendResult> takeEchoFailure();

    // Handler of the watch thread's data-ready notification: reads only when the view has no
    // queued event and no pending paint, so that scrolling is never delayed by input, and sets
    // the ready event in every case. Returns the bytes read.
    std::size_t onDataReady(bool eventQueued, bool paintPending);

    // Painting found the current line entirely inside the window, `offset` pixels short of the
    // incoming edge (0 from the stall watchdog). A complete line joins the store and the next
    // one comes out of the backlog; an incomplete one stops the scrolling until more arrives.
    void commitLine(std::int32_t offset);

    // Adds a line to the store with the current text and outline colours, reusing the oldest
    // line once the store holds 100.
    void appendStoredLine(std::string_view text);

    bool hasNothingPending() const { return m_currentLine.empty() && !m_lineComplete; }

    // At exit: records, in order and after a stamp saying so, the text that was not shown to
    // the end: the lines still waiting behind the current line, and the last line that never
    // got its terminator. They would be recorded as each became current and complete, which no
    // longer happens once the window closes; the log promises every received line. The
    // waiting lines leave the backlog, so nothing is recorded twice.
    void recordUnshownLines();

    const std::string& currentLine() const { return m_currentLine; }
    // Which line the current line is: it changes when the current line is replaced rather than
    // grown, and the line keeps it in the store. Painting keeps the rows it cut by it.
    std::uint64_t currentLineSerial() const { return m_currentSerial; }
    bool lineComplete() const { return m_lineComplete; }
    // Text received after the current line; while the current line is incomplete that is the
    // current line itself.
    std::string_view backlog() const;

    // When the text waiting to enter arrived (clock ticks), for the display to keep up: the
    // current line's latest text, and the terminator of each complete line behind it, oldest
    // first.
    std::uint32_t currentArrival() const { return m_currentArrival; }
    std::size_t waitingLineCount() const { return m_waitingArrivals.size(); }
    std::uint32_t waitingArrival(std::size_t index) const { return m_waitingArrivals[index]; }
    // The text received since the last terminator: the line still arriving, wherever the
    // display is.
    const std::string& arrivingLine() const { return m_arriving; }

    std::size_t storedLineCount() const { return m_store.size(); }
    // 0 is the oldest stored line.
    const CDisplayLine& storedLine(std::size_t index) const;

  private:
    // receiveText without the echo.
    void take(std::string_view text);
    void completeCurrentLine();
    void storeLine(std::string_view text, std::uint64_t serial);
    void noteArrival(std::string_view text);
    void startScrolling();
    void echo(std::string_view text);

    const Settings& m_settings;
    const Clock& m_clock;
    const StringTable& m_strings;
    LineRecorder& m_recorder;
    ViewState& m_state;
    IntakeView& m_view;
    SerialPort* m_port = nullptr;
    ReadyEvent* m_readyEvent = nullptr;
    LineObserver* m_observer = nullptr;
    std::vector<LineObserver*> m_others;

    // Ring of stored lines: once full, the oldest is overwritten in place, never freed.
    std::vector<CDisplayLine> m_store;
    std::size_t m_oldest = 0;

    std::string m_currentLine;
    std::uint64_t m_currentSerial = 1;
    std::uint64_t m_nextSerial = 2;
    bool m_lineComplete = false;
    // While the current line is complete: the text after its terminator, from m_backlogStart
    // on. Consumed lines are only skipped over and compacted away in bulk, so that a long
    // backlog costs time in proportion to its bytes. Empty while the current line is incomplete
    // (the current line then is the backlog).
    std::string m_backlog;
    std::size_t m_backlogStart = 0;

    std::deque<std::uint32_t> m_waitingArrivals; // one per complete line in the backlog
    std::uint32_t m_currentArrival = 0;
    std::uint32_t m_lastArrival = 0;
    std::string m_arriving;

    std::string m_incoming; // the text being taken in, without LF and NUL
    std::string m_echo;
    std::vector<char> m_readBuffer;
    std::optional<SendResult> m_echoFailure;
};

} // namespace skiro
