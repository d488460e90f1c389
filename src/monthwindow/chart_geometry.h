#pragma once

#include <QtGlobal>
#include <optional>

// The month chart's geometry, in millimetres as its design gives them: what the drawing lays
// out, and what the height fit measures the window by.
namespace kelvor::monthwindow {

// A month's row, its legend's row, and the blank row that ends each chart.
inline constexpr int row_height = 4;
inline constexpr int legend_height = 4;
// Where every bar starts.
inline constexpr int bar_left = 10;
// A bar is filled with vertical lines this far apart.
inline constexpr double line_spacing = 0.25;
// Below the chart's end, the fitted window adds room for its frame.
inline constexpr int fit_margin = 2;
// A row's texts and the ends of its bars lie above its lowest millimetre: a row whose lowest
// millimetre is cut off still reads whole.
inline constexpr int unread_bottom = 1;

// Logical pixels of the desktop, whole as windows are.
int millimetres_to_pixels(int millimetres);

// Millimetres per unit of value: the largest value draws a bar of width * max / (max + 1).
// None when no value is 0 or more: such a chart draws no bars.
std::optional<double> chart_scale(double chart_width_mm, qint32 maximum);

// The right end of a bar that starts at bar_left: the nearest whole millimetre, halves to
// even. A value that would reach past the window's right edge (a longest session above the
// month's total after the clock went back) stops at the edge: the picture is the same, and
// the bar costs no more than the window is wide.
int bar_end(double scale, qint32 value, int right_edge_mm);

} // namespace kelvor::monthwindow
