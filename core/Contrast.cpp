#include "core/Contrast.h"

#include <algorithm>
#include <cmath>

namespace skiro {

namespace {

double linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(Colour c) {
    return 0.2126 * linear(redOf(c)) + 0.7152 * linear(greenOf(c)) + 0.0722 * linear(blueOf(c));
}

struct Hsl {
    double hue = 0;        // 0..6, in sixths of the circle
    double saturation = 0; // 0..1
    double lightness = 0;  // 0..1
};

Hsl toHsl(Colour c) {
    const double r = redOf(c) / 255.0, g = greenOf(c) / 255.0, b = blueOf(c) / 255.0;
    const double high = std::max({r, g, b}), low = std::min({r, g, b});
    const double chroma = high - low;
    Hsl hsl;
    hsl.lightness = (high + low) / 2;
    if (chroma <= 0)
        return hsl;
    hsl.saturation = chroma / (1 - std::abs(2 * hsl.lightness - 1));
    if (high == r)
        hsl.hue = std::fmod((g - b) / chroma + 6, 6);
    else if (high == g)
        hsl.hue = (b - r) / chroma + 2;
    else
        hsl.hue = (r - g) / chroma + 4;
    return hsl;
}

Colour fromHsl(const Hsl& hsl) {
    const double chroma = (1 - std::abs(2 * hsl.lightness - 1)) * hsl.saturation;
    const double x = chroma * (1 - std::abs(std::fmod(hsl.hue, 2) - 1));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hsl.hue) % 6) {
    case 0:
        r = chroma, g = x;
        break;
    case 1:
        r = x, g = chroma;
        break;
    case 2:
        g = chroma, b = x;
        break;
    case 3:
        g = x, b = chroma;
        break;
    case 4:
        r = x, b = chroma;
        break;
    default:
        r = chroma, b = x;
        break;
    }
    const double m = hsl.lightness - chroma / 2;
    const auto channel = [m](double v) {
        return static_cast<int>(std::lround(std::clamp(v + m, 0.0, 1.0) * 255));
    };
    return rgb(channel(r), channel(g), channel(b));
}

} // namespace

double contrastRatio(Colour a, Colour b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Colour readableOn(Colour text, Colour background, double minimum) {
    if (contrastRatio(text, background) >= minimum)
        return text;
    // Each channel grows with lightness at a fixed hue and saturation, so contrast against
    // the background does too on one side of it: the least change is found by halving. The
    // test is made on the colour as sent, rounded to whole channels.
    const bool lighter =
        contrastRatio(rgb(255, 255, 255), background) >= contrastRatio(rgb(0, 0, 0), background);
    Hsl hsl = toHsl(text);
    double reached = lighter ? 1.0 : 0.0; // white or black always serves
    double missed = hsl.lightness;
    for (int i = 0; i < 40; ++i) {
        hsl.lightness = (reached + missed) / 2;
        if (contrastRatio(fromHsl(hsl), background) >= minimum)
            reached = hsl.lightness;
        else
            missed = hsl.lightness;
    }
    hsl.lightness = reached;
    return fromHsl(hsl);
}

} // namespace skiro
