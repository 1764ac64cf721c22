// Opens one settings dialog with the default settings, to look at it while developing:
//   skiro-dialogdemo serial|scroll|outline|kinsoku|misc             runs the dialog
//   skiro-dialogdemo serial|scroll|outline|kinsoku|misc out.png     saves a picture and quits
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/SettingsPages.h"
#include "core/StringTable.h"
#include "ui/CKinsokuDialog.h"
#include "ui/CMiscDialog.h"
#include "ui/COutlineDialog.h"
#include "ui/CScrollDialog.h"
#include "ui/CSerialDialog.h"

using namespace skiro;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: skiro-dialogdemo serial|scroll|outline|kinsoku|misc "
                             "[picture.png]\n");
        return 2;
    }
    const StringTable strings;
    const Settings settings;
    KinsokuValues kinsoku;
    KinsokuPage defaults;
    defaults.setDefaults();
    defaults.toKinsoku(kinsoku);
    const auto help = [](int id) { std::printf("help for dialog %d\n", id); };
    std::unique_ptr<SettingsDialog> dialog;
    const std::string name = argv[1];
    if (name == "serial") {
        auto* d = new CSerialDialog(strings, help);
        d->page() = SerialPage::fromSettings(settings);
        d->setPortPaths(
            {QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")});
        d->setPortChoices(
            {{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
              QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 (ttyUSB0)")},
             {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ttyUSB0")},
             {QStringLiteral("/dev/ttyS0"), QStringLiteral("ttyS0")}},
            {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyS0"), {}, {}});
        dialog.reset(d);
    } else if (name == "scroll") {
        auto* d = new CScrollDialog(strings, help);
        d->page() = ScrollPage::fromSettings(settings);
        dialog.reset(d);
    } else if (name == "outline") {
        auto* d = new COutlineDialog(strings, help);
        d->page() = OutlinePage::fromSettings(settings);
        dialog.reset(d);
    } else if (name == "kinsoku") {
        auto* d = new CKinsokuDialog(strings, help);
        d->page() = KinsokuPage::fromKinsoku(kinsoku);
        d->page().Type = 1;
        dialog.reset(d);
    } else if (name == "misc") {
        auto* d = new CMiscDialog(strings, help, {});
        d->page() = MiscPage::fromSettings(settings);
        dialog.reset(d);
    }
    if (!dialog) {
        std::fprintf(stderr, "no dialog named %s\n", argv[1]);
        return 2;
    }
    if (argc > 2) {
        const QString file = QString::fromLocal8Bit(argv[2]);
        dialog->show();
        QTimer::singleShot(300, [&] {
            dialog->grab().save(file);
            app.quit();
        });
        return app.exec();
    }
    return dialog->exec() == QDialog::Accepted ? 0 : 1;
}
