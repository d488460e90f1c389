#include "monthwindow/chart_canvas.h"

#include "platform/twips.h"

#include <QFontDatabase>
#include <QHash>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace kelvor::monthwindow {

QColor rgb(PaletteColour colour) {
    switch (colour) {
    case PaletteColour::black:
        return {0, 0, 0};
    case PaletteColour::blue:
        return {0, 0, 128};
    case PaletteColour::red:
        return {128, 0, 0};
    case PaletteColour::light_blue:
        return {0, 0, 255};
    case PaletteColour::light_red:
        return {255, 0, 0};
    }
    return {0, 0, 0};
}

namespace {

// The relative luminance of a screen colour: 0 for black, 1 for white.
double relative_luminance(QColor colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

} // namespace

QColor chart_background(QColor window_colour) {
    constexpr double least_contrast = 4.5;
    const double contrast_with_black = (relative_luminance(window_colour) + 0.05) / 0.05;
    return contrast_with_black >= least_contrast ? window_colour : QColor(Qt::white);
}

QFont chart_font(const QString& family, double points) {
    // Asking fontconfig about a family it lacks costs about as much as drawing a dozen rows of
    // the chart, on every drawing; the answer does not change while the program runs.
    static QHash<QString, bool> installed;
    auto known = installed.constFind(family);
    if (known == installed.cend())
        known = installed.insert(family, QFontDatabase::hasFamily(family));
    QFont font = *known ? QFont(family) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    return font;
}

PainterCanvas::PainterCanvas(QImage& picture, QColor background)
    : picture_(picture), background_(background), painter_(&picture) {
    painter_.scale(platform::pixels_per_millimetre, platform::pixels_per_millimetre);
    set_colour(PaletteColour::black);
}

void PainterCanvas::clear() {
    painter_.save();
    painter_.resetTransform();
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.fillRect(QRectF(QPointF(0, 0), picture_.deviceIndependentSize()), background_);
    painter_.restore();
}

void PainterCanvas::set_font(const QString& family, double points) {
    painter_.setFont(chart_font(family, points));
    const QFontMetricsF metrics(painter_.font(), &picture_);
    ascent_ = metrics.ascent();
    text_height_ = metrics.height();
}

void PainterCanvas::set_colour(PaletteColour colour) {
    // One device pixel wide per logical pixel, so that lines a quarter millimetre apart fill
    // a bar without gaps on any screen; cosmetic pens take the fast line path.
    QPen pen(rgb(colour), picture_.devicePixelRatio());
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    painter_.setPen(pen);
}

void PainterCanvas::print(double x, double y, const QString& text) {
    // The glyphs are drawn at their own size in points, not scaled with the millimetres.
    const QPointF top_left = painter_.worldTransform().map(QPointF(x, y));
    // A glyph may reach a little beyond its line; a whole line's height of margin covers it.
    if (!shows_pixels(top_left.y() - text_height_, top_left.y() + 2 * text_height_))
        return;
    painter_.setWorldMatrixEnabled(false);
    painter_.drawText(QPointF(top_left.x(), top_left.y() + ascent_), text);
    painter_.setWorldMatrixEnabled(true);
}

void PainterCanvas::lines(std::span<const QLineF> lines) {
    if (lines.empty())
        return;
    if (const std::optional<QRectF> area = abutting_area(lines)) {
        const QRectF on_picture = painter_.worldTransform().mapRect(*area);
        if (shows_pixels(on_picture.top(), on_picture.bottom()))
            painter_.fillRect(*area, painter_.pen().color());
        return;
    }
    painter_.drawLines(lines.data(), int(lines.size()));
}

bool PainterCanvas::shows(double top, double bottom) const {
    // A text hangs below its top by a line's height, and a glyph may reach a little beyond
    // its line.
    const QTransform& to_pixels = painter_.worldTransform();
    return shows_pixels(to_pixels.map(QPointF(0, top)).y() - text_height_,
                        to_pixels.map(QPointF(0, bottom)).y() + 2 * text_height_);
}

bool PainterCanvas::shows_pixels(double top, double bottom) const {
    return bottom >= 0 && top < picture_.deviceIndependentSize().height();
}

// Vertical lines of one height, each one pen width (one logical pixel, a quarter millimetre)
// right of the one before, leave no gap: together they cover, pixel for pixel, the rectangle
// from half a pen left of the first to half a pen right of the last. A bar of the chart is up
// to 600 such lines; filling the rectangle costs what drawing one of them does.
std::optional<QRectF> PainterCanvas::abutting_area(std::span<const QLineF> lines) const {
    if (painter_.testRenderHint(QPainter::Antialiasing))
        return std::nullopt;
    const double pen_width = 1.0 / platform::pixels_per_millimetre;
    const QLineF& first = lines.front();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QLineF& line = lines[i];
        if (line.x1() != line.x2() || line.y1() != first.y1() || line.y2() != first.y2() ||
            line.x1() != first.x1() + double(i) * pen_width)
            return std::nullopt;
    }
    return QRectF(QPointF(first.x1() - pen_width / 2, std::min(first.y1(), first.y2())),
                  QPointF(lines.back().x1() + pen_width / 2, std::max(first.y1(), first.y2())));
}

} // namespace kelvor::monthwindow
