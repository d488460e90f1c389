#include "barwindow/font_fitting.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace kelvor {

namespace {

bool fits(const QFont& font, const QString& text, QSize box) {
    const QFontMetricsF metrics(font);
    return metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height();
}

} // namespace

QFont font_fitting(QFont font, const QString& text, QSize box) {
    const bool in_points = font.pointSizeF() > 0;
    const qreal step = in_points ? 0.5 : 1;
    const qreal largest = in_points ? font.pointSizeF() : font.pixelSize();
    const qreal smallest = in_points ? 4 : 5;
    // Sizes largest - k * step for k = 0 .. last.
    const int last = std::max(0, int(std::floor((largest - smallest) / step)));
    const auto size_at = [&](int k) {
        const qreal size = largest - k * step;
        if (in_points)
            font.setPointSizeF(size);
        else
            font.setPixelSize(int(size));
    };
    const auto fits_at = [&](int k) {
        size_at(k);
        return fits(font, text, box);
    };
    if (!fits_at(0) && last > 0) {
        // Every size tried loads a font engine, the dearest part of a start; text grows about
        // in proportion to its size, so the search starts where the proportion says and moves
        // by single steps only to correct the guess.
        const QFontMetricsF metrics(font);
        const qreal advance = metrics.horizontalAdvance(text);
        qreal ratio = box.height() / metrics.height();
        if (advance > 0)
            ratio = std::min(ratio, box.width() / advance);
        int k = std::clamp(int(std::ceil(largest * (1 - ratio) / step)), 1, last);
        if (fits_at(k)) {
            while (k > 1 && fits_at(k - 1))
                --k;
        } else {
            while (k < last && !fits_at(k + 1))
                ++k;
            k = std::min(k + 1, last);
        }
        size_at(k);
    }
    // Every property counts as set, so a later change of the desktop's font reaches the label
    // only through a new fit.
    font.setResolveMask(QFont::AllPropertiesResolved);
    return font;
}

} // namespace kelvor
