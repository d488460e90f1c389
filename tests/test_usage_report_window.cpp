#include "barwindow/frm_kelvor.h"
#include "support/expected_reports.h"
#include "support/test_support.h"

#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

using kelvor::frmKelvor;
using kelvor::testing::first_hour_report;
using kelvor::testing::Fixture;

namespace {

// The first hour of a new store's first session, 09:00 to 10:00.
struct FirstHour {
    Fixture f;
    frmKelvor bar{f.services()};
    FirstHour() {
        bar.Form_Load();
        f.clock.advance(3600);
    }
};

} // namespace

TEST(UsageReportBox, AsksTheBarsQuestionWithTheReport) {
    FirstHour run;
    run.bar.Affiche_stat();
    ASSERT_EQ(run.f.dialogs.shown.size(), 1u);
    const auto& box = run.f.dialogs.shown.front();
    EXPECT_TRUE(box.question); // Yes and No
    EXPECT_EQ(box.title, "Kelvor by Vorn/Quillet");
    EXPECT_EQ(box.owner, &run.bar);
    EXPECT_EQ(box.text.toStdString(), first_hour_report);
    EXPECT_EQ(run.f.temp.get("Stat", "recupered_time"), "3600");
}

TEST(UsageReportBox, NoClosesTheReportAndOpensNothing) {
    FirstHour run;
    run.f.dialogs.answer_yes = false;
    run.bar.Affiche_stat();
    EXPECT_EQ(run.f.dialogs.shown.size(), 1u);
}

// Yes runs the month-window opener. With no month recorded yet the opener answers with its
// message.
TEST(UsageReportBox, YesReachesTheMonthWindowOpener) {
    FirstHour run;
    run.f.dialogs.answer_yes = true;
    run.bar.Affiche_stat();
    ASSERT_EQ(run.f.dialogs.shown.size(), 2u);
    EXPECT_FALSE(run.f.dialogs.shown[1].question);
    EXPECT_EQ(run.f.dialogs.shown[1].text, "Sorry, there is not yet months graph");
    EXPECT_EQ(run.f.dialogs.shown[1].owner, &run.bar);
}

// A real right press on the bar shows the report.
TEST(UsageReportBox, RightPressShowsTheReport) {
    FirstHour run;
    run.bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.bar));
    QTest::mousePress(&run.bar, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(&run.bar, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    ASSERT_EQ(run.f.dialogs.shown.size(), 1u);
    EXPECT_EQ(run.f.dialogs.shown.front().text.toStdString(), first_hour_report);
}

TEST(UsageReportBox, AFailingStoreNeverEndsTheProgram) {
    FirstHour run;
    // Another program breaks the store under the running session.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(run.f.temp.path().toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "ALTER TABLE settings RENAME TO gone", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    run.bar.Affiche_stat();
    EXPECT_TRUE(run.f.dialogs.shown.empty());
    run.bar.Affiche_stat(); // and again: still nothing, still running
    EXPECT_TRUE(run.f.dialogs.shown.empty());
}
