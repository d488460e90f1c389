#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvor::platform {
class Clock;
class SettingsStore;
} // namespace kelvor::platform

namespace kelvor::session {

class SessionTracker;

// The usage report of the running session, as the 18 lines the bar shows on a right press.
// It first saves the session's seconds ("recupered_time", its one write), as a timer tick
// does, so that what the user sees is also what a crash would keep.
QString usage_report_text(SessionTracker& session, const QLocale& locale = QLocale());

// The report's text: the stored figures brought up to date with a running session of
// `session_seconds`. Reads only. Lines are joined by a single line feed, with none after the
// last.
QString usage_report_text(platform::SettingsStore& store, const platform::Clock& clock,
                          qint32 session_seconds, qint32 last_session_duration,
                          const QString& last_session_suffix, const QLocale& locale = QLocale());

// Lines 4 to 16 of the report, the overall and month figures: those stored, brought up to date
// with a running session of `running_seconds` when one runs (its seconds in the times, itself
// in the month's sessions). Reads only.
QStringList usage_figure_lines(platform::SettingsStore& store, const platform::Clock& clock,
                               std::optional<qint32> running_seconds,
                               const QLocale& locale = QLocale());

// Line 1 of the report: "This session have: " and the running session's length.
QString running_session_line(qint32 session_seconds);

// The share of all finished sessions that crashed, as the report's "Crash ratio" line shows
// it: in percent truncated to one decimal ("33.3"); "???" without a crashed session or a
// finished one.
QString overall_crash_ratio_text(qint32 nb_session, qint32 nb_session_crashed,
                                 const QString& decimal_point);

// The share of the time since midnight of the first day of use spent in sessions, in percent
// truncated to three decimals ("4.166"); "???" when no time has passed since then.
QString usage_ratio_text(qint32 total_seconds, qint32 seconds_since_first_use,
                         const QString& decimal_point);

// Seconds from midnight of the day `first_time_run` names to `now`; 0 when it names no day
// (never written, or edited by hand).
qint32 seconds_since_first_use(const QString& first_time_run, const QDateTime& now);

} // namespace kelvor::session
