#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "app/CMainFrame.h"
#include "app/CMarelApp.h"
#include "core/Profile.h"
#include "tests/serial/PtyPair.h"
#include "ui/CKinsokuDialog.h"
#include "ui/CMiscDialog.h"
#include "ui/COutlineDialog.h"

// Stands in for the desktop's browser: records the help pages the program opens.
class HelpPageCatcher : public QObject {
    Q_OBJECT
  public:
    QStringList pages;
  public slots:
    void open(const QUrl& url) { pages << QFileInfo(url.toLocalFile()).fileName(); }
};

namespace {

using namespace skiro;

// Runs `act` on the dialog of type T once it is the modal and active window, from inside the
// command's own modal loop.
template <class T> class WhenModal {
  public:
    explicit WhenModal(std::function<void(T&)> act) : m_act(std::move(act)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            // Keys go to the active window: wait until the dialog has become it.
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog && dialog->isActiveWindow() && dialog->focusWidget()) {
                m_timer.stop();
                m_seen = true;
                m_act(*dialog);
            }
        });
        m_timer.start(10);
    }
    bool seen() const { return m_seen; }

  private:
    std::function<void(T&)> m_act;
    QTimer m_timer;
    bool m_seen = false;
};

QCheckBox* checkBox(const QDialog& dialog, const QString& text) {
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
        if (box->text() == text)
            return box;
    return nullptr;
}

bool titleShown(const CMainFrame& frame) {
    return !(frame.windowFlags() & Qt::FramelessWindowHint);
}

class SettingsCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        m_app = std::make_unique<CMarelApp>(m_folder.path(), "skiro");
        ASSERT_TRUE(m_app->initInstance());
        frame().activateWindow();
    }
    CMainFrame& frame() { return *m_app->frame(); }
    Settings& settings() { return m_app->document()->settings(); }

    QTemporaryDir m_folder;
    std::unique_ptr<CMarelApp> m_app;
};

TEST_F(SettingsCommandsTest, CancelOfTheMiscDialogPutsThePreviewedDecorationsBack) {
    ASSERT_TRUE(titleShown(frame()));
    bool hiddenDuringPreview = false;
    WhenModal<CMiscDialog> cancel([&](CMiscDialog& dialog) {
        checkBox(dialog, QStringLiteral("ﾀｲﾄﾙﾊﾞｰを消す"))->click();
        checkBox(dialog, QStringLiteral("ﾒﾆｭｰﾊﾞｰを消す"))->click();
        hiddenDuringPreview = !titleShown(frame()) && frame().menuBar()->isHidden();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    frame().action(ID_MISC)->trigger();
    ASSERT_TRUE(cancel.seen());
    EXPECT_TRUE(hiddenDuringPreview);
    EXPECT_TRUE(titleShown(frame()));
    EXPECT_FALSE(frame().menuBar()->isHidden());
    EXPECT_EQ(settings().HideTitleBar, 0);

    WhenModal<CMiscDialog> confirm([&](CMiscDialog& dialog) {
        checkBox(dialog, QStringLiteral("ﾒﾆｭｰﾊﾞｰを消す"))->click();
        checkBox(dialog, QStringLiteral("ﾛｸﾞを取る"))->click();
        dialog.button(IDOK)->click();
    });
    frame().action(ID_MISC)->trigger();
    ASSERT_TRUE(confirm.seen());
    EXPECT_TRUE(frame().menuBar()->isHidden());
    EXPECT_EQ(settings().HideMenuBar, 1);
    EXPECT_EQ(settings().Log, 0);
}

TEST_F(SettingsCommandsTest, TheTerminalLinkThatCannotComeUpIsSaidAndLeftOff) {
    QString message;
    WhenModal<QMessageBox> answer([&](QMessageBox& box) {
        message = box.text();
        box.accept();
    });
    WhenModal<CMiscDialog> tick([&](CMiscDialog& dialog) {
        checkBox(dialog, QStringLiteral("秀TermAPIを使う"))->click();
        dialog.button(IDOK)->click();
    });
    frame().action(ID_MISC)->trigger();
    ASSERT_TRUE(tick.seen());
    EXPECT_EQ(message, QStringLiteral("秀Termが見つからないか通信に失敗しました。"));
    EXPECT_EQ(settings().UseTermApi, 0);
}

// A setting confirmed in a dialog is in the profile after the next close; Cancel leaves it.
TEST_F(SettingsCommandsTest, OutlineByKeyboardReachesTheProfileAndCancelChangesNothing) {
    WhenModal<COutlineDialog> cancel([&](COutlineDialog& dialog) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Space);
        dialog.button(IDCANCEL)->click();
    });
    frame().action(ID_OUTLINE)->trigger();
    ASSERT_TRUE(cancel.seen());
    EXPECT_EQ(settings().Outline, 0);

    WhenModal<COutlineDialog> confirm([&](COutlineDialog& dialog) {
        // The first control has the focus: Space ticks the outline, Tab moves to the width.
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Space);
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Down);
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    });
    frame().action(ID_OUTLINE)->trigger();
    ASSERT_TRUE(confirm.seen());
    EXPECT_EQ(settings().Outline, 1);
    EXPECT_EQ(settings().LineCnt, 2);

    frame().close();
    const Profile saved = Profile::load(m_folder.filePath("skiro.ini").toStdString());
    EXPECT_EQ(saved.readInt("Outline", "Outline", -1), 1);
    EXPECT_EQ(saved.readInt("Outline", "LineCnt", -1), 2);
}

// One key of a keyboard walk, sent to whatever has the focus, as a keyboard would.
struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};
Key alt(char letter) {
    return {static_cast<Qt::Key>(Qt::Key_A + (letter - 'A')), Qt::AltModifier};
}
// Not a key: a check box's mnemonic clicks it a moment later, as a pressed button comes up;
// the walk waits for that before the next key.
const Key buttonsUp{Qt::Key_unknown};

// Each dialog opened on stored values other than the first of each group, walked by the
// keyboard alone and closed with Return: what the walk chose is in the profile written at
// close. Radio groups are one stop each, entered on the checked button; arrows go round the
// group and choose; Space on the entered button keeps the choice.
TEST(SettingsKeyboardWalks, StartFromTheStoredValuesAndReachTheProfile) {
    const Key tab{Qt::Key_Tab}, backtab{Qt::Key_Tab, Qt::ShiftModifier}, space{Qt::Key_Space};
    const Key up{Qt::Key_Up}, down{Qt::Key_Down}, left{Qt::Key_Left}, right{Qt::Key_Right};
    const struct {
        const char* name;
        int command;
        const char* stored; // profile lines
        std::vector<Key> keys;
        std::vector<std::pair<const char*, int>> expected; // section.key → value
    } cases[] = {
        {"serial: each group entered on its choice, arrows choose the neighbour",
         ID_SERIAL,
         "[Serial]\r\nComPort=1\r\nParity=2\r\nStopBit=1\r\nBitLength=1\r\nFlowCtrl=1\r\n",
         {alt('C'), right, alt('P'), left, alt('S'), right, alt('L'), left, alt('F'), down},
         {{"Serial.ComPort", 2},
          {"Serial.Parity", 1},
          {"Serial.StopBit", 0},
          {"Serial.BitLength", 0},
          {"Serial.FlowCtrl", 2}}},
        {"serial: the first stop is the chosen port, and Space keeps it",
         ID_SERIAL,
         "[Serial]\r\nComPort=1\r\n",
         {space},
         {{"Serial.ComPort", 1}}},
        {"kinsoku: up from push-in is push-out",
         ID_KINSOKU,
         "[Kinsoku]\r\nType=2\r\n",
         {alt('K'), up},
         {{"Kinsoku.Type", 1}}},
        {"kinsoku: back-tab from the head set enters the group on its choice",
         ID_KINSOKU,
         "[Kinsoku]\r\nType=1\r\n",
         {alt('H'), backtab, down},
         {{"Kinsoku.Type", 2}}},
        {"scroll: the last direction wraps to the first; Space keeps the timer",
         ID_SCROLL,
         "[Scroll]\r\nTimerMethod=1\r\nDirection=1\r\n",
         {alt('R'), down, alt('T'), space},
         {{"Scroll.TimerMethod", 1}, {"Scroll.Direction", 0}}},
        {"scroll: the timer, greyed while gliding, is entered on its choice once gliding is off",
         ID_SCROLL,
         "[Scroll]\r\nTimerMethod=1\r\nSmooth=1\r\n",
         {alt('M'), buttonsUp, alt('T'), up},
         {{"Scroll.Smooth", 0}, {"Scroll.TimerMethod", 0}}},
        {"outline: default keeps the width picked and leaves Return to OK",
         ID_OUTLINE,
         "[Outline]\r\nOutline=1\r\nLineCnt=1\r\nColor=0,0,255\r\n",
         {tab, down, down, down, tab, tab, tab, space},
         {{"Outline.Outline", 0}, {"Outline.LineCnt", 4}}},
    };
    const KinsokuValues before = Kinsoku;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        {
            std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
            ini << c.stored;
        }
        CMarelApp app(folder.path(), "skiro");
        ASSERT_TRUE(app.initInstance());
        app.frame()->activateWindow();
        bool closedByReturn = false;
        WhenModal<SettingsDialog> walk([&](SettingsDialog& dialog) {
            for (const Key& k : c.keys) {
                if (k.key == Qt::Key_unknown) {
                    const auto buttons = dialog.findChildren<QAbstractButton*>();
                    EXPECT_TRUE(QTest::qWaitFor([&] {
                        return std::none_of(buttons.begin(), buttons.end(),
                                            [](const QAbstractButton* b) { return b->isDown(); });
                    }));
                    continue;
                }
                QTest::keyClick(QApplication::focusWidget(), k.key, k.modifiers);
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            closedByReturn = dialog.result() == QDialog::Accepted && !dialog.isVisible();
            if (dialog.isVisible())
                dialog.reject();
        });
        app.frame()->action(c.command)->trigger();
        ASSERT_TRUE(walk.seen());
        EXPECT_TRUE(closedByReturn);
        app.frame()->close();
        const Profile saved = Profile::load(folder.filePath("skiro.ini").toStdString());
        for (const auto& [name, value] : c.expected) {
            const std::string_view full(name);
            const std::size_t dot = full.find('.');
            EXPECT_EQ(saved.readInt(full.substr(0, dot), full.substr(dot + 1), -1), value) << name;
        }
        Kinsoku = before;
    }
}

TEST_F(SettingsCommandsTest, KinsokuRuleChangesOnlyAtOk) {
    const KinsokuValues before = Kinsoku;
    WhenModal<CKinsokuDialog> choose([&](CKinsokuDialog& dialog) {
        dialog.findChildren<QRadioButton*>().at(2)->click();
        dialog.button(IDOK)->click();
    });
    frame().action(ID_KINSOKU)->trigger();
    ASSERT_TRUE(choose.seen());
    EXPECT_EQ(Kinsoku.Type, 2);
    EXPECT_EQ(Kinsoku.Head, before.Head);
    Kinsoku = before;
}

// F1 and the ﾍﾙﾌﾟ button of each dialog open that dialog's page, and the dialog stays open.
TEST_F(SettingsCommandsTest, HelpInADialogOpensItsOwnPage) {
    QDir(m_folder.path()).mkpath(QStringLiteral("help"));
    for (int topic : {5004, 5023, 5034, 5038}) {
        QFile page(m_folder.filePath(QStringLiteral("help/%1.html").arg(topic)));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    }
    HelpPageCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    const struct {
        int command;
        const char* page;
    } cases[] = {{ID_SERIAL, "5004.html"},
                 {ID_OUTLINE, "5023.html"},
                 {ID_KINSOKU, "5034.html"},
                 {ID_MISC, "5038.html"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        catcher.pages.clear();
        bool stayedOpen = false;
        WhenModal<SettingsDialog> askHelp([&](SettingsDialog& dialog) {
            QTest::keyClick(&dialog, Qt::Key_F1);
            dialog.button(ID_DIALOG_HELP)->click();
            stayedOpen = dialog.isVisible();
            dialog.reject();
        });
        frame().action(c.command)->trigger();
        ASSERT_TRUE(askHelp.seen());
        EXPECT_TRUE(stayedOpen);
        EXPECT_EQ(catcher.pages, QStringList({c.page, c.page}));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

// The colour chooser opened by ">>色" has its own help page, and afterwards Return is still OK
// for the outline dialog rather than the chooser once more.
TEST_F(SettingsCommandsTest, ColourChooserOfTheOutlineHasItsHelpAndLeavesReturnToOk) {
    QDir(m_folder.path()).mkpath(QStringLiteral("help"));
    for (int topic : {5020, 5023}) {
        QFile page(m_folder.filePath(QStringLiteral("help/%1.html").arg(topic)));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    }
    HelpPageCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    settings().Outline = 1;
    int choosers = 0;
    QString title;
    bool closedByReturn = false;
    WhenModal<COutlineDialog> outline([&](COutlineDialog& dialog) {
        WhenModal<QColorDialog> chooser([&](QColorDialog& colours) {
            ++choosers;
            title = colours.windowTitle();
            QTest::keyClick(&colours, Qt::Key_F1);
            colours.reject();
        });
        dialog.colourButton()->setFocus();
        QTest::keyClick(dialog.colourButton(), Qt::Key_Space);
        // The window manager makes the outline dialog active again (the offscreen platform
        // leaves that to the program); the button keeps the focus.
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000));
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
        closedByReturn = !dialog.isVisible() && dialog.result() == QDialog::Accepted;
        if (dialog.isVisible())
            dialog.reject();
    });
    frame().action(ID_OUTLINE)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_TRUE(outline.seen());
    EXPECT_EQ(choosers, 1);
    EXPECT_EQ(title, QStringLiteral("縁取りの色を選択"));
    EXPECT_EQ(catcher.pages, QStringList({"5020.html"}));
    EXPECT_TRUE(closedByReturn);
}

TEST(SettingsCommandStates, SerialSettingsOnlyWhileThePortIsClosed) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir folder;
    {
        std::ofstream ini(folder.filePath("skiro.ini").toStdString(), std::ios::binary);
        ini << "[Serial]\r\nCOM1=" << pty.slavePath << "\r\n";
    }
    CMarelApp app(folder.path(), "skiro");
    ASSERT_TRUE(app.initInstance());
    CMainFrame& frame = *app.frame();
    for (int id : {ID_SERIAL, ID_OUTLINE, ID_KINSOKU, ID_MISC}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(frame.action(id)->isEnabled());
    }
    frame.action(ID_START)->trigger();
    ASSERT_TRUE(app.document()->session().isOpen());
    EXPECT_FALSE(frame.action(ID_SERIAL)->isEnabled());
    EXPECT_TRUE(frame.action(ID_MISC)->isEnabled());
    frame.action(ID_STOP)->trigger();
    EXPECT_TRUE(frame.action(ID_SERIAL)->isEnabled());
    frame.close();
}

} // namespace

#include "test_settings_commands.moc"
