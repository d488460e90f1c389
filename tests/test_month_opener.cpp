#include "barwindow/frm_kelvor.h"
#include "monthwindow/frm_month_stat.h"
#include "support/test_support.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sqlite3.h>

using kelvor::frm_month_stat;
using kelvor::frmKelvor;
using kelvor::testing::Fixture;

namespace {

const QString sorry = QStringLiteral("Sorry, there is not yet months graph");

// Runs `inside` once the modal month window is up; closes it with a click on the chart.
struct WhileOpen {
    frm_month_stat* seen = nullptr;
    bool was_modal = false;
    int scroll_offset_seen = 1;

    void arm(frmKelvor& bar, std::function<void(frm_month_stat&)> inside = {}) {
        QTimer::singleShot(0, [this, &bar, inside] {
            auto* window = qobject_cast<frm_month_stat*>(QApplication::activeModalWidget());
            ASSERT_NE(window, nullptr) << "no modal month window";
            seen = window;
            was_modal = window->isModal() && window->isVisible() && window->parent() == &bar;
            scroll_offset_seen = window->scroll_offset;
            if (inside)
                inside(*window);
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(300, 60));
            if (window->isVisible()) {
                ADD_FAILURE() << "a click on the chart did not close the window";
                window->close();
            }
        });
    }
};

bool month_window_visible() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frm_month_stat*>(w) && w->isVisible())
            return true;
    }
    return false;
}

} // namespace

TEST(MonthOpener, WithoutAnyMonthSaysSoAndOpensNothing) {
    Fixture fx;
    frmKelvor bar(fx.services());
    bar.Affiche_month_stat_graphique();
    ASSERT_EQ(fx.dialogs.shown.size(), 1u);
    EXPECT_FALSE(fx.dialogs.shown[0].question);
    EXPECT_EQ(fx.dialogs.shown[0].title, ""); // the box shows the application's name
    EXPECT_EQ(fx.dialogs.shown[0].text, sorry);
    EXPECT_FALSE(month_window_visible());
    EXPECT_EQ(bar.findChild<frm_month_stat*>(), nullptr);
}

TEST(MonthOpener, ShowsTheWindowModallyUntilAClickClosesIt) {
    Fixture fx;
    for (int i = 0; i < 40; ++i) { // taller than the screen: Bou_down stays
        const QString key = QDate(1997, 1, 1).addMonths(i).toString("MM/yyyy");
        fx.temp.store().write("Month_nb_session", key, "2");
        fx.temp.store().write("Month_nb_time", key, "7200");
    }
    frmKelvor bar(fx.services());
    bar.show();

    WhileOpen first;
    first.arm(bar);
    bar.Affiche_month_stat_graphique(); // returns once the click closed the window
    ASSERT_NE(first.seen, nullptr);
    EXPECT_TRUE(first.was_modal);
    EXPECT_FALSE(month_window_visible());
    EXPECT_TRUE(fx.dialogs.shown.empty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // the bar takes input again

    // The same instance serves the next opening, loaded afresh.
    WhileOpen second;
    second.arm(bar, [](frm_month_stat& w) {
        QTest::mouseClick(w.Bou_down, Qt::LeftButton);
        EXPECT_EQ(w.scroll_offset, -70);
    });
    bar.Affiche_month_stat_graphique();
    EXPECT_EQ(second.seen, first.seen);
    EXPECT_EQ(second.scroll_offset_seen, 0);

    WhileOpen third;
    third.arm(bar);
    bar.Affiche_month_stat_graphique();
    EXPECT_EQ(third.scroll_offset_seen, 0);
    EXPECT_TRUE(fx.dialogs.shown.empty());
}

TEST(MonthOpener, AStoreThatCannotBeListedGetsTheSameMessage) {
    Fixture fx;
    fx.temp.store().write("Month_nb_session", "03/2000", "2");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(fx.temp.path().toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE settings RENAME TO gone", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    frmKelvor bar(fx.services());
    bar.Affiche_month_stat_graphique();
    ASSERT_EQ(fx.dialogs.shown.size(), 1u);
    EXPECT_EQ(fx.dialogs.shown[0].text, sorry);
    EXPECT_FALSE(month_window_visible());
}
