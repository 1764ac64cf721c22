#include "display/Sjis.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace skiro {

// Code page 932 as the Windows build reads and writes it (ICU's windows-31j): "～" is 0x8160
// both ways, and the NEC and IBM extensions are kept.
QString fromSjis(std::string_view sjis) {
    QStringDecoder decoder("windows-31j");
    return decoder.decode(QByteArrayView(sjis.data(), static_cast<qsizetype>(sjis.size())));
}

std::string toSjis(const QString& text) {
    QStringEncoder encoder("windows-31j");
    const QByteArray bytes = encoder.encode(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace skiro
