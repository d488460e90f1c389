#include "barwindow/frm_kelvor.h"
#include "platform/dialogs.h"
#include "support/expected_reports.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
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

// The box the user sees: each report line whole on one line (never wrapped), the box inside
// the screen whatever the font's size (a large scale on a small screen scrolls inside it),
// No the answer to Enter and Yes to a click on Yes.
TEST(UsageReportBox, TheRealBoxShowsEachLineWholeInsideTheScreen) {
    const struct {
        const char* name;
        int point_size;
        bool enter; // Enter, else a click on Yes
        bool answer;
    } cases[] = {
        {"the desktop's font, Enter", 0, true, false},
        {"a font too large for the screen, a click on Yes", 60, false, true},
    };
    const QFont desktop_font = QApplication::font();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFont font = desktop_font;
        if (c.point_size > 0)
            font.setPointSize(c.point_size);
        QApplication::setFont(font);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
            auto* label = box->findChild<QLabel*>("text");
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text().toStdString(), first_hour_report);
            EXPECT_FALSE(label->wordWrap());
            int widest = 0;
            for (const QString& line : label->text().split('\n'))
                widest = std::max(widest, QFontMetrics(label->font()).horizontalAdvance(line));
            EXPECT_GE(label->width(), widest);
            // With the desktop's font the whole text is in view; a larger one scrolls.
            EXPECT_EQ(label->visibleRegion() == QRegion(label->rect()), c.point_size == 0);
            EXPECT_TRUE(box->screen()->availableGeometry().contains(box->frameGeometry()))
                << box->frameGeometry().width() << "x" << box->frameGeometry().height();
            checked = true;
            if (c.enter) {
                QTest::keyClick(box, Qt::Key_Return);
            } else {
                for (auto* button : box->findChildren<QPushButton*>()) {
                    if (button->text().contains("Yes"))
                        QTest::mouseClick(button, Qt::LeftButton);
                }
            }
        });
        kelvor::platform::QtDialogs dialogs;
        EXPECT_EQ(dialogs.ask_yes_no(nullptr, "Kelvor by Vorn/Quillet",
                                     QString::fromStdString(first_hour_report)),
                  c.answer);
        EXPECT_TRUE(checked);
    }
    QApplication::setFont(desktop_font);
}
