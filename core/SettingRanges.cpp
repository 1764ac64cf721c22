#include "core/SettingRanges.h"

#include <algorithm>
#include <cmath>

namespace skiro {

int fontPixels(std::int32_t twips, double dotsPerInch) {
    if (twips == 0)
        return 16;
    const double pixels = std::abs(static_cast<double>(twips)) * dotsPerInch / 1440.0;
    if (!(pixels < kMaxFontPixels)) // also a DPI that is not a number
        return kMaxFontPixels;
    return std::max(1, static_cast<int>(std::lround(pixels)));
}

int rowPitchPercent(const Settings& settings) {
    if (!settings.Interline)
        return 100;
    return 100 + std::clamp<std::int32_t>(settings.InterlineSpace, kMinInterlineSpace,
                                          kMaxInterlineSpace);
}

int outlineDots(const Settings& settings) {
    return settings.Outline ? std::clamp<std::int32_t>(settings.LineCnt, 0, kMaxOutlineDots) : 0;
}

int scrollStepPixels(std::int32_t step) {
    return std::clamp<std::int32_t>(step, 1, kMaxStep);
}

int scrollTimerInterval(std::int32_t timerMethod, std::int32_t tick) {
    if (timerMethod == 0)
        return std::max(tick, kMinWindowTimerMs);
    return tick <= 0 ? kMinWindowTimerMs : tick;
}

double baseSpeed(const Settings& settings) {
    return static_cast<double>(scrollStepPixels(settings.Step)) /
           scrollTimerInterval(0, settings.Tick);
}

} // namespace skiro
