#include "web/QrCode.h"

#include <QPainter>
#include <qrencode.h>

namespace skiro {

QImage qrCodeImage(const QByteArray& text, int moduleSize) {
    QRcode* code = QRcode_encodeString(text.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    constexpr int kQuiet = 4;
    const int modules = code->width + 2 * kQuiet;
    QImage image(modules * moduleSize, modules * moduleSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // The low bit of each module byte is its colour; the others describe its role.
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + kQuiet) * moduleSize, (y + kQuiet) * moduleSize, moduleSize,
                                 moduleSize, Qt::black);
        }
    }
    painter.end();
    QRcode_free(code);
    return image;
}

} // namespace skiro
