#include "monthwindow/frm_month_stat.h"
#include "platform/twips.h"
#include "support/test_support.h"

#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

using kelvor::frm_month_stat;
using kelvor::testing::Fixture;

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
