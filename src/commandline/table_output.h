#pragma once

#include "commandline/figures_output.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

// The tables the options print, in each of their formats.
namespace kelvor::commandline {

struct Column {
    QString title; // over the plain table
    QString field; // CSV header, JSON key
};

// A table in one format, filled cell by cell, row after row. CSV and JSON go out a row at a
// time; the plain table waits for its last row, which may be the widest.
class Table {
public:
    Table(Format format, std::vector<Column> columns, Output& out);

    // A cell of the row being filled. The plain table makes only its text (`shown`), CSV and
    // JSON only its value: with a hundred thousand sessions, making texts that are not
    // printed is most of the time.
    template <typename Shown> void text(Shown&& shown, const QString& value) {
        add(plain() ? Cell{shown(), {}, {}} : Cell{value, {}, {}});
    }
    template <typename Shown> void number(Shown&& shown, qint64 value) {
        add(plain() ? Cell{shown(), {}, {}} : Cell{{}, value, {}});
    }
    // A yes or no: JSON's true or false, CSV's words for them.
    template <typename Shown> void flag(Shown&& shown, bool value) {
        add(plain() ? Cell{shown(), {}, {}} : Cell{{}, {}, value});
    }
    // A length: as the report writes it in the plain table, else in whole seconds.
    void seconds(qint32 value);

    // Writes what is left: the plain table, or the end of the JSON array.
    void finish();

private:
    // One value of the row being filled: its text, or for CSV and JSON a number or a flag.
    struct Cell {
        QString text;
        std::optional<qint64> number;
        std::optional<bool> flag;
    };
    // The texts are gathered in a plain UTF-16 buffer: appending to it costs a few
    // instructions, to a QString many times more, and a long history appends a lot.
    using Text = std::u16string;

    bool plain() const { return format_ == Format::plain; }
    void add(Cell cell);
    void flush();
    void plain_table();
    void csv_row();
    void json_row();

    Format format_;
    std::vector<Column> columns_;
    Output& out_;
    std::vector<std::size_t> json_order_;
    std::vector<std::u16string> json_keys_; // each column's key as a JSON row writes it
    std::vector<qsizetype> widths_;
    std::vector<Cell> row_;
    std::size_t rows_ = 0;
    Text texts_;                    // plain: every cell's text, one after another
    std::vector<std::size_t> ends_; // plain: where each cell's text ends in texts_
    Text pending_;                  // written out at the next flush
};

} // namespace kelvor::commandline
