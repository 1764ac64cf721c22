#include "app/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace skiro {

CAboutDlg::CAboutDlg(const UiTexts& texts, QWidget* parent) : QDialog(parent) {
    setWindowTitle(texts.aboutTitle);
    setObjectName(QStringLiteral("CAboutDlg"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(texts.aboutText, this);
    name->setObjectName(QStringLiteral("version"));
    layout->addWidget(name);
    layout->addWidget(new QLabel(QStringLiteral("リアルタイム文字表示"), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace skiro
