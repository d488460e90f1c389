#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QString>
#include <optional>
#include <span>

namespace kelvor::monthwindow {

// The colours of the standard 16-colour palette that the chart uses, by palette index.
enum class PaletteColour { black = 0, blue = 1, red = 4, light_blue = 9, light_red = 12 };
QColor rgb(PaletteColour colour);

// The chart's texts are black: it is drawn on the window's colour where black text reads on
// it (a contrast of at least 4.5 : 1, as for body text), else on white.
QColor chart_background(QColor window_colour);

// What the month chart draws on. Every coordinate is in millimetres from the top-left corner
// of the window's client area, y downwards: the chart's geometry reads as its design gives it,
// and tests record it exactly.
class ChartCanvas {
public:
    virtual ~ChartCanvas() = default;
    // Fills the whole picture with the window's background.
    virtual void clear() = 0;
    virtual void set_font(const QString& family, double points) = 0;
    // The colour of the texts and lines that follow.
    virtual void set_colour(PaletteColour colour) = 0;
    // Text with the top-left corner of its line at (x, y).
    virtual void print(double x, double y, const QString& text) = 0;
    // Straight lines, one pixel wide.
    virtual void lines(std::span<const QLineF> lines) = 0;
    // Whether anything drawn between heights `top` and `bottom` can be seen. A picture has the
    // height of the screen while a long history runs far below it; its rows cost nothing there.
    virtual bool shows(double top, double bottom) const {
        (void)top;
        (void)bottom;
        return true;
    }
};

// Paints into the window's persistent picture. The painter is scaled to millimetres once;
// texts keep the font's own size in points.
class PainterCanvas final : public ChartCanvas {
public:
    PainterCanvas(QImage& picture, QColor background);

    void clear() override;
    void set_font(const QString& family, double points) override;
    void set_colour(PaletteColour colour) override;
    void print(double x, double y, const QString& text) override;
    void lines(std::span<const QLineF> lines) override;
    bool shows(double top, double bottom) const override;

private:
    // The same test in logical pixels from the picture's top.
    bool shows_pixels(double top, double bottom) const;
    std::optional<QRectF> abutting_area(std::span<const QLineF> lines) const;

    QImage& picture_;
    QColor background_;
    QPainter painter_;
    double ascent_ = 0;
    double text_height_ = 0;
};

// The font the chart asks for, or the desktop's sans-serif face where that one is missing.
QFont chart_font(const QString& family, double points);

} // namespace kelvor::monthwindow
