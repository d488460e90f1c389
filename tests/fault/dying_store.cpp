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

void DyingStore::write(const QString& section, const QString& key, const QString& value) {
    if (depth_ == 0) {
        // A lone write commits on its own in the real store; giving it a transaction here
        // gives it a commit point too.
        transaction([&] { write(section, key, value); });
        return;
    }
    reach(Point::before_write);
    real_.write(section, key, value);
}

void DyingStore::transaction(const std::function<void()>& body) {
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
