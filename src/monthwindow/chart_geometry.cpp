#include "monthwindow/chart_geometry.h"

#include "platform/twips.h"

#include <algorithm>
#include <cmath>

namespace kelvor::monthwindow {

int millimetres_to_pixels(int millimetres) {
    return platform::twips_to_pixels(millimetres * platform::twips_per_millimetre);
}

std::optional<double> chart_scale(double chart_width_mm, qint32 maximum) {
    if (maximum < 0)
        return std::nullopt;
    return chart_width_mm / (double(maximum) + 1);
}

int bar_end(double scale, qint32 value, int right_edge_mm) {
    // Below the left edge nothing is drawn, however far below.
    const double end = std::clamp(scale * value + bar_left, double(bar_left - 1),
                                  double(std::max(right_edge_mm, bar_left)));
    return int(std::nearbyint(end));
}

} // namespace kelvor::monthwindow
