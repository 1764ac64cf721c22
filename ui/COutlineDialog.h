#pragma once
#include <functional>
#include <optional>

#include "core/SettingsPages.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The glyph outline: on or off, its width in dots and its colour. The document fills the page
// and takes it back after OK; a colour chosen here reaches the settings only through OK.
class COutlineDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 131;
    // The colour picker: the chosen colour, or nothing when it was cancelled.
    using ColourPicker = std::function<std::optional<Colour>(Colour initial, QWidget* parent)>;

    COutlineDialog(const StringTable& strings, HelpHook help, QWidget* parent = nullptr);

    OutlinePage& page() { return m_page; }
    const OutlinePage& page() const { return m_page; }
    // The platform's colour picker unless another is given.
    void setColourPicker(ColourPicker picker) { m_picker = std::move(picker); }
    QPushButton* colourButton() const { return m_colour; }

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;

  private:
    void outlineClicked();
    void chooseColour();

    OutlinePage m_page;
    QCheckBox* m_outline = nullptr;
    DialogList m_width;
    QPushButton* m_colour = nullptr;
    ColourPicker m_picker;
};

} // namespace skiro
