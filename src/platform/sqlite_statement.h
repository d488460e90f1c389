#pragma once

// The small layer over the SQLite C API that the store's files share.

#include "platform/settings_store.h"
#include "platform/sqlite_connection.h"

#include <QString>
#include <QStringEncoder>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <sqlite3.h>

namespace kelvor::platform::sqlite {

inline sqlite3_stmt* prepare(sqlite3* db, const char* sql, unsigned int flags) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, flags, &stmt, nullptr) != SQLITE_OK) {
        throw StoreError(QStringLiteral("cannot prepare a statement: %1")
                             .arg(QString::fromUtf8(sqlite3_errmsg(db)))
                             .toStdString());
    }
    return stmt;
}

// Throws what an SQLite error `rc` on `db` means for the store, naming its file: StoreBusy
// when another program holds it, StoreDamaged when its pages do not hold together.
[[noreturn]] void fail(sqlite3* db, int rc);

// What the user reads about a store whose pages do not hold together, and what to do.
QString damaged_store_problem(const QString& shown_path);

// Runs `sql` (one or more statements); throws as fail() does.
inline void execute(sqlite3* db, const char* sql) {
    if (const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
        fail(db, rc);
}

// One prepared statement for the length of a call: either a one-off, finalized at the end,
// or one the store keeps, reset at the end so it holds no lock and is ready for the next call.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db), stmt_(prepare(db, sql, 0)), kept_(false) {}
    // One of the statements that `kept` keeps for the connection.
    Statement(sqlite3* db, KeptStatements& kept, const char* sql)
        : db_(db), stmt_(kept.get(db, sql)), kept_(true) {}
    ~Statement() {
        if (kept_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_); // before the texts they point to go
        } else {
            sqlite3_finalize(stmt_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Texts are bound where they are, without a copy: the statement keeps them until its end.
    // A short one, as nearly every text the store writes is, goes into the statement's own
    // room, which spares the minute's save an allocation per text.
    Statement& bind(int index, const QString& text) {
        if (const qsizetype space = utf8_.requiredSpace(text.size());
            space <= qsizetype(sizeof(room_)) - room_used_) {
            char* const begin = room_ + room_used_;
            const char* const end = utf8_.appendToBuffer(begin, text);
            room_used_ += end - begin;
            sqlite3_bind_text(stmt_, index, begin, int(end - begin), SQLITE_STATIC);
            return *this;
        }
        QByteArray utf8 = text.toUtf8();
        if (index >= int(std::size(texts_))) {
            sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            return *this;
        }
        texts_[index] = std::move(utf8);
        sqlite3_bind_text(stmt_, index, texts_[index].constData(), int(texts_[index].size()),
                          SQLITE_STATIC);
        return *this;
    }
    // A text that lives as long as the program, such as a literal.
    Statement& bind(int index, const char* lasting_text) {
        sqlite3_bind_text(stmt_, index, lasting_text, -1, SQLITE_STATIC);
        return *this;
    }
    Statement& bind_null(int index) {
        sqlite3_bind_null(stmt_, index);
        return *this;
    }
    Statement& bind(int index, qint64 number) {
        sqlite3_bind_int64(stmt_, index, number);
        return *this;
    }
    // True while a row is available; throws on any error.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(db_, rc);
    }
    QString text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(stmt_, column));
    }
    // The text of a column, as text() reads it, into `text`: a listing reads each row into the
    // same QString, whose buffer then serves every row without an allocation.
    void read_text(int column, QString& text) const { read_utf8(bytes(column), text); }
    // `utf8` into `text`, as QString::fromUtf8 reads it. ASCII, as nearly every stored text is,
    // is widened straight into the buffer `text` has.
    static void read_utf8(QByteArrayView utf8, QString& text) {
        std::uint8_t high = 0;
        for (const char byte : utf8)
            high |= static_cast<std::uint8_t>(byte) & 0x80;
        if (high != 0) {
            text = QString::fromUtf8(utf8);
            return;
        }
        text.resize(utf8.size());
        char16_t* to = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < utf8.size(); ++i)
            to[i] = static_cast<std::uint8_t>(utf8[i]);
    }
    bool is_text(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_TEXT; }
    // The UTF-8 bytes of a column, valid until the next step.
    QByteArrayView bytes(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return {data, sqlite3_column_bytes(stmt_, column)};
    }
    int integer(int column) const { return sqlite3_column_int(stmt_, column); }
    // Ready to run again; the bindings stay.
    void reset() { sqlite3_reset(stmt_); }
    qint64 integer64(int column) const { return sqlite3_column_int64(stmt_, column); }
    // A length edited by hand beyond 32 bits stays one that a duration text can show. The
    // bookkeeping's own clamp (session/numbers) is out of reach here: session/ is built on
    // this layer, never the other way round.
    qint32 integer32(int column) const {
        return qint32(std::clamp<qint64>(integer64(column), std::numeric_limits<qint32>::min(),
                                         std::numeric_limits<qint32>::max()));
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool kept_;
    QStringEncoder utf8_{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    char room_[256];
    qsizetype room_used_ = 0;
    QByteArray texts_[6]; // by parameter index; the store's statements take up to five
};

} // namespace kelvor::platform::sqlite
