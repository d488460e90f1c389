#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>

namespace kelvor::platform {
class Clock;
}

namespace kelvor::session {

// Stored dates are always dd/MM/yyyy, whatever the user's locale, so that a month key keeps
// its meaning when the locale changes.
QString date_text(const QDate& day);
std::optional<QDate> parse_date_text(const QString& text);

// The month key of a day: its date text without the first three characters (MM/yyyy).
QString month_key(const QDate& day);
// The month key of today.
QString Get_mois_et_an(const platform::Clock& clock);
// Midnight of the first day of the month a key names; nullopt when the key is not MM/yyyy.
std::optional<QDateTime> month_key_start(const QString& key);

// ISO 8601 with the UTC offset of that moment, "2026-12-07T09:14:03+01:00": the local time
// as the user saw it, and which instant it was.
QString iso_date_time(const QDateTime& moment);
// A local calendar day as the day ledger keys it: "2026-12-07".
QString iso_date(const QDate& day);
// The day a user names: "2026-12-07", "today" or "yesterday"; invalid for anything else.
QDate day_named(const QString& text, const QDate& today);

// Whole seconds from `from` to `to`, negative when the clock went back, kept in 32 bits.
qint32 elapsed_seconds(const QDateTime& from, const QDateTime& to);

} // namespace kelvor::session
