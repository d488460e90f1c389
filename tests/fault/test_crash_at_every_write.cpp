// A process that dies at any write of a sequence -- or loses its power, or meets a failing
// disk, at any operation SQLite makes on the files -- leaves the store as it was before the
// sequence or as it is after it, never in between; the next start books every session
// exactly once, with at most the time since its last checkpoint missing.

#include "fault/child_process.h"
#include "fault/dying_store.h"
#include "fault/power_cut_vfs.h"
#include "session/session_tracker.h"
#include "support/store_invariants.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

using kelvor::platform::SettableClock;
using kelvor::platform::SqliteStore;
using kelvor::session::SessionTracker;
using kelvor::testing::at;
using kelvor::testing::DyingStore;
using kelvor::testing::run_in_child;
using kelvor::testing::store_invariants_hold;
using kelvor::testing::StoreDump;

namespace {

// One run of the program: its store connection, its clock, its session.
struct ProgramRun {
    ProgramRun(const QString& path, const QDateTime& now)
        : real(std::make_unique<SqliteStore>(path)), store(*real), clock(now),
          tracker(store, clock) {}
    std::unique_ptr<SqliteStore> real;
    DyingStore store;
    SettableClock clock;
    SessionTracker tracker;
};

// Earlier runs, played in the test process without faults.
void proper_session(const QString& path, const QDateTime& from, int seconds) {
    ProgramRun run(path, from);
    run.tracker.start();
    run.clock.advance(seconds);
    run.tracker.end();
}

void abandoned_session(const QString& path, const QDateTime& from, int saved_seconds) {
    ProgramRun run(path, from);
    run.tracker.start();
    run.clock.advance(saved_seconds);
    run.tracker.checkpoint();
    // ... and the process dies without its end.
}

const QDateTime earlier = at(2000, 3, 25, 9, 0, 0);
const QDateTime child_start = at(2000, 3, 25, 12, 0, 0);
const QDateTime next_start = at(2000, 3, 25, 14, 0, 0);
constexpr int earlier_length = 3725;
constexpr int next_length = 100; // the session that follows the death, ended properly

// What the store books once the run after the death has ended properly.
using kelvor::testing::Booked;

struct Scenario {
    const char* name;
    std::function<void(const QString& path)> before;
    // Runs in the child; calls `arm` just before the sequence under test.
    std::function<void(ProgramRun&, const std::function<void()>& arm)> sequence;
    Booked if_undone; // died before the commit
    Booked if_done;   // died just after it
    // The store is of the first release: the opening upgrades it, and power cuts and disk
    // errors strike from before it. Its figures until then are not in the history.
    bool upgraded_at_opening = false;
    Booked before_history = {};
};

void nothing(const QString&) {}
void one_proper_session(const QString& path) {
    proper_session(path, earlier, earlier_length);
}

// The running session: started at child_start, checkpointed by a tick 60 s later, then 65 s
// more pass before the sequence under test. 125 s long; its last checkpoint saved 60.
void start_and_tick_once(ProgramRun& run) {
    run.tracker.start();
    run.clock.advance(60);
    run.tracker.tick();
    run.clock.advance(65);
}

const std::vector<Scenario> scenarios = {
    {"first start",
     nothing,
     [](ProgramRun& run, const auto& arm) {
         arm();
         run.tracker.start();
     },
     // Undone: no session ever started. Done: a session that died before its first tick is
     // booked as 30 s.
     {1, 0, next_length},
     {2, 1, 30 + next_length}},
    {"start after a proper end",
     one_proper_session,
     [](ProgramRun& run, const auto& arm) {
         arm();
         run.tracker.start();
     },
     {2, 0, earlier_length + next_length},
     {3, 1, earlier_length + 30 + next_length}},
    {"start after an abrupt end",
     [](const QString& path) {
         one_proper_session(path);
         abandoned_session(path, at(2000, 3, 25, 11, 0, 0), 120);
     },
     [](ProgramRun& run, const auto& arm) {
         arm();
         run.tracker.start();
     },
     // The abandoned session is booked with its 120 saved seconds exactly once, whether the
     // start that books it commits or not.
     {3, 1, earlier_length + 120 + next_length},
     {4, 2, earlier_length + 120 + 30 + next_length}},
    {"timer tick",
     one_proper_session,
     [](ProgramRun& run, const auto& arm) {
         start_and_tick_once(run);
         arm();
         run.tracker.tick();
     },
     // Undone: the 65 s since the last checkpoint are lost, nothing more.
     {3, 1, earlier_length + 60 + next_length},
     {3, 1, earlier_length + 125 + next_length}},
    {"report checkpoint",
     one_proper_session,
     [](ProgramRun& run, const auto& arm) {
         start_and_tick_once(run);
         arm();
         run.tracker.checkpoint();
     },
     {3, 1, earlier_length + 60 + next_length},
     {3, 1, earlier_length + 125 + next_length}},
    {"end of session",
     one_proper_session,
     [](ProgramRun& run, const auto& arm) {
         start_and_tick_once(run);
         arm();
         run.tracker.end();
     },
     // Undone: the session counts as crashed with its last checkpoint; done: booked in full.
     {3, 1, earlier_length + 60 + next_length},
     {3, 0, earlier_length + 125 + next_length}},
    {"timer tick past midnight, the screen locked",
     one_proper_session,
     [](ProgramRun& run, const auto& arm) {
         run.clock.set(at(2000, 3, 25, 23, 58, 0));
         run.tracker.set_locked(true);
         start_and_tick_once(run);
         arm();
         run.tracker.tick();
     },
     {3, 1, earlier_length + 60 + next_length},
     {3, 1, earlier_length + 125 + next_length}},
    {"first start on a store of the first release",
     [](const QString& path) {
         one_proper_session(path);
         kelvor::testing::downgrade_to_first_format(path);
     },
     [](ProgramRun& run, const auto& arm) {
         arm();
         run.tracker.start();
     },
     {2, 0, earlier_length + next_length},
     {3, 1, earlier_length + 30 + next_length},
     true,
     {1, 0, earlier_length}},
};

// Runs the scenario's sequence in this (child) process and calls `arm` where faults may start:
// just before the sequence, or before the opening when that upgrades the store.
void run_sequence(const Scenario& scenario, const QString& path, const std::function<void()>& arm) {
    if (scenario.upgraded_at_opening)
        arm();
    ProgramRun run(path, child_start);
    scenario.sequence(run, scenario.upgraded_at_opening ? std::function<void()>([] {}) : arm);
}

// Whether the sequence's commit is in the store. Every sequence changes a setting, and the
// invariants tie the history to the settings; an upgrade alone changes neither.
bool sequence_done(const StoreDump& after, const StoreDump& before) {
    return after.rows != before.rows;
}

// After a death: a new run that ends properly finds every started session booked once.
void the_next_run_books_it(const Scenario& scenario, const QString& path, bool done) {
    proper_session(path, next_start, next_length);
    const StoreDump after_next = StoreDump::of_file(path);
    EXPECT_TRUE(store_invariants_hold(after_next, scenario.before_history));
    const Booked& expected = done ? scenario.if_done : scenario.if_undone;
    EXPECT_EQ(after_next.get("Stat", "debuted?"), "No");
    EXPECT_EQ(after_next.number("nb_session"), expected.sessions);
    EXPECT_EQ(after_next.number("nb_session_crashed"), expected.crashed);
    EXPECT_EQ(after_next.number("nb_time_total"), expected.seconds);
}

class CrashAtEveryWrite : public ::testing::TestWithParam<Scenario> {};

std::string death_name(DyingStore::Death how) {
    return how == DyingStore::Death::sigkill ? "SIGKILL" : "_exit";
}

TEST_P(CrashAtEveryWrite, LeavesTheSequenceWholeOrAbsentAndTheNextStartBooksIt) {
    const Scenario& scenario = GetParam();
    int faults = 0;
    std::vector<DyingStore::Point> kind_of_point; // learnt from the _exit deaths, which tell it
    for (const auto how : {DyingStore::Death::exit_at_once, DyingStore::Death::sigkill}) {
        std::optional<StoreDump> before_sequence;
        for (int point = 1;; ++point) {
            SCOPED_TRACE(death_name(how) + " at point " + std::to_string(point));
            ASSERT_LT(point, 100) << "the sequence never completes";
            QTemporaryDir dir;
            const QString path = dir.path() + "/store.sqlite3";
            scenario.before(path);

            const int status = run_in_child([&] {
                ProgramRun run(path, child_start);
                scenario.sequence(run, [&] { run.store.die_at(point, how); });
            });
            const StoreDump after_death = StoreDump::of_file(path);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                // Past the last point: the child completed the sequence.
                EXPECT_GE(point, 3) << "a sequence has at least a write, a commit and after";
                break;
            }
            DyingStore::Point reached;
            if (how == DyingStore::Death::sigkill) {
                ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
                ASSERT_LE(point, int(kind_of_point.size()));
                reached = kind_of_point[point - 1];
            } else {
                ASSERT_TRUE(WIFEXITED(status) &&
                            WEXITSTATUS(status) >= DyingStore::exit_status_base)
                    << "the child failed instead of dying: status " << status;
                reached = DyingStore::Point(WEXITSTATUS(status) - DyingStore::exit_status_base);
                kind_of_point.push_back(reached);
            }
            ++faults;

            EXPECT_TRUE(store_invariants_hold(after_death, scenario.before_history));
            if (point == 1)
                before_sequence = after_death;
            ASSERT_TRUE(before_sequence);
            // Before the commit nothing of the sequence may show; after it, all of it.
            const bool done = sequence_done(after_death, *before_sequence);
            EXPECT_EQ(done, reached == DyingStore::Point::after_commit)
                << ::testing::PrintToString(after_death);

            the_next_run_books_it(scenario, path, done);
        }
    }
    std::cout << "[ faults   ] " << scenario.name << ": " << faults << " deaths injected\n";
}

// Deeper than the store's calls: at any write, truncate or sync that SQLite makes to the files
// of the store -- the checkpoint that copies the -wal into the database as the store closes
// included -- the power goes and what was not yet synced is lost, or the process is killed,
// also half-way through a write. The next start still recognises the store and books every
// session once.
TEST_P(CrashAtEveryWrite, PowerCutOrKillAtAnyDiskOperationLosesNothingCommitted) {
    namespace disk = kelvor::testing::power_cut;
    const Scenario& scenario = GetParam();
    const std::pair<disk::Fault, const char*> faults[] = {
        {disk::Fault::power_cut, "power cut before"},
        {disk::Fault::kill, "kill before"},
        {disk::Fault::tear, "kill half-way through"}};
    for (const auto& [fault, fault_name] : faults) {
        int struck = 0;
        std::optional<StoreDump> before_sequence;
        bool committed = false;
        for (int point = 1;; ++point) {
            SCOPED_TRACE(std::string(fault_name) + " disk operation " + std::to_string(point));
            ASSERT_LT(point, 200) << "the sequence never completes";
            QTemporaryDir dir;
            const QString path = dir.path() + "/store.sqlite3";
            scenario.before(path);

            const int status = run_in_child([&] {
                disk::install();
                run_sequence(scenario, path, [&] { disk::arm(point, fault); });
            });
            const StoreDump after_cut = StoreDump::of_file(path);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                EXPECT_TRUE(committed) << "the sequence never reached the disk";
                break;
            }
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == disk::exit_status)
                << "the child failed instead of being struck: status " << status;
            ++struck;

            EXPECT_TRUE(store_invariants_hold(after_cut, scenario.before_history));
            if (point == 1)
                before_sequence = after_cut;
            ASSERT_TRUE(before_sequence);
            // Whole or absent; and once the commit is on the disk, it stays there.
            const bool done = sequence_done(after_cut, *before_sequence);
            EXPECT_TRUE(done || !committed) << "a committed sequence was lost";
            committed = committed || done;
            the_next_run_books_it(scenario, path, done);
        }
        std::cout << "[ faults   ] " << scenario.name << ": " << struck << " x " << fault_name
                  << " a disk operation\n";
    }
}

// A disk that fails (full, or an I/O error) at any operation of a step: the step fails with
// the exception that the windows catch, never a crash, and the store stays whole.
TEST_P(CrashAtEveryWrite, DiskErrorAtAnyOperationFailsTheStepCleanly) {
    namespace disk = kelvor::testing::power_cut;
    enum Ending { past_the_last_operation = 0, step_failed = 4, error_absorbed = 5 };
    const Scenario& scenario = GetParam();
    // The store just before the step: what a power cut before its first operation leaves.
    StoreDump before_sequence;
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/store.sqlite3";
        scenario.before(path);
        run_in_child([&] {
            disk::install();
            run_sequence(scenario, path, [] { disk::arm(1); });
        });
        before_sequence = StoreDump::of_file(path);
    }
    int faults = 0;
    for (int point = 1;; ++point) {
        SCOPED_TRACE("disk error at operation " + std::to_string(point));
        ASSERT_LT(point, 200) << "the sequence never completes";
        QTemporaryDir dir;
        const QString path = dir.path() + "/store.sqlite3";
        scenario.before(path);
        const int status = run_in_child([&] {
            disk::install();
            try {
                run_sequence(scenario, path, [&] { disk::arm(point, disk::Fault::fail); });
            } catch (const kelvor::platform::StoreError&) {
                ::_exit(step_failed);
            }
            ::_exit(disk::failed_one() ? error_absorbed : past_the_last_operation);
        });
        ASSERT_TRUE(WIFEXITED(status)) << "the child crashed: status " << status;
        const int ending = WEXITSTATUS(status);
        if (ending == past_the_last_operation)
            break;
        ASSERT_TRUE(ending == step_failed || ending == error_absorbed) << "status " << ending;
        ++faults;

        const StoreDump after = StoreDump::of_file(path);
        EXPECT_TRUE(store_invariants_hold(after, scenario.before_history));
        const bool done = sequence_done(after, before_sequence);
        EXPECT_TRUE(done || ending == step_failed)
            << "the step went on as if it had succeeded, but nothing of it is in the store";
        the_next_run_books_it(scenario, path, done);
    }
    std::cout << "[ faults   ] " << scenario.name << ": " << faults << " disk errors injected\n";
}

INSTANTIATE_TEST_SUITE_P(Sequences, CrashAtEveryWrite, ::testing::ValuesIn(scenarios),
                         kelvor::testing::NamedAfterCase());

} // namespace
