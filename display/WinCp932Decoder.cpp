#include <windows.h>

#include "core/ShiftJis.h"
#include "display/QtTextSurface.h"

// Code page 932 into UTF-16 by the system's own conversion, with the byte behind each unit.
namespace skiro {

namespace {
constexpr UINT kCodePage = 932;
} // namespace

struct Cp932Decoder::Converter {
    std::vector<int> charStarts;
};

Cp932Decoder::Cp932Decoder() : m_converter(std::make_unique<Converter>()) {}

Cp932Decoder::~Cp932Decoder() = default;

QString Cp932Decoder::decode(std::string_view bytes, std::vector<int>* byteOfUnit) {
    if (byteOfUnit)
        byteOfUnit->clear();
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    QString text(length, Qt::Uninitialized);
    ::MultiByteToWideChar(kCodePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                          length);
    if (!byteOfUnit)
        return text;

    // Every code page 932 character, a byte that makes none included, gives one UTF-16 unit.
    std::vector<int>& starts = m_converter->charStarts;
    starts.clear();
    for (std::size_t i = 0; i < bytes.size(); i += sjis::charLength(bytes, i))
        starts.push_back(static_cast<int>(i));
    if (starts.size() == static_cast<std::size_t>(length)) {
        *byteOfUnit = starts;
        return text;
    }
    // Otherwise one character at a time, so that each unit still knows its byte.
    text.clear();
    wchar_t units[4];
    for (const int start : starts) {
        const std::size_t end = static_cast<std::size_t>(start) +
                                sjis::charLength(bytes, static_cast<std::size_t>(start));
        const int n = ::MultiByteToWideChar(kCodePage, 0, bytes.data() + start,
                                            static_cast<int>(end) - start, units, 4);
        for (int u = 0; u < n; ++u) {
            text += QChar(static_cast<char16_t>(units[u]));
            byteOfUnit->push_back(start);
        }
    }
    return text;
}

} // namespace skiro
