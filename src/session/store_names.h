#pragma once

#include <QString>

// Every section and key of the store, spelled exactly as stored ("debuted?" and
// "recupered_time" included: existing stores depend on these names).
namespace kelvor::session::names {

inline const QString init = QStringLiteral("Init");
inline const QString top = QStringLiteral("Top");
inline const QString left = QStringLiteral("Left");

inline const QString stat = QStringLiteral("Stat");
inline const QString nb_session = QStringLiteral("nb_session");
inline const QString debuted = QStringLiteral("debuted?");
inline const QString nb_session_crashed = QStringLiteral("nb_session_crashed");
inline const QString recupered_time = QStringLiteral("recupered_time");
inline const QString nb_time_total = QStringLiteral("nb_time_total");
inline const QString first_time_run = QStringLiteral("first_time_run");
inline const QString creator_name = QStringLiteral("Creator_name");
inline const QString shortest = QStringLiteral("shortest");
inline const QString shortest_date = QStringLiteral("shortest_date");
inline const QString longest = QStringLiteral("longest");
inline const QString longest_date = QStringLiteral("longest_date");

inline const QString month_nb_session = QStringLiteral("Month_nb_session");
inline const QString month_nb_time = QStringLiteral("Month_nb_time");
inline const QString month_nb_crash = QStringLiteral("Month_nb_crash");
inline const QString month_longest = QStringLiteral("Month_longest");

// Flag texts and sentinels.
inline const QString yes = QStringLiteral("Yes");
inline const QString no = QStringLiteral("No");
// "first_time_run" never holds this, so reading it back means "never written".
inline const QString never_run = QStringLiteral("vlim");
inline const QString creator_signature = QStringLiteral("Æorn/Quillet");
// Seconds booked for a session that dies before its first checkpoint.
inline constexpr qint32 initial_recupered_seconds = 30;
inline const QString initial_recupered_time = QString::number(initial_recupered_seconds);

} // namespace kelvor::session::names
