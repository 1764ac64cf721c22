#pragma once
#include <functional>

#include "core/SettingsPages.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The remaining switches: logging, the window decorations, the clipboard relay, time stamps,
// deletion of leading bytes, the 秀Term link, extended commands and no-wrap. The main frame
// fills the page and applies it. The decoration switches act on the main window at once, so
// the user sees what they do; the frame puts the record's decorations back afterwards in any
// case, which undoes the preview after Cancel.
class CMiscDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 134;

    // Hide (true) or show one decoration of the main window.
    struct Preview {
        std::function<void(bool)> titleBar;
        std::function<void(bool)> menuBar;
        std::function<void(bool)> frame;
        std::function<void(bool)> cursor;
    };

    CMiscDialog(const StringTable& strings, HelpHook help, Preview preview,
                QWidget* parent = nullptr);

    MiscPage& page() { return m_page; }
    const MiscPage& page() const { return m_page; }
    QLineEdit* byteCountEdit() const { return m_deleteBytes; }

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;
    bool fieldsAcceptable() override;

  private:
    void previewDecorations();

    MiscPage m_page;
    Preview m_preview;
    QCheckBox* m_log = nullptr;
    QCheckBox* m_hideTitleBar = nullptr;
    QCheckBox* m_hideMenuBar = nullptr;
    QCheckBox* m_hideFrame = nullptr;
    QCheckBox* m_hideCursor = nullptr;
    QCheckBox* m_clipboardRelay = nullptr;
    QCheckBox* m_timeStamp = nullptr;
    DialogList m_minutes;
    QCheckBox* m_deleteHandle = nullptr;
    QLineEdit* m_deleteBytes = nullptr;
    QCheckBox* m_useTermApi = nullptr;
    QCheckBox* m_extCommands = nullptr;
    QCheckBox* m_noWrap = nullptr;
};

} // namespace skiro
