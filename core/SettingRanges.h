#pragma once
#include <cstdint>

#include "core/Settings.h"

// Integers from the profile are taken without range limits, as the record holds them; these are
// the values the arithmetic uses, bounded so that no value a profile can hold overflows a
// row's thickness, a step or a font size, and so that the text keeps moving. Every value the
// dialogs offer comes through unchanged.
namespace skiro {

// The largest character the view makes, in pixels: beyond any screen.
inline constexpr int kMaxFontPixels = 4096;
// Interline space in percent: from rows that touch (-100) to ten character heights apart.
inline constexpr int kMinInterlineSpace = -100;
inline constexpr int kMaxInterlineSpace = 1000;
// Outline width in dots; every dot costs a round of impressions per row.
inline constexpr int kMaxOutlineDots = 100;
// Scroll step in pixels per tick: at least one, so that text never stands still.
inline constexpr int kMaxStep = 4096;
// The window timer's shortest period, as the Windows window timer keeps it.
inline constexpr int kMinWindowTimerMs = 10;

// A font height in twips (negative: character height) as pixels at `dotsPerInch`; 0 asks for
// the default size of 16 pixels.
int fontPixels(std::int32_t twips, double dotsPerInch);

// The line pitch in percent of a row's thickness: 100 plus the interline space when it is on.
int rowPitchPercent(const Settings& settings);

// The outline's width in dots, 0 when the outline is off.
int outlineDots(const Settings& settings);

// The distance the picture moves per tick.
int scrollStepPixels(std::int32_t step);

// The gliding picture's base speed in pixels per millisecond: Step pixels every Tick
// milliseconds, with the step and the period as the window timer's ticks would give them.
double baseSpeed(const Settings& settings);

// The tick source's period for `Tick` milliseconds: the window timer (method 0) runs no faster
// than every 10 ms, and a Tick of 0 or less runs every source at 10 ms rather than not at all.
int scrollTimerInterval(std::int32_t timerMethod, std::int32_t tick);

} // namespace skiro
