#pragma once

#include <QString>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

namespace kelvor::testing {

// Every row of a store file as another program sees it, read through its own read-only
// connection: what a new run of Kelvor would find after the last process ended, however it
// ended. Never creates or changes the file.
struct StoreDump {
    struct Row {
        QString section;
        QString key;
        QString value;
        bool operator==(const Row&) const = default;
    };
    std::vector<Row> rows; // in first-written order
    // The session history, in the order the sessions started; nullopt without the table.
    struct Session {
        QString started;
        qint64 seconds = 0;
        QString ended;
        QString ending;
        qint64 locked_seconds = 0;
        bool operator==(const Session&) const = default;
    };
    std::optional<std::vector<Session>> sessions;
    // The day ledger, oldest first; nullopt without the table.
    struct Day {
        QString day;
        qint64 seconds = 0;
        qint64 locked_seconds = 0;
        qint64 sessions = 0;
        bool estimated = false;
        bool operator==(const Day&) const = default;
    };
    std::optional<std::vector<Day>> days;

    // An absent file or a file without the table gives an empty dump.
    static StoreDump of_file(const QString& path);

    QString get(const QString& section, const QString& key,
                const QString& fallback = QStringLiteral("<absent>")) const;
    std::vector<std::pair<QString, QString>> section(const QString& section) const;
    // The sum of a section's values; a value that is not a number makes it NaN.
    double sum(const QString& section) const;
    // A number of the "Stat" section; absent is 0, anything else that is not a number is NaN.
    double number(const QString& key) const;
    bool running() const {
        return get(QStringLiteral("Stat"), QStringLiteral("debuted?")) == "Yes";
    }

    bool operator==(const StoreDump&) const = default;
};

void PrintTo(const StoreDump& dump, std::ostream* out);

// What holds in every store that only Kelvor has written, after any end of any process:
// - the month sections add up to the overall figures: sum of "Month_nb_time" is
//   "nb_time_total", of "Month_nb_crash" is "nb_session_crashed", of "Month_nb_session" is
//   "nb_session" less the running session ("debuted?" = "Yes");
// - a session is either not started at all or started completely ("nb_session", "debuted?",
//   "recupered_time", "first_time_run" and "Creator_name" come together);
// - the records agree: the longest of the months is "longest", "shortest" <= "longest",
//   and a record has its date;
// - every session of the history that ended properly or crashed is booked in the totals exactly
//   once: with what was booked before the history began (`before_history`, for a store kept
//   by the first release until its upgrade), they make up "nb_session" less the running one,
//   "nb_session_crashed" and "nb_time_total"; one session is marked running exactly when
//   "debuted?" says so, and it is the last;
// - the day ledger holds what the history books, the running session with its saved seconds
//   ("recupered_time"), and the locked seconds of the history; no day has more locked
//   seconds than seconds, nor time without a session.
struct Booked {
    double sessions = 0;
    double crashed = 0;
    double seconds = 0;
};
::testing::AssertionResult store_invariants_hold(const StoreDump& dump,
                                                 const Booked& before_history = {});

} // namespace kelvor::testing
