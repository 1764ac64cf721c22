#pragma once
#include <string_view>

// Membership in a kinsoku set, which the row breaker consults at an overflow.
namespace skiro {

// True when the set string holds the character ch (its one or two bytes) at one of the set's
// own character boundaries. A byte that appears in the set only as the second byte of a
// double-byte character does not make the one-byte character of that value a member: "。"
// (0x81 0x42) in the set does not make the letter B (0x42) a member.
bool kinsokuSetContains(std::string_view set, std::string_view ch);

} // namespace skiro
