#pragma once

#include "support/store_invariants.h"

#include <QDateTime>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

namespace kelvor::testing {

// The real kelvor binary (KELVOR_BINARY) with a home of its own: its own data folder, Qt's
// offscreen platform, and no AddStart on its PATH. Copies still running when the Program goes
// away are killed, each by its own process id.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    static QString binary();

    QString home() const { return home_.path(); }
    QString data_dir() const { return home() + QStringLiteral("/data/kelvor"); }
    QString store_path() const { return data_dir() + QStringLiteral("/store.sqlite3"); }
    // Runs later copies from another file (a copy of the program placed beside helpers).
    void use_binary(const QString& path) { binary_ = path; }
    // Adjust before start(): later copies use it as it then is.
    QProcessEnvironment& environment() { return environment_; }

    // Makes every later copy see its clocks run `factor` times faster (libfaketime), so that
    // its minute timer ticks every 60/factor seconds, starting `offset` seconds from now.
    // False when libfaketime is not installed.
    bool speed_clock_up(int factor, qint64 offset = 0);
    // Makes every later copy read its wall clock at the offset (libfaketime: "+0", "-1d",
    // "+6y") last given to set_wall_clock(), while its awake clock stays real: a clock set by
    // hand or by NTP while the program runs. False when libfaketime is not installed.
    bool fake_wall_clock();
    void set_wall_clock(const QString& offset);
    // Makes every later copy see its wall clock stand still at `moment` (local time). False
    // when libfaketime is not installed.
    bool freeze_wall_clock(const QDateTime& moment);
    int clock_factor() const { return clock_factor_; }

    // Starts one more copy and returns it once the system has started it.
    QProcess& start(const QStringList& command_prefix = {}, const QStringList& arguments = {});
    // Runs one copy with `arguments` to its end: its exit status and what it printed. A copy
    // that has not ended within 20 s is killed and reported with status -1.
    struct Finished {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };
    Finished run(const QStringList& arguments, const QStringList& command_prefix = {});
    QProcess& last() { return *copies_.back(); }
    const std::vector<std::unique_ptr<QProcess>>& copies() const { return copies_; }

    StoreDump dump() const { return StoreDump::of_file(store_path()); }
    QString read(const QString& section, const QString& key) const {
        return dump().get(section, key);
    }
    // Reads the store every few milliseconds until `done` holds; false on timeout.
    bool wait_for(const std::function<bool(const StoreDump&)>& done, int timeout_ms = 10000) const;
    // Until the start sequence of session number `session` has committed.
    bool wait_until_session(int session, int timeout_ms = 10000) const;

private:
    bool preload_faketime();

    QTemporaryDir home_;
    QProcessEnvironment environment_;
    int clock_factor_ = 1;
    QString binary_ = binary();
    std::vector<std::unique_ptr<QProcess>> copies_;
};

// Sends `sig` to a running copy; nothing to one that has ended.
void send_signal(QProcess& process, int sig);

// Another program holding a store's write lock: an sqlite3 shell inside BEGIN EXCLUSIVE, as a
// user or a backup tool may leave one. held() is false when the shell is missing or did not
// get the lock.
class StoreWriteLock {
public:
    explicit StoreWriteLock(const QString& store_path);
    ~StoreWriteLock() { release(); }
    bool held() const { return held_; }
    // Ends the transaction without a change, and the shell.
    void release();

private:
    QProcess shell_;
    bool held_ = false;
};

} // namespace kelvor::testing
