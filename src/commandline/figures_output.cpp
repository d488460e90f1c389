#include "commandline/figures_output.h"

#include "session/dates.h"
#include "session/duration_text.h"
#include "session/month_chart_figures.h"
#include "session/shown_text.h"
#include "session/store_names.h"
#include "session/usage_report.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>

namespace kelvor::commandline {

namespace {

struct Column {
    QString title; // over the plain table
    QString field; // CSV header, JSON key
};

// One value: its text in the plain table, and for CSV and JSON either a text or a number.
struct Cell {
    QString shown;
    QString text;
    std::optional<qint64> number;
};

using Row = std::vector<Cell>;

Cell count_cell(const QString& shown, qint64 number) {
    return {shown, {}, number};
}

Cell seconds_cell(qint32 seconds) {
    return {session::affiche_secondes(seconds), {}, seconds};
}

// Columns as wide as their widest text, two spaces apart; nothing at all without a row.
QByteArray plain_table(const std::vector<Column>& columns, const std::vector<Row>& rows) {
    if (rows.empty())
        return {};
    std::vector<qsizetype> widths;
    for (const Column& column : columns)
        widths.push_back(column.title.size());
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].shown.size());
    }
    QString out;
    const auto line = [&](auto&& text_of) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const QString& text = text_of(i);
            out += i + 1 < columns.size() ? text.leftJustified(widths[i] + 2) : text;
        }
        out += u'\n';
    };
    line([&](std::size_t i) -> const QString& { return columns[i].title; });
    for (const Row& row : rows)
        line([&](std::size_t i) -> const QString& { return row[i].shown; });
    return out.toUtf8();
}

QString csv_field(const QString& text) {
    static const QString needs_quotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return needs_quotes.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QByteArray csv_table(const std::vector<Column>& columns, const std::vector<Row>& rows) {
    QString out;
    QStringList fields;
    for (const Column& column : columns)
        fields << csv_field(column.field);
    out += fields.join(u',') + QStringLiteral("\r\n");
    for (const Row& row : rows) {
        fields.clear();
        for (const Cell& cell : row)
            fields << (cell.number ? QString::number(*cell.number) : csv_field(cell.text));
        out += fields.join(u',') + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

QByteArray json_table(const std::vector<Column>& columns, const std::vector<Row>& rows) {
    if (rows.empty())
        return "[]\n";
    QJsonArray array;
    for (const Row& row : rows) {
        QJsonObject object;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            object.insert(columns[i].field,
                          row[i].number ? QJsonValue(*row[i].number) : QJsonValue(row[i].text));
        }
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray table(const std::vector<Column>& columns, const std::vector<Row>& rows, Format format) {
    switch (format) {
    case Format::plain:
        return plain_table(columns, rows);
    case Format::csv:
        return csv_table(columns, rows);
    case Format::json:
        break;
    }
    return json_table(columns, rows);
}

// "2026-12" for the key "12/2026"; a key edited into another form stays as it is.
QString iso_month(const QString& key) {
    if (!session::month_key_start(key))
        return key;
    return key.mid(3) + u'-' + key.left(2);
}

// "07/12/2026 09:14:03" for "2026-12-07T09:14:03+01:00": the day and time the user saw.
QString shown_start(const QString& iso) {
    const QDateTime started = QDateTime::fromString(iso, Qt::ISODate);
    if (!started.isValid())
        return session::shown_text(iso);
    return session::date_text(started.date()) + u' ' +
           started.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

QByteArray report_output(platform::SettingsStore& store, const platform::Clock& clock,
                         std::optional<qint32> running_seconds, const QLocale& locale) {
    QStringList lines = session::usage_figure_lines(store, clock, running_seconds, locale);
    if (running_seconds)
        lines.prepend(session::running_session_line(*running_seconds));
    return (lines.join(u'\n') + u'\n').toUtf8();
}

QByteArray months_output(platform::SettingsStore& store, Format format) {
    namespace names = session::names;
    // Read as the month charts read them, so that every figure is the one they draw.
    const std::vector<session::MonthChartRow> sessions =
        session::read_month_chart_rows(store, names::month_nb_session, names::month_nb_crash);
    QHash<QString, session::MonthChartRow> times;
    for (session::MonthChartRow& row :
         session::read_month_chart_rows(store, names::month_nb_time, names::month_longest))
        times.insert(row.key, std::move(row));
    const std::vector<Column> columns = {
        {QStringLiteral("Month"), QStringLiteral("month")},
        {QStringLiteral("Sessions"), QStringLiteral("sessions")},
        {QStringLiteral("Crashed"), QStringLiteral("crashed")},
        {QStringLiteral("Time used"), QStringLiteral("seconds")},
        {QStringLiteral("Longest session"), QStringLiteral("longest_seconds")}};
    std::vector<Row> rows;
    rows.reserve(sessions.size());
    for (const session::MonthChartRow& month : sessions) {
        const session::MonthChartRow time = times.value(month.key);
        rows.push_back({{session::shown_text(month.key), iso_month(month.key), {}},
                        count_cell(month.stored_value, month.value),
                        count_cell(QString::number(month.overlay), month.overlay),
                        seconds_cell(time.value),
                        seconds_cell(time.overlay)});
    }
    return table(columns, rows, format);
}

QByteArray sessions_output(const std::vector<session::HistorySession>& history, Format format,
                           const QDate& since) {
    const QString first_day = since.isValid() ? since.toString(Qt::ISODate) : QString();
    const std::vector<Column> columns = {{QStringLiteral("Started"), QStringLiteral("start")},
                                         {QStringLiteral("Length"), QStringLiteral("seconds")},
                                         {QStringLiteral("Ending"), QStringLiteral("ending")}};
    std::vector<Row> rows;
    rows.reserve(history.size());
    for (const session::HistorySession& session : history) {
        // The stored start begins with the day as the user saw it, yyyy-MM-dd.
        if (QStringView(session.started).left(10) < first_day)
            continue;
        const QString ending = session::ending_text(session.ending);
        rows.push_back({{shown_start(session.started), session.started, {}},
                        seconds_cell(session.seconds),
                        {ending, ending, {}}});
    }
    return table(columns, rows, format);
}

} // namespace kelvor::commandline
