#pragma once
#include <cstdint>
#include <string>

#include "core/Colour.h"
#include "core/RelaySettings.h"
#include "core/WebSettings.h"

// The one settings record that the document holds: every value the user can change. Intake,
// the row breaker, painting, the scroll engine and the serial session read it; the settings
// commands edit it; the profile loads it at start-up and stores it at exit.
namespace skiro {

// Display font, shaped like the platform font record that the profile's Font section describes.
// Heights are in twips (1/1440 inch); negative is a character height, positive a cell height.
struct Font {
    std::int32_t lfHeight = 480;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 400;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 1; // DEFAULT_CHARSET
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    // Shift-JIS face name of at most 31 bytes; "ＭＳ ゴシック" by default.
    std::string lfFaceName = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

    static constexpr std::size_t kFaceNameMax = 31;
};

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2 };
enum class StopBits : std::uint8_t { One = 0, Two = 2 };
enum class DtrControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// The serial line's device-control block: the program's own, never read back from the port.
// Baud rate, data bits, parity, stop bits and flow control follow the settings; every other
// member keeps the fixed value set here.
struct Dcb {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 1200;
    bool fBinary = true;
    bool fParity = true;
    bool fOutxCtsFlow = true;
    bool fOutxDsrFlow = false;
    DtrControl fDtrControl = DtrControl::Enable;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = true; // received NUL bytes are discarded before intake sees them
    RtsControl fRtsControl = RtsControl::Handshake;
    bool fAbortOnError = false;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 1024;
    std::uint16_t XoffLim = 1024;
    std::uint8_t ByteSize = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

// Flow control as the profile's FlowCtrl key names it.
enum class FlowControl : int { CtsRts = 0, XonXoff = 1, None = 2 };

struct Settings {
    std::int32_t ComPort = 0; // 0 = COM1 ... the device is "COM%d" with ComPort + 1
    skiro::Dcb Dcb;
    skiro::Font Font;
    struct {
        Colour Text = rgb(255, 255, 255);
        Colour Back = rgb(0, 0, 255);
    } Color;
    std::int32_t EchoBack = 0;
    std::int32_t TxCrConv = 1;
    std::int32_t LocalEcho = 0;
    // A device that goes away (adapter pulled) is waited for and opened again, with no box
    // over the captions; 0 ends the session with a message instead.
    std::int32_t Reconnect = 1;
    std::int32_t Tick = 50; // ms between scroll ticks
    std::int32_t Step = 2;  // pixels per tick
    std::int32_t TimerMethod = 0;
    std::int32_t Direction = 0; // 0 horizontal, up-scroll; 1 vertical, right-scroll
    std::int32_t SpeedUp = 0;
    std::int32_t SpeedUpDelay = 1000; // ms
    std::int32_t Interline = 0;
    std::int32_t InterlineSpace = 20; // percent of the character height
    // The picture glides at the display's refresh, placed where the elapsed time puts it at
    // Step/Tick pixels per millisecond; 0 moves it a whole Step per Tick.
    std::int32_t Smooth = 1;
    // With Smooth: the speed rises smoothly while text waits to enter and falls back to
    // Step/Tick once it has caught up; SpeedUp then has no part.
    std::int32_t KeepUp = 1;
    // The misc switches: never stored, every run starts with these.
    std::int32_t Log = 1;
    std::int32_t HideTitleBar = 0;
    std::int32_t HideMenuBar = 0;
    std::int32_t HideFrame = 0;
    std::int32_t HideCursor = 0;
    std::int32_t ClipboardRelay = 0;
    std::int32_t DeleteHandle = 0;
    std::int32_t DeleteBytes = 0; // 0..256
    std::int32_t TimeStamp = 0;
    std::int32_t WriteTime = 600; // seconds, a whole number of minutes
    std::int32_t UseTermApi = 0;
    std::int32_t ExtCommands = 0;
    std::int32_t NoWrap = 0;
    // The outline section. Its colour key is named OutlineColor here because the flag already
    // takes the section's own name.
    std::int32_t Outline = 0;
    std::int32_t LineCnt = 1; // dots
    Colour OutlineColor = rgb(255, 0, 0);
    // The audience web view, in the [Web] section.
    WebSettings Web;
    // The relay through an MQTT broker, in the [Relay] section.
    RelaySettings Relay;
};

// The kinsoku rule: process-wide, outside the document, read by the row breaker at every
// overflow. Empty sets and type 0 until the profile is loaded.
struct KinsokuValues {
    std::int32_t Type = 0; // 0 none, 1 push-out, 2 push-in
    std::string Head;      // characters that must not begin a row
    std::string Tail;      // characters that must not end a row
};

extern KinsokuValues Kinsoku;

// The default sets that an empty profile gives.
extern const char* const kDefaultKinsokuHead;
extern const char* const kDefaultKinsokuTail;

} // namespace skiro
