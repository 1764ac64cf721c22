#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/SettingsPages.h"

// The rules the settings dialogs follow around their page records: how a list shows a page's
// text and gives it back, which controls are enabled by which fields, what a click on a
// switch does to the page, the misc page's byte count, and how the misc page is taken into
// the record. The dialogs in ui/ only move these values between the page and their widgets.
namespace skiro {

// The string table's ids of the dialogs' lists.
enum ListStringId : int {
    IDS_LIST_BAUD_RATE = 33028,
    IDS_LIST_TICK = 33029,
    IDS_LIST_STEP = 33030,
    IDS_LIST_SPEED_UP_DELAY = 33031,
    IDS_LIST_TIME_STAMP_MINUTES = 33032,
    IDS_LIST_OUTLINE_WIDTH = 33033,
    IDS_LIST_INTERLINE_SPACE = 33034,
};

// A list's items: the string split at each line feed, in order, not sorted.
std::vector<std::string> listItems(std::string_view text);
// The item a page's text selects: the first whose text begins with it ("2" selects 2, not
// 20), or -1 when none does or the text is empty.
int listSelection(const std::vector<std::string>& items, std::string_view text);
// What the page takes back from a list: the selected item's text. With nothing selected (a
// profile value the list does not offer) the page keeps the text it had, so OK never turns
// an unlisted value into 0.
std::string listText(const std::vector<std::string>& items, int selection, std::string current);

// Serial: the CR conversion means something only while echo back is on; switching echo back
// off leaves the conversion ticked.
bool txCrConvEnabled(const SerialPage& page);
void echoBackClicked(SerialPage& page);

// Scroll: the delay list follows the speed-up switch, the space list the interline switch.
// Keep-up means something only while the picture glides, and then takes the place of speed-up;
// the tick source is chosen only for the whole steps.
bool speedUpEnabled(const ScrollPage& page);
bool speedUpDelayEnabled(const ScrollPage& page);
bool keepUpEnabled(const ScrollPage& page);
bool timerMethodEnabled(const ScrollPage& page);
bool interlineSpaceEnabled(const ScrollPage& page);

// Outline: the width list and the colour button follow the outline switch.
bool outlineDetailsEnabled(const OutlinePage& page);

// Kinsoku: the two character sets are edited while a rule other than "しない" is chosen. A
// type the dialog does not offer (only from an edited profile) is shown as "しない".
bool kinsokuSetsEnabled(std::int32_t type);
void normaliseKinsokuType(KinsokuPage& page);

// Misc: the minutes list follows the time stamp switch, the byte count the delete switch.
bool timeStampMinutesEnabled(const MiscPage& page);
bool deleteBytesEnabled(const MiscPage& page);

constexpr std::int32_t kDeleteBytesMax = 256;

enum class ByteCountCheck {
    Accepted,   // a whole number from 0 to 256
    NotInteger, // not a whole number at all
    OutOfRange, // a whole number outside 0 to 256
};
// Reads the byte count as typed: blanks around an optionally signed run of digits, nothing
// else; full-width digits, signs and spaces as typed with an input method count as the
// half-width ones. `value` is set when the text is a whole number that fits 32 bits.
ByteCountCheck checkByteCount(std::string_view text, std::int32_t& value);

// Takes a confirmed misc page into the record. The 秀Term link is made or dropped only when
// the box changed: dropping always succeeds, making it counts only when the link comes up.
// Returns whether the stored lines must be laid out again (the deletion of leading bytes,
// the extended commands or no-wrap changed).
bool applyMiscPage(const MiscPage& page, Settings& settings, const std::function<bool()>& linkTerm,
                   const std::function<void()>& unlinkTerm);

} // namespace skiro
