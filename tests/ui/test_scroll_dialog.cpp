#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "core/SettingsDialogs.h"
#include "ui/CScrollDialog.h"
#include "ui/CTipWnd.h"

using namespace skiro;

namespace {

void showActive(QDialog& dialog) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));
}

// The keyboard alone: a group's mnemonic puts the focus into the group, a key changes the
// control there, Return is OK, and the page carries the change out.
TEST(ScrollDialog, KeyboardChangesReachThePageAtOk) {
    const StringTable strings;
    CScrollDialog dialog(strings, {});
    Settings start;
    start.KeepUp = 0; // speed-up counts only without keep-up
    dialog.page() = ScrollPage::fromSettings(start);
    showActive(dialog);

    auto* speedUp = dialog.findChildren<QCheckBox*>().value(0);
    ASSERT_NE(speedUp, nullptr);
    const auto lists = dialog.findChildren<QComboBox*>();
    ASSERT_EQ(lists.size(), 4);
    QComboBox* tick = lists[0];
    QComboBox* delay = lists[2];
    EXPECT_EQ(tick->currentText(), "50");
    EXPECT_FALSE(delay->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_U, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), speedUp);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(speedUp->isChecked());
    EXPECT_TRUE(delay->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), tick);
    QTest::keyClick(tick, Qt::Key_Down);
    EXPECT_EQ(tick->currentText(), "60");

    // The direction group's mnemonic lands on its chosen button; the arrow moves the choice.
    QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
    auto* focused = qobject_cast<QRadioButton*>(QApplication::focusWidget());
    ASSERT_NE(focused, nullptr);
    EXPECT_TRUE(focused->isChecked());
    QTest::keyClick(focused, Qt::Key_Down);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.page().Tick, "60");
    EXPECT_EQ(dialog.page().SpeedUp, 1);
    EXPECT_EQ(dialog.page().SpeedUpDelay, "1000");
    EXPECT_EQ(dialog.page().Direction, 1);

    Settings settings;
    dialog.page().toSettings(settings);
    EXPECT_EQ(settings.Tick, 60);
    EXPECT_EQ(settings.Direction, 1);
}

TEST(ScrollDialog, DefaultPutsTheDefaultsInAndEscapeCancels) {
    const StringTable strings;
    Settings settings;
    settings.Tick = 35; // not offered by the list: only an edited profile holds it
    settings.Step = 20;
    settings.TimerMethod = 2;
    settings.Interline = 1;
    CScrollDialog dialog(strings, {});
    dialog.page() = ScrollPage::fromSettings(settings);
    showActive(dialog);
    const auto lists = dialog.findChildren<QComboBox*>();
    EXPECT_EQ(lists[0]->currentIndex(), -1);
    EXPECT_EQ(lists[1]->currentText(), "20");
    EXPECT_TRUE(lists[3]->isEnabled());

    dialog.button(IDC_DEFAULT)->click();
    EXPECT_EQ(lists[0]->currentText(), "50");
    EXPECT_EQ(lists[1]->currentText(), "2");
    EXPECT_FALSE(lists[3]->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// The two motion switches by their mnemonics: gliding off brings back the timer choice and
// greys keep-up, keep-up off brings back speed-up; the default button turns both on again.
TEST(ScrollDialog, GlidingAndKeepUpByKeyboardWithTheirDependents) {
    const StringTable strings;
    CScrollDialog dialog(strings, {});
    dialog.page() = ScrollPage::fromSettings(Settings{});
    showActive(dialog);
    const auto checks = dialog.findChildren<QCheckBox*>();
    ASSERT_EQ(checks.size(), 4);
    QCheckBox* speedUp = checks[0];
    QCheckBox* smooth = checks[2];
    QCheckBox* keepUp = checks[3];
    const auto radios = dialog.findChildren<QRadioButton*>();
    QRadioButton* timer = radios[0];
    EXPECT_TRUE(smooth->isChecked());
    EXPECT_TRUE(keepUp->isChecked() && keepUp->isEnabled());
    EXPECT_FALSE(speedUp->isEnabled()) << "keep-up takes the place of speed-up";
    EXPECT_FALSE(timer->isEnabled()) << "a glide needs no timer";

    // Resting on a switch, its help shows, greyed or not.
    struct FixedCursor : TipCursor {
        QPoint at;
        std::optional<QPoint> position() const override { return at; }
        int height() const override { return 20; }
        int hotSpotY() const override { return 0; }
    } cursor;
    dialog.tipWindow()->setCursorSource(&cursor);
    for (const auto& [check, opening] :
         {std::pair{smooth, QStringLiteral("画面の更新ごとに")},
          std::pair{keepUp, QStringLiteral("表示を待っている文字")}}) {
        cursor.at = check->mapToGlobal(QPoint(4, 4));
        dialog.tipWindow()->sample();
        dialog.tipWindow()->sample();
        EXPECT_TRUE(dialog.tipWindow()->currentText().startsWith(opening));
    }

    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), keepUp);
    QTest::keyClick(keepUp, Qt::Key_Space);
    EXPECT_FALSE(keepUp->isChecked());
    EXPECT_TRUE(speedUp->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), smooth);
    QTest::keyClick(smooth, Qt::Key_Space);
    EXPECT_FALSE(smooth->isChecked());
    EXPECT_FALSE(keepUp->isEnabled());
    EXPECT_TRUE(timer->isEnabled());

    dialog.button(IDC_DEFAULT)->click();
    EXPECT_TRUE(smooth->isChecked() && keepUp->isChecked() && keepUp->isEnabled());
    EXPECT_FALSE(timer->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_M, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.page().Smooth, 0);
    EXPECT_EQ(dialog.page().KeepUp, 1) << "kept for when gliding comes back";
}

TEST(ScrollDialog, UnofferedValuesSurviveOk) {
    const StringTable strings;
    Settings settings;
    settings.Tick = 35;
    settings.TimerMethod = 2;
    CScrollDialog dialog(strings, {});
    dialog.page() = ScrollPage::fromSettings(settings);
    showActive(dialog);
    dialog.button(IDOK)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    dialog.page().toSettings(settings);
    EXPECT_EQ(settings.Tick, 35);
    EXPECT_EQ(settings.TimerMethod, 2);
}

TEST(ScrollDialog, HelpButtonOnlyWithAHelpHookAndF1AsksForTheDialogsTopic) {
    const StringTable strings;
    {
        CScrollDialog dialog(strings, {});
        showActive(dialog);
        EXPECT_FALSE(dialog.button(ID_DIALOG_HELP)->isVisible());
    }
    std::vector<int> asked;
    CScrollDialog dialog(strings, [&](int id) { asked.push_back(id); });
    showActive(dialog);
    EXPECT_TRUE(dialog.button(ID_DIALOG_HELP)->isVisible());
    dialog.button(ID_DIALOG_HELP)->click();
    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(asked, (std::vector<int>{132, 132}));
    EXPECT_TRUE(dialog.isVisible());
}

} // namespace
