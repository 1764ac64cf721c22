#include "ui/CKinsokuDialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

#include "core/SettingsDialogs.h"
#include "sjis/Sjis.h"

namespace skiro {
namespace {

// A set as Shift-JIS. A character that Shift-JIS cannot hold never arrives in received text,
// so it is left out rather than stored as the "?" the conversion would put in its place (which
// would make "?" a member), or as the near character Windows would give ("e" for "é"). Each
// such character is named once in `missing`.
struct SetBytes {
    std::string bytes;
    QString missing;
};

SetBytes setBytes(const QString& text, const std::string& stored) {
    // An untouched set stays byte for byte as it was, whatever it holds.
    if (text == fromSjis(stored))
        return {stored, {}};
    SetBytes set;
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        const SjisText converted = toSjisCounted(one);
        if (converted.unmappable == 0 && converted.approximated == 0)
            set.bytes += converted.bytes;
        else if (!set.missing.contains(one))
            set.missing += one;
    }
    return set;
}

// The characters of a set, one apart from the next, so that each can be told in a message.
QString spaced(const QString& characters) {
    QStringList each;
    for (const char32_t c : characters.toUcs4())
        each << QString::fromUcs4(&c, 1);
    return each.join(QLatin1Char(' '));
}

} // namespace

CKinsokuDialog::CKinsokuDialog(const StringTable& strings, HelpHook help, QWidget* parent)
    : SettingsDialog(kTemplateId, QStringLiteral("禁則処理"), 179, 116, strings, std::move(help),
                     parent) {
    setObjectName(QStringLiteral("CKinsokuDialog"));
    m_typeGroup = addGroup(QStringLiteral("禁則処理(&K)"), 5, 5, 115, 45);
    m_type = {addRadio(m_typeGroup, QStringLiteral("しない"), 10, 15, 40, 10),
              addRadio(m_typeGroup, QStringLiteral("追い出し"), 10, 25, 48, 10),
              addRadio(m_typeGroup, QStringLiteral("追い込み"), 10, 35, 48, 10)};

    QLabel* headLabel = addStatic(this, QStringLiteral("行頭禁則文字(&H):"), 5, 60, 69, 8);
    m_head = addEdit(this, 5, 70, 170, 13);
    headLabel->setBuddy(m_head);
    QLabel* tailLabel = addStatic(this, QStringLiteral("行末禁則文字(&T):"), 5, 90, 67, 8);
    m_tail = addEdit(this, 5, 100, 170, 13);
    tailLabel->setBuddy(m_tail);
    // The sets are stored byte for byte; no length limit, as the profile has none either.
    m_head->setMaxLength(32767);
    m_tail->setMaxLength(32767);

    addButtons({{130, 5}, {130, 20}, {130, 35}, {130, 50}}, 45, 13);

    // A click changes only which controls are enabled; the rule itself is read at OK.
    for (std::size_t i = 0; i < m_type.size(); ++i)
        connect(m_type[i], &QRadioButton::clicked, this,
                [this, i] { setSetsEnabled(kinsokuSetsEnabled(static_cast<std::int32_t>(i))); });
}

void CKinsokuDialog::fieldsToControls() {
    setRadioIndex(m_type, m_page.Type);
    m_head->setText(fromSjis(m_page.Head));
    m_tail->setText(fromSjis(m_page.Tail));
    m_head->setCursorPosition(0);
    m_tail->setCursorPosition(0);
}

bool CKinsokuDialog::controlsToFields() {
    const SetBytes head = setBytes(m_head->text(), m_page.Head);
    const SetBytes tail = setBytes(m_tail->text(), m_page.Tail);
    if (!head.missing.isEmpty() || !tail.missing.isEmpty()) {
        // Said before they are left out; Cancel goes back to the set to mend it.
        QString text =
            QStringLiteral("次の文字は Shift-JIS で表せないため、\n禁則文字から除きます。\n");
        if (!head.missing.isEmpty())
            text += QStringLiteral("\n行頭禁則文字: ") + spaced(head.missing);
        if (!tail.missing.isEmpty())
            text += QStringLiteral("\n行末禁則文字: ") + spaced(tail.missing);
        text += QStringLiteral("\n\nよろしいですか？");
        QMessageBox box(QMessageBox::Warning, QStringLiteral("SKIRO"), text,
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Ok);
        if (box.exec() == QMessageBox::Cancel) {
            QLineEdit* edit = head.missing.isEmpty() ? m_tail : m_head;
            if (edit->isEnabled())
                edit->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    m_page.Type = takeRadio(m_type, m_page.Type);
    m_page.Head = head.bytes;
    m_page.Tail = tail.bytes;
    return true;
}

void CKinsokuDialog::updateDependents() {
    normaliseKinsokuType(m_page);
    setSetsEnabled(kinsokuSetsEnabled(m_page.Type));
}

void CKinsokuDialog::setSetsEnabled(bool enabled) {
    m_head->setEnabled(enabled);
    m_tail->setEnabled(enabled);
}

void CKinsokuDialog::setDefaults() {
    m_page.setDefaults();
}

void CKinsokuDialog::registerTips() {
    addTip(m_type[0], 33073);
    addTip(m_type[1], 33074);
    addTip(m_type[2], 33075);
    addTip(m_typeGroup, 33072);
    addTip(m_head, 33076);
    addTip(m_tail, 33077);
}

} // namespace skiro
