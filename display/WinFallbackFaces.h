#pragma once
#include <QFont>
#include <QRawFont>
#include <QString>

#include <optional>
#include <vector>

// The installed faces that draw what the view font lacks, on Windows, where Qt's font database
// lists them (there is no fontconfig to sort them): Japanese faces first, then the others, each
// asked once for its characters when a character first needs it.
namespace skiro {

class FallbackFaces {
  public:
    explicit FallbackFaces(const QFont& font);

    // The families, in order of preference, whose fonts have c; `visit` returns true to stop.
    template <class Visit> void forEachHaving(char32_t c, Visit visit) const {
        for (std::size_t i = 0; i < m_families.size(); ++i)
            if (has(i, c) && visit(m_families[i]))
                return;
    }

    const std::vector<QString>& families() const { return m_families; }

  private:
    bool has(std::size_t family, char32_t c) const;

    std::vector<QString> m_families;
    mutable std::vector<std::optional<QRawFont>> m_fonts; // made when first asked
};

} // namespace skiro
