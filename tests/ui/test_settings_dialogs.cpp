#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <array>
#include <gtest/gtest.h>

#include "core/SettingsDialogs.h"
#include "tests/DialogProbe.h"
#include "ui/CKinsokuDialog.h"
#include "ui/CMiscDialog.h"
#include "ui/COutlineDialog.h"
#include "ui/CSerialDialog.h"
#include "ui/CTipWnd.h"

using namespace skiro;
using skiro::test::MessageCatcher;

namespace {

void showActive(QDialog& dialog) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));
}

// A mnemonic clicks its button the way a click looks: pressed for a moment, then released.
// The click counts once the button is up again, however long a busy machine takes for it.
void mnemonic(QWidget* window, Qt::Key key) {
    QTest::keyClick(window, key, Qt::AltModifier);
    auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    ASSERT_NE(button, nullptr) << "the mnemonic moves the focus to its button";
    ASSERT_TRUE(QTest::qWaitFor([button] { return !button->isDown(); }, 10000));
}

QCheckBox* checkBox(const QDialog& dialog, const QString& text) {
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
        if (box->text() == text)
            return box;
    return nullptr;
}

TEST(SerialDialog, EchoBackByKeyboardGreysAndTicksTheConversion) {
    const StringTable strings;
    CSerialDialog dialog(strings, {});
    dialog.page() = SerialPage::fromSettings(Settings{});
    dialog.setPortChoices({}, {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyS0")});
    showActive(dialog);
    QCheckBox* echo = checkBox(dialog, QStringLiteral("ｴｺｰﾊﾞｯｸする(&E)"));
    QCheckBox* conversion = checkBox(dialog, QStringLiteral("ｴｺｰﾊﾞｯｸ時CR→CR+LF変換(&T)"));
    ASSERT_TRUE(echo && conversion);
    EXPECT_FALSE(conversion->isEnabled());
    EXPECT_TRUE(conversion->isChecked());

    mnemonic(&dialog, Qt::Key_E);
    EXPECT_TRUE(echo->isChecked());
    EXPECT_TRUE(conversion->isEnabled());
    mnemonic(&dialog, Qt::Key_T);
    EXPECT_FALSE(conversion->isChecked());
    mnemonic(&dialog, Qt::Key_E);
    EXPECT_FALSE(echo->isChecked());
    EXPECT_FALSE(conversion->isEnabled());
    EXPECT_TRUE(conversion->isChecked());

    // The port group's mnemonic lands on the chosen port; the arrow chooses the next one.
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    auto* port = qobject_cast<QRadioButton*>(QApplication::focusWidget());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(), "COM1");
    QTest::keyClick(port, Qt::Key_Right);
    EXPECT_EQ(dialog.findChild<DeviceBox*>()->lineEdit()->text(), "自動 (ttyS0)");

    QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    Settings settings;
    dialog.page().toSettings(settings);
    EXPECT_EQ(settings.ComPort, 1);
    EXPECT_EQ(settings.Dcb.BaudRate, 2400u);
    EXPECT_EQ(settings.EchoBack, 0);
    EXPECT_EQ(settings.TxCrConv, 1);
}

// The device of each COM port is chosen from the list or typed, by keyboard alone; each port
// keeps its own choice while the radio buttons move between them, a list read again (a device
// plugged in) keeps it too, and a long name is cut in the middle with the whole path in a tip.
TEST(SerialDialog, EachPortGetsItsDeviceFromTheListOrTyped) {
    const StringTable strings;
    CSerialDialog dialog(strings, {});
    dialog.page() = SerialPage::fromSettings(Settings{});
    const QString ftdi =
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    const std::vector<DeviceItem> found = {
        {ftdi, QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 (ttyUSB0)")},
        {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ttyUSB0")},
    };
    dialog.setPortPaths({QString(), QStringLiteral("/dev/ttyS9"), QString(), QString()});
    dialog.setPortChoices(found, {QStringLiteral("/dev/ttyUSB0")});
    showActive(dialog);
    auto* box = dialog.findChild<DeviceBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->lineEdit()->text(), "自動 (ttyUSB0)");

    // COM1: the by-id name, second in the list. Its label is cut in the middle.
    QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
    ASSERT_TRUE(box->lineEdit()->hasFocus())
        << "the label's mnemonic focuses the box, not "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                        : "nothing");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(box->path(), ftdi);
    EXPECT_EQ(box->toolTip(), ftdi);
    // The dialog's hover help over the box carries the whole path; the toolkit shows no second
    // box of its own.
    struct FixedCursor : TipCursor {
        QPoint at;
        std::optional<QPoint> position() const override { return at; }
        int height() const override { return 20; }
        int hotSpotY() const override { return 0; }
    } cursor;
    cursor.at = box->mapToGlobal(QPoint(4, 4));
    dialog.tipWindow()->setCursorSource(&cursor);
    dialog.tipWindow()->sample();
    dialog.tipWindow()->sample();
    EXPECT_TRUE(dialog.tipWindow()->currentText().endsWith(QLatin1Char('\n') + ftdi))
        << dialog.tipWindow()->currentText().toStdString();
    QHelpEvent hover(QEvent::ToolTip, QPoint(4, 4), box->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(box, &hover);
    EXPECT_FALSE(QToolTip::isVisible());
    dialog.tipWindow()->setCursorSource(nullptr);
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier); // the focus leaves the box
    const QString shown = box->lineEdit()->text();
    EXPECT_TRUE(shown.startsWith("usb-FTDI") && shown.contains(QChar(0x2026)) &&
                shown.endsWith("(ttyUSB0)"))
        << shown.toStdString();

    // COM2 shows the path it had; a path typed replaces it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(box->path(), "/dev/ttyS9");
    EXPECT_EQ(box->lineEdit()->text(), "/dev/ttyS9");
    QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
    QTest::keyClicks(QApplication::focusWidget(), "/dev/pts/7");
    EXPECT_EQ(box->path(), "/dev/pts/7");

    // A device plugged in while the dialog is open: the list grows, the choices stay.
    std::vector<DeviceItem> more = found;
    more.push_back({QStringLiteral("/dev/ttyACM0"), QStringLiteral("ttyACM0")});
    dialog.setPortChoices(more, {QStringLiteral("/dev/ttyUSB0")});
    EXPECT_EQ(box->count(), 4);
    EXPECT_EQ(box->path(), "/dev/pts/7");

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const std::array<QString, 4> expected = {ftdi, QStringLiteral("/dev/pts/7"), QString(),
                                             QString()};
    EXPECT_EQ(dialog.portPaths(), expected);
    Settings settings;
    dialog.page().toSettings(settings);
    EXPECT_EQ(settings.ComPort, 1);
}

// The machine's own numbering chosen from the list stands in the field by its label, not as
// a blank; a path typed then replaces the label whole.
TEST(SerialDialog, TheMachinesOwnNumberingChosenFromTheListIsShown) {
    const StringTable strings;
    CSerialDialog dialog(strings, {});
    dialog.page() = SerialPage::fromSettings(Settings{});
    dialog.setPortPaths({QStringLiteral("/dev/ttyUSB0"), QString(), QString(), QString()});
    dialog.setPortChoices({{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ttyUSB0")}},
                          {QStringLiteral("/dev/ttyS0")});
    showActive(dialog);
    auto* box = dialog.findChild<DeviceBox*>();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
    ASSERT_TRUE(box->lineEdit()->hasFocus());
    EXPECT_EQ(box->lineEdit()->text(), "/dev/ttyUSB0");

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(box->path(), QString());
    EXPECT_EQ(box->lineEdit()->text(), "自動 (ttyS0)");

    QTest::keyClicks(QApplication::focusWidget(), "/dev/ttyS5");
    EXPECT_EQ(box->path(), "/dev/ttyS5");
    EXPECT_EQ(dialog.portPaths()[0], "/dev/ttyS5");
}

TEST(OutlineDialog, DefaultKeepsTheWidthAndAChosenColourGoesIntoThePage) {
    const StringTable strings;
    Settings settings;
    settings.Outline = 1;
    settings.LineCnt = 3;
    COutlineDialog dialog(strings, {});
    dialog.page() = OutlinePage::fromSettings(settings);
    std::vector<Colour> offered;
    dialog.setColourPicker([&](Colour initial, QWidget*) -> std::optional<Colour> {
        offered.push_back(initial);
        return rgb(0, 255, 0);
    });
    showActive(dialog);
    auto* width = dialog.findChild<QComboBox*>();
    EXPECT_EQ(width->currentText(), "3");
    EXPECT_TRUE(dialog.colourButton()->isEnabled());
    dialog.colourButton()->click();
    EXPECT_EQ(offered, std::vector<Colour>{rgb(255, 0, 0)});

    dialog.button(IDC_DEFAULT)->click();
    EXPECT_FALSE(width->isEnabled());
    EXPECT_FALSE(dialog.colourButton()->isEnabled());
    EXPECT_EQ(width->currentText(), "3");
    dialog.button(IDOK)->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.page().Outline, 0);
    EXPECT_EQ(dialog.page().LineCnt, "3");
    EXPECT_EQ(dialog.page().Color, rgb(255, 0, 0));
}

TEST(KinsokuDialog, SetsAreGreyUnderNoneButStillStoredAtOk) {
    const StringTable strings;
    KinsokuPage page;
    page.Type = 7; // only an edited profile holds it: shown as "しない"
    page.Head = "\x81\x42";
    page.Tail = "\x81\x75";
    CKinsokuDialog dialog(strings, {});
    dialog.page() = page;
    showActive(dialog);
    const auto edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 2);
    EXPECT_EQ(edits[0]->text(), QStringLiteral("。"));
    EXPECT_FALSE(edits[0]->isEnabled());

    const auto types = dialog.findChildren<QRadioButton*>();
    EXPECT_TRUE(types[0]->isChecked());
    types[1]->click();
    EXPECT_TRUE(edits[0]->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), edits[0]);
    edits[0]->end(false);
    // Characters Shift-JIS cannot hold are named, then left out: not stored as "?", nor as
    // the near character Windows would give.
    edits[0]->insert(QStringLiteral("ｯ\U0001F600é?\U0001F600"));
    {
        MessageCatcher cancel(true);
        dialog.button(IDOK)->click();
        EXPECT_FALSE(cancel.text().isEmpty());
        EXPECT_TRUE(dialog.isVisible()) << "Cancel goes back to the set";
        EXPECT_EQ(dialog.focusWidget(), edits[0]);
    }
    types[0]->click();
    EXPECT_FALSE(edits[0]->isEnabled());

    MessageCatcher catcher;
    dialog.button(IDOK)->click();
    EXPECT_EQ(catcher.text(), QStringLiteral("次の文字は Shift-JIS で表せないため、\n禁則文字から"
                                             "除きます。\n\n行頭禁則文字: \U0001F600 é\n\n"
                                             "よろしいですか？"));
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.page().Type, 0);
    EXPECT_EQ(dialog.page().Head, "\x81\x42\xAF?");
    EXPECT_EQ(dialog.page().Tail, "\x81\x75");
}

TEST(MiscDialog, ByteCountOutsideItsRangeOrNotANumberKeepsTheDialogOpen) {
    const StringTable strings;
    const struct {
        const char* typed;
        bool greyed; // the deletion is off
        bool closes;
        const char* message;
        int bytes = 0; // the page's count after OK; 5 before
    } cases[] = {
        {"0", false, true, "", 0},
        {"256", false, true, "", 256},
        {"257", false, false, "0 から 256 までの整数を入力してください。"},
        {"-1", false, false, "0 から 256 までの整数を入力してください。"},
        {"1a", false, false, "整数を入力してください。"},
        {"１２", false, true, "", 12},
        {"x", true, true, "", 5},
        {"300", true, true, "", 5},
        {"7", true, true, "", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        Settings settings;
        settings.DeleteHandle = c.greyed ? 0 : 1;
        settings.DeleteBytes = 5;
        CMiscDialog dialog(strings, {}, {});
        dialog.page() = MiscPage::fromSettings(settings);
        showActive(dialog);
        QLineEdit* bytes = dialog.byteCountEdit();
        EXPECT_EQ(bytes->isEnabled(), !c.greyed);
        bytes->setText(QString::fromUtf8(c.typed));
        dialog.button(IDCANCEL)->setFocus();
        MessageCatcher catcher;
        dialog.button(IDOK)->click();
        EXPECT_EQ(dialog.isVisible(), !c.closes);
        EXPECT_EQ(catcher.text(), QString::fromUtf8(c.message));
        if (c.closes)
            EXPECT_EQ(dialog.page().DeleteBytes, c.bytes);
        else
            EXPECT_EQ(dialog.focusWidget(), bytes);
    }
}

TEST(MiscDialog, DecorationSwitchesPreviewAtOnceAndDefaultShowsEverythingAgain) {
    const StringTable strings;
    std::vector<std::pair<std::string, bool>> applied;
    CMiscDialog::Preview preview{
        [&](bool hide) { applied.emplace_back("title", hide); },
        [&](bool hide) { applied.emplace_back("menu", hide); },
        [&](bool hide) { applied.emplace_back("frame", hide); },
        [&](bool hide) { applied.emplace_back("cursor", hide); },
    };
    CMiscDialog dialog(strings, {}, preview);
    dialog.page() = MiscPage::fromSettings(Settings{});
    showActive(dialog);
    checkBox(dialog, QStringLiteral("ﾀｲﾄﾙﾊﾞｰを消す"))->click();
    checkBox(dialog, QStringLiteral("ﾏｳｽｶｰｿﾙを消す"))->click();
    checkBox(dialog, QStringLiteral("ﾛｸﾞを取る"))->click(); // no preview for the rest
    EXPECT_EQ(applied,
              (std::vector<std::pair<std::string, bool>>{{"title", true}, {"cursor", true}}));
    applied.clear();
    dialog.button(IDC_DEFAULT)->click();
    EXPECT_EQ(applied,
              (std::vector<std::pair<std::string, bool>>{
                  {"title", false}, {"menu", false}, {"frame", false}, {"cursor", false}}));
    EXPECT_TRUE(checkBox(dialog, QStringLiteral("ﾛｸﾞを取る"))->isChecked());
    EXPECT_FALSE(checkBox(dialog, QStringLiteral("ﾀｲﾄﾙﾊﾞｰを消す"))->isChecked());
}

TEST(MiscDialog, TimeStampSwitchEnablesTheMinutesAndKeepsWhatWasTyped) {
    const StringTable strings;
    Settings settings;
    settings.WriteTime = 90;
    CMiscDialog dialog(strings, {}, {});
    dialog.page() = MiscPage::fromSettings(settings);
    showActive(dialog);
    auto* minutes = dialog.findChild<QComboBox*>();
    EXPECT_EQ(minutes->currentText(), "1");
    EXPECT_FALSE(minutes->isEnabled());
    checkBox(dialog, QStringLiteral("ﾊﾝﾄﾞﾙを削除する"))->click();
    dialog.byteCountEdit()->setText("12");
    checkBox(dialog, QStringLiteral("時刻を記録する"))->click();
    EXPECT_TRUE(minutes->isEnabled());
    EXPECT_EQ(dialog.byteCountEdit()->text(), "12");
    dialog.button(IDOK)->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    applyMiscPage(dialog.page(), settings, {}, {});
    EXPECT_EQ(settings.TimeStamp, 1);
    EXPECT_EQ(settings.WriteTime, 60);
    EXPECT_EQ(settings.DeleteBytes, 12);
}

// Every dialog registers its controls' help; the sampler shows a group's help over a radio
// button that has none of its own.
TEST(SettingsDialogs, HelpOfAGroupShowsOverItsRadioButtons) {
    const StringTable strings;
    CSerialDialog dialog(strings, {});
    dialog.page() = SerialPage::fromSettings(Settings{});
    showActive(dialog);
    struct FixedCursor : TipCursor {
        QPoint at;
        std::optional<QPoint> position() const override { return at; }
        int height() const override { return 20; }
        int hotSpotY() const override { return 0; }
    } cursor;
    auto* radio = dialog.findChildren<QRadioButton*>().at(1);
    cursor.at = radio->mapToGlobal(QPoint(2, 2));
    dialog.tipWindow()->setCursorSource(&cursor);
    dialog.tipWindow()->sample();
    dialog.tipWindow()->sample();
    EXPECT_TRUE(dialog.tipWindow()->currentText().startsWith(
        QStringLiteral("パソコンの通信ポートを選択します。")));
    cursor.at = dialog.button(IDOK)->mapToGlobal(QPoint(2, 2));
    dialog.tipWindow()->sample();
    dialog.tipWindow()->sample();
    EXPECT_TRUE(dialog.tipWindow()->currentText().startsWith(QStringLiteral("設定を確定して")));
}

} // namespace
