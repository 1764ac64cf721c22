#include "core/Recorder.h"

#include <cstdio>

#include "core/SystemCalls.h"
#include "core/TextFormat.h"

namespace skiro {

bool appendRecord(const std::string& path, std::string_view record) {
    LogAppend log(path);
    return log.ok() && log.append(record);
}

namespace {

// The unshown lines at exit go out in writes of about this size.
constexpr std::size_t kUnshownPieceBytes = 4 * 1024 * 1024;

} // namespace

Recorder::Recorder(const Settings& settings, const Clock& clock, const StringTable& strings,
                   std::string logFolder)
    : m_settings(settings), m_clock(clock), m_strings(strings), m_logFolder(std::move(logFolder)) {
    m_record.reserve(4096);
}

std::string Recorder::logPath(const LocalTime& date) const {
    char name[16];
    std::snprintf(name, sizeof name, "%02u%02u%02u.log", static_cast<unsigned>(date.year % 100),
                  static_cast<unsigned>(date.month % 100), static_cast<unsigned>(date.day % 100));
    std::string path = m_logFolder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

void Recorder::recordLine(std::string_view sjisLine) {
    m_record.assign(sjisLine);
    m_record += "\r\n";
    // The date is taken for every line, so the first line after midnight opens the new day's
    // file.
    if (m_settings.Log)
        appendRecord(logPath(m_clock.localTime()), m_record);
    if (m_settings.ClipboardRelay && m_clipboard)
        m_clipboard->setText(m_record);
}

void Recorder::recordUnshown(const std::function<bool(std::string_view& line)>& next) {
    std::string_view line;
    if (!m_settings.Log || !next(line))
        return;
    const LocalTime now = m_clock.localTime();
    LogAppend log(logPath(now));
    if (!log.ok())
        return;
    std::string piece =
        formatNumbers(m_strings.text(IDS_UNSHOWN_STAMP),
                      {now.year, now.month, now.day, now.hour, now.minute, now.second});
    piece += "\r\n";
    piece.reserve(kUnshownPieceBytes + 4096);
    do {
        piece += line;
        piece += "\r\n";
        if (piece.size() >= kUnshownPieceBytes) {
            if (!log.append(piece))
                return;
            piece.clear();
        }
    } while (next(line));
    if (!piece.empty())
        log.append(piece);
}

void Recorder::recordStamp(int stringId, std::string_view detail) {
    const LocalTime now = m_clock.localTime();
    std::string line = formatNumbers(
        m_strings.text(stringId), {now.year, now.month, now.day, now.hour, now.minute, now.second});
    if (!detail.empty()) {
        line += ' ';
        line += detail;
    }
    recordLine(line);
}

} // namespace skiro
