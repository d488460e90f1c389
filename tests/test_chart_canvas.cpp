#include "monthwindow/chart_canvas.h"
#include "monthwindow/month_chart.h"
#include "platform/twips.h"
#include "support/test_support.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace kelvor::monthwindow;
using kelvor::platform::pixels_per_millimetre;
using kelvor::testing::at;
using kelvor::testing::TempStore;

namespace {

const QColor background(240, 240, 240);

QImage blank(int width, int height, double device_pixel_ratio = 1) {
    QImage picture(int(width * device_pixel_ratio), int(height * device_pixel_ratio),
                   QImage::Format_RGB32);
    picture.setDevicePixelRatio(device_pixel_ratio);
    picture.fill(background);
    return picture;
}

} // namespace

// The canvas fills a bar's abutting lines as one rectangle; the pixels must be those of
// drawing every line with the chart's pen, on any screen scale and wherever the bar lies.
TEST(PainterCanvas, ABarGivesThePixelsOfDrawingEveryLine) {
    struct Bar {
        int x1, x2, y1;
    };
    const Bar bars[] = {{10, 10, 5},    {10, 11, 9},   {10, 27, 13},
                        {10, 154, 250}, {11, 160, -2}, {10, 40, 248}};
    for (const double ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        for (const Bar& bar : bars) {
            SCOPED_TRACE(testing::Message() << "ratio " << ratio << ", bar " << bar.x1 << ".."
                                            << bar.x2 << " at " << bar.y1);
            QImage drawn = blank(640, 1000, ratio);
            {
                PainterCanvas canvas(drawn, background);
                canvas.set_colour(PaletteColour::light_red);
                Draw_bar(canvas, bar.x1, bar.y1, bar.x2, bar.y1 + 4);
            }
            QImage expected = blank(640, 1000, ratio);
            {
                QPainter painter(&expected);
                painter.scale(pixels_per_millimetre, pixels_per_millimetre);
                QPen pen(rgb(PaletteColour::light_red), ratio);
                pen.setCosmetic(true);
                pen.setCapStyle(Qt::FlatCap);
                painter.setPen(pen);
                for (double x = bar.x1; x <= bar.x2; x += 0.25)
                    painter.drawLine(QLineF(x, bar.y1, x, bar.y1 + 4));
            }
            EXPECT_TRUE(drawn == expected);
        }
    }
}

// Rows off the picture are skipped; the picture must be the part of the whole chart that it
// frames, at its top and bottom edges too, with texts and bars cut where they cross them.
TEST(PainterCanvas, ALongHistoryShowsExactlyThePartOfTheWholeChartInView) {
    TempStore temp;
    for (int i = 0; i < 150; ++i) {
        const QString key = QDate(1990, 1, 1).addMonths(i).toString("MM/yyyy");
        temp.store().write("Month_nb_session", key, QString::number(20 + i % 37));
        temp.store().write("Month_nb_crash", key, QString::number(i % 5));
        temp.store().write("Month_nb_time", key, QString::number(200000 + 3571 * (i % 61)));
        temp.store().write("Month_longest", key, QString::number(9000 + 977 * (i % 23)));
    }
    kelvor::platform::SettableClock clock(at(2003, 3, 25));
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const int width = 640;

    // Everything, from the first legend to the last row.
    QImage whole = blank(width, 1300 * 4);
    {
        PainterCanvas canvas(whole, background);
        ASSERT_LT(draw_month_charts(canvas, temp.store(), clock, 9600, 0, english), 1300);
    }
    for (const int shift : {0, 70, 333, 1000}) {
        for (const int height : {401, 1000}) {
            SCOPED_TRACE(testing::Message() << "shifted " << shift << " mm, " << height << " px");
            QImage view = blank(width, height);
            {
                PainterCanvas canvas(view, background);
                draw_month_charts(canvas, temp.store(), clock, 9600, -shift, english);
            }
            EXPECT_TRUE(view == whole.copy(0, int(shift * pixels_per_millimetre), width, height));
        }
    }
}

// The chart keeps its black texts: the window's colour behind them only where they read.
TEST(ChartBackground, TheWindowColourWhereBlackTextReadsOnItElseWhite) {
    const QColor white(255, 255, 255);
    struct Case {
        QColor window;
        QColor chart;
    };
    const Case cases[] = {
        {white, white},
        {QColor(0xf6, 0xf5, 0xf4), QColor(0xf6, 0xf5, 0xf4)}, // a light theme
        {QColor(0x75, 0x75, 0x75), QColor(0x75, 0x75, 0x75)}, // 4.56 : 1
        {QColor(0x74, 0x74, 0x74), white},                    // 4.49 : 1
        {QColor(0x2a, 0x82, 0xda), QColor(0x2a, 0x82, 0xda)}, // an accent blue, 5.3 : 1
        {QColor(0, 0, 255), white},                           // 2.4 : 1
        {QColor(0x3d, 0x3d, 0x3d), white},                    // dark themes
        {QColor(0x24, 0x24, 0x24), white},
        {QColor(0, 0, 0), white},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chart_background(c.window), c.chart) << c.window.name().toStdString();
}
