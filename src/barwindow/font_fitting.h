#pragma once

#include <QFont>
#include <QSize>
#include <QString>

namespace kelvor {

// The font for a text in a fixed box: `font` itself when the text fits, else the largest of its
// sizes, half a point (or a pixel) apart, at which it fits. The bar's labels have boxes laid
// out for a small font; the desktop's font is often larger, and a clipped minute count would
// read as a wrong number.
QFont font_fitting(QFont font, const QString& text, QSize box);

} // namespace kelvor
