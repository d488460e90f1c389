// The month window's full drawing: both charts of 120 and of 1200 recorded months, 9600 twips
// wide, into the window's persistent picture, against the least any drawing of those charts
// must do: QPainter filling the same bar rectangles with fillRect on the same picture.
//
//   bench_chart <folder> [--repetitions N]
//
// Prints one line per history length: medians in milliseconds and their ratio, and for
// information the very first drawing of the process (fonts and glyph caches cold), the store
// reads alone, and a second floor that also draws the same texts where they can be seen
// (what the toolkit needs for the picture, text shaping included).
#include "bench_common.h"
#include "monthwindow/chart_canvas.h"
#include "monthwindow/chart_geometry.h"
#include "monthwindow/month_chart.h"
#include "platform/clock.h"
#include "platform/sqlite_store.h"
#include "platform/twips.h"
#include "session/month_chart_figures.h"
#include "session/store_names.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <vector>

using namespace kelvor;

namespace {

constexpr int window_width_twips = 9600;
// A window whose height is fitted to a long history takes the usable screen's height;
// a 1024-pixel screen less a panel is taken as that.
constexpr int picture_height_pixels = 1000;

struct Bar {
    QRectF rect;
    QColor colour;
};

// The bar rectangles the chart draws, in pixels: per chart, its legend row, then per month a
// light-blue bar for the value and a light-red one for the overlay, 4 mm high, each ending
// with the line at its last quarter millimetre.
std::vector<Bar> bar_rectangles(platform::SettingsStore& store) {
    namespace names = session::names;
    const double px = platform::pixels_per_millimetre;
    const double window_mm = double(window_width_twips) / platform::twips_per_millimetre;
    const int right_edge = int(std::ceil(window_mm));
    std::vector<Bar> bars;
    int y = 1;
    for (const auto& [rows_section, overlay_section] :
         {std::pair{names::month_nb_session, names::month_nb_crash},
          std::pair{names::month_nb_time, names::month_longest}}) {
        const auto rows = session::read_month_chart_rows(store, rows_section, overlay_section);
        y += 4;
        const auto scale =
            monthwindow::chart_scale(window_mm - 10, session::chart_maximum(rows)).value_or(0);
        int top = y;
        for (const auto& row : rows) {
            for (const auto& [value, colour] : {std::pair{row.value, QColor(0, 0, 255)},
                                                std::pair{row.overlay, QColor(255, 0, 0)}}) {
                const int end = monthwindow::bar_end(scale, value, right_edge);
                if (end >= 10)
                    bars.push_back(
                        {QRectF(10 * px, top * px, (end - 10) * px + 1, 4 * px + 1), colour});
            }
            top += 4;
        }
        y += 4 * (int(rows.size()) + 1);
    }
    return bars;
}

// Keeps the texts a drawing prints, to replay them in the second floor.
class TextRecorder final : public monthwindow::ChartCanvas {
public:
    struct Text {
        QPointF at_mm;
        QString text;
        QColor colour;
    };
    void clear() override {}
    void set_font(const QString& family, double points) override {
        font = monthwindow::chart_font(family, points);
    }
    void set_colour(monthwindow::PaletteColour colour) override {
        colour_ = monthwindow::rgb(colour);
    }
    void print(double x, double y, const QString& text) override {
        texts.push_back({QPointF(x, y), text, colour_});
    }
    void lines(std::span<const QLineF>) override {}

    QFont font;
    std::vector<Text> texts;

private:
    QColor colour_;
};

// A copy of the store made by SQLite itself (the -wal included); without the index by
// section, as the first release kept it, when `with_index` is false.
QString store_copy(const QString& path, bool with_index) {
    const QString copy = path + (with_index ? "-indexed" : "-first-format");
    QFile::remove(copy);
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const QByteArray into = "VACUUM INTO '" + QFile::encodeName(copy) + "'";
    sqlite3_exec(db, into.constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (!with_index) {
        sqlite3_open(QFile::encodeName(copy).constData(), &db);
        sqlite3_exec(db,
                     "DROP INDEX settings_by_section; DROP TABLE sessions; DROP TABLE days; "
                     "PRAGMA user_version = 1",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    return copy;
}

// Median milliseconds of the chart's store reads (both charts' rows) on a store opened for
// reading only, as another copy of Kelvor would, so that neither side is changed.
double chart_reads_ms(const QString& path, int repetitions) {
    namespace names = session::names;
    platform::SqliteStore store(path, platform::SqliteStore::Access::read_only);
    std::vector<double> times;
    for (int i = 0; i < repetitions + 1; ++i) {
        const double ms =
            bench::time_us([&] {
                session::read_month_chart_rows(store, names::month_nb_session,
                                               names::month_nb_crash);
                session::read_month_chart_rows(store, names::month_nb_time, names::month_longest);
            }) /
            1000;
        if (i > 0)
            times.push_back(ms);
    }
    return bench::median(times);
}

QImage fresh_picture() {
    QImage picture(platform::twips_to_pixels(window_width_twips), picture_height_pixels,
                   QImage::Format_RGB32);
    return picture;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench_chart <folder> [--repetitions N]\n", stderr);
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int repetitions = argc >= 4 ? std::atoi(argv[3]) : 15;
    QDir().mkpath(folder);
    const QColor background(240, 240, 240);
    bool cold = true;

    for (const int months : {120, 1200}) {
        const QString path = folder + QStringLiteral("/months-%1.sqlite3").arg(months);
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        platform::SettableClock clock(QDateTime(QDate(2024, 3, 25), QTime(9, 0, 0)));
        platform::SqliteStore store(path);
        bench::seed_history(store, clock, months);
        const std::vector<Bar> bars = bar_rectangles(store);

        QImage ours_picture = fresh_picture();
        QImage bare_picture = fresh_picture();
        const auto ours = [&] {
            monthwindow::PainterCanvas canvas(ours_picture, background);
            monthwindow::draw_month_charts(canvas, store, clock, window_width_twips, 0);
        };
        const auto bare = [&] {
            QPainter painter(&bare_picture);
            painter.fillRect(bare_picture.rect(), background);
            for (const Bar& bar : bars)
                painter.fillRect(bar.rect, bar.colour);
        };
        TextRecorder recorder;
        monthwindow::draw_month_charts(recorder, store, clock, window_width_twips, 0);
        const auto bare_with_texts = [&] {
            QPainter painter(&bare_picture);
            painter.fillRect(bare_picture.rect(), background);
            for (const Bar& bar : bars)
                painter.fillRect(bar.rect, bar.colour);
            painter.setFont(recorder.font);
            const QFontMetricsF metrics(recorder.font, &bare_picture);
            for (const auto& t : recorder.texts) {
                const QPointF top_left = t.at_mm * platform::pixels_per_millimetre;
                if (top_left.y() > picture_height_pixels || top_left.y() + metrics.height() < 0)
                    continue;
                painter.setPen(t.colour);
                painter.drawText(top_left + QPointF(0, metrics.ascent()), t.text);
            }
        };
        const auto store_reads = [&] {
            namespace names = session::names;
            session::read_month_chart_rows(store, names::month_nb_session, names::month_nb_crash);
            session::read_month_chart_rows(store, names::month_nb_time, names::month_longest);
        };
        double first_ms = -1;
        if (cold) {
            first_ms = bench::time_us(ours) / 1000;
            cold = false;
        }
        ours();
        bare();
        bare_with_texts();
        std::vector<double> ours_ms, bare_ms, texts_ms, store_ms;
        for (int i = 0; i < repetitions; ++i) {
            if (i % 2 == 0) {
                ours_ms.push_back(bench::time_us(ours) / 1000);
                bare_ms.push_back(bench::time_us(bare) / 1000);
            } else {
                bare_ms.push_back(bench::time_us(bare) / 1000);
                ours_ms.push_back(bench::time_us(ours) / 1000);
            }
            texts_ms.push_back(bench::time_us(bare_with_texts) / 1000);
            store_ms.push_back(bench::time_us(store_reads) / 1000);
        }
        const double o = bench::median(ours_ms);
        const double b = bench::median(bare_ms);
        const double indexed = chart_reads_ms(store_copy(path, true), repetitions);
        const double plain = chart_reads_ms(store_copy(path, false), repetitions);
        std::printf("chart months=%d ours_ms=%.3f bare_ms=%.3f ratio=%.2f texts_ms=%.3f "
                    "store_ms=%.3f bars=%zu cold_ms=%.3f indexed_ms=%.3f unindexed_ms=%.3f\n",
                    months, o, b, o / b, bench::median(texts_ms), bench::median(store_ms),
                    bars.size(), first_ms, indexed, plain);
        std::fflush(stdout);
    }
    return 0;
}
