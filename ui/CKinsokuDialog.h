#pragma once
#include <vector>

#include "core/SettingsPages.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The line-breaking rule: none, push-out or push-in, and the two character sets. The document
// fills the page from the process-wide rule and makes it the rule of every following paint
// after OK.
class CKinsokuDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 133;

    CKinsokuDialog(const StringTable& strings, HelpHook help, QWidget* parent = nullptr);

    KinsokuPage& page() { return m_page; }
    const KinsokuPage& page() const { return m_page; }

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;

  private:
    void setSetsEnabled(bool enabled);

    KinsokuPage m_page;
    QGroupBox* m_typeGroup = nullptr;
    std::vector<QRadioButton*> m_type;
    QLineEdit* m_head = nullptr;
    QLineEdit* m_tail = nullptr;
};

} // namespace skiro
