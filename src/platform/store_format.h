#pragma once

#include <QString>
#include <vector>

struct sqlite3;

// What a Kelvor store file is: every format this program knows, and how a database is told to
// be one of them by reading alone.
namespace kelvor::platform {

// SQLite's application_id in the header of every store Kelvor makes: "KLVR" in ASCII.
inline constexpr int kelvor_application_id = 0x4B4C5652;

// One format of the store: the user_version it carries, the statements that make its schema,
// exactly as they were run when such stores were made, and those that turn a store of the
// format before it into this one (giving the same schema).
struct StoreFormat {
    int version;
    std::vector<const char*> schema;
    std::vector<const char*> upgrade;
};

// The days of use that the booked sessions of a history give: one row (day, seconds, sessions)
// per local calendar day, oldest first, each session split at midnights. The upgrade to
// format 3 fills the day ledger with it; a reader of a format-2 store estimates its days by it.
extern const char* const days_of_history_query;

// Adds to the day ledger of `db` (of the newest format) the days of its history that it lacks,
// marked estimated; returns how many.
qint64 add_missing_days_of_history(sqlite3* db);

// Every format this program opens, oldest first; new stores get the last one.
const std::vector<StoreFormat>& store_formats();

// Whether a store of format `version` keeps the session history (the first format did not).
bool format_has_history(int version);
// Whether it keeps the locked seconds and the day ledger (format 3 on).
bool format_has_days(int version);

// Whose a database is.
struct StoreContents {
    enum class Kind {
        empty,  // nothing in it at all: no schema, user_version and application_id 0
        kelvor, // the schema of a known format, exactly, under its user_version
        foreign,
        newer, // marked as Kelvor's, of a format this program does not know yet
    };
    Kind kind = Kind::empty;
    int version = 0;        // the format; for a newer or foreign file, its user_version
    int application_id = 0; // 0 in stores of the first release
    // Kelvor's: user_version and application_id both say what it is. A copy made by SQLite's
    // .dump or .clone loses them, and gets them back at the next writable opening.
    bool marked = false;
    QString problem; // foreign or newer: why, for the user
};

// Reads the schema, user_version and application_id of `db` and nothing else. The schema
// decides: a database holding exactly a known format's schema (however its SQL was spaced,
// cased or quoted) is Kelvor's, under that format's user_version or under 0 (a copy that lost
// it), unless it is marked as another program's (application_id). Anything else is foreign;
// one marked as Kelvor's under a user_version above the newest known is newer. Throws
// StoreError when the database cannot be read at all.
StoreContents classify_store(sqlite3* db, const QString& shown_path);

// Makes the newest format's schema with its user_version and Kelvor's application_id, inside
// the caller's transaction.
void create_current_schema(sqlite3* db);

// Brings a Kelvor store of format `version` to the newest format, with Kelvor's
// application_id, inside the caller's transaction. Nothing is done to a current store that
// already carries the id.
void upgrade_to_current_schema(sqlite3* db, int version);

// Whether a store that `contents` describes needs bring_to_newest_format: it is empty, of an
// older format, or a copy that lost Kelvor's marks (an sqlite3 .dump).
bool needs_newest_format(const StoreContents& contents);
// An empty store gets the newest format's schema, any other the upgrade; inside the caller's
// transaction.
void bring_to_newest_format(sqlite3* db, const StoreContents& contents);

} // namespace kelvor::platform
