#pragma once
#include <QDialog>
#include <functional>

#include "core/RelaySettings.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace skiro {

// The relay's settings: the broker, the room, the user and password, a CA file, and what this
// display does in the room; with a line saying where the password is kept. Works by keyboard
// alone: the mnemonics move the focus, Return is OK, Escape is Cancel; F1 and the ﾍﾙﾌﾟ button
// open its help topic. Each field has a tip.
class CRelayDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 136;
    using HelpHook = std::function<void(int templateId)>;

    CRelayDialog(const RelaySettings& settings, const QString& passwordPlace,
                 QWidget* parent = nullptr, HelpHook help = {});

    RelaySettings settings() const;
    void setPassword(const QString& password);
    QString password() const;
    bool passwordChanged() const { return m_passwordChanged; }

    // OK: a broker address or a room name that cannot work is said so, and the dialog stays.
    void accept() override;

  private:
    HelpHook m_help;
    QComboBox* m_mode;
    QLineEdit* m_broker;
    QLineEdit* m_room;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_caFile;
    bool m_passwordChanged = false;
};

} // namespace skiro
