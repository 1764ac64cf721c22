#include "ui/CSerialDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "core/SettingsDialogs.h"

namespace skiro {

CSerialDialog::CSerialDialog(const StringTable& strings, HelpHook help, QWidget* parent)
    : SettingsDialog(kTemplateId, QStringLiteral("ｼﾘｱﾙ"), 189, 204, strings, std::move(help),
                     parent) {
    setObjectName(QStringLiteral("CSerialDialog"));
    m_portGroup = addGroup(QStringLiteral("ﾎﾟｰﾄ(&C)"), 10, 5, 170, 25);
    for (int i = 0; i < 4; ++i)
        m_port.push_back(
            addRadio(m_portGroup, QStringLiteral("COM%1").arg(i + 1), 20 + 40 * i, 15, 33, 10));

    m_baudGroup = addGroup(QStringLiteral("ﾎﾞｰﾚｲﾄ(&B)"), 10, 35, 105, 25);
    m_baudRate = addList(m_baudGroup, IDS_LIST_BAUD_RATE, 20, 45, 75);

    m_bitGroup = addGroup(QStringLiteral("ﾋﾞｯﾄ長(&L)"), 125, 35, 55, 25);
    m_bitLength = {addRadio(m_bitGroup, QStringLiteral("8"), 135, 45, 18, 10),
                   addRadio(m_bitGroup, QStringLiteral("7"), 155, 45, 18, 10)};

    m_parityGroup = addGroup(QStringLiteral("ﾊﾟﾘﾃｨ(&P)"), 10, 65, 105, 25);
    m_parity = {addRadio(m_parityGroup, QStringLiteral("なし"), 20, 75, 27, 10),
                addRadio(m_parityGroup, QStringLiteral("奇数"), 50, 75, 27, 10),
                addRadio(m_parityGroup, QStringLiteral("偶数"), 80, 75, 27, 10)};

    m_stopGroup = addGroup(QStringLiteral("ｽﾄｯﾌﾟﾋﾞｯﾄ(&S)"), 125, 65, 55, 25);
    m_stopBit = {addRadio(m_stopGroup, QStringLiteral("1"), 135, 75, 18, 10),
                 addRadio(m_stopGroup, QStringLiteral("2"), 155, 75, 18, 10)};

    m_flowGroup = addGroup(QStringLiteral("ﾌﾛｰ制御(&F)"), 10, 95, 170, 25);
    m_flowCtrl = {addRadio(m_flowGroup, QStringLiteral("CTS/RTS"), 20, 105, 45, 10),
                  addRadio(m_flowGroup, QStringLiteral("X-On/Off"), 80, 105, 47, 10),
                  addRadio(m_flowGroup, QStringLiteral("なし"), 140, 105, 29, 10)};

    m_echoBack = addCheck(this, QStringLiteral("ｴｺｰﾊﾞｯｸする(&E)"), 10, 125, 75, 10);
    m_txCrConv = addCheck(this, QStringLiteral("ｴｺｰﾊﾞｯｸ時CR→CR+LF変換(&T)"), 10, 135, 120, 10);
    m_localEcho = addCheck(this, QStringLiteral("ﾛｰｶﾙｴｺｰする(&N)"), 10, 145, 75, 10);
    m_reconnect = addCheck(this, QStringLiteral("切断時に再接続を待つ(&W)"), 10, 155, 100, 10);
    // Which device the chosen COM port is, below the switches and across the dialog's width,
    // where a long by-id name has room.
    m_deviceLabel = addStatic(this, QStringLiteral("ﾃﾞﾊﾞｲｽ(&D):"), 10, 172, 42, 8);
    m_device = new DeviceBox(this);
    m_device->setObjectName(QStringLiteral("portDevice"));
    m_device->setGeometry(dialogRect(54, 170, 126, 13));
    m_deviceLabel->setBuddy(m_device);

    addButtons({{5, 188}, {50, 188}, {95, 188}, {140, 188}}, 40, 13);

    connect(m_echoBack, &QCheckBox::clicked, this, &CSerialDialog::echoBackClicked);
    for (QRadioButton* port : m_port)
        connect(port, &QRadioButton::toggled, this, &CSerialDialog::showPortDevice);
}

void CSerialDialog::setPortChoices(std::vector<DeviceItem> found,
                                   std::array<QString, kPorts> automatic) {
    if (m_shownPort >= 0)
        m_paths[static_cast<std::size_t>(m_shownPort)] = m_device->path();
    m_found = std::move(found);
    m_automatic = automatic;
    m_shownPort = -1;
    showPortDevice();
}

void CSerialDialog::setPortPaths(const std::array<QString, kPorts>& paths) {
    m_paths = paths;
    m_shownPort = -1;
    showPortDevice();
}

std::array<QString, CSerialDialog::kPorts> CSerialDialog::portPaths() const {
    std::array<QString, kPorts> paths = m_paths;
    if (m_shownPort >= 0)
        paths[static_cast<std::size_t>(m_shownPort)] = m_device->path();
    return paths;
}

void CSerialDialog::showPortDevice() {
    if (m_shownPort >= 0)
        m_paths[static_cast<std::size_t>(m_shownPort)] = m_device->path();
    const int port = radioIndex(m_port);
    m_shownPort = port;
    m_device->setEnabled(port >= 0);
    m_deviceLabel->setEnabled(port >= 0);
    if (port < 0) {
        m_device->setItems({});
        return;
    }
    // The first item is the machine's own numbering: what this COM port is without a path.
    QString automatic = m_automatic[static_cast<std::size_t>(port)];
    if (automatic.startsWith(QStringLiteral("/dev/")))
        automatic = automatic.mid(5);
    std::vector<DeviceItem> items{
        {QString(), QStringLiteral("自動 (%1)")
                        .arg(automatic.isEmpty() ? QStringLiteral("ﾃﾞﾊﾞｲｽなし") : automatic)}};
    items.insert(items.end(), m_found.begin(), m_found.end());
    m_device->setItems(items);
    m_device->setPath(m_paths[static_cast<std::size_t>(port)]);
}

void CSerialDialog::fieldsToControls() {
    setRadioIndex(m_port, m_page.ComPort);
    setRadioIndex(m_stopBit, m_page.StopBit);
    setRadioIndex(m_parity, m_page.Parity);
    setRadioIndex(m_bitLength, m_page.BitLength);
    setRadioIndex(m_flowCtrl, m_page.FlowCtrl);
    m_echoBack->setChecked(m_page.EchoBack != 0);
    m_baudRate.show(m_page.BaudRate);
    m_txCrConv->setChecked(m_page.TxCrConv != 0);
    m_localEcho->setChecked(m_page.LocalEcho != 0);
    m_reconnect->setChecked(m_page.Reconnect != 0);
    showPortDevice();
}

bool CSerialDialog::controlsToFields() {
    m_page.ComPort = takeRadio(m_port, m_page.ComPort);
    m_page.StopBit = takeRadio(m_stopBit, m_page.StopBit);
    m_page.Parity = takeRadio(m_parity, m_page.Parity);
    m_page.BitLength = takeRadio(m_bitLength, m_page.BitLength);
    m_page.FlowCtrl = takeRadio(m_flowCtrl, m_page.FlowCtrl);
    m_page.EchoBack = m_echoBack->isChecked() ? 1 : 0;
    m_page.BaudRate = m_baudRate.take(m_page.BaudRate);
    m_page.TxCrConv = m_txCrConv->isChecked() ? 1 : 0;
    m_page.LocalEcho = m_localEcho->isChecked() ? 1 : 0;
    m_page.Reconnect = m_reconnect->isChecked() ? 1 : 0;
    return true;
}

void CSerialDialog::updateDependents() {
    m_txCrConv->setEnabled(txCrConvEnabled(m_page));
}

void CSerialDialog::setDefaults() {
    m_page.setDefaults();
}

void CSerialDialog::registerTips() {
    // The radio buttons and the baud-rate list show their group's help.
    addTip(m_portGroup, 33040);
    addTip(m_baudGroup, 33041);
    addTip(m_bitGroup, 33042);
    addTip(m_parityGroup, 33043);
    addTip(m_stopGroup, 33044);
    addTip(m_flowGroup, 33045);
    addTip(m_echoBack, 33046);
    addTip(m_txCrConv, 33047);
    addTip(m_localEcho, 33048);
    addTip(m_reconnect, 33052);
    addTip(m_device, 33053);
}

void CSerialDialog::echoBackClicked() {
    controlsToFields();
    skiro::echoBackClicked(m_page);
    updateDependents();
    fieldsToControls();
}

} // namespace skiro
