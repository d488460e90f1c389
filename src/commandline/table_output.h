#pragma once

#include "commandline/figures_output.h"
#include "platform/large_memory.h"

#include <QString>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The tables the options print, in each of their formats.
namespace kelvor::commandline {

struct Column {
    QString title; // over the plain table
    QString field; // CSV header, JSON key
};

// UTF-8, as every table is printed: what a plain cell's text is written into.
using Utf8 = std::string;

// `text` in UTF-8 at the end of `out`; ASCII is copied over without Qt's encoder.
void append_utf8(Utf8& out, QStringView text);
void append_number(Utf8& out, qint64 number);

// A table in one format, filled cell by cell, row after row. CSV and JSON go out a row at a
// time; the plain table waits for its last row, which may be the widest.
class Table {
public:
    // A bar of `length` in the plain table, drawn once every row is in: up to 20 characters,
    // the column's longest length the longest bar, to an eighth of a character with the blocks
    // U+2588 to U+258F (`blocks`), or in whole # without them. A length below 0 draws none.
    struct Bar {
        qint64 length;
        bool blocks;
    };

    Table(Format format, std::vector<Column> columns, Output& out);

    // A cell of the row being filled. The plain table makes only its text (`shown`: a callable
    // that returns the QString, or writes the UTF-8 into the Utf8& it is given), CSV and JSON
    // only its value: with a hundred thousand sessions, making texts that are not printed is
    // most of the time.
    template <typename Shown> void text(Shown&& shown, const QString& value) {
        if (plain())
            plain_text(shown);
        else
            text_value(value);
    }
    template <typename Shown> void number(Shown&& shown, qint64 value) {
        if (plain())
            plain_text(shown);
        else
            number_value(value);
    }
    // A yes or no: JSON's true or false, CSV's words for them.
    template <typename Shown> void flag(Shown&& shown, bool value) {
        if (plain())
            plain_text(shown);
        else
            flag_value(value);
    }
    void flag(Bar shown, bool value);
    // A length: as the report writes it in the plain table, else in whole seconds.
    void seconds(qint32 value);

    // Writes what is left: the plain table, or the end of the JSON array.
    void finish();

    // Bytes written through a pointer at the end of a buffer, room made first: a std::string
    // checks its room and moves its end at every append, which a long table makes millions of.
    class Bytes {
    public:
        explicit Bytes(std::size_t capacity = 0);
        Bytes(platform::Memory memory, std::size_t capacity);
        // Room for `size` more bytes at the end: they are written from the pointer it gives,
        // then end() says where the writing stopped.
        char* room(std::size_t size) {
            return capacity_ - size_ >= size ? data_.get() + size_ : grow(size);
        }
        void end(const char* at) { size_ = std::size_t(at - data_.get()); }
        std::size_t size() const { return size_; }
        std::size_t spare() const { return capacity_ - size_; }
        const char* data() const { return data_.get(); }
        void clear() { size_ = 0; }

    private:
        char* grow(std::size_t size);

        platform::Memory data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };

private:
    bool plain() const { return format_ == Format::plain; }
    template <typename Shown> void plain_text(Shown& shown) {
        shown_.clear();
        if constexpr (std::is_invocable_v<Shown&, Utf8&>)
            shown(shown_);
        else
            append_utf8(shown_, shown());
        keep_text();
    }
    void keep_text();
    void text_value(const QString& value);
    void number_value(qint64 value);
    void flag_value(bool value);
    // Where a CSV or JSON value is written: CSV's line, or the JSON row's values.
    Bytes& value_bytes();
    // After each cell: the CSV separator, and the end of the row after its last cell.
    void next_column();
    // A cell of the plain table: its `kind`, then `size` bytes, then `text`.
    template <std::size_t size>
    void keep(char kind, const char (&bytes)[size], std::string_view text = {});
    void flush();
    void plain_table();

    Format format_;
    std::vector<Column> columns_;
    Output& out_;
    std::size_t column_ = 0; // of the cell to come
    std::size_t rows_ = 0;
    Bytes pending_; // written out at the next flush
    // JSON: each column's key as a row writes it, in the keys' order, with what comes before.
    std::vector<std::size_t> json_order_;
    std::vector<std::string> json_keys_;
    Bytes json_values_;                  // the row's values, one after another
    std::vector<std::size_t> json_ends_; // where each column's value ends in json_values_
    // The plain table keeps each cell as little as it can: a text as its UTF-8, a length or a
    // bar as its number, made into text only when the table is laid out. It is kept in blocks
    // that are never copied as the table grows: each page is written once.
    std::vector<Bytes> kept_;
    std::vector<qsizetype> widths_; // in UTF-16 units, as a QString counts them
    std::vector<qint64> longest_;   // of each column's bars
    Utf8 shown_;                    // the plain text of the cell being filled
};

} // namespace kelvor::commandline
