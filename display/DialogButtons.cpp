#include "display/DialogButtons.h"

#include <QDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include "display/HelpKey.h"

namespace skiro {

QVBoxLayout* dialogButtonColumn(QDialog& dialog, std::function<void()> help) {
    auto* ok = new QPushButton(QStringLiteral("OK"));
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    if (help) {
        auto* helpButton = new QPushButton(QStringLiteral("ﾍﾙﾌﾟ"));
        helpButton->setObjectName(QStringLiteral("help"));
        QObject::connect(helpButton, &QPushButton::clicked, &dialog, help);
        buttons->addWidget(helpButton);
        new HelpKey(dialog, help);
    }
    buttons->addStretch();
    return buttons;
}

} // namespace skiro
