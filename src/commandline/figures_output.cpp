#include "commandline/figures_output.h"

#include "commandline/table_output.h"
#include "platform/sqlite_store.h"
#include "session/dates.h"
#include "session/month_chart_figures.h"
#include "session/running_session.h"
#include "session/session_history.h"
#include "session/session_tracker.h"
#include "session/shown_text.h"
#include "session/store_names.h"
#include "session/usage_report.h"

#include <QHash>
#include <QStringList>

namespace kelvor::commandline {

namespace {

// "2026-12" for the key "12/2026"; a key edited into another form stays as it is.
QString iso_month(const QString& key) {
    if (!session::month_key_start(key))
        return key;
    return key.mid(3) + u'-' + key.left(2);
}

// "07/12/2026 09:14:03" for "2026-12-07T09:14:03+01:00": the day and time the user saw, in
// the program's date form. The stored text is only cut and rearranged once its day and time
// read as such: formatting a date anew costs ten times more, for each of 100,000 sessions.
QString shown_start(const QString& iso) {
    const QStringView text(iso);
    if (text.size() < 19 || text[10] != u'T' ||
        !QDate::fromString(text.left(10), Qt::ISODate).isValid() ||
        !QTime::fromString(text.mid(11, 8), Qt::ISODate).isValid())
        return session::shown_text(iso);
    QString shown;
    shown.reserve(19);
    shown.append(text.mid(8, 2)).append(u'/').append(text.mid(5, 2)).append(u'/');
    shown.append(text.left(4)).append(u' ').append(text.mid(11, 8));
    return shown;
}

} // namespace

std::unique_ptr<platform::SqliteStore> with_pending_crash_booked(platform::SqliteStore& store,
                                                                 bool copy_running,
                                                                 const platform::Clock& clock) {
    if (copy_running || !session::session_unbooked(store))
        return nullptr;
    std::unique_ptr<platform::SqliteStore> booked = store.settings_in_memory();
    session::book_crashed_session(*booked, clock);
    return booked;
}

void report_output(platform::SettingsStore& store, const platform::Clock& clock,
                   std::optional<qint32> running_seconds, const QLocale& locale, Output& out) {
    QStringList lines = session::usage_figure_lines(store, clock, running_seconds, locale);
    if (running_seconds)
        lines.prepend(session::running_session_line(*running_seconds));
    out.write((lines.join(u'\n') + u'\n').toUtf8());
}

std::size_t months_output(platform::SettingsStore& store, Format format, Output& out) {
    namespace names = session::names;
    // Read as the month charts read them, so that every figure is the one they draw.
    const std::vector<session::MonthChartRow> sessions =
        session::read_month_chart_rows(store, names::month_nb_session, names::month_nb_crash);
    QHash<QString, session::MonthChartRow> times;
    for (session::MonthChartRow& row :
         session::read_month_chart_rows(store, names::month_nb_time, names::month_longest))
        times.insert(row.key, std::move(row));
    Table table(format,
                {{QStringLiteral("Month"), QStringLiteral("month")},
                 {QStringLiteral("Sessions"), QStringLiteral("sessions")},
                 {QStringLiteral("Crashed"), QStringLiteral("crashed")},
                 {QStringLiteral("Time used"), QStringLiteral("seconds")},
                 {QStringLiteral("Longest session"), QStringLiteral("longest_seconds")}},
                out);
    for (const session::MonthChartRow& month : sessions) {
        const session::MonthChartRow time = times.value(month.key);
        table.text([&] { return session::shown_text(month.key); }, iso_month(month.key));
        // The number as every format prints it: a count stored as "1e3" is 1000.
        table.number([&] { return QString::number(month.value); }, month.value);
        table.number([&] { return QString::number(month.overlay); }, month.overlay);
        table.seconds(time.value);
        table.seconds(time.overlay);
    }
    table.finish();
    return sessions.size();
}

std::optional<HistoryCount> sessions_output(platform::Store& store, bool copy_running,
                                            Format format, const QDate& since, Output& out) {
    const QString first_day = since.isValid() ? since.toString(Qt::ISODate) : QString();
    Table table(format,
                {{QStringLiteral("Started"), QStringLiteral("start")},
                 {QStringLiteral("Length"), QStringLiteral("seconds")},
                 {QStringLiteral("Ending"), QStringLiteral("ending")}},
                out);
    HistoryCount count;
    const bool kept = session::for_each_history_session(
        store, copy_running, [&](const platform::HistorySession& session) {
            ++count.all;
            // The stored start begins with the day as the user saw it, yyyy-MM-dd.
            if (QStringView(session.started).left(10) < first_day)
                return;
            ++count.shown;
            table.text([&] { return shown_start(session.started); }, session.started);
            table.seconds(session.seconds);
            const QString ending = session::ending_text(session.ending);
            table.text([&] { return ending; }, ending);
        });
    table.finish();
    return kept ? std::optional(count) : std::nullopt;
}

} // namespace kelvor::commandline
