#pragma once
#include <QString>
#include <string>
#include <string_view>

// Conversions between the program's Shift-JIS text and Qt's Unicode, for window texts, the
// clipboard and message boxes.
namespace skiro {

QString fromSjis(std::string_view sjis);
std::string toSjis(const QString& text);

} // namespace skiro
