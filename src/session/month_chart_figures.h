#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <vector>

namespace kelvor::platform {
class SettingsStore;
}

namespace kelvor::session {

// One month of a month chart: the row value v (sessions, or seconds used) and the value drawn
// over it, u (crashed sessions, or the longest session).
struct MonthChartRow {
    QString key;
    QString stored_value; // v as stored, as the sessions chart prints it (see shown_text)
    qint32 value = 0;     // v
    qint32 overlay = 0;   // u, 0 when the month has no entry in the overlay section
};

// The months of `row_section` in first-recorded order, each with its value in
// `overlay_section`. A section with no month (also one emptied while a chart is open) gives no
// row; a value that is not a number reads as 0.
std::vector<MonthChartRow> read_month_chart_rows(platform::SettingsStore& store,
                                                 const QString& row_section,
                                                 const QString& overlay_section);

// "01/2000" is shown as "01/00"; a month of another century keeps its four digits. A key
// edited by hand is shown as shown_text shows a stored text.
QString Short_month_label(const QString& key);

// The largest row value, or -1 when every value is negative.
qint32 chart_maximum(const std::vector<MonthChartRow>& rows);

// The sessions chart's text beside a month's bars: "   (12 %)" for 3 crashed sessions out of
// the month's 25, in percent cut down to the tenth; empty without a crash or a session.
QString month_crash_ratio_text(qint32 crashed, qint32 sessions, const QLocale& locale = QLocale());

// The seconds a month's usage is measured against: 30 days, or for the running month the
// time since its first day at midnight.
qint64 month_length_seconds(const QString& key, const QString& current_key, const QDateTime& now);

// "(0.1 %)" for one hour of a 30-day month; "(0 %)" when nothing was used; "(??? %)" in the
// very first second of the running month, when there is nothing to measure against yet.
QString time_usage_ratio_text(qint32 seconds_used, qint64 month_seconds,
                              const QLocale& locale = QLocale());

} // namespace kelvor::session
