#include "web/CWebDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "display/DialogButtons.h"
#include "web/QrCode.h"
#include "web/WebAddress.h"

namespace skiro {

namespace {

// A Japanese input method left on types digits and letters in their full-width forms (８７３０,
// ＡＢＣ); they mean the same here, so they are taken as the plain ones rather than refused.
QString halfWidth(QString text) {
    for (QChar& c : text) {
        if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(c.unicode() - 0xFF01 + 0x21);
        else if (c.unicode() == 0x3000)
            c = QLatin1Char(' ');
    }
    return text;
}

class PortBox : public QSpinBox {
  public:
    QValidator::State validate(QString& input, int& pos) const override {
        input = halfWidth(input);
        return QSpinBox::validate(input, pos);
    }
    int valueFromText(const QString& text) const override {
        return QSpinBox::valueFromText(halfWidth(text));
    }
};

class CodeValidator : public QRegularExpressionValidator {
  public:
    explicit CodeValidator(QObject* parent)
        : QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9]{0,32}")),
                                      parent) {}
    State validate(QString& input, int& pos) const override {
        input = halfWidth(input);
        return QRegularExpressionValidator::validate(input, pos);
    }
};

} // namespace

CWebDialog::CWebDialog(const WebSettings& settings, QWidget* parent, HelpHook help)
    : QDialog(parent), m_help(std::move(help)), m_given(settings) {
    setWindowTitle(QStringLiteral("ウェブ表示"));
    // The dialog font of the other settings dialogs: a 9-point Japanese gothic face.
    QFont dialogFont;
    dialogFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    dialogFont.setPointSize(9);
    setFont(dialogFont);
    m_enabled = new QCheckBox(QStringLiteral("ウェブ表示を使う(&E)"));
    m_enabled->setChecked(settings.Enabled != 0);
    m_port = new PortBox;
    m_port->setRange(1, 65535);
    m_port->setValue(validWebPort(settings.Port) ? settings.Port : WebSettings::kDefaultPort);
    m_bind = new QComboBox;
    m_bind->addItem(QStringLiteral("このコンピューターだけ"));
    m_bind->addItem(QStringLiteral("すべてのネットワーク"));
    m_bind->setCurrentIndex(settings.BindAll ? 1 : 0);
    m_code = new QLineEdit(QString::fromStdString(settings.AccessCode));
    m_code->setMaxLength(static_cast<int>(WebSettings::kAccessCodeMax));
    m_code->setPlaceholderText(QStringLiteral("なし"));
    // Letters and digits only: the code travels in the address and the QR code as it is.
    m_code->setValidator(new CodeValidator(m_code));
    m_enabled->setObjectName(QStringLiteral("enabled"));
    m_port->setObjectName(QStringLiteral("port"));
    m_bind->setObjectName(QStringLiteral("bind"));
    m_code->setObjectName(QStringLiteral("accessCode"));
    m_address = new QLabel;
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Room for the longest address from the start (in the dialog's font, which the label takes
    // once it is in the dialog), so that the dialog does not grow under the operator's hands
    // while a code is typed.
    m_address->setMinimumWidth(fontMetrics().horizontalAdvance(
        QStringLiteral("http://255.255.255.255:65535/?code=") +
        QString(static_cast<int>(WebSettings::kAccessCodeMax), QLatin1Char('W'))));
    m_qr = new QLabel;
    m_qr->setAlignment(Qt::AlignCenter);
    m_qr->setMinimumSize(200, 200);

    auto* form = new QFormLayout;
    form->addRow(m_enabled);
    auto* portLabel = new QLabel(QStringLiteral("ポート(&P):"));
    portLabel->setBuddy(m_port);
    form->addRow(portLabel, m_port);
    auto* bindLabel = new QLabel(QStringLiteral("公開範囲(&B):"));
    bindLabel->setBuddy(m_bind);
    form->addRow(bindLabel, m_bind);
    auto* codeLabel = new QLabel(QStringLiteral("アクセスコード(&A):"));
    codeLabel->setBuddy(m_code);
    // A code made here is long enough and easy to read out: no 0 and O, no 1, l and I.
    auto* generate = new QPushButton(QStringLiteral("生成(&G)"));
    generate->setObjectName(QStringLiteral("generate"));
    generate->setAutoDefault(false);
    connect(generate, &QPushButton::clicked, this, [this] {
        m_code->setText(QString::fromStdString(
            makeAccessCode(8, [] { return QRandomGenerator::system()->generate(); })));
        m_code->setFocus(Qt::OtherFocusReason);
    });
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(m_code);
    codeRow->addWidget(generate);
    form->addRow(codeLabel, codeRow);
    form->addRow(QStringLiteral("アドレス:"), m_address);

    // The buttons look as in the other dialogs of the settings menu: a column at the top
    // right, in the same words, without icons.
    QVBoxLayout* buttons = dialogButtonColumn(
        *this, m_help ? std::function<void()>([this] { m_help(kTemplateId); }) : nullptr);

    auto* fields = new QVBoxLayout;
    fields->addLayout(form);
    fields->addWidget(m_qr);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    // A caption with the close button only, and a size the window manager does not offer to
    // change, as the other settings dialogs have.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    connect(m_enabled, &QCheckBox::toggled, this, &CWebDialog::refresh);
    connect(m_port, &QSpinBox::valueChanged, this, &CWebDialog::refresh);
    connect(m_bind, &QComboBox::currentIndexChanged, this, &CWebDialog::refresh);
    connect(m_code, &QLineEdit::textChanged, this, &CWebDialog::refresh);
    refresh();
}

WebSettings CWebDialog::settings() const {
    WebSettings web = m_given;
    web.Enabled = m_enabled->isChecked() ? 1 : 0;
    web.Port = m_port->value();
    web.BindAll = m_bind->currentIndex() == 1;
    web.AccessCode = m_code->text().toStdString();
    return web;
}

void CWebDialog::accept() {
    if (!accessCodeLongEnough(m_code->text().toStdString())) {
        QMessageBox::warning(this, QStringLiteral("SKIRO"),
                             QStringLiteral("アクセスコードは%1文字以上にしてください。"
                                            "「生成」で作ることもできます。")
                                 .arg(static_cast<int>(WebSettings::kAccessCodeMin)));
        m_code->setFocus(Qt::OtherFocusReason);
        m_code->selectAll();
        return;
    }
    QDialog::accept();
}

QString CWebDialog::address() const {
    return m_address->text();
}

void CWebDialog::refresh() {
    const WebSettings web = settings();
    const QString address = webAddress(web, web.Port);
    m_address->setText(address);
    m_address->setEnabled(web.Enabled != 0);
    // The code is shown only for a page that will be there.
    if (web.Enabled) {
        m_qr->setPixmap(QPixmap::fromImage(qrCodeImage(address.toUtf8(), 5)));
        m_qr->setAccessibleName(address);
    } else {
        m_qr->setPixmap(QPixmap());
        m_qr->setText(QStringLiteral("(ウェブ表示は使われていません)"));
    }
}

} // namespace skiro
