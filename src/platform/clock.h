#pragma once

#include <QDateTime>

namespace kelvor::platform {

// Two clocks: the wall clock, for dates, and the awake clock, for lengths of time.
class Clock {
public:
    virtual ~Clock() = default;
    // Local date and time, to the whole second.
    virtual QDateTime now() const = 0;
    // The same moment as seconds since 1970 UTC: read without working out the local time,
    // for a caller that only needs to know whether a moment has come.
    virtual qint64 epoch_seconds() const = 0;
    // Milliseconds on a clock that stands still while the machine sleeps and that no change of
    // the wall clock moves (by hand, by NTP, daylight saving). Its origin is arbitrary: only
    // differences of two readings mean something.
    virtual qint64 awake_ms() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    qint64 epoch_seconds() const override;
    qint64 awake_ms() const override;
};

// Clocks that stand still until told otherwise; for tests and tools.
class SettableClock final : public Clock {
public:
    explicit SettableClock(QDateTime start) : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    qint64 epoch_seconds() const override { return now_.toSecsSinceEpoch(); }
    qint64 awake_ms() const override { return awake_ms_; }

    // Time passes with the machine awake: both clocks move on.
    void advance(qint64 seconds) {
        now_ = now_.addSecs(seconds);
        awake_ms_ += seconds * 1000;
    }
    // The wall clock alone is set (by hand, by NTP, or a new day for another run).
    void set(const QDateTime& moment) { now_ = moment; }
    // The machine sleeps: only the wall clock moves.
    void sleep(qint64 seconds) { now_ = now_.addSecs(seconds); }

private:
    QDateTime now_;
    // An hour since boot, so that a reading taken for a length shows up in a test.
    qint64 awake_ms_ = 3600 * 1000;
};

} // namespace kelvor::platform
