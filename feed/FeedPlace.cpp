#include "feed/FeedPlace.h"

#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace skiro {
namespace {

// Why `path` is no private folder of this user, or an empty text when it is one. lstat, so
// that a symbolic link is seen as what it is and never followed.
QString refusal(const QString& path, bool mustBePrivate) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("%1 cannot be examined (%2)")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is a symbolic link").arg(path);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(st.st_uid);
    if (mustBePrivate && (st.st_mode & 077) != 0)
        return QStringLiteral("%1 is open to other users (mode %2)")
            .arg(path)
            .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    return {};
}

QtMessageHandler g_outerHandler = nullptr;

// Qt's per-user runtime folder when XDG_RUNTIME_DIR is unset (cron, su, ssh without a
// session). Qt says on standard error, at every call, that it falls back; the fallback is what
// is wanted here, so that note is kept off the output of skiro and skiro-send, whose standard
// error carries their own messages only. Every other message goes on as before.
QString fallbackRuntimeFolder() {
    g_outerHandler = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (!message.startsWith(QLatin1String("QStandardPaths:")))
                g_outerHandler(type, context, message);
        });
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(g_outerHandler);
    return folder;
}

} // namespace

bool isServiceName(const QString& service) {
    return !service.isEmpty() && !service.contains(QLatin1Char('/')) &&
           service != QLatin1String(".") && service != QLatin1String("..");
}

FeedPlace feedPlace(const QString& service, bool create) {
    FeedPlace place;
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = fallbackRuntimeFolder();
    if (base.isEmpty()) {
        place.error = QStringLiteral("there is no runtime folder for this user");
        return place;
    }
    place.folder = base + QStringLiteral("/skiro");
    place.socket = place.folder + QLatin1Char('/') + service;
    if (!isServiceName(service)) {
        place.error = QStringLiteral("\"%1\" cannot name a service").arg(service);
        return place;
    }
    if (QFile::encodeName(place.socket).size() >= qsizetype(sizeof(sockaddr_un::sun_path))) {
        place.error = QStringLiteral("the socket path %1 is too long").arg(place.socket);
        return place;
    }
    struct stat st {};
    // A client that finds no folder finds no display; that is said when it connects.
    if (!create && ::lstat(QFile::encodeName(base).constData(), &st) != 0 && errno == ENOENT)
        return place;
    place.error = refusal(base, false);
    if (!place.ok())
        return place;
    const QByteArray folder = QFile::encodeName(place.folder);
    if (create) {
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
            place.error = QStringLiteral("%1 cannot be made (%2)")
                              .arg(place.folder, QString::fromLocal8Bit(std::strerror(errno)));
            return place;
        }
    } else if (::lstat(folder.constData(), &st) != 0 && errno == ENOENT) {
        return place;
    }
    place.error = refusal(place.folder, true);
    return place;
}

} // namespace skiro
