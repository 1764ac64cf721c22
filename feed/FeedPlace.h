#pragma once
#include <QString>

namespace skiro {

// Where the local "Send" service of a display lives: a socket named after the service in a
// folder of the user's own runtime directory ($XDG_RUNTIME_DIR/skiro/, or Qt's per-user
// fallback where XDG_RUNTIME_DIR is unset). The folder is this user's alone: another user's
// folder, a symbolic link or one open to others is refused, so no one can put a socket of
// their own in the display's place or read the text sent to it.
struct FeedPlace {
    QString folder;
    QString socket;
    QString error; // why the place cannot be used; empty when it can
    bool ok() const { return error.isEmpty(); }
};

// The place of `service`. The display creates the folder (mode 0700) when it is missing; a
// client only checks what is there.
FeedPlace feedPlace(const QString& service, bool create);

// Whether `service` can name a socket: not empty, no "/", not "." or "..".
bool isServiceName(const QString& service);

} // namespace skiro
