#pragma once

#include <QDateTime>

namespace kelvor::platform {

// Local date and time, to the whole second.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
};

// A clock that stands still until told otherwise; for tests and tools.
class SettableClock final : public Clock {
public:
    explicit SettableClock(QDateTime start) : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    void set(const QDateTime& moment) { now_ = moment; }
    void advance(qint64 seconds) { now_ = now_.addSecs(seconds); }

private:
    QDateTime now_;
};

} // namespace kelvor::platform
