#include "core/TextFormat.h"

#include <cstddef>

namespace skiro {

std::string formatNumbers(std::string_view format, std::initializer_list<long long> values) {
    std::string out;
    out.reserve(format.size() + 16);
    auto next = values.begin();
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[0][width][l|ll](d|i|u)
        std::size_t j = i + 1;
        bool zeroPad = false;
        if (j < format.size() && format[j] == '0') {
            zeroPad = true;
            ++j;
        }
        std::size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 100) {
            width = width * 10 + static_cast<std::size_t>(format[j] - '0');
            ++j;
        }
        while (j < format.size() && format[j] == 'l')
            ++j;
        const bool isNumber =
            j < format.size() && (format[j] == 'd' || format[j] == 'i' || format[j] == 'u');
        if (!isNumber || next == values.end()) {
            out += c;
            ++i;
            continue;
        }
        const long long value = *next++;
        std::string digits = std::to_string(value < 0 ? -value : value);
        const std::size_t used = digits.size() + (value < 0 ? 1 : 0);
        if (used < width && !zeroPad)
            out.append(width - used, ' ');
        if (value < 0)
            out += '-';
        if (used < width && zeroPad)
            out.append(width - used, '0');
        out += digits;
        i = j + 1;
    }
    return out;
}

} // namespace skiro
