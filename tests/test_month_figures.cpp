#include "monthwindow/chart_geometry.h"
#include "session/month_chart_figures.h"
#include "session/numbers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kelvor::monthwindow;
using namespace kelvor::session;
using kelvor::testing::at;
using kelvor::testing::TempStore;

namespace {
const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);
} // namespace

TEST(MonthFigures, ShortMonthLabelShortensOnlyThisCentury) {
    const std::vector<std::pair<const char*, const char*>> table = {
        {"01/2000", "01/00"},
        {"11/2099", "11/99"},
        {"12/1999", "12/1999"},
        {"03/00", "03/00"},
        {"", ""},
        {"1/2000", "1/2000"},
        {"01/2000\n", "01/0 "},
        {"12/1999\u2028x\ty", "12/1999 x y"}};
    for (const auto& [key, label] : table)
        EXPECT_EQ(Short_month_label(key), QString::fromLatin1(label)) << key;
}

TEST(MonthFigures, CrashRatioCutsDownToTheTenth) {
    struct Case {
        qint32 crashed, sessions;
        const char* text;
    };
    const std::vector<Case> table = {{3, 25, "   (12 %)"},
                                     {1, 3, "   (33.3 %)"},
                                     {1, 7, "   (14.2 %)"},
                                     {25, 25, "   (100 %)"},
                                     {1, 2000, "   (0 %)"},
                                     {0, 25, ""},
                                     {3, 0, ""},
                                     {-1, 5, ""},
                                     {2147483647, 1, "   (214748364700 %)"}};
    for (const Case& c : table)
        EXPECT_EQ(month_crash_ratio_text(c.crashed, c.sessions, english),
                  QString::fromLatin1(c.text))
            << c.crashed << "/" << c.sessions;
}

TEST(MonthFigures, TimeUsageRatioOfAPastMonth) {
    const qint64 past = month_length_seconds("01/2000", "03/2000", at(2000, 3, 25));
    EXPECT_EQ(past, 2592000);
    const std::vector<std::pair<qint32, const char*>> table = {
        {3600, "(0.1 %)"}, {1296000, "(50 %)"}, {2592000, "(100 %)"},
        {0, "(0 %)"},      {-5000, "(0 %)"},    {1, "(0 %)"}};
    for (const auto& [seconds, text] : table)
        EXPECT_EQ(time_usage_ratio_text(seconds, past, english), QString::fromLatin1(text))
            << seconds;
}

TEST(MonthFigures, RunningMonthIsMeasuredFromItsFirstDayAtMidnight) {
    EXPECT_EQ(month_length_seconds("03/2000", "03/2000", at(2000, 3, 25, 9, 0, 0)),
              24 * 86400 + 9 * 3600);
    // Early in the month the same hour weighs more.
    const qint64 second_day = month_length_seconds("03/2000", "03/2000", at(2000, 3, 2, 0, 0, 0));
    EXPECT_EQ(second_day, 86400);
    EXPECT_EQ(time_usage_ratio_text(3600, second_day, english), "(4.1 %)");
    // In the month's very first second there is nothing to measure against.
    const qint64 first_second = month_length_seconds("03/2000", "03/2000", at(2000, 3, 1, 0, 0, 0));
    EXPECT_EQ(first_second, 0);
    EXPECT_EQ(time_usage_ratio_text(30, first_second, english), "(??? %)");
}

TEST(MonthFigures, RatiosUseTheUsersDecimalSeparator) {
    EXPECT_EQ(time_usage_ratio_text(3600, 2592000, german), "(0,1 %)");
    EXPECT_EQ(month_crash_ratio_text(1, 3, german), "   (33,3 %)");
    EXPECT_EQ(month_crash_ratio_text(3, 25, german), "   (12 %)");
    // never a thousands separator
    EXPECT_EQ(general_number_text(1234567, 1, german.decimalPoint()), "123456,7");
}

TEST(MonthFigures, ScaleAndBarEnds) {
    // 9600 twips: A = 150 mm, right edge at 160 mm.
    const double scale = *chart_scale(150, 25);
    EXPECT_DOUBLE_EQ(scale, 150.0 / 26);
    EXPECT_EQ(bar_end(scale, 25, 160), 154);
    EXPECT_EQ(bar_end(scale, 3, 160), 27);
    EXPECT_EQ(bar_end(scale, 0, 160), 10);
    EXPECT_LT(bar_end(scale, -1000, 160), 10);
    // Halves go to the even neighbour.
    EXPECT_EQ(bar_end(0.5, 1, 160), 10);
    EXPECT_EQ(bar_end(0.5, 3, 160), 12);
    // An overlay far above the chart's largest value stops at the window's edge.
    EXPECT_EQ(bar_end(scale, 2147483647, 160), 160);
    EXPECT_EQ(bar_end(*chart_scale(150, 0), 2147483647, 160), 160);

    EXPECT_DOUBLE_EQ(*chart_scale(150, 0), 150);
    EXPECT_FALSE(chart_scale(150, -1).has_value());
}

TEST(MonthFigures, MaximumIsMinusOneOnlyWhenEveryValueIsNegative) {
    EXPECT_EQ(chart_maximum({}), -1);
    EXPECT_EQ(chart_maximum({{"01/2000", "-5", -5, 0}, {"02/2000", "-1", -1, 0}}), -1);
    EXPECT_EQ(chart_maximum({{"01/2000", "-5", -5, 0}, {"02/2000", "0", 0, 0}}), 0);
    EXPECT_EQ(chart_maximum({{"01/2000", "25", 25, 0}, {"02/2000", "7", 7, 0}}), 25);
}

TEST(MonthFigures, RowsComeInFirstRecordedOrderWithTheirOverlay) {
    TempStore temp;
    auto& store = temp.store();
    store.write("Month_nb_session", "11/2000", "4");
    store.write("Month_nb_session", "12/2000", "25");
    store.write("Month_nb_session", "01/2001", "oops"); // edited by hand
    store.write("Month_nb_crash", "12/2000", "3");
    store.write("Month_nb_crash", "11/2000", "x");

    const auto rows = read_month_chart_rows(store, "Month_nb_session", "Month_nb_crash");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].key, "11/2000");
    EXPECT_EQ(rows[0].value, 4);
    EXPECT_EQ(rows[0].overlay, 0);
    EXPECT_EQ(rows[1].key, "12/2000");
    EXPECT_EQ(rows[1].stored_value, "25");
    EXPECT_EQ(rows[1].overlay, 3);
    EXPECT_EQ(rows[2].key, "01/2001");
    EXPECT_EQ(rows[2].stored_value, "oops");
    EXPECT_EQ(rows[2].value, 0);

    EXPECT_TRUE(read_month_chart_rows(store, "Month_nb_time", "Month_longest").empty());
}
