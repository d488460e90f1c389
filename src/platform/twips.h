#pragma once

#include <cmath>

// Window geometry is kept in twips (1440 per inch). At Qt's 96 logical dots per inch that is
// 15 twips to a logical pixel; the month chart's millimetre is taken as 60 twips.
namespace kelvor::platform {

inline constexpr int twips_per_pixel = 15;
inline constexpr int twips_per_millimetre = 60;
inline constexpr double pixels_per_millimetre = double(twips_per_millimetre) / twips_per_pixel;

// Windows sit on whole pixels; a twip position between two pixels goes to the one on its left.
inline int twips_to_pixels(double twips) {
    return int(std::floor(twips / twips_per_pixel));
}
inline double pixels_to_twips(double pixels) {
    return pixels * twips_per_pixel;
}

} // namespace kelvor::platform
