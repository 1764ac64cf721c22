#pragma once
#include <QDialog>

#include "core/WebSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace skiro {

// The web view's settings: on or off, port, who may connect, the access code; with the page's
// address and a QR code of it that the operator can show on the projector. Works by keyboard
// alone: the mnemonics move the focus, Return is OK, Escape is Cancel.
class CWebDialog : public QDialog {
    Q_OBJECT
  public:
    CWebDialog(const WebSettings& settings, QWidget* parent = nullptr);

    // What the dialog holds now; the caller takes it after OK.
    WebSettings settings() const;

    QString address() const;
    const QLabel* qrCode() const { return m_qr; }

  private:
    void refresh();

    QCheckBox* m_enabled;
    QSpinBox* m_port;
    QComboBox* m_bind;
    QLineEdit* m_code;
    QLabel* m_address;
    QLabel* m_qr;
};

} // namespace skiro
