#pragma once

#include <QMargins>
#include <QRect>

// The month window's height fit, in logical pixels of the desktop: pure geometry, so that every
// frame, screen and position can be tried without a window manager.
namespace kelvor::monthwindow {

// The window's outer rectangle once its height is fitted to a chart that ends at `chart_end`
// (millimetres, below the blank row that closes the chart): (chart_end + 2) mm tall frame
// included, taller only where a tall title bar would cover the last row, never taller than
// the screen's available area, and moved up or down just enough to lie inside that area.
// `frame` is the outer rectangle now, `margins` the window manager's frame around the client
// area (none before the window has been framed).
QRect fitted_frame(int chart_end, QRect frame, QMargins margins, QRect available);

// Whether every row left below the window's top can be seen: the client area, as far as it
// lies on the available area, reaches the last row of a chart that ends at `chart_end`.
bool rest_of_chart_in_view(int chart_end, QRect client, QRect available);

} // namespace kelvor::monthwindow
