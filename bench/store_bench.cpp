// Store cost of the two writing sequences that run while Kelvor is in use: one timer tick
// and the end-of-session booking, each against the barest durable write SQLite offers, a
// prepared UPSERT committed on its own, on the same file system with the same pragmas.
//
//   bench_store <folder> [--iterations N]
//   bench_store --seed <store file> <months> [sessions]
//                                  writes a store with that many months, and sessions in its
//                                  history
//   bench_store --open <store file>
//                                  times opening that store read-only, as the options do, and
//                                  the integrity check that every opening runs
//
// Prints one line per figure: medians in microseconds, their ratio, and commits and syncs
// (fdatasync/fsync calls) per operation as counted inside SQLite.
#include "bench_common.h"
#include "platform/clock.h"
#include "platform/sqlite_store.h"
#include "session/session_tracker.h"
#include "session/store_names.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

using namespace kelvor;
namespace names = kelvor::session::names;

namespace {

// The baseline: the same table, the same pragmas, one statement prepared once.
class BareUpsert {
public:
    explicit BareUpsert(const QString& path) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open the baseline file");
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA synchronous = FULL");
        sqlite3_busy_timeout(db_, 5000);
        sqlite3_prepare_v2(db_,
                           "INSERT INTO settings (app, section, key, value) VALUES (?1, ?2, ?3, "
                           "?4) ON CONFLICT (app, section, key) DO UPDATE SET value = "
                           "excluded.value",
                           -1, &stmt_, nullptr);
        sqlite3_bind_text(stmt_, 1, "KELVOR", -1, SQLITE_STATIC);
        sqlite3_bind_text(stmt_, 2, "Stat", -1, SQLITE_STATIC);
        sqlite3_bind_text(stmt_, 3, "recupered_time", -1, SQLITE_STATIC);
    }
    ~BareUpsert() {
        sqlite3_finalize(stmt_);
        sqlite3_close(db_);
    }
    // One UPSERT in autocommit mode: the statement and its commit.
    void write(long seconds) {
        const std::string value = std::to_string(seconds);
        sqlite3_bind_text(stmt_, 4, value.c_str(), int(value.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt_) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_));
        sqlite3_reset(stmt_);
    }

private:
    void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

struct Figure {
    double ours_us;
    double bare_us;
    double ours_cpu_us;
    double bare_cpu_us;
    double ours_commits;
    double ours_syncs;
    double bare_commits;
    double bare_syncs;
};

// Runs `ours` and the baseline alternately, so that load from elsewhere on the machine falls
// on both alike.
template <typename Ours>
Figure measure(int iterations, const std::string& ours_path, const std::string& bare_path,
               Ours&& ours, BareUpsert& bare) {
    long counter = 0;
    for (int i = 0; i < 10; ++i) { // warm-up: caches, WAL file grown
        ours();
        bare.write(++counter);
    }
    const auto ours_before = bench::counters_for(ours_path);
    const auto bare_before = bench::counters_for(bare_path);
    std::vector<double> ours_us, bare_us, ours_cpu, bare_cpu;
    const auto run_ours = [&] {
        const double cpu = bench::thread_cpu_us();
        ours_us.push_back(bench::time_us(ours));
        ours_cpu.push_back(bench::thread_cpu_us() - cpu);
    };
    const auto run_bare = [&] {
        const double cpu = bench::thread_cpu_us();
        bare_us.push_back(bench::time_us([&] { bare.write(++counter); }));
        bare_cpu.push_back(bench::thread_cpu_us() - cpu);
    };
    for (int i = 0; i < iterations; ++i) {
        if (i % 2 == 0) {
            run_ours();
            run_bare();
        } else {
            run_bare();
            run_ours();
        }
    }
    const auto ours_after = bench::counters_for(ours_path);
    const auto bare_after = bench::counters_for(bare_path);
    const double n = iterations;
    return {bench::median(ours_us),
            bench::median(bare_us),
            bench::median(ours_cpu),
            bench::median(bare_cpu),
            (ours_after.commits - ours_before.commits) / n,
            (ours_after.syncs - ours_before.syncs) / n,
            (bare_after.commits - bare_before.commits) / n,
            (bare_after.syncs - bare_before.syncs) / n};
}

void print(const char* name, const Figure& f) {
    std::printf("%s ours_us=%.1f bare_us=%.1f ratio=%.3f ours_cpu_us=%.1f bare_cpu_us=%.1f "
                "ours_commits=%.2f ours_syncs=%.2f bare_commits=%.2f bare_syncs=%.2f\n",
                name, f.ours_us, f.bare_us, f.ours_us / f.bare_us, f.ours_cpu_us, f.bare_cpu_us,
                f.ours_commits, f.ours_syncs, f.bare_commits, f.bare_syncs);
    std::fflush(stdout);
}

// Medians of 21 read-only openings of the store, and of its integrity check alone on an
// open connection; what the check reads is cached after the first.
void time_opening(const QString& path) {
    std::vector<double> open_us, check_us;
    for (int i = 0; i < 21; ++i) {
        open_us.push_back(bench::time_us(
            [&] { platform::SqliteStore store(path, platform::SqliteStore::Access::read_only); }));
        sqlite3* db = nullptr;
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        check_us.push_back(bench::time_us(
            [&] { sqlite3_exec(db, "PRAGMA quick_check", nullptr, nullptr, nullptr); }));
        sqlite3_close(db);
    }
    std::printf("open read_only_us=%.1f quick_check_us=%.1f bytes=%lld\n", bench::median(open_us),
                bench::median(check_us), static_cast<long long>(QFile(path).size()));
}

} // namespace

int main(int argc, char* argv[]) {
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--seed") {
        platform::SettableClock clock(QDateTime(QDate(2024, 3, 25), QTime(9, 0, 0)));
        platform::SqliteStore store(QString::fromLocal8Bit(argv[2]));
        const int months = std::atoi(argv[3]);
        bench::seed_history(store, clock, months);
        if (argc == 5)
            bench::seed_sessions(store, clock, months, std::atoi(argv[4]));
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--open") {
        time_opening(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    if (argc < 2) {
        std::fputs("usage: bench_store <folder> [--iterations N]\n"
                   "       bench_store --seed <store file> <months> [sessions]\n"
                   "       bench_store --open <store file>\n",
                   stderr);
        return 2;
    }
    // Absolute, as SQLite names the files it opens.
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int iterations = argc >= 4 ? std::atoi(argv[3]) : 200;
    QDir().mkpath(folder);
    const QString ours_path = folder + QStringLiteral("/kelvor.sqlite3");
    const QString bare_path = folder + QStringLiteral("/bare.sqlite3");
    for (const QString& base : {ours_path, bare_path})
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(base + QLatin1String(suffix));

    bench::install_sqlite_counters();
    platform::SettableClock clock(QDateTime(QDate(2024, 3, 25), QTime(9, 0, 0)));
    {
        platform::SqliteStore seeded(ours_path);
        bench::seed_history(seeded, clock, 120);
    } // closing checkpoints the WAL into the file, so the copy holds everything
    // A plain copy: QFile::copy would add an fsync of its own to the count.
    std::filesystem::copy_file(QFile::encodeName(ours_path).toStdString(),
                               QFile::encodeName(bare_path).toStdString());
    const std::string ours_file = QFile::encodeName(ours_path).toStdString();
    const std::string bare_file = QFile::encodeName(bare_path).toStdString();
    {
        platform::SqliteStore store(ours_path);
        BareUpsert bare(bare_path);

        session::SessionTracker running(store, clock);
        running.start();
        print("tick", measure(
                          iterations, ours_file, bare_file,
                          [&] {
                              clock.advance(60);
                              running.tick();
                          },
                          bare));

        // Each booking is the end of its own session of a little over an hour.
        std::vector<std::unique_ptr<session::SessionTracker>> sessions;
        std::size_t next = 0;
        for (int i = 0; i < iterations + 10; ++i) {
            sessions.push_back(std::make_unique<session::SessionTracker>(store, clock));
            // Started, so that its end has its row of the history to mark; and marked as not
            // running, so that the next start does not book it as crashed.
            sessions.back()->start();
            store.write(names::stat, names::debuted, names::no);
            sessions.back()->awake_ms_deb = clock.awake_ms() - (3600 + i) * 1000;
        }
        print("end", measure(
                         iterations, ours_file, bare_file, [&] { sessions[next++]->end(); }, bare));
    }
    // What the store adds to a start: open (with its integrity check) and the start sequence,
    // on the 120-month store, each followed by a close that is not timed.
    {
        std::vector<double> open_us, start_us;
        for (int i = 0; i < 20 + 2; ++i) {
            std::unique_ptr<platform::SqliteStore> store;
            const double opened =
                bench::time_us([&] { store = std::make_unique<platform::SqliteStore>(ours_path); });
            session::SessionTracker tracker(*store, clock);
            const double started = bench::time_us([&] { tracker.start(); });
            if (i >= 2) {
                open_us.push_back(opened);
                start_us.push_back(started);
            }
        }
        std::printf("start open_us=%.1f start_us=%.1f\n", bench::median(open_us),
                    bench::median(start_us));
    }
    // For a check from outside, once both files are closed: every sync of the run, set-up
    // and closing checkpoints included, which strace should see as as many fdatasync/fsync
    // calls on the database files.
    std::printf("syncs_total=%ld\n",
                bench::counters_for(ours_file).syncs + bench::counters_for(bare_file).syncs);
    return 0;
}
