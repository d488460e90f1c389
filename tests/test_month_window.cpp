#include "monthwindow/chart_canvas.h"
#include "monthwindow/frm_month_stat.h"
#include "monthwindow/height_fit.h"
#include "platform/twips.h"
#include "support/test_support.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <sqlite3.h>

using kelvor::frm_month_stat;
using kelvor::testing::Fixture;

// Readable failure messages.
inline void PrintTo(QRect r, std::ostream* os) {
    *os << r.width() << 'x' << r.height() << " at (" << r.x() << ", " << r.y() << ')';
}

namespace {

constexpr int mm = 4; // logical pixels per millimetre of the chart

const QColor light_blue(0, 0, 255);
const QColor light_red(255, 0, 0);

void record_months(kelvor::platform::SettingsStore& store, int count, int first_sessions = 25) {
    for (int i = 0; i < count; ++i) {
        const QString key = QDate(1999, 1, 1).addMonths(i).toString("MM/yyyy");
        store.write("Month_nb_session", key, QString::number(i == 0 ? first_sessions : 10));
        store.write("Month_nb_time", key, QString::number(36000));
        if (i == 0)
            store.write("Month_nb_crash", key, "3");
        store.write("Month_longest", key, "3600");
    }
}

int outer_height_twips(const QWidget& w) {
    return int(kelvor::platform::pixels_to_twips(w.frameGeometry().height()));
}
int outer_width_twips(const QWidget& w) {
    return int(kelvor::platform::pixels_to_twips(w.frameGeometry().width()));
}

struct MonthWindowTest : ::testing::Test {
    Fixture fx;
    QWidget owner;
    std::unique_ptr<frm_month_stat> window;

    frm_month_stat& open() {
        if (!window)
            window = std::make_unique<frm_month_stat>(fx.services(), &owner);
        window->load();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    QColor pixel(int x_mm_quarters, int y_mm_quarters) {
        return window->grab().toImage().pixelColor(x_mm_quarters, y_mm_quarters);
    }
    bool buttons_visible() const {
        return window->Bou_down->isVisible() &&
               window->Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli
                   ->isVisible();
    }
    // Of the rows of a chart of `count` months (record_months), those whose middle lies inside
    // the window, and those of them that show their bar.
    std::pair<int, int> rows_inside_and_drawn(int count) {
        const QImage image = window->grab().toImage();
        int inside = 0;
        int drawn = 0;
        for (const int first_row : {5, 5 + 4 * count + 8}) {
            for (int i = 0; i < count; ++i) {
                const int middle = (first_row + 4 * i + 2) * mm;
                if (middle >= image.height())
                    continue;
                ++inside;
                const QColor bar = image.pixelColor(42, middle);
                drawn += bar == light_blue || bar == light_red;
            }
        }
        return {inside, drawn};
    }
    // The chart's background, in the blank row that ends the first chart.
    QColor chart_background_shown(int count) { return pixel(100 * mm, (5 + 4 * count + 2) * mm); }
    bool buttons_hidden() const {
        return window->Bou_down->isHidden() &&
               window->Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli
                   ->isHidden();
    }
};

} // namespace

TEST_F(MonthWindowTest, OpensWithItsLayoutAndFitsAThreeMonthChart) {
    record_months(fx.temp.store(), 3);
    auto& w = open();
    EXPECT_EQ(w.windowTitle(), "Kelvor - Month Stat");
    for (const int side : {16, 32}) {
        const QImage icon = w.windowIcon().pixmap(side).toImage();
        EXPECT_EQ(icon.size(), QSize(side, side));
        EXPECT_EQ(icon.pixelColor(side / 2, side / 2).alpha(), 255) << "icon " << side;
    }
    EXPECT_EQ(w.width(), 579); // 8685 twips
    // (41 + 2) mm of chart, and everything fits: both buttons are gone.
    EXPECT_EQ(outer_height_twips(w), 2580);
    EXPECT_TRUE(buttons_hidden());
    EXPECT_EQ(w.scroll_offset, 0);
    EXPECT_EQ(w.drawn_width, outer_width_twips(w));
    EXPECT_EQ(w.drawn_height, 2580);
}

TEST_F(MonthWindowTest, ButtonsAreStackedWithTheFocusButtonFirst) {
    record_months(fx.temp.store(), 40);
    auto& w = open();
    QPushButton* down = w.Bou_down;
    QPushButton* focus = w.Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli;
    EXPECT_EQ(down->text(), "v");
    EXPECT_EQ(focus->text(), "v");
    EXPECT_EQ(down->geometry(), QRect(0, 0, 13, 17)); // 195 x 255 twips
    EXPECT_EQ(focus->geometry(), down->geometry());
    EXPECT_EQ(w.childAt(5, 5), down); // Bou_down lies on top
    EXPECT_EQ(focus->nextInFocusChain(), down);
}

TEST_F(MonthWindowTest, ABarIsLightBlueWithLightRedOverIt) {
    record_months(fx.temp.store(), 1);
    open();
    // Row 1 spans y 5..9 mm; 3 of 25 sessions crashed: red to 27 mm, blue beyond.
    const int row = 7 * mm;
    EXPECT_EQ(pixel(20 * mm, row), light_red);
    EXPECT_EQ(pixel(26 * mm, row), light_red);
    EXPECT_EQ(pixel(40 * mm, row), light_blue);
    EXPECT_EQ(pixel(int(window->width()) - 20, row), light_blue);
    // Between the charts, the window background.
    EXPECT_EQ(pixel(100 * mm, 10 * mm), window->palette().color(QPalette::Base));
}

TEST_F(MonthWindowTest, ATallHistoryKeepsTheButtonsUntilBouDownBringsTheRestIntoView) {
    record_months(fx.temp.store(), 40);
    auto& w = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const int available = w.screen()->availableGeometry().height();
    // 337 mm of chart do not fit: the window stops at the screen's height, buttons stay.
    EXPECT_EQ(w.frameGeometry().height(), available);
    EXPECT_TRUE(buttons_visible());
    EXPECT_TRUE(w.Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->hasFocus());

    int clicks = 0;
    while (w.Bou_down->isVisible() && clicks < 10) {
        QTest::mouseClick(w.Bou_down, Qt::LeftButton);
        ++clicks;
        EXPECT_EQ(w.scroll_offset, -70 * clicks);
        // The focus goes back to the button underneath.
        if (w.Bou_down->isVisible()) {
            EXPECT_TRUE(
                w.Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->hasFocus());
        }
        EXPECT_EQ(w.drawn_width, outer_width_twips(w));
        EXPECT_EQ(w.drawn_height, outer_height_twips(w));
    }
    // The chart's last 337 - 70 x clicks mm (2 more of margin) fit the screen; one click less
    // did not.
    const int fitted_mm = 337 - 70 * clicks + 2;
    EXPECT_LE(fitted_mm * mm, available);
    EXPECT_GT((fitted_mm + 70) * mm, available);
    EXPECT_TRUE(buttons_hidden());
    EXPECT_EQ(outer_height_twips(w), fitted_mm * 60);

    // Reopening starts from the top again, buttons back.
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_FALSE(w.isVisible());
    open();
    EXPECT_EQ(w.scroll_offset, 0);
    EXPECT_TRUE(buttons_visible());
    EXPECT_EQ(pixel(26 * mm, 7 * mm), light_red); // first row of chart 1
}

TEST_F(MonthWindowTest, OnlyWideningOrGrowingRedraws) {
    record_months(fx.temp.store(), 3);
    auto& w = open();
    const int width = outer_width_twips(w);
    // A fourth month arrives in the store; the picture shows it only once redrawn.
    fx.temp.store().write("Month_nb_session", "12/2001", "25");
    const QPoint fourth_row(40 * mm, 19 * mm);
    ASSERT_NE(pixel(fourth_row.x(), fourth_row.y()), light_blue);

    w.resize(w.width(), w.height() - 40);
    QTest::qWait(20);
    EXPECT_NE(pixel(fourth_row.x(), fourth_row.y()), light_blue);
    EXPECT_EQ(w.drawn_width, width);
    EXPECT_EQ(w.drawn_height, outer_height_twips(w));
    EXPECT_TRUE(buttons_hidden());

    w.resize(w.width() - 30, w.height()); // narrower: a new scale
    QTest::qWait(20);
    EXPECT_EQ(pixel(fourth_row.x(), fourth_row.y()), light_blue);
    EXPECT_EQ(w.drawn_width, width - 30 * 15);
    // No height fit after a user resize.
    EXPECT_EQ(outer_height_twips(w), 2580 - 40 * 15);

    fx.temp.store().write("Month_nb_session", "01/2002", "25");
    const QPoint fifth_row(40 * mm, 23 * mm);
    w.resize(w.width(), w.height() + 100); // taller: redrawn
    QTest::qWait(20);
    EXPECT_EQ(pixel(fifth_row.x(), fifth_row.y()), light_blue);
    EXPECT_EQ(w.drawn_height, outer_height_twips(w));
}

TEST_F(MonthWindowTest, MonthsRemovedOrAStoreFailingWhileOpenNeverEndTheProgram) {
    record_months(fx.temp.store(), 3);
    auto& w = open();
    ASSERT_EQ(pixel(40 * mm, 7 * mm), light_blue);
    const auto change_store = [&](const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(fx.temp.path().toUtf8().constData(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };

    // Removed from outside: the next drawing is an empty chart.
    change_store("DELETE FROM settings WHERE section LIKE 'Month_%'");
    w.resize(w.width() + 20, w.height());
    QTest::qWait(20);
    EXPECT_NE(pixel(40 * mm, 7 * mm), light_blue);
    EXPECT_TRUE(w.isVisible());

    // A store that cannot be read at all: the window stays, its height untouched.
    change_store("ALTER TABLE settings RENAME TO gone");
    const int height = w.height();
    w.Bou_down_Click(); // a fit that cannot read the store
    w.resize(w.width() + 20, w.height());
    QTest::qWait(20);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.height(), height);
}

// However the window is shown, sized and exposed, and whatever the theme does meanwhile, every
// row inside the window is drawn, on the background the theme asks for.
TEST_F(MonthWindowTest, EveryRowInsideTheWindowIsDrawnWhateverTheOrderOfEvents) {
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
    struct Order {
        const char* name;
        std::function<void(frm_month_stat&)> steps;
    };
    const auto expose = [](frm_month_stat& w) { EXPECT_TRUE(QTest::qWaitForWindowExposed(&w)); };
    const Order orders[] = {
        {"shown, then exposed", [&](frm_month_stat& w) { w.show(), expose(w); }},
        {"drawn before it is shown",
         [&](frm_month_stat& w) { w.Form_Paint(), w.show(), expose(w); }},
        {"made taller before its first exposure",
         [&](frm_month_stat& w) { w.show(), w.resize(w.width(), w.height() + 150), expose(w); }},
        {"shrunk, then given its height back",
         [&](frm_month_stat& w) {
             w.show(), expose(w);
             const int height = w.height();
             w.resize(w.width(), 60), QTest::qWait(10), w.resize(w.width(), height);
         }},
        {"the theme turns dark once it is drawn",
         [&](frm_month_stat& w) {
             w.show(), expose(w), QApplication::setPalette(dark), QTest::qWait(10);
         }},
        {"drawn under a dark theme from the start",
         [&](frm_month_stat& w) { QApplication::setPalette(dark), w.show(), expose(w); }},
    };
    record_months(fx.temp.store(), 14);
    window = std::make_unique<frm_month_stat>(fx.services(), &owner);
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        window->load();
        order.steps(*window);
        QTest::qWait(10);
        const auto [inside, drawn] = rows_inside_and_drawn(14);
        EXPECT_EQ(inside, 28);
        EXPECT_EQ(drawn, 28);
        EXPECT_EQ(chart_background_shown(14), kelvor::monthwindow::chart_background(
                                                  QApplication::palette().color(QPalette::Base)));
        window->close();
        QApplication::setPalette(original);
    }
}

// The height fit on any frame, screen and place: the rows it leaves below the window's top
// can be seen once the buttons are gone, and the window lies on the screen.
TEST(HeightFit, CountsTheFrameAndKeepsTheWindowOnTheScreen) {
    using kelvor::monthwindow::fitted_frame;
    using kelvor::monthwindow::rest_of_chart_in_view;
    const QRect screen(0, 0, 1024, 768);
    const QMargins none;
    const QMargins openbox(1, 20, 1, 5);
    struct Fit {
        int chart_end;
        QRect frame;
        QMargins margins;
        QRect available;
        QRect fitted;
    };
    const Fit fits[] = {
        {41, {24, 100, 579, 386}, none, screen, {24, 100, 579, 172}},    // three months, unframed
        {41, {23, 100, 581, 411}, openbox, screen, {23, 100, 581, 172}}, // framed
        {41, {23, -20, 581, 197}, openbox, screen, {23, 0, 581, 172}},   // title bar off the top
        {41, {23, 100, 581, 411}, {1, 40, 1, 5}, screen, {23, 100, 581, 189}},     // a taller one
        {337, {23, 300, 581, 411}, openbox, screen, {23, 0, 581, 768}},            // forty months
        {337, {23, 0, 581, 411}, openbox, {0, 30, 1024, 738}, {23, 30, 581, 738}}, // top panel
        {129, {23, 500, 581, 411}, openbox, screen, {23, 244, 581, 524}},          // low down
    };
    for (const Fit& f : fits)
        EXPECT_EQ(fitted_frame(f.chart_end, f.frame, f.margins, f.available), f.fitted)
            << "row " << &f - fits;

    struct View {
        int chart_end;
        QRect client;
        bool in_view;
    };
    // The last row's lowest millimetre may be cut: its texts and bar ends lie above.
    const View views[] = {
        {41, {24, 20, 579, 147}, true},   // three months under openbox's frame
        {41, {24, 40, 579, 132}, false},  // under a taller title bar
        {197, {24, 20, 579, 743}, false}, // forty months after two clicks
        {127, {24, 20, 579, 743}, true},  // and after three
        {41, {24, 600, 579, 400}, true},  // partly below the screen
        {129, {24, 500, 579, 524}, false},
    };
    for (const View& v : views)
        EXPECT_EQ(rest_of_chart_in_view(v.chart_end, v.client, screen), v.in_view)
            << "row " << &v - views;
}

// The window never grows beyond the screens, even when something else than a window manager
// resizes it: a larger window shows nothing more, and would cost its whole size in memory.
TEST_F(MonthWindowTest, NeverLargerThanTheScreens) {
    record_months(fx.temp.store(), 3);
    auto& w = open();
    const QSize screen = w.screen()->virtualSize();
    EXPECT_EQ(w.maximumSize(), screen);
    w.windowHandle()->resize(32767, 32767);
    QTest::qWait(10);
    EXPECT_EQ(w.size(), screen);
}
