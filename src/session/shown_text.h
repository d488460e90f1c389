#pragma once

#include <QString>

namespace kelvor::session {

// The most characters of a stored text that a window shows.
inline constexpr int shown_text_length = 64;

// A text from the store as the report and the chart show it (a record date, a count, a month
// key): its first 64 characters, with line breaks and other control characters as spaces. A
// store edited by hand can then neither stall a window with a huge text nor add lines to the
// report that look like its own.
QString shown_text(const QString& stored);

} // namespace kelvor::session
