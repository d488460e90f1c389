#include "session/dates.h"
#include "session/numbers.h"
#include "support/test_support.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace kelvor::session;
using kelvor::testing::at;
using kelvor::testing::TempStore;

TEST(NumberText, WholeAndRealForms) {
    EXPECT_EQ(whole_number_text(0), "0");
    EXPECT_EQ(whole_number_text(-3725), "-3725");
    const std::vector<std::pair<double, const char*>> reals = {
        {0, "0"},    {12, "12"}, {84210, "84210"}, {-120, "-120"}, {4294967294.0, "4294967294"},
        {2.5, "2.5"}};
    for (const auto& [value, text] : reals)
        EXPECT_EQ(real_number_text(value), QString::fromLatin1(text)) << value;
}

TEST(NumberText, ParsesOnlyPlainDecimalNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    // Below the least double, written out without an exponent.
    const std::string tiny = "0." + std::string(400, '0') + "1";
    const std::vector<std::pair<const char*, std::optional<double>>> table = {
        {"12", 12},
        {"-3", -3},
        {" 7 ", 7},
        {"+4", 4},
        {"1.5", 1.5},
        {"2e3", 2000},
        {"1e400", inf},
        {"-1e400", -inf},
        {"1e-400", 0},
        {tiny.c_str(), 0},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"NaN", std::nullopt},
        {"inf", std::nullopt},
        {"0x10", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
        {"-", std::nullopt},
        {"1 2", std::nullopt},
    };
    for (const auto& [text, expected] : table)
        EXPECT_EQ(parse_number(QString::fromLatin1(text)), expected) << text;
    EXPECT_EQ(parse_number(QString(10000, '9')), inf);
    EXPECT_EQ(parse_number(QString::fromUtf8("\xff\xfe\x31")), std::nullopt);
}

TEST(StoredNumbers, BadTextsReadAsDefaultAndHugeOnesClamp) {
    TempStore t;
    auto& s = t.store();
    // Longer than the 64 characters a window shows of a stored text.
    const std::string nines(100, '9');
    const std::string minus_nines = "-" + nines;
    const std::string padded = std::string(70, '0') + "12";
    const std::vector<std::tuple<const char*, double, qint32>> table = {
        // stored text, read_number with default 5, read_int32 with default 30
        {"abc", 5, 30},
        {"12abc", 5, 30},
        {"", 5, 30},
        {"-99999999999", -2147483648.0, std::numeric_limits<qint32>::min()},
        {"1e400", 2147483647.0, std::numeric_limits<qint32>::max()},
        {"2.5", 2.5, 2}, // halves go to even
        {"3.5", 3.5, 4},
        {" 7 ", 7, 7},
        {nines.c_str(), 2147483647.0, std::numeric_limits<qint32>::max()},
        {minus_nines.c_str(), -2147483648.0, std::numeric_limits<qint32>::min()},
        {padded.c_str(), 12, 12},
    };
    for (const auto& [text, number, int32] : table) {
        s.write("Stat", "x", QString::fromLatin1(text));
        EXPECT_EQ(read_number(s, "Stat", "x", 5), number) << text;
        EXPECT_EQ(read_int32(s, "Stat", "x", 30), int32) << text;
    }
    EXPECT_EQ(read_number(s, "Stat", "absent", 9999999), 9999999);
}

TEST(StoredNumbers, CountersAddAndStayWhole) {
    TempStore t;
    add_to_number(t.store(), "Stat", "nb_time_total", 3725);
    add_to_number(t.store(), "Stat", "nb_time_total", -25);
    EXPECT_EQ(t.get("Stat", "nb_time_total"), "3700");
    t.store().write("Stat", "nb_session", "garbage");
    add_to_number(t.store(), "Stat", "nb_session", 1);
    EXPECT_EQ(t.get("Stat", "nb_session"), "1");
}

TEST(Dates, DayFirstTextAndMonthKeyWhateverTheLocale) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    kelvor::platform::SettableClock clock(at(2000, 3, 25));
    EXPECT_EQ(date_text(QDate(2000, 3, 25)), "25/03/2000");
    EXPECT_EQ(Get_mois_et_an(clock), "03/2000");
    clock.set(at(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(Get_mois_et_an(clock), "12/1999");
    EXPECT_EQ(parse_date_text("01/02/2003"), QDate(2003, 2, 1));
    EXPECT_EQ(parse_date_text("vlim"), std::nullopt);
    EXPECT_EQ(parse_date_text("31/02/2003"), std::nullopt);
    EXPECT_EQ(month_key_start("02/2003"), at(2003, 2, 1, 0, 0, 0));
    EXPECT_EQ(month_key_start("13/2003"), std::nullopt);
    QLocale::setDefault(QLocale::c());
}

TEST(Dates, ElapsedSecondsAreSignedAndKeptIn32Bits) {
    EXPECT_EQ(elapsed_seconds(at(2000, 1, 1, 9), at(2000, 1, 1, 10)), 3600);
    EXPECT_EQ(elapsed_seconds(at(2000, 1, 1, 10), at(2000, 1, 1, 9)), -3600);
    EXPECT_EQ(elapsed_seconds(at(1900, 1, 1), at(2100, 1, 1)), std::numeric_limits<qint32>::max());
}
