#pragma once
#include <QByteArray>
#include <QImage>

namespace skiro {

// A QR code of `text` (medium error correction), `moduleSize` pixels per module, black on
// white with the quiet zone of four modules that scanners need. A null image when the text
// does not fit in a QR code.
QImage qrCodeImage(const QByteArray& text, int moduleSize);

} // namespace skiro
