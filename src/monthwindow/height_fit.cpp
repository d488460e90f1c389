#include "monthwindow/height_fit.h"

#include "monthwindow/chart_geometry.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kelvor::monthwindow {

namespace {

// Pixels from the client area's top down to where the last row has been read: the chart ends
// with one blank row below its last.
int last_row_read(int chart_end) {
    return millimetres_to_pixels(chart_end - row_height - unread_bottom);
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

QMargins frame_margins(const QWidget& window) {
    return window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
}

HeightFit::HeightFit(QWidget& window, std::function<void(bool rest_in_view)> fitted)
    : window_(window), fitted_(std::move(fitted)) {}

void HeightFit::fit(int chart_end) {
    // Setting the height raises a resize that draws once more, nested: that inner drawing
    // leaves the fit to this one.
    if (setting_height_)
        return;
    setting_height_ = true;
    chart_end_ = chart_end;
    margins_ = frame_margins(window_);
    const QRect available = window_.screen()->availableGeometry();
    const QRect outer = fitted_frame(chart_end, window_.geometry() + margins_, margins_, available);
    const QRect client = outer - margins_;
    window_.resize(client.size());
    if (QWindow* window = window_.windowHandle()) {
        // The widget may already have the height while Qt's window holds the one of a window
        // manager's late answer, which a move alone would ask for again.
        window->resize(client.size());
        // The frame's place, which the window manager keeps whatever the frame turns out to be.
        window->setFramePosition(outer.topLeft());
    } else {
        window_.move(outer.topLeft());
    }
    setting_height_ = false;

    // The height as the window got it, at the place asked for: the buttons stay exactly as long
    // as rows below the window remain to be brought into view.
    fitted_(rest_of_chart_in_view(chart_end, QRect(client.topLeft(), window_.size()),
                                  window_.screen()->availableGeometry()));
}

bool HeightFit::framed_since_fit() const {
    return chart_end_ && frame_margins(window_) != margins_;
}

void HeightFit::refit_when_framed() {
    if (!framed_since_fit())
        return;
    QMetaObject::invokeMethod(
        &window_,
        [this] {
            if (window_.isVisible() && framed_since_fit())
                fit(*chart_end_);
        },
        Qt::QueuedConnection);
}

} // namespace kelvor::monthwindow
