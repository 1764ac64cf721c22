#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/Contrast.h"

using namespace skiro;

namespace {

constexpr Colour kDarkPage = rgb(0x00, 0x00, 0x00);
constexpr Colour kLightPage = rgb(0xFB, 0xFB, 0xF8);

// Hue in degrees, or -1 for a grey.
double hueOf(Colour c) {
    const double r = redOf(c), g = greenOf(c), b = blueOf(c);
    const double high = std::max({r, g, b}), low = std::min({r, g, b});
    if (high == low)
        return -1;
    double h = high == r   ? (g - b) / (high - low)
               : high == g ? 2 + (b - r) / (high - low)
                           : 4 + (r - g) / (high - low);
    return std::fmod(h * 60 + 360, 360);
}

} // namespace

TEST(Contrast, RatiosOfKnownPairs) {
    EXPECT_NEAR(contrastRatio(rgb(255, 255, 255), rgb(0, 0, 0)), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(rgb(0, 0, 0), rgb(255, 255, 255)), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(rgb(12, 34, 56), rgb(12, 34, 56)), 1.0, 1e-9);
    // The grey just under the usual line, and the one just over it.
    EXPECT_NEAR(contrastRatio(rgb(0x77, 0x77, 0x77), rgb(255, 255, 255)), 4.48, 0.005);
    EXPECT_NEAR(contrastRatio(rgb(0x76, 0x76, 0x76), rgb(255, 255, 255)), 4.54, 0.005);
}

TEST(Contrast, ColoursAreKeptWhenReadableAndOtherwiseBroughtToTheLineKeepingTheirHue) {
    struct Case {
        const char* name;
        Colour text;
        Colour background;
        bool kept;
    };
    const Case cases[] = {
        {"yellow on the light page", rgb(255, 255, 0), kLightPage, false},
        {"lime on the light page", rgb(0, 255, 0), kLightPage, false},
        {"pure red on the light page", rgb(255, 0, 0), kLightPage, false},
        {"white on the light page", rgb(255, 255, 255), kLightPage, false},
        {"navy on the dark page", rgb(0, 0, 128), kDarkPage, false},
        {"blue on the dark page", rgb(0, 0, 255), kDarkPage, false},
        {"dark red on the dark page", rgb(128, 0, 0), kDarkPage, false},
        {"black on the dark page", rgb(0, 0, 0), kDarkPage, false},
        {"pure red on the dark page", rgb(255, 0, 0), kDarkPage, true},
        {"yellow on the dark page", rgb(255, 255, 0), kDarkPage, true},
        {"navy on the light page", rgb(0, 0, 128), kLightPage, true},
        {"dark green on the light page", rgb(0, 100, 0), kLightPage, true},
        {"a grey just over the line", rgb(0x76, 0x76, 0x76), rgb(255, 255, 255), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Colour shown = readableOn(c.text, c.background);
        EXPECT_GE(contrastRatio(shown, c.background), 4.5);
        if (c.kept) {
            EXPECT_EQ(shown, c.text);
            continue;
        }
        EXPECT_NE(shown, c.text);
        // Brought just to the line, not beyond it to black or white.
        EXPECT_LT(contrastRatio(shown, c.background), 4.75);
        const double before = hueOf(c.text), after = hueOf(shown);
        if (before < 0) {
            EXPECT_LT(after, 0) << "a grey stays grey";
        } else {
            const double turn = std::abs(before - after);
            EXPECT_LT(std::min(turn, 360 - turn), 2.0) << "hue " << before << " became " << after;
        }
    }
}
