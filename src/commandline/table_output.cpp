#include "commandline/table_output.h"

#include "session/duration_text.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace kelvor::commandline {

namespace {

void append(std::u16string& out, QStringView text) {
    out.append(text.utf16(), text.size());
}

// A field as it is, or quoted when it holds a comma, a quote or a line break. A text that
// a spreadsheet would take for a formula (=, +, -, @, a tab or a carriage return first)
// gets a leading ' so that opening the file runs nothing.
void append_csv_field(std::u16string& out, const QString& text, bool last, bool guard) {
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

void append_number(std::u16string& out, qint64 number) {
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    const std::size_t at = out.size();
    out.resize(at + std::size_t(end - digits));
    std::copy(static_cast<const char*>(digits), end, out.begin() + std::ptrdiff_t(at));
}

// A JSON string as Qt's writer escapes it: quotes, backslashes and control characters.
void append_json_string(std::u16string& out, const QString& text) {
    // The characters with a short escape, each with the letter its backslash takes.
    static constexpr std::u16string_view escaped = u"\"\\\b\f\n\r\t";
    static constexpr std::u16string_view letters = u"\"\\bfnrt";
    static constexpr std::u16string_view hex = u"0123456789abcdef";
    out += u'"';
    // Most texts need no escape at all: they go in whole.
    const auto plain = [](QChar c) { return c.unicode() >= 0x20 && c != u'"' && c != u'\\'; };
    if (std::all_of(text.begin(), text.end(), plain)) {
        append(out, text);
        out += u'"';
        return;
    }
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (plain(c)) {
            out += u;
        } else if (const std::size_t i = escaped.find(u); i != escaped.npos) {
            out += u'\\';
            out += letters[i];
        } else {
            out += u"\\u00";
            out += hex[u >> 4];
            out += hex[u & 0xf];
        }
    }
    out += u'"';
}

} // namespace

Table::Table(Format format, std::vector<Column> columns, Output& out)
    : format_(format), columns_(std::move(columns)), out_(out) {
    for (const Column& column : columns_)
        widths_.push_back(column.title.size());
    // JSON objects list their keys in order, as Qt's own JSON writer does.
    for (std::size_t c = 0; c < columns_.size(); ++c)
        json_order_.push_back(c);
    std::sort(json_order_.begin(), json_order_.end(),
              [&](std::size_t a, std::size_t b) { return columns_[a].field < columns_[b].field; });
    // Every row repeats the keys: each is escaped once, with its indent and colon.
    for (const Column& column : columns_) {
        Text key = u"        ";
        append_json_string(key, column.field);
        key += u": ";
        json_keys_.push_back(std::move(key));
    }
    if (format_ == Format::csv) {
        for (std::size_t c = 0; c < columns_.size(); ++c)
            append_csv_field(pending_, columns_[c].field, c + 1 == columns_.size(), false);
    }
}

void Table::seconds(qint32 value) {
    number([&] { return session::affiche_secondes(value); }, value);
}

void Table::finish() {
    if (format_ == Format::plain)
        plain_table();
    else if (format_ == Format::json)
        pending_ += rows_ == 0 ? u"[]\n" : u"\n]\n";
    flush();
}

void Table::add(Cell cell) {
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

void Table::flush() {
    if (pending_.empty())
        return;
    out_.write(QStringView(pending_).toUtf8());
    pending_.clear();
}

// Columns as wide as their widest text, two spaces apart; nothing at all without a row.
void Table::plain_table() {
    if (rows_ == 0)
        return;
    const auto line = [&](auto&& text_of) {
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const QStringView text = text_of(c);
            append(pending_, text);
            if (c + 1 < columns_.size())
                pending_.append(std::size_t(widths_[c] + 2 - text.size()), u' ');
        }
        // The padding of cells left empty at the end of a line.
        while (!pending_.empty() && pending_.back() == u' ')
            pending_.pop_back();
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

void Table::csv_row() {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const bool last = c + 1 == columns_.size();
        if (const Cell& cell = row_[c]; cell.number || cell.flag) {
            if (cell.number)
                append_number(pending_, *cell.number);
            else
                pending_ += *cell.flag ? u"true" : u"false";
            pending_ += last ? u"\r\n" : u",";
        } else {
            append_csv_field(pending_, cell.text, last, true);
        }
    }
}

// Laid out as Qt's indented JSON: four spaces a level, keys in order.
void Table::json_row() {
    pending_ += rows_ == 0 ? u"[\n    {\n" : u",\n    {\n";
    for (std::size_t k = 0; k < json_order_.size(); ++k) {
        const std::size_t c = json_order_[k];
        pending_ += json_keys_[c];
        if (const Cell& cell = row_[c]; cell.number)
            append_number(pending_, *cell.number);
        else if (cell.flag)
            pending_ += *cell.flag ? u"true" : u"false";
        else
            append_json_string(pending_, cell.text);
        pending_ += k + 1 < json_order_.size() ? u",\n" : u"\n";
    }
    pending_ += u"    }";
}

} // namespace kelvor::commandline
