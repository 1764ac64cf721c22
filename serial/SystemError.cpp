#include "serial/SystemError.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include "core/StringTable.h"

namespace skiro {

namespace {

// The locale whose messages explain errors: a Japanese one when the machine has it (the
// program speaks Japanese whatever the user's locale), else none, meaning the user's own.
locale_t japaneseLocale() {
    static const locale_t locale = [] {
        for (const char* name : {"ja_JP.UTF-8", "ja_JP.utf8", "ja_JP.eucJP", "ja_JP.EUC-JP"}) {
            if (locale_t l = ::newlocale(LC_ALL_MASK, name, nullptr))
                return l;
        }
        return locale_t{};
    }();
    return locale;
}

// `text` from `codeset` into Shift-JIS (CP932); characters it lacks are left out.
std::string toShiftJis(const char* text, const char* codeset) {
    const std::size_t length = std::strlen(text);
    iconv_t cd = ::iconv_open("CP932//TRANSLIT", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(text, length);
    std::string out(length * 2 + 8, '\0');
    char* in = const_cast<char*>(text);
    std::size_t inLeft = length;
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno != EILSEQ && errno != EINVAL)
            break;
        ++in; // a byte that cannot be converted
        --inLeft;
    }
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string systemErrorText(int error) {
    locale_t locale = japaneseLocale();
    locale_t own{};
    if (!locale) {
        own = ::duplocale(LC_GLOBAL_LOCALE);
        if (!own)
            return toShiftJis(std::strerror(error), "ASCII");
        locale = own;
    }
    const std::string text =
        toShiftJis(::strerror_l(error, locale), ::nl_langinfo_l(CODESET, locale));
    if (own)
        ::freelocale(own);
    return text;
}

std::string portErrorExplanation(int error, const StringTable& strings) {
    if (error == ENOTTY)
        return strings.text(IDS_NOT_A_SERIAL_PORT);
    // A refusal by the device's permissions: serial ports belong to a group that the user
    // joins once, which the system's text does not say.
    if (error == EACCES)
        return systemErrorText(error) + "\x81\x42" + strings.text(IDS_NO_PERMISSION_HINT);
    return systemErrorText(error);
}

} // namespace skiro
