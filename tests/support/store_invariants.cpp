#include "support/store_invariants.h"

#include "session/numbers.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sqlite3.h>
#include <sstream>

namespace kelvor::testing {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

double as_number(const QString& text) {
    return session::parse_number(text).value_or(not_a_number);
}

QString column_text(sqlite3_stmt* stmt, int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

} // namespace

StoreDump StoreDump::of_file(const QString& path) {
    StoreDump dump;
    if (!QFileInfo::exists(path))
        return dump;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return dump;
    }
    sqlite3_busy_timeout(db, 5000);
    // Each row of `sql` to `row`; nullopt when the table is not there.
    const auto rows_of = [db]<typename T>(std::optional<std::vector<T>>& into, const char* sql,
                                          auto&& row) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            into.emplace();
            while (sqlite3_step(stmt) == SQLITE_ROW)
                into->push_back(row(stmt));
        }
        sqlite3_finalize(stmt);
    };
    std::optional<std::vector<Row>> settings;
    rows_of(settings, "SELECT section, key, value FROM settings ORDER BY seq", [](auto* stmt) {
        return Row{column_text(stmt, 0), column_text(stmt, 1), column_text(stmt, 2)};
    });
    dump.rows = settings.value_or(std::vector<Row>{});
    const auto session = [](auto* stmt) {
        return Session{column_text(stmt, 0), sqlite3_column_int64(stmt, 1), column_text(stmt, 2),
                       column_text(stmt, 3), sqlite3_column_int64(stmt, 4)};
    };
    rows_of(dump.sessions,
            "SELECT started, seconds, coalesce(ended, ''), ending, locked_seconds FROM sessions "
            "ORDER BY id",
            session);
    if (!dump.sessions) // a store of the second format has no locked seconds
        rows_of(dump.sessions,
                "SELECT started, seconds, coalesce(ended, ''), ending, 0 FROM sessions ORDER BY id",
                session);
    rows_of(dump.days,
            "SELECT day, seconds, locked_seconds, sessions, estimated FROM days ORDER BY day",
            [](auto* stmt) {
                return Day{column_text(stmt, 0), sqlite3_column_int64(stmt, 1),
                           sqlite3_column_int64(stmt, 2), sqlite3_column_int64(stmt, 3),
                           sqlite3_column_int64(stmt, 4) != 0};
            });
    sqlite3_close(db);
    return dump;
}

QString StoreDump::get(const QString& section, const QString& key, const QString& fallback) const {
    for (const Row& row : rows) {
        if (row.section == section && row.key == key)
            return row.value;
    }
    return fallback;
}

std::vector<std::pair<QString, QString>> StoreDump::section(const QString& name) const {
    std::vector<std::pair<QString, QString>> pairs;
    for (const Row& row : rows) {
        if (row.section == name)
            pairs.emplace_back(row.key, row.value);
    }
    return pairs;
}

double StoreDump::sum(const QString& name) const {
    double total = 0;
    for (const auto& [key, value] : section(name))
        total += as_number(value);
    return total;
}

double StoreDump::number(const QString& key) const {
    const QString text = get(QStringLiteral("Stat"), key);
    return text == QLatin1String("<absent>") ? 0 : as_number(text);
}

void PrintTo(const StoreDump& dump, std::ostream* out) {
    *out << "{";
    for (const auto& row : dump.rows) {
        *out << "\n  " << row.section.toStdString() << "/" << row.key.toStdString() << " = "
             << row.value.toStdString();
    }
    *out << (dump.rows.empty() ? "empty}" : "\n}");
    if (dump.sessions) {
        *out << " sessions {";
        for (const auto& session : *dump.sessions) {
            *out << "\n  " << session.started.toStdString() << " " << session.seconds << " s "
                 << session.ending.toStdString() << " " << session.ended.toStdString() << " "
                 << session.locked_seconds << " s locked";
        }
        *out << "}";
    }
}

::testing::AssertionResult store_invariants_hold(const StoreDump& dump,
                                                 const Booked& before_history) {
    std::vector<std::string> broken;
    const auto expect = [&](bool holds, const QString& what) {
        if (!holds)
            broken.push_back(what.toStdString());
    };
    const auto stat = [&](const char* key) { return dump.get(QStringLiteral("Stat"), key); };
    const auto present = [&](const char* key) { return stat(key) != QLatin1String("<absent>"); };
    const auto text = [](double v) { return QString::number(v, 'f', 0); };

    if (!present("nb_session")) {
        expect(dump.rows.empty(), QStringLiteral("no session was counted, yet the store has rows"));
    } else {
        for (const char* key : {"debuted?", "recupered_time", "first_time_run", "Creator_name"})
            expect(present(key), QStringLiteral("a started session without Stat/%1").arg(key));
        expect(stat("debuted?") == "Yes" || stat("debuted?") == "No",
               QStringLiteral("debuted? is neither Yes nor No"));
    }

    const double sessions = dump.number("nb_session");
    const double running = dump.running() ? 1 : 0;
    const double month_sessions = dump.sum(QStringLiteral("Month_nb_session"));
    expect(month_sessions == sessions - running,
           QStringLiteral("sum of Month_nb_session is %1, nb_session %2, running %3")
               .arg(text(month_sessions), text(sessions), text(running)));
    const double month_time = dump.sum(QStringLiteral("Month_nb_time"));
    expect(month_time == dump.number("nb_time_total"),
           QStringLiteral("sum of Month_nb_time is %1, nb_time_total %2")
               .arg(text(month_time), text(dump.number("nb_time_total"))));
    const double month_crashes = dump.sum(QStringLiteral("Month_nb_crash"));
    expect(month_crashes == dump.number("nb_session_crashed"),
           QStringLiteral("sum of Month_nb_crash is %1, nb_session_crashed %2")
               .arg(text(month_crashes), text(dump.number("nb_session_crashed"))));
    expect(std::isfinite(as_number(stat("recupered_time"))) || !present("recupered_time"),
           QStringLiteral("recupered_time is not a number"));

    // Records.
    double month_longest = 0;
    for (const auto& [key, value] : dump.section(QStringLiteral("Month_longest")))
        month_longest = std::max(month_longest, as_number(value));
    expect(present("longest") == !dump.section(QStringLiteral("Month_longest")).empty(),
           QStringLiteral("longest and Month_longest are not set together"));
    if (present("longest")) {
        expect(dump.number("longest") == month_longest,
               QStringLiteral("longest is %1, the longest month session %2")
                   .arg(stat("longest"), text(month_longest)));
        expect(!present("shortest") || dump.number("shortest") <= dump.number("longest"),
               QStringLiteral("shortest is longer than longest"));
    }
    expect(present("shortest") == (month_sessions > 0),
           QStringLiteral("shortest is %1 after %2 booked sessions")
               .arg(stat("shortest"), text(month_sessions)));
    expect(present("shortest") == present("shortest_date"),
           QStringLiteral("shortest without its date, or the reverse"));
    expect(present("longest") == present("longest_date"),
           QStringLiteral("longest without its date, or the reverse"));

    // The history.
    if (dump.sessions) {
        Booked booked = before_history;
        int running = 0;
        for (const auto& session : *dump.sessions) {
            expect(session.seconds >= 0, QStringLiteral("a negative length in the history"));
            if (session.ending == "running") {
                ++running;
                expect(&session == &dump.sessions->back(),
                       QStringLiteral("a running session is not the last"));
                continue;
            }
            booked.sessions += 1;
            booked.crashed += session.ending == "crashed" ? 1 : 0;
            booked.seconds += double(session.seconds);
            expect(session.ended.isEmpty() == (session.ending == "crashed"),
                   QStringLiteral("an end moment on a crash, or none on a proper end"));
        }
        expect(running == (dump.running() ? 1 : 0),
               QStringLiteral("%1 sessions marked running, debuted? %2")
                   .arg(running)
                   .arg(stat("debuted?")));
        expect(booked.sessions == sessions - double(running),
               QStringLiteral("the history and what came before it book %1 sessions, "
                              "nb_session less the running one is %2")
                   .arg(text(booked.sessions), text(sessions - double(running))));
        expect(booked.crashed == dump.number("nb_session_crashed"),
               QStringLiteral("the history and what came before it book %1 crashes, "
                              "nb_session_crashed is %2")
                   .arg(text(booked.crashed), text(dump.number("nb_session_crashed"))));
        expect(booked.seconds == dump.number("nb_time_total"),
               QStringLiteral("the history and what came before it book %1 s, "
                              "nb_time_total is %2")
                   .arg(text(booked.seconds), text(dump.number("nb_time_total"))));
    }

    // The day ledger.
    if (dump.days) {
        double seconds = 0, locked = 0;
        for (const auto& day : *dump.days) {
            seconds += double(day.seconds);
            locked += double(day.locked_seconds);
            expect(day.locked_seconds >= 0 && day.locked_seconds <= day.seconds,
                   QStringLiteral("%1 has %2 s locked of %3 s")
                       .arg(day.day)
                       .arg(day.locked_seconds)
                       .arg(day.seconds));
            expect(day.seconds == 0 || day.sessions > 0,
                   QStringLiteral("%1 has time and no session").arg(day.day));
        }
        double booked = 0, booked_locked = 0;
        for (const auto& session : dump.sessions.value_or(std::vector<StoreDump::Session>{})) {
            booked += session.ending == "running" ? as_number(stat("recupered_time"))
                                                  : double(session.seconds);
            booked_locked += double(session.locked_seconds);
        }
        expect(seconds == booked, QStringLiteral("the days hold %1 s, the history books %2 s")
                                      .arg(text(seconds), text(booked)));
        expect(locked == booked_locked,
               QStringLiteral("the days hold %1 s locked, the history %2 s")
                   .arg(text(locked), text(booked_locked)));
    }

    if (broken.empty())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const auto& b : broken)
        failure << b << "; ";
    std::ostringstream rows;
    PrintTo(dump, &rows);
    return failure << "in the store " << rows.str();
}

} // namespace kelvor::testing
