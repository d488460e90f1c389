#include "commandline/table_output.h"

#include "session/duration_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <numeric>

namespace kelvor::commandline {

namespace {

// What a table gathers before it is written out, in bytes.
constexpr std::size_t flush_size = 32768;
// The plain table's first block of kept cells: room for a few thousand rows.
constexpr std::size_t first_kept_block_size = std::size_t(256) << 10;

// The kinds of the plain table's kept cells, each the first byte of its cell.
// A text of as many bytes as characters, as nearly every one is: its size in one byte, its UTF-8.
constexpr char text_cell = 't';
// Any other: its size in bytes and its width, each in a std::size_t, and its UTF-8.
constexpr char long_text_cell = 'T';
constexpr char seconds_cell = 's';                           // a qint32
constexpr char blocks_bar_cell = 'b', hashes_bar_cell = '#'; // a qint64

// The characters of the longest bar.
constexpr qint64 bar_width = 20;

// `text` copied over as ASCII at `out`, and its end; null when a character was not ASCII and
// `plain`, what was written then being no use. One pass without an early exit, the check
// counted in 16 bits, so that the compiler copies and checks eight characters at a time.
template <typename Plain> char* put_plain(char* out, QStringView text, Plain plain) {
    const char16_t* from = text.utf16();
    std::uint16_t other = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        other |= from[i] < 0x80 && plain(from[i]) ? 0 : 1;
        out[i] = char(from[i]);
    }
    return other == 0 ? out + text.size() : nullptr;
}

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

void append(Table::Bytes& out, std::string_view text) {
    out.end(put(out.room(text.size()), text));
}

// `text` in UTF-8; ASCII is copied over without Qt's encoder.
void append_utf8(Table::Bytes& out, QStringView text) {
    if (char* end =
            put_plain(out.room(std::size_t(text.size())), text, [](char16_t) { return true; })) {
        out.end(end);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    append(out, {utf8.constData(), std::size_t(utf8.size())});
}

void append_number(Table::Bytes& out, qint64 number) {
    char* at = out.room(20);
    out.end(std::to_chars(at, at + 20, number).ptr);
}

// The UTF-16 units of valid UTF-8, as a QString of it counts them: one per character, two for
// a character beyond U+FFFF (the only ones written in four bytes).
qsizetype utf16_size(std::string_view utf8) {
    // ASCII, as nearly every cell is, checked many bytes at a time.
    std::uint8_t high = 0;
    for (const char byte : utf8)
        high |= static_cast<std::uint8_t>(byte) & 0x80;
    if (high == 0)
        return qsizetype(utf8.size());
    qsizetype size = 0;
    for (const char byte : utf8) {
        const auto b = static_cast<unsigned char>(byte);
        size += static_cast<int>((b & 0xc0) != 0x80) + static_cast<int>(b >= 0xf0);
    }
    return size;
}

// A field as it is, or quoted when it holds a comma, a quote or a line break. A text that
// a spreadsheet would take for a formula (=, +, -, @, a tab or a carriage return first)
// gets a leading ' so that opening the file runs nothing.
void append_csv_field(Table::Bytes& out, QStringView text, bool guard) {
    const auto needs_quotes = [](char16_t c) {
        return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
    };
    static constexpr std::u16string_view formula_starts = u"=+-@\t\r";
    const bool formula = guard && !text.isEmpty() &&
                         formula_starts.find(text.front().unicode()) != formula_starts.npos;
    // Most fields are ASCII with nothing to quote: they go over as they are.
    char* at = out.room(std::size_t(text.size()) + 1);
    if (formula)
        *at++ = '\'';
    if (char* end = put_plain(at, text, [&](char16_t c) { return !needs_quotes(c); })) {
        out.end(end);
        return;
    }
    QString field = formula ? u'\'' + text.toString() : text.toString();
    if (std::any_of(field.begin(), field.end(), [&](QChar c) { return needs_quotes(c.unicode()); }))
        field = u'"' + field.replace(u'"', QStringLiteral("\"\"")) + u'"';
    append_utf8(out, field);
}

// A JSON string as Qt's writer escapes it: quotes, backslashes and control characters.
void append_json_string(Table::Bytes& out, QStringView text) {
    const auto plain = [](char16_t c) { return c >= 0x20 && c != u'"' && c != u'\\'; };
    // Most texts are ASCII with nothing to escape: they go over as they are.
    char* at = out.room(std::size_t(text.size()) + 2);
    *at++ = '"';
    if (char* end = put_plain(at, text, plain)) {
        *end++ = '"';
        out.end(end);
        return;
    }
    // The characters with a short escape, each with the letter its backslash takes.
    static constexpr std::u16string_view escaped = u"\"\\\b\f\n\r\t";
    static constexpr std::u16string_view letters = u"\"\\bfnrt";
    static constexpr std::u16string_view hex = u"0123456789abcdef";
    std::u16string escaped_text = u"\"";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (plain(u)) {
            escaped_text += u;
        } else if (const std::size_t i = escaped.find(u); i != escaped.npos) {
            escaped_text += u'\\';
            escaped_text += letters[i];
        } else {
            escaped_text += u"\\u00";
            escaped_text += hex[u >> 4];
            escaped_text += hex[u & 0xf];
        }
    }
    escaped_text += u'"';
    append_utf8(out, QStringView(escaped_text));
}

// The bar of `length` when the longest is `longest`, written at `out` (room for 20 blocks of
// three bytes); returns its end, and its characters in `width`.
char* write_bar(qint64 length, qint64 longest, bool blocks, char* out, qsizetype& width) {
    width = 0;
    if (longest <= 0)
        return out;
    length = std::max<qint64>(length, 0);
    if (!blocks) {
        width = (length * bar_width + longest / 2) / longest;
        return std::fill_n(out, width, '#');
    }
    // U+2588, the full block, is E2 96 88 in UTF-8; U+2589 to U+258F, seven eighths down to
    // one, follow it.
    static constexpr std::string_view full_blocks =
        "\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88"
        "\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88"
        "\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88";
    static_assert(full_blocks.size() == 3 * bar_width);
    const qint64 eighths = (length * bar_width * 8 + longest / 2) / longest;
    width = eighths / 8;
    out = put(out, full_blocks.substr(0, std::size_t(3 * width)));
    if (eighths % 8 != 0) {
        out = std::copy_n("\xe2\x96", 2, out);
        *out++ = char(0x90 - eighths % 8);
        ++width;
    }
    return out;
}

} // namespace

void append_utf8(Utf8& out, QStringView text) {
    // Copied over as ASCII, and again through Qt's encoder when a character was not.
    const std::size_t at = out.size();
    out.resize(at + std::size_t(text.size()));
    if (put_plain(out.data() + at, text, [](char16_t) { return true; }))
        return;
    out.resize(at);
    const QByteArray utf8 = text.toUtf8();
    out.append(utf8.constData(), std::size_t(utf8.size()));
}

void append_number(Utf8& out, qint64 number) {
    std::array<char, 20> digits{};
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    out.append(digits.data(), std::size_t(end - digits.data()));
}

Table::Bytes::Bytes(std::size_t capacity)
    : data_(platform::plain_memory(capacity)), capacity_(capacity) {}

Table::Bytes::Bytes(platform::Memory memory, std::size_t capacity)
    : data_(std::move(memory)), capacity_(capacity) {}

char* Table::Bytes::grow(std::size_t size) {
    const std::size_t capacity = std::max({2 * capacity_, size_ + size, std::size_t(256)});
    platform::Memory data = platform::plain_memory(capacity);
    if (size_ > 0)
        std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
    return data_.get() + size_;
}

Table::Table(Format format, std::vector<Column> columns, Output& out)
    : format_(format), columns_(std::move(columns)), out_(out), pending_(2 * flush_size),
      json_order_(columns_.size()), json_ends_(columns_.size()), widths_(columns_.size()),
      longest_(columns_.size()) {
    for (std::size_t c = 0; c < columns_.size(); ++c)
        widths_[c] = columns_[c].title.size();
    // JSON objects list their keys in order, as Qt's own JSON writer does.
    std::iota(json_order_.begin(), json_order_.end(), std::size_t(0));
    std::sort(json_order_.begin(), json_order_.end(),
              [&](std::size_t a, std::size_t b) { return columns_[a].field < columns_[b].field; });
    // Every row repeats the keys: each is escaped once, with its indent and colon.
    for (std::size_t k = 0; k < json_order_.size(); ++k) {
        Bytes key;
        append(key, k == 0 ? "        " : ",\n        ");
        append_json_string(key, columns_[json_order_[k]].field);
        append(key, ": ");
        json_keys_.emplace_back(key.data(), key.size());
    }
    if (format_ == Format::csv) {
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            append_csv_field(pending_, columns_[c].field, false);
            append(pending_, c + 1 == columns_.size() ? "\r\n" : ",");
        }
    }
}

void Table::flag(Bar shown, bool value) {
    if (!plain())
        return flag_value(value);
    longest_[column_] = std::max(longest_[column_], shown.length);
    char length[sizeof shown.length];
    std::memcpy(length, &shown.length, sizeof length);
    keep(shown.blocks ? blocks_bar_cell : hashes_bar_cell, length);
}

void Table::seconds(qint32 value) {
    if (!plain())
        return number_value(value);
    // Counted here for its width, written when the table is laid out: that costs less than
    // keeping the text.
    widths_[column_] = std::max(widths_[column_], qsizetype(session::affiche_secondes_size(value)));
    char seconds[sizeof value];
    std::memcpy(seconds, &value, sizeof seconds);
    keep(seconds_cell, seconds);
}

void Table::finish() {
    if (format_ == Format::plain)
        plain_table();
    else if (format_ == Format::json)
        append(pending_, rows_ == 0 ? "[]\n" : "\n]\n");
    flush();
}

void Table::keep_text() {
    const qsizetype width = utf16_size(shown_);
    widths_[column_] = std::max(widths_[column_], width);
    if (std::size_t(width) == shown_.size() && shown_.size() <= 0xff) {
        const char size[] = {char(shown_.size())};
        return keep(text_cell, size, shown_);
    }
    const std::size_t sizes[] = {shown_.size(), std::size_t(width)};
    char size_and_width[sizeof sizes];
    std::memcpy(size_and_width, sizes, sizeof sizes);
    keep(long_text_cell, size_and_width, shown_);
}

template <std::size_t size>
void Table::keep(char kind, const char (&bytes)[size], std::string_view text) {
    // A cell never spans two blocks. A short table fits in the first; a long one goes on in
    // blocks of huge pages.
    const std::size_t cell_size = 1 + size + text.size();
    if (kept_.empty()) {
        kept_.emplace_back(std::max(first_kept_block_size, cell_size));
    } else if (kept_.back().spare() < cell_size) {
        const std::size_t block_size = (cell_size + platform::huge_page_size - 1) /
                                       platform::huge_page_size * platform::huge_page_size;
        kept_.emplace_back(platform::large_memory(block_size), block_size);
    }
    Bytes& block = kept_.back();
    char* at = block.room(cell_size);
    *at = kind;
    std::memcpy(at + 1, bytes, size);
    block.end(text.empty() ? at + 1 + size : put(at + 1 + size, text));
    if (++column_ == columns_.size()) {
        column_ = 0;
        ++rows_;
    }
}

void Table::text_value(const QString& value) {
    if (format_ == Format::csv)
        append_csv_field(pending_, value, true);
    else
        append_json_string(json_values_, value);
    next_column();
}

void Table::number_value(qint64 value) {
    append_number(value_bytes(), value);
    next_column();
}

void Table::flag_value(bool value) {
    append(value_bytes(), value ? "true" : "false");
    next_column();
}

Table::Bytes& Table::value_bytes() {
    return format_ == Format::csv ? pending_ : json_values_;
}

void Table::next_column() {
    if (format_ == Format::json)
        json_ends_[column_] = json_values_.size();
    if (++column_ < columns_.size()) {
        if (format_ == Format::csv)
            append(pending_, ",");
        return;
    }
    column_ = 0;
    if (format_ == Format::csv) {
        append(pending_, "\r\n");
    } else if (format_ == Format::json) {
        // Laid out as Qt's indented JSON: four spaces a level, keys in order.
        std::size_t size = json_values_.size() + 32;
        for (const std::string& key : json_keys_)
            size += key.size();
        char* at = put(pending_.room(size), rows_ == 0 ? "[\n    {\n" : ",\n    {\n");
        for (std::size_t k = 0; k < json_order_.size(); ++k) {
            const std::size_t c = json_order_[k];
            const std::size_t begin = c == 0 ? 0 : json_ends_[c - 1];
            at = put(at, json_keys_[k]);
            at = put(at, {json_values_.data() + begin, json_ends_[c] - begin});
        }
        pending_.end(put(at, "\n    }"));
        json_values_.clear();
    }
    ++rows_;
    if (pending_.size() > flush_size)
        flush();
}

void Table::flush() {
    if (pending_.size() == 0)
        return;
    out_.write(QByteArrayView(pending_.data(), qsizetype(pending_.size())));
    pending_.clear();
}

// Columns as wide as their widest text, two spaces apart; nothing at all without a row.
void Table::plain_table() {
    if (rows_ == 0)
        return;
    // A column of bars is as wide as its longest bar, which is the longest there is.
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (longest_[c] > 0)
            widths_[c] = std::max(widths_[c], qsizetype(bar_width));
    }
    // Each cell is written straight into the output, in room for its bytes, its padding and
    // the end of its line.
    std::size_t column = 0;
    const auto room = [&](std::size_t size) {
        return pending_.room(size + std::size_t(widths_[column]) + 3);
    };
    // The cell written up to `end`, `width` characters wide: its padding, or the end of its line.
    const auto end_cell = [&](char* end, qsizetype width) {
        if (++column < columns_.size()) {
            pending_.end(std::fill_n(end, widths_[column - 1] + 2 - width, ' '));
            return;
        }
        column = 0;
        // The padding of cells left empty at the end of a line.
        while (end != pending_.data() && end[-1] == ' ')
            --end;
        *end++ = '\n';
        pending_.end(end);
        if (pending_.size() > flush_size)
            flush();
    };
    const auto text_cell_of = [&](std::string_view text, qsizetype width) {
        end_cell(put(room(text.size()), text), width);
    };
    for (const Column& title : columns_) {
        Bytes text;
        append_utf8(text, title.title);
        text_cell_of({text.data(), text.size()}, title.title.size());
    }
    for (const Bytes& block : kept_) {
        for (const char *at = block.data(), *end = at + block.size(); at < end;) {
            const char kind = *at++;
            if (kind == text_cell) {
                const auto size = static_cast<unsigned char>(*at++);
                text_cell_of({at, size}, size);
                at += size;
            } else if (kind == long_text_cell) {
                std::size_t sizes[2] = {};
                std::memcpy(sizes, at, sizeof sizes);
                at += sizeof sizes;
                text_cell_of({at, sizes[0]}, qsizetype(sizes[1]));
                at += sizes[0];
            } else if (kind == seconds_cell) {
                qint32 seconds = 0;
                std::memcpy(&seconds, at, sizeof seconds);
                at += sizeof seconds;
                char* start = room(session::affiche_secondes_room);
                char* written = session::write_affiche_secondes(seconds, start);
                end_cell(written, written - start);
            } else {
                qint64 length = 0;
                std::memcpy(&length, at, sizeof length);
                at += sizeof length;
                qsizetype width = 0;
                char* written = write_bar(length, longest_[column], kind == blocks_bar_cell,
                                          room(3 * bar_width), width);
                end_cell(written, width);
            }
        }
    }
}

} // namespace kelvor::commandline
