#include "commandline/figures_output.h"

#include "commandline/table_output.h"
#include "platform/sqlite_store.h"
#include "session/dates.h"
#include "session/month_chart_figures.h"
#include "session/numbers.h"
#include "session/running_session.h"
#include "session/session_history.h"
#include "session/session_tracker.h"
#include "session/shown_text.h"
#include "session/store_names.h"
#include "session/usage_report.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace kelvor::commandline {

namespace {

// "2026-12" for the key "12/2026"; a key edited into another form stays as it is.
QString iso_month(const QString& key) {
    if (!session::month_key_start(key))
        return key;
    return key.mid(3) + u'-' + key.left(2);
}

// A day as a bound of a range; `open` when there is none.
QString bound(const QDate& day, const QString& open) {
    return day.isValid() ? day.toString(Qt::ISODate) : open;
}

// The number the `count` ASCII digits of `text` from `from` on write; -1 when one is no digit.
int digits_at(QStringView text, qsizetype from, qsizetype count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return -1;
        value = value * 10 + (text[i].unicode() - u'0');
    }
    return value;
}

struct DayParts {
    int year;
    int month;
    int day;
};

// The numbers of a stored "2026-12-07" that has exactly that form, a day or not.
std::optional<DayParts> plain_stored_day(QStringView text) {
    if (text.size() != 10 || text[4] != u'-' || text[7] != u'-')
        return std::nullopt;
    const DayParts parts{digits_at(text, 0, 4), digits_at(text, 5, 2), digits_at(text, 8, 2)};
    if (parts.year < 0 || parts.month < 0 || parts.day < 0)
        return std::nullopt;
    return parts;
}

// The day of a stored "2026-12-07", read quickly when it has exactly that form, else as Qt
// reads an ISO date (which also takes other separators and text after the day).
QDate stored_day(QStringView text) {
    if (const std::optional<DayParts> parts = plain_stored_day(text))
        return QDate(parts->year, parts->month, parts->day);
    return QDate::fromString(text, Qt::ISODate);
}

// Whether stored_day reads a day: without working out which, as a start's day needs.
bool is_stored_day(QStringView text) {
    if (const std::optional<DayParts> parts = plain_stored_day(text))
        return QDate::isValid(parts->year, parts->month, parts->day);
    return QDate::fromString(text, Qt::ISODate).isValid();
}

// Whether a stored "09:14:03" is a time of day; read quickly when it is plainly one, else as
// Qt reads an ISO time (which also takes 24:00:00).
bool is_stored_time(QStringView text) {
    if (text.size() == 8 && text[2] == u':' && text[5] == u':' &&
        QTime::isValid(digits_at(text, 0, 2), digits_at(text, 3, 2), digits_at(text, 6, 2)))
        return true;
    return QTime::fromString(text, Qt::ISODate).isValid();
}

// "07/12/2026 09:14:03" for "2026-12-07T09:14:03+01:00": the day and time the user saw, in
// the program's date form. The stored text is only cut and rearranged once its day and time
// read as such: formatting a date anew costs ten times more, for each of 100,000 sessions.
void write_shown_start(Utf8& out, const QString& iso) {
    const QStringView text(iso);
    if (text.size() < 19 || text[10] != u'T' || !is_stored_day(text.left(10)) ||
        !is_stored_time(text.mid(11, 8)))
        return append_utf8(out, session::shown_text(iso));
    const QChar shown[] = {text[8],  text[9],  u'/',     text[5],  text[6],  u'/',     text[0],
                           text[1],  text[2],  text[3],  u' ',     text[11], text[12], text[13],
                           text[14], text[15], text[16], text[17], text[18]};
    append_utf8(out, QStringView(shown, std::size(shown)));
}

// "Mon 07/12/2026" for "2026-12-07", and a * when the day was estimated; a day edited into
// another form stays as it is. Cut and rearranged like a session's start, in the English
// names QDate's formats use: formatting a date costs ten times more, for every day.
void write_shown_day(Utf8& out, const platform::LedgerDay& day) {
    static constexpr std::array<QStringView, 7> weekdays{u"Mon", u"Tue", u"Wed", u"Thu",
                                                         u"Fri", u"Sat", u"Sun"};
    const QDate date = stored_day(day.day);
    if (!date.isValid()) {
        append_utf8(out, session::shown_text(day.day));
    } else if (day.day.size() == 10) {
        const QStringView text(day.day);
        const QStringView weekday = weekdays[std::size_t(date.dayOfWeek() - 1)];
        const QChar shown[] = {weekday[0], weekday[1], weekday[2], u' ',    text[8],
                               text[9],    u'/',       text[5],    text[6], u'/',
                               text[0],    text[1],    text[2],    text[3]};
        append_utf8(out, QStringView(shown, std::size(shown)));
    } else {
        append_utf8(out, date.toString(QStringLiteral("ddd dd/MM/yyyy")));
    }
    if (day.estimated)
        out += " *";
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
                                            Format format, const DayRange& days, Output& out) {
    const QString first_day = bound(days.first, QString());
    const QString last_day = bound(days.last, QStringLiteral("~"));
    Table table(format,
                {{QStringLiteral("Started"), QStringLiteral("start")},
                 {QStringLiteral("Length"), QStringLiteral("seconds")},
                 {QStringLiteral("Locked"), QStringLiteral("locked_seconds")},
                 {QStringLiteral("Ending"), QStringLiteral("ending")}},
                out);
    HistoryCount count;
    const bool kept = session::for_each_history_session(
        store, copy_running, [&](const platform::HistorySession& session) {
            ++count.all;
            // The stored start begins with the day as the user saw it, yyyy-MM-dd.
            const QStringView day = QStringView(session.started).left(10);
            if (day < first_day || day > last_day)
                return;
            ++count.shown;
            table.text([&](Utf8& text) { write_shown_start(text, session.started); },
                       session.started);
            table.seconds(session.seconds);
            table.seconds(session.locked_seconds);
            const QString ending = session::ending_text(session.ending);
            table.text([&] { return ending; }, ending);
        });
    table.finish();
    return kept ? std::optional(count) : std::nullopt;
}

std::optional<std::size_t> days_output(platform::Store& store, Format format, const DayRange& range,
                                       bool blocks, Output& out) {
    Table table(format,
                {{QStringLiteral("Day"), QStringLiteral("date")},
                 {QStringLiteral("Used"), QStringLiteral("seconds")},
                 {QStringLiteral("Locked"), QStringLiteral("locked_seconds")},
                 {QStringLiteral("Active"), QStringLiteral("active_seconds")},
                 {QStringLiteral("Sessions"), QStringLiteral("sessions")},
                 {QString(), QStringLiteral("estimated")}},
                out);
    const auto active = [](const platform::LedgerDay& day) {
        return std::max<qint64>(0, day.seconds - day.locked_seconds);
    };
    const auto lengths = [&](const platform::LedgerDay& day) {
        table.seconds(session::clamp_to_int32_range(day.seconds));
        table.seconds(session::clamp_to_int32_range(day.locked_seconds));
        table.seconds(session::clamp_to_int32_range(active(day)));
    };
    std::size_t count = 0;
    platform::LedgerDay total;
    // Each day goes out as it is read: the bars, scaled to the longest day, are drawn by the
    // plain table once it has every row.
    const bool kept = store.for_each_day(
        bound(range.first, QString()), bound(range.last, QString()),
        [&](const platform::LedgerDay& day) {
            if (day.seconds == 0 && day.sessions == 0)
                return;
            ++count;
            total.seconds += day.seconds;
            total.locked_seconds += day.locked_seconds;
            total.estimated = total.estimated || day.estimated;
            table.text([&](Utf8& text) { write_shown_day(text, day); }, day.day);
            lengths(day);
            table.number([&](Utf8& text) { append_number(text, day.sessions); }, day.sessions);
            table.flag(Table::Bar{active(day), blocks}, day.estimated);
        });
    // The plain table alone ends with the total, its sessions and bar left blank.
    if (format == Format::plain && count > 0) {
        table.text([] { return QStringLiteral("Total"); }, total.day);
        lengths(total);
        table.number([] { return QString(); }, total.sessions);
        table.flag([] { return QString(); }, total.estimated);
    }
    table.finish();
    if (format == Format::plain && total.estimated)
        out.write("* estimated from the session history when the store got its day ledger\n");
    return kept ? std::optional(count) : std::nullopt;
}

} // namespace kelvor::commandline
