#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QLocale>
#include <memory>
#include <optional>

namespace kelvor::platform {
class Clock;
class SettingsStore;
class SqliteStore;
class Store;
} // namespace kelvor::platform

// What the command line prints: the figures of the store as text for people, CSV or JSON.
namespace kelvor::commandline {

// The plain tables keep the program's own texts (dates dd/mm/yyyy, durations as the report
// writes them). CSV (RFC 4180: a header row, CRLF line ends) and JSON (an array of objects)
// give lengths in whole seconds and dates in ISO 8601.
enum class Format { plain, csv, json };

// Where the figures go, piece by piece as they are made: a long history is never held whole.
class Output {
public:
    virtual ~Output() = default;
    virtual void write(QByteArrayView bytes) = 0;
};

// Keeps what is written, for a test or a caller that wants the whole text.
class BufferOutput final : public Output {
public:
    void write(QByteArrayView bytes) override { bytes_.append(bytes); }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
};

// What the options count in the report and the months: when no copy runs and the last session
// never ended, its program was stopped, and that session counts as the crash that the next
// start will book -- booked by the start's own code in a copy of the settings in memory, never
// in the file. Null when there is no such session: the store shows itself.
std::unique_ptr<platform::SqliteStore> with_pending_crash_booked(platform::SqliteStore& store,
                                                                 bool copy_running,
                                                                 const platform::Clock& clock);

// The usage report's overall and month figures, lines 4 to 16 of its box, each ended by a line
// feed; with a running session of `running_seconds` (as last saved) counted in, and then
// line 1, "This session have: ...", first.
void report_output(platform::SettingsStore& store, const platform::Clock& clock,
                   std::optional<qint32> running_seconds, const QLocale& locale, Output& out);

// One row per stored month, in stored order: month, sessions, crashed sessions, time used and
// longest session.
// Returns how many months it printed.
std::size_t months_output(platform::SettingsStore& store, Format format, Output& out);

// How many sessions a history holds, and how many of them were printed.
struct HistoryCount {
    std::size_t all = 0;
    std::size_t shown = 0;
};

// The days a table shows, both included; an invalid one leaves that side open.
struct DayRange {
    QDate first;
    QDate last;
};

// One row per session of the store's history that started in `days`: its start, length,
// locked seconds and how it ended, the session marked running as for_each_history_session
// tells it (`copy_running`). nullopt for a store that keeps no history, whose table is empty.
std::optional<HistoryCount> sessions_output(platform::Store& store, bool copy_running,
                                            Format format, const DayRange& days, Output& out);

// One row per day of the day ledger in `days`, oldest first: the time used, locked, active
// (used less locked) and the sessions that ran, and whether the day was estimated from the
// history. The plain table ends each row with a bar of the active time, scaled to the longest
// day shown, in eighths of a block (`blocks`) or in #, and adds a total. Returns how many days
// it printed; nullopt for a store that keeps no days (the first release's), whose table is empty.
std::optional<std::size_t> days_output(platform::Store& store, Format format, const DayRange& days,
                                       bool blocks, Output& out);

} // namespace kelvor::commandline
