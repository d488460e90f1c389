#pragma once

#include <QString>
#include <functional>

namespace kelvor::platform {

// One local calendar day of the ledger.
struct LedgerDay {
    QString day; // YYYY-MM-DD, as stored
    qint64 seconds = 0;
    qint64 locked_seconds = 0;
    qint64 sessions = 0;
    bool estimated = false; // derived from the history when the store got its ledger
};

// The store's day ledger: per local calendar day, the awake seconds of use, of which the
// screen was locked, and the sessions that had time on that day. Written in the transactions
// that save or book a session's seconds, so that the days add up to what was booked.
class DayLedger {
public:
    virtual ~DayLedger() = default;

    // Adds to the day `day` (YYYY-MM-DD), which is made when it has no row yet.
    virtual void add_to_day(const QString& day, qint32 seconds, qint32 locked_seconds,
                            int sessions) = 0;
    // Visits the days from `first` to `last` (YYYY-MM-DD, both included; empty: no bound),
    // oldest first, one at a time. A store of the second format, read as it is, has its days
    // estimated from its history. False for a store of the first release, which kept neither.
    virtual bool for_each_day(const QString& first, const QString& last,
                              const std::function<void(const LedgerDay&)>& visit) = 0;
};

} // namespace kelvor::platform
