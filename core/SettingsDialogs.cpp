#include "core/SettingsDialogs.h"

#include <limits>

#include "core/ShiftJis.h"

namespace skiro {

std::vector<std::string> listItems(std::string_view text) {
    std::vector<std::string> items;
    if (text.empty())
        return items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        items.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return items;
}

int listSelection(const std::vector<std::string>& items, std::string_view text) {
    if (text.empty())
        return -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (std::string_view(items[i]).starts_with(text))
            return static_cast<int>(i);
    }
    return -1;
}

std::string listText(const std::vector<std::string>& items, int selection, std::string current) {
    if (selection < 0 || static_cast<std::size_t>(selection) >= items.size())
        return current;
    return items[static_cast<std::size_t>(selection)];
}

bool txCrConvEnabled(const SerialPage& page) {
    return page.EchoBack == 1;
}

void echoBackClicked(SerialPage& page) {
    if (page.EchoBack == 0)
        page.TxCrConv = 1;
}

bool speedUpEnabled(const ScrollPage& page) {
    return !(keepUpEnabled(page) && page.KeepUp == 1);
}

bool speedUpDelayEnabled(const ScrollPage& page) {
    return page.SpeedUp == 1 && speedUpEnabled(page);
}

bool keepUpEnabled(const ScrollPage& page) {
    return page.Smooth == 1;
}

bool timerMethodEnabled(const ScrollPage& page) {
    return page.Smooth != 1;
}

bool interlineSpaceEnabled(const ScrollPage& page) {
    return page.Interline == 1;
}

bool outlineDetailsEnabled(const OutlinePage& page) {
    return page.Outline == 1;
}

bool kinsokuSetsEnabled(std::int32_t type) {
    return type != 0;
}

void normaliseKinsokuType(KinsokuPage& page) {
    if (page.Type < 0 || page.Type > 2)
        page.Type = 0;
}

bool timeStampMinutesEnabled(const MiscPage& page) {
    return page.TimeStamp == 1;
}

bool deleteBytesEnabled(const MiscPage& page) {
    return page.DeleteHandle == 1;
}

namespace {

// The count as the half-width characters it is read in. An input method types full-width
// digits, signs and spaces; they count as the half-width ones. Any other double-byte
// character becomes a byte that no number holds.
std::string halfWidthCount(std::string_view sjisText) {
    std::string half;
    half.reserve(sjisText.size());
    for (std::size_t pos = 0; pos < sjisText.size();) {
        const std::size_t length = sjis::charLength(sjisText, pos);
        if (length == 1) {
            half += sjisText[pos];
        } else {
            const auto lead = static_cast<unsigned char>(sjisText[pos]);
            const auto trail = static_cast<unsigned char>(sjisText[pos + 1]);
            if (lead == 0x82 && trail >= 0x4F && trail <= 0x58)
                half += static_cast<char>('0' + (trail - 0x4F)); // ０ to ９
            else if (lead == 0x81 && trail == 0x7B)
                half += '+'; // ＋
            else if (lead == 0x81 && trail == 0x7C)
                half += '-'; // －
            else if (lead == 0x81 && trail == 0x40)
                half += ' '; // ideographic space
            else
                half += '\x01';
        }
        pos += length;
    }
    return half;
}

} // namespace

ByteCountCheck checkByteCount(std::string_view typed, std::int32_t& value) {
    const std::string half = halfWidthCount(typed);
    const std::string_view text = half;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t pos = 0;
    while (pos < text.size() && blank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    std::int64_t magnitude = 0;
    bool fits = true;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            fits = false;
            magnitude = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
        }
        ++pos;
    }
    if (pos == firstDigit)
        return ByteCountCheck::NotInteger;
    while (pos < text.size() && blank(text[pos]))
        ++pos;
    if (pos != text.size())
        return ByteCountCheck::NotInteger;
    const std::int64_t number = negative ? -magnitude : magnitude;
    if (!fits || number > std::numeric_limits<std::int32_t>::max())
        return ByteCountCheck::OutOfRange;
    value = static_cast<std::int32_t>(number);
    return value >= 0 && value <= kDeleteBytesMax ? ByteCountCheck::Accepted
                                                  : ByteCountCheck::OutOfRange;
}

bool applyMiscPage(const MiscPage& page, Settings& settings, const std::function<bool()>& linkTerm,
                   const std::function<void()>& unlinkTerm) {
    const bool relayout = page.changesLayout(settings);
    page.toSettings(settings);
    if (settings.UseTermApi && !page.UseTermApi) {
        if (unlinkTerm)
            unlinkTerm();
        settings.UseTermApi = 0;
    } else if (!settings.UseTermApi && page.UseTermApi) {
        settings.UseTermApi = linkTerm && linkTerm() ? 1 : 0;
    }
    return relayout;
}

} // namespace skiro
