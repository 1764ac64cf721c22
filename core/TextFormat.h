#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace skiro {

// Fills the number conversions of a text from the string table ("%02d", "%04d", "%u", "%%")
// with the given values, in order. The texts may come from a replaceable resource bundle, so
// this never hands them to printf: any other conversion, or one with no value left, is copied
// as it stands.
std::string formatNumbers(std::string_view format, std::initializer_list<long long> values);

} // namespace skiro
