#include "barwindow/minute_count.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace kelvor {

namespace {

// Every digit before every other one, in 101 digits: a de Bruijn sequence, the words "a" and
// "ab" (b > a) in order, and the first digit again. Laid out as one line, it shows whether a
// digit's glyph or its advance depends on its neighbour (kerning, ligatures).
QString every_digit_pair() {
    QString pairs;
    for (char16_t first = u'0'; first <= u'9'; ++first) {
        pairs += QChar(first);
        for (char16_t second = first + 1; second <= u'9'; ++second) {
            pairs += QChar(first);
            pairs += QChar(second);
        }
    }
    return pairs + u'0';
}

bool only_digits(QStringView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

MinuteCount::MinuteCount(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Painted whole by paintEvent, which spares Qt a painter of its own for the background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A count is never rich text, and a new one need not be searched for tags.
    setTextFormat(Qt::PlainText);
}

bool MinuteCount::draws_prepared_digits() {
    if (!only_digits(text()) || alignment() != (Qt::AlignLeft | Qt::AlignVCenter) ||
        frameShape() != QFrame::NoFrame || margin() != 0 || indent() > 0 || wordWrap() ||
        !isEnabled())
        return false;
    if (prepared_for_ != devicePixelRatioF() * logicalDpiY())
        digits_ = Digits::unknown;
    if (digits_ == Digits::unknown)
        prepare_digits();
    return digits_ == Digits::prepared;
}

void MinuteCount::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // A plain colour fills by the paint engine's fast path; a brush sets up a span filler.
    const QBrush& background = palette().brush(backgroundRole());
    if (background.style() == Qt::SolidPattern)
        painter.fillRect(rect(), background.color());
    else
        painter.fillRect(rect(), background);
    // The digits are prepared once the first frame is on the screen: a start shows the bar
    // first.
    if (!shown_once_) {
        shown_once_ = true;
        QTimer::singleShot(0, this, [this] { draws_prepared_digits(); });
    } else if (draws_prepared_digits()) {
        draw_prepared(painter, contentsRect(), text());
        return;
    }
    painter.end();
    QLabel::paintEvent(event);
}

void MinuteCount::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        digits_ = Digits::unknown;
    QLabel::changeEvent(event);
}

void MinuteCount::prepare_digits() {
    digits_ = Digits::refused;
    prepared_for_ = devicePixelRatioF() * logicalDpiY();
    const QString pairs = every_digit_pair();
    QTextLayout layout(pairs, font(), this);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setPosition({0, 0});
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1 || runs.front().glyphIndexes().size() != pairs.size())
        return;
    const QList<quint32> glyphs = runs.front().glyphIndexes();
    const QList<QPointF> places = runs.front().positions();
    std::array<bool, 10> seen{};
    for (qsizetype i = 0; i + 1 < pairs.size(); ++i) {
        const int digit = pairs[i].unicode() - u'0';
        const qreal advance = places[i + 1].x() - places[i].x();
        if (places[i + 1].y() != places[0].y())
            return;
        if (!seen[digit]) {
            seen[digit] = true;
            glyph_[digit] = glyphs[i];
            advance_[digit] = advance;
        } else if (glyph_[digit] != glyphs[i] || advance_[digit] != advance) {
            return;
        }
    }
    if (glyphs.back() != glyph_[pairs.back().unicode() - u'0'])
        return;
    first_glyph_ = places[0];
    // Unlike QTextLine::height(), not rounded up: QPainter::drawText centres this height.
    line_height_ = line.ascent() + line.descent();
    run_ = QGlyphRun();
    run_.setRawFont(runs.front().rawFont());

    // The same pixels as QLabel's, or QLabel draws: a style may draw a label's text its own way.
    const QRect box(0, 0, int(std::ceil(line.naturalTextWidth())) + 2, height());
    const qreal ratio = devicePixelRatioF();
    const auto drawn = [&](auto draw) {
        QImage image(box.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
        image.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
        image.fill(palette().color(backgroundRole()));
        QPainter painter(&image);
        painter.setFont(font());
        draw(painter);
        return image;
    };
    const QImage prepared = drawn([&](QPainter& p) { draw_prepared(p, box, pairs); });
    const QImage as_label = drawn([&](QPainter& p) { draw_as_label(p, box, pairs); });
    if (prepared == as_label)
        digits_ = Digits::prepared;
}

void MinuteCount::draw_prepared(QPainter& painter, QRect box, QStringView text) {
    glyphs_.resize(text.size());
    places_.resize(text.size());
    qreal x = first_glyph_.x();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int digit = text[i].unicode() - u'0';
        glyphs_[i] = glyph_[digit];
        places_[i] = {x, first_glyph_.y()};
        x += advance_[digit];
    }
    run_.setRawData(glyphs_.data(), places_.data(), int(text.size()));
    // Centred in the box as QPainter::drawText centres a line, in the text layout's 1/64ths of
    // a pixel.
    const qreal top = std::round((box.height() - line_height_) / 2 * 64) / 64;
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    painter.drawGlyphRun(QPointF(box.x(), box.y() + top), run_);
}

void MinuteCount::draw_as_label(QPainter& painter, QRect box, const QString& text) const {
    style()->drawItemText(&painter, box, int(alignment()) | Qt::TextForceLeftToRight, palette(),
                          isEnabled(), text, foregroundRole());
}

} // namespace kelvor
