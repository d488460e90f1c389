#include "monthwindow/month_chart.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

// Readable failures for recorded lines.
void PrintTo(const QLineF& line, std::ostream* out) {
    *out << "(" << line.x1() << ", " << line.y1() << ") - (" << line.x2() << ", " << line.y2()
         << ")";
}

using namespace kelvor::monthwindow;
using kelvor::testing::at;
using kelvor::testing::TempStore;

namespace {

// Keeps every call in millimetres, with the colour in force at the time.
class RecordingCanvas final : public ChartCanvas {
public:
    struct Text {
        double x, y;
        QString text;
        PaletteColour colour;
    };
    struct Lines {
        std::vector<QLineF> lines;
        PaletteColour colour;
    };

    void clear() override { ++clears; }
    void set_font(const QString& family, double points) override {
        font_family = family;
        font_points = points;
    }
    void set_colour(PaletteColour c) override { colour = c; }
    void print(double x, double y, const QString& text) override {
        EXPECT_GT(clears, 0) << "drew before clearing";
        texts.push_back({x, y, text, colour});
    }
    void lines(std::span<const QLineF> drawn) override {
        EXPECT_GT(clears, 0) << "drew before clearing";
        bars.push_back({{drawn.begin(), drawn.end()}, colour});
    }

    const Text* text_at(double x, double y) const {
        for (const Text& t : texts) {
            if (t.x == x && t.y == y)
                return &t;
        }
        return nullptr;
    }
    std::vector<const Text*> texts_at_y(double y) const {
        std::vector<const Text*> found;
        for (const Text& t : texts) {
            if (t.y == y)
                found.push_back(&t);
        }
        return found;
    }

    int clears = 0;
    QString font_family;
    double font_points = 0;
    PaletteColour colour = PaletteColour::black;
    std::vector<Text> texts;
    std::vector<Lines> bars;
};

struct Month {
    const char* key;
    const char* sessions;
    const char* crashes; // nullptr: no entry
    const char* seconds;
    const char* longest; // nullptr: no entry
};

void record(kelvor::platform::SettingsStore& store, const std::vector<Month>& months) {
    for (const Month& m : months) {
        store.write("Month_nb_session", m.key, m.sessions);
        store.write("Month_nb_time", m.key, m.seconds);
        if (m.crashes)
            store.write("Month_nb_crash", m.key, m.crashes);
        if (m.longest)
            store.write("Month_longest", m.key, m.longest);
    }
}

const QLocale english(QLocale::English, QLocale::UnitedStates);

struct ChartTest : ::testing::Test {
    TempStore temp;
    kelvor::platform::SettableClock clock{at(2000, 3, 25, 9, 0, 0)};
    RecordingCanvas canvas;

    int draw(int width_twips = 9600, int scroll_offset = 0) {
        return draw_month_charts(canvas, temp.store(), clock, width_twips, scroll_offset, english);
    }
};

// The x of each line of a bar, checked to be one vertical line every quarter millimetre.
void expect_bar(const RecordingCanvas::Lines& bar, PaletteColour colour, double x1, double x2,
                double y1, double y2) {
    EXPECT_EQ(bar.colour, colour);
    ASSERT_EQ(bar.lines.size(), std::size_t((x2 - x1) * 4 + 1));
    for (std::size_t i = 0; i < bar.lines.size(); ++i) {
        const QLineF& line = bar.lines[i];
        EXPECT_EQ(line, QLineF(x1 + 0.25 * double(i), y1, x1 + 0.25 * double(i), y2)) << i;
    }
}

} // namespace

TEST(DrawBar, QuarterMillimetreLinesInOneCall) {
    RecordingCanvas canvas;
    canvas.clears = 1;
    Draw_bar(canvas, 10, 5, 12, 9);
    ASSERT_EQ(canvas.bars.size(), 1u);
    expect_bar(canvas.bars[0], PaletteColour::black, 10, 12, 5, 9);

    Draw_bar(canvas, 10, 5, 10, 9); // one line when both ends meet
    ASSERT_EQ(canvas.bars.size(), 2u);
    expect_bar(canvas.bars[1], PaletteColour::black, 10, 10, 5, 9);

    Draw_bar(canvas, 10, 5, 9, 9); // nothing when the end lies left of the start
    EXPECT_EQ(canvas.bars.size(), 2u);
}

TEST_F(ChartTest, ThreeMonthsLayout) {
    record(temp.store(), {{"01/2000", "25", "3", "3600", "1800"},
                          {"02/2000", "10", nullptr, "1296000", "7200"},
                          {"03/2000", "2", nullptr, "600", nullptr}});
    EXPECT_EQ(draw(), 41);
    EXPECT_EQ(canvas.clears, 1);
    EXPECT_EQ(canvas.font_family, "MS Sans Serif");
    EXPECT_EQ(canvas.font_points, 6);

    // Legends: red, blue, then the black ratio heading, each at its own x.
    struct Legend {
        double x, y;
        const char* text;
        PaletteColour colour;
    };
    const std::vector<Legend> legends = {{10, 1, "Number of crashed session", PaletteColour::red},
                                         {48, 1, "Number of session", PaletteColour::blue},
                                         {76, 1, "(Crash ratio)", PaletteColour::black},
                                         {10, 21, "Longest session", PaletteColour::red},
                                         {46, 21, "Time used", PaletteColour::blue},
                                         {81, 21, "(Time-usage ratio)", PaletteColour::black}};
    for (const Legend& l : legends) {
        const auto* t = canvas.text_at(l.x, l.y);
        ASSERT_NE(t, nullptr) << l.text;
        EXPECT_EQ(t->text, l.text);
        EXPECT_EQ(t->colour, l.colour) << l.text;
    }

    // Rows 4 mm apart, a blank row between the charts; every row text in black.
    struct Row {
        double y;
        std::vector<std::pair<double, const char*>> texts;
    };
    const std::vector<Row> rows = {
        {5, {{1, "01/00: 3/25"}, {19, "   (12 %)"}}},
        {9, {{1, "02/00: 0/10"}, {19, ""}}},
        {13, {{1, "03/00: 0/2"}, {19, ""}}},
        {25, {{1, "01/00: 30 min 0 sec"}, {46, "1 h 0 min 0 sec"}, {81, "(0.1 %)"}}},
        {29, {{1, "02/00: 2 h 0 min 0 sec"}, {46, "15 day 0 h 0 min 0 sec"}, {81, "(50 %)"}}},
        // The running month: 600 s of the 24 days 9 hours since 1 March at midnight.
        {33, {{1, "03/00: 0 sec"}, {46, "10 min 0 sec"}, {81, "(0 %)"}}}};
    for (const Row& row : rows) {
        const auto found = canvas.texts_at_y(row.y);
        ASSERT_EQ(found.size(), row.texts.size()) << "row at y " << row.y;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i]->x, row.texts[i].first);
            EXPECT_EQ(found[i]->text, row.texts[i].second);
            EXPECT_EQ(found[i]->colour, PaletteColour::black);
        }
    }
    EXPECT_EQ(canvas.texts.size(), legends.size() + 2 * 3 + 3 * 3);

    // Each row: light blue, then light red over it; bars of rows touch (5-9, 9-13, 13-17).
    ASSERT_EQ(canvas.bars.size(), 12u);
    const double tops[] = {5, 9, 13, 25, 29, 33};
    for (int row = 0; row < 6; ++row) {
        const auto& blue = canvas.bars[std::size_t(2 * row)];
        const auto& red = canvas.bars[std::size_t(2 * row + 1)];
        EXPECT_EQ(blue.colour, PaletteColour::light_blue);
        EXPECT_EQ(red.colour, PaletteColour::light_red);
        for (const auto* bar : {&blue, &red}) {
            EXPECT_EQ(bar->lines.front().y1(), tops[row]);
            EXPECT_EQ(bar->lines.front().y2(), tops[row] + 4);
        }
    }
}

TEST_F(ChartTest, BarLengthsFollowTheLargestValue) {
    record(temp.store(),
           {{"01/2000", "25", "3", "2592000", "86400"}, {"02/2000", "0", nullptr, "0", nullptr}});
    draw(9600);
    ASSERT_EQ(canvas.bars.size(), 8u);
    // A = 150 mm, S = 150 / 26: 25 sessions reach 154 mm, 3 crashes 27 mm.
    expect_bar(canvas.bars[0], PaletteColour::light_blue, 10, 154, 5, 9);
    expect_bar(canvas.bars[1], PaletteColour::light_red, 10, 27, 5, 9);
    // A month of nothing still draws one line at the left edge, for both values.
    expect_bar(canvas.bars[2], PaletteColour::light_blue, 10, 10, 9, 13);
    expect_bar(canvas.bars[3], PaletteColour::light_red, 10, 10, 9, 13);
    // Chart 2, first row at y 21: a full month of use reaches the window's edge; a day is 5 mm.
    expect_bar(canvas.bars[4], PaletteColour::light_blue, 10, 160, 21, 25);
    expect_bar(canvas.bars[5], PaletteColour::light_red, 10, 15, 21, 25);

    // A wider window scales the bars with it.
    canvas = {};
    draw(19200); // A = 310 mm
    expect_bar(canvas.bars[0], PaletteColour::light_blue, 10, 308, 5, 9);
}

TEST_F(ChartTest, NegativeTimeDrawsNoBlueBarAndAnAllNegativeChartNoBarsAtAll) {
    record(temp.store(), {{"01/2000", "2", nullptr, "-300", "120"}});
    EXPECT_EQ(draw(), 1 + 4 + 8 + 4 + 8);
    // Chart 1 has its two bars; chart 2, all negative, has none, but keeps its texts.
    ASSERT_EQ(canvas.bars.size(), 2u);
    EXPECT_EQ(canvas.text_at(81, 17)->text, "(0 %)");
    EXPECT_EQ(canvas.text_at(46, 17)->text, "0 sec");

    // One month below zero among others: its blue bar is simply absent.
    record(temp.store(), {{"02/2000", "1", nullptr, "3600", "3600"}});
    canvas = {};
    draw();
    ASSERT_EQ(canvas.bars.size(), 2u * 2 + 3);
    EXPECT_EQ(canvas.bars[4].colour, PaletteColour::light_red); // month 1: red only
    EXPECT_EQ(canvas.bars[5].colour, PaletteColour::light_blue);
}

TEST_F(ChartTest, LongestAboveTheMonthsTotalStopsAtTheWindowEdge) {
    // The clock went back during a session: the month's total fell below its longest.
    record(temp.store(), {{"01/2000", "2", nullptr, "60", "2000000000"}});
    draw(9600);
    ASSERT_EQ(canvas.bars.size(), 4u);
    expect_bar(canvas.bars[3], PaletteColour::light_red, 10, 160, 17, 21);
}

TEST_F(ChartTest, ScrollOffsetShiftsEverything) {
    record(temp.store(), {{"01/2000", "25", "3", "3600", "1800"}});
    EXPECT_EQ(draw(9600, -70), 1 - 70 + 4 + 8 + 4 + 8);
    EXPECT_EQ(canvas.text_at(10, -69)->text, "Number of crashed session");
    EXPECT_EQ(canvas.text_at(1, -65)->text, "01/00: 3/25");
    EXPECT_EQ(canvas.bars[0].lines.front().y1(), -65);
    EXPECT_EQ(canvas.text_at(10, -57)->text, "Longest session");
}

TEST_F(ChartTest, VanishedSectionsDrawEmptyCharts) {
    // Nothing at all: both legends, no rows.
    EXPECT_EQ(draw(), 1 + 4 + 4 + 4 + 4);
    EXPECT_TRUE(canvas.bars.empty());
    EXPECT_EQ(canvas.texts.size(), 6u);

    // Sessions without times (the time section was removed from outside).
    temp.store().write("Month_nb_session", "01/2000", "3");
    canvas = {};
    EXPECT_EQ(draw(), 1 + 4 + 8 + 4 + 4);
    EXPECT_EQ(canvas.bars.size(), 2u);
}

TEST_F(ChartTest, RowsFollowTheStoreOrderAndManyMonthsAllGetARow) {
    for (int i = 0; i < 40; ++i) {
        const QDate month = QDate(1998, 12, 1).addMonths(i);
        const QString key = month.toString("MM/yyyy");
        temp.store().write("Month_nb_session", key, QString::number(i + 1));
        temp.store().write("Month_nb_time", key, QString::number(3600 * (i + 1)));
    }
    EXPECT_EQ(draw(), 1 + 4 + 4 * 41 + 4 + 4 * 41);
    EXPECT_EQ(canvas.text_at(1, 5)->text, "12/1998: 0/1");
    EXPECT_EQ(canvas.text_at(1, 9)->text, "01/1999: 0/2");
    EXPECT_EQ(canvas.text_at(1, 9 + 4 * 12)->text.left(5), "01/00");
}
