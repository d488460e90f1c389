#include "platform/store_format.h"

#include "platform/sqlite_statement.h"

#include <QStringList>
#include <map>

// Each session with what it is booked with -- one still marked running with the seconds it
// saved, which the start that finds it books -- from its start's local date and time as
// stored, split at midnights into days of 24 hours (summer time is not known here), its length
// clamped to 32 bits; starts edited into something else than a date and time are left out.
#define KELVOR_DAYS_OF_HISTORY                                                                     \
    "WITH RECURSIVE booked(started, seconds) AS (SELECT started, CASE ending"                      \
    " WHEN 'running' THEN (SELECT max(0, CAST(value AS INTEGER)) FROM settings"                    \
    " WHERE app = 'KELVOR' AND section = 'Stat' AND key = 'recupered_time')"                       \
    " ELSE seconds END FROM sessions),"                                                            \
    " piece(day, at, rest) AS ("                                                                   \
    " SELECT date(substr(started, 1, 10)),"                                                        \
    " strftime('%s', substr(started, 1, 19)) - strftime('%s', substr(started, 1, 10)),"            \
    " min(seconds, 2147483647) FROM booked WHERE seconds > 0"                                      \
    " UNION ALL SELECT date(day, '+1 day'), 0, rest - (86400 - at) FROM piece"                     \
    " WHERE rest > 86400 - at)"                                                                    \
    " SELECT day, sum(min(rest, 86400 - at)) AS seconds, count(*) AS sessions FROM piece"          \
    " WHERE day IS NOT NULL AND at IS NOT NULL GROUP BY day ORDER BY day"

namespace kelvor::platform {

const char* const days_of_history_query = KELVOR_DAYS_OF_HISTORY;

namespace {

// The statements as they were first run: a store keeps their text in its schema.
constexpr const char* settings_table = "CREATE TABLE IF NOT EXISTS settings ("
                                       " seq INTEGER PRIMARY KEY,"
                                       " app TEXT NOT NULL,"
                                       " section TEXT NOT NULL,"
                                       " key TEXT NOT NULL,"
                                       " value TEXT NOT NULL,"
                                       " UNIQUE (app, section, key))";
// A section listed in first-written order straight from an index, without a sort.
constexpr const char* settings_by_section =
    "CREATE INDEX settings_by_section ON settings (app, section, seq)";
// One row per session since the store had this table. `seconds` is 0 while the session runs
// (its saved seconds are the setting Stat/recupered_time), then what was booked for it;
// `ended` is the moment of a proper end.
constexpr const char* sessions_table =
    "CREATE TABLE sessions ("
    " id INTEGER PRIMARY KEY,"
    " started TEXT NOT NULL,"
    " seconds INTEGER NOT NULL,"
    " ended TEXT,"
    " ending TEXT NOT NULL CHECK (ending IN ('running', 'proper', 'crashed')))";
// Format 3: the seconds the screen was locked, saved with the running seconds; what SQLite
// makes of the format-2 table by the upgrade's ADD COLUMN, which new stores get as it is.
constexpr const char* sessions_locked_column =
    "ALTER TABLE sessions ADD COLUMN locked_seconds INTEGER NOT NULL DEFAULT 0";
// One row per local calendar day with use, written in the transactions that save the running
// seconds. Without rowid: the day is the key, and a tick's update changes one page, not two.
constexpr const char* days_table = "CREATE TABLE days ("
                                   " day TEXT PRIMARY KEY,"
                                   " seconds INTEGER NOT NULL,"
                                   " locked_seconds INTEGER NOT NULL,"
                                   " sessions INTEGER NOT NULL,"
                                   " estimated INTEGER NOT NULL DEFAULT 0) WITHOUT ROWID";
// The days before the ledger, as the history gives them.
constexpr const char* days_of_history =
    "INSERT INTO days (day, seconds, locked_seconds, sessions, estimated) "
    "SELECT day, seconds, 0, sessions, 1 FROM (" KELVOR_DAYS_OF_HISTORY ")";
constexpr const char* missing_days_of_history =
    "INSERT OR IGNORE INTO days (day, seconds, locked_seconds, sessions, estimated) "
    "SELECT day, seconds, 0, sessions, 1 FROM (" KELVOR_DAYS_OF_HISTORY ")";

void stamp_current_version(sqlite3* db) {
    const QByteArray stamp = QStringLiteral("PRAGMA user_version = %1; PRAGMA application_id = %2")
                                 .arg(store_formats().back().version)
                                 .arg(kelvor_application_id)
                                 .toUtf8();
    sqlite::execute(db, stamp.constData());
}

// A schema as (type, name, table, SQL) for every object, in a fixed order. The SQL is compared
// without its spacing, case and the quotes around names, so a schema typed by hand in an
// sqlite3 shell, or a table renamed and renamed back (SQLite then quotes its name), is
// recognised; a missing constraint, an extra column, index, view or trigger is not. The
// statistics tables that ANALYZE adds are left out: a user may run it on the store.
using Schema = std::vector<QStringList>;

QString comparable_sql(const QString& sql) {
    QString text = sql.simplified().toUpper();
    // Kelvor's names hold no character that needs quotes, and its one literal no double quote.
    for (const QChar quote : {u'"', u'`', u'[', u']'})
        text.remove(quote);
    // simplified() leaves single spaces, so every space beside a parenthesis or a comma goes.
    // Plain replacements: a regular expression here cost the start a JIT compilation and its
    // library's pages.
    for (const QLatin1StringView spaced :
         {QLatin1StringView(" ("), QLatin1StringView("( "), QLatin1StringView(" )"),
          QLatin1StringView(") "), QLatin1StringView(" ,"), QLatin1StringView(", ")})
        text.replace(spaced, spaced.trimmed());
    return text;
}

// "notes, settings" for a problem text: the tables a foreign file holds.
QString table_names(const Schema& schema) {
    QStringList names;
    for (const QStringList& object : schema) {
        if (object.at(0) == QLatin1String("table"))
            names << object.at(1).toLower();
    }
    if (names.size() > 5)
        names = names.mid(0, 5) << QStringLiteral("...");
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

Schema schema_of(sqlite3* db) {
    sqlite::Statement s(db, "SELECT type, upper(name), upper(tbl_name), coalesce(sql, '')"
                            " FROM sqlite_schema WHERE name NOT LIKE 'sqlite\\_stat%' ESCAPE '\\'"
                            " ORDER BY 1, 2");
    Schema schema;
    while (s.step())
        schema.push_back({s.text(0), s.text(1), s.text(2), comparable_sql(s.text(3))});
    return schema;
}

int pragma_value(sqlite3* db, const char* pragma) {
    sqlite::Statement s(db, pragma);
    return s.step() ? s.integer(0) : 0;
}

// The schema a format makes, described by SQLite itself from an empty database in memory;
// made when a store of that format is first met (a start meets one).
const Schema* expected_schema(int version) {
    static std::map<int, Schema> made;
    if (const auto known = made.find(version); known != made.end())
        return &known->second;
    for (const StoreFormat& format : store_formats()) {
        if (format.version != version)
            continue;
        sqlite3* db = nullptr;
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
        for (const char* statement : format.schema)
            sqlite::execute(db, statement);
        Schema schema = schema_of(db);
        sqlite3_close_v2(db);
        return &made.emplace(version, std::move(schema)).first->second;
    }
    return nullptr;
}

} // namespace

// A new format is one more entry: its schema exactly as new stores get it, and the statements
// that bring a store of the format before it there. A store of any older format is upgraded
// through each entry in turn, in one transaction.
const std::vector<StoreFormat>& store_formats() {
    static const std::vector<StoreFormat> formats = {
        {1, {settings_table}, {}},
        {2,
         {settings_table, settings_by_section, sessions_table},
         {settings_by_section, sessions_table}},
        {3,
         {settings_table, settings_by_section, sessions_table, sessions_locked_column, days_table},
         {sessions_locked_column, days_table, days_of_history}},
    };
    return formats;
}

bool format_has_history(int version) {
    return version >= 2;
}

bool format_has_days(int version) {
    return version >= 3;
}

StoreContents classify_store(sqlite3* db, const QString& shown_path) {
    StoreContents found;
    const int user_version = pragma_value(db, "PRAGMA user_version");
    found.version = user_version;
    found.application_id = pragma_value(db, "PRAGMA application_id");
    const Schema schema = schema_of(db);
    if (found.application_id == 0 && found.version == 0 && schema.empty())
        return found;
    found.kind = StoreContents::Kind::foreign;
    if (found.application_id != 0 && found.application_id != kelvor_application_id) {
        found.problem =
            QStringLiteral("%1 is not a Kelvor store: it is marked as another program's "
                           "(application_id %2).")
                .arg(shown_path)
                .arg(found.application_id);
        return found;
    }
    if (const int newest = store_formats().back().version;
        found.application_id == kelvor_application_id && found.version > newest) {
        found.kind = StoreContents::Kind::newer;
        found.problem = QStringLiteral("%1 was made by a newer Kelvor (store format %2; this "
                                       "Kelvor knows formats up to %3), and is left as it is.")
                            .arg(shown_path)
                            .arg(found.version)
                            .arg(newest);
        return found;
    }
    // The format the file says it is comes first, so that a start makes no other's schema.
    std::vector<const StoreFormat*> candidates;
    for (const StoreFormat& format : store_formats())
        candidates.insert(format.version == user_version ? candidates.begin() : candidates.end(),
                          &format);
    for (const StoreFormat* format_of : candidates) {
        const StoreFormat& format = *format_of;
        if (*expected_schema(format.version) != schema)
            continue;
        if (user_version != 0 && user_version != format.version) {
            found.problem = QStringLiteral("%1 is not a Kelvor store: it has the tables of "
                                           "Kelvor's store format %2 but user_version %3.")
                                .arg(shown_path)
                                .arg(format.version)
                                .arg(user_version);
            return found;
        }
        found.kind = StoreContents::Kind::kelvor;
        found.version = format.version;
        found.marked =
            user_version == format.version && found.application_id == kelvor_application_id;
        return found;
    }
    found.problem = QStringLiteral("%1 is not a Kelvor store: its tables (%2) are not those of "
                                   "any Kelvor store format.")
                        .arg(shown_path, table_names(schema));
    return found;
}

qint64 add_missing_days_of_history(sqlite3* db) {
    sqlite::execute(db, missing_days_of_history);
    return sqlite3_changes64(db);
}

void create_current_schema(sqlite3* db) {
    for (const char* statement : store_formats().back().schema)
        sqlite::execute(db, statement);
    stamp_current_version(db);
}

void upgrade_to_current_schema(sqlite3* db, int version) {
    for (const StoreFormat& format : store_formats()) {
        if (format.version <= version)
            continue;
        for (const char* statement : format.upgrade)
            sqlite::execute(db, statement);
    }
    stamp_current_version(db);
}

bool needs_newest_format(const StoreContents& contents) {
    return contents.kind == StoreContents::Kind::empty ||
           contents.version < store_formats().back().version || !contents.marked;
}

void bring_to_newest_format(sqlite3* db, const StoreContents& contents) {
    if (contents.kind == StoreContents::Kind::empty)
        create_current_schema(db);
    else
        upgrade_to_current_schema(db, contents.version);
}

} // namespace kelvor::platform
