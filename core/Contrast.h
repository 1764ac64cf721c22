#pragma once
#include "core/Colour.h"

// How well a text colour reads on a background, and the nearest colour of the same hue that
// reads well enough: a colour command meant for the projector can be yellow or navy, which the
// audience's light or dark pages would show almost invisibly.
namespace skiro {

// The contrast ratio of two colours, from 1 (the same) to 21 (black and white), by the relative
// luminance of the web's accessibility guidelines (sRGB).
double contrastRatio(Colour a, Colour b);

// `text` itself when it reaches `minimum` contrast against `background`; otherwise the colour
// of the same hue and saturation, lighter on a dark background and darker on a light one, that
// reaches it with the least change of lightness.
Colour readableOn(Colour text, Colour background, double minimum = 4.5);

} // namespace skiro
