#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "core/Clipboard.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/StringTable.h"

namespace skiro {

// The one entry by which a line is recorded. Intake hands over each received line once; the
// clock and the serial session hand over their stamps.
class LineRecorder {
  public:
    virtual ~LineRecorder() = default;
    virtual void recordLine(std::string_view sjisLine) = 0;
    // At exit, the lines that arrived but were not shown to the end: `next` gives them in
    // order, one per call, and false after the last. By default each is recorded as any line.
    virtual void recordUnshown(const std::function<bool(std::string_view& line)>& next) {
        std::string_view line;
        while (next(line))
            recordLine(line);
    }
};

// Writes every recorded line to the daily log "YYMMDD.log" and relays it to the clipboard.
// Both follow the settings' Log and ClipboardRelay at each call; failures are silent, because
// a line that cannot be logged or copied is still shown.
class Recorder final : public LineRecorder {
  public:
    Recorder(const Settings& settings, const Clock& clock, const StringTable& strings,
             std::string logFolder);

    // The folder that holds the daily logs; settled at start-up.
    void setLogFolder(std::string folder) { m_logFolder = std::move(folder); }
    // The clipboard of the view's window; nullptr once the view is gone, after which lines are
    // still logged but no longer copied.
    void setClipboard(Clipboard* clipboard) { m_clipboard = clipboard; }

    void recordLine(std::string_view sjisLine) override;
    // A stamp saying so (IDS_UNSHOWN_STAMP), then the lines, appended to the log with one open
    // in a few large writes of whole lines, so that closing with a long backlog costs the bytes,
    // not an open per line. The clipboard relay, which follows the lines as they are shown,
    // gets none of them.
    void recordUnshown(const std::function<bool(std::string_view& line)>& next) override;
    // Records the string-table text `stringId` filled with the local date and time (year,
    // month, day, hour, minute, second): the start and stop stamps. `detail`, when given,
    // follows on the same line after a space.
    void recordStamp(int stringId, std::string_view detail = {});

    // The daily log of the given local date.
    std::string logPath(const LocalTime& date) const;

  private:
    const Settings& m_settings;
    const Clock& m_clock;
    const StringTable& m_strings;
    std::string m_logFolder;
    Clipboard* m_clipboard = nullptr;
    std::string m_record; // the line plus CR LF, reused from line to line
};

// Appends `record` to the file at `path` in one write, creating the file when it is missing. A
// short write (disk full, file size limit) is cut back to the size before the write, so the log
// never ends in a torn line. Returns false when nothing was appended.
bool appendRecord(const std::string& path, std::string_view record);

} // namespace skiro
