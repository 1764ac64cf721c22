#include "app/QtSjisConversion.h"

#include <QString>

#include "sjis/Sjis.h"

namespace skiro {

std::string QtSjisConversion::toSjis(std::string_view utf8) const {
    return skiro::toSjis(
        QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::string QtSjisConversion::toUtf8(std::string_view sjis) const {
    const QByteArray bytes = fromSjis(sjis).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace skiro
