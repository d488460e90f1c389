#pragma once

#include "session/session_history.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <optional>
#include <vector>

namespace kelvor::platform {
class Clock;
class SettingsStore;
} // namespace kelvor::platform

// What the command line prints: the figures of the store as text for people, CSV or JSON.
namespace kelvor::commandline {

// The plain tables keep the program's own texts (dates dd/mm/yyyy, durations as the report
// writes them). CSV (RFC 4180: a header row, CRLF line ends) and JSON (an array of objects)
// give lengths in whole seconds and dates in ISO 8601.
enum class Format { plain, csv, json };

// The usage report's overall and month figures, lines 4 to 16 of its box, each ended by a line
// feed; with a running session of `running_seconds` (as last saved) counted in, and then
// line 1, "This session have: ...", first.
QByteArray report_output(platform::SettingsStore& store, const platform::Clock& clock,
                         std::optional<qint32> running_seconds, const QLocale& locale);

// One row per stored month, in stored order: month, sessions, crashed sessions, time used and
// longest session.
QByteArray months_output(platform::SettingsStore& store, Format format);

// One row per session of `history` that started on `since` or later (any day when invalid):
// its start, length and how it ended.
QByteArray sessions_output(const std::vector<session::HistorySession>& history, Format format,
                           const QDate& since = {});

} // namespace kelvor::commandline
