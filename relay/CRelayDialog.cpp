#include "relay/CRelayDialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/RelayProtocol.h"
#include "display/DialogButtons.h"
#include "relay/RelayClient.h"

namespace skiro {

CRelayDialog::CRelayDialog(const RelaySettings& settings, const QString& passwordPlace,
                           QWidget* parent, HelpHook help)
    : QDialog(parent), m_help(std::move(help)) {
    setWindowTitle(QStringLiteral("中継"));
    QFont dialogFont;
    dialogFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    dialogFont.setPointSize(9);
    setFont(dialogFont);

    m_mode = new QComboBox;
    m_mode->addItem(QStringLiteral("使わない"));
    m_mode->addItem(QStringLiteral("この表示の行を部屋へ送る"));
    m_mode->addItem(QStringLiteral("部屋の入力を受けて表示し、行を送る"));
    m_mode->addItem(QStringLiteral("部屋の別の表示に従う"));
    m_mode->setCurrentIndex(std::clamp<int>(settings.Mode, 0, 3));
    m_mode->setToolTip(QStringLiteral(
        "送る: この表示が記録する行と入力中の行を部屋へ送ります。\n"
        "受ける: 遠くの字幕入力者が部屋へ送った文字を、シリアルから来たように表示し記録します"
        "（行は部屋へも送ります）。\n"
        "従う: 部屋へ送っている別の表示の行を、ここでも表示し、記録し、ウェブ表示に出します。"));
    m_broker = new QLineEdit(QString::fromStdString(settings.Broker));
    m_broker->setPlaceholderText(QStringLiteral("mqtts://ホスト名:8883"));
    m_broker->setToolTip(QStringLiteral(
        "MQTT ブローカーのアドレス。mqtts://ホスト名:ポート（暗号化、既定のポート 8883）。\n"
        "mqtt:// はこのコンピューターの中のブローカー (localhost) にだけ使えます。"));
    m_room = new QLineEdit(QString::fromStdString(settings.Room));
    m_room->setMaxLength(64);
    m_room->setToolTip(QStringLiteral(
        "部屋の名前。同じ部屋の表示と字幕入力者がつながります。英数字と - _ . で 64 文字まで。"));
    m_user = new QLineEdit(QString::fromStdString(settings.User));
    m_user->setToolTip(QStringLiteral("ブローカーに登録されたユーザー名。"));
    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setToolTip(
        QStringLiteral("ブローカーのパスワード。skiro.ini には書かれません。\n") + passwordPlace);
    connect(m_password, &QLineEdit::textEdited, this, [this] { m_passwordChanged = true; });
    m_caFile = new QLineEdit(QString::fromStdString(settings.CaFile));
    m_caFile->setPlaceholderText(QStringLiteral("システムの証明書"));
    m_caFile->setToolTip(QStringLiteral("ブローカーの証明書を発行した CA の証明書ファイル (PEM)。\n"
                                        "空のときはシステムの証明書ストアで確かめます。"));
    auto* browse = new QPushButton(QStringLiteral("参照(&F)..."));
    browse->setAutoDefault(false);
    browse->setToolTip(m_caFile->toolTip());
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, QStringLiteral("CA の証明書"), m_caFile->text(),
            QStringLiteral("証明書 (*.pem *.crt);;すべてのファイル (*)"));
        if (!file.isEmpty())
            m_caFile->setText(file);
    });
    m_mode->setObjectName(QStringLiteral("mode"));
    m_broker->setObjectName(QStringLiteral("broker"));
    m_room->setObjectName(QStringLiteral("room"));
    m_user->setObjectName(QStringLiteral("user"));
    m_password->setObjectName(QStringLiteral("password"));
    m_caFile->setObjectName(QStringLiteral("caFile"));

    auto* form = new QFormLayout;
    const auto row = [form](const QString& label, QWidget* field, QLayout* layout = nullptr) {
        auto* l = new QLabel(label);
        l->setBuddy(field);
        l->setToolTip(field->toolTip());
        if (layout)
            form->addRow(l, layout);
        else
            form->addRow(l, field);
    };
    row(QStringLiteral("動作(&M):"), m_mode);
    row(QStringLiteral("ブローカー(&B):"), m_broker);
    row(QStringLiteral("部屋(&R):"), m_room);
    row(QStringLiteral("ユーザー名(&U):"), m_user);
    row(QStringLiteral("パスワード(&P):"), m_password);
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(m_caFile);
    caRow->addWidget(browse);
    row(QStringLiteral("CA ファイル(&C):"), m_caFile, caRow);
    auto* place = new QLabel(passwordPlace);
    place->setObjectName(QStringLiteral("passwordPlace"));
    place->setWordWrap(true);
    form->addRow(place);
    m_broker->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('W')) * 28);

    QVBoxLayout* buttons = dialogButtonColumn(
        *this, m_help ? std::function<void()>([this] { m_help(kTemplateId); }) : nullptr);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

RelaySettings CRelayDialog::settings() const {
    RelaySettings s;
    s.Mode = m_mode->currentIndex();
    s.Broker = m_broker->text().trimmed().toStdString();
    s.Room = m_room->text().trimmed().toStdString();
    s.User = m_user->text().trimmed().toStdString();
    s.CaFile = m_caFile->text().trimmed().toStdString();
    return s;
}

void CRelayDialog::setPassword(const QString& password) {
    m_password->setText(password);
    m_passwordChanged = false;
}

QString CRelayDialog::password() const {
    return m_password->text();
}

void CRelayDialog::accept() {
    if (m_mode->currentIndex() != RelaySettings::Off) {
        RelayEndpoint endpoint;
        QString error;
        QLineEdit* wrong = nullptr;
        if (!parseBrokerAddress(m_broker->text(), endpoint, error)) {
            wrong = m_broker;
        } else if (!relay::validRoomName(m_room->text().trimmed().isEmpty()
                                             ? endpoint.room.toStdString()
                                             : m_room->text().trimmed().toStdString())) {
            error = QStringLiteral("部屋の名前は英数字と - _ . で 64 文字までにしてください。");
            wrong = m_room;
        }
        if (wrong) {
            QMessageBox::warning(this, QStringLiteral("SKIRO"), error);
            wrong->setFocus(Qt::OtherFocusReason);
            wrong->selectAll();
            return;
        }
    }
    QDialog::accept();
}

} // namespace skiro
