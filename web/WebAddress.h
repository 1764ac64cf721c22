#pragma once
#include <QString>

#include "core/WebSettings.h"

namespace skiro {

// The page's address as the audience types it or scans it from the QR code: this machine's
// loopback address for "local", else its first network address, with the access code in it.
QString webAddress(const WebSettings& web, int port);

} // namespace skiro
