#pragma once

#include "monthwindow/chart_canvas.h"

#include <QLocale>

namespace kelvor::platform {
class Clock;
class SettingsStore;
} // namespace kelvor::platform

namespace kelvor::monthwindow {

// A bar filled with vertical lines a quarter millimetre apart, from x1 to x2 inclusive:
// nothing when x1 > x2, one line when they are equal. The lines go to the canvas in one call.
void Draw_bar(ChartCanvas& canvas, int x1, int y1, int x2, int y2);

// Both month charts, sessions then time used, one 4 mm row per recorded month, read afresh
// from the store. The picture starts at y = scroll_offset + 1 mm and spans the window's outer
// width. Returns the y below the blank row that ends the second chart.
int draw_month_charts(ChartCanvas& canvas, platform::SettingsStore& store,
                      const platform::Clock& clock, int window_width_twips, int scroll_offset,
                      const QLocale& locale = QLocale());

} // namespace kelvor::monthwindow
