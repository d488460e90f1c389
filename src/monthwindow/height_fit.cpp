#include "monthwindow/height_fit.h"

#include "platform/twips.h"

#include <algorithm>

namespace kelvor::monthwindow {

namespace {

// Millimetres below the chart's end that the fitted window adds.
constexpr int fit_margin = 2;
// The chart ends with one blank row below its last row.
constexpr int blank_row = 4;
// A row's texts and the ends of its bars lie above its lowest millimetre: a row whose lowest
// millimetre is cut off still reads whole.
constexpr int unread_bottom = 1;

int millimetres_to_pixels(int millimetres) {
    return platform::twips_to_pixels(millimetres * platform::twips_per_millimetre);
}

// Pixels from the client area's top down to where the last row has been read.
int last_row_read(int chart_end) {
    return millimetres_to_pixels(chart_end - blank_row - unread_bottom);
}

} // namespace

QRect fitted_frame(int chart_end, QRect frame, QMargins margins, QRect available) {
    const int decoration = margins.top() + margins.bottom();
    int height = millimetres_to_pixels(chart_end + fit_margin);
    // The margin below the chart was meant to hold the frame; a taller title bar must not cover
    // the last row, or that row could never be brought into view.
    height = std::max(height, decoration + last_row_read(chart_end));
    height = std::min(height, available.height());
    height = std::max(height, decoration);

    int top = std::min(frame.top(), available.bottom() + 1 - height);
    top = std::max(top, available.top());
    return {frame.left(), top, frame.width(), height};
}

bool rest_of_chart_in_view(int chart_end, QRect client, QRect available) {
    const int shown_bottom = std::min(client.bottom(), available.bottom()) + 1;
    return shown_bottom - client.top() >= last_row_read(chart_end);
}

} // namespace kelvor::monthwindow
