#pragma once
#include <functional>

#include "ui/SettingsDialog.h"

namespace skiro {

class CMainFrame;
class CMarelDoc;
class CMarelView;

// The settings commands of the document (serial, outline, kinsoku) and of the main frame
// (misc): each makes its dialog, fills it from the settings, runs it and, after OK, takes the
// page back and applies it. None of them writes the profile; that happens at exit.
class SettingsCommands {
  public:
    // The 秀Term link of the external feeds: link answers whether it came up.
    struct TermLink {
        std::function<bool()> link;
        std::function<void()> unlink;
    };

    SettingsCommands(CMarelDoc& doc, CMainFrame& frame, CMarelView& view,
                     SettingsDialog::HelpHook help, TermLink term);

    // The new line parameters take effect at the next Start; nothing is repainted.
    void serial();
    // Outline and kinsoku repaint the display after OK; Cancel changes nothing.
    void outline();
    void kinsoku();
    // The decorations follow the record afterwards in every case, which undoes the dialog's
    // preview after Cancel; the stored lines are laid out again only when the deletion of
    // leading bytes, the extended commands or no-wrap changed.
    void misc();

  private:
    CMarelDoc& m_doc;
    CMainFrame& m_frame;
    CMarelView& m_view;
    SettingsDialog::HelpHook m_help;
    TermLink m_term;
};

} // namespace skiro
