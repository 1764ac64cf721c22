#include "core/SettingsPages.h"

#include <cstdio>
#include <string_view>

namespace skiro {

namespace {

std::string decimal(std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string unsignedDecimal(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return text;
}

// A number the page holds as text, read back as a decimal number.
std::int32_t numberOf(const std::string& text) {
    return leadingInteger(text);
}

bool isScanBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion: blanks, an optional sign, at least one digit.
bool scanInt(std::string_view text, std::size_t& pos, std::uint32_t& value) {
    while (pos < text.size() && isScanBlank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    std::uint32_t total = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        total = total * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
    }
    if (pos == firstDigit)
        return false;
    value = negative ? 0u - total : total;
    return true;
}

constexpr std::string_view kSerial = "Serial";
constexpr std::string_view kScroll = "Scroll";
constexpr std::string_view kOutline = "Outline";
constexpr std::string_view kKinsoku = "Kinsoku";

} // namespace

bool scanColour(std::string_view text, Colour& colour) {
    std::uint32_t parts[3] = {};
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return false;
            ++pos;
        }
        if (!scanInt(text, pos, parts[i]))
            return false;
    }
    colour = rgb(static_cast<int>(parts[0] & 0xFF), static_cast<int>(parts[1] & 0xFF),
                 static_cast<int>(parts[2] & 0xFF));
    return true;
}

std::string formatColour(Colour colour) {
    char text[16];
    std::snprintf(text, sizeof text, "%d,%d,%d", redOf(colour), greenOf(colour), blueOf(colour));
    return text;
}

// --- serial ---

SerialPage SerialPage::fromSettings(const Settings& settings) {
    const skiro::Dcb& dcb = settings.Dcb;
    SerialPage page;
    page.ComPort = settings.ComPort;
    page.StopBit = dcb.stopBits == StopBits::Two ? 1 : 0;
    page.Parity = dcb.parity == Parity::Odd ? 1 : dcb.parity == Parity::Even ? 2 : 0;
    page.BitLength = dcb.ByteSize == 7 ? 1 : 0;
    page.FlowCtrl = dcb.fOutxCtsFlow ? 0 : dcb.fOutX ? 1 : 2;
    page.EchoBack = settings.EchoBack;
    page.BaudRate = unsignedDecimal(dcb.BaudRate);
    page.TxCrConv = settings.EchoBack == 0 ? 1 : settings.TxCrConv;
    page.LocalEcho = settings.LocalEcho;
    page.Reconnect = settings.Reconnect;
    return page;
}

void SerialPage::toSettings(Settings& settings) const {
    skiro::Dcb& dcb = settings.Dcb;
    settings.ComPort = ComPort;
    settings.EchoBack = EchoBack;
    settings.TxCrConv = TxCrConv;
    settings.LocalEcho = LocalEcho;
    settings.Reconnect = Reconnect;
    dcb.BaudRate = static_cast<std::uint32_t>(numberOf(BaudRate));
    dcb.ByteSize = BitLength == 0 ? 8 : 7;
    dcb.parity = Parity == 0   ? skiro::Parity::None
                 : Parity == 1 ? skiro::Parity::Odd
                               : skiro::Parity::Even;
    dcb.stopBits = StopBit == 0 ? StopBits::One : StopBits::Two;
    const FlowControl flow = FlowCtrl == 0   ? FlowControl::CtsRts
                             : FlowCtrl == 1 ? FlowControl::XonXoff
                                             : FlowControl::None;
    dcb.fOutxCtsFlow = flow == FlowControl::CtsRts;
    dcb.fRtsControl = flow == FlowControl::CtsRts ? RtsControl::Handshake : RtsControl::Enable;
    dcb.fOutX = flow == FlowControl::XonXoff;
    dcb.fInX = flow == FlowControl::XonXoff;
}

void SerialPage::setDefaults() {
    ComPort = 0;
    StopBit = 0;
    Parity = 0;
    BitLength = 0;
    FlowCtrl = 0;
    EchoBack = 0;
    BaudRate = "1200";
    TxCrConv = 1;
    LocalEcho = 0;
    Reconnect = 1;
}

void SerialPage::load(const Profile& profile) {
    ComPort = profile.readInt(kSerial, "ComPort", 0);
    StopBit = profile.readInt(kSerial, "StopBit", 0);
    Parity = profile.readInt(kSerial, "Parity", 0);
    BitLength = profile.readInt(kSerial, "BitLength", 0);
    FlowCtrl = profile.readInt(kSerial, "FlowCtrl", 0);
    EchoBack = profile.readInt(kSerial, "EchoBack", 0);
    BaudRate =
        unsignedDecimal(static_cast<std::uint32_t>(profile.readInt(kSerial, "BaudRate", 1200)));
    TxCrConv = profile.readInt(kSerial, "TxCrConv", 1);
    LocalEcho = profile.readInt(kSerial, "LocalEcho", 0);
    Reconnect = profile.readInt(kSerial, "Reconnect", 1);
}

void SerialPage::save(Profile& profile) const {
    profile.writeInt(kSerial, "ComPort", ComPort);
    profile.writeInt(kSerial, "StopBit", StopBit);
    profile.writeInt(kSerial, "Parity", Parity);
    profile.writeInt(kSerial, "BitLength", BitLength);
    profile.writeInt(kSerial, "FlowCtrl", FlowCtrl);
    profile.writeInt(kSerial, "EchoBack", EchoBack);
    profile.writeText(kSerial, "BaudRate", BaudRate);
    profile.writeInt(kSerial, "TxCrConv", TxCrConv);
    profile.writeInt(kSerial, "LocalEcho", LocalEcho);
    profile.writeInt(kSerial, "Reconnect", Reconnect);
}

// --- scroll ---

ScrollPage ScrollPage::fromSettings(const Settings& settings) {
    ScrollPage page;
    page.Tick = decimal(settings.Tick);
    page.Step = decimal(settings.Step);
    page.TimerMethod = settings.TimerMethod;
    page.Direction = settings.Direction == 1 ? 1 : 0;
    page.SpeedUp = settings.SpeedUp;
    page.SpeedUpDelay = unsignedDecimal(static_cast<std::uint32_t>(settings.SpeedUpDelay));
    page.Interline = settings.Interline;
    page.InterlineSpace = decimal(settings.InterlineSpace);
    page.Smooth = settings.Smooth;
    page.KeepUp = settings.KeepUp;
    return page;
}

void ScrollPage::toSettings(Settings& settings) const {
    settings.Tick = numberOf(Tick);
    settings.Step = numberOf(Step);
    settings.TimerMethod = TimerMethod;
    settings.Direction = Direction == 1 ? 1 : 0;
    settings.SpeedUp = SpeedUp;
    settings.SpeedUpDelay = numberOf(SpeedUpDelay);
    settings.Interline = Interline;
    settings.InterlineSpace = numberOf(InterlineSpace);
    settings.Smooth = Smooth;
    settings.KeepUp = KeepUp;
}

void ScrollPage::setDefaults() {
    Tick = "50";
    Step = '2';
    TimerMethod = 0;
    Direction = 0;
    SpeedUp = 0;
    SpeedUpDelay = "1000";
    Interline = 0;
    InterlineSpace = "20";
    Smooth = 1;
    KeepUp = 1;
}

void ScrollPage::load(const Profile& profile) {
    Tick = decimal(profile.readInt(kScroll, "Tick", 50));
    Step = decimal(profile.readInt(kScroll, "Step", 2));
    TimerMethod = profile.readInt(kScroll, "TimerMethod", 0);
    Direction = profile.readInt(kScroll, "Direction", 0);
    SpeedUp = profile.readInt(kScroll, "SpeedUp", 0);
    SpeedUpDelay =
        unsignedDecimal(static_cast<std::uint32_t>(profile.readInt(kScroll, "SpeedUpDelay", 1000)));
    Interline = profile.readInt(kScroll, "Interline", 0);
    InterlineSpace = decimal(profile.readInt(kScroll, "InterlineSpace", 20));
    // Keys of this program's own: a new profile, or one from the Windows program, glides and
    // keeps up.
    Smooth = profile.readInt(kScroll, "Smooth", 1);
    KeepUp = profile.readInt(kScroll, "KeepUp", 1);
}

void ScrollPage::save(Profile& profile) const {
    profile.writeText(kScroll, "Tick", Tick);
    profile.writeText(kScroll, "Step", Step);
    profile.writeInt(kScroll, "TimerMethod", TimerMethod);
    profile.writeInt(kScroll, "Direction", Direction);
    profile.writeInt(kScroll, "SpeedUp", SpeedUp);
    profile.writeText(kScroll, "SpeedUpDelay", SpeedUpDelay);
    profile.writeInt(kScroll, "Interline", Interline);
    profile.writeText(kScroll, "InterlineSpace", InterlineSpace);
    profile.writeInt(kScroll, "Smooth", Smooth);
    profile.writeInt(kScroll, "KeepUp", KeepUp);
}

// --- outline ---

OutlinePage OutlinePage::fromSettings(const Settings& settings) {
    OutlinePage page;
    page.Outline = settings.Outline;
    page.LineCnt = decimal(settings.LineCnt);
    page.Color = settings.OutlineColor;
    return page;
}

void OutlinePage::toSettings(Settings& settings) const {
    settings.Outline = Outline;
    settings.LineCnt = numberOf(LineCnt);
    settings.OutlineColor = Color;
}

void OutlinePage::setDefaults() {
    Outline = 0;
    Color = rgb(255, 0, 0);
}

void OutlinePage::load(const Profile& profile) {
    Outline = profile.readInt(kOutline, "Outline", 0);
    LineCnt = decimal(profile.readInt(kOutline, "LineCnt", 1));
    const std::string text = profile.readText(kOutline, "Color", "");
    if (text.empty() || !scanColour(text, Color))
        Color = rgb(255, 0, 0);
}

void OutlinePage::save(Profile& profile) const {
    profile.writeInt(kOutline, "Outline", Outline);
    profile.writeText(kOutline, "LineCnt", LineCnt);
    profile.writeText(kOutline, "Color", formatColour(Color));
}

// --- kinsoku ---

KinsokuPage KinsokuPage::fromKinsoku(const KinsokuValues& kinsoku) {
    KinsokuPage page;
    page.Type = kinsoku.Type;
    page.Head = kinsoku.Head;
    page.Tail = kinsoku.Tail;
    return page;
}

void KinsokuPage::toKinsoku(KinsokuValues& kinsoku) const {
    kinsoku.Type = Type;
    kinsoku.Head = Head;
    kinsoku.Tail = Tail;
}

void KinsokuPage::setDefaults() {
    Type = 0;
    Head = kDefaultKinsokuHead;
    Tail = kDefaultKinsokuTail;
}

void KinsokuPage::load(const Profile& profile) {
    Type = profile.readInt(kKinsoku, "Type", 0);
    Head = profile.readText(kKinsoku, "Head", kDefaultKinsokuHead);
    Tail = profile.readText(kKinsoku, "Tail", kDefaultKinsokuTail);
}

void KinsokuPage::save(Profile& profile) const {
    profile.writeInt(kKinsoku, "Type", Type);
    profile.writeText(kKinsoku, "Head", Head);
    profile.writeText(kKinsoku, "Tail", Tail);
}

// --- misc ---

MiscPage MiscPage::fromSettings(const Settings& settings) {
    MiscPage page;
    page.Log = settings.Log;
    page.HideTitleBar = settings.HideTitleBar;
    page.HideMenuBar = settings.HideMenuBar;
    page.HideFrame = settings.HideFrame;
    page.HideCursor = settings.HideCursor;
    page.ClipboardRelay = settings.ClipboardRelay;
    page.DeleteHandle = settings.DeleteHandle;
    page.DeleteBytes = settings.DeleteBytes;
    page.TimeStamp = settings.TimeStamp;
    page.TimeStampMinutes = decimal(settings.WriteTime / 60);
    page.UseTermApi = settings.UseTermApi;
    page.ExtCommands = settings.ExtCommands;
    page.NoWrap = settings.NoWrap;
    return page;
}

void MiscPage::toSettings(Settings& settings) const {
    settings.Log = Log;
    settings.HideTitleBar = HideTitleBar;
    settings.HideMenuBar = HideMenuBar;
    settings.HideFrame = HideFrame;
    settings.HideCursor = HideCursor;
    settings.ClipboardRelay = ClipboardRelay;
    settings.DeleteHandle = DeleteHandle;
    settings.DeleteBytes = DeleteBytes;
    settings.TimeStamp = TimeStamp;
    settings.WriteTime =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(numberOf(TimeStampMinutes)) * 60u);
    settings.ExtCommands = ExtCommands;
    settings.NoWrap = NoWrap;
}

bool MiscPage::changesLayout(const Settings& settings) const {
    return DeleteHandle != settings.DeleteHandle || DeleteBytes != settings.DeleteBytes ||
           ExtCommands != settings.ExtCommands || NoWrap != settings.NoWrap;
}

void MiscPage::setDefaults() {
    Log = 1;
    HideTitleBar = 0;
    HideMenuBar = 0;
    HideFrame = 0;
    HideCursor = 0;
    ClipboardRelay = 0;
    DeleteHandle = 0;
    DeleteBytes = 0;
    TimeStamp = 0;
    TimeStampMinutes = "10";
    UseTermApi = 0;
    ExtCommands = 0;
    NoWrap = 0;
}

} // namespace skiro
