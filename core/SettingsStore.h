#pragma once
#include "core/Profile.h"
#include "core/Settings.h"

// Moves the settings record and the kinsoku values between the profile and memory: loaded once
// when the document is created, stored once when it closes. The Serial, Scroll, Outline and
// Kinsoku sections go through the settings pages; Font and Color are handled here.
namespace skiro {

// Reads the sections Serial, Scroll, Font, Color, Outline and Kinsoku, in that order. Missing
// keys give the load defaults; a Font section without a non-zero Height is skipped, and a colour
// that does not hold three numbers leaves Color.Text or Color.Back unchanged.
void loadSettings(const Profile& profile, Settings& settings, KinsokuValues& kinsoku);

// Writes the same sections in the same order, each key in its fixed order, into `profile` in
// memory; the caller commits the profile once. The misc switches are not stored.
void saveSettings(const Settings& settings, const KinsokuValues& kinsoku, Profile& profile);

// The time-stamp interval is settled when the main frame restores its placement, and only when
// [SKIRO] Window holds a placement (not on a first run): Misc / WriteTime in seconds (default 0)
// greater than 0 turns the stamps on at that interval cut to whole minutes; 0 or less turns
// them off and leaves the interval. Does nothing when [SKIRO] Window is missing or empty.
void applyWriteTime(const Profile& profile, Settings& settings);

} // namespace skiro
