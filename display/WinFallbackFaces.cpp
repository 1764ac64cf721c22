#include "display/WinFallbackFaces.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <algorithm>

namespace skiro {

FallbackFaces::FallbackFaces(const QFont& font) {
    const QString own = QFontInfo(font).family();
    auto add = [&](const QStringList& families) {
        for (const QString& family : families) {
            // "@" faces are the vertical forms of the same fonts; private faces are Windows' own.
            if (family.startsWith(QLatin1Char('@')) || family == own ||
                QFontDatabase::isPrivateFamily(family) ||
                std::find(m_families.begin(), m_families.end(), family) != m_families.end())
                continue;
            m_families.push_back(family);
        }
    };
    add(QFontDatabase::families(QFontDatabase::Japanese));
    add(QFontDatabase::families());
    m_fonts.resize(m_families.size());
}

bool FallbackFaces::has(std::size_t family, char32_t c) const {
    std::optional<QRawFont>& raw = m_fonts[family];
    if (!raw) {
        QFont font(m_families[family]);
        font.setPixelSize(16);
        font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::NoFontMerging));
        raw = QRawFont::fromFont(font);
    }
    return raw->isValid() && raw->supportsCharacter(static_cast<uint>(c));
}

} // namespace skiro
