#pragma once

#include "platform/store.h"

namespace kelvor::testing {

// Forwards every call to the real store and ends the process -- as a kill or a power cut
// would, without unwinding, closing or rolling back anything -- at one chosen point of the
// writes that pass through it. The points of a sequence, in order: before each of its writes,
// before its commit, and just after its commit. Exists only in the tests: the shipped program
// has no such knob.
class DyingStore final : public platform::Store {
public:
    enum class Death { exit_at_once, sigkill };
    enum class Point { before_write, before_commit, after_commit };

    // The exit status of a process ended by Death::exit_at_once; 40 + the Point.
    static constexpr int exit_status_base = 40;

    explicit DyingStore(platform::Store& real) : real_(real) {}

    // Counts points from here on and dies at the `n`-th (1-based).
    void die_at(int n, Death how);
    int points_passed() const { return passed_; }

    QString read(const QString& section, const QString& key, const QString& fallback) override {
        return real_.read(section, key, fallback);
    }
    std::optional<platform::SettingList> list(const QString& section) override {
        return real_.list(section);
    }
    void write(const QString& section, const QString& key, const QString& value) override;
    void transaction(platform::FunctionRef<void()> body) override;
    qint64 add_running_session(const QString& started) override;
    void save_running_locked_seconds(qint64 id, qint32 locked_seconds) override;
    void mark_running_session_crashed(qint32 seconds) override;
    void mark_session_ended(qint64 id, qint32 seconds, qint32 locked_seconds,
                            const QString& ended) override;
    bool
    for_each_session(const std::function<void(const platform::HistorySession&)>& visit) override {
        return real_.for_each_session(visit);
    }
    void add_to_day(const QString& day, qint32 seconds, qint32 locked_seconds,
                    int sessions) override;
    bool for_each_day(const QString& first, const QString& last,
                      const std::function<void(const platform::LedgerDay&)>& visit) override {
        return real_.for_each_day(first, last, visit);
    }

private:
    void reach(Point point);
    // A write of the sequence: its own point, inside a transaction of its own when alone.
    void written(const std::function<void()>& write);

    platform::Store& real_;
    int depth_ = 0;
    int passed_ = 0;
    int target_ = 0;
    Death how_ = Death::exit_at_once;
};

} // namespace kelvor::testing
