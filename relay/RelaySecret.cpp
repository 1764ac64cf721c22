// GLib's headers come before Qt's, whose "signals" keyword they use as a name.
#ifdef SKIRO_LIBSECRET
#include <libsecret/secret.h>
#endif

#include "relay/RelaySecret.h"

#include <QFile>
#include <QFileDevice>
#include <QSaveFile>

namespace skiro {
namespace {

#ifdef SKIRO_LIBSECRET
const SecretSchema* schema() {
    static const SecretSchema s = {"jp.skiro.Relay",
                                   SECRET_SCHEMA_NONE,
                                   {{"broker", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}
#endif

} // namespace

bool RelaySecret::secretServiceRuns() {
#ifdef SKIRO_LIBSECRET
    // Without a session bus libsecret would try to start one.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    // The service object exists even where no store answers: asking for the collections tells.
    const bool ok = secret_service_load_collections_sync(service, nullptr, &error);
    if (error)
        g_error_free(error);
    g_object_unref(service);
    return ok;
#else
    return false;
#endif
}

QString RelaySecret::load(const QString& broker, const QString& user) const {
    if (qEnvironmentVariableIsSet("SKIRO_RELAY_PASSWORD"))
        return qEnvironmentVariable("SKIRO_RELAY_PASSWORD");
#ifdef SKIRO_LIBSECRET
    if (secretServiceRuns()) {
        GError* error = nullptr;
        gchar* password = secret_password_lookup_sync(schema(), nullptr, &error, "broker",
                                                      broker.toUtf8().constData(), "user",
                                                      user.toUtf8().constData(), nullptr);
        if (error)
            g_error_free(error);
        if (password) {
            const QString found = QString::fromUtf8(password);
            secret_password_free(password);
            return found;
        }
    }
#else
    Q_UNUSED(broker);
    Q_UNUSED(user);
#endif
    return readPasswordFile(m_file);
}

bool RelaySecret::store(const QString& broker, const QString& user, const QString& password,
                        QString& error) const {
#ifdef SKIRO_LIBSECRET
    if (secretServiceRuns()) {
        GError* failure = nullptr;
        bool ok = true;
        if (password.isEmpty()) {
            secret_password_clear_sync(schema(), nullptr, &failure, "broker",
                                       broker.toUtf8().constData(), "user",
                                       user.toUtf8().constData(), nullptr);
        } else {
            ok = secret_password_store_sync(
                schema(), SECRET_COLLECTION_DEFAULT,
                QStringLiteral("SKIRO relay %1@%2").arg(user, broker).toUtf8().constData(),
                password.toUtf8().constData(), nullptr, &failure, "broker",
                broker.toUtf8().constData(), "user", user.toUtf8().constData(), nullptr);
        }
        if (failure) {
            error = QString::fromUtf8(failure->message);
            g_error_free(failure);
            return false;
        }
        if (ok) {
            QFile::remove(m_file); // one place only
            return true;
        }
    }
#else
    Q_UNUSED(broker);
    Q_UNUSED(user);
#endif
    if (password.isEmpty()) {
        QFile::remove(m_file);
        return true;
    }
    QSaveFile file(m_file);
    // Only the user may read it, from the moment it exists.
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(password.toUtf8() + '\n');
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    QFile::setPermissions(m_file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

QString RelaySecret::placeDescription() const {
    if (secretServiceRuns())
        return QStringLiteral("パスワードはデスクトップの鍵束 (Secret Service) に保存されます。");
    return QStringLiteral("鍵束が動いていないため、パスワードはこの利用者だけが読めるファイル"
                          " %1 に保存されます。")
        .arg(m_file);
}

QString readPasswordFile(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace skiro
