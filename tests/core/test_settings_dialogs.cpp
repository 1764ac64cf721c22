#include <gtest/gtest.h>

#include "core/SettingsDialogs.h"
#include "core/StringTable.h"

using namespace skiro;

namespace {

TEST(DialogLists, FirstItemThatBeginsWithTheTextIsChosen) {
    const StringTable strings;
    const auto step = listItems(strings.text(IDS_LIST_STEP));
    const auto tick = listItems(strings.text(IDS_LIST_TICK));
    const auto minutes = listItems(strings.text(IDS_LIST_TIME_STAMP_MINUTES));
    ASSERT_EQ(step.size(), 11u);
    ASSERT_EQ(tick.size(), 12u);
    const struct {
        const char* name;
        const std::vector<std::string>& items;
        const char* text;
        int selection;
    } cases[] = {
        {"every offered step selects its own item", step, "2", 1},
        {"20 is its own item, not 2", step, "20", 10},
        {"last item", step, "20", 10},
        {"a prefix of a longer item selects it", tick, "3", 2},
        {"a value no item begins with selects nothing", tick, "35", -1},
        {"an empty text selects nothing", tick, "", -1},
        {"one minute", minutes, "1", 0},
        {"zero minutes (a 30-second interval) selects nothing", minutes, "0", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listSelection(c.items, c.text), c.selection);
    }
    // Nothing chosen keeps the page's text, so an unlisted value survives OK unchanged.
    EXPECT_EQ(listText(tick, -1, "35"), "35");
    EXPECT_EQ(listText(tick, 4, "35"), "50");
}

TEST(DialogLists, EveryListOfTheStringTableSplitsIntoItsItems) {
    const StringTable strings;
    const struct {
        int id;
        std::size_t count;
        const char* first;
        const char* last;
    } lists[] = {
        {IDS_LIST_BAUD_RATE, 6, "1200", "38400"},
        {IDS_LIST_TICK, 12, "10", "500"},
        {IDS_LIST_STEP, 11, "1", "20"},
        {IDS_LIST_SPEED_UP_DELAY, 10, "500", "5000"},
        {IDS_LIST_TIME_STAMP_MINUTES, 8, "1", "30"},
        {IDS_LIST_OUTLINE_WIDTH, 10, "1", "10"},
        {IDS_LIST_INTERLINE_SPACE, 10, "10", "100"},
    };
    for (const auto& l : lists) {
        SCOPED_TRACE(l.id);
        const auto items = listItems(strings.text(l.id));
        ASSERT_EQ(items.size(), l.count);
        EXPECT_EQ(items.front(), l.first);
        EXPECT_EQ(items.back(), l.last);
    }
}

TEST(SerialDialogRules, EchoBackOffTicksAndGreysTheConversion) {
    Settings settings;
    settings.EchoBack = 1;
    settings.TxCrConv = 0;
    SerialPage page = SerialPage::fromSettings(settings);
    EXPECT_TRUE(txCrConvEnabled(page));
    EXPECT_EQ(page.TxCrConv, 0);

    page.EchoBack = 0; // the click, after the controls went into the page
    echoBackClicked(page);
    EXPECT_FALSE(txCrConvEnabled(page));
    EXPECT_EQ(page.TxCrConv, 1);

    page.EchoBack = 1; // switching it on again keeps the tick
    echoBackClicked(page);
    EXPECT_TRUE(txCrConvEnabled(page));
    EXPECT_EQ(page.TxCrConv, 1);

    SerialPage defaults;
    defaults.setDefaults();
    EXPECT_FALSE(txCrConvEnabled(defaults));
}

TEST(SerialDialogRules, ConfirmedPageReachesTheLineParameters) {
    Settings settings;
    SerialPage page = SerialPage::fromSettings(settings);
    page.ComPort = 2;
    page.BaudRate = "9600";
    page.BitLength = 1;
    page.Parity = 2;
    page.StopBit = 1;
    page.FlowCtrl = 1;
    page.toSettings(settings);
    EXPECT_EQ(settings.ComPort, 2);
    EXPECT_EQ(settings.Dcb.BaudRate, 9600u);
    EXPECT_EQ(settings.Dcb.ByteSize, 7);
    EXPECT_EQ(settings.Dcb.parity, Parity::Even);
    EXPECT_EQ(settings.Dcb.stopBits, StopBits::Two);
    EXPECT_TRUE(settings.Dcb.fOutX);
    EXPECT_FALSE(settings.Dcb.fOutxCtsFlow);
    EXPECT_EQ(SerialPage::fromSettings(settings), page);
}

TEST(ScrollDialogRules, SwitchesEnableTheirListsAndDefaultsMatchAFreshProfile) {
    ScrollPage page;
    EXPECT_FALSE(speedUpDelayEnabled(page));
    EXPECT_FALSE(interlineSpaceEnabled(page));
    page.SpeedUp = 1;
    EXPECT_TRUE(speedUpDelayEnabled(page));
    EXPECT_FALSE(interlineSpaceEnabled(page));
    page.Interline = 1;
    EXPECT_TRUE(interlineSpaceEnabled(page));

    page.setDefaults();
    EXPECT_EQ(page, ScrollPage::fromSettings(Settings{}));
    EXPECT_FALSE(speedUpDelayEnabled(page));
    EXPECT_FALSE(interlineSpaceEnabled(page));
}

TEST(OutlineDialogRules, DefaultsSwitchOffAndTurnRedButKeepTheWidth) {
    Settings settings;
    settings.Outline = 1;
    settings.LineCnt = 4;
    settings.OutlineColor = rgb(0, 255, 0);
    OutlinePage page = OutlinePage::fromSettings(settings);
    EXPECT_TRUE(outlineDetailsEnabled(page));
    page.setDefaults();
    EXPECT_FALSE(outlineDetailsEnabled(page));
    page.toSettings(settings);
    EXPECT_EQ(settings.Outline, 0);
    EXPECT_EQ(settings.LineCnt, 4);
    EXPECT_EQ(settings.OutlineColor, rgb(255, 0, 0));
}

TEST(KinsokuDialogRules, UnofferedTypesShowAsNoneAndSetsFollowTheType) {
    const struct {
        std::int32_t stored;
        std::int32_t shown;
    } types[] = {{-1, 0}, {0, 0}, {1, 1}, {2, 2}, {3, 0}};
    for (const auto& t : types) {
        SCOPED_TRACE(t.stored);
        KinsokuPage page;
        page.Type = t.stored;
        normaliseKinsokuType(page);
        EXPECT_EQ(page.Type, t.shown);
        EXPECT_EQ(kinsokuSetsEnabled(page.Type), t.shown != 0);
    }
    KinsokuPage page;
    page.setDefaults();
    EXPECT_EQ(page.Head, kDefaultKinsokuHead);
    EXPECT_EQ(page.Tail, kDefaultKinsokuTail);
    EXPECT_FALSE(kinsokuSetsEnabled(page.Type));
}

TEST(MiscDialogRules, ByteCountIsAWholeNumberFromZeroTo256) {
    const struct {
        const char* text;
        ByteCountCheck check;
        std::int32_t value = 0; // read when accepted
    } cases[] = {
        {"0", ByteCountCheck::Accepted, 0},
        {"256", ByteCountCheck::Accepted, 256},
        {" 3 ", ByteCountCheck::Accepted, 3},
        {"+4", ByteCountCheck::Accepted, 4},
        {"257", ByteCountCheck::OutOfRange},
        {"-1", ByteCountCheck::OutOfRange},
        {"99999999999", ByteCountCheck::OutOfRange},
        {"", ByteCountCheck::NotInteger},
        {"-", ByteCountCheck::NotInteger},
        {"3a", ByteCountCheck::NotInteger},
        {"1.5", ByteCountCheck::NotInteger},
        // As an input method types them: full-width digits, sign and space.
        {"\x82\x50\x82\x51", ByteCountCheck::Accepted, 12},
        {"\x81\x40\x82\x52\x82\x57", ByteCountCheck::Accepted, 38},
        {"\x81\x7C\x82\x50", ByteCountCheck::OutOfRange},
        {"\x82\x50\x82\xA0", ByteCountCheck::NotInteger}, // １あ
        {"1\x82", ByteCountCheck::NotInteger},            // a lone lead byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::int32_t value = -99;
        EXPECT_EQ(checkByteCount(c.text, value), c.check);
        if (c.check == ByteCountCheck::Accepted) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(MiscDialogRules, IntervalShowsInWholeMinutesAndComesBackInSeconds) {
    const struct {
        std::int32_t seconds;
        const char* shown;
        std::int32_t back;
    } cases[] = {{90, "1", 60}, {600, "10", 600}, {59, "0", 0}, {1800, "30", 1800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        Settings settings;
        settings.WriteTime = c.seconds;
        const MiscPage page = MiscPage::fromSettings(settings);
        EXPECT_EQ(page.TimeStampMinutes, c.shown);
        applyMiscPage(page, settings, {}, {});
        EXPECT_EQ(settings.WriteTime, c.back);
    }
}

TEST(MiscDialogRules, SwitchesEnableTheirControls) {
    MiscPage page;
    page.setDefaults();
    EXPECT_FALSE(timeStampMinutesEnabled(page));
    EXPECT_FALSE(deleteBytesEnabled(page));
    EXPECT_EQ(page.Log, 1);
    EXPECT_EQ(page.TimeStampMinutes, "10");
    page.TimeStamp = 1;
    page.DeleteHandle = 1;
    EXPECT_TRUE(timeStampMinutesEnabled(page));
    EXPECT_TRUE(deleteBytesEnabled(page));
}

TEST(MiscDialogRules, TakingThePageLinksTheTerminalOnlyOnAChangeAndSaysWhenToLayOutAgain) {
    const struct {
        const char* name;
        int linkedBefore;
        int boxTicked;
        bool linkComesUp;
        int links;
        int unlinks;
        int linkedAfter;
    } cases[] = {
        {"ticked: linked when it comes up", 0, 1, true, 1, 0, 1},
        {"ticked: stays off when it fails", 0, 1, false, 1, 0, 0},
        {"cleared: unlinked", 1, 0, true, 0, 1, 0},
        {"unchanged on: the link is not tried again", 1, 1, false, 0, 0, 1},
        {"unchanged off: nothing", 0, 0, true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        settings.UseTermApi = c.linkedBefore;
        MiscPage page = MiscPage::fromSettings(settings);
        page.UseTermApi = c.boxTicked;
        int links = 0;
        int unlinks = 0;
        const bool relayout = applyMiscPage(
            page, settings,
            [&] {
                ++links;
                return c.linkComesUp;
            },
            [&] { ++unlinks; });
        EXPECT_FALSE(relayout);
        EXPECT_EQ(links, c.links);
        EXPECT_EQ(unlinks, c.unlinks);
        EXPECT_EQ(settings.UseTermApi, c.linkedAfter);
    }

    const struct {
        const char* name;
        void (*change)(MiscPage&);
        bool relayout;
    } changes[] = {
        {"log only", [](MiscPage& p) { p.Log = 0; }, false},
        {"decoration", [](MiscPage& p) { p.HideTitleBar = 1; }, false},
        {"delete switch", [](MiscPage& p) { p.DeleteHandle = 1; }, true},
        {"byte count", [](MiscPage& p) { p.DeleteBytes = 3; }, true},
        {"extended commands", [](MiscPage& p) { p.ExtCommands = 1; }, true},
        {"no-wrap", [](MiscPage& p) { p.NoWrap = 1; }, true},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        Settings settings;
        MiscPage page = MiscPage::fromSettings(settings);
        c.change(page);
        EXPECT_EQ(applyMiscPage(page, settings, {}, {}), c.relayout);
        EXPECT_EQ(MiscPage::fromSettings(settings), page);
    }
}

} // namespace
