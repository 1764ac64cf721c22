#include "app/UiTexts.h"

#include <QFileInfo>
#include <QSettings>

#include "core/ResourceVersion.h"
#include "sjis/Sjis.h"

namespace skiro {

bool applyResourceBundle(const QString& path, UiTexts& texts, StringTable& strings) {
    if (!QFileInfo(path).isFile())
        return false;
    QSettings bundle(path, QSettings::IniFormat);
    if (bundle.status() != QSettings::NoError)
        return false;
    const auto file =
        parseModuleVersion(bundle.value("Version/FileVersion").toString().toStdString());
    const auto product =
        parseModuleVersion(bundle.value("Version/ProductVersion").toString().toStdString());
    if (!file || !product || !versionsMatch(kProgramVersions, ModuleVersions{*file, *product}))
        return false;

    const auto take = [&bundle](const QString& key, QString& text) {
        const QVariant value = bundle.value(key);
        if (value.isValid())
            text = value.toString();
    };
    take("Menu/Run", texts.popupRun);
    take("Menu/Settings", texts.popupSettings);
    take("Menu/Help", texts.popupHelp);
    for (auto& [id, text] : texts.items)
        take(QStringLiteral("Menu/%1").arg(id), text);
    take("Window/Restore", texts.restore);
    take("Window/Move", texts.move);
    take("Window/Size", texts.size);
    take("Window/Minimize", texts.minimize);
    take("Window/Maximize", texts.maximize);
    take("Window/Close", texts.close);
    take(QStringLiteral("Strings/%1").arg(IDS_CREATE_FAILED), texts.createFailed);
    take(QStringLiteral("Strings/%1").arg(IDS_HELP_FAILED), texts.helpFailed);
    take("About/Title", texts.aboutTitle);
    take("About/Text", texts.aboutText);
    take("Link/Waiting", texts.linkWaiting);
    take("Link/WaitingTitle", texts.linkWaitingTitle);

    bundle.beginGroup("Strings");
    for (const QString& key : bundle.childKeys()) {
        bool isNumber = false;
        const int id = key.toInt(&isNumber);
        if (isNumber)
            strings.set(id, toSjis(bundle.value(key).toString()));
    }
    bundle.endGroup();
    return true;
}

} // namespace skiro
