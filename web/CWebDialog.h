#pragma once
#include <QDialog>
#include <functional>

#include "core/WebSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace skiro {

// The web view's settings: on or off, port, who may connect, the access code (typed, or made
// by the dialog); with the page's address and a QR code of it that the operator can show on
// the projector. Works by keyboard
// alone: the mnemonics move the focus, Return is OK, Escape is Cancel. F1 and the ﾍﾙﾌﾟ button
// open its help topic, as in the other dialogs of the settings menu.
class CWebDialog : public QDialog {
    Q_OBJECT
  public:
    // The dialog's template id, by which the help finds its topic.
    static constexpr int kTemplateId = 135;
    // Opens the help topic of a dialog template; without it the ﾍﾙﾌﾟ button is not shown.
    using HelpHook = std::function<void(int templateId)>;

    CWebDialog(const WebSettings& settings, QWidget* parent = nullptr, HelpHook help = {});

    // What the dialog holds now; the caller takes it after OK.
    WebSettings settings() const;

    QString address() const;
    const QLabel* qrCode() const { return m_qr; }

    // OK: a code too short to keep anyone out is said so, and the dialog stays open.
    void accept() override;

  private:
    void refresh();

    HelpHook m_help;
    // What the dialog does not show is handed back as it came.
    WebSettings m_given;

    QCheckBox* m_enabled;
    QSpinBox* m_port;
    QComboBox* m_bind;
    QLineEdit* m_code;
    QLabel* m_address;
    QLabel* m_qr;
};

} // namespace skiro
