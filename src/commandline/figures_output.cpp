#include "commandline/figures_output.h"

#include "platform/sqlite_store.h"
#include "session/dates.h"
#include "session/duration_text.h"
#include "session/month_chart_figures.h"
#include "session/running_session.h"
#include "session/session_history.h"
#include "session/session_tracker.h"
#include "session/shown_text.h"
#include "session/store_names.h"
#include "session/usage_report.h"

#include <QHash>
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

// One value of the row being filled: its text, or for CSV and JSON a number.
struct Cell {
    QString text;
    std::optional<qint64> number;
};

// A table in one format, filled cell by cell, row after row. CSV and JSON go out a row at a
// time; the plain table waits for its last row, which may be the widest.
class Table {
public:
    Table(Format format, std::vector<Column> columns, Output& out)
        : format_(format), columns_(std::move(columns)), out_(out) {
        for (const Column& column : columns_)
            widths_.push_back(column.title.size());
        // JSON objects list their keys in order, as Qt's own JSON writer does.
        for (std::size_t c = 0; c < columns_.size(); ++c)
            json_order_.push_back(c);
        std::sort(json_order_.begin(), json_order_.end(), [&](std::size_t a, std::size_t b) {
            return columns_[a].field < columns_[b].field;
        });
        if (format_ == Format::csv) {
            for (std::size_t c = 0; c < columns_.size(); ++c)
                append_csv_field(pending_, columns_[c].field, c + 1 == columns_.size(), false);
        }
    }

    // A cell of the row being filled. The plain table makes only its text (`shown`), CSV and
    // JSON only its value: with a hundred thousand sessions, making texts that are not
    // printed is most of the time.
    template <typename Shown> void text(Shown&& shown, const QString& value) {
        add(plain() ? Cell{shown(), {}} : Cell{value, {}});
    }
    template <typename Shown> void number(Shown&& shown, qint64 value) {
        add(plain() ? Cell{shown(), {}} : Cell{{}, value});
    }
    void seconds(qint32 value) {
        number([&] { return session::affiche_secondes(value); }, value);
    }

    // Writes what is left: the plain table, or the end of the JSON array.
    void finish() {
        if (format_ == Format::plain)
            plain_table();
        else if (format_ == Format::json)
            pending_ += rows_ == 0 ? u"[]\n" : u"\n]\n";
        flush();
    }

private:
    bool plain() const { return format_ == Format::plain; }

    void add(Cell cell) {
        const std::size_t column = row_.size();
        if (plain()) {
            widths_[column] = std::max(widths_[column], cell.text.size());
            append(texts_, cell.text);
            ends_.push_back(texts_.size());
        }
        row_.push_back(std::move(cell));
        if (row_.size() < columns_.size())
            return;
        if (format_ == Format::csv)
            csv_row();
        else if (format_ == Format::json)
            json_row();
        ++rows_;
        row_.clear();
        if (pending_.size() > 32768)
            flush();
    }

    // The texts are gathered in a plain UTF-16 buffer: appending to it costs a few
    // instructions, to a QString many times more, and a long history appends a lot.
    using Text = std::u16string;
    static void append(Text& out, QStringView text) { out.append(text.utf16(), text.size()); }

    void flush() {
        if (pending_.empty())
            return;
        out_.write(QStringView(pending_).toUtf8());
        pending_.clear();
    }

    // Columns as wide as their widest text, two spaces apart; nothing at all without a row.
    void plain_table() {
        if (rows_ == 0)
            return;
        const auto line = [&](auto&& text_of) {
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                const QStringView text = text_of(c);
                append(pending_, text);
                if (c + 1 < columns_.size())
                    pending_.append(std::size_t(widths_[c] + 2 - text.size()), u' ');
            }
            pending_ += u'\n';
            if (pending_.size() > 32768)
                flush();
        };
        line([&](std::size_t c) { return QStringView(columns_[c].title); });
        for (std::size_t r = 0; r < rows_; ++r) {
            line([&](std::size_t c) {
                const std::size_t i = r * columns_.size() + c;
                const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
                return QStringView(texts_).mid(qsizetype(begin), qsizetype(ends_[i] - begin));
            });
        }
    }

    // A field as it is, or quoted when it holds a comma, a quote or a line break. A text that
    // a spreadsheet would take for a formula (=, +, -, @, a tab or a carriage return first)
    // gets a leading ' so that opening the file runs nothing.
    static void append_csv_field(Text& out, const QString& text, bool last, bool guard) {
        const auto needs_quotes = [](QChar c) {
            return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
        };
        static const QString formula_starts = QStringLiteral("=+-@\t\r");
        const bool formula = guard && !text.isEmpty() && formula_starts.contains(text.front());
        const QString field = formula ? u'\'' + text : text;
        if (std::none_of(field.begin(), field.end(), needs_quotes))
            append(out, field);
        else
            append(out, u'"' + QString(field).replace(u'"', QStringLiteral("\"\"")) + u'"');
        out += last ? u"\r\n" : u",";
    }

    static void append_number(Text& out, qint64 number) {
        char digits[24];
        const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        out.append(static_cast<const char*>(digits), end);
    }

    void csv_row() {
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const bool last = c + 1 == columns_.size();
            if (const Cell& cell = row_[c]; cell.number) {
                append_number(pending_, *cell.number);
                pending_ += last ? u"\r\n" : u",";
            } else {
                append_csv_field(pending_, cell.text, last, true);
            }
        }
    }

    // A JSON string as Qt's writer escapes it: quotes, backslashes and control characters.
    static void append_json_string(Text& out, const QString& text) {
        out += u'"';
        for (const QChar c : text) {
            switch (c.unicode()) {
            case u'"':
                out += u"\\\"";
                break;
            case u'\\':
                out += u"\\\\";
                break;
            case u'\b':
                out += u"\\b";
                break;
            case u'\f':
                out += u"\\f";
                break;
            case u'\n':
                out += u"\\n";
                break;
            case u'\r':
                out += u"\\r";
                break;
            case u'\t':
                out += u"\\t";
                break;
            default:
                if (c.unicode() < 0x20) {
                    static const char16_t hex[] = u"0123456789abcdef";
                    out += u"\\u00";
                    out += hex[c.unicode() >> 4];
                    out += hex[c.unicode() & 0xf];
                } else {
                    out += c.unicode();
                }
            }
        }
        out += u'"';
    }

    // Laid out as Qt's indented JSON: four spaces a level, keys in order.
    void json_row() {
        pending_ += rows_ == 0 ? u"[\n    {\n" : u",\n    {\n";
        for (std::size_t k = 0; k < json_order_.size(); ++k) {
            const std::size_t c = json_order_[k];
            pending_ += u"        ";
            append_json_string(pending_, columns_[c].field);
            pending_ += u": ";
            if (const Cell& cell = row_[c]; cell.number)
                append_number(pending_, *cell.number);
            else
                append_json_string(pending_, cell.text);
            pending_ += k + 1 < json_order_.size() ? u",\n" : u"\n";
        }
        pending_ += u"    }";
    }

    Format format_;
    std::vector<Column> columns_;
    Output& out_;
    std::vector<std::size_t> json_order_;
    std::vector<qsizetype> widths_;
    std::vector<Cell> row_;
    std::size_t rows_ = 0;
    Text texts_;                    // plain: every cell's text, one after another
    std::vector<std::size_t> ends_; // plain: where each cell's text ends in texts_
    Text pending_;                  // written out at the next flush
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

void months_output(platform::SettingsStore& store, Format format, Output& out) {
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
}

std::optional<std::size_t> sessions_output(platform::Store& store, bool copy_running, Format format,
                                           const QDate& since, Output& out) {
    const QString first_day = since.isValid() ? since.toString(Qt::ISODate) : QString();
    Table table(format,
                {{QStringLiteral("Started"), QStringLiteral("start")},
                 {QStringLiteral("Length"), QStringLiteral("seconds")},
                 {QStringLiteral("Ending"), QStringLiteral("ending")}},
                out);
    std::size_t all = 0;
    const bool kept = session::for_each_history_session(
        store, copy_running, [&](const platform::HistorySession& session) {
            ++all;
            // The stored start begins with the day as the user saw it, yyyy-MM-dd.
            if (QStringView(session.started).left(10) < first_day)
                return;
            table.text([&] { return shown_start(session.started); }, session.started);
            table.seconds(session.seconds);
            const QString ending = session::ending_text(session.ending);
            table.text([&] { return ending; }, ending);
        });
    table.finish();
    return kept ? std::optional(all) : std::nullopt;
}

} // namespace kelvor::commandline
