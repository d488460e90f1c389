#pragma once

#include <QtGlobal>

namespace kelvor::platform {
class SettingsStore;
}

// What the store says of the session that runs, or that ran until its program was stopped:
// the start marks it ("debuted?" = "Yes"), each checkpoint saves its seconds
// ("recupered_time"), and the end or the next start books it.
namespace kelvor::session {

// Whether a session was started and not booked yet: it runs, or its program was stopped.
bool session_unbooked(platform::SettingsStore& store);

// The running session's seconds as last saved: what a crash books.
qint32 saved_session_seconds(platform::SettingsStore& store);

} // namespace kelvor::session
