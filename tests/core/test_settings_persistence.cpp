#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/Profile.h"
#include "core/SettingRanges.h"
#include "core/SettingsPages.h"
#include "core/SettingsStore.h"
#include "tests/core/ViewRig.h"

namespace fs = std::filesystem;
using namespace skiro;

namespace {

// Everything the profile keeps of a record, as the bytes a save into an empty profile writes.
std::string savedBytes(const Settings& settings, const KinsokuValues& kinsoku) {
    Profile profile;
    saveSettings(settings, kinsoku, profile);
    return profile.bytes();
}

struct Loaded {
    Settings settings;
    KinsokuValues kinsoku;
};

Loaded loadFrom(const std::string& ini) {
    Loaded loaded;
    loadSettings(Profile::fromBytes(ini), loaded.settings, loaded.kinsoku);
    return loaded;
}

// The value a load-then-save of `ini` writes for one key.
std::string savedBack(const std::string& ini, const char* section, const char* key) {
    const Loaded loaded = loadFrom(ini);
    return Profile::fromBytes(savedBytes(loaded.settings, loaded.kinsoku))
        .readText(section, key, "<missing>");
}

const std::string kGothic = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

} // namespace

TEST(SettingsStore, EmptyProfileGivesConstructionDefaultsAndDefaultKinsokuSets) {
    const Loaded loaded = loadFrom("");
    const Settings constructed;
    EXPECT_EQ(savedBytes(loaded.settings, loaded.kinsoku),
              savedBytes(constructed, KinsokuValues{0, kDefaultKinsokuHead, kDefaultKinsokuTail}));
    EXPECT_TRUE(loaded.settings.Dcb.fOutxCtsFlow);
    EXPECT_EQ(loaded.settings.Dcb.fRtsControl, RtsControl::Handshake);
    EXPECT_EQ(loaded.settings.Font.lfFaceName, kGothic);
    EXPECT_EQ(loaded.kinsoku.Head.size(), 113u);
    EXPECT_EQ(loaded.kinsoku.Tail.size(), 26u);

    // A profile from the Windows program has the scroll section without the gliding keys.
    const Loaded windows = loadFrom("[Scroll]\r\nTick=20\r\nStep=1\r\nSpeedUp=1\r\n");
    EXPECT_EQ(windows.settings.Smooth, 1);
    EXPECT_EQ(windows.settings.KeepUp, 1);
    EXPECT_EQ(windows.settings.SpeedUp, 1);
}

TEST(SettingsStore, DefaultRecordIsWrittenInSectionAndKeyOrder) {
    const std::string expected = "[Serial]\r\nComPort=0\r\nStopBit=0\r\nParity=0\r\nBitLength=0\r\n"
                                 "FlowCtrl=0\r\nEchoBack=0\r\nBaudRate=1200\r\nTxCrConv=1\r\n"
                                 "LocalEcho=0\r\nReconnect=1\r\n"
                                 "[Scroll]\r\nTick=50\r\nStep=2\r\nTimerMethod=0\r\nDirection=0\r\n"
                                 "SpeedUp=0\r\nSpeedUpDelay=1000\r\nInterline=0\r\n"
                                 "InterlineSpace=20\r\nSmooth=1\r\nKeepUp=1\r\n"
                                 "[Font]\r\nHeight=480\r\nWeight=400\r\nItalic=0\r\nUnderline=0\r\n"
                                 "CharSet=1\r\nPitchAndFamily=0\r\nFaceName=" +
                                 kGothic +
                                 "\r\n"
                                 "[Color]\r\nText=255,255,255\r\nBack=0,0,255\r\n"
                                 "[Outline]\r\nOutline=0\r\nLineCnt=1\r\nColor=255,0,0\r\n"
                                 "[Kinsoku]\r\nType=0\r\nHead=" +
                                 std::string(kDefaultKinsokuHead) +
                                 "\r\nTail=" + std::string(kDefaultKinsokuTail) + "\r\n";
    EXPECT_EQ(savedBytes(Settings{}, KinsokuValues{0, kDefaultKinsokuHead, kDefaultKinsokuTail}),
              expected);
}

TEST(SettingsStore, ChangedRecordSurvivesAFileRoundTripAndMiscSwitchesAreNotStored) {
    Settings settings;
    settings.ComPort = 2;
    SerialPage serial = SerialPage::fromSettings(settings);
    serial.BaudRate = "9600";
    serial.BitLength = 1;
    serial.Parity = 1;
    serial.StopBit = 1;
    serial.FlowCtrl = 1;
    serial.EchoBack = 1;
    serial.TxCrConv = 0;
    serial.LocalEcho = 1;
    serial.Reconnect = 0;
    serial.toSettings(settings);
    settings.Tick = 20;
    settings.Step = 5;
    settings.TimerMethod = 2;
    settings.Direction = 1;
    settings.SpeedUp = 1;
    settings.SpeedUpDelay = 2500;
    settings.Interline = 1;
    settings.InterlineSpace = 40;
    settings.Smooth = 0;
    settings.KeepUp = 0;
    settings.Font.lfHeight = -300;
    settings.Font.lfWeight = 700;
    settings.Font.lfItalic = 255;
    settings.Font.lfCharSet = 128;
    settings.Font.lfFaceName = "\x82\x6C\x82\x72 \x96\xBE\x92\xA9"; // ＭＳ 明朝
    settings.Color.Text = rgb(1, 2, 3);
    settings.Color.Back = rgb(250, 128, 0);
    settings.Outline = 1;
    settings.LineCnt = 4;
    settings.OutlineColor = rgb(0, 255, 0);
    const KinsokuValues kinsoku{2, "\x81\x42\x81\x41", "\x81\x75("};

    char pattern[] = "/tmp/skiro-settings-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    Profile out(folder / "skiro.ini");
    saveSettings(settings, kinsoku, out);
    ASSERT_TRUE(out.commit().ok());

    Loaded loaded;
    loadSettings(Profile::load(folder / "skiro.ini"), loaded.settings, loaded.kinsoku);
    fs::remove_all(folder);
    EXPECT_EQ(savedBytes(loaded.settings, loaded.kinsoku), savedBytes(settings, kinsoku));
    EXPECT_EQ(loaded.settings.Dcb.BaudRate, 9600u);
    EXPECT_EQ(loaded.settings.TxCrConv, 0);
    EXPECT_EQ(loaded.settings.Reconnect, 0);
    EXPECT_EQ(loaded.settings.Dcb.parity, Parity::Odd);
    EXPECT_TRUE(loaded.settings.Dcb.fOutX && loaded.settings.Dcb.fInX);

    Settings switched = settings;
    switched.Log = 0;
    switched.HideTitleBar = 1;
    switched.ClipboardRelay = 1;
    switched.TimeStamp = 1;
    switched.WriteTime = 60;
    switched.NoWrap = 1;
    EXPECT_EQ(savedBytes(switched, kinsoku), savedBytes(settings, kinsoku));
}

TEST(SettingsStore, SerialAndScrollValuesOutsideTheChoicesComeBackNormalised) {
    struct {
        const char* name;
        std::string ini;
        const char* section;
        const char* key;
        const char* savedBack;
    } cases[] = {
        {"Parity=5 saved as even", "[Serial]\nParity=5\n", "Serial", "Parity", "2"},
        {"Parity=-1 saved as even", "[Serial]\nParity=-1\n", "Serial", "Parity", "2"},
        {"StopBit=3 saved as two", "[Serial]\nStopBit=3\n", "Serial", "StopBit", "1"},
        {"BitLength=9 saved as seven", "[Serial]\nBitLength=9\n", "Serial", "BitLength", "1"},
        {"FlowCtrl=7 saved as none", "[Serial]\nFlowCtrl=7\n", "Serial", "FlowCtrl", "2"},
        {"echo off forces the CR conversion on", "[Serial]\nEchoBack=0\nTxCrConv=0\n", "Serial",
         "TxCrConv", "1"},
        {"echo on keeps the CR conversion off", "[Serial]\nEchoBack=1\nTxCrConv=0\n", "Serial",
         "TxCrConv", "0"},
        {"ComPort has no range check", "[Serial]\nComPort=7\n", "Serial", "ComPort", "7"},
        {"BaudRate kept as read", "[Serial]\nBaudRate=38400\n", "Serial", "BaudRate", "38400"},
        {"Direction=2 saved as horizontal", "[Scroll]\nDirection=2\n", "Scroll", "Direction", "0"},
        {"Direction=1 stays vertical", "[Scroll]\nDirection=1\n", "Scroll", "Direction", "1"},
        {"TimerMethod=5 kept", "[Scroll]\nTimerMethod=5\n", "Scroll", "TimerMethod", "5"},
        {"negative SpeedUpDelay survives the unsigned text", "[Scroll]\nSpeedUpDelay=-1\n",
         "Scroll", "SpeedUpDelay", "4294967295"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(savedBack(c.ini, c.section, c.key), c.savedBack);
    }
    EXPECT_EQ(loadFrom("[Scroll]\nSpeedUpDelay=-1\n").settings.SpeedUpDelay, -1);
    EXPECT_EQ(loadFrom("[Serial]\nEchoBack=0\nTxCrConv=0\n").settings.TxCrConv, 0)
        << "the record takes the flag as it is; only the page shows it forced";
}

TEST(SettingsStore, FlowControlSetsTheDeviceControlFlags) {
    struct {
        const char* flowCtrl;
        bool cts;
        RtsControl rts;
        bool xonXoff;
    } cases[] = {
        {"0", true, RtsControl::Handshake, false},
        {"1", false, RtsControl::Enable, true},
        {"2", false, RtsControl::Enable, false},
        {"9", false, RtsControl::Enable, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flowCtrl);
        const Dcb dcb = loadFrom(std::string("[Serial]\nFlowCtrl=") + c.flowCtrl).settings.Dcb;
        EXPECT_EQ(dcb.fOutxCtsFlow, c.cts);
        EXPECT_EQ(dcb.fRtsControl, c.rts);
        EXPECT_EQ(dcb.fOutX, c.xonXoff);
        EXPECT_EQ(dcb.fInX, c.xonXoff);
    }
}

TEST(SettingsStore, FontSection) {
    const std::string name31 = std::string(29, 'F') + "\x88\x9F";
    const std::string name32 = std::string(30, 'F') + "\x88\x9F";
    struct {
        const char* name;
        std::string ini;
        std::int32_t height;
        std::int32_t weight;
        std::uint8_t italic;
        std::string face;
    } cases[] = {
        {"Height=0 skips the section", "[Font]\nHeight=0\nWeight=700\nFaceName=Arial\n", 480, 400,
         0, kGothic},
        {"no Height skips the section", "[Font]\nWeight=700\nFaceName=Arial\n", 480, 400, 0,
         kGothic},
        {"Height read, missing keys keep the current values", "[Font]\nHeight=-300\n", -300, 400, 0,
         kGothic},
        {"all keys", "[Font]\nHeight=600\nWeight=700\nItalic=1\nFaceName=Arial\n", 600, 700, 1,
         "Arial"},
        {"8-bit member keeps its low 8 bits", "[Font]\nHeight=480\nItalic=257\n", 480, 400, 1,
         kGothic},
        {"-1 in an 8-bit member is 255", "[Font]\nHeight=480\nItalic=-1\n", 480, 400, 255, kGothic},
        {"face name of exactly 31 bytes taken", "[Font]\nHeight=480\nFaceName=" + name31 + "\n",
         480, 400, 0, name31},
        {"face name of 32 bytes ignored", "[Font]\nHeight=480\nFaceName=" + name32 + "\n", 480, 400,
         0, kGothic},
        {"empty face name taken", "[Font]\nHeight=480\nFaceName=\n", 480, 400, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Font font = loadFrom(c.ini).settings.Font;
        EXPECT_EQ(font.lfHeight, c.height);
        EXPECT_EQ(font.lfWeight, c.weight);
        EXPECT_EQ(font.lfItalic, c.italic);
        EXPECT_EQ(font.lfFaceName, c.face);
    }
    EXPECT_EQ(savedBack("[Font]\nHeight=480\nItalic=-1\n", "Font", "Italic"), "255");
}

TEST(SettingsStore, ColoursParseLikeScanfAndOutlineColourFallsBackToRed) {
    const Colour white = rgb(255, 255, 255);
    const Colour red = rgb(255, 0, 0);
    struct {
        const char* name;
        const char* text; // nullptr: no key
        Colour textColour;
        Colour outlineColour;
    } cases[] = {
        {"missing", nullptr, white, red},
        {"plain", "0,255,0", rgb(0, 255, 0), rgb(0, 255, 0)},
        {"blanks after the commas", "255, 0, 0", red, red},
        {"blank before a comma converts one number", "255 ,0,0", white, red},
        {"256 keeps the low 8 bits", "256,0,0", rgb(0, 0, 0), rgb(0, 0, 0)},
        {"negative numbers keep the low 8 bits", "-1,0,0", rgb(255, 0, 0), rgb(255, 0, 0)},
        {"signs and leading blanks", " +1,\t-0,3", rgb(1, 0, 3), rgb(1, 0, 3)},
        {"trailing text ignored", "10,20,30xyz", rgb(10, 20, 30), rgb(10, 20, 30)},
        {"two numbers", "1,2", white, red},
        {"empty", "", white, red},
        {"not a number", "red", white, red},
        {"sign without digits", "1,-,3", white, red},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string entry = c.text ? std::string("Text=") + c.text + "\n" : "";
        const std::string outline = c.text ? std::string("Color=") + c.text + "\n" : "";
        Loaded loaded;
        loaded.settings.OutlineColor = rgb(0, 0, 255); // not red, so the fallback shows
        loadSettings(Profile::fromBytes("[Color]\n" + entry + "[Outline]\n" + outline),
                     loaded.settings, loaded.kinsoku);
        EXPECT_EQ(loaded.settings.Color.Text, c.textColour);
        EXPECT_EQ(loaded.settings.OutlineColor, c.outlineColour);
        EXPECT_EQ(loaded.settings.Color.Back, rgb(0, 0, 255)) << "Back untouched";
    }
}

TEST(SettingsStore, KinsokuSectionReplacesTheProcessWideValues) {
    const Loaded custom = loadFrom("[Kinsoku]\nType=1\nHead=\x81\x42\nTail=\n");
    EXPECT_EQ(custom.kinsoku.Type, 1);
    EXPECT_EQ(custom.kinsoku.Head, "\x81\x42");
    EXPECT_EQ(custom.kinsoku.Tail, "") << "an empty set is a set, not a missing key";
    const Loaded missing = loadFrom("[Kinsoku]\nType=2\n");
    EXPECT_EQ(missing.kinsoku.Head, kDefaultKinsokuHead);
    EXPECT_EQ(missing.kinsoku.Tail, kDefaultKinsokuTail);
}

TEST(SettingsStore, SavingIntoAnExistingProfileKeepsWhatItDoesNotOwn) {
    Profile profile = Profile::fromBytes("[SKIRO]\r\nWindow=0,1,-1,-1,-1,-1,100,100,740,580\r\n"
                                         "[Serial]\r\nCOM1=/dev/pts/3\r\nComPort=1\r\n"
                                         "[Misc]\r\nWriteTime=600\r\n");
    Loaded loaded;
    loadSettings(profile, loaded.settings, loaded.kinsoku);
    saveSettings(loaded.settings, loaded.kinsoku, profile);
    const std::string bytes = profile.bytes();
    EXPECT_TRUE(bytes.starts_with("[SKIRO]\r\nWindow=0,1,-1,-1,-1,-1,100,100,740,580\r\n"
                                  "[Serial]\r\nCOM1=/dev/pts/3\r\nComPort=1\r\nStopBit=0\r\n"))
        << bytes;
    EXPECT_EQ(profile.readInt("Misc", "WriteTime", 0), 600);
    EXPECT_EQ(bytes.find("[Misc]\r\nWriteTime=600\r\n[Scroll]"), bytes.find("[Misc]"));
}

TEST(SettingsStore, WriteTimeSettlesTheTimeStamps) {
    struct {
        const char* name;
        const char* window; // nullptr: no entry
        const char* writeTime;
        std::int32_t timeStamp;
        std::int32_t interval;
    } cases[] = {
        {"first run: not read", nullptr, "90", 1, 600},
        {"empty Window: not read", "", "90", 1, 600},
        {"90 s is one minute", "0,1,100,100", "90", 1, 60},
        {"30 s turns stamps on at 0", "0,1,100,100", "30", 1, 0},
        {"59 s turns stamps on at 0", "0,1,100,100", "59", 1, 0},
        {"600 s", "0,1,100,100", "600", 1, 600},
        {"3600 s", "0,1,100,100", "3600", 1, 3600},
        {"0 turns stamps off", "0,1,100,100", "0", 0, 600},
        {"negative turns stamps off", "0,1,100,100", "-60", 0, 600},
        {"missing turns stamps off", "0,1,100,100", nullptr, 0, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ini = "[SKIRO]\n";
        if (c.window)
            ini += std::string("Window=") + c.window + "\n";
        ini += "[Misc]\n";
        if (c.writeTime)
            ini += std::string("WriteTime=") + c.writeTime + "\n";
        Settings settings;
        settings.TimeStamp = 1; // so that turning off shows
        applyWriteTime(Profile::fromBytes(ini), settings);
        EXPECT_EQ(settings.TimeStamp, c.timeStamp);
        EXPECT_EQ(settings.WriteTime, c.interval);
    }
}

TEST(SettingsPages, DefaultButtonsGiveTheLoadDefaults) {
    const Profile empty;
    SerialPage serialDefaults;
    serialDefaults.setDefaults();
    SerialPage serialLoaded;
    serialLoaded.load(empty);
    EXPECT_EQ(serialDefaults, serialLoaded);

    ScrollPage scrollDefaults;
    scrollDefaults.setDefaults();
    ScrollPage scrollLoaded;
    scrollLoaded.load(empty);
    EXPECT_EQ(scrollDefaults, scrollLoaded);

    KinsokuPage kinsokuDefaults;
    kinsokuDefaults.setDefaults();
    KinsokuPage kinsokuLoaded;
    kinsokuLoaded.load(empty);
    EXPECT_EQ(kinsokuDefaults, kinsokuLoaded);

    OutlinePage outline = OutlinePage::fromSettings(Settings{});
    outline.Outline = 1;
    outline.LineCnt = "7";
    outline.Color = rgb(0, 0, 255);
    outline.setDefaults();
    EXPECT_EQ(outline.Outline, 0);
    EXPECT_EQ(outline.LineCnt, "7") << "the width stays as the page shows it";
    EXPECT_EQ(outline.Color, rgb(255, 0, 0));
}

TEST(SettingsPages, MiscPageShowsMinutesAndKeepsTheLinkToTheFrame) {
    Settings settings;
    settings.WriteTime = 90;
    settings.UseTermApi = 1;
    MiscPage page = MiscPage::fromSettings(settings);
    EXPECT_EQ(page.TimeStampMinutes, "1");
    EXPECT_FALSE(page.changesLayout(settings));
    page.UseTermApi = 0;
    page.NoWrap = 1;
    EXPECT_TRUE(page.changesLayout(settings));
    page.toSettings(settings);
    EXPECT_EQ(settings.WriteTime, 60);
    EXPECT_EQ(settings.NoWrap, 1);
    EXPECT_EQ(settings.UseTermApi, 1) << "only the main frame links and unlinks";

    MiscPage defaults;
    defaults.setDefaults();
    Settings fresh;
    fresh.WriteTime = 0;
    defaults.toSettings(fresh);
    EXPECT_EQ(fresh.Log, 1);
    EXPECT_EQ(fresh.WriteTime, 600);
}

TEST(SettingsStore, ProfileIntegersAtTheirLimitsMeetTheArithmeticBounded) {
    struct {
        const char* name;
        std::string ini;
        int rowThickness; // a row of the 37-pixel test font
        int move;         // pixels per step, after the speed-up delay has passed
        int interval;     // tick source period in ms
        int fontPixels;   // at 96 dots per inch
    } cases[] = {
        {"defaults", "", 37, 2, 50, 32},
        {"largest dialog values",
         "[Scroll]\nTick=500\nStep=20\nInterline=1\nInterlineSpace=100\n"
         "[Outline]\nOutline=1\nLineCnt=10\n[Font]\nHeight=-1440\n",
         (37 + 20) * 2, 20, 500, 96},
        {"smallest dialog values",
         "[Scroll]\nTick=10\nStep=1\nInterline=1\nInterlineSpace=10\nTimerMethod=1\n", 40, 1, 10,
         32},
        {"interline space near 2^31", "[Scroll]\nInterline=1\nInterlineSpace=2147483647\n", 37 * 11,
         2, 50, 32},
        {"interline space near -2^31", "[Scroll]\nInterline=1\nInterlineSpace=-2147483648\n", 0, 2,
         50, 32},
        {"outline near 2^31", "[Outline]\nOutline=1\nLineCnt=2147483647\n", 37 + 200, 2, 50, 32},
        {"step near 2^31 doubled by the speed-up",
         "[Scroll]\nStep=2147483647\nSpeedUp=1\nSpeedUpDelay=0\n", 37, 8192, 50, 32},
        {"step of 0 still moves", "[Scroll]\nStep=0\n", 37, 1, 50, 32},
        {"negative step moves forward", "[Scroll]\nStep=-2147483648\n", 37, 1, 50, 32},
        {"tick of 0 runs the window timer at 10 ms", "[Scroll]\nTick=0\n", 37, 2, 10, 32},
        {"negative tick", "[Scroll]\nTick=-2147483648\nTimerMethod=2\n", 37, 2, 10, 32},
        {"window timer no faster than 10 ms", "[Scroll]\nTick=5\n", 37, 2, 10, 32},
        {"precise timer at 5 ms", "[Scroll]\nTick=5\nTimerMethod=1\n", 37, 2, 5, 32},
        {"tick near 2^31", "[Scroll]\nTick=2147483647\n", 37, 2, 2147483647, 32},
        {"font height near 2^31 twips", "[Font]\nHeight=2147483647\n", 37, 2, 50, 4096},
        {"font height near -2^31 twips", "[Font]\nHeight=-2147483648\n", 37, 2, 50, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        skiro::testing::ViewRig rig;
        KinsokuValues kinsoku;
        loadSettings(Profile::fromBytes(c.ini), rig.settings, kinsoku);

        LayoutParams params;
        params.dc = &rig.surface;
        params.extentLimit = 400;
        params.outlineWidth = outlineDots(rig.settings);
        params.pitchPercent = rowPitchPercent(rig.settings);
        params.emptyThickness = rig.surface.fontHeight();
        CDisplayLine breaker;
        const std::string_view line = "ab";
        int thickness = -1;
        breaker.nextRow(&line, params, nullptr, thickness);
        EXPECT_EQ(thickness, c.rowThickness);

        rig.clock.tick += 100000;
        EXPECT_EQ(rig.engine.scrollStep(rig.settings.Step), c.move);
        EXPECT_EQ(scrollTimerInterval(rig.settings.TimerMethod, rig.settings.Tick), c.interval);
        EXPECT_EQ(fontPixels(rig.settings.Font.lfHeight, 96), c.fontPixels);

        // The whole view takes a line with these settings (the sanitizer build watches).
        rig.settings.Tick = 10;
        rig.enterLine("\x82\xA0\x82\xA2\r");
        EXPECT_FALSE(rig.state.scrolling);
    }
}
