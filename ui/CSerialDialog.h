#pragma once
#include <QString>
#include <vector>

#include "core/SettingsPages.h"
#include "ui/SettingsDialog.h"

namespace skiro {

// The serial line: port, baud rate, data bits, parity, stop bits, flow control and the echo
// switches. The document fills the page from the settings while the port is closed and takes
// it back after OK; the new parameters apply at the next Start.
class CSerialDialog : public SettingsDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 130;

    CSerialDialog(const StringTable& strings, HelpHook help, QWidget* parent = nullptr);

    SerialPage& page() { return m_page; }
    const SerialPage& page() const { return m_page; }
    // The device each COM port stands for on this machine (COM1 first); an empty text where
    // the machine has none. Shown beside the echo switches for the chosen port.
    void setPortDevices(std::vector<QString> devices);

  protected:
    void fieldsToControls() override;
    bool controlsToFields() override;
    void updateDependents() override;
    void setDefaults() override;
    void registerTips() override;

  private:
    void echoBackClicked();
    void showPortDevice();
    QString twoLines(const QString& device) const;

    SerialPage m_page;
    std::vector<QString> m_devices;
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
    QLabel* m_device = nullptr;
};

} // namespace skiro
