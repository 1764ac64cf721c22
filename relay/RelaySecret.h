#pragma once
#include <QString>

namespace skiro {

// Where the relay's password is kept: never in the profile. The desktop's secret store
// (libsecret) where one runs, otherwise a file only the user can read (0600) beside the
// profile. SKIRO_RELAY_PASSWORD in the environment, where set, is taken before either (a
// headless display, a test).
class RelaySecret {
  public:
    // `fileBeside`: the file used when no secret store runs.
    explicit RelaySecret(QString fileBeside) : m_file(std::move(fileBeside)) {}

    // The password kept for `user` at `broker`; empty when none is.
    QString load(const QString& broker, const QString& user) const;
    // Keeps `password` (empty: forgets it); false with the reason in `error`.
    bool store(const QString& broker, const QString& user, const QString& password,
               QString& error) const;
    // Where the password goes, in the user's words, for the dialog to say.
    QString placeDescription() const;

    // Whether the desktop's secret store answers.
    static bool secretServiceRuns();
    const QString& file() const { return m_file; }

  private:
    QString m_file;
};

// Reads a password from the first line of `path` (skiro-send --password-file); empty when the
// file cannot be read.
QString readPasswordFile(const QString& path);

} // namespace skiro
