#include "core/Intake.h"

#include <algorithm>

#include "core/LineCommands.h"
#include "core/TextFormat.h"

namespace skiro {

namespace {

constexpr char kCr = '\r';

// Consumed backlog is removed once it is both large and at least half of the buffer, so each
// byte is moved at most a bounded number of times.
constexpr std::size_t kCompactThreshold = 65536;

} // namespace

Intake::Intake(const Settings& settings, const Clock& clock, const StringTable& strings,
               LineRecorder& recorder, ViewState& state, IntakeView& view)
    : m_settings(settings), m_clock(clock), m_strings(strings), m_recorder(recorder),
      m_state(state), m_view(view), m_readBuffer(kReadSize) {
    m_store.reserve(kStoreCapacity);
    m_currentLine.reserve(4095);
    m_backlog.reserve(65535);
    m_incoming.reserve(kReadSize);
    m_echo.reserve(2047);
}

void Intake::setSession(SerialPort* port, ReadyEvent* readyEvent) {
    m_port = port;
    m_readyEvent = readyEvent;
}

bool Intake::receiveText(std::string_view text) {
    take(text);
    if (m_settings.EchoBack && !m_incoming.empty())
        echo(m_incoming);
    return true;
}

void Intake::endArrivingLine() {
    if (!m_arriving.empty())
        take("\r");
}

void Intake::take(std::string_view text) {
    // Lines end with CR alone: an LF after a CR, or on its own, is dropped, so CR LF split
    // across two reads never makes an empty line. A NUL carries nothing to show; dropping it
    // (rather than ending the text there) keeps the bytes after it.
    m_incoming.clear();
    for (const char c : text) {
        if (c != '\n' && c != '\0')
            m_incoming += c;
    }
    // A read of nothing but LF (the second half of a CR LF) needs no room: the picture must not
    // move for it.
    if (m_incoming.empty())
        return;

    m_lastArrival = m_clock.tickCount();
    const auto noteWaitingLines = [this](std::string_view added) {
        for (std::size_t n = std::count(added.begin(), added.end(), kCr); n > 0; --n)
            m_waitingArrivals.push_back(m_lastArrival);
    };
    if (m_lineComplete) {
        // The text waits behind the line that is still entering.
        m_backlog.append(m_incoming);
        noteWaitingLines(m_incoming);
    } else {
        m_currentArrival = m_lastArrival;
        // The current line is the whole backlog and holds no CR, so only the new text needs
        // looking at for the terminator.
        const std::size_t cr = m_incoming.find(kCr);
        if (cr == std::string::npos) {
            m_currentLine.append(m_incoming);
        } else {
            m_currentLine.append(m_incoming, 0, cr);
            m_backlog.assign(m_incoming, cr + 1);
            m_backlogStart = 0;
            noteWaitingLines(m_backlog);
            completeCurrentLine();
        }
        startScrolling();
    }
    noteArrival(m_incoming);
}

void Intake::completeCurrentLine() {
    m_lineComplete = true;
    const std::string_view line = m_currentLine;
    m_recorder.recordLine(line.substr(skipLeadingBytes(line, m_settings)));
}

void Intake::noteArrival(std::string_view text) {
    // Followers outside the window get each line as its terminator arrives, however far the
    // display is behind.
    std::size_t start = 0;
    for (std::size_t cr = text.find(kCr); cr != std::string_view::npos;
         cr = text.find(kCr, start)) {
        m_arriving.append(text, start, cr - start);
        if (m_observer)
            m_observer->lineCompleted(m_arriving);
        for (LineObserver* other : m_others)
            other->lineCompleted(m_arriving);
        m_arriving.clear();
        start = cr + 1;
    }
    if (start < text.size()) {
        m_arriving.append(text, start);
        if (m_observer)
            m_observer->lineGrowing(m_arriving);
        for (LineObserver* other : m_others)
            other->lineGrowing(m_arriving);
    }
}

void Intake::startScrolling() {
    // The growing row is redrawn where it lies.
    if (!m_state.partialRowRect.isEmpty())
        m_view.invalidate(m_state.partialRowRect, true);
    if (!m_state.scrolling) {
        m_state.scrolling = true;
        if (m_state.partialRowRect.isEmpty()) {
            const Rect band =
                entryBand(m_view.clientRect(), m_settings.Direction, m_state.entryOffset);
            if (!band.isEmpty())
                m_view.invalidate(band, false);
        }
        // New text rises at once rather than waiting for the next tick.
        m_view.scrollStep(m_settings.Step);
        m_state.lastPaintTick = m_clock.tickCount();
    }
    m_state.partialRowRect = Rect{};
}

void Intake::echo(std::string_view text) {
    m_echo.clear();
    for (const char c : text) {
        m_echo += c;
        if (c == kCr && m_settings.TxCrConv)
            m_echo += '\n';
    }
    SendResult sent = sendText(m_echo);
    if (!sent.ok() && !m_echoFailure)
        m_echoFailure = std::move(sent);
}

std::optional<SendResult> Intake::takeEchoFailure() {
    std::optional<SendResult> failure = std::move(m_echoFailure);
    m_echoFailure.reset();
    return failure;
}

SendResult Intake::sendText(std::string_view text) {
    if (!m_port || text.empty())
        return {};
    const IoResult written = m_port->write(text);
    if (written.ok())
        return {};
    SendResult failure;
    failure.error = written.error;
    failure.message = m_strings.text(IDS_SEND_FAILED) +
                      formatNumbers(m_strings.text(IDS_ERROR_CODE), {written.error});
    if (const std::string device = m_port->devicePath(); !device.empty())
        failure.message += "\n" + device;
    if (const std::string explanation = m_port->explain(written.error); !explanation.empty())
        failure.message += "\n" + explanation;
    return failure;
}

std::size_t Intake::readPort() {
    if (!m_port)
        return 0;
    const IoResult read = m_port->read(m_readBuffer.data(), kReadSize);
    if (!read.ok() || read.count == 0)
        return 0;
    const std::size_t count = std::min(read.count, kReadSize);
    receiveText(std::string_view(m_readBuffer.data(), count));
    return count;
}

std::size_t Intake::onDataReady(bool eventQueued, bool paintPending) {
    std::size_t count = 0;
    if (!eventQueued && !paintPending)
        count = readPort();
    // Whatever happened, the watch thread may report the next arrival.
    if (m_readyEvent)
        m_readyEvent->set();
    return count;
}

void Intake::commitLine(std::int32_t offset) {
    if (m_lineComplete) {
        m_state.entryOffset = offset;
        storeLine(m_currentLine, m_currentSerial);
        m_currentSerial = m_nextSerial++;
        const std::size_t cr = m_backlog.find(kCr, m_backlogStart);
        if (cr != std::string::npos) {
            m_currentLine.assign(m_backlog, m_backlogStart, cr - m_backlogStart);
            m_backlogStart = cr + 1;
            m_currentArrival = m_lastArrival;
            if (!m_waitingArrivals.empty()) {
                m_currentArrival = m_waitingArrivals.front();
                m_waitingArrivals.pop_front();
            }
            if (m_backlogStart == m_backlog.size()) {
                m_backlog.clear();
                m_backlogStart = 0;
            } else if (m_backlogStart >= kCompactThreshold &&
                       m_backlogStart * 2 >= m_backlog.size()) {
                m_backlog.erase(0, m_backlogStart);
                m_backlogStart = 0;
            }
            completeCurrentLine();
        } else {
            m_currentLine.assign(m_backlog, m_backlogStart);
            m_currentArrival = m_lastArrival;
            m_backlog.clear();
            m_backlogStart = 0;
            m_lineComplete = false;
        }
        m_state.scrolling = !hasNothingPending();
    } else {
        m_state.scrolling = false;
    }
    m_state.bandRepaintPending = true;
}

void Intake::recordUnshownLines() {
    // Behind a complete current line: the waiting lines, the last perhaps without its
    // terminator. Otherwise the current line itself is the one without a terminator.
    std::string_view rest = m_lineComplete ? std::string_view(m_backlog).substr(m_backlogStart)
                                           : std::string_view(m_currentLine);
    m_recorder.recordUnshown([&](std::string_view& line) {
        if (rest.empty())
            return false;
        const std::size_t cr = rest.find(kCr);
        line = rest.substr(0, cr);
        rest.remove_prefix(cr == std::string_view::npos ? rest.size() : cr + 1);
        line.remove_prefix(skipLeadingBytes(line, m_settings));
        return true;
    });
    if (m_lineComplete) {
        m_backlog.clear();
        m_backlogStart = 0;
    }
    m_waitingArrivals.clear();
}

void Intake::appendStoredLine(std::string_view text) {
    storeLine(text, m_nextSerial++);
}

void Intake::storeLine(std::string_view text, std::uint64_t serial) {
    if (m_store.size() < kStoreCapacity) {
        m_store.emplace_back(std::string(text), m_settings.Color.Text, m_settings.OutlineColor);
        m_store.back().serial = serial;
        return;
    }
    // The oldest line becomes the newest; its buffers are reused.
    CDisplayLine& line = m_store[m_oldest];
    line.text.assign(text);
    line.textColor = m_settings.Color.Text;
    line.outlineColor = m_settings.OutlineColor;
    line.serial = serial;
    m_oldest = (m_oldest + 1) % kStoreCapacity;
}

const CDisplayLine& Intake::storedLine(std::size_t index) const {
    return m_store[(m_oldest + index) % m_store.size()];
}

std::string_view Intake::backlog() const {
    if (!m_lineComplete)
        return m_currentLine;
    return std::string_view(m_backlog).substr(m_backlogStart);
}

} // namespace skiro
