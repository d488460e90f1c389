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
#include <charconv>
#include <string>

namespace kelvor::commandline {

namespace {

struct Column {
    QString title; // over the plain table
    QString field; // CSV header, JSON key
};

// One value: its text in the plain table, or for CSV and JSON a text or a number.
struct Cell {
    QString text;
    std::optional<qint64> number;
};

// A table in one format, filled cell by cell, row after row.
class Table {
public:
    Table(Format format, std::vector<Column> columns, std::size_t rows)
        : format_(format), columns_(std::move(columns)) {
        cells_.reserve(rows * columns_.size());
    }

    // A cell of the row being filled. The plain table makes only its text (`shown`), CSV and
    // JSON only its value: with a hundred thousand sessions, making texts that are not
    // printed is most of the time.
    template <typename Shown> void text(Shown&& shown, const QString& value) {
        cells_.push_back({plain() ? shown() : value, {}});
    }
    template <typename Shown> void number(Shown&& shown, qint64 value) {
        cells_.push_back(plain() ? Cell{shown(), {}} : Cell{{}, value});
    }
    void seconds(qint32 value) {
        number([&] { return session::affiche_secondes(value); }, value);
    }

    QByteArray output() const {
        switch (format_) {
        case Format::plain:
            return plain_table();
        case Format::csv:
            return csv_table();
        case Format::json:
            break;
        }
        return json_table();
    }

private:
    bool plain() const { return format_ == Format::plain; }
    std::size_t rows() const { return cells_.size() / columns_.size(); }
    const Cell& cell(std::size_t row, std::size_t column) const {
        return cells_[row * columns_.size() + column];
    }

    // The texts are gathered in a plain UTF-16 buffer: appending to it costs a few
    // instructions, to a QString many times more, and a long history appends a lot.
    using Text = std::u16string;
    static void append(Text& out, QStringView text) { out.append(text.utf16(), text.size()); }
    static QByteArray utf8(const Text& text) { return QStringView(text).toUtf8(); }

    // Columns as wide as their widest text, two spaces apart; nothing at all without a row.
    QByteArray plain_table() const {
        if (cells_.empty())
            return {};
        std::vector<qsizetype> widths;
        for (const Column& column : columns_)
            widths.push_back(column.title.size());
        for (std::size_t i = 0; i < cells_.size(); ++i) {
            qsizetype& width = widths[i % columns_.size()];
            width = std::max(width, cells_[i].text.size());
        }
        Text out;
        const auto line = [&](auto&& text_of) {
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                const QString& text = text_of(c);
                append(out, text);
                if (c + 1 < columns_.size())
                    out.append(std::size_t(widths[c] + 2 - text.size()), u' ');
            }
            out += u'\n';
        };
        line([&](std::size_t c) -> const QString& { return columns_[c].title; });
        for (std::size_t r = 0; r < rows(); ++r)
            line([&](std::size_t c) -> const QString& { return cell(r, c).text; });
        return utf8(out);
    }

    // A field as it is, or quoted when it holds a comma, a quote or a line break.
    static void append_csv_field(Text& out, const QString& text) {
        const auto needs_quotes = [](QChar c) {
            return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
        };
        if (std::none_of(text.begin(), text.end(), needs_quotes)) {
            append(out, text);
            return;
        }
        append(out, u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"');
    }

    static void append_number(Text& out, qint64 number) {
        char digits[24];
        const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        out.append(static_cast<const char*>(digits), end);
    }

    // A header row, then a record per row, each ended by CR LF.
    QByteArray csv_table() const {
        Text out;
        out.reserve((rows() + 1) * 48);
        for (std::size_t i = 0; i < columns_.size() + cells_.size(); ++i) {
            if (i < columns_.size())
                append_csv_field(out, columns_[i].field);
            else if (const Cell& cell = cells_[i - columns_.size()]; cell.number)
                append_number(out, *cell.number);
            else
                append_csv_field(out, cell.text);
            out += (i + 1) % columns_.size() != 0 ? u"," : u"\r\n";
        }
        return utf8(out);
    }

    QByteArray json_table() const {
        if (cells_.empty())
            return "[]\n";
        QJsonArray array;
        for (std::size_t r = 0; r < rows(); ++r) {
            QJsonObject object;
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                const Cell& value = cell(r, c);
                object.insert(columns_[c].field,
                              value.number ? QJsonValue(*value.number) : QJsonValue(value.text));
            }
            array.append(object);
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }

    Format format_;
    std::vector<Column> columns_;
    std::vector<Cell> cells_;
};

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
    Table table(format,
                {{QStringLiteral("Month"), QStringLiteral("month")},
                 {QStringLiteral("Sessions"), QStringLiteral("sessions")},
                 {QStringLiteral("Crashed"), QStringLiteral("crashed")},
                 {QStringLiteral("Time used"), QStringLiteral("seconds")},
                 {QStringLiteral("Longest session"), QStringLiteral("longest_seconds")}},
                sessions.size());
    for (const session::MonthChartRow& month : sessions) {
        const session::MonthChartRow time = times.value(month.key);
        table.text([&] { return session::shown_text(month.key); }, iso_month(month.key));
        table.number([&] { return month.stored_value; }, month.value);
        table.number([&] { return QString::number(month.overlay); }, month.overlay);
        table.seconds(time.value);
        table.seconds(time.overlay);
    }
    return table.output();
}

QByteArray sessions_output(const std::vector<session::HistorySession>& history, Format format,
                           const QDate& since) {
    const QString first_day = since.isValid() ? since.toString(Qt::ISODate) : QString();
    Table table(format,
                {{QStringLiteral("Started"), QStringLiteral("start")},
                 {QStringLiteral("Length"), QStringLiteral("seconds")},
                 {QStringLiteral("Ending"), QStringLiteral("ending")}},
                history.size());
    for (const session::HistorySession& session : history) {
        // The stored start begins with the day as the user saw it, yyyy-MM-dd.
        if (QStringView(session.started).left(10) < first_day)
            continue;
        table.text([&] { return shown_start(session.started); }, session.started);
        table.seconds(session.seconds);
        const QString ending = session::ending_text(session.ending);
        table.text([&] { return ending; }, ending);
    }
    return table.output();
}

} // namespace kelvor::commandline
