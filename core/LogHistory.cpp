#include "core/LogHistory.h"

#include <algorithm>
#include <fstream>

#include "core/ViewClock.h"

namespace skiro {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `line` is `format` filled in: each %d (with any flags and width) stands for one or
// more digits, every other byte for itself.
bool fillsFormat(std::string_view line, std::string_view format) {
    std::size_t at = 0;
    for (std::size_t f = 0; f < format.size(); ++f) {
        if (format[f] == '%' && f + 1 < format.size() && format[f + 1] != '%') {
            std::size_t end = f + 1;
            while (end < format.size() && (isDigit(format[end]) || format[end] == '-'))
                ++end;
            if (end == format.size() || format[end] != 'd')
                return false;
            f = end;
            const std::size_t digits = at;
            while (at < line.size() && isDigit(line[at]))
                ++at;
            if (at == digits)
                return false;
            continue;
        }
        if (format[f] == '%')
            ++f;
        if (at == line.size() || line[at] != format[f])
            return false;
        ++at;
    }
    return at == line.size();
}

// The log's lines end with CR LF; only a whole line counts.
constexpr std::size_t kReadMargin = 64 * 1024;

} // namespace

bool isStampLine(std::string_view line, const StringTable& strings) {
    // Every text that recordStamp is given, and the stamp before the lines recorded unshown at
    // a close.
    static constexpr StringId kStamps[] = {IDS_START_STAMP, IDS_STOP_STAMP, IDS_LOST_STAMP,
                                           IDS_BACK_STAMP, IDS_UNSHOWN_STAMP};
    if (fillsFormat(line, kTimeStampFormat))
        return true;
    for (const StringId id : kStamps) {
        if (fillsFormat(line, strings.text(id)))
            return true;
    }
    // A failed Start's stamp carries its message after a space. Any other line fails at its
    // first bytes, so trying each space costs little.
    const std::string& failedStart = strings.text(IDS_START_FAILED_STAMP);
    for (std::size_t space = line.find(' '); space != std::string_view::npos;
         space = line.find(' ', space + 1)) {
        if (fillsFormat(line.substr(0, space), failedStart))
            return true;
    }
    return false;
}

std::vector<std::string> readRecentLogLines(const std::string& path, std::size_t maxLines,
                                            std::size_t maxBytes, const StringTable& strings) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file || maxLines == 0)
        return {};
    const std::streamoff size = file.tellg();
    if (size <= 0)
        return {};
    // The lines wanted lie in the last maxBytes, beside a few stamps; a day's log can be long.
    const auto wanted = static_cast<std::streamoff>(maxBytes + kReadMargin);
    const std::streamoff from = std::max<std::streamoff>(0, size - wanted);
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    file.seekg(from);
    if (!file.read(tail.data(), static_cast<std::streamsize>(tail.size())))
        return {};

    std::vector<std::string_view> lines;
    std::size_t start = 0;
    if (from > 0) {
        // The read began inside a line.
        const std::size_t first = tail.find('\n');
        start = first == std::string::npos ? tail.size() : first + 1;
    }
    for (std::size_t end = tail.find('\n', start); end != std::string::npos;
         end = tail.find('\n', start)) {
        std::string_view line(tail.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    // What follows the last line end is no whole line.

    std::vector<std::string> recent;
    std::size_t bytes = 0;
    for (auto line = lines.rbegin(); line != lines.rend() && recent.size() < maxLines; ++line) {
        if (isStampLine(*line, strings))
            continue;
        bytes += line->size() + 2; // as recorded, with its line end
        if (bytes > maxBytes)
            break;
        recent.emplace_back(*line);
    }
    std::reverse(recent.begin(), recent.end());
    return recent;
}

std::size_t continuationIndex(const std::vector<std::string_view>& known,
                              const std::vector<std::string_view>& incoming) {
    const std::size_t n = known.size(), m = incoming.size();
    // run[i][j]: how many lines from known[i] and incoming[j] on are the same.
    std::vector<std::vector<std::size_t>> run(n + 1, std::vector<std::size_t>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = m; j-- > 0;)
            run[i][j] = known[i] == incoming[j] ? run[i + 1][j + 1] + 1 : 0;
    }
    // The latest stretch to trust, by where it ends in `incoming`: a stretch of one or two lines
    // could be chance, unless it is all there is of one side or exactly where one side leaves
    // off and the other begins. The latest, not the longest: after a crash that kept lines
    // out of the log, the lines before them are the longer stretch, and those after them were
    // seen already.
    const std::size_t trusted = std::min<std::size_t>({3, n, m});
    std::size_t knownEnd = 0, end = 0;
    bool found = false;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t length = run[i][j];
            // Only whole stretches: none that the line before already begins.
            if (length == 0 || (i > 0 && j > 0 && run[i - 1][j - 1] > 0))
                continue;
            const bool joined = i + length == n && j == 0;
            if ((length >= trusted || joined) && (!found || j + length >= end)) {
                found = true;
                knownEnd = i + length;
                end = j + length;
            }
        }
    }
    if (!found)
        return 0;
    // Lines that follow on at once in `incoming` and come later in `known` were seen too,
    // however few: `known` has lines between that never reached the other side.
    while (end < m) {
        std::size_t best = 0, at = 0;
        for (std::size_t i = knownEnd; i < n; ++i) {
            if (run[i][end] > 0 && run[i][end] >= best) {
                best = run[i][end];
                at = i;
            }
        }
        if (best == 0)
            break;
        knownEnd = at + best;
        end += best;
    }
    return end;
}

} // namespace skiro
