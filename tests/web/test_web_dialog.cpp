#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "tests/DialogProbe.h"
#include "web/CWebDialog.h"

using namespace skiro;
using skiro::test::control;
using skiro::test::MessageCatcher;

namespace {

// Text as a Japanese input method hands it over when the typist confirms it.
void commitFromInputMethod(const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
}

} // namespace

TEST(WebDialog, KeyboardAloneSetsTheViewUpAndTheCodeTravelsInTheAddress) {
    CWebDialog dialog(WebSettings{});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.qrCode()->pixmap().isNull()) << "no code for a page that is off";

    QTest::keyClick(&dialog, Qt::Key_E, Qt::AltModifier);
    ASSERT_TRUE(control<QCheckBox>(dialog, "enabled")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(&dialog, Qt::Key_P, Qt::AltModifier);
    ASSERT_TRUE(control<QSpinBox>(dialog, "port")->hasFocus());
    control<QSpinBox>(dialog, "port")->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), "9001");
    QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(&dialog, Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(control<QLineEdit>(dialog, "accessCode")->hasFocus());
    // Only letters and digits get in: the code must survive an address unchanged.
    QTest::keyClicks(QApplication::focusWidget(), "Ha ll-3&x");
    EXPECT_EQ(control<QLineEdit>(dialog, "accessCode")->text(), QStringLiteral("Hall3x"));
    EXPECT_TRUE(dialog.address().endsWith(QStringLiteral(":9001/?code=Hall3x")))
        << dialog.address().toStdString();
    EXPECT_FALSE(dialog.qrCode()->pixmap().isNull());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings(), (WebSettings{1, 9001, true, "Hall3x"}));
}

TEST(WebDialog, FullWidthDigitsAndLettersFromAnInputMethodAreTakenAsPlainOnes) {
    CWebDialog dialog(WebSettings{});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_P, Qt::AltModifier);
    control<QSpinBox>(dialog, "port")->selectAll();
    commitFromInputMethod(QStringLiteral("８７９９"));
    QTest::keyClick(&dialog, Qt::Key_A, Qt::AltModifier);
    commitFromInputMethod(QStringLiteral("Ｓｋｉｒｏ２０２６"));
    EXPECT_EQ(control<QLineEdit>(dialog, "accessCode")->text(), QStringLiteral("Skiro2026"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings(), (WebSettings{0, 8799, false, "Skiro2026"}));
}

TEST(WebDialog, EscapeCancels) {
    CWebDialog dialog(WebSettings{1, 8730, false, "abc"});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.address().startsWith(QStringLiteral("http://127.0.0.1:8730/")));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// F1 from any control and the ﾍﾙﾌﾟ button ask for the dialog's own topic and leave it open;
// without a way to open help the button is not offered.
TEST(WebDialog, F1AndTheHelpButtonAskForItsTopic) {
    std::vector<int> asked;
    CWebDialog dialog(WebSettings{}, nullptr, [&](int templateId) { asked.push_back(templateId); });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_P, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    control<QPushButton>(dialog, "help")->click();
    EXPECT_EQ(asked, (std::vector<int>{CWebDialog::kTemplateId, CWebDialog::kTemplateId}));
    EXPECT_TRUE(dialog.isVisible());

    CWebDialog plain(WebSettings{});
    EXPECT_EQ(plain.findChild<QPushButton*>(QStringLiteral("help")), nullptr);
}

// A code that keeps no one out is not taken: OK says why and leaves the dialog open on the
// field; the dialog makes a code that is taken.
TEST(WebDialog, ATooShortCodeIsRefusedAndTheDialogMakesOne) {
    CWebDialog dialog(WebSettings{1, 8730, false, "abc12"});
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));
    QLineEdit* code = control<QLineEdit>(dialog, "accessCode");
    {
        MessageCatcher catcher;
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_TRUE(catcher.text().contains(QStringLiteral("6文字以上")))
            << catcher.text().toStdString();
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), code);
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));

    // The mnemonic clicks the button as a click looks, pressed for a moment and then released.
    QString made;
    for (int press = 0; press < 2; ++press) {
        const QString before = code->text();
        QTest::keyClick(&dialog, Qt::Key_G, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return code->text() != before; }, 10000));
        EXPECT_NE(code->text(), made);
        made = code->text();
    }
    EXPECT_EQ(made.size(), 8);
    EXPECT_TRUE(validAccessCode(made.toStdString()));
    EXPECT_FALSE(made.contains(QRegularExpression(QStringLiteral("[0O1lI]"))));
    EXPECT_TRUE(dialog.address().endsWith(QStringLiteral("/?code=") + made));
    EXPECT_EQ(dialog.focusWidget(), code);

    QTest::keyClick(code, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings().AccessCode, made.toStdString());
}
