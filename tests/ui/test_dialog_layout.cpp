#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "ui/CKinsokuDialog.h"
#include "ui/CMiscDialog.h"
#include "ui/COutlineDialog.h"
#include "ui/CScrollDialog.h"
#include "ui/CSerialDialog.h"

using namespace skiro;

namespace {

// The width a button's text and its indicator take, as the style draws them.
int neededWidth(QAbstractButton* button) {
    QString text = button->text();
    text.remove(QLatin1Char('&'));
    const int textWidth = button->fontMetrics().horizontalAdvance(text);
    QStyle* style = button->style();
    if (qobject_cast<QRadioButton*>(button))
        return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, button) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, button) + textWidth;
    if (qobject_cast<QCheckBox*>(button))
        return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, button) + textWidth;
    return textWidth + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
}

// Every control lies inside the dialog, every text fits its control and no two controls
// overlap: nothing is cut off or hidden, whatever the font measures.
TEST(DialogLayout, EveryTextFitsItsControlInsideTheDialogWithoutOverlap) {
    const StringTable strings;
    const auto help = [](int) {};
    const std::function<std::unique_ptr<SettingsDialog>()> makers[] = {
        [&] { return std::make_unique<CSerialDialog>(strings, help); },
        [&] { return std::make_unique<CScrollDialog>(strings, help); },
        [&] { return std::make_unique<COutlineDialog>(strings, help); },
        [&] { return std::make_unique<CKinsokuDialog>(strings, help); },
        [&] { return std::make_unique<CMiscDialog>(strings, help, CMiscDialog::Preview{}); },
    };
    for (const auto& make : makers) {
        const std::unique_ptr<SettingsDialog> dialog = make();
        SCOPED_TRACE(dialog->objectName().toStdString());
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        const QRect inside = dialog->rect();
        for (QWidget* control : dialog->findChildren<QWidget*>()) {
            if (!control->isVisible() || control->isWindow())
                continue;
            const QRect where(control->mapTo(dialog.get(), QPoint(0, 0)), control->size());
            QString text;
            if (auto* button = qobject_cast<QAbstractButton*>(control))
                text = button->text();
            else if (auto* label = qobject_cast<QLabel*>(control))
                text = label->text();
            SCOPED_TRACE(text.toStdString());
            EXPECT_TRUE(inside.contains(where));
            if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                EXPECT_LE(neededWidth(button), button->width());
                EXPECT_LE(button->fontMetrics().height(), button->height());
            }
            if (auto* label = qobject_cast<QLabel*>(control); label && !label->wordWrap()) {
                QString shown = label->text();
                shown.remove(QLatin1Char('&'));
                EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->width());
            }
            if (auto* group = qobject_cast<QGroupBox*>(control)) {
                QString title = group->title();
                title.remove(QLatin1Char('&'));
                EXPECT_LT(group->fontMetrics().horizontalAdvance(title), group->width());
            }
            // Nothing is cut off by the group box it lies in.
            EXPECT_TRUE(control->parentWidget()->rect().contains(control->geometry()));
            // A radio button's text keeps at least a space's room before the next button in
            // its row, so that it does not read as that button's text.
            if (auto* radio = qobject_cast<QRadioButton*>(control)) {
                const QRadioButton* next = nullptr;
                for (QRadioButton* other : control->parentWidget()->findChildren<QRadioButton*>(
                         Qt::FindDirectChildrenOnly))
                    if (other->y() == radio->y() && other->x() > radio->x() &&
                        (!next || other->x() < next->x()))
                        next = other;
                if (next) {
                    EXPECT_GE(next->x() - (radio->x() + neededWidth(radio)),
                              radio->fontMetrics().horizontalAdvance(QLatin1Char(' ')))
                        << "before " << next->text().toStdString();
                }
            }
            if (qobject_cast<QGroupBox*>(control))
                continue; // a group box holds the controls that lie on it
            for (QWidget* other :
                 control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (other == control || !other->isVisible() || other->isWindow() ||
                    qobject_cast<QGroupBox*>(other))
                    continue;
                EXPECT_FALSE(other->geometry().intersects(control->geometry()))
                    << "overlaps " << other->metaObject()->className();
            }
        }
    }
}

} // namespace
