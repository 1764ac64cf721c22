#include <windows.h>

#include "serial/SystemError.h"

// The system's own explanation of a Windows error code, as FormatMessage gives it: in Japanese
// where Windows has its Japanese messages, else in the user's own language, in Shift-JIS.
namespace skiro {

namespace {

std::wstring message(DWORD error, DWORD language) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, language, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result = length > 0 && text ? std::wstring(text, length) : std::wstring();
    if (text)
        ::LocalFree(text);
    // One line: the message ends with a line break, and a few hold one inside.
    for (wchar_t& c : result)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    while (!result.empty() && result.back() == L' ')
        result.pop_back();
    return result;
}

} // namespace

std::string systemErrorText(int error) {
    std::wstring text =
        message(static_cast<DWORD>(error), MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
    if (text.empty())
        text = message(static_cast<DWORD>(error), 0);
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string sjis(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), sjis.data(), size,
                              nullptr, nullptr);
    return sjis;
}

std::string portErrorExplanation(int error, const StringTable&) {
    return systemErrorText(error);
}

} // namespace skiro
