#include "app/SettingsCommands.h"

#include "app/CMainFrame.h"
#include "app/CMarelDoc.h"
#include "core/SettingsDialogs.h"
#include "display/CMarelView.h"
#include "serial/PortTable.h"
#include "serial/SerialSession.h"
#include "ui/CKinsokuDialog.h"
#include "ui/CMiscDialog.h"
#include "ui/COutlineDialog.h"
#include "ui/CSerialDialog.h"

namespace skiro {

SettingsCommands::SettingsCommands(CMarelDoc& doc, CMainFrame& frame, CMarelView& view,
                                   SettingsDialog::HelpHook help, TermLink term)
    : m_doc(doc), m_frame(frame), m_view(view), m_help(std::move(help)), m_term(std::move(term)) {}

void SettingsCommands::serial() {
    Settings& settings = m_doc.settings();
    CSerialDialog dialog(m_doc.strings(), m_help, &m_frame);
    dialog.page() = SerialPage::fromSettings(settings);
    // The devices as Start would find them now, so the dialog can say which COM port is which.
    const Profile profile = m_doc.profile().current();
    std::vector<QString> devices;
    for (int port = 0; port < 4; ++port) {
        const PortTable table = PortTable::fromMachine(portOverrides(profile, port));
        devices.push_back(QString::fromLocal8Bit(table.devicePath(port)));
    }
    dialog.setPortDevices(std::move(devices));
    if (dialog.exec() == QDialog::Accepted)
        dialog.page().toSettings(settings);
}

void SettingsCommands::outline() {
    Settings& settings = m_doc.settings();
    COutlineDialog dialog(m_doc.strings(), m_help, &m_frame);
    dialog.page() = OutlinePage::fromSettings(settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.page().toSettings(settings);
    m_view.updateView();
}

void SettingsCommands::kinsoku() {
    CKinsokuDialog dialog(m_doc.strings(), m_help, &m_frame);
    dialog.page() = KinsokuPage::fromKinsoku(Kinsoku);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.page().toKinsoku(Kinsoku);
    m_view.updateView();
}

void SettingsCommands::misc() {
    Settings& settings = m_doc.settings();
    CMiscDialog::Preview preview{
        [this](bool hide) { m_frame.hideTitleBar(hide); },
        [this](bool hide) { m_frame.hideMenuBar(hide); },
        [this](bool hide) { m_frame.hideWindowFrame(hide); },
        [this](bool hide) { m_frame.hideMouseCursor(hide); },
    };
    CMiscDialog dialog(m_doc.strings(), m_help, std::move(preview), &m_frame);
    dialog.page() = MiscPage::fromSettings(settings);
    bool relayout = false;
    if (dialog.exec() == QDialog::Accepted)
        relayout = applyMiscPage(dialog.page(), settings, m_term.link, m_term.unlink);
    m_frame.hideTitleBar(settings.HideTitleBar != 0);
    m_frame.hideMenuBar(settings.HideMenuBar != 0);
    m_frame.hideWindowFrame(settings.HideFrame != 0);
    m_frame.hideMouseCursor(settings.HideCursor != 0);
    if (relayout)
        m_view.updateView();
}

} // namespace skiro
