#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "core/Clock.h"
#include "core/StringTable.h"
#include "sjis/Sjis.h"
#include "ui/CTipWnd.h"

namespace {

using namespace skiro;

class StillClock final : public Clock {
  public:
    LocalTime localTime() const override { return {}; }
    std::uint32_t tickCount() const override { return now; }
    std::uint32_t now = 0xFFFFF000; // close to the wrap, which differences must survive
};

class HeldCursor final : public TipCursor {
  public:
    std::optional<QPoint> position() const override { return pos; }
    int height() const override { return 32; }
    int hotSpotY() const override { return 2; }
    std::optional<QPoint> pos;
};

constexpr int kGroupTip = 33040;   // four lines
constexpr int kEchoTip = 33047;    // the greyed conversion box
constexpr int kMissingTip = 33039; // no such string

// A small dialog shaped like the serial dialog: radio buttons that are not registered inside a
// registered group box, a disabled check box registered before the group box that holds it,
// and a control whose string is missing.
struct TipRig {
    StringTable strings;
    StillClock clock;
    HeldCursor cursor;
    QDialog dialog;
    QGroupBox* group = new QGroupBox(QStringLiteral("ﾎﾟｰﾄ(&C)"), &dialog);
    QRadioButton* radio = new QRadioButton(QStringLiteral("COM1"), group);
    QCheckBox* echo = new QCheckBox(QStringLiteral("ｴｺｰﾊﾞｯｸ時CR→CR+LF変換(&T)"), group);
    QLineEdit* unnamed = new QLineEdit(group);
    QLineEdit* focused = new QLineEdit(&dialog);
    CTipWnd* tip = new CTipWnd(strings, &dialog);

    TipRig() {
        group->setGeometry(10, 10, 200, 120);
        radio->setGeometry(10, 20, 80, 20);
        echo->setGeometry(10, 50, 180, 20);
        echo->setEnabled(false);
        unnamed->setGeometry(10, 80, 100, 24);
        focused->setGeometry(10, 140, 100, 24);
        dialog.resize(240, 180);
        tip->setClock(&clock);
        tip->setCursorSource(&cursor);
        tip->start(&dialog, 250, 5000, 200);
        tip->addTip(echo, kEchoTip);
        tip->addTip(unnamed, kMissingTip);
        tip->addTip(group, kGroupTip);
        tip->addTip(focused, 33097);
        place(QPoint(100, 100));
    }

    void place(QPoint topLeft) {
        dialog.move(topLeft);
        dialog.show();
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));
        focused->setFocus();
        QApplication::processEvents();
    }

    QPoint centreOf(QWidget* w) const { return w->mapToGlobal(w->rect().center()); }

    // Samples at 100 ms steps with the cursor held at pos, as the timer would.
    void hold(QPoint pos, int samples) {
        cursor.pos = pos;
        for (int i = 0; i < samples; ++i) {
            tip->sample();
            clock.now += 100;
        }
    }
    // Moves to pos and rests there until the box shows (or would have).
    void rest(QPoint pos) { hold(pos, 6); }
};

QString tipText(int id) {
    return fromSjis(StringTable().text(id));
}

TEST(TipWindow, TipOfTheFirstRegisteredControlUnderTheCursor) {
    TipRig rig;
    struct Case {
        const char* name;
        QWidget* over;
        QString expected; // empty: no box
    };
    const Case cases[] = {
        {"unregistered radio button shows its group box's tip", rig.radio, tipText(kGroupTip)},
        {"disabled check box registered first shows its own", rig.echo, tipText(kEchoTip)},
        {"control with a missing string falls to its group box", rig.unnamed, tipText(kGroupTip)},
        {"group box itself", rig.group, tipText(kGroupTip)},
        {"dialog background, no control", &rig.dialog, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPoint pos = rig.centreOf(c.over);
        if (c.over == rig.group)
            pos = rig.group->mapToGlobal(QPoint(195, 5)); // beside the controls inside it
        if (c.over == &rig.dialog)
            pos = rig.dialog.mapToGlobal(QPoint(230, 5));
        rig.rest(pos);
        EXPECT_EQ(rig.tip->isVisible(), !c.expected.isEmpty());
        EXPECT_EQ(rig.tip->currentText(), c.expected);
        // The box never takes the focus from the dialog.
        EXPECT_EQ(QApplication::focusWidget(), rig.focused);
        EXPECT_FALSE(rig.tip->isActiveWindow());
    }
    EXPECT_TRUE(tipText(kEchoTip).startsWith(QStringLiteral("エコーバック時のみ有効です。\n")));
}

TEST(TipWindow, ShowsAfterTheDelayAndHidesOnAOnePixelMove) {
    TipRig rig;
    const QPoint pos = rig.centreOf(rig.radio);
    rig.cursor.pos = pos;
    rig.tip->sample(); // the cursor arrived: it has moved
    rig.clock.now += 100;
    rig.tip->sample(); // still: the group box becomes current, resting starts now
    EXPECT_EQ(rig.tip->currentControl(), rig.group);
    rig.clock.now += 250;
    rig.tip->sample(); // exactly the delay is not yet more than it
    EXPECT_FALSE(rig.tip->isVisible());
    rig.clock.now += 1;
    rig.tip->sample();
    ASSERT_TRUE(rig.tip->isVisible());

    // Four lines: four line heights, the one-pixel margins and the border.
    const int lineHeight = QFontMetrics(rig.dialog.font()).height();
    EXPECT_EQ(rig.tip->height(), 4 * lineHeight + 2 + 2);

    rig.hold(pos + QPoint(1, 0), 1);
    EXPECT_FALSE(rig.tip->isVisible());
    EXPECT_EQ(rig.tip->currentControl(), nullptr);
    rig.hold(pos + QPoint(1, 0), 5);
    EXPECT_TRUE(rig.tip->isVisible());
    EXPECT_EQ(rig.tip->currentControl(), rig.group);
}

TEST(TipWindow, TimesOutAfterTheBaseTimeAndItsBytesThenStaysHidden) {
    TipRig rig;
    const QPoint pos = rig.centreOf(rig.echo);
    rig.cursor.pos = pos;
    rig.tip->sample();
    rig.tip->sample(); // current from this tick on
    const std::uint32_t restSince = rig.clock.now;
    const auto bytes = static_cast<std::uint32_t>(StringTable().text(kEchoTip).size());
    const std::uint32_t limit = 250 + 5000 + 200 * bytes;

    rig.clock.now = restSince + 300;
    rig.tip->sample();
    ASSERT_TRUE(rig.tip->isVisible());
    rig.clock.now = restSince + limit;
    rig.tip->sample();
    EXPECT_TRUE(rig.tip->isVisible());
    rig.clock.now = restSince + limit + 1;
    rig.tip->sample();
    EXPECT_FALSE(rig.tip->isVisible());
    rig.hold(pos, 100); // ten more seconds, still
    EXPECT_FALSE(rig.tip->isVisible());

    rig.hold(pos + QPoint(0, 1), 6); // moved and rested again
    EXPECT_TRUE(rig.tip->isVisible());
}

TEST(TipWindow, PlacedBelowTheCursorAndKeptInsideTheWorkArea) {
    TipRig rig;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize box = rig.tip->boxSize(tipText(kGroupTip));
    struct Case {
        const char* name;
        QPoint dialogAt; // where the dialog goes
        bool nearRight;  // box shifted left so that its right edge is one pixel inside
        bool nearBottom; // box above the cursor image
    };
    const Case cases[] = {
        {"room everywhere: below the cursor", area.topLeft() + QPoint(20, 20), false, false},
        {"at the right edge", QPoint(area.right() - 215, area.top() + 20), true, false},
        {"at the bottom edge", QPoint(area.left() + 20, area.bottom() - 135), false, true},
        {"in the bottom right corner", QPoint(area.right() - 215, area.bottom() - 135), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.place(c.dialogAt);
        // The cursor rests on the group box's far corner, near the screen's edges.
        const QPoint pos = rig.group->mapToGlobal(QPoint(195, 115));
        rig.rest(pos);
        ASSERT_TRUE(rig.tip->isVisible());
        const QRect got = rig.tip->geometry();
        EXPECT_EQ(got.size(), box);
        const int right = area.x() + area.width();
        EXPECT_EQ(got.x(), c.nearRight ? right - box.width() - 1 : pos.x());
        // Height 32 and hot spot 2: one free row below the image, or one above it.
        EXPECT_EQ(got.y(), c.nearBottom ? pos.y() - 2 - box.height() - 1 : pos.y() + 31);
        EXPECT_TRUE(area.contains(got));
        rig.hold(pos + QPoint(1, 1), 1);
    }
}

// The box belongs to the dialog the user works in: a drop-down list or menu open over it, or
// another window made active, hides it and keeps it away.
TEST(TipWindow, QuietWhileAPopupIsOpenOrAnotherWindowIsActive) {
    TipRig rig;
    QPoint pos = rig.centreOf(rig.radio);
    rig.rest(pos);
    ASSERT_TRUE(rig.tip->isVisible());
    {
        QMenu menu;
        menu.addAction(QStringLiteral("元に戻す"));
        menu.popup(rig.dialog.mapToGlobal(QPoint(0, 0)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget(); }, 10000));
        rig.hold(pos, 1);
        EXPECT_FALSE(rig.tip->isVisible());
        rig.rest(pos += QPoint(1, 0));
        EXPECT_FALSE(rig.tip->isVisible());
        EXPECT_EQ(rig.tip->currentControl(), nullptr);
    }
    ASSERT_TRUE(QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }, 10000));
    rig.rest(pos += QPoint(1, 0));
    EXPECT_TRUE(rig.tip->isVisible()) << "back once the menu has gone";

    QWidget other;
    other.setGeometry(rig.dialog.geometry().translated(0, rig.dialog.height() + 40));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 10000));
    rig.hold(pos, 1);
    EXPECT_FALSE(rig.tip->isVisible());
    rig.rest(pos += QPoint(1, 0));
    EXPECT_FALSE(rig.tip->isVisible());
}

TEST(TipWindow, HiddenWithItsDialog) {
    TipRig rig;
    rig.rest(rig.centreOf(rig.radio));
    ASSERT_TRUE(rig.tip->isVisible());
    rig.dialog.hide();
    EXPECT_FALSE(rig.tip->isVisible());
    rig.rest(rig.centreOf(rig.radio) + QPoint(1, 0));
    EXPECT_FALSE(rig.tip->isVisible());
}

} // namespace
