#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace kelvor::platform {
class Clock;
class SettingsStore;
} // namespace kelvor::platform

namespace kelvor::session {

// The usage report: the stored figures brought up to date with the running session, as the
// 18 lines the bar shows on a right press. Building it saves the running session's seconds
// ("recupered_time", one write) before anything is read; no other value is written.
// Lines are joined by a single line feed, with none after the last.
QString usage_report_text(platform::SettingsStore& store, const platform::Clock& clock,
                          const QDateTime& time_deb, qint32 last_session_duration,
                          const QString& last_session_suffix, const QLocale& locale = QLocale());

// The share of finished sessions that crashed, in percent truncated to one decimal
// ("33.3"); "???" without a crashed session or a finished one.
QString crash_ratio_text(qint32 nb_session, qint32 nb_session_crashed,
                         const QString& decimal_point);

// The share of the time since midnight of the first day of use spent in sessions, in percent
// truncated to three decimals ("4.166"); "???" when no time has passed since then.
QString usage_ratio_text(qint32 total_seconds, qint32 seconds_since_first_use,
                         const QString& decimal_point);

// Seconds from midnight of the day `first_time_run` names to `now`; 0 when it names no day
// (never written, or edited by hand).
qint32 seconds_since_first_use(const QString& first_time_run, const QDateTime& now);

// `scaled` / 10^`decimals` in general number form: no grouping, no trailing zeros, and no
// decimal point for a whole value. Exact, with no floating point on the way.
QString general_number_text(qint64 scaled, int decimals, const QString& decimal_point);

} // namespace kelvor::session
