#include "display/FontChooser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>

#include <cmath>

#include "core/FontDescription.h"
#include "display/QtTextSurface.h"
#include "sjis/Sjis.h"

namespace skiro {
namespace {

constexpr std::uint8_t kShiftJisCharSet = 128;
constexpr std::uint8_t kFixedPitch = 0x01;
constexpr std::uint8_t kVariablePitch = 0x02;
constexpr std::uint8_t kModernFamily = 0x30;

} // namespace

QFont chooserFont(const Font& record, int dpi) {
    // The face the view really draws (a Windows face name resolves to an installed one), so
    // that the dialog starts on an entry of its list.
    const QFont drawn = QtTextSurface::makeFont(record, dpi);
    QFont font(QFontInfo(drawn).family());
    font.setPointSizeF(drawn.pixelSize() * 72.0 / dpi);
    font.setWeight(drawn.weight());
    font.setItalic(drawn.italic());
    return font;
}

std::optional<Font> describeFont(const QFont& chosen, int dpi, const Font& previous) {
    const QString family = chosen.family();
    const std::string face = fitFaceName(toSjis(family));
    if (face.empty() || fromSjis(face) != family)
        return std::nullopt;

    Font record = previous;
    const int pixels = chosen.pointSizeF() > 0
                           ? static_cast<int>(std::lround(chosen.pointSizeF() * dpi / 72.0))
                           : chosen.pixelSize();
    // The chooser's size is the character's own height, which the record keeps as negative.
    record.lfHeight = -pixelsToTwips(std::max(pixels, 1), dpi);
    record.lfWidth = 0;
    record.lfEscapement = 0;
    record.lfOrientation = 0;
    record.lfWeight = chosen.weight();
    record.lfItalic = chosen.italic() ? 1 : 0;
    record.lfCharSet = kShiftJisCharSet;
    record.lfPitchAndFamily =
        QFontInfo(chosen).fixedPitch() ? (kFixedPitch | kModernFamily) : kVariablePitch;
    record.lfFaceName = face;
    return record;
}

FontChooser::FontChooser(const Font& record, int dpi, QString unusableName, QWidget* parent)
    : QFontDialog(parent), m_dpi(dpi), m_unusableName(std::move(unusableName)) {
    // Qt's own dialog: a desktop's native one would list every font and offer the effects.
    setOption(QFontDialog::DontUseNativeDialog);

    // Only the fonts that can show Japanese. The dialog filters its list by the writing system
    // of its combo box, which is then hidden so that the filter stays.
    if (!QFontDatabase::families(QFontDatabase::Japanese).isEmpty()) {
        const QString japanese = QFontDatabase::writingSystemName(QFontDatabase::Japanese);
        for (QComboBox* combo : findChildren<QComboBox*>()) {
            const int index = combo->findText(japanese);
            if (index < 0)
                continue;
            combo->setCurrentIndex(index);
            emit combo->activated(index);
            combo->hide();
            for (QLabel* label : findChildren<QLabel*>())
                if (label->buddy() == combo)
                    label->hide();
        }
    }
    // No colour, underline or strike-out choice: the effects box holds the check boxes.
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        box->hide();
        if (auto* group = qobject_cast<QGroupBox*>(box->parentWidget()))
            group->hide();
    }
    labelInJapanese();
    setCurrentFont(chooserFont(record, dpi));
}

void FontChooser::labelInJapanese() {
    // The texts of the Japanese desktop's own font dialog, with their mnemonics.
    setWindowTitle(QStringLiteral("フォント"));
    const QList<QListView*> lists = findChildren<QListView*>();
    for (QLabel* label : findChildren<QLabel*>()) {
        QWidget* buddy = label->buddy();
        if (!buddy || label->isHidden())
            continue;
        if (lists.size() > 0 && buddy == lists[0])
            label->setText(QStringLiteral("フォント名(&F):"));
        else if (lists.size() > 1 && buddy == lists[1])
            label->setText(QStringLiteral("スタイル(&Y):"));
        else if (qobject_cast<QLineEdit*>(buddy))
            label->setText(QStringLiteral("サイズ(&S):"));
    }
    for (QGroupBox* group : findChildren<QGroupBox*>())
        if (!group->isHidden())
            group->setTitle(QStringLiteral("サンプル"));
    // The sample is the Japanese writing system's; it needs room for a large size.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        if (edit->objectName() == QLatin1String("qt_fontDialog_sampleEdit"))
            edit->setMinimumHeight(96);
    if (auto* buttons = findChild<QDialogButtonBox*>()) {
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
        if (QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel))
            cancel->setText(QStringLiteral("キャンセル"));
    }
}

std::optional<Font> FontChooser::chosen(const Font& previous) const {
    return describeFont(selectedFont(), m_dpi, previous);
}

void FontChooser::done(int result) {
    if (result == QDialog::Accepted && !describeFont(currentFont(), m_dpi, Font{})) {
        QMessageBox::warning(this, windowTitle(), m_unusableName);
        return;
    }
    QFontDialog::done(result);
}

} // namespace skiro
