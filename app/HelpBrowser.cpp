#include "app/HelpBrowser.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace skiro {

HelpBrowser::HelpBrowser(QObject* parent) : QObject(parent) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))
        m_opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

void HelpBrowser::open(const QString& page) {
    if (m_opener.isEmpty()) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
            emit failed(page, QStringLiteral("ページを開くブラウザーを起動できませんでした。"));
        return;
    }
    // No parent: a browser that xdg-open runs in the foreground keeps this process alive,
    // and it must outlive the program rather than be killed when the window closes.
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    connect(
        process, &QProcess::errorOccurred, this, [this, process, page](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart)
                return;
            emit failed(page, QStringLiteral("ブラウザーを呼び出すプログラム %1 を実行できません。")
                                  .arg(m_opener));
            process->deleteLater();
        });
    connect(process, &QProcess::finished, this,
            [this, process, page](int code, QProcess::ExitStatus status) {
                process->deleteLater();
                if (status == QProcess::NormalExit && code == 0)
                    return;
                // xdg-open: 3 when no program to open the page was found, 4 when it failed.
                emit failed(page, code == 3 && status == QProcess::NormalExit
                                      ? QStringLiteral("ページを開くブラウザーが見つかりません。")
                                      : QStringLiteral("ブラウザーがページを開けませんでした。"));
            });
    process->start(m_opener, {page});
}

} // namespace skiro
