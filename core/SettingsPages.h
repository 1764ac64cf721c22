#pragma once
#include <cstdint>
#include <string>

#include "core/Colour.h"
#include "core/Profile.h"
#include "core/Settings.h"

// The settings pages: the values each settings dialog edits, in the form the dialog holds them
// (radio indexes, flags, list texts). The profile's Serial, Scroll, Outline and Kinsoku sections
// are read and written through the same pages, so a value goes between record, dialog and
// profile by one set of copies and encodings.
//
// A page constructed with no arguments holds what a freshly made dialog holds (no radio button
// chosen, empty texts); setDefaults() puts in what the dialog's "ﾃﾞﾌｫﾙﾄ" button puts in, which
// for the serial, scroll and kinsoku pages are also the values a missing profile key yields.
namespace skiro {

struct SerialPage {
    std::int32_t ComPort = -1;
    std::int32_t StopBit = -1;   // 0 one stop bit, 1 two
    std::int32_t Parity = -1;    // 0 none, 1 odd, 2 even
    std::int32_t BitLength = -1; // 0 eight data bits, 1 seven
    std::int32_t FlowCtrl = -1;  // 0 CTS/RTS, 1 X-On/X-Off, 2 none
    std::int32_t EchoBack = 0;
    std::string BaudRate; // decimal text, "%u"
    std::int32_t TxCrConv = 1;
    std::int32_t LocalEcho = 0;
    std::int32_t Reconnect = 0; // waits for a device that went away; the profile's default is 1

    // The record as the page shows it. Values outside the page's choices come out normalised
    // (any parity other than odd or even shows as none), and the CR conversion shows as on
    // while echo back is off, because it then has no effect.
    bool operator==(const SerialPage&) const = default;

    static SerialPage fromSettings(const Settings& settings);
    // Port, echo flags as they are (no range check); the line parameters into the device-control
    // block: 8 data bits for BitLength 0 and 7 otherwise, none/odd/even for Parity 0/1/other,
    // one stop bit for StopBit 0 and two otherwise, and CTS/RTS, X-On/X-Off or no flow control
    // for FlowCtrl 0/1/other.
    void toSettings(Settings& settings) const;

    void setDefaults();
    void load(const Profile& profile);
    void save(Profile& profile) const;
};

struct ScrollPage {
    std::string Tick; // ms, "%d"
    std::string Step; // pixels per tick, "%d"
    std::int32_t TimerMethod = -1;
    std::int32_t Direction = -1; // 0 horizontal up-scroll, 1 vertical right-scroll
    std::int32_t SpeedUp = 0;
    std::string SpeedUpDelay; // ms, "%u"
    std::int32_t Interline = 0;
    std::string InterlineSpace; // percent, "%d"
    std::int32_t Smooth = 0;
    std::int32_t KeepUp = 0;

    bool operator==(const ScrollPage&) const = default;

    static ScrollPage fromSettings(const Settings& settings);
    // Texts are read back as decimal numbers; Direction is vertical only for exactly 1.
    void toSettings(Settings& settings) const;

    void setDefaults();
    void load(const Profile& profile);
    void save(Profile& profile) const;
};

struct OutlinePage {
    std::int32_t Outline = 0;
    std::string LineCnt; // dots, "%d"
    Colour Color = 0;

    bool operator==(const OutlinePage&) const = default;

    static OutlinePage fromSettings(const Settings& settings);
    void toSettings(Settings& settings) const;

    // Outline off and the colour back to red; the width stays as the page shows it.
    void setDefaults();
    // A colour key that is missing or does not hold three numbers gives red.
    void load(const Profile& profile);
    void save(Profile& profile) const;
};

struct KinsokuPage {
    std::int32_t Type = -1; // 0 none, 1 push-out, 2 push-in
    std::string Head;
    std::string Tail;

    bool operator==(const KinsokuPage&) const = default;

    static KinsokuPage fromKinsoku(const KinsokuValues& kinsoku);
    void toKinsoku(KinsokuValues& kinsoku) const;

    void setDefaults();
    void load(const Profile& profile);
    void save(Profile& profile) const;
};

// The misc switches. They are never stored in the profile, so this page has no load or save.
struct MiscPage {
    std::int32_t Log = 0;
    std::int32_t HideTitleBar = 0;
    std::int32_t HideMenuBar = 0;
    std::int32_t HideFrame = 0;
    std::int32_t HideCursor = 0;
    std::int32_t ClipboardRelay = 0;
    std::int32_t DeleteHandle = 0;
    std::int32_t DeleteBytes = 0;
    std::int32_t TimeStamp = 0;
    std::string TimeStampMinutes; // the record keeps seconds; the page shows whole minutes
    std::int32_t UseTermApi = 0;
    std::int32_t ExtCommands = 0;
    std::int32_t NoWrap = 0;

    bool operator==(const MiscPage&) const = default;

    static MiscPage fromSettings(const Settings& settings);
    // Everything except UseTermApi: whether the 秀Term link is on depends on whether linking
    // succeeds, which the main frame finds out.
    void toSettings(Settings& settings) const;
    // Whether taking this page would change how the stored lines are laid out.
    bool changesLayout(const Settings& settings) const;

    void setDefaults();
};

// Reads "%d,%d,%d" (red, green, blue) exactly as the C library's sscanf does: blanks are
// skipped before each number but not before a comma, and each number keeps its low 8 bits.
// False unless all three numbers convert; `colour` is then left as it was.
bool scanColour(std::string_view text, Colour& colour);
// "%d,%d,%d" as red, green, blue.
std::string formatColour(Colour colour);

} // namespace skiro
