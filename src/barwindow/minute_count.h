#pragma once

#include <QGlyphRun>
#include <QLabel>
#include <array>
#include <vector>

namespace kelvor {

// The bar's minute count: a QLabel that draws its digits from glyphs laid out once per font.
// Every tick changes the count, and laying the new text out (shaping, glyph metrics from
// FreeType, a QTextLayout) cost more than all the rest of the tick's drawing. The digits are
// used only after a drawing of every digit next to every other one gave the very pixels of
// QLabel's own drawing; otherwise, and for any text that is not a count, QLabel draws. The
// count fills its own background: a new count repaints no other widget.
class MinuteCount : public QLabel {
public:
    MinuteCount(const QString& text, QWidget* parent);

    // True when the count is drawn from the prepared glyphs.
    bool draws_prepared_digits();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Digits { unknown, prepared, refused };
    void prepare_digits();
    void draw_prepared(QPainter& painter, QRect box, QStringView text);
    void draw_as_label(QPainter& painter, QRect box, const QString& text) const;

    Digits digits_ = Digits::unknown;
    bool shown_once_ = false;
    std::array<quint32, 10> glyph_{};
    std::array<qreal, 10> advance_{};
    QPointF first_glyph_; // the first glyph's place in the line: its left side and baseline
    qreal line_height_ = 0;
    qreal prepared_for_ = 0; // the pixel ratio times the dots per inch the digits were laid out for
    QGlyphRun run_;
    // The glyphs and places of the text drawn, kept from one drawing to the next.
    std::vector<quint32> glyphs_;
    std::vector<QPointF> places_;
};

} // namespace kelvor
