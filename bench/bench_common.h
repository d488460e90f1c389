#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kelvor::platform {
class SettableClock;
class Store;
} // namespace kelvor::platform

namespace kelvor::bench {

// Fills a store as a user has it after `months` months of use: the four month records of
// every month, oldest first, and a session booked in the clock's month.
void seed_history(platform::Store& store, platform::SettableClock& clock, int months);
// Adds `sessions` sessions to the store's history, spread evenly over the `months` months
// before the clock's: each about an hour long, one in ten crashed. The totals are left alone.
void seed_sessions(platform::Store& store, const platform::SettableClock& clock, int months,
                   int sessions);

// What SQLite did to one database file: commits seen by a commit hook on every connection,
// and xSync calls (each one an fdatasync/fsync of the database or its WAL) seen by a VFS
// that wraps the default one.
struct FileCounters {
    long commits = 0;
    long syncs = 0;
};

// Installs the counting VFS as the default and a commit hook on every connection opened
// afterwards. Call before any database is opened; the store itself needs no change.
void install_sqlite_counters();
// Counters of the database whose main file is `path` (its WAL and journal included).
FileCounters counters_for(const std::string& path);

double median(std::vector<double> values);

// Microseconds spent in `work`.
// Microseconds of CPU this thread has used so far.
double thread_cpu_us();

template <typename Work> double time_us(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace kelvor::bench
