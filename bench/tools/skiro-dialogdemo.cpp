// Opens one settings dialog with the default settings, to look at it while developing:
//   skiro-dialogdemo scroll            runs the dialog
//   skiro-dialogdemo scroll out.png    saves a picture of it and quits
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/SettingsPages.h"
#include "core/StringTable.h"
#include "ui/CScrollDialog.h"

using namespace skiro;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: skiro-dialogdemo scroll [picture.png]\n");
        return 2;
    }
    const StringTable strings;
    const Settings settings;
    const auto help = [](int id) { std::printf("help for dialog %d\n", id); };
    std::unique_ptr<SettingsDialog> dialog;
    if (std::strcmp(argv[1], "scroll") == 0) {
        auto* d = new CScrollDialog(strings, help);
        d->page() = ScrollPage::fromSettings(settings);
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
