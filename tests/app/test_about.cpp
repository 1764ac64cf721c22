#include <QApplication>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include "app/CAboutDlg.h"

namespace {

using namespace skiro;

// The version box offers only its close button, and is wide enough for the window manager to
// show its whole title, whatever the content's own width.
TEST(AboutBox, CloseButtonOnlyAndRoomForTheWholeTitle) {
    UiTexts texts;
    CAboutDlg dialog(texts, nullptr);
    dialog.show();
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());

    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    // Beside the title: at least the window icon and the title bar's buttons.
    EXPECT_GE(dialog.width(), metrics.horizontalAdvance(texts.aboutTitle) + 4 * metrics.height());
    EXPECT_GE(dialog.width(), dialog.sizeHint().width());
}

} // namespace
