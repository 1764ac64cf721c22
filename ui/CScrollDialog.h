#pragma once
#include <vector>

#include "core/SettingsPages.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The scroll settings: tick interval, step, tick source, direction, speed-up, interline
// space, gliding and keep-up. The view fills the page from the settings and applies it after OK.
class CScrollDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 132;

    CScrollDialog(const StringTable& strings, HelpHook help, QWidget* parent = nullptr);

    ScrollPage& page() { return m_page; }
    const ScrollPage& page() const { return m_page; }

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;

  private:
    void switchClicked();

    ScrollPage m_page;
    DialogList m_tick;
    DialogList m_step;
    std::vector<QRadioButton*> m_timer;
    std::vector<QRadioButton*> m_direction;
    QGroupBox* m_tickGroup = nullptr;
    QGroupBox* m_stepGroup = nullptr;
    QGroupBox* m_timerGroup = nullptr;
    QGroupBox* m_directionGroup = nullptr;
    QGroupBox* m_speedUpGroup = nullptr;
    QGroupBox* m_interlineGroup = nullptr;
    QCheckBox* m_speedUp = nullptr;
    DialogList m_speedUpDelay;
    QCheckBox* m_interline = nullptr;
    DialogList m_interlineSpace;
    QCheckBox* m_smooth = nullptr;
    QCheckBox* m_keepUp = nullptr;
};

} // namespace skiro
