#include "ui/COutlineDialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QPushButton>

#include "core/SettingsDialogs.h"
#include "display/HelpKey.h"

namespace skiro {
namespace {

// The help context of the colour chooser, the one the view's colour commands give it.
constexpr int kColourChooserHelp = 28679;

} // namespace

COutlineDialog::COutlineDialog(const StringTable& strings, HelpHook help, QWidget* parent)
    : SettingsDialog(kTemplateId, QStringLiteral("縁取り"), 184, 41, strings, std::move(help),
                     parent) {
    setObjectName(QStringLiteral("COutlineDialog"));
    m_outline = addCheck(this, QStringLiteral("縁取りする"), 5, 5, 60, 10);
    m_width = addList(this, IDS_LIST_OUTLINE_WIDTH, 75, 5, 35);
    addStatic(this, QStringLiteral("ﾄﾞｯﾄ"), 115, 8, 25, 8);
    m_colour = new QPushButton(QStringLiteral(">>色"), this);
    m_colour->setGeometry(dialogRect(140, 5, 40, 13));
    addButtons({{5, 25}, {50, 25}, {95, 25}, {140, 25}}, 40, 13);

    // The colour is chosen here; Return afterwards is still OK for the whole dialog.
    m_colour->setAutoDefault(false);

    m_picker = [this](Colour initial, QWidget* owner) -> std::optional<Colour> {
        QColorDialog chooser(QColor(redOf(initial), greenOf(initial), blueOf(initial)), owner);
        chooser.setWindowTitle(QStringLiteral("縁取りの色を選択"));
        // F1 opens the colour chooser's own page, as it does from the view's colour commands.
        if (hasHelp())
            new HelpKey(chooser, [this] { openHelp(kColourChooserHelp); });
        if (chooser.exec() != QDialog::Accepted)
            return std::nullopt;
        const QColor chosen = chooser.selectedColor();
        return rgb(chosen.red(), chosen.green(), chosen.blue());
    };
    connect(m_outline, &QCheckBox::clicked, this, &COutlineDialog::outlineClicked);
    connect(m_colour, &QPushButton::clicked, this, &COutlineDialog::chooseColour);
}

void COutlineDialog::fieldsToControls() {
    m_outline->setChecked(m_page.Outline != 0);
    m_width.show(m_page.LineCnt);
}

bool COutlineDialog::controlsToFields() {
    m_page.Outline = m_outline->isChecked() ? 1 : 0;
    m_page.LineCnt = m_width.take(m_page.LineCnt);
    return true;
}

void COutlineDialog::updateDependents() {
    const bool on = outlineDetailsEnabled(m_page);
    m_width.box()->setEnabled(on);
    m_colour->setEnabled(on);
}

void COutlineDialog::setDefaults() {
    // The default leaves the width as it is, and that is the width chosen in the list now,
    // not the one the dialog opened with.
    m_page.LineCnt = m_width.take(m_page.LineCnt);
    m_page.setDefaults();
}

void COutlineDialog::registerTips() {
    addTip(m_outline, 33049);
    addTip(m_width.box(), 33050);
    addTip(m_colour, 33051);
}

void COutlineDialog::outlineClicked() {
    if (!controlsToFields())
        return;
    updateDependents();
    fieldsToControls();
}

void COutlineDialog::chooseColour() {
    if (!m_picker)
        return;
    if (const std::optional<Colour> chosen = m_picker(m_page.Color, this))
        m_page.Color = *chosen;
}

} // namespace skiro
