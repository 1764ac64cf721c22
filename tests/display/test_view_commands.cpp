#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QListView>
#include <QStringListModel>
#include <QTimer>

#include <functional>
#include <memory>

#include "core/Clock.h"
#include "core/FontDescription.h"
#include "core/Recorder.h"
#include "core/SettingsPages.h"
#include "core/StringTable.h"
#include "display/CMarelView.h"
#include "display/FontChooser.h"
#include "display/QtTextSurface.h"
#include "display/TickSource.h"

namespace skiro {
namespace {

class NoRecorder : public LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

struct CommandFixture {
    Settings settings;
    SystemClock clock;
    StringTable strings;
    NoRecorder recorder;
    std::unique_ptr<CMarelView> view;

    CommandFixture() {
        view = std::make_unique<CMarelView>(settings, recorder, clock, strings);
        view->resize(400, 300);
        view->show();
        settle();
    }
    void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    std::uint64_t fullView() const {
        return static_cast<std::uint64_t>(view->width()) * view->height();
    }
};

// Runs `answer` on the font chooser once it is open and waiting for the user.
void whenChooserOpens(std::function<void(FontChooser&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* chooser = qobject_cast<FontChooser*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        answer(*chooser);
    });
}

// The chooser lists only faces that can show Japanese and has no effects; the face chosen is
// the face the view draws, at the chosen size, and the view is redrawn.
TEST(FontCommand, ChosenFaceIsDrawnAndStoredOnTheRecordsTerms) {
    CommandFixture f;
    const QFontDatabase::WritingSystem japanese = QFontDatabase::Japanese;
    ASSERT_TRUE(QFontDatabase::families(japanese).contains(QStringLiteral("IPAMincho")));
    QStringList listed;
    bool effectsShown = true;
    whenChooserOpens([&](FontChooser& chooser) {
        auto* families = chooser.findChildren<QListView*>().value(0);
        if (auto* model = families ? qobject_cast<QStringListModel*>(families->model()) : nullptr)
            listed = model->stringList();
        effectsShown = false;
        for (QGroupBox* group : chooser.findChildren<QGroupBox*>())
            effectsShown |= group->isVisible() && group->title().contains(QStringLiteral("ffect"));
        QFont mincho(QStringLiteral("IPAMincho"));
        mincho.setPointSize(36);
        chooser.setCurrentFont(mincho);
        chooser.accept();
    });
    f.view->chooseFont();

    ASSERT_FALSE(listed.isEmpty());
    for (const QString& family : listed)
        EXPECT_TRUE(QFontDatabase::families(japanese).contains(family)) << family.toStdString();
    EXPECT_FALSE(effectsShown);

    const int dpi = f.view->logicalDpiX();
    EXPECT_EQ(f.settings.Font.lfFaceName, "IPAMincho");
    EXPECT_EQ(f.settings.Font.lfHeight, -pixelsToTwips(36 * dpi / 72, dpi));
    EXPECT_EQ(f.settings.Font.lfWeight, 400);
    EXPECT_EQ(f.settings.Font.lfItalic, 0);
    ASSERT_NE(f.view->surface(), nullptr);
    EXPECT_EQ(QFontInfo(f.view->surface()->font()).family(), QStringLiteral("IPAMincho"));
    EXPECT_EQ(f.view->surface()->font().pixelSize(), 36 * dpi / 72);
}

TEST(FontCommand, CancelKeepsTheFontButRedraws) {
    CommandFixture f;
    f.view->stopScrollTimer();
    const Font kept = f.settings.Font;
    ASSERT_TRUE(f.view->canPostDataReady()) << "nothing waits to be painted";
    whenChooserOpens([](FontChooser& chooser) {
        chooser.setCurrentFont(QFont(QStringLiteral("IPAMincho"), 40));
        chooser.reject();
    });
    f.view->chooseFont();
    // The command itself asks for the whole view (the window system also repaints what the
    // closing dialog uncovers, whatever the command did).
    EXPECT_FALSE(f.view->canPostDataReady());
    const std::uint64_t painted = f.view->paintedPixels();
    f.settle();
    EXPECT_EQ(f.settings.Font.lfFaceName, kept.lfFaceName);
    EXPECT_EQ(f.settings.Font.lfHeight, kept.lfHeight);
    EXPECT_GE(f.view->paintedPixels() - painted, f.fullView());
}

// A face whose name does not fit the record's 31 bytes could never be drawn as chosen.
TEST(FontCommand, FaceNameTheRecordCannotHoldIsNotTaken) {
    QFont longName(QStringLiteral("A Font Family Name Of Thirty-Two B"));
    EXPECT_FALSE(describeFont(longName, 96, Font{}).has_value());
    QFont hangul(QStringLiteral("\uD55C\uAE00"));
    EXPECT_FALSE(describeFont(hangul, 96, Font{}).has_value()) << "no Shift-JIS for the name";
    QFont japaneseName(QStringLiteral("IPA明朝"));
    const auto record = describeFont(japaneseName, 96, Font{});
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->lfFaceName, "IPA\x96\xbe\x92\xa9");
}

// The colour choosers start from the settings' colour and say in their title which colour they
// set; OK stores the choice and redraws, Cancel changes and redraws nothing.
TEST(ColourCommands, OkStoresAndRedrawsCancelLeavesEverything) {
    const struct {
        const char* name;
        bool background;
        bool confirm;
    } cases[] = {
        {"text colour confirmed", false, true},
        {"text colour cancelled", false, false},
        {"background confirmed", true, true},
        {"background cancelled", true, false},
    };
    const QString textTitle = QStringLiteral("文字の色を選択");
    const QString backTitle = QStringLiteral("背景の色を選択");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandFixture f;
        f.settings.Color.Text = rgb(255, 255, 255);
        f.settings.Color.Back = rgb(0, 0, 255);
        const Colour before = c.background ? f.settings.Color.Back : f.settings.Color.Text;
        f.view->stopScrollTimer();
        f.view->updateView();
        f.settle();
        ASSERT_TRUE(f.view->canPostDataReady()) << "nothing waits to be painted";
        const std::uint64_t painted = f.view->paintedPixels();
        QColor offered;
        QString title;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            offered = dialog->currentColor();
            title = dialog->windowTitle();
            dialog->setCurrentColor(QColor(10, 200, 30));
            c.confirm ? dialog->accept() : dialog->reject();
        });
        c.background ? f.view->chooseBackColour() : f.view->chooseTextColour();
        // Whether the command asked for a paint (the window system repaints what the closing
        // dialog uncovers, whatever the command did).
        EXPECT_EQ(f.view->canPostDataReady(), !c.confirm);
        f.settle();
        EXPECT_EQ(offered, QColor(redOf(before), greenOf(before), blueOf(before)));
        EXPECT_EQ(title, c.background ? backTitle : textTitle);
        const Colour after = c.background ? f.settings.Color.Back : f.settings.Color.Text;
        EXPECT_EQ(after, c.confirm ? rgb(10, 200, 30) : before);
        if (c.confirm) {
            EXPECT_GE(f.view->paintedPixels() - painted, f.fullView());
        }
    }
}

// Confirming the scroll dialog with the other direction turns the running display at once:
// the font is made again for vertical writing and the tick source runs with the new interval.
TEST(ScrollCommand, NewDirectionRemakesTheFontAndRestartsTheTicks) {
    CommandFixture f;
    f.settings.Smooth = 0;
    f.view->startScrollTimer(f.settings.Tick);
    f.view->receiveText("abc\r");
    ASSERT_FALSE(f.view->surface()->vertical());
    const std::uint64_t painted = f.view->paintedPixels();

    f.view->scrollSettings([](ScrollPage& page) {
        EXPECT_EQ(page.Direction, 0);
        EXPECT_EQ(page.Tick, "50");
        page.Direction = 1; // the second button, right-scroll
        page.Tick = "100";
        page.TimerMethod = 1;
        return true;
    });
    f.settle();
    EXPECT_EQ(f.settings.Direction, 1);
    EXPECT_EQ(f.settings.Tick, 100);
    EXPECT_TRUE(f.view->surface()->vertical());
    EXPECT_EQ(f.view->tickSource().running(), TickSource::Kind::PreciseTimer);
    EXPECT_EQ(f.view->tickSource().interval(), 100);
    EXPECT_GE(f.view->paintedPixels() - painted, f.fullView());

    // Cancelled: nothing taken, the font and the ticks stay.
    const QtTextSurface* vertical = f.view->surface();
    f.view->scrollSettings([](ScrollPage& page) {
        page.Direction = 0;
        page.Tick = "20";
        return false;
    });
    EXPECT_EQ(f.settings.Direction, 1);
    EXPECT_EQ(f.view->surface(), vertical);
    EXPECT_EQ(f.view->tickSource().interval(), 100);
}

} // namespace
} // namespace skiro
