#include "session/usage_report.h"

#include "platform/clock.h"
#include "platform/store.h"
#include "session/dates.h"
#include "session/duration_text.h"
#include "session/numbers.h"
#include "session/session_tracker.h"
#include "session/shown_text.h"
#include "session/store_names.h"

#include <QStringList>

namespace kelvor::session {

namespace {

// Ratios are counted in 32-bit figures, so these products always fit in 64 bits.
constexpr qint64 crash_ratio_scale = 1000;   // percent with one decimal
constexpr qint64 usage_ratio_scale = 100000; // percent with three decimals
const QString unknown_ratio = QStringLiteral("???");
// "??/??/??", spelled so that no compiler reads a trigraph into it.
const QString unknown_date = QStringLiteral("?\?/?\?/??");

// Division rounded toward minus infinity ("rounded down"), for a positive divisor.
qint64 floor_divide(qint64 dividend, qint64 divisor) {
    qint64 quotient = dividend / divisor;
    if (dividend % divisor != 0 && dividend < 0)
        --quotient;
    return quotient;
}

} // namespace

QString overall_crash_ratio_text(qint32 nb_session, qint32 nb_session_crashed,
                                 const QString& decimal_point) {
    // The running session cannot have crashed yet, so it is left out of the divisor.
    if (nb_session_crashed <= 0 || nb_session <= 1)
        return unknown_ratio;
    const qint64 scaled =
        floor_divide(crash_ratio_scale * nb_session_crashed, qint64(nb_session) - 1);
    return general_number_text(scaled, 1, decimal_point);
}

QString usage_ratio_text(qint32 total_seconds, qint32 seconds_since_first_use,
                         const QString& decimal_point) {
    if (seconds_since_first_use <= 0)
        return unknown_ratio;
    const qint64 scaled = floor_divide(usage_ratio_scale * total_seconds, seconds_since_first_use);
    return general_number_text(scaled, 3, decimal_point);
}

qint32 seconds_since_first_use(const QString& first_time_run, const QDateTime& now) {
    const std::optional<QDate> first_day = parse_date_text(first_time_run);
    if (!first_day)
        return 0;
    return elapsed_seconds(first_day->startOfDay(), now);
}

QString usage_report_text(SessionTracker& session, const QLocale& locale) {
    const qint32 seconds = session.checkpoint();
    return usage_report_text(session.store(), session.clock(), seconds,
                             session.last_session_duration, session.last_session_suffix, locale);
}

QString running_session_line(qint32 session_seconds) {
    return QStringLiteral("This session have: ") + affiche_secondes(session_seconds);
}

QString usage_report_text(platform::SettingsStore& store, const platform::Clock& clock,
                          qint32 session_seconds, qint32 last_session_duration,
                          const QString& last_session_suffix, const QLocale& locale) {
    QStringList lines = {
        running_session_line(session_seconds),
        QStringLiteral("Last session duration: ") + affiche_secondes(last_session_duration) +
            last_session_suffix,
        QString(),
    };
    lines += usage_figure_lines(store, clock, session_seconds, locale);
    lines += {QString(), QStringLiteral("Do you want to see last months stats ?")};
    return lines.join(u'\n');
}

QStringList usage_figure_lines(platform::SettingsStore& store, const platform::Clock& clock,
                               std::optional<qint32> running_seconds, const QLocale& locale) {
    const QString decimal_point = locale.decimalPoint();
    const qint32 session_seconds = running_seconds.value_or(0);

    const qint32 shortest = read_int32(store, names::stat, names::shortest, 999999);
    const qint32 longest = read_int32(store, names::stat, names::longest, 0);
    // Both counts are shown exactly as stored; only the ratio reads them as numbers.
    const QString nb_session = store.read(names::stat, names::nb_session, QStringLiteral("0"));
    const QString nb_session_crashed =
        store.read(names::stat, names::nb_session_crashed, QStringLiteral("0"));
    const QString crash_ratio = overall_crash_ratio_text(
        int32_from_text(nb_session, 0), int32_from_text(nb_session_crashed, 0), decimal_point);

    const qint32 total_seconds = to_int32(read_number(store, names::stat, names::nb_time_total, 0) +
                                          double(session_seconds));
    const QString first_time_run = store.read(names::stat, names::first_time_run, names::never_run);

    // The running session is not in the month records until it ends, so it is added here.
    const QString month = Get_mois_et_an(clock);
    const qint32 month_seconds =
        to_int32(read_number(store, names::month_nb_time, month, 0) + double(session_seconds));
    const qint64 month_sessions =
        qint64(read_int32(store, names::month_nb_session, month, 0)) + (running_seconds ? 1 : 0);

    const qint32 since_first_use = seconds_since_first_use(first_time_run, clock.now());
    const QString usage_ratio = usage_ratio_text(total_seconds, since_first_use, decimal_point);

    const QString shortest_date = store.read(names::stat, names::shortest_date, unknown_date);
    const QString longest_date = store.read(names::stat, names::longest_date, unknown_date);

    return {
        QStringLiteral("Shortest session: ") + affiche_secondes(shortest) +
            QStringLiteral(" around the ") + shown_text(shortest_date),
        QStringLiteral("Longest session: ") + affiche_secondes(longest) +
            QStringLiteral(" around the ") + shown_text(longest_date),
        QString(),
        QStringLiteral("Number of sessions: ") + shown_text(nb_session),
        QStringLiteral("Number of crashed sessions: ") + shown_text(nb_session_crashed),
        QStringLiteral("Crash ratio: ") + crash_ratio + QStringLiteral(" %"),
        QString(),
        QStringLiteral("Number of sessions since 01/") + month + QStringLiteral(": ") +
            whole_number_text(month_sessions),
        QStringLiteral("Time used since 01/") + month + QStringLiteral(": ") +
            affiche_secondes(month_seconds),
        QString(),
        QStringLiteral("Total time used: ") + affiche_secondes(total_seconds),
        QStringLiteral("First time used: ") + shown_text(first_time_run) + QStringLiteral(" (") +
            affiche_secondes(since_first_use) + QStringLiteral(" ago...)"),
        QStringLiteral("Time-usage ratio around: ") + usage_ratio + QStringLiteral(" %"),
    };
}

} // namespace kelvor::session
