#include "fault/dying_store.h"

#include <csignal>
#include <unistd.h>

namespace kelvor::testing {

void DyingStore::die_at(int n, Death how) {
    passed_ = 0;
    target_ = n;
    how_ = how;
}

void DyingStore::reach(Point point) {
    ++passed_;
    if (target_ == 0 || passed_ != target_)
        return;
    if (how_ == Death::sigkill)
        ::raise(SIGKILL);
    ::_exit(exit_status_base + int(point));
}

void DyingStore::written(const std::function<void()>& write) {
    if (depth_ == 0) {
        // A lone write commits on its own in the real store; giving it a transaction here
        // gives it a commit point too.
        transaction([&] { written(write); });
        return;
    }
    reach(Point::before_write);
    write();
}

void DyingStore::write(const QString& section, const QString& key, const QString& value) {
    written([&] { real_.write(section, key, value); });
}

qint64 DyingStore::add_running_session(const QString& started) {
    qint64 id = 0;
    written([&] { id = real_.add_running_session(started); });
    return id;
}

void DyingStore::save_running_locked_seconds(qint64 id, qint32 locked_seconds) {
    written([&] { real_.save_running_locked_seconds(id, locked_seconds); });
}

void DyingStore::mark_running_session_crashed(qint32 seconds) {
    written([&] { real_.mark_running_session_crashed(seconds); });
}

void DyingStore::mark_session_ended(qint64 id, qint32 seconds, qint32 locked_seconds,
                                    const QString& ended) {
    written([&] { real_.mark_session_ended(id, seconds, locked_seconds, ended); });
}

void DyingStore::add_to_day(const QString& day, qint32 seconds, qint32 locked_seconds,
                            int sessions) {
    written([&] { real_.add_to_day(day, seconds, locked_seconds, sessions); });
}

void DyingStore::transaction(platform::FunctionRef<void()> body) {
    ++depth_;
    try {
        real_.transaction([&] {
            body();
            if (depth_ == 1)
                reach(Point::before_commit);
        });
    } catch (...) {
        --depth_;
        throw;
    }
    --depth_;
    if (depth_ == 0)
        reach(Point::after_commit);
}

} // namespace kelvor::testing
