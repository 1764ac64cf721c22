#include "app/CAboutDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace skiro {

CAboutDlg::CAboutDlg(const UiTexts& texts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
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
    // A box that cannot be resized is offered no maximise button by the window manager; it is
    // as wide as its whole title needs.
    layout->activate();
    const QSize content = sizeHint();
    setFixedSize(std::max(content.width(), titleRoom(texts.aboutTitle)), content.height());
}

int CAboutDlg::titleRoom(const QString& title) {
    // Window managers set titles in a bold face of about the application font's size and cut
    // them with an ellipsis when they do not fit. Room for the title itself, the window icon
    // and the close button with their margins keeps it whole.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    return metrics.horizontalAdvance(title) + 10 * metrics.height();
}

} // namespace skiro
