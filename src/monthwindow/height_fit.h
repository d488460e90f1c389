#pragma once

#include <QMargins>
#include <QRect>
#include <functional>
#include <optional>

class QWidget;

// The month window's height fit: the geometry in logical pixels of the desktop, pure so that
// every frame, screen and position can be tried without a window manager, and the fit of one
// opening, made again when the window manager frames the window after it.
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

// The window manager's frame around a window's client area, asked of the window itself: Qt's
// frame geometry of a widget is brought up to date only by the next move or resize.
QMargins frame_margins(const QWidget& window);

// The fit of one opening of `window`. The window manager frames a window only after it is
// first shown, and may change the frame later: the last fit is then made again with the frame
// as it now is.
class HeightFit {
public:
    // `fitted` hears after each fit whether every row left below the window's top can be seen.
    HeightFit(QWidget& window, std::function<void(bool rest_in_view)> fitted);

    // A new opening: nothing is fitted yet.
    void forget() { chart_end_.reset(); }
    // Fits the window's height and place to a chart that ends at `chart_end`.
    void fit(int chart_end);
    // Runs in the events that come with a new frame; the window's geometry changes after them,
    // so the fit is made again once the event loop runs.
    void refit_when_framed();

private:
    bool framed_since_fit() const;

    QWidget& window_;
    std::function<void(bool)> fitted_;
    bool setting_height_ = false;
    // The chart's end and the frame that the last fit of this opening counted.
    std::optional<int> chart_end_;
    QMargins margins_;
};

} // namespace kelvor::monthwindow
