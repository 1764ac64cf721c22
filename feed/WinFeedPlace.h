#pragma once
#include <QString>
#include <QtGlobal>

// The Windows side of the "Send" service's place: a named pipe whose name carries the user's
// security identifier, reachable by that user alone (Qt's user-access option), and a mutex of
// the session that one display holds for its service name.
namespace skiro {

// The user's security identifier as text ("S-1-5-21-..."), empty when it cannot be read.
QString currentUserSid();

// Whether the process at the other end of the connected pipe `pipe` (a QLocalSocket's
// descriptor) runs as this user: the client when `otherIsServer` is false, the server else.
bool pipePeerIsThisUser(qintptr pipe, bool otherIsServer);

// Holds the service name `pipeName` for this display; false when another display holds it.
// The claim ends with releaseServiceClaim, or with the process.
bool claimService(const QString& pipeName, void*& claim);
void releaseServiceClaim(void*& claim);

} // namespace skiro
