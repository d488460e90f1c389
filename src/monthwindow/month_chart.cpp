#include "monthwindow/month_chart.h"

#include "monthwindow/chart_geometry.h"
#include "platform/clock.h"
#include "platform/twips.h"
#include "session/dates.h"
#include "session/duration_text.h"
#include "session/month_chart_figures.h"
#include "session/store_names.h"

#include <cmath>
#include <vector>

namespace kelvor::monthwindow {

namespace {

using session::MonthChartRow;

// Where the texts of a row start, in millimetres.
constexpr double row_text_x = 1;
constexpr double time_used_text_x = 46;
constexpr double crash_ratio_x = 19;
constexpr double time_usage_ratio_x = 81;

const QString font_family = QStringLiteral("MS Sans Serif");
constexpr double font_points = 6;

struct Legend {
    QString text;
    double x;
};

// What differs between the two charts, besides the texts of a row.
struct ChartDesign {
    const QString& row_section;
    const QString& overlay_section;
    Legend overlay_legend; // light-red bars, legend in red
    Legend row_legend;     // light-blue bars, legend in blue
    Legend ratio_heading;
};

const ChartDesign sessions_chart{session::names::month_nb_session,
                                 session::names::month_nb_crash,
                                 {QStringLiteral("Number of crashed session"), 10},
                                 {QStringLiteral("Number of session"), 48},
                                 {QStringLiteral("(Crash ratio)"), 76}};

const ChartDesign time_chart{session::names::month_nb_time,
                             session::names::month_longest,
                             {QStringLiteral("Longest session"), 10},
                             {QStringLiteral("Time used"), 46},
                             {QStringLiteral("(Time-usage ratio)"), 81}};

void print_legend(ChartCanvas& canvas, const ChartDesign& design, int y) {
    canvas.set_colour(PaletteColour::red);
    canvas.print(design.overlay_legend.x, y, design.overlay_legend.text);
    canvas.set_colour(PaletteColour::blue);
    canvas.print(design.row_legend.x, y, design.row_legend.text);
    canvas.set_colour(PaletteColour::black);
    canvas.print(design.ratio_heading.x, y, design.ratio_heading.text);
}

// "01/00: 3/25", then the crash ratio.
void print_sessions_row(ChartCanvas& canvas, const MonthChartRow& row, int y,
                        const QLocale& locale) {
    canvas.print(row_text_x, y,
                 session::Short_month_label(row.key) + QStringLiteral(": ") +
                     QString::number(row.overlay) + QLatin1Char('/') + row.stored_value);
    canvas.print(crash_ratio_x, y, session::month_crash_ratio_text(row.overlay, row.value, locale));
}

struct RunningMonth {
    QString key;
    QDateTime now;
};

// The longest session, the time used, then the time-usage ratio.
void print_time_row(ChartCanvas& canvas, const MonthChartRow& row, int y,
                    const RunningMonth& running, const QLocale& locale) {
    canvas.print(row_text_x, y,
                 session::Short_month_label(row.key) + QStringLiteral(": ") +
                     session::affiche_secondes(row.overlay));
    canvas.print(time_used_text_x, y, session::affiche_secondes(row.value));
    const qint64 month_seconds = session::month_length_seconds(row.key, running.key, running.now);
    canvas.print(time_usage_ratio_x, y,
                 session::time_usage_ratio_text(row.value, month_seconds, locale));
}

// One chart from `y`: legend, bars, then the texts over the bars' left part. Returns the y
// below its blank closing row.
template <typename PrintRow>
int draw_chart(ChartCanvas& canvas, const std::vector<MonthChartRow>& rows,
               const ChartDesign& design, int y, double chart_width, int right_edge,
               PrintRow&& print_row) {
    print_legend(canvas, design, y);
    y += legend_height;
    canvas.set_colour(PaletteColour::black);

    // A chart whose values are all negative has no scale: its rows keep their texts only.
    if (const std::optional<double> scale =
            chart_scale(chart_width, session::chart_maximum(rows))) {
        int top = y;
        for (const MonthChartRow& row : rows) {
            if (!canvas.shows(top, top + row_height)) {
                top += row_height;
                continue;
            }
            canvas.set_colour(PaletteColour::light_blue);
            Draw_bar(canvas, bar_left, top, bar_end(*scale, row.value, right_edge),
                     top + row_height);
            canvas.set_colour(PaletteColour::light_red);
            Draw_bar(canvas, bar_left, top, bar_end(*scale, row.overlay, right_edge),
                     top + row_height);
            top += row_height;
        }
    }

    canvas.set_colour(PaletteColour::black);
    int top = y;
    for (const MonthChartRow& row : rows) {
        if (canvas.shows(top, top + row_height))
            print_row(row, top);
        top += row_height;
    }
    return y + row_height * (int(rows.size()) + 1);
}

} // namespace

void Draw_bar(ChartCanvas& canvas, int x1, int y1, int x2, int y2) {
    if (x1 > x2)
        return;
    std::vector<QLineF> bar;
    bar.reserve(std::size_t(x2 - x1) * 4 + 1);
    // Quarter millimetres are exact in binary: the sum never drifts past x2.
    for (double x = x1; x <= x2; x += line_spacing)
        bar.emplace_back(x, y1, x, y2);
    canvas.lines(bar);
}

int draw_month_charts(ChartCanvas& canvas, platform::SettingsStore& store,
                      const platform::Clock& clock, int window_width_twips, int scroll_offset,
                      const QLocale& locale) {
    // The bars start 10 mm in and may reach the window's outer right edge.
    const double window_width_mm = double(window_width_twips) / platform::twips_per_millimetre;
    const double chart_width = window_width_mm - bar_left;
    const int right_edge = int(std::ceil(window_width_mm));

    canvas.set_font(font_family, font_points);
    canvas.set_colour(PaletteColour::black);
    canvas.clear();

    int y = scroll_offset + 1;
    y = draw_chart(
        canvas,
        session::read_month_chart_rows(store, sessions_chart.row_section,
                                       sessions_chart.overlay_section),
        sessions_chart, y, chart_width, right_edge,
        [&](const MonthChartRow& row, int top) { print_sessions_row(canvas, row, top, locale); });

    const RunningMonth running{session::Get_mois_et_an(clock), clock.now()};
    y = draw_chart(
        canvas,
        session::read_month_chart_rows(store, time_chart.row_section, time_chart.overlay_section),
        time_chart, y, chart_width, right_edge, [&](const MonthChartRow& row, int top) {
            print_time_row(canvas, row, top, running, locale);
        });
    return y;
}

} // namespace kelvor::monthwindow
