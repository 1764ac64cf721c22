#include "app/SettingsCommands.h"

#include <QFile>

#include "app/CMainFrame.h"
#include "app/CMarelDoc.h"
#include "app/PortArrivals.h"
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

namespace {

// The ports the machine has now, and the device each COM port is without a path of its own.
void offerPorts(CSerialDialog& dialog) {
    std::vector<DeviceItem> found;
    for (const PortChoice& choice : PortTable::listPorts())
        found.push_back({QFile::decodeName(QByteArray::fromStdString(choice.path)),
                         QFile::decodeName(QByteArray::fromStdString(choice.label))});
    const PortTable machine = PortTable::fromMachine({});
    std::array<QString, CSerialDialog::kPorts> automatic;
    for (int port = 0; port < CSerialDialog::kPorts; ++port)
        automatic[static_cast<std::size_t>(port)] =
            QFile::decodeName(QByteArray::fromStdString(machine.devicePath(port)));
    dialog.setPortChoices(std::move(found), automatic);
}

std::string comKey(int port) {
    return "COM" + std::to_string(port + 1);
}

} // namespace

void SettingsCommands::serial() {
    Settings& settings = m_doc.settings();
    CSerialDialog dialog(m_doc.strings(), m_help, &m_frame);
    dialog.page() = SerialPage::fromSettings(settings);
    // The COM<n> keys as Start would read them now: a path, or none for the machine's order.
    const Profile profile = m_doc.profile().current();
    std::array<QString, CSerialDialog::kPorts> paths;
    for (int port = 0; port < CSerialDialog::kPorts; ++port)
        paths[static_cast<std::size_t>(port)] = QFile::decodeName(
            QByteArray::fromStdString(profile.readText("Serial", comKey(port), "")));
    dialog.setPortPaths(paths);
    offerPorts(dialog);
    // An adapter plugged in while the dialog is open joins the list at once.
    const PortArrivals arrivals(&dialog, [&] { offerPorts(dialog); });
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.page().toSettings(settings);
    // The choice becomes the port's COM<n> key, stored with the other settings; a key is
    // written only when its port's choice changed, so the file keeps what was not touched.
    const std::array<QString, CSerialDialog::kPorts> chosen = dialog.portPaths();
    for (int port = 0; port < CSerialDialog::kPorts; ++port) {
        const auto at = static_cast<std::size_t>(port);
        if (chosen[at] != paths[at])
            m_doc.profile().writeText("Serial", comKey(port),
                                      QFile::encodeName(chosen[at]).toStdString());
    }
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
