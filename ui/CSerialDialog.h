#pragma once
#include <QString>
#include <array>
#include <vector>

#include "core/SettingsPages.h"
#include "ui/DeviceBox.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The serial line: port, baud rate, data bits, parity, stop bits, flow control, the echo
// switches, whether a device that goes away is waited for, and which device each COM port is.
// The document fills the page from the settings while the port is closed and takes it back
// after OK; the new parameters apply at the next Start.
class CSerialDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 130;

    CSerialDialog(const StringTable& strings, HelpHook help, QWidget* parent = nullptr);

    SerialPage& page() { return m_page; }
    const SerialPage& page() const { return m_page; }
    static constexpr int kPorts = 4;

    // The devices the machine has, for the device list of the chosen COM port, and the one
    // each COM port stands for when it names none of its own (COM1 first; empty where the
    // machine has none). Called again when a device comes or goes while the dialog is open;
    // what the user has chosen stays.
    void setPortChoices(std::vector<DeviceItem> found, std::array<QString, kPorts> automatic);
    // The device each COM port names (COM1 first): a path, or empty for the machine's own
    // numbering. Set before the dialog runs; read after OK.
    void setPortPaths(const std::array<QString, kPorts>& paths);
    std::array<QString, kPorts> portPaths() const;

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;

  private:
    void echoBackClicked();
    // The device list for the chosen COM port, after keeping what it showed for the last one.
    void showPortDevice();

    SerialPage m_page;
    std::vector<DeviceItem> m_found;
    std::array<QString, kPorts> m_automatic;
    std::array<QString, kPorts> m_paths;
    int m_shownPort = -1;
    QGroupBox* m_portGroup = nullptr;
    QGroupBox* m_baudGroup = nullptr;
    QGroupBox* m_bitGroup = nullptr;
    QGroupBox* m_parityGroup = nullptr;
    QGroupBox* m_stopGroup = nullptr;
    QGroupBox* m_flowGroup = nullptr;
    std::vector<QRadioButton*> m_port;
    DialogList m_baudRate;
    std::vector<QRadioButton*> m_bitLength;
    std::vector<QRadioButton*> m_parity;
    std::vector<QRadioButton*> m_stopBit;
    std::vector<QRadioButton*> m_flowCtrl;
    QCheckBox* m_echoBack = nullptr;
    QCheckBox* m_txCrConv = nullptr;
    QCheckBox* m_localEcho = nullptr;
    QCheckBox* m_reconnect = nullptr;
    QLabel* m_deviceLabel = nullptr;
    DeviceBox* m_device = nullptr;
};

} // namespace skiro
