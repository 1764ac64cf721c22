#pragma once

// Which characters a column sets on their side, by the Unicode Vertical_Orientation property:
// Latin letters, digits and half-width forms turn, kanji, kana and full-width forms stand
// upright (as do those that take a vertical form). From a table generated out of the Unicode
// Character Database at build time, for the build that has no ICU to ask.
namespace skiro {

bool isSetSideways(char32_t c);

} // namespace skiro
