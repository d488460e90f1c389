#include "monthwindow/chart_canvas.h"

#include "platform/twips.h"

#include <QFontDatabase>
#include <QPen>

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

QFont chart_font(const QString& family, double points) {
    QFont font = QFontDatabase::hasFamily(family)
                     ? QFont(family)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
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
    ascent_ = QFontMetricsF(painter_.font(), &picture_).ascent();
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
    painter_.setWorldMatrixEnabled(false);
    painter_.drawText(QPointF(top_left.x(), top_left.y() + ascent_), text);
    painter_.setWorldMatrixEnabled(true);
}

void PainterCanvas::lines(std::span<const QLineF> lines) {
    painter_.drawLines(lines.data(), int(lines.size()));
}

} // namespace kelvor::monthwindow
