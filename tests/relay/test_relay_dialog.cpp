#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "relay/CRelayDialog.h"
#include "tests/DialogProbe.h"

using namespace skiro;
using skiro::test::control;
using skiro::test::MessageCatcher;

namespace {

void typeInto(QDialog& dialog, Qt::Key mnemonic, const char* field, const QString& text) {
    QTest::keyClick(&dialog, mnemonic, Qt::AltModifier);
    ASSERT_TRUE(control<QLineEdit>(dialog, field)->hasFocus()) << field;
    control<QLineEdit>(dialog, field)->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), text);
}

} // namespace

TEST(RelayDialog, KeyboardAloneSetsTheRoomUpAndTheBrokerIsCheckedBeforeOk) {
    CRelayDialog dialog(RelaySettings{}, QStringLiteral("place"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QTest::keyClick(&dialog, Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(control<QComboBox>(dialog, "mode")->hasFocus());
    for (int i = 0; i < RelaySettings::Follow; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    // A plain connection to a broker elsewhere would send the password in the clear.
    typeInto(dialog, Qt::Key_B, "broker", QStringLiteral("mqtt://broker.example:1883"));
    typeInto(dialog, Qt::Key_R, "room", QStringLiteral("hall"));
    typeInto(dialog, Qt::Key_U, "user", QStringLiteral("display"));
    typeInto(dialog, Qt::Key_P, "password", QStringLiteral("secret"));
    {
        MessageCatcher catcher;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible()) << "refused address: the dialog stays";
        EXPECT_FALSE(catcher.text().isEmpty());
        // The refused field has the focus back, selected, so typing replaces it.
        EXPECT_EQ(dialog.focusWidget(), control<QLineEdit>(dialog, "broker"));
    }
    QLineEdit* broker = control<QLineEdit>(dialog, "broker");
    QTest::keyClicks(broker, QStringLiteral("mqtts://broker.example"));
    QTest::keyClick(broker, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const RelaySettings chosen = dialog.settings();
    EXPECT_EQ(chosen.Mode, RelaySettings::Follow);
    EXPECT_EQ(chosen.Broker, "mqtts://broker.example");
    EXPECT_EQ(chosen.Room, "hall");
    EXPECT_EQ(chosen.User, "display");
    EXPECT_TRUE(dialog.passwordChanged());
    EXPECT_EQ(dialog.password(), QStringLiteral("secret"));
}

TEST(RelayDialog, EscapeCancelsAndF1AsksForItsTopic) {
    int asked = 0;
    CRelayDialog dialog(RelaySettings{}, QStringLiteral("place"), nullptr,
                        [&asked](int topic) { asked = topic; });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    EXPECT_EQ(asked, CRelayDialog::kTemplateId);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}
