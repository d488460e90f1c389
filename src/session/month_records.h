#pragma once

#include <QtGlobal>

namespace kelvor::platform {
class Clock;
class SettingsStore;
} // namespace kelvor::platform

namespace kelvor::session {

// Shortest and longest sessions (with the day they were set) and the month's longest.
void Update_stat_with_time(platform::SettingsStore& store, const platform::Clock& clock,
                           qint32 time_session);
// The month's seconds and session count.
void Add_session_to_month(platform::SettingsStore& store, const platform::Clock& clock,
                          qint32 seconds);
// The month's count of sessions that ended abruptly.
void Add_crash_to_month(platform::SettingsStore& store, const platform::Clock& clock);

} // namespace kelvor::session
