#include "platform/clock.h"

#include <ctime>

namespace kelvor::platform {

// From the count of seconds, not from the local date and time cut to the second: rebuilding a
// time of day resolves it anew, and in the hour repeated when summer time ends it would land
// in the first of the two.
QDateTime SystemClock::now() const {
    return QDateTime::fromSecsSinceEpoch(epoch_seconds());
}

qint64 SystemClock::epoch_seconds() const {
    return QDateTime::currentSecsSinceEpoch();
}

// CLOCK_MONOTONIC on Linux stops during suspend (CLOCK_BOOTTIME would not) and is never set.
qint64 SystemClock::awake_ms() const {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace kelvor::platform
